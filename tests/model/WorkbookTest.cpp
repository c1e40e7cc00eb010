// The workbook: sheets and their names, shared tables, names and style changes.
#include <gtest/gtest.h>

#include <string>

#include "model/HandlePool.h"
#include "model/ModelHeap.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"

namespace kelp {
namespace {

TEST(Workbook, NewWorkbookHasSheetsFontsAndStyleZero) {
  auto book = newWorkbook(3);
  ASSERT_EQ(book->sheetCount(), 3);
  EXPECT_EQ(book->sheetAt(0)->name, u"Sheet1");
  EXPECT_EQ(book->sheetAt(2)->name, u"Sheet3");
  EXPECT_EQ(book->activeSheet(), book->sheetAt(0));
  EXPECT_EQ(book->sheetAt(2)->index, 2);
  // The default fonts, style zero, formats, widths and heights are pinned byte for byte
  // by the sample file (sample.upToDate) and the Excel writer's record bytes; what code
  // relies on is checked here.
  EXPECT_EQ(book->styles.size(), 1);
  ASSERT_GE(book->fonts.size(), 5);
  EXPECT_TRUE(book->fonts[3].sameAs(book->fonts[4])) << "font 4 repeats font 3 on purpose";

  auto none = newWorkbook(0);
  EXPECT_EQ(none->sheetCount(), 0);
  EXPECT_EQ(none->activeSheet(), nullptr);
}

TEST(Workbook, StyleRecordBitsAndDefaults) {
  EXPECT_EQ(sizeof(StyleRecord), 22u);
  StyleRecord s{};
  s.setBorderStyle(Edge::Left, 1);
  s.setBorderStyle(Edge::Bottom, 13);
  EXPECT_EQ(s.borders, 0xD001);
  s.setBorderColor(Edge::Right, 0x7F);
  s.setBorderColor(Edge::Bottom, 9);
  EXPECT_EQ(s.sideBorderColors, 0x3F80);
  EXPECT_EQ(s.borderFillLow, 9 << 7);
  s.setFillPattern(0x3F);
  EXPECT_EQ(s.borderFillHigh, 0xFC00);  // bits 26-31 of bytes 10-13
  EXPECT_EQ(s.borderColor(Edge::Bottom), 9);
  s.setHorizontalAlignment(HAlign::CenterAcross);
  s.setWrapText(true);
  s.setVerticalAlignment(VAlign::Justify);
  s.setRotation(90);
  EXPECT_EQ(s.alignment, 6 | 8 | (3 << 4) | (90 << 8));
  s.setIndent(15);
  s.setShrinkToFit(true);
  s.setMerged(true);
  EXPECT_EQ(s.indentation, 0x3F);

  StyleRecord fresh = newStyleRecord();
  EXPECT_TRUE(fresh.locked());
  EXPECT_EQ(fresh.verticalAlignment(), VAlign::Bottom);
  EXPECT_FALSE(fresh.drawsSomething());  // only fill colour 9 and pattern 1
  fresh.setFillPattern(2);
  EXPECT_TRUE(fresh.drawsSomething());
}

TEST(Workbook, SheetNamesRenameRulesAndCounter) {
  auto book = newWorkbook(3);
  EXPECT_FALSE(book->renameSheet(1, u"sheet1"));
  EXPECT_EQ(book->sheetAt(1)->name, u"Sheet2");
  EXPECT_TRUE(book->renameSheet(1, u"SHEET2"));  // its own name in another case
  EXPECT_TRUE(book->renameSheet(1, u"Data"));
  EXPECT_EQ(book->findSheet(u"data"), 1);
  EXPECT_EQ(book->findSheet(u"missing"), -1);
  book->deleteSheet(2);
  EXPECT_EQ(book->defaultSheetName(), u"Sheet4");
  EXPECT_EQ(book->defaultSheetName(), u"Sheet5");
  Sheet* inserted = book->insertSheet(u"First", 0);
  ASSERT_NE(inserted, nullptr);
  EXPECT_EQ(book->sheetAt(0), inserted);
  EXPECT_EQ(book->sheetAt(2)->name, u"Data");
  EXPECT_EQ(book->sheetAt(2)->index, 2);
  EXPECT_EQ(book->activeSheet()->name, u"Sheet1");  // the active sheet stays the same sheet
}

TEST(Workbook, SheetSpansAndTaskAreasFollowInsertedAndRemovedSheets) {
  auto shifted = [](uint8_t first, uint8_t last, SheetShift shift) {
    if (!shiftSheetSpan(first, last, shift)) return std::string("gone");
    return std::to_string(first) + ":" + std::to_string(last);
  };
  EXPECT_EQ(shifted(2, 2, {2, true}), "gone");
  EXPECT_EQ(shifted(2, 4, {2, true}), "2:3");
  EXPECT_EQ(shifted(2, 4, {4, true}), "2:3");
  EXPECT_EQ(shifted(2, 4, {0, true}), "1:3");
  EXPECT_EQ(shifted(2, 4, {5, true}), "2:4");
  EXPECT_EQ(shifted(2, 4, {2, false}), "3:5");
  EXPECT_EQ(shifted(2, 4, {3, false}), "2:5");
  EXPECT_EQ(shifted(2, 4, {5, false}), "2:4");
  EXPECT_EQ(shifted(255, 255, {0, false}), "gone") << "no sheet number past 255";

  // Task trigger areas follow their sheets the same way; "any sheet" stays as it is.
  auto book = newWorkbook(3);
  book->tasks.resize(3);
  book->tasks[0].area[1] = book->tasks[0].area[2] = 2;
  book->tasks[1].area[1] = book->tasks[1].area[2] = 1;
  book->tasks[2].area[1] = 255, book->tasks[2].area[2] = 245;
  book->deleteSheet(1);
  EXPECT_EQ(book->tasks[0].area[1], 1);
  EXPECT_EQ(book->tasks[0].area[2], 1);
  EXPECT_GT(book->tasks[1].area[1], book->tasks[1].area[2]) << "its sheet is gone: it covers none";
  EXPECT_NE(book->tasks[1].area[1], 255);
  EXPECT_EQ(book->tasks[2].area[1], 255);
  EXPECT_EQ(book->tasks[2].area[2], 245);
  book->insertSheet(u"Front", 0);
  EXPECT_EQ(book->tasks[0].area[1], 2);
}

TEST(Workbook, ExternalBooksNamesAndTaskVariables) {
  auto book = newWorkbook(1);
  EXPECT_EQ(book->findOrAddExternalBook(u"/data/", u"Prices.kp"), 1);
  EXPECT_EQ(book->findOrAddExternalBook(u"/data/", u"prices.KP"), 1);
  EXPECT_EQ(book->findOrAddExternalBook(u"/other/", u"Prices.kp"), 2);
  book->externalBook(1)->sheetNames = {u"Jan", u"Feb"};
  EXPECT_EQ(book->findSheet(u"feb", 1), 1);
  EXPECT_EQ(book->findSheet(u"feb", 3), -1);
  EXPECT_EQ(book->externalBook(0), nullptr);

  const uint8_t tokens[] = {5, 0, 0, 0, 4, 1, 0, 0};
  uint32_t first = formulaPool().add(tokens, sizeof tokens, 1);
  uint32_t second = formulaPool().add(tokens, sizeof tokens, 1);
  EXPECT_EQ(book->setName(u"Rate", first), 0);
  EXPECT_EQ(book->findName(u"RATE"), 0);
  EXPECT_EQ(book->setName(u"rate", second), 0);  // redefining releases the old definition
  EXPECT_FALSE(formulaPool().isLive(first));
  EXPECT_EQ(book->names.size(), 1u);

  int32_t v = book->addTaskVariable(u"Total");
  makeText(book->taskVariables[static_cast<size_t>(v)].value, u"owned by the variable");
  EXPECT_EQ(book->findTaskVariable(u"total"), v);
  book->clearTaskVariables();
  EXPECT_EQ(book->findTaskVariable(u"total"), -1);
  book.reset();
  EXPECT_FALSE(formulaPool().isLive(second));
}

TEST(Workbook, AddFontMergesEqualRecordsButNotTheStandardOnes) {
  auto book = newWorkbook(1);
  FontRecord bold = makeFont(u"Arial", 700, FontOption::Bold);
  EXPECT_EQ(book->addFont(bold), 1);
  bold.reserved = 9;  // the reserved byte does not count
  EXPECT_EQ(book->addFont(bold), 1);
  FontRecord lower = makeFont(u"arial", 700, FontOption::Bold);  // faces compare case-sensitively
  EXPECT_EQ(book->addFont(lower), 6);
}

TEST(Workbook, ApplyStyleChangeOverASelection) {
  auto book = newWorkbook(1);
  Sheet& sheet = *book->sheetAt(0);
  ASSERT_TRUE(sheet.setCell(0, 0, CellRecord{numberValue(1), -1}));
  ASSERT_TRUE(sheet.setCell(1, 0, CellRecord{numberValue(2), -1}));
  sheet.selection = Selection{0, 0, 1, 1, 0, 0, 1, 1};  // A1:B2

  StyleRecord fields{};
  fields.numberFormat = 2;
  FontRecord font{};
  font.options = FontOption::Bold;
  font.weight = 700;
  book->applyStyleChange(sheet, fields, StyleField::NumberFormat, font, FontField::Bold | FontField::Weight);

  int16_t changed = sheet.effectiveStyle(0, 0);
  ASSERT_GT(changed, 0);
  for (int r = 0; r <= 1; ++r)
    for (int c = 0; c <= 1; ++c) EXPECT_EQ(sheet.effectiveStyle(c, r), changed);
  EXPECT_EQ(sheet.cellValue(1, 0).number(), 2);  // values untouched
  const StyleRecord& style = book->style(changed);
  EXPECT_EQ(style.numberFormat, 2);
  EXPECT_EQ(style.fillColors, 0x20C0);  // unflagged fields kept
  const FontRecord& bold = book->fonts[style.font];
  EXPECT_EQ(bold.face(), u"Tahoma");
  EXPECT_EQ(bold.weight, 700);
  EXPECT_EQ(bold.options & FontOption::Bold, FontOption::Bold);
  EXPECT_EQ(book->styles.size(), 2);

  // The same change again adds nothing; a change back to style 0's fields finds style 0.
  book->applyStyleChange(sheet, fields, StyleField::NumberFormat, font, FontField::Bold | FontField::Weight);
  EXPECT_EQ(book->styles.size(), 2);
}

TEST(Workbook, ApplyStyleChangeToWholeColumnsAndRowsCreatesNoEmptySlots) {
  auto book = newWorkbook(1);
  Sheet& sheet = *book->sheetAt(0);
  ASSERT_TRUE(sheet.setCell(2, 100, CellRecord{numberValue(1), -1}));
  sheet.selection = Selection{0, 2, 65535, 3, 0, 2, 65535, 3};  // columns C:D
  StyleRecord fields{};
  fields.setHorizontalAlignment(HAlign::Right);
  FontRecord font{};
  book->applyStyleChange(sheet, fields, StyleField::HorizontalAlignment, font, 0);
  int16_t right = sheet.columns.columnStyle(2);
  ASSERT_GT(right, 0);
  EXPECT_EQ(sheet.columns.columnStyle(3), right);
  EXPECT_EQ(sheet.effectiveStyle(3, 40000), right);
  EXPECT_EQ(sheet.cellCountOf(100), 3);  // no slot made for D101
  EXPECT_EQ(sheet.rowArraySize(), 101);

  sheet.selection = Selection{5, 0, 6, 255, 5, 0, 6, 255};  // rows 6:7
  fields.setHorizontalAlignment(HAlign::Center);
  book->applyStyleChange(sheet, fields, StyleField::HorizontalAlignment, font, 0);
  int16_t centered = sheet.rowStyle(5);
  ASSERT_GT(centered, 0);
  EXPECT_EQ(book->style(centered).horizontalAlignment(), HAlign::Center);
  EXPECT_EQ(sheet.effectiveStyle(200, 6), centered);
  EXPECT_EQ(sheet.cellCountOf(5), 0);
}

TEST(Workbook, ApplyStyleChangeStopsWhenMemoryRunsOut) {
  clearError();
  auto book = newWorkbook(1);
  Sheet& sheet = *book->sheetAt(0);
  sheet.selection = Selection{0, 0, 99, 9, 0, 0, 99, 9};
  StyleRecord fields{};
  fields.numberFormat = 1;
  FontRecord font{};
  heapFailAfter(3);
  book->applyStyleChange(sheet, fields, StyleField::NumberFormat, font, 0);
  heapFailAfter(-1);
  EXPECT_EQ(pendingError(), 15u);
  EXPECT_LT(sheet.lastUsedRow(-1), 99);
  clearError();
}

}  // namespace
}  // namespace kelp
