// The Sheets dialog driven by keys: Done, New, Rename onto a used name, Delete after its
// question, and Hide keeping a visible sheet active.
#include "dialogs/SheetsDialog.h"

#include "DialogTestSupport.h"

namespace kelp::test {
namespace {

class SheetsDialogTest : public DialogTest {
 protected:
  void run(const std::string& keys) {
    script(keys);
    runSheetsDialog(desktop, NoWindow, *book, undo);
    noProblems();
  }
};

// The menu: 1 New, 2 Rename, 3 Delete, 4 Hide.
TEST_F(SheetsDialogTest, RenameAndNewSheets) {
  // A used name (in another case) is refused with the message and the name stays open
  // for another; Done then makes the selected sheet active.
  run("key Down\nsoft2\ntext 2\ntext sheet3\nsoft1\nsoft1\ntext Income\nsoft1\nsoft1\n");
  EXPECT_TRUE(saw(u"already exists"));
  EXPECT_EQ(sheet(1).name, u"Income");
  EXPECT_EQ(book->activeSheetIndex(), 1);
  EXPECT_TRUE(book->modified);

  // New appends a sheet and renames it at once; an empty name keeps the name it had.
  run("soft2\ntext 1\ntext Data\nsoft1\nsoft2\ntext 2\nkey Back\nsoft1\nsoft1\n");
  ASSERT_EQ(book->sheetCount(), 4);
  EXPECT_EQ(sheet(3).name, u"Data");
  EXPECT_EQ(book->activeSheetIndex(), 3);
}

TEST_F(SheetsDialogTest, DeleteAfterItsQuestion) {
  enter(0, 0, u"5");
  ASSERT_EQ(undo.size(), 1u);
  book->modified = false;
  // No keeps the sheet; Yes deletes it and empties the undo list.
  run("soft2\ntext 3\nsoft2\nsoft1\n");
  EXPECT_TRUE(saw(u"Delete sheet Sheet1?"));
  EXPECT_EQ(book->sheetCount(), 3);
  EXPECT_FALSE(book->modified);
  run("soft2\ntext 3\nsoft1\nsoft1\n");
  ASSERT_EQ(book->sheetCount(), 2);
  EXPECT_EQ(sheet(0).name, u"Sheet2");
  EXPECT_EQ(undo.size(), 0u);
  EXPECT_TRUE(book->modified);
}

TEST_F(SheetsDialogTest, TheLastVisibleSheetStays) {
  sheet(1).visibility = SheetVisibility::Hidden;
  sheet(2).visibility = SheetVisibility::Internal;
  // Neither hiding nor deleting the one visible sheet is done.
  run("soft2\ntext 4\nsoft1\nsoft2\ntext 3\nsoft1\nsoft1\n");
  EXPECT_TRUE(saw(u"A workbook needs"));
  EXPECT_TRUE(saw(u"Sheet3 (internal)"));
  EXPECT_EQ(book->sheetCount(), 3);
  EXPECT_EQ(sheet(0).visibility, SheetVisibility::Visible);
  EXPECT_FALSE(book->modified);

  // On a hidden sheet the item reads Unhide and shows it; hiding the active sheet then
  // moves the active sheet to a visible one, and Done on a hidden sheet keeps it there.
  run("key Down\nsoft2\ntext 4\nkey Up\nsoft2\ntext 4\nsoft1\n");
  EXPECT_TRUE(saw(u"Unhide"));
  EXPECT_EQ(sheet(1).visibility, SheetVisibility::Visible);
  EXPECT_EQ(sheet(0).visibility, SheetVisibility::Hidden);
  EXPECT_EQ(book->activeSheetIndex(), 1);
  EXPECT_TRUE(book->modified);

  // An internal sheet is shown by Hide too; Done on it activates it.
  run("key Down\nkey Down\nsoft2\ntext 4\nsoft1\n");
  EXPECT_EQ(sheet(2).visibility, SheetVisibility::Visible);
  EXPECT_EQ(book->activeSheetIndex(), 2);
}

}  // namespace
}  // namespace kelp::test
