// The search of Find and Replace: what matches, the order cells are visited in, the
// wrap at the end of the range, and the rewriting of a cell's text.
#include "edit/Find.h"

#include "CommandTestSupport.h"

namespace kelp::test {
namespace {

class FindTest : public CommandTest {
 protected:
  std::optional<FoundCell> find(int col, int row, bool includeStart) {
    return findCell(*book, sheet(), searchRange(sheet()), settings, col, row, includeStart);
  }
  FindSettings settings;
};

TEST_F(FindTest, WildcardsEntireCellsAndCase) {
  enter(1, 1, u"xabcx");  // B2
  enter(3, 4, u"ABC");    // D5
  settings.findText = u"a?c";
  settings.wildcards = true;
  EXPECT_EQ(find(0, 0, true), (FoundCell{1, 1}));
  settings.entireCells = true;
  EXPECT_EQ(find(0, 0, true), (FoundCell{3, 4}));
  settings.caseSensitive = true;
  EXPECT_EQ(find(0, 0, true), std::nullopt);

  // Without wildcards "?" is itself, and entire cells means the whole text, in any case.
  settings = FindSettings{};
  settings.findText = u"a?c";
  EXPECT_EQ(find(0, 0, true), std::nullopt);
  settings.findText = u"bc";
  EXPECT_EQ(find(0, 0, true), (FoundCell{1, 1}));
  settings.entireCells = true;
  EXPECT_EQ(find(0, 0, true), std::nullopt);
  settings.findText = u"abc";
  EXPECT_EQ(find(0, 0, true), (FoundCell{3, 4}));
}

TEST_F(FindTest, OrderByRowsOrColumnsAndTheWrap) {
  enter(2, 0, u"key");  // C1
  enter(0, 1, u"key");  // A2
  enter(1, 1, u"other");
  enter(1, 3, u"key");  // B4
  settings.findText = u"key";
  // By rows C1 comes first, by columns A2; a later search starts after the cell it is on.
  EXPECT_EQ(find(0, 0, true), (FoundCell{2, 0}));
  EXPECT_EQ(find(2, 0, false), (FoundCell{0, 1}));
  EXPECT_EQ(find(0, 1, false), (FoundCell{1, 3}));
  settings.byColumns = true;
  EXPECT_EQ(find(0, 0, true), (FoundCell{0, 1}));
  EXPECT_EQ(find(0, 1, false), (FoundCell{1, 3}));
  EXPECT_EQ(find(1, 3, false), (FoundCell{2, 0}));
  // Past the end the search goes round once, from the range's beginning to the start.
  EXPECT_EQ(find(2, 0, false), (FoundCell{0, 1}));
  settings.byColumns = false;
  EXPECT_EQ(find(1, 3, false), (FoundCell{2, 0}));
}

TEST_F(FindTest, TheWrapStopsAtTheStartAndKeepsToTheSelection) {
  settings.findText = u"only";
  EXPECT_EQ(find(0, 0, true), std::nullopt);
  enter(4, 9, u"only");
  // From a later cell the search runs round to it; from the cell itself it comes back to
  // it last, once, and nothing else matches.
  EXPECT_EQ(find(7, 20, false), (FoundCell{4, 9}));
  EXPECT_EQ(find(4, 9, false), (FoundCell{4, 9}));
  enter(4, 9, u"gone");
  EXPECT_EQ(find(4, 9, false), std::nullopt);

  // A selection of more than one cell is the range; the cells outside are not searched.
  enter(0, 0, u"only");
  enter(5, 5, u"only");
  select(3, 3, 6, 6);
  EXPECT_EQ(find(3, 3, true), (FoundCell{5, 5}));
  EXPECT_EQ(find(5, 5, false), (FoundCell{5, 5}));
}

TEST_F(FindTest, ValuesOrFormulas) {
  enter(0, 0, u"=1+1");
  enter(0, 1, u"50%");
  settings.findText = u"2";
  EXPECT_EQ(find(0, 0, true), (FoundCell{0, 0}));
  settings.findText = u"%";
  EXPECT_EQ(find(0, 0, true), (FoundCell{0, 1}));
  settings.findText = u"+";
  EXPECT_EQ(find(0, 0, true), std::nullopt);

  settings.lookInValues = false;
  EXPECT_EQ(find(0, 0, true), (FoundCell{0, 0}));
  settings.findText = u"2";
  EXPECT_EQ(find(0, 0, true), std::nullopt);
  EXPECT_EQ(searchedText(*book, sheet(), 0, 1, false), u"0.5");
}

TEST_F(FindTest, ReplaceInText) {
  FindSettings s;
  s.findText = u"a";
  s.replaceText = u"Bb";
  std::u16string text = u"xAxa";
  EXPECT_EQ(replaceInText(text, s, false), ReplaceResult::Replaced);
  EXPECT_EQ(text, u"xBbxa");
  // Every occurrence, the search going on after each replacement, so "aa" for "a" ends.
  s.replaceText = u"aa";
  text = u"xAxa";
  EXPECT_EQ(replaceInText(text, s, true), ReplaceResult::Replaced);
  EXPECT_EQ(text, u"xaaxaa");
  s.caseSensitive = true;
  text = u"A";
  EXPECT_EQ(replaceInText(text, s, true), ReplaceResult::NotFound);
  EXPECT_EQ(text, u"A");
  s.entireCells = true;
  EXPECT_EQ(replaceInText(text, s, false), ReplaceResult::Replaced);
  EXPECT_EQ(text, u"aa");

  // A result of 2048 characters or more is not made, however it would be reached.
  s = FindSettings{};
  s.findText = u"x";
  s.replaceText = u"yy";
  text = std::u16string(2046, u'x');
  const std::u16string before = text;
  EXPECT_EQ(replaceInText(text, s, false), ReplaceResult::Replaced);
  EXPECT_EQ(text.size(), 2047u);
  text = before + u"x";
  EXPECT_EQ(replaceInText(text, s, false), ReplaceResult::TooLong);
  EXPECT_EQ(text, before + u"x");
  text = std::u16string(1100, u'x');
  EXPECT_EQ(replaceInText(text, s, true), ReplaceResult::TooLong);
  EXPECT_EQ(text.size(), 1100u);
  s.entireCells = true;
  s.replaceText = std::u16string(2048, u'z');
  EXPECT_EQ(replaceInText(text, s, false), ReplaceResult::TooLong);
}

}  // namespace
}  // namespace kelp::test
