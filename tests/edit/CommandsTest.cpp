// Command programs and the undo list: recording, the ten-entry limit, the redo tail,
// the editing operations and the ownership of the values programs carry.
#include <cstring>
#include <map>
#include <utility>

#include "CommandTestSupport.h"
#include "formula/Compiler.h"
#include "formula/Catalogue.h"
#include "model/NumberFormat.h"
#include "model/Style.h"
#include "platform/StringTable.h"

namespace kelp::test {
namespace {

using CommandsTest = CommandTest;

std::u16string digits(int n) {
  std::string s = std::to_string(n);
  return std::u16string(s.begin(), s.end());
}

TEST_F(CommandsTest, EmitCommandWritesTheCallAndDiscardsItsResult) {
  TokenSink sink;
  ASSERT_TRUE(emitCommand(sink, CommandFunction::SetCell));
  ASSERT_TRUE(emitCommand(sink, CommandFunction::Clear));
  ASSERT_EQ(sink.size(), 10u);
  const uint8_t* p = sink.data();
  EXPECT_EQ(p[0], static_cast<uint8_t>(Op::Call));
  EXPECT_EQ(readU16(p + 1), 207);
  EXPECT_EQ(p[3], commandArgumentCount(CommandFunction::SetCell));
  EXPECT_EQ(p[4], static_cast<uint8_t>(Op::Discard));
  EXPECT_EQ(readU16(p + 6), 225);
  EXPECT_EQ(p[8], commandArgumentCount(CommandFunction::Clear));
  EXPECT_EQ(p[9], static_cast<uint8_t>(Op::Discard));
}

TEST_F(CommandsTest, ArgumentCountsAgreeWithTheCatalogue) {
  // Where a command pops another count than its catalogue row gives, the row is the
  // one that is off, and the reason is written here.
  const std::map<int32_t, int> differs = {
      {CommandFunction::WholeStyle, 21},  // eleven style words, nine font fields and the face
      {CommandFunction::Clear, 1},        // the clear mode
      {CommandFunction::FillRight, 1},    // whether custom lists continue
      {CommandFunction::FillDown, 1},     // whether custom lists continue
      {CommandFunction::FillBlock, 4},    // the source area as four integers, as 219 takes the selection
      {CommandFunction::InsertCells, 1},  // columns or rows
      {CommandFunction::DeleteCells, 1},
      {CommandFunction::MoveAdjust, 8},   // the destination and the source area
      {CommandFunction::Sort, 9},         // the nine sort settings; the row counts eight
  };
  int bound = 0;
  for (int32_t i = FunctionIndex::FirstInternal; i < FunctionIndex::FirstTaskOnly; ++i) {
    const FunctionRow& row = functionRow(i);
    int count = commandArgumentCount(i);
    auto listed = differs.find(i);
    if (listed != differs.end()) {
      EXPECT_EQ(count, listed->second) << i;
    } else {
      EXPECT_GE(count, row.minArgs) << i;
      EXPECT_LE(count, row.maxArgs) << i;
    }
    if (row.implementation) ++bound;
  }
  EXPECT_GE(bound, 20);  // the editing commands are bound by startEditing
}

TEST_F(CommandsTest, OnlyTheLastTenCommandsUndo) {
  for (int i = 0; i < 11; ++i) ASSERT_TRUE(enter(0, i, digits(i + 1)));
  EXPECT_EQ(undo.size(), 10u);
  int undone = 0;
  while (undo.undo(*book)) ++undone;
  EXPECT_EQ(undone, 10);
  EXPECT_FALSE(undo.canUndo());
  EXPECT_EQ(number(0, 0), 1);  // the first entry fell off the list
  for (int i = 1; i < 11; ++i) EXPECT_EQ(kind(0, i), ValueKind::Empty) << "row " << i;
  EXPECT_EQ(undo.redoDescription(), u"Typing in A2");
  while (undo.redo(*book)) {
  }
  for (int i = 0; i < 11; ++i) EXPECT_EQ(number(0, i), i + 1);
}

TEST_F(CommandsTest, NewCommandAfterUndoDropsTheRedoTail) {
  ASSERT_TRUE(enter(0, 0, u"1"));
  ASSERT_TRUE(enter(0, 1, u"2"));
  ASSERT_TRUE(enter(0, 2, u"3"));
  ASSERT_TRUE(undo.undo(*book));
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_TRUE(undo.canRedo());
  ASSERT_TRUE(enter(1, 0, u"x"));
  EXPECT_FALSE(undo.canRedo());
  EXPECT_FALSE(undo.redo(*book));
  EXPECT_EQ(undo.size(), 2u);
  EXPECT_EQ(undo.undoDescription(), u"Typing in B1");
  EXPECT_EQ(kind(0, 1), ValueKind::Empty);
  EXPECT_EQ(kind(0, 2), ValueKind::Empty);
  ASSERT_TRUE(undo.undo(*book));
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(kind(0, 0), ValueKind::Empty);
  EXPECT_FALSE(undo.canUndo());
}

TEST_F(CommandsTest, UndoRestoresAFormulaAndItsResult) {
  ASSERT_TRUE(enter(0, 0, u"2"));
  ASSERT_TRUE(enter(1, 0, u"=A1*3"));
  EXPECT_EQ(number(1, 0), 6);
  uint32_t tokens = formulaTokens(sheet().cellPtr(1, 0)->value);
  ASSERT_TRUE(enter(1, 0, u"hello"));
  EXPECT_EQ(shown(1, 0), u"hello");
  ASSERT_TRUE(undo.undo(*book));
  recalculateAll(*book);
  ASSERT_EQ(kind(1, 0), ValueKind::Formula);
  const CellValue& restored = sheet().cellPtr(1, 0)->value;
  EXPECT_EQ(formulaTokens(restored), tokens);  // the token string is shared, not recompiled
  EXPECT_EQ(formulaPosition(restored).row, 0);
  EXPECT_EQ(formulaPosition(restored).column, 1);
  EXPECT_EQ(formulaWorkbook(restored), book.get());
  EXPECT_EQ(number(1, 0), 6);
  std::u16string text;
  valueToText(sheet().cellPtr(1, 0)->value, text);
  EXPECT_EQ(text, u"=A1*3");
  // The restored formula is live: it follows its precedent.
  ASSERT_TRUE(enter(0, 0, u"5"));
  EXPECT_EQ(number(1, 0), 15);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(number(1, 0), 6);
  ASSERT_TRUE(undo.redo(*book));
  EXPECT_EQ(number(1, 0), 15);
  // Undoing the formula's own entry takes it out of the workbook's table.
  ASSERT_TRUE(undo.undo(*book));
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(kind(1, 0), ValueKind::Empty);
  EXPECT_EQ(book->formulas().count(), 0);
}

TEST_F(CommandsTest, EntriesReadAsTheyAreTypedAndSuggestFormats) {
  ASSERT_TRUE(enter(0, 0, u"50%"));
  EXPECT_DOUBLE_EQ(number(0, 0), 0.5);
  EXPECT_EQ(book->style(sheet().effectiveStyle(0, 0)).numberFormat, BuiltInFormat::Percent2);
  ASSERT_TRUE(enter(0, 1, u"'123"));
  EXPECT_EQ(kind(0, 1), ValueKind::Text);
  EXPECT_EQ(shown(0, 1), u"123");
  ASSERT_TRUE(enter(0, 2, u"true"));
  EXPECT_EQ(kind(0, 2), ValueKind::Logical);

  // Under a Text format a number stays text.
  StyleRecord textStyle = book->style(0);
  textStyle.numberFormat = BuiltInFormat::Text;
  int32_t textIndex = book->findOrAddStyle(textStyle);
  ASSERT_TRUE(sheet().setCell(1, 0, CellRecord{emptyValue(), static_cast<int16_t>(textIndex)}));
  ASSERT_TRUE(enter(1, 0, u"12.5"));
  EXPECT_EQ(kind(1, 0), ValueKind::Text);
  EXPECT_EQ(ownStyle(1, 0), textIndex);

  // A cell inside a merged area writes its top-left cell.
  ASSERT_TRUE(sheet().mergedAreas.append(Area{4, 2, 5, 3}));
  ASSERT_TRUE(enter(3, 5, u"7"));
  EXPECT_EQ(number(2, 4), 7);
  EXPECT_EQ(kind(3, 5), ValueKind::Empty);
  EXPECT_EQ(undo.undoDescription(), u"Typing in C5");

  // A formula that does not compile changes nothing and is not recorded.
  size_t entries = undo.size();
  EXPECT_FALSE(enter(0, 5, u"=1+"));
  EXPECT_NE(pendingError(), 0u);
  clearError();
  EXPECT_EQ(undo.size(), entries);
  EXPECT_EQ(kind(0, 5), ValueKind::Empty);

  // Undoing the percent entry takes the format back as well.
  while (undo.canUndo()) ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(kind(0, 0), ValueKind::Empty);
  EXPECT_EQ(ownStyle(0, 0), -1);
}

TEST_F(CommandsTest, TextsLongerThanAFileHoldsAreRefusedWhenTyped) {
  // The longest text a file keeps is taken, with or without the apostrophe, and a save
  // gives back all of it.
  std::u16string longest(MaxStoredText, u'k');
  ASSERT_TRUE(enter(0, 0, longest)) << pendingError();
  ASSERT_TRUE(enter(0, 1, u"'" + longest)) << pendingError();
  std::vector<uint8_t> bytes = fileBytes();
  auto copy = newWorkbook(0);
  MemoryDocStream in(bytes.data(), bytes.size());
  ASSERT_TRUE(ReadNative(*copy, in)) << pendingError();
  EXPECT_EQ(textOf(copy->sheetAt(0)->cellValue(0, 0)), longest);
  EXPECT_EQ(textOf(copy->sheetAt(0)->cellValue(0, 1)), longest);
  copy.reset();

  // One character more is refused with its own message: nothing changes, nothing is
  // recorded and no text is left behind.
  ASSERT_TRUE(enter(1, 0, u"short"));
  StyleRecord textStyle = book->style(0);
  textStyle.numberFormat = BuiltInFormat::Text;
  int32_t textIndex = book->findOrAddStyle(textStyle);
  ASSERT_TRUE(sheet().setCell(2, 0, CellRecord{emptyValue(), static_cast<int16_t>(textIndex)}));
  size_t entries = undo.size();
  uint32_t texts = textPool().liveCount();
  for (auto [column, entry] : {std::pair{1, longest + u"k"}, std::pair{1, u"'" + longest + u"k"},
                               std::pair{2, longest + u"k"}}) {
    SCOPED_TRACE(column);
    EXPECT_FALSE(enter(column, 0, entry));
    EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::TextTooLong));
    EXPECT_NE(errorMessage(pendingError()).find(u"32764"), std::u16string::npos);
    clearError();
  }
  EXPECT_EQ(shown(1, 0), u"short");
  EXPECT_EQ(kind(2, 0), ValueKind::Empty);
  EXPECT_EQ(undo.size(), entries);
  EXPECT_EQ(textPool().liveCount(), texts);
}

TEST_F(CommandsTest, ClearModesAndTheirUndo) {
  StyleRecord boxed = book->style(0);
  boxed.setBorderStyle(Edge::Left, 1);
  int16_t boxedIndex = static_cast<int16_t>(book->findOrAddStyle(boxed));
  ASSERT_TRUE(enter(0, 0, u"1"));
  ASSERT_TRUE(enter(1, 0, u"=A1+1"));
  ASSERT_TRUE(sheet().setCellStyle(1, 0, boxedIndex));
  ASSERT_TRUE(sheet().mergedAreas.append(Area{2, 0, 2, 1}));
  ASSERT_TRUE(sheet().mergedAreas.append(Area{9, 9, 9, 10}));  // outside the selection
  undo.clear();
  const std::vector<uint8_t> before = fileBytes();

  select(0, 0, 3, 3);
  ASSERT_TRUE(clearSelection(*book, undo, ClearMode::Contents));
  EXPECT_EQ(kind(1, 0), ValueKind::Empty);
  EXPECT_EQ(ownStyle(1, 0), boxedIndex);
  EXPECT_EQ(book->formulas().count(), 0);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(number(1, 0), 2);
  EXPECT_EQ(book->formulas().count(), 1);

  ASSERT_TRUE(clearSelection(*book, undo, ClearMode::Formats));
  EXPECT_EQ(ownStyle(1, 0), -1);
  EXPECT_EQ(number(1, 0), 2);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(ownStyle(1, 0), boxedIndex);

  ASSERT_TRUE(clearSelection(*book, undo, ClearMode::All));
  EXPECT_EQ(kind(0, 0), ValueKind::Empty);
  EXPECT_EQ(ownStyle(1, 0), -1);
  ASSERT_EQ(sheet().mergedAreas.size(), 1);
  EXPECT_EQ(sheet().mergedAreas[0], (Area{9, 9, 9, 10}));
  EXPECT_EQ(undo.undoDescription(), u"Clear");
  ASSERT_TRUE(undo.undo(*book));
  ASSERT_EQ(sheet().mergedAreas.size(), 2);
  EXPECT_EQ(sheet().mergedAreas[0], (Area{2, 0, 2, 1}));  // back in its place
  EXPECT_EQ(number(1, 0), 2);
  EXPECT_EQ(fileBytes(), before);

  // Clearing the rules of a selection that has none is recorded and changes nothing.
  const std::vector<uint8_t> unruled = fileBytes();
  EXPECT_TRUE(clearSelection(*book, undo, ClearMode::Validation));
  EXPECT_EQ(undo.undoDescription(), u"Clear");
  EXPECT_EQ(fileBytes(), unruled);
}

TEST_F(CommandsTest, StyleChangesOverTheSelectionUndo) {
  ASSERT_TRUE(enter(0, 0, u"1"));
  ASSERT_TRUE(enter(1, 1, u"=A1"));
  undo.clear();
  select(0, 0, 2, 2);
  const std::vector<uint8_t> before = fileBytes();
  ASSERT_TRUE(applyBold(*book, undo, true));
  ASSERT_TRUE(applyItalic(*book, undo, true));
  ASSERT_TRUE(applyUnderline(*book, undo, true));
  ASSERT_TRUE(applyAlignment(*book, undo, HAlign::Center, false));
  for (int c = 0; c <= 2; ++c)
    for (int r = 0; r <= 2; ++r) {
      EXPECT_EQ(fontOf(c, r).weight, 700);
      EXPECT_TRUE(fontOf(c, r).options & FontOption::Italic);
      EXPECT_EQ(fontOf(c, r).underline, 1);
      EXPECT_EQ(book->style(sheet().effectiveStyle(c, r)).horizontalAlignment(), HAlign::Center);
    }
  EXPECT_EQ(fontOf(3, 0).weight, 400);  // outside the selection
  EXPECT_EQ(undo.undoDescription(), u"Alignment");
  ASSERT_TRUE(applyBold(*book, undo, false));
  EXPECT_EQ(fontOf(1, 1).weight, 400);
  EXPECT_TRUE(fontOf(1, 1).options & FontOption::Italic);
  while (undo.canUndo()) ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fontOf(1, 1).weight, 400);
  EXPECT_EQ(fontOf(1, 1).options & FontOption::Italic, 0);
  EXPECT_EQ(number(1, 1), 1);  // the formula kept its result through the restore
  EXPECT_EQ(fileBytes(), before);

  // Whole rows take the style themselves; undo gives the rows back their own.
  select(0, 4, MaxColumns - 1, 5);
  ASSERT_TRUE(applyBold(*book, undo, true));
  EXPECT_GT(sheet().rowStyle(4), 0);
  EXPECT_EQ(fontOf(200, 5).weight, 700);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_LE(sheet().rowStyle(4), 0);
  EXPECT_EQ(fileBytes(), before);

  // A whole style with its font, face included.
  select(0, 0, 0, 0);
  StyleRecord style = newStyleRecord();
  style.setHorizontalAlignment(HAlign::Right);
  style.setBorderStyle(Edge::Bottom, 2);
  FontRecord font = makeFont(u"Courier New", 700, FontOption::Italic);
  font.height = 240;
  ASSERT_TRUE(applyWholeStyle(*book, undo, style, font));
  const StyleRecord& applied = book->style(sheet().effectiveStyle(0, 0));
  EXPECT_EQ(applied.horizontalAlignment(), HAlign::Right);
  EXPECT_EQ(applied.borderStyle(Edge::Bottom), 2);
  EXPECT_EQ(fontOf(0, 0).face(), u"Courier New");
  EXPECT_EQ(fontOf(0, 0).height, 240);
  EXPECT_EQ(undo.undoDescription(), u"Format Cells");
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(fileBytes(), before);
}

TEST_F(CommandsTest, RowsAndColumnsChangeAndComeBack) {
  select(1, 2, 2, 3);
  const std::vector<uint8_t> before = fileBytes();
  ASSERT_TRUE(setRowHeights(*book, undo, 500));
  EXPECT_EQ(sheet().rowHeight(2), 500);
  EXPECT_TRUE(sheet().isRowHeightExplicit(3));
  EXPECT_EQ(sheet().rowHeight(4), 255);
  ASSERT_TRUE(setColumnWidths(*book, undo, 4000));
  EXPECT_EQ(sheet().columns.columnWidth(1), 4000);
  EXPECT_EQ(sheet().columns.columnWidth(3), 2300);
  ASSERT_TRUE(hideRows(*book, undo, true));
  EXPECT_TRUE(sheet().isRowHidden(2));
  EXPECT_EQ(sheet().rowHeight(2), 500);  // hiding keeps the height
  ASSERT_TRUE(hideColumns(*book, undo, true));
  EXPECT_TRUE(sheet().columns.isColumnHidden(2));
  ASSERT_TRUE(setColumnWidths(*book, undo, 0));  // width 0 hides as well
  ASSERT_TRUE(hideColumns(*book, undo, false));
  EXPECT_FALSE(sheet().columns.isColumnHidden(1));
  EXPECT_EQ(sheet().columns.columnWidth(1), 4000);
  EXPECT_EQ(undo.undoDescription(), u"Column Width");
  while (undo.canUndo()) ASSERT_TRUE(undo.undo(*book));
  EXPECT_FALSE(sheet().isRowHidden(2));
  EXPECT_EQ(sheet().rowHeight(2), 255);
  EXPECT_EQ(fileBytes(), before);

  // With whole columns selected the default height changes along with existing rows.
  ASSERT_TRUE(enter(0, 7, u"x"));
  select(0, 0, 1, MaxRows - 1);
  ASSERT_TRUE(setRowHeights(*book, undo, 400));
  EXPECT_EQ(sheet().defaultRowHeight, 400);
  EXPECT_EQ(sheet().rowHeight(7), 400);
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(sheet().defaultRowHeight, 255);
  EXPECT_EQ(sheet().rowHeight(7), 255);
}

TEST_F(CommandsTest, CommandsActOnTheSheetTheyWereRecordedOn) {
  book->setActiveSheet(1);
  ASSERT_TRUE(enter(0, 0, u"on two"));
  book->setActiveSheet(0);
  ASSERT_TRUE(enter(0, 0, u"on one"));
  ASSERT_TRUE(undo.undo(*book));
  ASSERT_TRUE(undo.undo(*book));
  EXPECT_EQ(book->activeSheetIndex(), 1);
  EXPECT_EQ(kind(0, 0, 1), ValueKind::Empty);
  book->setActiveSheet(2);
  ASSERT_TRUE(undo.redo(*book));
  EXPECT_EQ(shown(0, 0, 1), u"on two");
  EXPECT_EQ(kind(0, 0, 2), ValueKind::Empty);
}

TEST_F(CommandsTest, CommandFunctionsRefuseBadArguments) {
  // Each bad call leaves !!Val (discarded) and changes nothing; the run goes on.
  ProgramBuilder program;
  program.smallInteger(300).smallInteger(0).integer(-1).number(5).call(CommandFunction::SetCell);  // column beyond IV
  program.smallInteger(9).call(CommandFunction::SelectSheet);                                       // no such sheet
  program.integer(70000).logical(true).call(CommandFunction::HideRow);                              // row beyond 65535
  program.smallInteger(1).integer(-5).call(CommandFunction::ColumnWidth);
  program.smallInteger(1).smallInteger(2).smallInteger(0).smallInteger(0).call(CommandFunction::Merge);  // crossed
  program.smallInteger(2).smallInteger(1).smallInteger(0).smallInteger(0).call(CommandFunction::FillBlock);  // crossed
  program.logical(false).number(0).number(1).smallInteger(0).smallInteger(3).smallInteger(0).call(
      CommandFunction::Series);  // Autofill is no series type
  program.smallInteger(0).smallInteger(0).integer(-1).text(u"last").call(CommandFunction::SetCell);
  CommandProgram done = program.finish();
  ASSERT_TRUE(done.valid());
  EXPECT_TRUE(runProgram(*book, done));
  EXPECT_EQ(book->activeSheetIndex(), 0);
  EXPECT_EQ(sheet().columns.columnWidth(1), 2300);
  EXPECT_EQ(sheet().mergedAreas.size(), 0);
  EXPECT_EQ(shown(0, 0), u"last");
  EXPECT_EQ(sheet().lastUsedColumn(), 0);

  // Every command row is bound.
  for (int32_t index = FunctionIndex::FirstInternal; index < FunctionIndex::FirstTaskOnly; ++index)
    EXPECT_NE(functionRow(index).implementation, nullptr) << index;
  EXPECT_EQ(functionRow(CommandFunction::HideColumnToo).implementation, functionRow(CommandFunction::HideColumn).implementation);
}

TEST_F(CommandsTest, FormulaConstantsRunOnlyInCommandPrograms) {
  ASSERT_TRUE(enter(0, 0, u"=40+2"));
  ProgramBuilder builder;
  builder.value(sheet().cellPtr(0, 0)->value);
  CommandProgram program = builder.finish();
  ASSERT_TRUE(program.valid());
  // As a formula's tokens the formula id is never trusted.
  CellValue out;
  ASSERT_TRUE(evaluateTokens(program.block(), *book, CellPosition{5, 5, 0}, true, out));
  EXPECT_EQ(out.kind, ValueKind::Error);
  EXPECT_EQ(cellError(out), CellError::Value);
  releaseValue(out);
  // Run as a command program it pushes a copy, which the run drops again.
  const uint32_t formulas = formulaPool().refCount(formulaTokens(sheet().cellPtr(0, 0)->value));
  EXPECT_TRUE(runProgram(*book, program));
  EXPECT_EQ(formulaPool().refCount(formulaTokens(sheet().cellPtr(0, 0)->value)), formulas);
}

TEST_F(CommandsTest, CommandRowsRunOnlyInProgramsAndTasks) {
  // SetCell(column 2, row 2, no style, 99): what a damaged or hostile formula could call.
  ProgramBuilder builder;
  builder.smallInteger(2).smallInteger(2).integer(-1).number(99);
  CommandProgram pushes = builder.finish();
  ASSERT_TRUE(pushes.valid());
  const uint32_t length = readU32(pushes.block()) - 1;  // without the end op
  std::vector<uint8_t> tokens(pushes.block() + 4, pushes.block() + 4 + length);
  const uint16_t setCell = CommandFunction::SetCell;
  tokens.push_back(static_cast<uint8_t>(Op::Call));
  tokens.insert(tokens.end(), reinterpret_cast<const uint8_t*>(&setCell), reinterpret_cast<const uint8_t*>(&setCell) + 2);
  tokens.push_back(4);
  tokens.push_back(static_cast<uint8_t>(Op::End));
  std::vector<uint8_t> block(4);
  const uint32_t size = static_cast<uint32_t>(tokens.size());
  std::memcpy(block.data(), &size, 4);
  block.insert(block.end(), tokens.begin(), tokens.end());

  // As a worksheet formula the call is an error value and the cell stays empty.
  CellValue out;
  ASSERT_TRUE(evaluateTokens(block.data(), *book, CellPosition{5, 5, 0}, true, out));
  EXPECT_EQ(out.kind, ValueKind::Error);
  EXPECT_EQ(cellError(out), CellError::Name);
  releaseValue(out);
  EXPECT_EQ(sheet().cellPtr(2, 2), nullptr);
  // The same call in a task writes the cell.
  EXPECT_TRUE(runTask(block.data(), *book, CellPosition{5, 5, 0}));
  ASSERT_NE(sheet().cellPtr(2, 2), nullptr);
  EXPECT_EQ(sheet().cellPtr(2, 2)->value.number(), 99);
}

// Counts of live pool entries, to see that programs give back what they hold.
struct PoolCounts {
  uint32_t texts = textPool().liveCount();
  uint32_t formulas = formulaPool().liveCount();
};

TEST_F(CommandsTest, ProgramsGiveBackTheirTextsAndFormulas) {
  const PoolCounts start;
  // Texts and formulas pass through programs, entries fall off the list and the redo
  // tail is dropped; afterwards only what the cells hold remains.
  for (int round = 0; round < 3; ++round)
    for (int i = 0; i < 14; ++i) {
      ASSERT_TRUE(enter(i % 3, 0, u"text " + digits(i)));
      ASSERT_TRUE(enter(3, i % 2, u"=\"lit\"&A1&" + digits(i)));
      if (i % 5 == 4) {
        ASSERT_TRUE(undo.undo(*book));
        ASSERT_TRUE(undo.undo(*book));
      }
    }
  select(0, 0, 3, 1);
  ASSERT_TRUE(applyBold(*book, undo, true));
  ASSERT_TRUE(clearSelection(*book, undo, ClearMode::All));
  ASSERT_TRUE(undo.undo(*book));
  ASSERT_TRUE(undo.undo(*book));
  ASSERT_TRUE(applyWholeStyle(*book, undo, newStyleRecord(), makeFont(u"Face kept in a text", 400, 0)));
  EXPECT_GT(textPool().liveCount(), start.texts);
  undo.clear();
  book.reset();
  EXPECT_EQ(textPool().liveCount(), start.texts);
  EXPECT_EQ(formulaPool().liveCount(), start.formulas);

  // A builder abandoned before finishing gives back what it was handed.
  {
    ProgramBuilder abandoned;
    CellValue text;
    makeText(text, u"held by the builder");
    abandoned.value(text).text(u"literal");
    releaseValue(text);
  }
  EXPECT_EQ(textPool().liveCount(), start.texts);
}

TEST_F(CommandsTest, UndoCopiesOfFormulasOutliveTheirWorkbook) {
  const PoolCounts start;
  const int32_t detached = FormulaTable::detached().count();
  ASSERT_TRUE(enter(0, 0, u"2"));
  ASSERT_TRUE(enter(1, 0, u"=A1*3"));
  ASSERT_TRUE(enter(1, 0, u"gone"));  // its undo program holds a copy of the formula
  EXPECT_GT(FormulaTable::detached().count(), detached);
  // The workbook closes while the undo list lives on; its table number may be reused.
  book.reset();
  book = newWorkbook(3);
  setEvalWorkbook(book.get());
  ASSERT_TRUE(sheet().setCell(0, 0, CellRecord{numberValue(5), -1}));
  ASSERT_TRUE(undo.undo(*book));
  ASSERT_EQ(kind(1, 0), ValueKind::Formula);
  EXPECT_EQ(formulaWorkbook(sheet().cellPtr(1, 0)->value), book.get());
  EXPECT_EQ(number(1, 0), 15);
  std::u16string text;
  valueToText(sheet().cellPtr(1, 0)->value, text);
  EXPECT_EQ(text, u"=A1*3");
  undo.clear();
  book.reset();
  EXPECT_EQ(FormulaTable::detached().count(), detached);
  EXPECT_EQ(formulaPool().liveCount(), start.formulas);
  EXPECT_EQ(textPool().liveCount(), start.texts);
}

TEST_F(CommandsTest, RecordingHooksRefreshAndMarkModified) {
  static int refreshed = 0;
  refreshed = 0;
  installCommandRefresh([](Workbook&) { ++refreshed; });
  book->modified = false;
  ASSERT_TRUE(enter(0, 0, u"1"));
  ASSERT_TRUE(undo.undo(*book));
  ASSERT_TRUE(undo.redo(*book));
  EXPECT_EQ(refreshed, 3);
  EXPECT_TRUE(book->modified);
  installCommandRefresh(nullptr);
  // Invalid programs are never recorded.
  EXPECT_FALSE(undo.recordUndo(*book, CommandProgram(), CommandProgram(), u"none", true));
  EXPECT_EQ(undo.size(), 1u);
  // A program run outside the list (a change whose undo could not be built) marks it
  // too, and so do the changes the list does not carry.
  book->modified = false;
  ProgramBuilder set;
  set.restoreCell(1, 0, CellRecord{numberValue(2), -1});
  ASSERT_TRUE(runProgram(*book, set.finish()));
  EXPECT_TRUE(book->modified);
  book->modified = false;
  ASSERT_TRUE(insertSheetCommand(*book, undo, u"Extra"));
  EXPECT_TRUE(book->modified);
  EXPECT_EQ(undo.size(), 0u) << "programs name sheets by number";
  EXPECT_FALSE(insertSheetCommand(*book, undo, u"extra")) << "a name taken";
  book->modified = false;
  ASSERT_TRUE(deleteSheetCommand(*book, undo, book->findSheet(u"Extra")));
  EXPECT_TRUE(book->modified);
  book->modified = false;
  SheetView view = sheet().view;
  view.zoom = 150;
  setSheetView(*book, 0, view);
  EXPECT_TRUE(book->modified);
  EXPECT_EQ(sheet().view.zoom, 150u);
}

}  // namespace
}  // namespace kelp::test
