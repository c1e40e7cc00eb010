// Tests of the Excel workbook writer: record bytes of small workbooks, strings across
// CONTINUE records, what Excel 95 cannot hold, and Kelp reading its own export back.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "files/DocStream.h"
#include "files/Document.h"
#include "files/ExcelReader.h"
#include "files/ExcelWriter.h"
#include "formula/Compiler.h"
#include "formula/FormulaText.h"
#include "formula/Recalc.h"
#include "formula/Tokens.h"
#include "model/HandlePool.h"
#include "model/NumberFormat.h"
#include "model/Workbook.h"
#include "platform/CompoundFile.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"
#include "NativeTestSupport.h"
#include "TempFolder.h"

namespace kelp {
namespace {

using test::formulaOf;
using test::hex;
using test::setFormula;
using test::setText;

struct Record {
  uint16_t type;
  std::vector<uint8_t> data;
};

std::vector<Record> recordsOf(const std::vector<uint8_t>& stream) {
  std::vector<Record> out;
  size_t at = 0;
  while (at + 4 <= stream.size()) {
    const uint16_t type = static_cast<uint16_t>(stream[at] | stream[at + 1] << 8);
    const uint16_t length = static_cast<uint16_t>(stream[at + 2] | stream[at + 3] << 8);
    EXPECT_LE(at + 4 + length, stream.size()) << "record " << type << " runs past the stream";
    out.push_back(Record{type, std::vector<uint8_t>(stream.begin() + static_cast<long>(at) + 4,
                                                    stream.begin() + static_cast<long>(at + 4 + length))});
    at += 4 + length;
  }
  EXPECT_EQ(at, stream.size());
  return out;
}

std::vector<uint8_t> writeStream(Workbook& book, bool biff8) {
  std::vector<uint8_t> bytes;
  StorageDocStream stream(bytes);
  EXPECT_TRUE(writeExcelWorkbook(book, stream, biff8));
  stream.Flush();
  return bytes;
}

std::unique_ptr<Workbook> readStream(std::vector<uint8_t> bytes, bool biff8) {
  auto book = newWorkbook(0);
  StorageDocStream stream(bytes);
  clearError();
  EXPECT_TRUE(readExcelWorkbook(*book, stream, biff8)) << "error " << pendingError();
  return book;
}

// The records of the sheet substreams, from the first worksheet BOF on.
std::vector<Record> sheetRecords(const std::vector<Record>& all, int sheet) {
  std::vector<Record> out;
  int seen = -1;
  for (const Record& r : all) {
    if (r.type == 0x0809 && r.data.size() >= 4 && r.data[2] == 0x10) ++seen;
    if (seen == sheet) out.push_back(r);
    if (seen == sheet && r.type == 0x000A) break;
  }
  return out;
}

const Record* find(const std::vector<Record>& records, uint16_t type, size_t nth = 0) {
  for (const Record& r : records)
    if (r.type == type && nth-- == 0) return &r;
  return nullptr;
}

size_t count(const std::vector<Record>& records, uint16_t type) {
  size_t n = 0;
  for (const Record& r : records) n += r.type == type;
  return n;
}

std::string narrow(std::u16string_view s) { return std::string(s.begin(), s.end()); }

void setNumber(Sheet& sheet, int32_t col, int32_t row, double number, int16_t style = -1) {
  ASSERT_TRUE(sheet.setCell(col, row, CellRecord{numberValue(number), style}));
}

TEST(ExcelWriter, SmallWorkbookRecordsCarryTheExpectedBytes) {
  for (bool biff8 : {true, false}) {
    SCOPED_TRACE(biff8 ? "BIFF8" : "BIFF5");
    auto book = newWorkbook(1);
    Sheet& s = *book->sheetAt(0);
    setNumber(s, 0, 0, 1.5);
    setText(s, 1, 0, u"Hé");
    ASSERT_TRUE(s.setCell(2, 0, CellRecord{logicalValue(true), -1}));
    ASSERT_TRUE(s.setCell(3, 0, CellRecord{errorValue(CellError::Div0), -1}));
    StyleRecord boxed = book->style(0);
    boxed.setBorderStyle(Edge::Top, 1);
    const int32_t boxedIndex = book->findOrAddStyle(boxed);
    ASSERT_TRUE(s.setCellStyle(1, 2, 0));
    ASSERT_TRUE(s.setCellStyle(2, 2, static_cast<int16_t>(boxedIndex)));
    std::vector<Record> all = recordsOf(writeStream(*book, biff8));

    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all[0].type, 0x0809);
    EXPECT_EQ(all[0].data, biff8 ? hex("0006 0500 AF18 CD07 C1400000 06010000") : hex("0005 0500 3D11 CA07"));
    // A new workbook has six fonts; Excel has no font 4, so five are written.
    EXPECT_EQ(count(all, 0x0031), 5u);
    EXPECT_EQ(find(all, 0x013D)->data, hex("0000"));
    // Fifteen style formats, then Kelp's styles from style 0 on.
    EXPECT_EQ(count(all, 0x00E0), 15u + static_cast<size_t>(book->styles.size()));
    EXPECT_EQ(find(all, 0x00E0)->data, biff8 ? hex("0000 0000 F5FF 2000 0000 0000 0000 0000 0000 C020")
                                             : hex("0000 0000 F5FF 2000 C0200000 00000000"));
    EXPECT_EQ(count(all, 0x0293), 1u) << "only the Normal style names a style format";
    EXPECT_EQ(count(all, 0x00FC), biff8 ? 1u : 0u);
    EXPECT_EQ(count(all, 0x01AE), biff8 ? 1u : 0u);
    if (biff8) {
      EXPECT_EQ(find(all, 0x00FC)->data, hex("01000000 01000000 0200 01 4800 E900"));
    } else {
      EXPECT_EQ(find(all, 0x0017)->data, hex("06 03 536865657431"));
    }

    std::vector<Record> sheet = sheetRecords(all, 0);
    ASSERT_FALSE(sheet.empty());
    const Record* bound = find(all, 0x0085);
    ASSERT_NE(bound, nullptr);
    // The sheet's stream position was patched into its BOUNDSHEET.
    std::vector<uint8_t> stream = writeStream(*book, biff8);
    uint32_t position;
    std::memcpy(&position, bound->data.data(), 4);
    ASSERT_LT(position + 6u, stream.size());
    EXPECT_EQ(stream[position], 0x09);
    EXPECT_EQ(stream[position + 6], 0x10);

    EXPECT_EQ(find(sheet, 0x0200)->data, biff8 ? hex("00000000 03000000 0000 0400 0000") : hex("0000 0300 0000 0400 0000"));
    // Row 1 with cells A to D; row 3 holds only formatted blanks, and style 0 is no format.
    EXPECT_EQ(find(sheet, 0x0208)->data, hex("0000 0000 0400 FF00 00000000 0001 0F00"));
    EXPECT_EQ(find(sheet, 0x0208, 1)->data, hex("0200 0200 0300 FF00 00000000 0001 0F00"));
    EXPECT_EQ(find(sheet, 0x0203)->data, hex("0000 0000 0F00 000000000000F83F"));
    if (biff8) {
      EXPECT_EQ(find(sheet, 0x00FD)->data, hex("0000 0100 0F00 00000000"));
    } else {
      EXPECT_EQ(find(sheet, 0x0204)->data, hex("0000 0100 0F00 0200 48E9"));
    }
    EXPECT_EQ(find(sheet, 0x0205)->data, hex("0000 0200 0F00 01 00"));
    EXPECT_EQ(find(sheet, 0x0205, 1)->data, hex("0000 0300 0F00 07 01"));
    const std::vector<uint8_t> blank{2, 0, 2, 0, static_cast<uint8_t>(15 + boxedIndex), 0};
    EXPECT_EQ(find(sheet, 0x0201)->data, blank);
    EXPECT_EQ(count(sheet, 0x0201), 1u);
    EXPECT_EQ(find(sheet, 0x023E)->data,
              biff8 ? hex("B606 0000 0000 4000 0000 0000 0000 00000000") : hex("B606 0000 0000 40000000"));
    EXPECT_EQ(find(sheet, 0x00A0)->data, hex("0100 0100"));
    // Excel 95 readers take 3-D references through the sheet's own EXTERNSHEET table.
    EXPECT_EQ(count(sheet, 0x0017), biff8 ? 0u : 1u);
    EXPECT_EQ(find(sheet, 0x001D)->data, hex("03 0000 0000 0000 0100 0000 0000 00 00"));
    EXPECT_EQ(sheet.back().type, 0x000A);
  }
}

TEST(ExcelWriter, PanesMergesValidationAndFormulaResultsCarryTheExpectedBytes) {
  installTokenHooks();
  auto book = newWorkbook(1);
  Sheet& s = *book->sheetAt(0);
  setText(s, 0, 0, u"ab");
  setFormula(*book, s, 1, 0, u"=A1&\"c\"");
  ASSERT_TRUE(s.mergedAreas.append(Area{2, 1, 3, 2}));
  ValidationEntry rule;
  rule.rule.flags = 0x83;  // a list typed into the rule
  rule.rule.list = {u"x", u"y"};
  rule.areas.push_back(Area{4, 0, 5, 0});
  s.validations.push_back(rule);
  s.view.rowsFrozen = s.view.columnsFrozen = true;
  s.view.frozenLastRow = 1;
  s.view.frozenLastColumn = 0;
  s.view.topRow = 2;
  s.view.leftColumn = 1;
  s.view.zoom = 75;
  recalculateAll(*book);
  const std::vector<Record> all = recordsOf(writeStream(*book, true));
  const std::vector<Record> sheet = sheetRecords(all, 0);
  // ="ab"&"c": the reference in value class, the text result in a STRING record.
  EXPECT_EQ(find(sheet, 0x0006)->data, hex("0000 0100 0F00 000000000000FFFF 0000 00000000 0B00 44 0000 00C0 17 0101 6300 08"));
  EXPECT_EQ(find(sheet, 0x0207)->data, hex("0300 01 610062006300"));
  EXPECT_EQ(find(sheet, 0x023E)->data, hex("BE07 0000 0000 4000 0000 0000 0000 00000000"));
  EXPECT_EQ(find(sheet, 0x00A0)->data, hex("0300 0400"));
  EXPECT_EQ(find(sheet, 0x0041)->data, hex("0100 0200 0200 0100 00 00"));
  EXPECT_EQ(find(sheet, 0x001D)->data, hex("00 0000 0000 0000 0100 0000 0000 00 00"));
  EXPECT_EQ(find(sheet, 0x00E5)->data, hex("0100 0200 0300 0100 0200"));
  EXPECT_EQ(find(sheet, 0x01B2)->data, hex("0000 00000000 00000000 FFFFFFFF 01000000"));
  EXPECT_EQ(find(sheet, 0x01BE)->data,
            hex("83000000 0100 00 00 0100 00 00 0100 00 00 0100 00 00 0900 0000 17 03 01 7800 0000 7900 0000 0000 0100 0400 0500 0000 0000"));
}

TEST(ExcelWriter, LongTextsCrossContinueRecordsAndReadBackWhole) {
  auto book = newWorkbook(1);
  Sheet& s = *book->sheetAt(0);
  // 5,000 and 8,000 16-bit characters overflow the first SST record and a CONTINUE; a
  // formula's long text result goes on in CONTINUE records of its own.
  std::u16string first(5000, u'ä'), second(8000, u'Ω'), third = u"short";
  setText(s, 0, 0, first);
  setText(s, 0, 1, second);
  setText(s, 0, 2, third);
  setText(s, 1, 0, third);
  setText(s, 2, 0, std::u16string(12000, u'x'));
  setFormula(*book, s, 3, 0, u"=C1");
  recalculateAll(*book);
  std::vector<uint8_t> stream = writeStream(*book, true);
  std::vector<Record> all = recordsOf(stream);
  for (const Record& r : all) EXPECT_LE(r.data.size(), 8224u) << "record " << r.type;
  // The SST and its CONTINUE records: every CONTINUE that goes on inside a string's
  // characters starts with the 16-bit option byte.
  size_t sst = 0;
  while (all[sst].type != 0x00FC) ++sst;
  ASSERT_EQ(all[sst + 1].type, 0x003C);
  EXPECT_EQ(all[sst + 1].data[0], 0x01);
  const std::vector<Record> sheet = sheetRecords(all, 0);
  const Record* string = find(sheet, 0x0207);
  ASSERT_NE(string, nullptr);
  EXPECT_EQ(sheet[static_cast<size_t>(string - sheet.data()) + 1].type, 0x003C);

  auto back = readStream(stream, true);
  const Sheet& t = *back->sheetAt(0);
  EXPECT_EQ(textOf(t.cellValue(0, 0)), first);
  EXPECT_EQ(textOf(t.cellValue(0, 1)), second);
  EXPECT_EQ(textOf(t.cellValue(0, 2)), third);
  EXPECT_EQ(textOf(t.cellValue(1, 0)), third);
  EXPECT_EQ(textOf(t.cellValue(2, 0)).size(), 12000u);
  EXPECT_EQ(formulaOf(*back, t, 3, 0), u"=C1");
  EXPECT_EQ(textOf(t.cellValue(3, 0)).size(), 12000u);
}

TEST(ExcelWriter, WhatExcel95CannotHoldIsNamedOnceAndTheRestIsKept) {
  installTokenHooks();
  auto book = newWorkbook(1);
  Sheet& s = *book->sheetAt(0);
  setText(s, 0, 0, std::u16string(300, u'a'));
  setText(s, 0, 1, u"日本");
  setText(s, 0, 2, u"x😀y");
  setFormula(*book, s, 1, 0, u"=A20000+1");
  setFormula(*book, s, 1, 1, u"=1+2");
  ASSERT_TRUE(s.mergedAreas.append(Area{4, 0, 5, 1}));
  ValidationEntry rule;
  rule.rule.flags = 0x80;
  rule.rule.list = {u"a", u"b"};
  rule.areas.push_back(Area{7, 0, 7, 0});
  s.validations.push_back(rule);
  // Both names become "??" in code page 1252; the second one gets a number to stay its own.
  ASSERT_NE(book->insertSheet(u"日本"), nullptr);
  ASSERT_NE(book->insertSheet(u"中国"), nullptr);
  recalculateAll(*book);

  (void)takeNotice();
  std::vector<uint8_t> stream = writeStream(*book, false);
  DocumentNotice notice = takeNotice();
  EXPECT_EQ(notice.code, static_cast<uint32_t>(Err::FormatCut));
  const std::string detail = narrow(notice.detail);
  for (const char* part : {"texts longer than 255", "Sheet1!A1", "code page lacks", "past row 16,384", "Sheet1!B1",
                           "merged cells", "validation rules", "renamed (first at 日本, 2 in all)"})
    EXPECT_NE(notice.detail.find(utf8ToUtf16(part)), std::u16string::npos) << part << " missing from: " << detail;
  EXPECT_EQ(detail.find("Sheet1!B2"), std::string::npos) << "=1+2 needs no cut";

  std::vector<Record> all = recordsOf(stream);
  EXPECT_EQ(count(all, 0x00FC) + count(all, 0x01AE) + count(all, 0x00E5) + count(all, 0x01BE), 0u);
  auto back = readStream(stream, false);
  const Sheet& t = *back->sheetAt(0);
  EXPECT_EQ(textOf(t.cellValue(0, 0)), std::u16string(255, u'a'));
  EXPECT_EQ(textOf(t.cellValue(0, 1)), u"??");
  EXPECT_EQ(textOf(t.cellValue(0, 2)), u"x?y") << "one character, one question mark";
  EXPECT_EQ(t.cellPtr(1, 0)->value.kind, ValueKind::Number) << "the unreachable formula keeps its value";
  EXPECT_EQ(formulaOf(*back, t, 1, 1), u"=1+2");
  ASSERT_EQ(back->sheetCount(), 3);
  EXPECT_EQ(back->sheetAt(1)->name, u"??");
  EXPECT_EQ(back->sheetAt(2)->name, u"??~2");

  // The Excel 97 form holds all of it, so nothing is noted.
  (void)writeStream(*book, true);
  DocumentNotice none = takeNotice();
  EXPECT_EQ(none.code, 0u) << narrow(none.detail);

  // A number format too long for its record is named by the first cell that shows it.
  NumberFormatRecord wordy = fixedFormat(2, false);
  wordy.positivePrefix = std::u16string(300, u'w');
  StyleRecord fields{};
  fields.numberFormat = static_cast<uint16_t>(findOrAddNumberFormat(book->numberFormats, wordy));
  ASSERT_TRUE(s.setCell(2, 2, CellRecord{numberValue(5), book->changedStyle(0, fields, StyleField::NumberFormat,
                                                                            FontRecord{}, 0)}));
  (void)writeStream(*book, true);
  EXPECT_EQ(takeNotice().detail, u"number format codes longer than 255 characters (first at Sheet1!C3)");
}

TEST(ExcelWriter, FontFourAndManyMergedAreasAreNotLost) {
  auto book = newWorkbook(1);
  Sheet& s = *book->sheetAt(0);
  // A style that uses Kelp's font 4 gets a copy of that font after the others.
  FontRecord special = makeFont(u"Courier New", 700, FontOption::Bold);
  book->fonts[4] = special;
  StyleRecord style = book->style(0);
  style.font = 4;
  const int32_t styleIndex = book->findOrAddStyle(style);
  setText(s, 0, 0, u"x", static_cast<int16_t>(styleIndex));
  for (uint16_t i = 0; i < 1200; ++i) ASSERT_TRUE(s.mergedAreas.append(Area{static_cast<uint16_t>(2 * i), 2, static_cast<uint16_t>(2 * i), 3}));
  std::vector<uint8_t> stream = writeStream(*book, true);
  std::vector<Record> all = recordsOf(stream);
  EXPECT_EQ(count(all, 0x0031), 6u);
  EXPECT_EQ(count(sheetRecords(all, 0), 0x00E5), 2u);

  auto back = readStream(stream, true);
  const Sheet& t = *back->sheetAt(0);
  EXPECT_EQ(t.mergedAreas.size(), 1200);
  const FontRecord& font = back->fonts[back->style(t.cellPtr(0, 0)->style).font];
  EXPECT_EQ(font.face(), u"Courier New");
  EXPECT_EQ(font.weight, 700);
}

// Kelp's reading of its own export shows what the workbook showed: values, formulas,
// formats and fonts cell by cell, names, tasks, the view and the sheet settings. Saving
// what was read gives the same bytes again.
TEST(ExcelWriter, KelpReadsItsOwnExportBackAsItWas) {
  installTokenHooks();
  for (bool biff8 : {true, false}) {
    SCOPED_TRACE(biff8 ? "BIFF8" : "BIFF5");
    auto book = newWorkbook(3);
    Workbook& wb = *book;
    ASSERT_TRUE(wb.renameSheet(1, u"Data 2"));
    Sheet& s = *wb.sheetAt(0);
    Sheet& d = *wb.sheetAt(1);
    NumberFormatRecord money = fixedFormat(2, true);
    money.positivePrefix = u"€";
    money.negativePrefix = u"-€";
    StyleRecord moneyStyle = wb.style(0);
    moneyStyle.numberFormat = static_cast<uint16_t>(wb.findOrAddNumberFormat(money));
    moneyStyle.setHorizontalAlignment(HAlign::Right);
    moneyStyle.setBorderStyle(Edge::Bottom, 2);
    moneyStyle.setFillPattern(1);
    moneyStyle.setFillForeground(10);
    const int16_t moneyIndex = static_cast<int16_t>(wb.findOrAddStyle(moneyStyle));
    StyleRecord dateStyle = wb.style(0);
    dateStyle.numberFormat = static_cast<uint16_t>(wb.findOrAddNumberFormat(dateFormat(u"yyyy-MM-dd", u"HH:mm")));
    dateStyle.font = static_cast<uint16_t>(wb.addFont(makeFont(u"Times New Roman", 700, FontOption::Bold | FontOption::Italic)));
    const int16_t dateIndex = static_cast<int16_t>(wb.findOrAddStyle(dateStyle));

    setText(s, 0, 0, u"Item");
    setNumber(s, 1, 1, 1234.5, moneyIndex);
    setNumber(s, 1, 2, -2.25, moneyIndex);
    ASSERT_TRUE(s.setCell(2, 1, CellRecord{dateTimeValue(45000.75), dateIndex}));
    setNumber(d, 0, 0, 7);
    setFormula(wb, s, 3, 1, u"=Sum(B2:B3)*2");
    setFormula(wb, s, 3, 2, u"=If(B2>0,\"up\",\"down\")");
    setFormula(wb, s, 3, 3, u"='Data 2'!A1+Sheet3!A1");
    setFormula(wb, s, 3, 4, u"=$B$2&\"!\"");
    ASSERT_GE(wb.setName(u"Bonus", compileToHandle(wb, u"='Data 2'!$A$1", CellPosition{}, false)), 0);
    setFormula(wb, s, 3, 5, u"=Bonus*2");
    ASSERT_TRUE(s.setRowHeight(6, 600, true));
    ASSERT_TRUE(s.columns.setColumnWidths(1, 2, 4000));
    ASSERT_TRUE(s.columns.setColumnsHidden(5, 5, true));
    s.view.zoom = 150;
    s.view.rowsFrozen = true;
    s.view.frozenFirstRow = 0;
    s.view.frozenLastRow = 0;
    s.view.topRow = 1;
    s.view.showGridlines = false;
    s.selection.firstRow = s.selection.lastRow = s.selection.activeRow = s.selection.endRow = 2;
    s.selection.firstColumn = s.selection.lastColumn = s.selection.activeColumn = s.selection.endColumn = 1;
    s.print.header = u"Budget";
    s.print.leftMargin = 0.5;
    d.visibility = SheetVisibility::Hidden;
    wb.setActiveSheet(2);
    if (biff8) {
      ASSERT_TRUE(s.mergedAreas.append(Area{8, 0, 9, 2}));
      ValidationEntry list;
      list.rule.flags = 0x00040083;
      list.rule.inputTitle = u"Pick";
      list.rule.inputMessage = u"One of three";
      list.rule.list = {u"red", u"green", u"blue"};
      list.areas = {Area{10, 0, 11, 0}, Area{10, 3, 10, 3}};
      s.validations.push_back(list);
      ValidationEntry whole;
      whole.rule.flags = 0x00000001 | (1u << 20);  // a whole number, not between
      whole.rule.errorMessage = u"Too big";
      whole.rule.formula1 = compileToHandle(wb, u"=1", CellPosition{}, false);
      whole.rule.formula2 = compileToHandle(wb, u"=$B$2*2", CellPosition{}, false);
      whole.areas = {Area{10, 1, 10, 1}};
      s.validations.push_back(whole);
    }
    WorkbookTask menu;
    menu.name = u"Greet";
    menu.definition = std::u16string(600, u'.') + u"Beep()";
    menu.runOn = 1;
    menu.menuText = u"Say hello";
    WorkbookTask tap;
    tap.name = u"OnTap";
    tap.definition = u"Set(A1,1)";
    tap.runOn = 2;
    tap.area[1] = tap.area[2] = 1;
    const Area tapArea{1, 1, 3, 2};
    std::memcpy(tap.area + 4, &tapArea, sizeof tapArea);
    WorkbookTask global;
    global.name = u"Everywhere";
    global.global = true;
    wb.tasks = {menu, tap, global};
    recalculateAll(wb);

    (void)takeNotice();
    std::vector<uint8_t> stream = writeStream(wb, biff8);
    EXPECT_EQ(takeNotice().code, 0u);
    auto back = readStream(stream, biff8);
    const Workbook& rb = *back;

    ASSERT_EQ(rb.sheetCount(), 3) << "the data sheet is no sheet";
    EXPECT_EQ(rb.sheetAt(1)->name, u"Data 2");
    EXPECT_EQ(rb.sheetAt(1)->visibility, SheetVisibility::Hidden);
    EXPECT_EQ(rb.activeSheetIndex(), 2);
    for (int32_t i = 0; i < 3; ++i) {
      const Sheet& a = *wb.sheetAt(i);
      const Sheet& b = *rb.sheetAt(i);
      for (int32_t r = 0; r < 12; ++r)
        for (int32_t c = 0; c < 6; ++c) {
          SCOPED_TRACE(narrow(a.name) + " row " + std::to_string(r) + " col " + std::to_string(c));
          const CellValue& va = a.cellValue(c, r);
          const CellValue& vb = b.cellValue(c, r);
          ASSERT_EQ(va.kind, vb.kind);
          if (va.isNumeric()) {
            EXPECT_EQ(va.number(), vb.number());
          } else if (va.kind == ValueKind::Text) {
            EXPECT_EQ(textOf(va), textOf(vb));
          } else if (va.kind != ValueKind::Empty) {
            EXPECT_EQ(va.u32(), vb.u32());
          }
          EXPECT_EQ(narrow(formulaOf(wb, a, c, r)), narrow(formulaOf(rb, b, c, r)));
          const StyleRecord& sa = wb.style(a.effectiveStyle(c, r));
          const StyleRecord& sb = rb.style(b.effectiveStyle(c, r));
          EXPECT_TRUE(wb.numberFormats[sa.numberFormat].sameAs(rb.numberFormats[sb.numberFormat]));
          EXPECT_TRUE(wb.fonts[sa.font].sameAs(rb.fonts[sb.font]));
          EXPECT_EQ(sa.alignment, sb.alignment);
          EXPECT_EQ(sa.borders, sb.borders);
          EXPECT_EQ(sa.fillColors, sb.fillColors);
          EXPECT_EQ(sa.borderFillHigh >> 10, sb.borderFillHigh >> 10);
        }
    }
    const Sheet& t = *rb.sheetAt(0);
    EXPECT_EQ(t.rowHeight(6), 600);
    EXPECT_EQ(t.columns.columnWidth(1), 4000);
    EXPECT_TRUE(t.columns.isColumnHidden(5));
    EXPECT_EQ(t.view.zoom, 150u);
    EXPECT_TRUE(t.view.rowsFrozen);
    EXPECT_EQ(t.view.frozenLastRow, 0);
    EXPECT_FALSE(t.view.showGridlines);
    EXPECT_EQ(t.selection.activeRow, 2);
    EXPECT_EQ(t.selection.activeColumn, 1);
    EXPECT_EQ(t.print.header, u"Budget");
    EXPECT_EQ(t.print.leftMargin, 0.5);
    EXPECT_EQ(t.mergedAreas.size(), biff8 ? 1 : 0);
    ASSERT_EQ(t.validations.size(), biff8 ? 2u : 0u);
    for (size_t v = 0; v < t.validations.size(); ++v) {
      const ValidationRule& a = s.validations[v].rule;
      const ValidationRule& b = t.validations[v].rule;
      EXPECT_EQ(b.flags, a.flags);
      EXPECT_EQ(b.inputTitle, a.inputTitle);
      EXPECT_EQ(b.inputMessage, a.inputMessage);
      EXPECT_EQ(b.errorTitle, a.errorTitle);
      EXPECT_EQ(b.errorMessage, a.errorMessage);
      EXPECT_EQ(b.list, a.list);
      EXPECT_EQ(t.validations[v].areas, s.validations[v].areas);
      for (uint32_t handle : {b.formula2}) {
        if (a.formula2 == NoHandle) continue;
        std::u16string text;
        ASSERT_TRUE(formulaText(rb, static_cast<const uint8_t*>(formulaPool().data(handle)), CellPosition{}, text));
        EXPECT_EQ(text, u"=$B$2*2");
      }
    }
    ASSERT_EQ(rb.names.size(), 1u);
    EXPECT_EQ(rb.names[0].text, u"Bonus");
    ASSERT_EQ(rb.tasks.size(), 2u) << "a global task stays in the settings";
    EXPECT_EQ(rb.tasks[0].definition, menu.definition);
    EXPECT_EQ(rb.tasks[0].menuText, menu.menuText);
    EXPECT_EQ(rb.tasks[1].runOn, 2u);
    EXPECT_EQ(std::memcmp(rb.tasks[1].area, tap.area, 12), 0);

    // What was read is written again byte for byte.
    std::vector<uint8_t> again = writeStream(*back, biff8);
    auto third = readStream(again, biff8);
    std::vector<uint8_t> last = writeStream(*third, biff8);
    EXPECT_EQ(last.size(), again.size());
    size_t differ = 0;
    while (differ < std::min(last.size(), again.size()) && last[differ] == again[differ]) ++differ;
    EXPECT_EQ(differ, again.size()) << "first difference at byte " << differ;
  }
}

TEST(ExcelWriter, ErrorConstantsInFormulasAndNamesAreWrittenAsPtgErrAndReadBack) {
  installTokenHooks();
  for (bool biff8 : {true, false}) {
    SCOPED_TRACE(biff8 ? "BIFF8" : "BIFF5");
    auto book = newWorkbook(2);
    Workbook& wb = *book;
    Sheet& s = *wb.sheetAt(0);
    setNumber(s, 0, 0, 1);
    setFormula(wb, s, 1, 0, u"=If(A1>0,!!NA,!!Ref)");
    setFormula(wb, *wb.sheetAt(1), 0, 0, u"=IsError(!!Ref)");
    ASSERT_GE(wb.setName(u"Gone", compileToHandle(wb, u"=!!Ref", CellPosition{}, false)), 0);
    recalculateAll(wb);
    const std::vector<uint8_t> stream = writeStream(wb, biff8);
    const std::vector<Record> records = recordsOf(stream);
    // The name's tokens are ptgErr #REF! alone, at the end of its record.
    const Record* name = find(records, 0x0018);
    ASSERT_NE(name, nullptr);
    ASSERT_GE(name->data.size(), 2u);
    EXPECT_EQ(name->data[4] | name->data[5] << 8, 2);
    EXPECT_EQ(std::vector<uint8_t>(name->data.end() - 2, name->data.end()), hex("1c17"));
    auto back = readStream(stream, biff8);
    ASSERT_EQ(back->names.size(), 1u);
    std::u16string text;
    ASSERT_TRUE(formulaText(*back, static_cast<const uint8_t*>(formulaPool().data(back->names[0].definition)),
                            CellPosition{}, text));
    EXPECT_EQ(text, u"=!!Ref");
    EXPECT_EQ(narrow(formulaOf(*back, *back->sheetAt(0), 1, 0)), "=If(A1>0,!!NA,!!Ref)");
    EXPECT_EQ(narrow(formulaOf(*back, *back->sheetAt(1), 0, 0)), "=IsError(!!Ref)");
    const CellValue& result = effectiveValue(back->sheetAt(0)->cellPtr(1, 0)->value);
    ASSERT_EQ(result.kind, ValueKind::Error);
    EXPECT_EQ(result.u32(), static_cast<uint32_t>(CellError::NA));
  }
  clearError();
}

TEST(ExcelWriter, SavingAsExcelMakesACompoundFileThatOpensAgainAsTheSameType) {
  installTokenHooks();
  test::TempFolder folder;
  Document doc;
  setNumber(*doc.workbook().sheetAt(0), 0, 0, 42);
  for (DocFileType type : {DocFileType::Excel97, DocFileType::Excel95}) {
    clearError();
    const std::u16string name = folder.file(type == DocFileType::Excel97 ? "book97.xls" : "book95.xls");
    ASSERT_TRUE(SaveDocument(doc, name, type)) << "error " << pendingError();
    EXPECT_EQ(doc.workbook().fileType, static_cast<uint32_t>(type));
    EXPECT_EQ(doc.workbook().fileName, name);

    ReleaseDocumentFile(doc);  // the document holds its file against every other opener
    Document other;
    ASSERT_TRUE(OpenDocument(other, name)) << "error " << pendingError();
    EXPECT_EQ(other.workbook().fileType, static_cast<uint32_t>(type)) << "the stream's name tells the type";
    EXPECT_EQ(other.workbook().sheetAt(0)->cellValue(0, 0).number(), 42);
    // Save without Save As keeps the format the file came in.
    setNumber(*other.workbook().sheetAt(0), 0, 1, 43);
    ASSERT_TRUE(SaveCommand(other, false));
    EXPECT_EQ(other.workbook().fileType, static_cast<uint32_t>(type));
  }
}

}  // namespace
}  // namespace kelp
