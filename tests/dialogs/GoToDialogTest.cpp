// The Go to dialog: a reference on another sheet, an area, a text that is none, and the
// text offered again.
#include "dialogs/GoToDialog.h"

#include "DialogTestSupport.h"

namespace kelp::test {
namespace {

class GoToDialogTest : public DialogTest {
 protected:
  bool run(const std::string& keys) {
    script(keys);
    const bool done = runGoToDialog(desktop, NoWindow, *book);
    noProblems();
    return done;
  }
};

TEST_F(GoToDialogTest, SelectsTheReferenceOnItsSheet) {
  ASSERT_TRUE(book->renameSheet(1, u"Income"));
  ASSERT_TRUE(book->renameSheet(2, u"My sheet"));
  EXPECT_TRUE(run("text Income!B3\nsoft1\n"));
  EXPECT_EQ(book->activeSheetIndex(), 1);
  EXPECT_EQ(sel().area(), (Area{2, 1, 2, 1}));
  EXPECT_EQ(sel().activeColumn, 1);
  EXPECT_EQ(sel().activeRow, 2);

  // Not a reference: error 4, and the field takes another try.
  EXPECT_TRUE(run("text 1+\nsoft1\nsoft1\ntext 'My sheet'!D9:B2\nsoft1\n"));
  EXPECT_TRUE(saw(u"Unexpected token"));
  EXPECT_EQ(book->activeSheetIndex(), 2);
  EXPECT_EQ(sel().area(), (Area{1, 1, 8, 3}));
  EXPECT_EQ(sel().activeColumn, 1);
  EXPECT_EQ(sel().activeRow, 1);
  EXPECT_EQ(sel().endColumn, 3);
  EXPECT_EQ(sel().endRow, 8);

  // Without a sheet the active one is meant; the last text is offered again.
  book->setActiveSheet(0);
  EXPECT_TRUE(run("text C4\nsoft1\n"));
  EXPECT_EQ(book->activeSheetIndex(), 0);
  EXPECT_EQ(sel().activeRow, 3);
  EXPECT_FALSE(run("text X\nsoft2\n"));
  EXPECT_EQ(sel().activeRow, 3);
  EXPECT_TRUE(run("key Right\ntext 0\nsoft1\n"));
  EXPECT_EQ(sel().activeRow, 39);
}

}  // namespace
}  // namespace kelp::test
