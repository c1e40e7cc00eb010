// Copy, cut and paste through the clipboard: what each switch brings, the refusals, text
// from and for other programs, moving a cut block, a cut pasted into another workbook,
// and undo and redo giving back the workbook's bytes.
#include <string>
#include <vector>

#include "CommandTestSupport.h"
#include "edit/Clipboard.h"
#include "formula/Tokens.h"
#include "format/ValueText.h"
#include "model/Style.h"
#include "platform/Clipboard.h"
#include "platform/Locale.h"

namespace kelp::test {
namespace {

class ClipboardTest : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    emptyClipboard();
  }
  void TearDown() override {
    emptyClipboard();
    selectLocale("en_US");
    CommandTest::TearDown();
  }

  bool copy(int c1, int r1, int c2, int r2, bool cut = false) {
    select(c1, r1, c2, r2);
    return copySelection(*book, cut);
  }
  bool pasteAt(int c, int r, const PasteOptions& options = {}) {
    select(c, r, c, r);
    return pasteSelection(*book, undo, options);
  }
  std::u16string formula(int c, int r, int s = 0) {
    std::u16string out;
    if (const CellRecord* cell = sheet(s).cellPtr(c, r)) editableText(cell->value, out);
    return out;
  }
  bool bold(int c, int r, int s = 0) { return fontOf(c, r, s).weight >= 700; }
  void addRule(const Area& area, std::u16string item) {
    ValidationEntry entry;
    entry.rule.flags = 3 | 0x80;  // a list of explicit items
    entry.rule.list = {std::move(item)};
    entry.areas = {area};
    sheet().validations.push_back(std::move(entry));
  }
  // Undo gives back `before`, redo gives back `after`, once each way.
  void expectUndoRedo(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after) {
    ASSERT_TRUE(undo.undo(*book));
    EXPECT_EQ(fileBytes(), before) << "undo";
    ASSERT_TRUE(undo.redo(*book));
    EXPECT_EQ(fileBytes(), after) << "redo";
  }
};

TEST_F(ClipboardTest, CopyPastesValuesFormulasStylesMergesAndRules) {
  ASSERT_TRUE(enter(0, 0, u"1"));
  ASSERT_TRUE(enter(0, 1, u"2"));
  ASSERT_TRUE(enter(0, 2, u"=A1+A2"));
  ASSERT_TRUE(enter(1, 0, u"text"));
  ASSERT_TRUE(enter(1, 2, u"=$A$1*10"));
  select(0, 0, 0, 0);
  ASSERT_TRUE(applyBold(*book, undo, true));
  ASSERT_TRUE(sheet().mergedAreas.append(Area{3, 0, 3, 1}));
  addRule(Area{1, 1, 2, 1}, u"yes");
  undo.clear();
  ASSERT_TRUE(copy(0, 0, 1, 3));
  EXPECT_TRUE(clipboardHasData());
  const std::vector<uint8_t> before = fileBytes();

  // A larger selection takes the block at its first cell only.
  select(3, 4, 7, 20);
  ASSERT_TRUE(pasteSelection(*book, undo, PasteOptions{})) << pendingError();
  EXPECT_EQ(number(3, 4), 1);
  EXPECT_EQ(shown(4, 4), u"text");
  EXPECT_EQ(formula(3, 6), u"=D5+D6") << "relative references shift";
  EXPECT_EQ(number(3, 6), 3);
  EXPECT_EQ(formula(4, 6), u"=$A$1*10") << "absolute ones stay";
  EXPECT_TRUE(bold(3, 4));
  EXPECT_FALSE(bold(3, 5));
  EXPECT_EQ(kind(3, 8), ValueKind::Empty) << "nothing beyond the copied rows";
  EXPECT_GE(sheet().findMergedEqual(Area{7, 3, 7, 4}), 0);
  ASSERT_EQ(sheet().validations.size(), 2u);
  EXPECT_EQ(sheet().validations[1].areas, (std::vector<Area>{Area{5, 4, 6, 4}}));
  EXPECT_EQ(sheet().selection.area(), (Area{4, 3, 7, 4})) << "the pasted range is selected";
  EXPECT_EQ(undo.size(), 1u);
  EXPECT_EQ(undo.undoDescription(), u"Paste");
  const std::vector<uint8_t> pasted = fileBytes();

  // The source is untouched, and its later changes do not reach the clipboard.
  EXPECT_EQ(number(0, 0), 1);
  ASSERT_TRUE(enter(0, 0, u"100"));
  const std::vector<uint8_t> after = fileBytes();
  ASSERT_TRUE(pasteAt(10, 0));
  EXPECT_EQ(number(10, 0), 1);
  EXPECT_EQ(number(10, 2), 3);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), after);
  ASSERT_TRUE(undo.undo(*book));  // the typing
  EXPECT_EQ(fileBytes(), pasted);
  expectUndoRedo(before, pasted);
}

TEST_F(ClipboardTest, EachSwitchBringsItsPartAlone) {
  ASSERT_TRUE(enter(0, 0, u"5"));
  ASSERT_TRUE(enter(0, 1, u"=A1*2"));
  select(0, 0, 0, 2);
  ASSERT_TRUE(applyBold(*book, undo, true));
  addRule(Area{0, 0, 0, 0}, u"five");
  // Targets in D (italic "x" over three rows) for each switch.
  auto target = [&](int column) {
    for (int r = 0; r < 3; ++r) ASSERT_TRUE(enter(column, r, u"x"));
    select(column, 0, column, 2);
    ASSERT_TRUE(applyItalic(*book, undo, true));
  };
  for (int c = 3; c <= 8; ++c) target(c);
  ASSERT_TRUE(copy(0, 0, 0, 2));

  PasteOptions formats{false, true, false, false, false};
  ASSERT_TRUE(pasteAt(3, 0, formats));
  EXPECT_EQ(shown(3, 0), u"x");
  EXPECT_TRUE(bold(3, 0));
  EXPECT_FALSE(fontOf(3, 0).options & 2) << "the source's style replaces the italic one";
  EXPECT_EQ(sheet().validations.size(), 1u);

  PasteOptions contents{true, false, false, false, false};
  ASSERT_TRUE(pasteAt(4, 0, contents));
  EXPECT_EQ(number(4, 0), 5);
  EXPECT_EQ(formula(4, 1), u"=E1*2") << "a relative formula reads the cell above it, as it did";
  EXPECT_EQ(kind(4, 2), ValueKind::Empty) << "a blank source cell empties its target";
  EXPECT_FALSE(bold(4, 0));
  EXPECT_TRUE(fontOf(4, 0).options & 2);

  PasteOptions validation{false, false, true, false, false};
  ASSERT_TRUE(pasteAt(5, 0, validation));
  EXPECT_EQ(shown(5, 0), u"x");
  EXPECT_TRUE(fontOf(5, 0).options & 2);
  ASSERT_EQ(sheet().validations.size(), 2u);
  EXPECT_EQ(sheet().validations[1].areas, (std::vector<Area>{Area{0, 5, 0, 5}}));

  PasteOptions skip{true, true, true, true, false};
  ASSERT_TRUE(pasteAt(6, 0, skip));
  EXPECT_EQ(number(6, 0), 5);
  EXPECT_EQ(shown(6, 2), u"x") << "a blank source cell leaves its target alone";
  EXPECT_TRUE(fontOf(6, 2).options & 2) << "style included";

  PasteOptions results{true, true, true, false, true};
  ASSERT_TRUE(pasteAt(7, 0, results));
  EXPECT_EQ(kind(7, 1), ValueKind::Number);
  EXPECT_EQ(number(7, 1), 10);

  // With everything off only the merged areas, of which there are none, come.
  const std::vector<uint8_t> before = fileBytes();
  ASSERT_TRUE(pasteAt(8, 0, PasteOptions{false, false, false, false, false}));
  EXPECT_EQ(shown(8, 1), u"x");
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), before);
}

TEST_F(ClipboardTest, PastesPastTheEdgeOrThroughAMergedAreaAreRefused) {
  ASSERT_TRUE(enter(0, 0, u"1"));
  ASSERT_TRUE(enter(1, 1, u"2"));
  ASSERT_TRUE(copy(0, 0, 1, 1));
  ASSERT_TRUE(sheet().mergedAreas.append(Area{4, 2, 4, 3}));
  ASSERT_TRUE(enter(5, 5, u"keep"));
  undo.clear();
  const std::vector<uint8_t> before = fileBytes();

  EXPECT_FALSE(pasteAt(MaxColumns - 1, 0));
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::EmbeddingOutOfBounds));
  clearError();
  EXPECT_FALSE(pasteAt(0, MaxRows - 1));
  EXPECT_EQ(pendingError(), 31u);
  clearError();
  EXPECT_FALSE(pasteAt(3, 3)) << "D4:E5 cuts C5:D5";
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::FillMerged));
  clearError();
  EXPECT_EQ(fileBytes(), before);
  EXPECT_EQ(undo.size(), 0u);
  // A merged area wholly inside the target goes.
  ASSERT_TRUE(pasteAt(2, 3));
  EXPECT_LT(sheet().findMergedEqual(Area{4, 2, 4, 3}), 0);
  EXPECT_EQ(number(3, 4), 2);

  // The same through text.
  ASSERT_TRUE(setClipboardText(u"a\tb\nc\td\n"));
  EXPECT_FALSE(clipboardHasPrivateData());
  ASSERT_TRUE(sheet().mergedAreas.append(Area{10, 2, 10, 3}));
  EXPECT_FALSE(pasteAt(3, 10));
  EXPECT_EQ(pendingError(), 53u);
  clearError();
  // An empty clipboard has nothing.
  emptyClipboard();
  EXPECT_FALSE(clipboardHasData());
  EXPECT_FALSE(pasteAt(0, 0));
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::Clipboard));
  clearError();
}

TEST_F(ClipboardTest, PastedReferencesPushedPastTheEdgeBecomeRef) {
  ASSERT_TRUE(enter(1, 1, u"=A1+B1+A2"));
  ASSERT_TRUE(copy(1, 1, 1, 1));
  ASSERT_TRUE(pasteAt(0, 0));
  EXPECT_EQ(formula(0, 0), u"=!!Ref+!!Ref+!!Ref");
  ASSERT_TRUE(pasteAt(0, 1));
  EXPECT_EQ(formula(0, 1), u"=!!Ref+A1+!!Ref") << "only the reference one row up stays";
  ASSERT_TRUE(pasteAt(5, 5));
  EXPECT_EQ(formula(5, 5), u"=E5+F5+E6");
}

TEST_F(ClipboardTest, DataHoldingATaskCallPastesNothing) {
  // Another instance can put any record stream under Kelp's format: a formula or a rule
  // there that calls a task is refused as a file holding it is, and the paste changes
  // nothing, though the rule comes after the cells it covers.
  const auto taskCall = [] {
    const uint8_t block[] = {7, 0, 0, 0, static_cast<uint8_t>(Op::CallTask), 0, 0,
                             static_cast<uint8_t>(Op::SmallInteger), 1, 0, static_cast<uint8_t>(Op::End)};
    return formulaPool().add(block, sizeof block, 1);
  };
  ASSERT_TRUE(enter(0, 0, u"5"));
  CellValue f = newFormulaValue(taskCall(), CellPosition{1, 0, 0});
  ASSERT_TRUE(sheet().setCell(1, 0, CellRecord{f, -1}));
  ASSERT_TRUE(enter(0, 2, u"5"));
  ValidationEntry rule;
  rule.rule.flags = 1 | (1u << 4);
  rule.rule.formula1 = taskCall();
  rule.areas = {Area{2, 0, 2, 0}};
  sheet().validations.push_back(std::move(rule));
  undo.clear();
  const std::vector<uint8_t> before = fileBytes();
  for (int row : {0, 2}) {
    ASSERT_TRUE(copy(0, row, 1, row));
    EXPECT_FALSE(pasteAt(4, 10));
    EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::FileRead)) << row;
    clearError();
  }
  EXPECT_EQ(fileBytes(), before);
  EXPECT_EQ(undo.size(), 0u);
}

TEST_F(ClipboardTest, TextFromOtherProgramsIsReadAsTypedInTheLocale) {
  ASSERT_TRUE(setClipboardText(u"1\t2\t3\r\n4\t=B2*10\tname\r\n"));
  EXPECT_TRUE(clipboardHasData());
  EXPECT_FALSE(clipboardHasPrivateData());
  ASSERT_TRUE(pasteAt(1, 1)) << pendingError();
  EXPECT_EQ(number(1, 1), 1);
  EXPECT_EQ(number(3, 1), 3);
  EXPECT_EQ(number(2, 2), 10);
  EXPECT_EQ(formula(2, 2), u"=B2*10");
  EXPECT_EQ(shown(3, 2), u"name");
  EXPECT_EQ(kind(1, 3), ValueKind::Empty) << "the closing line break adds no row";
  EXPECT_EQ(sheet().selection.area(), (Area{1, 1, 2, 3}));
  EXPECT_EQ(undo.undoDescription(), u"Paste");

  // Ragged lines, a date, a formula that does not compile, control characters, and a
  // field beyond the sheet's last column.
  ASSERT_TRUE(enter(0, 10, u"old"));
  ASSERT_TRUE(setClipboardText(u"\x01solo\n1/15/2026\t=1+\t\x7f\n\t\tlast"));
  ASSERT_TRUE(pasteAt(0, 10));
  EXPECT_EQ(shown(0, 10), u"solo");
  EXPECT_EQ(kind(0, 11), ValueKind::DateTime);
  EXPECT_EQ(book->numberFormats[book->style(sheet().effectiveStyle(0, 11)).numberFormat].kind, FormatKind::DateTime);
  EXPECT_EQ(shown(1, 11), u"=1+") << "kept as text";
  EXPECT_EQ(pendingError(), 0u);
  EXPECT_EQ(kind(0, 12), ValueKind::Empty);
  EXPECT_EQ(shown(2, 12), u"last");
  ASSERT_TRUE(setClipboardText(u"a\tb\tc"));
  ASSERT_TRUE(pasteAt(MaxColumns - 2, 20));
  EXPECT_EQ(shown(MaxColumns - 1, 20), u"b");
  EXPECT_EQ(sheet().selection.area(), (Area{20, MaxColumns - 2, 20, MaxColumns - 1}));

  // Skip blanks keeps what empty fields fall on; contents off leaves text nothing to bring.
  ASSERT_TRUE(enter(5, 0, u"kept"));
  ASSERT_TRUE(setClipboardText(u"\t7"));
  ASSERT_TRUE(pasteAt(5, 0, PasteOptions{true, true, true, true, false}));
  EXPECT_EQ(shown(5, 0), u"kept");
  EXPECT_EQ(number(6, 0), 7);
  ASSERT_TRUE(pasteAt(5, 0));
  EXPECT_EQ(kind(5, 0), ValueKind::Empty);
  EXPECT_FALSE(pasteAt(5, 0, PasteOptions{false, true, true, false, false}));
  EXPECT_EQ(pendingError(), 23u);
  clearError();

  // In a German locale the decimal separator is a comma.
  ASSERT_TRUE(selectLocale("de_DE"));
  ASSERT_TRUE(setClipboardText(u"3,5\t-0,25"));
  ASSERT_TRUE(pasteAt(0, 30));
  EXPECT_DOUBLE_EQ(number(0, 30), 3.5);
  EXPECT_DOUBLE_EQ(number(1, 30), -0.25);
  const std::vector<uint8_t> after = fileBytes();
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(kind(0, 30), ValueKind::Empty);
  ASSERT_TRUE(undo.redo(*book));
  EXPECT_EQ(fileBytes(), after);
}

TEST_F(ClipboardTest, OtherProgramsReceiveTabbedTextOfTheCopiedValues) {
  ASSERT_TRUE(enter(0, 0, u"1.5"));
  ASSERT_TRUE(enter(1, 0, u"two words"));
  ASSERT_TRUE(enter(2, 0, u"=A1*2"));
  ASSERT_TRUE(enter(0, 1, u"50%"));
  ASSERT_TRUE(enter(1, 3, u"=1/0"));
  ASSERT_TRUE(enter(4, 0, u"beyond"));
  // Rows up to the last with a value, each up to its last value.
  ASSERT_TRUE(copy(0, 0, 2, 50));
  std::u16string text;
  ASSERT_TRUE(clipboardText(text));
  EXPECT_EQ(text, u"1.5\ttwo words\t3\r\n0.5\r\n\r\n\t!!Div0\r\n");
  // The text is made when asked for, yet of the copy: a later change does not show in it.
  ASSERT_TRUE(copy(0, 0, 0, 0));
  ASSERT_TRUE(enter(0, 0, u"9"));
  ASSERT_TRUE(clipboardText(text));
  EXPECT_EQ(text, u"1.5\r\n");
  EXPECT_EQ(clipboardTextOf({1, 2, 3}), u"") << "bytes that are no range";
  // Text another program puts there replaces Kelp's data.
  ASSERT_TRUE(setClipboardText(u"other"));
  EXPECT_FALSE(clipboardHasPrivateData());
  ASSERT_TRUE(pasteAt(5, 5));
  EXPECT_EQ(shown(5, 5), u"other");
}

TEST_F(ClipboardTest, CutAndPasteMovesTheBlockAndReferencesFollow) {
  ASSERT_TRUE(enter(0, 0, u"1"));
  ASSERT_TRUE(enter(0, 1, u"2"));
  ASSERT_TRUE(enter(0, 2, u"=A1+A2"));
  ASSERT_TRUE(enter(2, 0, u"=SUM(A1:A2)"));
  book->setActiveSheet(1);
  ASSERT_TRUE(enter(0, 0, u"=Sheet1!A2*3"));
  book->setActiveSheet(0);
  undo.clear();
  const std::vector<uint8_t> before = fileBytes();

  ASSERT_TRUE(copy(0, 0, 0, 2, true));
  ASSERT_TRUE(pasteAt(4, 4));
  EXPECT_EQ(kind(0, 0), ValueKind::Empty);
  EXPECT_EQ(kind(0, 2), ValueKind::Empty);
  EXPECT_EQ(number(4, 5), 2);
  EXPECT_EQ(formula(4, 6), u"=E5+E6");
  EXPECT_EQ(formula(2, 0), u"=Sum(E5:E6)");
  EXPECT_EQ(number(2, 0), 3);
  EXPECT_EQ(formula(0, 0, 1), u"=Sheet1!E6*3");
  EXPECT_EQ(undo.size(), 1u);
  EXPECT_EQ(undo.undoDescription(), u"Paste");
  const std::vector<uint8_t> after = fileBytes();
  expectUndoRedo(before, after);

  // The cut is over: pasting again copies what was cut and moves nothing.
  ASSERT_TRUE(pasteAt(7, 0));
  EXPECT_EQ(number(7, 1), 2);
  EXPECT_EQ(number(4, 5), 2);
  EXPECT_EQ(formula(2, 0), u"=Sum(E5:E6)");
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), after);

  // A cut pasted over itself changes nothing.
  ASSERT_TRUE(copy(4, 4, 4, 6, true));
  const size_t entries = undo.size();
  ASSERT_TRUE(pasteAt(4, 4));
  EXPECT_EQ(fileBytes(), after);
  EXPECT_EQ(undo.size(), entries);
}

TEST_F(ClipboardTest, ACutWithMergesRulesOrSwitchesIsCopiedThenCleared) {
  ASSERT_TRUE(enter(0, 0, u"1"));
  ASSERT_TRUE(enter(1, 1, u"2"));
  ASSERT_TRUE(enter(3, 0, u"=A1+B2"));
  select(0, 0, 1, 1);
  ASSERT_TRUE(applyBold(*book, undo, true));
  ASSERT_TRUE(sheet().mergedAreas.append(Area{0, 0, 0, 1}));
  addRule(Area{1, 1, 1, 1}, u"two");
  undo.clear();
  const std::vector<uint8_t> before = fileBytes();

  // Overlapping the source: A1:B2 to B2:C3.
  ASSERT_TRUE(copy(0, 0, 1, 1, true));
  ASSERT_TRUE(pasteAt(1, 1));
  EXPECT_EQ(kind(0, 0), ValueKind::Empty);
  EXPECT_FALSE(bold(0, 0));
  EXPECT_EQ(number(1, 1), 1);
  EXPECT_EQ(number(2, 2), 2);
  EXPECT_TRUE(bold(2, 2));
  EXPECT_EQ(sheet().mergedAreas.size(), 1);
  EXPECT_GE(sheet().findMergedEqual(Area{1, 1, 1, 2}), 0);
  ASSERT_EQ(sheet().validations.size(), 1u);
  EXPECT_EQ(sheet().validations[0].areas, (std::vector<Area>{Area{2, 2, 2, 2}}));
  EXPECT_EQ(formula(3, 0), u"=B2+C3") << "references follow the moved cells";
  EXPECT_EQ(undo.size(), 1u);
  expectUndoRedo(before, fileBytes());

  // To another sheet: the source is cleared, references stay.
  ASSERT_TRUE(undo.undo(*book));
  ASSERT_TRUE(copy(0, 0, 1, 1, true));
  book->setActiveSheet(2);
  ASSERT_TRUE(pasteAt(5, 5));
  EXPECT_EQ(number(5, 5, 2), 1);
  EXPECT_EQ(number(6, 6, 2), 2);
  EXPECT_EQ(kind(0, 0, 0), ValueKind::Empty);
  EXPECT_EQ(sheet(0).mergedAreas.size(), 0);
  EXPECT_EQ(book->activeSheetIndex(), 2);
  expectUndoRedo(before, fileBytes());

  // Values only: the contents move and the styles stay behind.
  ASSERT_TRUE(undo.undo(*book));
  book->setActiveSheet(0);
  ASSERT_TRUE(copy(0, 0, 1, 1, true));
  ASSERT_TRUE(pasteAt(5, 5, PasteOptions{true, false, false, false, false}));
  EXPECT_EQ(kind(0, 0), ValueKind::Empty);
  EXPECT_TRUE(bold(0, 0));
  EXPECT_EQ(number(5, 5), 1);
  EXPECT_FALSE(bold(5, 5));
  EXPECT_EQ(formula(3, 0), u"=F6+G7");
  expectUndoRedo(before, fileBytes());
}

TEST_F(ClipboardTest, ACutPastedIntoAnotherWorkbookClearsNothingThere) {
  ASSERT_TRUE(enter(0, 0, u"cut"));
  ASSERT_TRUE(enter(0, 1, u"me"));
  ASSERT_TRUE(copy(0, 0, 0, 1, true));
  // New: the old workbook goes, and the new one may well take its address.
  undo.clear();
  book.reset();
  book = newWorkbook(3);
  setEvalWorkbook(book.get());
  ASSERT_TRUE(enter(0, 0, u"mine"));
  ASSERT_TRUE(enter(0, 1, u"too"));
  ASSERT_TRUE(pasteAt(3, 3));
  EXPECT_EQ(shown(3, 3), u"cut");
  EXPECT_EQ(shown(3, 4), u"me");
  EXPECT_EQ(shown(0, 0), u"mine");
  EXPECT_EQ(shown(0, 1), u"too");

  // Two workbooks at once: the cut belongs to the first alone.
  auto other = newWorkbook(1);
  ASSERT_TRUE(copy(0, 0, 0, 1, true));
  other->sheetAt(0)->selection = sheet().selection;
  Selection& s = other->sheetAt(0)->selection;
  s.firstColumn = s.lastColumn = s.activeColumn = 2;
  setEvalWorkbook(other.get());
  ASSERT_TRUE(pasteSelection(*other, undo, PasteOptions{}));
  setEvalWorkbook(book.get());
  EXPECT_EQ(textOf(other->sheetAt(0)->cellValue(2, 0)), u"mine");
  EXPECT_EQ(shown(0, 0), u"mine") << "the source stays";
  // Back in the first workbook the cut still moves.
  ASSERT_TRUE(pasteAt(5, 5));
  EXPECT_EQ(kind(0, 0), ValueKind::Empty);
  EXPECT_EQ(shown(5, 6), u"too");
  undo.clear();
}

// Random copies, cuts and pastes with random switches over values, formulas, styles,
// merged areas and rules: undoing gives back the bytes before, redoing those after. The
// formulas read only column K, which nothing pastes over, so that none turns circular
// (a circle's value changes with every recalculation).
TEST_F(ClipboardTest, UndoAndRedoOfRandomPastesGiveBackTheBytes) {
  uint64_t seed = 0x2545F4914F6CDD1Dull;
  auto pick = [&](int low, int high) {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    return low + static_cast<int>((seed >> 11) % static_cast<uint64_t>(high - low + 1));
  };
  const char16_t* entries[] = {u"1", u"2.5", u"text", u"=$K$1+$K$2", u"=SUM($K$1:$K$3)", u"", u"TRUE", u"=$K$3&\"!\""};
  for (int sheetIndex = 0; sheetIndex < 2; ++sheetIndex) {
    book->setActiveSheet(sheetIndex);
    for (int r = 0; r < 3; ++r) ASSERT_TRUE(enter(10, r, entries[r]));
    for (int r = 0; r < 6; ++r)
      for (int c = 0; c < 4; ++c) ASSERT_TRUE(enter(c, r, entries[(r * 4 + c + sheetIndex) % 8]));
    select(0, 0, 1, 1);
    ASSERT_TRUE(applyBold(*book, undo, true));
  }
  book->setActiveSheet(0);
  ASSERT_TRUE(sheet().mergedAreas.append(Area{4, 0, 4, 1}));
  addRule(Area{2, 2, 3, 3}, u"r");
  undo.clear();
  int moved = 0, refused = 0;
  for (int round = 0; round < 300; ++round) {
    book->setActiveSheet(pick(0, 1));
    const int c = pick(0, 4), r = pick(0, 5);
    const bool cut = pick(0, 3) == 0;
    ASSERT_TRUE(copy(c, r, c + pick(0, 2), r + pick(0, 2), cut));
    if (pick(0, 1)) book->setActiveSheet(pick(0, 1));
    PasteOptions o;
    if (pick(0, 2) == 0) o = PasteOptions{pick(0, 1) == 1, pick(0, 1) == 1, pick(0, 1) == 1, pick(0, 1) == 1, pick(0, 1) == 1};
    const std::vector<uint8_t> before = fileBytes();
    undo.clear();
    const int pc = pick(0, 7), pr = pick(0, 8);
    if (!pasteAt(pc, pr, o)) {
      ASSERT_EQ(pendingError(), static_cast<uint32_t>(Err::FillMerged)) << "round " << round;
      clearError();
      ASSERT_EQ(fileBytes(), before) << "round " << round;
      ++refused;
      continue;
    }
    ASSERT_EQ(pendingError(), 0u) << "round " << round;
    if (undo.size() == 0) continue;  // a cut pasted over itself
    moved += cut;
    const std::vector<uint8_t> after = fileBytes();
    ASSERT_TRUE(undo.undo(*book));
    ASSERT_EQ(fileBytes(), before) << "undo of round " << round;
    ASSERT_TRUE(undo.redo(*book));
    ASSERT_EQ(fileBytes(), after) << "redo of round " << round;
  }
  EXPECT_GT(moved, 20);
  EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace kelp::test
