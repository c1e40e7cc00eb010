// Tests of the Pocket Excel reader and writer: a workbook of every kind of content read
// back as it was, the record layouts written, hand-made files that must be refused with
// their codes, the open and save flow, and damaged files that must fail cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "files/DocStream.h"
#include "files/Document.h"
#include "files/PocketExcel.h"
#include "formula/Compiler.h"
#include "formula/FormulaText.h"
#include "formula/Recalc.h"
#include "formula/Tokens.h"
#include "model/HandlePool.h"
#include "model/Workbook.h"
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

std::string narrow(std::u16string_view s) { return utf16ToUtf8(s); }

// One record of a file: its type and all its bytes after the type, counted parts included.
struct Record {
  uint8_t type;
  std::vector<uint8_t> data;
};

uint16_t at16(const std::vector<uint8_t>& d, size_t i) { return static_cast<uint16_t>(d[i] | d[i + 1] << 8); }

// Splits a file by the record table: fixed part, then the part its counts give.
std::vector<Record> recordsOf(const std::vector<uint8_t>& file) {
  struct Layout {
    uint8_t type;
    size_t fixed;
  };
  static const Layout layouts[] = {{1, 5},   {3, 13},  {4, 7},   {5, 7},   {6, 16},  {7, 2},   {8, 8},
                                   {9, 4},   {10, 0},  {24, 7},  {29, 9},  {30, 1},  {37, 4},  {47, 0},
                                   {49, 15}, {61, 4},  {62, 5},  {65, 9},  {66, 2},  {85, 6},  {125, 9},
                                   {133, 2}, {140, 4}, {160, 4}, {224, 22}};
  std::vector<Record> out;
  size_t at = 0;
  while (at < file.size()) {
    const uint8_t type = file[at++];
    const Layout* layout = std::find_if(std::begin(layouts), std::end(layouts), [&](const Layout& l) { return l.type == type; });
    if (layout == std::end(layouts)) {
      ADD_FAILURE() << "unknown record type " << int(type) << " at byte " << at - 1;
      return out;
    }
    if (at + layout->fixed > file.size()) {
      ADD_FAILURE() << "record " << int(type) << " runs past the file";
      return out;
    }
    std::vector<uint8_t> data(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + layout->fixed));
    size_t extra = 0;
    switch (type) {
      case 4: extra = 2u * at16(data, 5); break;
      case 6: extra = at16(data, 14); break;
      case 7: extra = 2u * at16(data, 0); break;
      case 24: extra = 2u * data[2] + at16(data, 3); break;
      case 30: extra = 2u * data[0]; break;
      case 49: extra = 2u * data[14]; break;
      case 133: extra = 2u * data[1]; break;
      default: break;
    }
    at += layout->fixed;
    if (at + extra > file.size()) {
      ADD_FAILURE() << "record " << int(type) << " counts past the file";
      return out;
    }
    data.insert(data.end(), file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + extra));
    at += extra;
    out.push_back(Record{type, std::move(data)});
  }
  return out;
}

const Record* find(const std::vector<Record>& records, uint8_t type, size_t nth = 0) {
  for (const Record& r : records)
    if (r.type == type && nth-- == 0) return &r;
  return nullptr;
}

std::vector<uint8_t> writeBytes(Workbook& book) {
  MemoryDocStream stream;
  clearError();
  EXPECT_TRUE(WritePocketExcel(book, stream)) << "error " << pendingError();
  stream.Flush();
  return std::vector<uint8_t>(stream.data(), stream.data() + stream.size());
}

// Reads bytes into a new workbook; `ok` says what the reader returned.
std::unique_ptr<Workbook> readBytes(const std::vector<uint8_t>& bytes, bool& ok) {
  auto book = newWorkbook(0);
  MemoryDocStream stream(bytes.data(), bytes.size());
  stream.allocateBuffer();
  clearError();
  ok = ReadPocketExcel(*book, stream);
  return book;
}

std::unique_ptr<Workbook> readBack(const std::vector<uint8_t>& bytes) {
  bool ok = false;
  auto book = readBytes(bytes, ok);
  EXPECT_TRUE(ok) << "error " << pendingError();
  EXPECT_EQ(pendingError(), 0u);
  return book;
}

void setValue(Sheet& sheet, int32_t col, int32_t row, CellValue value, int16_t style = -1) {
  ASSERT_TRUE(sheet.setCell(col, row, CellRecord{value, style}));
}

std::u16string nameText(const Workbook& book, size_t index) {
  std::u16string text;
  formulaText(book, static_cast<const uint8_t*>(formulaPool().data(book.names[index].definition)), CellPosition{},
              text);
  return text;
}

// A workbook with every kind of value, style feature, formula form, name, view setting
// and task that the format carries.
std::unique_ptr<Workbook> richWorkbook() {
  installTokenHooks();
  auto book = newWorkbook(3);
  Workbook& wb = *book;
  EXPECT_TRUE(wb.renameSheet(1, u"Data 2"));
  Sheet& s = *wb.sheetAt(0);
  Sheet& d = *wb.sheetAt(1);
  Sheet& t = *wb.sheetAt(2);

  NumberFormatRecord money = fixedFormat(2, true);
  money.positivePrefix = u"€";
  money.negativePrefix = u"-€";
  StyleRecord moneyStyle = newStyleRecord();
  moneyStyle.numberFormat = static_cast<uint16_t>(wb.findOrAddNumberFormat(money));
  moneyStyle.setHorizontalAlignment(HAlign::Right);
  moneyStyle.setBorderStyle(Edge::Bottom, 1);
  moneyStyle.setFillForeground(10);
  const int16_t moneyIndex = static_cast<int16_t>(wb.findOrAddStyle(moneyStyle));
  StyleRecord dateStyle = newStyleRecord();
  dateStyle.numberFormat = static_cast<uint16_t>(wb.findOrAddNumberFormat(dateFormat(u"yyyy-MM-dd", u"HH:mm")));
  FontRecord times = makeFont(u"Times New Roman", 700, FontOption::Bold | FontOption::Italic);
  times.height = 280;
  times.color = 12;
  times.underline = 1;
  dateStyle.font = static_cast<uint16_t>(wb.addFont(times));
  const int16_t dateIndex = static_cast<int16_t>(wb.findOrAddStyle(dateStyle));
  StyleRecord boxed = newStyleRecord();
  for (Edge e : {Edge::Left, Edge::Right, Edge::Top, Edge::Bottom}) boxed.setBorderStyle(e, 1);
  boxed.setHorizontalAlignment(HAlign::Center);
  boxed.setVerticalAlignment(VAlign::Top);
  boxed.setWrapText(true);
  boxed.setLocked(false);
  boxed.setFormulaHidden(true);
  boxed.setFillPattern(0);
  const int16_t boxedIndex = static_cast<int16_t>(wb.findOrAddStyle(boxed));

  setText(s, 0, 0, u"Ünïcødé ✓");
  setValue(s, 1, 0, numberValue(1234.5), moneyIndex);
  setValue(s, 2, 0, numberValue(-2.25), moneyIndex);
  setValue(s, 3, 0, dateTimeValue(45000.75), dateIndex);
  setValue(s, 4, 0, logicalValue(true));
  setValue(s, 5, 0, errorValue(CellError::Div0));
  EXPECT_TRUE(s.setCellStyle(6, 0, boxedIndex));
  setValue(s, 7, 0, integerValue(-7));
  setValue(d, 0, 0, numberValue(7));
  setValue(d, 0, 1, numberValue(8));
  setValue(t, 0, 0, numberValue(3));
  setValue(t, 0, 1, numberValue(4));
  EXPECT_GE(wb.setName(u"Bonus", compileToHandle(wb, u"='Data 2'!$A$1", CellPosition{}, false)), 0);
  EXPECT_GE(wb.setName(u"Both", compileToHandle(wb, u"=Sheet1!$B$1:$C$1", CellPosition{}, false)), 0);

  setFormula(wb, s, 0, 1, u"=Sum(B1:C1)*2");
  setFormula(wb, s, 1, 1, u"=If(B1>0,\"up\",\"down\")");
  setFormula(wb, s, 2, 1, u"=Sum('Data 2'!A1:A2)+Sheet3!A1");
  setFormula(wb, s, 3, 1, u"=$B$1&\"é!\"");
  setFormula(wb, s, 4, 1, u"=Bonus*2+Sum(Both)");
  setFormula(wb, s, 5, 1, u"=Index(B1:C1,1,2)");
  setFormula(wb, s, 6, 1, u"=If(B1<0,1)");
  setFormula(wb, s, 7, 1, u"=-B1%+(2^3)");
  setFormula(wb, s, 0, 2, u"=\"\"&\"\"");
  setFormula(wb, s, 1, 2, u"=1/0");
  setFormula(wb, s, 2, 2, u"=B1>=0");
  setFormula(wb, s, 3, 2, u"=Sum(Sheet1:Sheet3!A1)");
  setFormula(wb, s, 4, 2, u"=B$1*$C1+B1");
  setFormula(wb, t, 1, 0, u"=Sheet1!B1-A2");

  EXPECT_TRUE(s.setRowHeight(5, 600, true));
  EXPECT_TRUE(s.setRowHidden(6, true));
  EXPECT_TRUE(s.setRowStyle(7, moneyIndex));
  EXPECT_TRUE(s.columns.setColumnWidths(1, 2, 4000));
  EXPECT_TRUE(s.columns.setColumnsHidden(5, 5, true));
  EXPECT_TRUE(s.columns.setColumnStyles(8, 9, dateIndex));
  s.view.zoom = 150;
  s.view.rowsFrozen = true;
  s.view.frozenFirstRow = 0;
  s.view.frozenLastRow = 1;
  s.view.columnsFrozen = true;
  s.view.frozenFirstColumn = 0;
  s.view.frozenLastColumn = 0;
  s.view.topRow = 5;
  s.view.leftColumn = 3;
  s.view.showGridlines = false;
  s.view.showZeros = false;
  s.selection.firstRow = 2;
  s.selection.lastRow = 3;
  s.selection.firstColumn = 1;
  s.selection.lastColumn = 2;
  s.selection.activeRow = s.selection.endRow = 3;
  s.selection.activeColumn = s.selection.endColumn = 2;
  t.view.zoom = 130;
  t.view.topRow = 40;
  t.view.leftColumn = 4;
  t.view.showHeaders = false;
  d.visibility = SheetVisibility::Hidden;

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
  wb.setActiveSheet(2);
  recalculateAll(wb);
  return book;
}

TEST(PocketExcel, KelpReadsItsOwnFileBackAsItWas) {
  auto book = richWorkbook();
  Workbook& wb = *book;
  (void)takeNotice();
  const std::vector<uint8_t> bytes = writeBytes(wb);
  EXPECT_EQ(takeNotice().code, 0u) << "everything of this workbook fits the format";
  auto back = readBack(bytes);
  const Workbook& rb = *back;

  ASSERT_EQ(rb.sheetCount(), 3) << "the data sheet is no sheet";
  EXPECT_EQ(rb.sheetAt(1)->name, u"Data 2");
  EXPECT_EQ(rb.sheetAt(1)->visibility, SheetVisibility::Hidden);
  EXPECT_EQ(rb.sheetAt(2)->visibility, SheetVisibility::Visible);
  EXPECT_EQ(rb.activeSheetIndex(), 2);
  for (int32_t i = 0; i < 3; ++i) {
    const Sheet& a = *wb.sheetAt(i);
    const Sheet& b = *rb.sheetAt(i);
    for (int32_t r = 0; r < 9; ++r)
      for (int32_t c = 0; c < 10; ++c) {
        SCOPED_TRACE(narrow(a.name) + " row " + std::to_string(r) + " col " + std::to_string(c));
        const CellValue& va = effectiveValue(a.cellValue(c, r));
        const CellValue& vb = effectiveValue(b.cellValue(c, r));
        if (va.kind == ValueKind::Integer) {
          EXPECT_EQ(vb.kind, ValueKind::Number);
          EXPECT_EQ(vb.number(), va.i32());
        } else {
          ASSERT_EQ(va.kind, vb.kind);
          if (va.isNumeric()) {
            EXPECT_EQ(va.number(), vb.number());
          } else if (va.kind == ValueKind::Text) {
            EXPECT_EQ(narrow(textOf(va)), narrow(textOf(vb)));
          } else if (va.kind != ValueKind::Empty) {
            EXPECT_EQ(va.u32(), vb.u32());
          }
        }
        EXPECT_EQ(narrow(formulaOf(wb, a, c, r)), narrow(formulaOf(rb, b, c, r)));
        const StyleRecord& sa = wb.style(a.effectiveStyle(c, r));
        const StyleRecord& sb = rb.style(b.effectiveStyle(c, r));
        EXPECT_TRUE(wb.numberFormats[sa.numberFormat].sameAs(rb.numberFormats[sb.numberFormat]));
        EXPECT_TRUE(wb.fonts[sa.font].sameAs(rb.fonts[sb.font])) << narrow(rb.fonts[sb.font].face());
        EXPECT_EQ(sa.alignment & 0x7F, sb.alignment & 0x7F);
        EXPECT_EQ(sa.locked(), sb.locked());
        EXPECT_EQ(sa.formulaHidden(), sb.formulaHidden());
        for (Edge e : {Edge::Left, Edge::Right, Edge::Top, Edge::Bottom})
          EXPECT_EQ(sa.borderStyle(e) != 0, sb.borderStyle(e) != 0);
        EXPECT_EQ(sa.fillPattern() != 0, sb.fillPattern() != 0);
        if (sa.fillPattern() != 0) {
          EXPECT_EQ(sa.fillForeground(), sb.fillForeground());
        }
      }
  }
  const Sheet& s = *rb.sheetAt(0);
  EXPECT_EQ(s.rowHeight(5), 600);
  EXPECT_TRUE(s.isRowHeightExplicit(5));
  EXPECT_TRUE(s.isRowHidden(6));
  EXPECT_FALSE(s.isRowHidden(5));
  EXPECT_EQ(rb.style(s.rowStyle(7)).numberFormat, rb.style(s.effectiveStyle(1, 0)).numberFormat);
  EXPECT_GT(s.rowStyle(7), 0);
  EXPECT_EQ(s.columns.columnWidth(1), 4000);
  EXPECT_EQ(s.columns.columnWidth(2), 4000);
  EXPECT_EQ(s.columns.columnWidth(3), wb.sheetAt(0)->columns.columnWidth(3));
  EXPECT_TRUE(s.columns.isColumnHidden(5));
  EXPECT_FALSE(s.columns.isColumnHidden(4));
  EXPECT_GT(s.columns.columnStyle(9), 0);
  EXPECT_EQ(s.view.zoom, 100u) << "the file keeps the active sheet's zoom only";
  EXPECT_TRUE(s.view.rowsFrozen);
  EXPECT_TRUE(s.view.columnsFrozen);
  EXPECT_EQ(s.view.frozenLastRow, 1);
  EXPECT_EQ(s.view.frozenLastColumn, 0);
  EXPECT_EQ(s.view.topRow, 5);
  EXPECT_EQ(s.view.leftColumn, 3);
  EXPECT_FALSE(s.view.showGridlines);
  EXPECT_FALSE(s.view.showZeros);
  EXPECT_TRUE(s.view.showHeaders);
  EXPECT_EQ(s.selection.firstRow, 2);
  EXPECT_EQ(s.selection.lastRow, 3);
  EXPECT_EQ(s.selection.firstColumn, 1);
  EXPECT_EQ(s.selection.lastColumn, 2);
  EXPECT_EQ(s.selection.activeRow, 3);
  EXPECT_EQ(s.selection.activeColumn, 2);
  const Sheet& t = *rb.sheetAt(2);
  EXPECT_FALSE(t.view.rowsFrozen || t.view.columnsFrozen);
  EXPECT_EQ(t.view.topRow, 40);
  EXPECT_EQ(t.view.leftColumn, 4);
  EXPECT_FALSE(t.view.showHeaders);
  EXPECT_EQ(t.view.zoom, 130u);

  ASSERT_EQ(rb.names.size(), 2u);
  EXPECT_EQ(rb.names[0].text, u"Bonus");
  EXPECT_EQ(narrow(nameText(rb, 0)), "='Data 2'!$A$1");
  EXPECT_EQ(narrow(nameText(rb, 1)), "=Sheet1!$B$1:$C$1");
  ASSERT_EQ(rb.tasks.size(), 2u) << "a global task stays in the settings";
  EXPECT_EQ(rb.tasks[0].name, u"Greet");
  EXPECT_EQ(rb.tasks[0].definition, wb.tasks[0].definition);
  EXPECT_EQ(rb.tasks[0].menuText, wb.tasks[0].menuText);
  EXPECT_EQ(rb.tasks[1].runOn, 2u);
  EXPECT_EQ(std::memcmp(rb.tasks[1].area, wb.tasks[1].area, 12), 0);

  // What was read is written again byte for byte.
  const std::vector<uint8_t> again = writeBytes(*back);
  size_t differ = 0;
  while (differ < std::min(again.size(), bytes.size()) && again[differ] == bytes[differ]) ++differ;
  EXPECT_EQ(again.size(), bytes.size());
  EXPECT_EQ(differ, bytes.size()) << "first difference at byte " << differ;
}

// The layout of the records, their fixed fields and the formulas' tokens are checked by
// an independent decoder (pxl.independent) on Kelp's own files. Left here is what it does
// not look at: Excel's jump distances of If, the volatile mark, and a formula whose
// references Pocket Excel cannot reach, written as its value with a notice.
TEST(PocketExcel, WriterLaysOutRecordsAsTheFormatSays) {
  installTokenHooks();
  auto book = newWorkbook(1);
  Workbook& wb = *book;
  Sheet& s = *wb.sheetAt(0);
  setValue(s, 0, 0, numberValue(1.5));
  setFormula(wb, s, 1, 1, u"=A1+1");
  setFormula(wb, s, 3, 1, u"=Rand()");
  setFormula(wb, s, 4, 1, u"=If(A1>1,\"big\",\"small\")");
  setFormula(wb, s, 0, 20000, u"=A19999");  // a row Pocket Excel's references cannot reach
  recalculateAll(wb);

  (void)takeNotice();
  const std::vector<Record> all = recordsOf(writeBytes(wb));
  const DocumentNotice notice = takeNotice();
  EXPECT_EQ(notice.code, static_cast<uint32_t>(Err::FormatCut));
  EXPECT_NE(notice.detail.find(u"Sheet1!A20001"), std::u16string::npos) << narrow(notice.detail);
  const Record* plus = find(all, 6);
  const Record* rand = find(all, 6, 1);
  const Record* ifFormula = find(all, 6, 2);
  ASSERT_NE(ifFormula, nullptr);
  EXPECT_EQ(plus->data[13], 0);
  EXPECT_EQ(rand->data[13], 1) << "a volatile formula is marked";
  // Else branch, then-branch goto and else-branch goto with Excel's distances.
  EXPECT_EQ(std::vector<uint8_t>(ifFormula->data.begin() + 16, ifFormula->data.end()),
            hex("4400C000 1E0100 0D 1902 0C00 1703 620069006700 1908 1300 1705 73006D0061006C006C00 1908 0300 42 03 0100"));
  EXPECT_EQ(find(all, 6, 3), nullptr) << "the formula of row 20001 is written as its value";
}

// A tiny file built byte by byte: globals with one sheet, then that sheet's records.
struct FileBuilder {
  std::vector<uint8_t> bytes;
  FileBuilder& u8(uint32_t v) {
    bytes.push_back(static_cast<uint8_t>(v));
    return *this;
  }
  FileBuilder& u16(uint32_t v) { return u8(v).u8(v >> 8); }
  FileBuilder& f64(double d) {
    uint8_t b[8];
    std::memcpy(b, &d, 8);
    bytes.insert(bytes.end(), b, b + 8);
    return *this;
  }
  FileBuilder& chars(std::u16string_view text) {
    for (char16_t c : text) u16(c);
    return *this;
  }
  FileBuilder& raw(const std::vector<uint8_t>& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return *this;
  }
  FileBuilder& bof(uint16_t version, uint16_t substream) { return u8(9).u16(version).u16(substream); }
  FileBuilder& sheet(std::u16string_view name) { return u8(133).u8(0).u8(static_cast<uint32_t>(name.size())).chars(name); }
  FileBuilder& number(uint16_t row, uint8_t column, double value) { return u8(3).u16(row).u8(column).u16(0).f64(value); }
};

std::vector<uint8_t> smallFile(uint16_t version, const std::vector<uint8_t>& globals, const std::vector<uint8_t>& body) {
  FileBuilder f;
  f.bof(version, 5).raw(globals).sheet(u"S").u8(10).bof(version, 16).number(0, 0, 5).raw(body).u8(10);
  return f.bytes;
}

uint32_t readError(const std::vector<uint8_t>& bytes) {
  bool ok = false;
  auto book = readBytes(bytes, ok);
  const uint32_t error = pendingError();
  EXPECT_EQ(ok, error == 0) << "success and an error code together, or neither";
  clearError();
  return error;
}

TEST(PocketExcel, HandMadeFilesAreReadOrRefusedWithTheirCodes) {
  EXPECT_EQ(readError({}), 13u) << "an empty file";
  EXPECT_EQ(readError(hex("0A")), 13u) << "a first byte that is not BOF";
  // The independent encoder's files that must be refused (a cut file fails in the
  // damage tests below).
  const std::filesystem::path fixtures = std::filesystem::path(KELP_TEST_DATA) / ".." / "pxl" / "fixtures";
  for (const auto& [name, code] : {std::pair{"version1.pxl", 46u}, {"not_bof.pxl", 13u},
                                   {"unknown_record.pxl", 13u}, {"encrypted.pxl", 38u}}) {
    const std::vector<uint8_t> bytes = test::fileBytes(fixtures / name);
    ASSERT_FALSE(bytes.empty()) << name << " is missing";
    EXPECT_EQ(readError(bytes), code) << name;
  }
  EXPECT_EQ(readError(smallFile(0x0100, {}, {})), 0u);
  EXPECT_EQ(readError(smallFile(270, {}, hex("FF"))), 13u);
  EXPECT_EQ(readError(smallFile(270, {}, hex("2F"))), 38u) << "FILEPASS in a sheet";
  EXPECT_EQ(readError(smallFile(270, {}, hex("04 0100 00 0000 0500 4100"))), 13u) << "a LABEL counting past the end";
  FileBuilder twoSheets;
  twoSheets.bof(270, 5).sheet(u"A").sheet(u"B").u8(10).bof(270, 16).u8(10);
  EXPECT_EQ(readError(twoSheets.bytes), 13u) << "a sheet's substream is missing";
  FileBuilder sameName;
  sameName.bof(270, 5).sheet(u"A").sheet(u"A").u8(10).bof(270, 16).u8(10).bof(270, 16).u8(10);
  EXPECT_EQ(readError(sameName.bytes), 13u) << "two sheets of one name";
  // Records the reader skips, and records met where they do not belong.
  EXPECT_EQ(readError(smallFile(270, hex("25 00000000 55 000000000000 8C 0100 0100 03 0000 00 0000 0000000000000000"),
                                hex("25 01000000 55 000000000000"))),
            0u);

  // The Pocket token form read: UTF-16 ptgStr, a 3-D reference by sheet numbers and a name.
  FileBuilder f;
  f.bof(270, 5);
  f.u8(24).u16(0).u8(4).u16(8).u16(0).chars(u"Five").raw(hex("5A 0000 0000 0000 00"));  // =S!$A$1
  f.sheet(u"S").u8(10).bof(270, 16).number(0, 0, 5);
  const std::vector<uint8_t> tokens = hex("17 03 4100E9002100 4400C000 08 23 0100 0000 08");  // ="Aé!"&B1&Five
  f.u8(6).u16(1).u8(0).u16(0).raw(hex("00 00 00 00 00 00 FF FF")).u8(0).u16(static_cast<uint32_t>(tokens.size())).raw(tokens);
  f.u8(7).u16(2).chars(u"xy");
  // A formula with a missing argument, which Kelp has no form for, keeps its cached value.
  const std::vector<uint8_t> missing = hex("1E0100 16 42 02 1B00");  // =Round(1,)
  f.u8(6).u16(2).u8(0).u16(0).f64(42).u8(0).u16(static_cast<uint32_t>(missing.size())).raw(missing);
  // Kelp has no Choose; the formula with its jump table keeps its value as well.
  const std::vector<uint8_t> choose = hex("1E0200 1904 0200 0800 0C00 1E0A00 1908 0700 1E1400 1908 0000 42 03 6400");
  f.u8(6).u16(3).u8(0).u16(0).f64(20).u8(0).u16(static_cast<uint32_t>(choose.size())).raw(choose);
  f.u8(8).u16(5).u16(300).u16(0x27).u16(0);  // outline level 7, which Kelp does not keep, and hidden
  f.u8(10);
  bool ok = false;
  (void)takeNotice();
  auto book = readBytes(f.bytes, ok);
  ASSERT_TRUE(ok) << "error " << pendingError();
  const Sheet& s = *book->sheetAt(0);
  EXPECT_EQ(narrow(formulaOf(*book, s, 0, 1)), "=\"Aé!\"&A1&Five");
  EXPECT_EQ(narrow(textOf(effectiveValue(s.cellValue(0, 1)))), "xy") << "the cached result from STRING";
  EXPECT_EQ(narrow(nameText(*book, 0)), "=S!$A$1");
  EXPECT_EQ(narrow(formulaOf(*book, s, 0, 2)), "(no formula)");
  EXPECT_EQ(s.cellValue(0, 2).number(), 42);
  EXPECT_EQ(narrow(formulaOf(*book, s, 0, 3)), "(no formula)");
  EXPECT_EQ(s.cellValue(0, 3).number(), 20);
  EXPECT_EQ(takeNotice().code, static_cast<uint32_t>(Err::UnsupportedFormula));
  ASSERT_TRUE(s.rowExists(5));
  EXPECT_EQ(s.rowAt(5)->flags, RowFlag::Hidden);
  EXPECT_EQ(s.rowHeight(5), 300);
}

// Through the document: Save As .pxl gives the workbook the new name and type and holds
// the file; opening reads it; a refused file leaves a new workbook and its code.
TEST(PocketExcel, DocumentsOpenAndSavePocketExcelFiles) {
  installPocketExcelFormat();
  test::TempFolder folder;
  const std::u16string name = folder.file("book.pxl");
  {
    Document doc;
    doc.replaceWorkbook(richWorkbook());
    clearError();
    ASSERT_TRUE(SaveDocument(doc, name, FileTypeFromName(name))) << "error " << pendingError();
    EXPECT_EQ(doc.workbook().fileType, static_cast<uint32_t>(DocFileType::PocketExcel));
    EXPECT_EQ(doc.workbook().fileName, name);
    EXPECT_TRUE(doc.holdsFile());
  }
  Document doc;
  clearError();
  ASSERT_TRUE(OpenDocument(doc, name)) << "error " << pendingError();
  EXPECT_EQ(doc.workbook().fileType, static_cast<uint32_t>(DocFileType::PocketExcel));
  EXPECT_TRUE(doc.holdsFile());
  EXPECT_EQ(doc.workbook().sheetAt(0)->cellValue(1, 0).number(), 1234.5);
  EXPECT_EQ(doc.workbook().tasks.size(), 2u);
  ReleaseDocumentFile(doc);

  const std::u16string old = folder.file("old.pxl");
  {
    std::ofstream out(utf16ToUtf8(old), std::ios::binary);
    const std::vector<uint8_t> bytes = smallFile(0x00FF, {}, {});
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  clearError();
  EXPECT_FALSE(OpenDocument(doc, old));
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::Pxl1Format));
  EXPECT_EQ(doc.workbook().sheetAt(0)->cellValue(1, 0).number(), 1234.5) << "a failed open keeps the workbook";
  EXPECT_FALSE(doc.holdsFile()) << "and takes no file it did not hold";
  clearError();
}

// Every truncation of a file and a spread of byte flips: the reader either succeeds with
// no error or fails with one, never reads past the data, and leaves no text or formula
// entry behind once the workbook is gone. A file of Kelp's writer must read whole and
// fail cut anywhere.
void damageFile(const std::vector<uint8_t>& bytes, bool everyPrefixFails) {
  installTokenHooks();
  const uint32_t texts = textPool().liveCount(), formulas = formulaPool().liveCount();
  auto trial = [&](const std::vector<uint8_t>& damaged, const char* what, size_t at) -> bool {
    bool ok = false;
    {
      auto book = readBytes(damaged, ok);
      (void)takeNotice();
    }
    const uint32_t error = pendingError();
    clearError();
    EXPECT_EQ(ok, error == 0) << what << " at " << at;
    EXPECT_EQ(textPool().liveCount(), texts) << what << " at " << at << " leaves texts";
    EXPECT_EQ(formulaPool().liveCount(), formulas) << what << " at " << at << " leaves formulas";
    return ok;
  };
  // Every length of a file up to 16 KB; of a larger one the first 4 KB and 4,096 more
  // spread over the rest, which keeps a sanitized run within seconds.
  const size_t stride = bytes.size() <= 16384 ? 1 : std::max<size_t>(1, (bytes.size() - 4096) / 4096);
  for (size_t length = 0; length < bytes.size(); length += length < 4096 ? 1 : stride) {
    const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<long>(length));
    const bool ok = trial(prefix, "truncation", length);
    if (everyPrefixFails) {
      EXPECT_FALSE(ok) << "a file cut at " << length << " read as whole";
    }
    if (::testing::Test::HasFailure()) return;
  }
  // A fixture may be one that must be refused; the writer's own files must read.
  const bool whole = trial(bytes, "whole file", bytes.size());
  if (everyPrefixFails) {
    EXPECT_TRUE(whole);
  }
  for (size_t at = 0; at < bytes.size(); ++at)
    for (uint8_t mask : {0x01, 0x80, 0xFF}) {
      if ((at * 7 + mask) % 3 != 0 && bytes.size() > 2000) continue;  // a third of them in large files
      std::vector<uint8_t> flipped = bytes;
      flipped[at] ^= mask;
      trial(flipped, "flip", at);
      if (::testing::Test::HasFailure()) return;
    }
}

TEST(PocketExcel, DamagedFilesOfTheWriterFailCleanly) {
  auto book = richWorkbook();
  damageFile(writeBytes(*book), true);
}

TEST(PocketExcel, DamagedFixturesFailCleanly) {
  const std::filesystem::path folder = std::filesystem::path(KELP_TEST_DATA) / ".." / "pxl" / "fixtures";
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error))
    if (entry.path().extension() == ".pxl") files.push_back(entry.path());
  if (files.empty()) GTEST_SKIP() << "no .pxl fixtures in " << folder.string() << " yet";
  std::sort(files.begin(), files.end());
  for (const auto& path : files) {
    SCOPED_TRACE(path.filename().string());
    damageFile(test::fileBytes(path), false);
  }
}

}  // namespace
}  // namespace kelp
