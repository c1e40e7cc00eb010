// The password dialogs: setting, verifying and removing the workbook password, and the
// prompt of a protected file's open, right, wrong and cancelled.
#include <gtest/gtest.h>

#include "files/Password.h"
#include "shell/FileMenu.h"
#include "dialogs/PasswordDialogs.h"
#include "ShellTestSupport.h"

namespace kelp::test {
namespace {

// A1 of the first sheet as a number, or -1 when it holds none.
double numberAt(Workbook& book) {
  CellValue value;
  book.sheetAt(0)->getCellValue(0, 0, value);
  return value.kind == ValueKind::Number ? value.number() : -1;
}

// Runs the Password dialog over `script` on a fresh session's desktop.
bool setPasswordByKeys(Session& s, const std::string& script) {
  s.backend.setScript(script);
  return runPasswordDialog(s.desktop, NoWindow, s.book());
}

TEST(PasswordDialogTest, SetsVerifiesAndRemovesThePassword) {
  Session s;
  s.run(u"", "");
  s.book().modified = false;

  // Matching texts set the password and mark the workbook modified.
  EXPECT_TRUE(setPasswordByKeys(s, "text Secret\nkey Down\ntext Secret\nsoft1\n"));
  EXPECT_EQ(s.book().password, u"Secret");
  EXPECT_EQ(s.book().passwordHash, passwordHash(u"Secret"));
  EXPECT_TRUE(s.book().modified);

  // Texts that differ keep the dialog open after the message: OK closes the message,
  // the verify field is focused with its text selected, and retyping it succeeds.
  EXPECT_TRUE(setPasswordByKeys(s, "text Other\nkey Down\ntext Othr\nsoft1\nsoft1\ntext Other\nsoft1\n"));
  EXPECT_EQ(s.book().password, u"Other");

  // The first field opens with the current password selected, so Back empties it; two
  // empty fields remove the password.
  EXPECT_TRUE(setPasswordByKeys(s, "key Back\nsoft1\n"));
  EXPECT_EQ(s.book().password, u"");
  EXPECT_EQ(s.book().passwordHash, 0u);

  // Cancel changes nothing; a mismatch then Cancel changes nothing either.
  EXPECT_FALSE(setPasswordByKeys(s, "text abc\nkey Down\ntext abc\nsoft2\n"));
  EXPECT_FALSE(setPasswordByKeys(s, "text abc\nkey Down\ntext abd\nsoft1\nsoft1\nsoft2\n"));
  EXPECT_EQ(s.book().passwordHash, 0u);

  // No password longer than the open prompt takes can be set.
  EXPECT_TRUE(setPasswordByKeys(s, "text abcdefghijklmnopqrstuvwxyz\nkey Down\ntext abcdefghijklmnopqrstuvwxyz\nsoft1\n"));
  EXPECT_EQ(s.book().password, u"abcdefghijklmnopqrs");
}

TEST(PasswordDialogTest, OpeningAProtectedFileAsksForThePassword) {
  TempFolder folder;
  auto book = newWorkbook(3);
  putNumber(*book->sheetAt(0), 0, 0, 42);
  ASSERT_TRUE(setWorkbookPassword(*book, u"Secret"));
  const std::u16string path = saveWorkbook(std::move(book), folder.file("locked.kp"));

  {
    Session s;
    s.run(path, "text Secret\nsoft1\n");
    EXPECT_EQ(s.book().fileName, path);
    EXPECT_EQ(numberAt(s.book()), 42);
    EXPECT_EQ(s.book().password, u"Secret");
  }
  {
    // A wrong password is reported (OK closes the report) and the prompt asks again.
    Session s;
    s.run(path, "text secret\nsoft1\nsoft1\ntext Secret\nsoft1\n");
    EXPECT_EQ(s.book().fileName, path);
    EXPECT_EQ(numberAt(s.book()), 42);
  }
  {
    // Cancelling opens nothing and shows no error.
    Session s;
    s.run(path, "soft2\n");
    EXPECT_TRUE(s.book().fileName.empty());
    EXPECT_EQ(pendingError(), 0u);
    EXPECT_NE(numberAt(s.book()), 42);
  }
}

TEST(PasswordDialogTest, TheMenuItemIsGreyUnderProtection) {
  Session s;
  s.run(u"", "");
  MenuItem* item = s.app->menuBar()->findItem(MenuCommand::Password);
  ASSERT_NE(item, nullptr);
  EXPECT_FALSE(item->gray());
  s.sheet().isProtected = true;
  s.app->messageHandled();
  EXPECT_TRUE(s.app->menuBar()->findItem(MenuCommand::Password)->gray());
}

}  // namespace
}  // namespace kelp::test
