// The Find and Replace dialogs driven by keys: the first match, the "Next" window and
// its steps, nothing found, replacing one cell or all, and a replacement too long.
#include "dialogs/FindReplace.h"

#include "DialogTestSupport.h"
#include "edit/Find.h"
#include "format/ValueText.h"

namespace kelp::test {
namespace {

class FindReplaceTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    findSettings() = FindSettings{};
  }
  std::u16string editText(int col, int row) {
    std::u16string out;
    if (const CellRecord* cell = sheet().cellPtr(col, row)) editableText(cell->value, out);
    return out;
  }
  void replace(const std::string& keys) {
    script(keys);
    runReplaceDialog(desktop, NoWindow, *book, undo,
                     [this](int32_t col, int32_t row, std::u16string_view text) { return enter(col, row, text); },
                     [this] { ++shown; });
    noProblems();
  }
  int shown = 0;
};

TEST_F(FindReplaceTest, FindStepsThroughTheMatchesFromASmallWindow) {
  enter(1, 1, u"xabcx");  // B2
  enter(3, 4, u"abc");    // D5
  // The find text, then down past the two lists and two boxes to "?,* are wildcards".
  script("text a?c\nkey Down\nkey Down\nkey Down\nkey Down\nkey Down\nkey Enter\nsoft1\nsoft1\nsoft2\n");
  runFindDialog(desktop, NoWindow, *book, [this] { ++shown; });
  noProblems();
  EXPECT_EQ(sel().activeColumn, 3);
  EXPECT_EQ(sel().activeRow, 4);
  EXPECT_EQ(shown, 2);
  // The "Next" window sits above the soft keys and leaves the grid's upper part in view.
  int buttons = 0;
  for (const DrawnText& t : backend.seen) {
    if (t.text != u"Next" || t.rect.bottom > desktop.workArea().bottom) continue;  // not the soft key
    ++buttons;
    EXPECT_GT(t.rect.top, desktop.workArea().bottom / 2);
  }
  EXPECT_GT(buttons, 0);
  EXPECT_TRUE(findSettings().wildcards);

  // The settings are offered again: Find goes on from D5 round to B2, Cancel ends.
  shown = 0;
  script("soft1\nsoft2\n");
  runFindDialog(desktop, NoWindow, *book, {});
  EXPECT_EQ(sel().activeColumn, 3);  // the first search takes the active cell itself
  script("soft1\nsoft1\nsoft2\n");
  runFindDialog(desktop, NoWindow, *book, {});
  EXPECT_EQ(sel().activeColumn, 1);
  EXPECT_EQ(sel().activeRow, 1);

  // Nothing found: the message, and the dialog stays open for another try.
  script("text zzz\nsoft1\nsoft1\nsoft2\n");
  runFindDialog(desktop, NoWindow, *book, {});
  noProblems();
  EXPECT_TRUE(saw(u"No matching data found."));
  EXPECT_EQ(sel().activeColumn, 1);
  EXPECT_EQ(findSettings().findText, u"zzz");
}

TEST_F(FindReplaceTest, ReplaceAllAndOneAtATime) {
  enter(2, 0, u"=A1+B1");
  enter(2, 2, u"11");
  enter(0, 5, u"plain");
  undo.clear();
  // "Replaced All" with "1" by "2" rewrites every occurrence in every cell, one undo entry each.
  replace("text 1\nkey Down\ntext 2\nsoft2\n");
  EXPECT_EQ(editText(2, 0), u"=A2+B2");
  EXPECT_EQ(editText(2, 2), u"22");
  EXPECT_EQ(editText(0, 5), u"plain");
  EXPECT_EQ(undo.size(), 2u);
  EXPECT_EQ(findSettings().replaceMode, 2);

  // Find Next, then Replace from the menu replaces the first occurrence of the cell found
  // and moves on; Done ends.
  enter(0, 6, u"n-n");
  enter(0, 7, u"n");
  sheet().selection = Selection{};
  shown = 0;
  replace("text n\nkey Down\ntext m\nsoft1\nsoft2\ntext 2\nsoft1\n");
  EXPECT_EQ(editText(0, 5), u"plaim");
  EXPECT_EQ(editText(0, 6), u"n-n");
  EXPECT_EQ(sel().activeRow, 6);
  EXPECT_EQ(shown, 2);

  // Replace All from the menu goes round once and stops at the first cell found, even
  // when the replacement holds the find text.
  replace("text n\nkey Down\ntext nn\nsoft1\nsoft2\ntext 3\n");
  EXPECT_EQ(editText(0, 5), u"plaim");
  EXPECT_EQ(editText(0, 6), u"nn-nn");
  EXPECT_EQ(editText(0, 7), u"nn");
}

TEST_F(FindReplaceTest, AReplacementTooLongLeavesTheCell) {
  const std::u16string longText(2040, u'x');
  enter(0, 0, longText);
  enter(0, 1, u"x");
  replace("text x\nkey Down\ntext xyz\nsoft2\nsoft1\n");
  EXPECT_TRUE(saw(u"2,048"));
  EXPECT_EQ(editText(0, 0), longText);
  EXPECT_EQ(pendingError(), 0u);
}

}  // namespace
}  // namespace kelp::test
