// Tests of the Excel workbook reader on BIFF5 and BIFF8 record streams built by hand.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "files/DocStream.h"
#include "files/ExcelReader.h"
#include "files/Document.h"
#include "files/ExcelReaderInternal.h"
#include "formula/FormulaText.h"
#include "model/HandlePool.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"

namespace kelp {

// Found by argument lookup when the tests compare lists of entries.
bool operator==(const ExcelFormulaContext::ExternSheet& a, const ExcelFormulaContext::ExternSheet& b) {
  return a.book == b.book && a.firstSheet == b.firstSheet && a.lastSheet == b.lastSheet;
}

namespace {

// Record data, little-endian, field by field.
struct Bytes {
  std::vector<uint8_t> b;
  Bytes& u8(uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    return *this;
  }
  Bytes& u16(uint32_t v) { return u8(v).u8(v >> 8); }
  Bytes& u32(uint32_t v) { return u16(v).u16(v >> 16); }
  Bytes& f64(double d) {
    uint8_t raw[8];
    std::memcpy(raw, &d, 8);
    b.insert(b.end(), raw, raw + 8);
    return *this;
  }
  Bytes& raw(const std::vector<uint8_t>& bytes) {
    b.insert(b.end(), bytes.begin(), bytes.end());
    return *this;
  }
  // Characters after the count: a BIFF8 option byte and 8- or 16-bit characters.
  Bytes& chars(std::u16string_view text, bool wide) {
    for (char16_t c : text) wide ? u16(c) : u8(c);
    return *this;
  }
  // A counted string: BIFF8 with the option byte (16-bit when some character needs it),
  // BIFF5 as bytes.
  Bytes& text(std::u16string_view text, int countBytes, bool biff8 = true) {
    countBytes == 1 ? u8(static_cast<uint32_t>(text.size())) : u16(static_cast<uint32_t>(text.size()));
    if (!biff8) return chars(text, false);
    bool wide = false;
    for (char16_t c : text) wide = wide || c > 0xFF;
    u8(wide ? 1 : 0);
    return chars(text, wide);
  }
};

namespace R = excel::Record;

// A record stream: BOF, the globals, the sheets, each record with its type and length.
struct Biff {
  explicit Biff(bool biff8 = true) : biff8(biff8) {}
  bool biff8;
  std::vector<uint8_t> bytes;

  Biff& rec(uint16_t type, const Bytes& data = Bytes()) {
    Bytes header;
    header.u16(type).u16(static_cast<uint32_t>(data.b.size()));
    bytes.insert(bytes.end(), header.b.begin(), header.b.end());
    bytes.insert(bytes.end(), data.b.begin(), data.b.end());
    return *this;
  }
  Biff& bof(uint16_t kind) {
    Bytes d;
    d.u16(biff8 ? 0x0600 : 0x0500).u16(kind).u16(0x0DBB).u16(0x07CC);
    if (biff8) d.u32(0).u32(0x0206);
    return rec(R::Bof, d);
  }
  Biff& eof() { return rec(R::Eof); }
  Biff& boundSheet(std::u16string_view name, uint8_t visibility = 0) {
    return rec(R::BoundSheet, Bytes().u32(0).u8(visibility).u8(0).text(name, 1, biff8));
  }
  Biff& font(std::u16string_view face, uint16_t weight = 400, uint16_t options = 0) {
    return rec(R::Font, Bytes().u16(200).u16(options).u16(0x7FFF).u16(weight).u16(0).u8(0).u8(0).u8(0).u8(0).text(
                            face, 1, biff8));
  }
  Biff& format(uint16_t id, std::u16string_view code) {
    return rec(R::Format, Bytes().u16(id).text(code, biff8 ? 2 : 1, biff8));
  }
  // A BIFF8 XF with the given font and format and recognisable bits elsewhere.
  Biff& xf(uint16_t font, uint16_t format, uint16_t align = 0x0020, uint16_t borders = 0, uint16_t fill = 0x20C0) {
    if (!biff8) return rec(R::Xf, Bytes().u16(font).u16(format).u16(1).u16(0x0020).u32(0).u32(0));
    return rec(R::Xf, Bytes().u16(font).u16(format).u16(1).u16(align).u16(0).u16(borders).u16(0).u16(0).u16(0).u16(fill));
  }
  // Globals up to the sheets: four fonts, XF 0 (General), 1 (date), 2 (text).
  Biff& standardGlobals() {
    bof(excel::Substream::Globals);
    for (int i = 0; i < 4; ++i) font(u"Arial");
    xf(0, 0).xf(0, 14).xf(0, 49);
    return *this;
  }
  Biff& cell(uint16_t type, uint16_t row, uint16_t col, uint16_t xf, const Bytes& rest) {
    return rec(type, Bytes().u16(row).u16(col).u16(xf).raw(rest.b));
  }
  Biff& number(uint16_t row, uint16_t col, double d, uint16_t xf = 0) { return cell(R::Number, row, col, xf, Bytes().f64(d)); }
  Biff& label(uint16_t row, uint16_t col, std::u16string_view text, uint16_t xf = 0) {
    return cell(R::Label, row, col, xf, Bytes().text(text, 2, biff8));
  }
  // A formula whose tokens no conversion supports (an intersection of two cells), with
  // the 8 bytes of its cached result.
  Biff& formula(uint16_t row, uint16_t col, const Bytes& result, uint16_t xf = 0, uint16_t type = R::Formula) {
    Bytes tokens = biff8 ? Bytes().u8(0x44).u16(0).u16(0).u8(0x44).u16(1).u16(1).u8(0x0F)
                         : Bytes().u8(0x44).u16(0).u8(0).u8(0x44).u16(1).u8(1).u8(0x0F);
    return cell(type, row, col, xf, Bytes().raw(result.b).u16(0).u32(0).u16(static_cast<uint32_t>(tokens.b.size())).raw(tokens.b));
  }
};

Bytes cachedSpecial(uint8_t kind, uint8_t value) { return Bytes().u8(kind).u8(0).u8(value).u8(0).u8(0).u8(0).u16(0xFFFF); }

struct ReadResult {
  std::unique_ptr<Workbook> book;
  bool ok;
  uint32_t error;
};

// Streams the tests build are the fuzz target's seeds: set KELP_BIFF_CORPUS to a folder
// to have them written there (first byte 1 for BIFF8, 0 for BIFF5).
void saveSeed(const Biff& biff, const char* name) {
  const char* folder = std::getenv("KELP_BIFF_CORPUS");
  if (!folder) return;
  std::ofstream out(std::string(folder) + "/" + name + ".bin", std::ios::binary);
  out.put(biff.biff8 ? 1 : 0);
  out.write(reinterpret_cast<const char*>(biff.bytes.data()), static_cast<std::streamsize>(biff.bytes.size()));
}

ReadResult readBytes(const std::vector<uint8_t>& bytes, bool biff8) {
  clearError();
  ReadResult r{newWorkbook(0), false, 0};
  MemoryDocStream stream(bytes.data(), bytes.size());
  stream.allocateBuffer();
  r.ok = readExcelWorkbook(*r.book, stream, biff8);
  r.error = pendingError();
  clearError();
  return r;
}

ReadResult readBiff(const Biff& biff, const char* seed = nullptr) {
  if (seed) saveSeed(biff, seed);
  return readBytes(biff.bytes, biff.biff8);
}

const CellValue& valueAt(const Workbook& book, int32_t sheet, int32_t col, int32_t row) {
  return book.sheetAt(sheet)->cellValue(col, row);
}

std::u16string textAt(const Workbook& book, int32_t sheet, int32_t col, int32_t row) {
  const CellValue& v = valueAt(book, sheet, col, row);
  return v.kind == ValueKind::Text ? std::u16string(textOf(v)) : u"<not a text>";
}

TEST(ExcelReader, CellsOfEveryKindKeepTheirValuesAndUntranslatedFormulasTheirCachedResults) {
  Biff b;
  // In the 1904 date system only numbers under a date format (XF 1) move.
  b.standardGlobals().rec(R::DateMode, Bytes().u16(1)).boundSheet(u"Data").eof();
  b.bof(excel::Substream::Worksheet);
  b.number(0, 0, 12.5);
  b.cell(R::Rk, 1, 0, 0, Bytes().u32((1234u << 2) | 2));                    // integer
  b.cell(R::Rk, 2, 0, 0, Bytes().u32(static_cast<uint32_t>(-1234 << 2) | 3));  // integer over 100
  b.cell(R::Rk, 3, 0, 0, Bytes().u32(0x3FF80000));                         // the double 1.5
  b.cell(R::Rk, 4, 0, 0, Bytes().u32(0x405EC000 | 1));                     // the double 123 over 100
  b.cell(R::Rk, 13, 0, 1, Bytes().u32((200u << 2) | 2));                   // a date
  // MULRK over columns 1-3 of row 0, the middle one with the text XF.
  b.rec(R::MulRk, Bytes().u16(0).u16(1).u16(0).u32((7u << 2) | 2).u16(2).u32((8u << 2) | 2).u16(0).u32((9u << 2) | 2).u16(3));
  b.rec(R::MulBlank, Bytes().u16(5).u16(2).u16(2).u16(2).u16(3));
  b.cell(R::Blank, 6, 0, 2, Bytes());
  b.label(7, 0, u"label");
  b.cell(R::RString, 8, 0, 0, Bytes().text(u"rich", 2).u16(1).u16(0).u16(1));
  b.cell(R::BoolErr, 9, 0, 0, Bytes().u8(1).u8(0));
  b.cell(R::BoolErr, 10, 0, 0, Bytes().u8(7).u8(1));
  b.number(11, 300, 1);  // no column 300: left out
  b.number(12, 0, 1, 99);  // no XF 99: left out
  // Formulas that do not translate keep every kind of cached result.
  b.formula(0, 5, Bytes().f64(42));
  b.formula(1, 5, cachedSpecial(0, 0)).rec(R::String, Bytes().text(u"from STRING", 2));
  b.formula(2, 5, cachedSpecial(3, 0));  // the empty text: no STRING belongs to it...
  b.rec(R::String, Bytes().text(u"stray", 2));  // ...so a stray one is not its result
  b.formula(3, 5, cachedSpecial(1, 1));
  b.formula(4, 5, cachedSpecial(2, 42));
  b.formula(5, 5, Bytes().f64(7), 0, R::Formula4);
  b.formula(8, 5, Bytes().f64(300), 1);
  // A shared formula: the first cell names itself, the SHRFMLA follows, a later cell of
  // the range names the first; neither translates, both keep their results.
  Bytes exp = Bytes().u8(0x01).u16(6).u16(5);
  b.cell(R::Formula, 6, 5, 0, Bytes().f64(3).u16(8).u32(0).u16(5).raw(exp.b));
  b.rec(R::ShrFmla, Bytes().u16(6).u16(7).u8(5).u8(5).u16(0x0200).u16(11).raw(
                        Bytes().u8(0x4C).u16(0).u16(0xC000).u8(0x4C).u16(1).u16(0xC000).u8(0x0F).b));
  b.cell(R::Formula, 7, 5, 0, Bytes().f64(4).u16(8).u32(0).u16(5).raw(exp.b));
  b.eof();
  ReadResult r = readBiff(b, "cells");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.error, static_cast<uint32_t>(Err::UnsupportedFormula)) << "35 stays as the notice";
  const Workbook& book = *r.book;
  const struct {
    int col, row;
    double number;
    ValueKind kind = ValueKind::Number;
  } numbers[] = {{0, 0, 12.5}, {0, 1, 1234}, {0, 2, -12.34}, {0, 3, 1.5}, {0, 4, 1.23}, {1, 0, 7}, {2, 0, 8},
                 {3, 0, 9},    {5, 0, 42},   {5, 5, 7},      {5, 6, 3},   {5, 7, 4},
                 {0, 13, 200 + 1462, ValueKind::DateTime},   {5, 8, 300 + 1462, ValueKind::DateTime}};
  for (const auto& n : numbers) {
    EXPECT_EQ(valueAt(book, 0, n.col, n.row).kind, n.kind) << n.col << "," << n.row;
    EXPECT_DOUBLE_EQ(valueAt(book, 0, n.col, n.row).number(), n.number) << n.col << "," << n.row;
  }
  EXPECT_EQ(book.sheetAt(0)->cellPtr(2, 0)->style, 2);
  for (int col = 2; col <= 3; ++col) {
    ASSERT_NE(book.sheetAt(0)->cellPtr(col, 5), nullptr);
    EXPECT_EQ(book.sheetAt(0)->cellPtr(col, 5)->style, 2);
    EXPECT_EQ(valueAt(book, 0, col, 5).kind, ValueKind::Empty);
  }
  EXPECT_EQ(book.sheetAt(0)->cellPtr(0, 6)->style, 2);
  EXPECT_EQ(textAt(book, 0, 0, 7), u"label");
  EXPECT_EQ(textAt(book, 0, 0, 8), u"rich");
  EXPECT_EQ(valueAt(book, 0, 0, 9).kind, ValueKind::Logical);
  EXPECT_EQ(valueAt(book, 0, 0, 9).u32(), 1u);
  EXPECT_EQ(cellError(valueAt(book, 0, 0, 10)), CellError::Div0);
  EXPECT_FALSE(book.sheetAt(0)->rowExists(11));
  EXPECT_EQ(book.sheetAt(0)->cellPtr(0, 12), nullptr);
  EXPECT_EQ(textAt(book, 0, 5, 1), u"from STRING");
  EXPECT_EQ(textAt(book, 0, 5, 2), u"");
  EXPECT_EQ(valueAt(book, 0, 5, 3).kind, ValueKind::Logical);
  EXPECT_EQ(cellError(valueAt(book, 0, 5, 4)), CellError::NA);

  // Without any formula, nothing is left in the error state.
  Biff plain;
  plain.standardGlobals().boundSheet(u"Data").eof().bof(excel::Substream::Worksheet).number(0, 0, 1).eof();
  ReadResult p = readBiff(plain);
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.error, 0u);
}

TEST(ExcelReader, SharedStringsAreAssembledAcrossContinueRecordsEachWithItsOwnText) {
  // A hole in the text pool: the first shared string takes it and the next ones come
  // after a live entry, so string n is not "the first handle plus n".
  uint32_t hole = textPool().add(u"hole", 10, 1);
  uint32_t live = textPool().add(u"live", 10, 1);
  textPool().release(hole);

  const std::u16string wideTail = u"F\u0416H";  // the rest of "split" in 16-bit characters
  Bytes sst;
  sst.u32(9).u32(6);
  sst.u16(5).u8(0).chars(u"plain", false);
  sst.u16(8).u8(0).chars(u"split", false);  // three of its characters come in the CONTINUE
  Bytes c1;
  c1.u8(1).chars(wideTail, true);
  c1.u16(3).u8(0x08).u16(2).chars(u"Rch", false).u32(0x00010000);  // rich text: two runs...
  Bytes c2;
  c2.u32(0x00020001);                                                // ...the second in the next record
  c2.u16(2).u8(0x05).u32(6).chars(u"\u65E5\u672C", true).raw({1, 2, 3, 4, 5, 6});  // Far East data
  c2.u16(3).u8(1);  // a header at the end of a record...
  Bytes c3;
  c3.u8(0).chars(u"hdr", false);  // ...its characters after a new option byte
  Bytes c4;
  c4.u16(4).u8(0).chars(u"next", false);  // a string that starts a record has no extra byte

  Biff b;
  b.standardGlobals().boundSheet(u"S").rec(R::Sst, sst).rec(R::Continue, c1).rec(R::Continue, c2);
  b.rec(R::Continue, c3).rec(R::Continue, c4).eof();
  b.bof(excel::Substream::Worksheet);
  for (uint32_t i = 0; i < 7; ++i) b.cell(R::LabelSst, static_cast<uint16_t>(i), 0, 0, Bytes().u32(i));
  b.cell(R::LabelSst, 9, 0, 0, Bytes().u32(0xFFFFFFF0));
  // A record far longer than the old 10,000-byte buffer.
  std::u16string longLabel(12000, u'\u0416');
  b.label(10, 0, longLabel);
  b.eof();
  ReadResult r = readBiff(b, "sst");
  ASSERT_TRUE(r.ok) << r.error;
  const Workbook& book = *r.book;
  const std::u16string texts[] = {u"plain", u"split" + wideTail, u"Rch", u"\u65E5\u672C", u"hdr", u"next"};
  for (int row = 0; row < 6; ++row) EXPECT_EQ(textAt(book, 0, 0, row), texts[row]) << row;
  EXPECT_EQ(book.sheetAt(0)->cellPtr(0, 6), nullptr) << "the SST has six strings";
  EXPECT_EQ(book.sheetAt(0)->cellPtr(0, 9), nullptr);
  EXPECT_EQ(textAt(book, 0, 0, 10), longLabel);
  // Every cell holds its own reference; the reader gave its own back.
  EXPECT_EQ(textPool().refCount(valueAt(book, 0, 0, 0).u32()), 1u);
  textPool().release(live);
}

TEST(ExcelReader, FontsFormatsCellFormatsAndPaletteMapToKelpTables) {
  {
    // Three FONT records: the table is filled to six, with font 4 a copy of font 3.
    Biff b;
    b.bof(excel::Substream::Globals).font(u"Tahoma").font(u"Courier", 700, 2).font(u"Verdana");
    b.format(164, u"0.000").format(14, u"yyyy-mm-dd").format(5, u"\"EUR\"#,##0;-\"EUR\"#,##0");
    b.xf(0, 0);
    b.xf(1, 164, 0x2D1A /* center, wrap, vertical center, rotation 45 */, 0x1234, 0xC0C0 /* bit 15 set */);
    b.xf(0, 14).xf(77, 60000).xf(2, 5);
    Bytes palette;
    palette.u16(57).u32(0x00112233).u32(0x00445566);
    for (int i = 2; i < 57; ++i) palette.u32(static_cast<uint32_t>(i));  // one more than the palette holds
    b.rec(R::Palette, palette);
    b.boundSheet(u"S").eof();
    b.bof(excel::Substream::Worksheet).eof();
    ReadResult r = readBiff(b, "styles");
    ASSERT_TRUE(r.ok) << r.error;
    const Workbook& book = *r.book;
    ASSERT_EQ(book.fonts.size(), 6);
    EXPECT_EQ(book.fonts[1].face(), u"Courier");
    EXPECT_EQ(book.fonts[1].options, FontOption::Bold | FontOption::Italic);
    EXPECT_TRUE(book.fonts[4].sameAs(book.fonts[3])) << "the filler repeats font 3";
    ASSERT_EQ(book.styles.size(), 5);
    EXPECT_EQ(book.styles[0].protection, 1) << "the first style is locked";
    const StyleRecord& s1 = book.styles[1];
    EXPECT_EQ(s1.font, 1);
    EXPECT_EQ(std::tuple(s1.horizontalAlignment(), s1.wrapText(), s1.verticalAlignment(), s1.rotation()),
              std::tuple(HAlign::Center, true, VAlign::Center, 45));
    EXPECT_EQ(s1.borders, 0x1234);
    EXPECT_EQ(s1.fillColors, 0x40C0) << "bit 15 of the fill colours is cleared";
    EXPECT_EQ(book.numberFormats[s1.numberFormat].decimals, 3);
    EXPECT_EQ(book.styles[2].numberFormat, BuiltInFormat::ShortDate) << "14 keeps the locale's short date";
    EXPECT_EQ(book.numberFormats[BuiltInFormat::ShortDate].datePicture, builtInFormats()[BuiltInFormat::ShortDate].datePicture);
    EXPECT_EQ(std::tuple(book.styles[3].font, book.styles[3].numberFormat), std::tuple(0, 0))
        << "a font and a format the file does not have";
    EXPECT_EQ(book.styles[4].numberFormat, BuiltInFormat::Currency0);
    EXPECT_EQ(book.numberFormats[BuiltInFormat::Currency0].positivePrefix, u"EUR") << "the file's code replaces it";
    EXPECT_TRUE(book.palette.changed);
    EXPECT_EQ(std::pair(book.palette.colors[0], book.palette.colors[1]), std::pair(0x00112233u, 0x00445566u));
  }
  {
    // An Excel 5 XF in its own layout: font, format, alignment, fill and borders.
    Biff b(false);
    b.bof(excel::Substream::Globals).font(u"A").font(u"B");
    b.rec(R::Xf, Bytes().u16(1).u16(2).u16(1).u16(0x0013).u32(0x00010000 | 10 | (2 << 22)).u32(1 | (3 << 3)));
    b.boundSheet(u"S").eof().bof(excel::Substream::Worksheet).eof();
    ReadResult r = readBiff(b, "biff5-styles");
    ASSERT_TRUE(r.ok) << r.error;
    const StyleRecord& s = r.book->styles[0];
    EXPECT_EQ(std::tuple(s.font, s.numberFormat), std::tuple(uint16_t{1}, uint16_t{BuiltInFormat::Fixed2}));
    EXPECT_EQ(std::tuple(s.horizontalAlignment(), s.verticalAlignment()), std::tuple(HAlign::Right, VAlign::Center));
    EXPECT_EQ(std::tuple(s.fillForeground(), s.fillPattern()), std::tuple(10, 1));
    EXPECT_EQ(std::tuple(s.borderStyle(Edge::Bottom), s.borderStyle(Edge::Top), s.borderStyle(Edge::Left)),
              std::tuple(2, 1, 3));
  }
}

TEST(ExcelReader, SheetsTakeTheirSubstreamsVisibilityAndTheSelectedOneIsActive) {
  const Bytes selected = Bytes().u16(0x0600).u16(0).u16(0);
  Biff b;
  b.standardGlobals();
  b.boundSheet(u"Plain").boundSheet(u"Hidden", 1).boundSheet(u"Chart1").boundSheet(u"Macro1").boundSheet(u"Last");
  b.eof();
  // A worksheet with a chart inside: the cells after the chart still belong to it.
  b.bof(excel::Substream::Worksheet).number(0, 0, 1);
  b.bof(excel::Substream::Chart).rec(R::Window2, selected).eof();
  b.number(1, 0, 2).rec(R::Window2, Bytes().u16(0x0016).u16(0).u16(0)).eof();
  b.bof(excel::Substream::Worksheet).number(0, 0, 3).eof();
  b.bof(excel::Substream::Chart).rec(R::Window2, selected).eof();
  b.bof(excel::Substream::Macro).number(0, 0, 99).eof();
  b.bof(excel::Substream::Worksheet).number(0, 0, 5).rec(R::Window2, selected).eof();
  ReadResult r = readBiff(b, "sheets");
  ASSERT_TRUE(r.ok) << r.error;
  const Workbook& book = *r.book;
  ASSERT_EQ(book.sheetCount(), 5);
  EXPECT_EQ(book.sheetAt(0)->visibility, SheetVisibility::Visible) << "a chart inside a sheet leaves it shown";
  EXPECT_EQ(valueAt(book, 0, 0, 1).number(), 2);
  EXPECT_EQ(valueAt(book, 1, 0, 0).number(), 3);
  EXPECT_EQ(book.sheetAt(2)->visibility, SheetVisibility::Internal) << "a chart sheet";
  EXPECT_EQ(book.sheetAt(3)->visibility, SheetVisibility::Internal) << "a macro sheet";
  EXPECT_FALSE(book.sheetAt(3)->rowExists(0)) << "a macro sheet's records are skipped";
  EXPECT_EQ(valueAt(book, 4, 0, 0).number(), 5);
  EXPECT_EQ(book.activeSheetIndex(), 4) << "the selected sheet, not the chart sheet before it";

  // Without any selected sheet the first visible one is active; nothing after the
  // last substream is read.
  Biff c;
  c.standardGlobals().boundSheet(u"Hidden", 1).boundSheet(u"Shown").eof();
  c.bof(excel::Substream::Worksheet).eof().bof(excel::Substream::Worksheet).eof();
  c.rec(0, Bytes().u32(0));  // padding after the last substream
  ReadResult s = readBiff(c);
  ASSERT_TRUE(s.ok) << s.error;
  EXPECT_EQ(s.book->activeSheetIndex(), 1);
}

TEST(ExcelReader, SheetSettingsComeFromRowColumnViewAndPrintRecords) {
  Biff b;
  b.standardGlobals().boundSheet(u"S").boundSheet(u"T").eof();
  b.bof(excel::Substream::Worksheet);
  b.rec(R::Row, Bytes().u16(3).u16(0).u16(5).u16(600).u16(0).u16(0).u16(0x00E0 /* style, explicit, hidden */).u16(2));
  b.rec(R::ColInfo, Bytes().u16(250).u16(256).u16(4000).u16(1).u16(0x0201).u16(0));
  b.rec(R::ColInfo, Bytes().u16(300).u16(400).u16(4000).u16(0).u16(0).u16(0));
  b.rec(R::Window2, Bytes().u16(0x0008 | 0x0004 | 0x0002).u16(0).u16(0));  // frozen, no zeros
  b.rec(R::Scl, Bytes().u16(1).u16(4));
  b.rec(R::Pane, Bytes().u16(2).u16(3).u16(10).u16(7).u8(0));
  b.rec(R::Selection, Bytes().u8(3).u16(0).u16(0).u16(0).u16(1).u16(0).u16(0).u8(0).u8(0));  // another pane
  b.rec(R::Selection, Bytes().u8(0).u16(12).u16(4).u16(0).u16(1).u16(11).u16(13).u8(3).u8(5));
  b.rec(R::MergedCells, Bytes().u16(4).u16(1).u16(2).u16(1).u16(3).u16(5).u16(4).u16(0).u16(0).u16(4).u16(5).u16(0).u16(0)
                            .u16(0).u16(0).u16(0).u16(300));
  b.rec(R::Protect, Bytes().u16(1));
  b.rec(R::Header, Bytes().text(u"&CTitle", 2)).rec(R::Footer);
  b.rec(R::LeftMargin, Bytes().f64(0.5)).rec(R::BottomMargin, Bytes().f64(1.25));
  Bytes setup;
  for (int i = 0; i < 44; ++i) setup.u8(i + 1);
  b.rec(R::PageSetup, setup);
  Bytes list = Bytes().u8(0x17).text(std::u16string(u"a\0bb\0c", 6), 1);
  b.rec(R::Dv, Bytes().u32(0x00080083 /* list, explicit, error alert */).text(u"Pick", 2).text(u"Oops", 2).text(
                     std::u16string(1, u'\0'), 2).text(u"Not allowed", 2)
                   .u16(static_cast<uint32_t>(list.b.size())).u16(0).raw(list.b)
                   .u16(0).u16(0).u16(1).u16(4).u16(6).u16(2).u16(2));
  b.eof();
  b.bof(excel::Substream::Worksheet).rec(R::Scl, Bytes().u16(5).u16(1)).rec(R::Scl, Bytes().u16(3).u16(0)).eof();
  ReadResult r = readBiff(b, "settings");
  ASSERT_TRUE(r.ok) << r.error;
  const Sheet& s = *r.book->sheetAt(0);
  EXPECT_EQ(std::tuple(s.rowHeight(3), s.isRowHidden(3), s.isRowHeightExplicit(3), s.rowStyle(3)),
            std::tuple(600, true, true, int16_t{2}));
  EXPECT_EQ(s.columns.columnWidth(255), 4000) << "a run to column 256 stops at the last column";
  EXPECT_EQ(std::tuple(s.columns.isColumnHidden(250), s.columns.columnOutlineLevel(250), s.columns.columnStyle(250)),
            std::tuple(true, 2, int16_t{1}));
  EXPECT_EQ(s.columns.columnWidth(249), s.columns.defaultWidth());
  const SheetView& v = s.view;
  EXPECT_EQ(std::tuple(v.showGridlines, v.showHeaders, v.showZeros, v.zoom), std::tuple(true, true, false, 25u));
  EXPECT_TRUE(v.rowsFrozen && v.columnsFrozen);
  EXPECT_EQ((Area{v.topRow, v.leftColumn, v.frozenLastRow, v.frozenLastColumn}), (Area{10, 7, 2, 1}))
      << "scrolled to row 11 and column H, frozen to row 3 and column B";
  EXPECT_EQ(s.selection.area(), (Area{11, 3, 13, 5}));
  EXPECT_EQ(std::pair(s.selection.activeRow, s.selection.activeColumn), std::pair(uint16_t{12}, int16_t{4}));
  ASSERT_EQ(s.mergedAreas.size(), 2) << "reversed rows and a column beyond 255 are left out";
  EXPECT_EQ(s.mergedAreas[0], (Area{1, 1, 2, 3}));
  EXPECT_EQ(s.mergedAreas[1], (Area{4, 0, 5, 0}));
  EXPECT_TRUE(s.isProtected);
  EXPECT_EQ(s.print.header, u"&CTitle");
  EXPECT_EQ(s.print.leftMargin, 0.5);
  EXPECT_EQ(s.print.bottomMargin, 1.25);
  EXPECT_EQ(s.print.pageSetup[43], 44);
  ASSERT_EQ(s.validations.size(), 1u);
  const ValidationEntry& dv = s.validations[0];
  EXPECT_EQ(dv.rule.flags, 0x00080083u);
  EXPECT_EQ(dv.rule.inputTitle + u"|" + dv.rule.errorTitle + u"|" + dv.rule.inputMessage + u"|" + dv.rule.errorMessage,
            u"Pick|Oops||Not allowed") << "a lone NUL is no text";
  EXPECT_EQ(dv.rule.list, (std::vector<std::u16string>{u"a", u"bb", u"c"}));
  EXPECT_EQ(dv.areas, (std::vector<Area>{{4, 2, 6, 2}}));
  EXPECT_EQ(r.book->sheetAt(1)->view.zoom, 200u) << "5/1 is limited to 200; a zero denominator is ignored";
}

// What the reader tells formula conversion once it has read `biff`.
ExcelFormulaContext contextAfterReading(const Biff& biff) {
  clearError();
  auto book = newWorkbook(0);
  MemoryDocStream stream(biff.bytes.data(), biff.bytes.size());
  excel::ExcelReader reader(*book, stream, biff.biff8);
  EXPECT_TRUE(reader.read()) << pendingError();
  clearError();
  return reader.formulaContext();
}

TEST(ExcelReader, NamesAndExternalSheetsKeepTheirPositions) {
  using Extern = ExcelFormulaContext::ExternSheet;
  // A NAME record without tokens; BIFF8 has an option byte before the characters.
  auto name = [](std::u16string_view text, uint16_t options = 0, bool biff8 = true) {
    Bytes d = Bytes().u16(options).u8(0).u8(static_cast<uint32_t>(text.size())).u16(0).u16(0).u16(0).u32(0);
    return (biff8 ? d.u8(0) : d).chars(text, false);
  };
  {
    Biff b;
    b.standardGlobals().boundSheet(u"S").boundSheet(u"#KelpData#").boundSheet(u"T");
    b.rec(R::SupBook, Bytes().u16(3).u8(1).u8(4));
    b.rec(R::SupBook, Bytes().u16(2).text(u"\x01" u"other.xls", 2).text(u"E1", 2).text(u"E2", 2));
    b.rec(R::ExternSheet, Bytes().u16(6).u16(0).u16(0).u16(0).u16(0).u16(2).u16(2).u16(0).u16(1).u16(1)
                              .u16(1).u16(1).u16(1).u16(0).u16(9).u16(9).u16(5).u16(0).u16(0));
    b.rec(R::Name, name(u"Alpha")).rec(R::Name, name(u"\x06", 0x0020));  // Print_Area, built in
    b.rec(R::Name, name(u"\x01"));                                        // Auto_Open without the flag
    b.rec(R::Name, name(u"Beta")).rec(R::Name, name(u"ALPHA"));            // a second, local copy of Alpha
    b.eof();
    for (int i = 0; i < 3; ++i) b.bof(excel::Substream::Worksheet).eof();
    ExcelFormulaContext context = contextAfterReading(b);
    EXPECT_EQ(context.nameIndexes, (std::vector<int32_t>{0, -1, -1, 1, 0}));
    EXPECT_EQ(context.sheetNumbers, (std::vector<int32_t>{0, -1, 1}));
    EXPECT_EQ(context.externSheets, (std::vector<Extern>{{0, 0, 0}, {0, 1, 1}, {0, -1, -1} /* the data sheet */,
                                                         {1, 1, 1}, {0, -1, -1} /* no sheet 9 */,
                                                         {0, -1, -1} /* no SUPBOOK 5 */}));
    ReadResult r = readBiff(b);
    ASSERT_EQ(r.book->names.size(), 2u);
    EXPECT_EQ(r.book->names[1].text, u"Beta");
    ASSERT_EQ(r.book->externalBookCount(), 1);
    EXPECT_EQ(r.book->externalBook(1)->sheetNames, (std::vector<std::u16string>{u"E1", u"E2"}));
  }
  {
    // Excel 5 lists referenced sheets by name, in the globals and again in each sheet.
    auto externSheet = [](std::u16string_view text) {
      return Bytes().u8(static_cast<uint32_t>(text.size())).chars(text, false);
    };
    Biff b(false);
    b.standardGlobals().boundSheet(u"S").boundSheet(u"T");
    b.rec(R::ExternSheet, externSheet(u"\x03T")).rec(R::ExternSheet, externSheet(u"\x04"));
    b.rec(R::ExternSheet, externSheet(u"\x01\x01" u"Ddir\x03[ext.xls]Sheet9"));
    for (auto text : {u"One", u"\x02", u"Two"}) b.rec(R::Name, name(text, 0, false));
    b.eof();
    b.bof(excel::Substream::Worksheet).eof();
    b.bof(excel::Substream::Worksheet).rec(R::ExternSheet, externSheet(u"\x02")).eof();
    ExcelFormulaContext context = contextAfterReading(b);
    EXPECT_EQ(context.nameIndexes, (std::vector<int32_t>{0, -1, 1}));
    EXPECT_EQ(context.externSheets, (std::vector<Extern>{{0, 1, 1}})) << "the last sheet's own list, naming itself";
    ReadResult r = readBiff(b, "biff5-names");
    ASSERT_EQ(r.book->externalBookCount(), 1);
    EXPECT_EQ(r.book->externalBook(1)->name, u"ext.xls");
    EXPECT_EQ(r.book->externalBook(1)->directory, u"D:\\dir\\");
    EXPECT_EQ(r.book->externalBook(1)->sheetNames, (std::vector<std::u16string>{u"Sheet9"}));
  }
}

// The definition of name `index` as Kelp writes it, or "<none>".
std::u16string definitionText(const Workbook& book, size_t index) {
  const uint32_t handle = book.names[index].definition;
  std::u16string text = u"<none>";
  if (handle != NoHandle && formulaPool().isLive(handle))
    formulaText(book, static_cast<const uint8_t*>(formulaPool().data(handle)), CellPosition{}, text);
  return text;
}

TEST(ExcelReader, FormulasAndNamesKelpCannotFollowLeaveTheFileReadable) {
  // A BIFF8 NAME record with its tokens.
  auto name = [](std::u16string_view text, const Bytes& tokens) {
    return Bytes().u16(0).u8(0).u8(static_cast<uint32_t>(text.size())).u16(static_cast<uint32_t>(tokens.b.size()))
        .u16(0).u16(0).u32(0).u8(0).chars(text, false).raw(tokens.b);
  };
  auto formula = [](Biff& b, uint16_t row, uint16_t col, const Bytes& result, const Bytes& tokens) {
    b.cell(R::Formula, row, col, 0, Bytes().raw(result.b).u16(0).u32(0).u16(static_cast<uint32_t>(tokens.b.size())).raw(tokens.b));
  };
  Biff b;
  b.standardGlobals().boundSheet(u"S").boundSheet(u"T");
  b.rec(R::Name, name(u"Gone", Bytes().u8(0x1C).u8(23)));         // =#REF!, as Gnumeric's Print_Area
  b.rec(R::Name, name(u"Union", Bytes().u8(0x16)));                // a lone missing argument: no Kelp form
  b.rec(R::Name, name(u"Adds", Bytes().u8(0x1E).u16(1).u8(0x03)));  // an operator short of an operand
  b.eof();
  b.bof(excel::Substream::Worksheet);
  formula(b, 0, 0, Bytes().f64(5), Bytes().u8(0x03));                           // an operator alone
  formula(b, 1, 0, Bytes().f64(6), Bytes().u8(0x1F).u32(0));                    // a number cut short
  formula(b, 2, 0, cachedSpecial(2, 7), Bytes().u8(0x1C).u8(7));                // =#DIV/0!
  formula(b, 3, 0, cachedSpecial(2, 29), Bytes().u8(0x43).u16(2).u16(0));       // =Union
  formula(b, 4, 0, cachedSpecial(2, 23), Bytes().u8(0x1E).u16(1).u8(0x1C).u8(23).u8(0x03));  // =1+#REF!
  b.eof();
  b.bof(excel::Substream::Worksheet).number(0, 0, 9).eof();
  (void)takeNotice();
  ReadResult r = readBiff(b, "unfollowed");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.error, static_cast<uint32_t>(Err::UnsupportedFormula));
  const DocumentNotice notice = takeNotice();
  EXPECT_EQ(notice.code, static_cast<uint32_t>(Err::UnsupportedFormula));
  EXPECT_EQ(notice.detail, u"Union") << "the notice names the first name kept as an error";
  const Workbook& book = *r.book;
  ASSERT_EQ(book.names.size(), 3u);
  EXPECT_EQ(definitionText(book, 0), u"=!!Ref");
  EXPECT_EQ(definitionText(book, 1), u"=!!Name");
  EXPECT_EQ(definitionText(book, 2), u"=!!Name");
  // Tokens Kelp cannot follow leave the cached result; the rest are formulas again.
  const Sheet& s = *book.sheetAt(0);
  EXPECT_EQ(s.cellPtr(0, 0)->value.kind, ValueKind::Number);
  EXPECT_EQ(valueAt(book, 0, 0, 0).number(), 5);
  EXPECT_EQ(s.cellPtr(0, 1)->value.kind, ValueKind::Number);
  EXPECT_EQ(valueAt(book, 0, 0, 1).number(), 6);
  const std::u16string expected[] = {u"=!!Div0", u"=Union", u"=1+!!Ref"};
  for (uint16_t row = 2; row <= 4; ++row) {
    const CellValue& cell = s.cellPtr(0, row)->value;
    ASSERT_EQ(cell.kind, ValueKind::Formula) << row;
    std::u16string text;
    ASSERT_TRUE(formulaText(book, static_cast<const uint8_t*>(formulaPool().data(formulaTokens(cell))),
                            CellPosition{0, row, 0}, text));
    EXPECT_EQ(text, expected[row - 2]) << row;
  }
  EXPECT_EQ(valueAt(book, 1, 0, 0).number(), 9) << "the sheet after them is read";
}

TEST(ExcelReader, StreamsOfOtherVersionsAreRefused) {
  Biff worksheetOnly;
  worksheetOnly.bof(excel::Substream::Worksheet).eof();
  EXPECT_EQ(readBiff(worksheetOnly).error, static_cast<uint32_t>(Err::ExcelVersion));
  EXPECT_EQ(readBytes({0x09, 0x00, 0x04, 0x00, 2, 0, 0x10, 0}, true).error, static_cast<uint32_t>(Err::ExcelVersion))
      << "an Excel 2 BOF";
  EXPECT_EQ(readBytes({}, true).error, static_cast<uint32_t>(Err::ExcelVersion));
}

TEST(ExcelReader, HiddenDataSheetRestoresTasksAndIsNoSheet) {
  Biff b;
  b.standardGlobals().boundSheet(u"Sheet1").boundSheet(u"#KelpData#").boundSheet(u"It's mine");
  b.rec(R::Sst, Bytes().u32(1).u32(1).u16(3).u8(0).chars(u"Tap", false)).eof();
  b.bof(excel::Substream::Worksheet).number(0, 0, 1).eof();
  b.bof(excel::Substream::Worksheet);
  b.label(0, 0, u"Kelp import/export internal data - do not modify this sheet!");
  b.label(3, 0, u"ignored: a heading row");
  b.label(4, 0, u"Hello").label(4, 1, u"m.").label(4, 2, u"Say hello").label(4, 5, u"MsgBox(\"hi\")");
  b.cell(R::LabelSst, 5, 0, 0, Bytes().u32(0));
  b.label(5, 1, u"tt").label(5, 2, u"'It''s mine'!$B$2:C3").label(5, 5, u"Sel(");
  b.number(6, 5, 12);  // not a text: not read
  b.label(6, 5, u"A1)");
  b.label(7, 0, u"OnEntry").label(7, 1, u"e.").label(7, 2, u"Sheet1!D4").label(7, 5, u"Beep()");
  b.label(8, 0, u"Anywhere").label(8, 1, u".t").label(8, 2, u"A1");
  b.eof();
  b.bof(excel::Substream::Worksheet).label(0, 0, u"third").eof();
  ReadResult r = readBiff(b, "tasks");
  ASSERT_TRUE(r.ok) << r.error;
  const Workbook& book = *r.book;
  ASSERT_EQ(book.sheetCount(), 2);
  EXPECT_EQ(book.sheetAt(1)->name, u"It's mine");
  EXPECT_EQ(textAt(book, 1, 0, 0), u"third") << "the sheet after the data sheet gets its own cells";
  ASSERT_EQ(book.tasks.size(), 4u);
  std::vector<uint32_t> runOn;
  for (const WorkbookTask& task : book.tasks) runOn.push_back(task.runOn);
  EXPECT_EQ(runOn, (std::vector<uint32_t>{1, 2, 3, 2})) << "a second letter t means a tap as well";
  EXPECT_EQ(book.tasks[0].name + u"|" + book.tasks[0].definition, u"Hello|MsgBox(\"hi\")");
  EXPECT_EQ(book.tasks[0].menuText, std::optional<std::u16string>(u"Say hello"));
  EXPECT_EQ(book.tasks[1].name + u"|" + book.tasks[1].definition, u"Tap|Sel(A1)")
      << "pieces in later rows are appended";
  auto area = [&](size_t i) { return std::vector<int>(book.tasks[i].area, book.tasks[i].area + 12); };
  EXPECT_EQ(area(1), (std::vector<int>{0, 1, 1, 0, 1, 0, 1, 0, 2, 0, 2, 0}));
  EXPECT_EQ(area(2), (std::vector<int>{0, 0, 0, 0, 3, 0, 3, 0, 3, 0, 3, 0}));
  EXPECT_EQ(area(3)[1], 255) << "no sheet named: any sheet";
  EXPECT_EQ(area(3)[2], 245);
}

TEST(ExcelReader, Excel5TextsFollowTheDeclaredCodePage) {
  struct Case {
    uint16_t codePage;
    uint8_t byte;
    char16_t expected;
  };
  const Case cases[] = {{1200, 0x80, u'\u20AC'} /* declared UTF-16, written as 1252 */, {1251, 0xC0, u'\u0410'},
                        {9999, 0x80, u'\u20AC'} /* unknown: 1252 */};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    Biff b(false);
    b.bof(excel::Substream::Globals).rec(R::CodePage, Bytes().u16(c.codePage)).font(u"Arial").xf(0, 0);
    b.rec(R::BoundSheet, Bytes().u32(0).u8(0).u8(0).u8(2).u8(u'S').u8(c.byte)).eof();
    b.bof(excel::Substream::Worksheet).cell(R::Label, 0, 0, 0, Bytes().u16(2).u8(u'x').u8(c.byte));
    b.formula(1, 0, cachedSpecial(0, 0)).rec(R::String, Bytes().u16(1).u8(c.byte)).eof();
    ReadResult r = readBiff(b, c.codePage == 1251 ? "biff5" : nullptr);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.book->sheetAt(0)->name, (std::u16string{u'S', c.expected}));
    EXPECT_EQ(textAt(*r.book, 0, 0, 0), (std::u16string{u'x', c.expected}));
    EXPECT_EQ(textAt(*r.book, 0, 0, 1), std::u16string(1, c.expected));
  }
  // In BIFF8 a string without the 16-bit flag holds Latin-1, whatever the code page.
  Biff b;
  b.standardGlobals().rec(R::CodePage, Bytes().u16(1251)).boundSheet(u"S").eof();
  b.bof(excel::Substream::Worksheet).cell(R::Label, 0, 0, 0, Bytes().u16(1).u8(0).u8(0xC0)).eof();
  ReadResult r = readBiff(b);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(textAt(*r.book, 0, 0, 0), u"\u00C0");
}
// A stream with something of every record the reader takes, for damaging.
Biff everything() {
  Biff b;
  b.standardGlobals().format(164, u"0.0").xf(0, 164).rec(R::Palette, Bytes().u16(1).u32(5));
  b.boundSheet(u"S").boundSheet(u"#KelpData#");
  b.rec(R::SupBook, Bytes().u16(1).u8(1).u8(4));
  b.rec(R::SupBook, Bytes().u16(1).text(u"\x01\x01" u"Cdocs\x03" u"other.xls", 2).text(u"Ext", 2));
  b.rec(R::ExternSheet, Bytes().u16(3).u16(0).u16(0).u16(0).u16(1).u16(0).u16(0).u16(77).u16(0).u16(0));
  b.rec(R::Name, Bytes().u16(0).u8(0).u8(1).u16(3).u16(0).u16(0).u32(0).u8(0).u8(u'N').u8(0x1E).u16(1));
  b.rec(R::Sst, Bytes().u32(1).u32(1).u16(2).u8(0).chars(u"ab", false)).eof();
  b.bof(excel::Substream::Worksheet).number(0, 0, 1).label(0, 1, u"x").cell(R::LabelSst, 0, 2, 0, Bytes().u32(0));
  b.formula(1, 0, cachedSpecial(0, 0)).rec(R::String, Bytes().text(u"s", 2));
  b.rec(R::Row, Bytes().u16(1).u16(0).u16(1).u16(300).u16(0).u16(0).u16(0x80).u16(1));
  b.rec(R::MergedCells, Bytes().u16(1).u16(0).u16(1).u16(0).u16(1));
  b.rec(R::Window2, Bytes().u16(0x020E).u16(0).u16(0)).rec(R::Pane, Bytes().u16(1).u16(1).u16(1).u16(1).u8(0));
  b.eof();
  b.bof(excel::Substream::Worksheet).label(4, 0, u"T").label(4, 1, u"tt").label(4, 2, u"S!A1").eof();
  return b;
}

TEST(ExcelReader, DamagedStreamsGiveErrorCodesNotCrashes) {
  const Biff whole = everything();
  saveSeed(whole, "everything");
  ReadResult good = readBiff(whole);
  ASSERT_TRUE(good.ok) << good.error;
  ASSERT_EQ(good.book->externalBookCount(), 1);
  EXPECT_EQ(good.book->externalBook(1)->name, u"other.xls");
  EXPECT_EQ(good.book->externalBook(1)->directory, u"C:\\docs\\");

  // Cut anywhere, the stream ends early: a read error (or not Excel at all), never a crash.
  for (size_t cut = 0; cut < whole.bytes.size(); ++cut) {
    std::vector<uint8_t> part(whole.bytes.begin(), whole.bytes.begin() + static_cast<std::ptrdiff_t>(cut));
    ReadResult r = readBytes(part, true);
    ASSERT_FALSE(r.ok) << cut;
    ASSERT_TRUE(r.error == static_cast<uint32_t>(Err::FileRead) || r.error == static_cast<uint32_t>(Err::ExcelVersion))
        << cut << ": " << r.error;
  }
  // Every record the reader takes, empty or one byte long, in the globals and in a sheet.
  const uint16_t types[] = {R::Protect, R::DateMode, R::CodePage, R::BoundSheet, R::ExternSheet, R::SupBook,
                            R::Name, R::Font, R::Format, R::Xf, R::Palette, R::Sst, R::Continue, R::Blank,
                            R::Number, R::Rk, R::MulRk, R::MulBlank, R::Label, R::RString, R::LabelSst,
                            R::BoolErr, R::Formula, R::ShrFmla, R::String, R::Row, R::ColInfo, R::Window2,
                            R::Pane, R::Selection, R::Scl, R::MergedCells, R::Dv, R::Header, R::Footer,
                            R::LeftMargin, R::PageSetup};
  for (uint16_t type : types) {
    for (size_t length : {0, 1}) {
      SCOPED_TRACE(testing::Message() << std::hex << type << " length " << length);
      Bytes data;
      if (length) data.u8(0xFF);
      Biff b;
      b.standardGlobals().rec(type, data).boundSheet(u"S").eof();
      b.bof(excel::Substream::Worksheet).rec(R::Formula, Bytes()).rec(type, data).number(0, 0, 1).eof();
      ReadResult r = readBiff(b);
      EXPECT_TRUE(r.ok) << r.error;
      if (r.ok) {
        EXPECT_EQ(valueAt(*r.book, 0, 0, 0).number(), 1);
      }
    }
  }
  // Huge counts and indexes stay inside the records and tables.
  Biff huge;
  huge.standardGlobals().boundSheet(u"S");
  huge.rec(R::Sst, Bytes().u32(0xFFFFFFFF).u32(0xFFFFFFFF).u16(0xFFFF).u8(1).u16(u'z'));
  huge.rec(R::ExternSheet, Bytes().u16(0xFFFF).u16(0xFFFF).u16(0xFFFF).u16(0xFFFF));
  huge.rec(R::Palette, Bytes().u16(0xFFFF).u32(1));
  huge.eof().bof(excel::Substream::Worksheet);
  huge.rec(R::MulRk, Bytes().u16(0).u16(254).u16(0).u32(0x3FE00000).u16(0).u32(0x3FF80000).u16(0).u32(0x40000000).u16(256));
  huge.rec(R::MergedCells, Bytes().u16(0xFFFF).u16(0).u16(0).u16(0).u16(0));
  huge.rec(R::ColInfo, Bytes().u16(0xFFFF).u16(0xFFFF).u16(1).u16(0xFFFF).u16(0).u16(0));
  huge.cell(R::LabelSst, 0, 0, 0, Bytes().u32(0x7FFFFFFF));
  huge.rec(R::Selection, Bytes().u8(3).u16(2).u16(0).u16(0).u16(1).u16(2).u16(3).u8(0).u8(0));
  huge.rec(R::Selection, Bytes().u8(3).u16(9).u16(9).u16(0).u16(0xFFFF).u16(5).u16(1).u8(0).u8(0));
  huge.eof();
  ReadResult h = readBiff(huge, "huge");
  ASSERT_TRUE(h.ok) << h.error;
  EXPECT_EQ(valueAt(*h.book, 0, 254, 0).number(), 0.5);
  EXPECT_EQ(valueAt(*h.book, 0, 255, 0).number(), 1.5);
  EXPECT_EQ(h.book->sheetAt(0)->cellPtr(0, 0), nullptr);
  EXPECT_EQ(h.book->sheetAt(0)->selection.firstRow, 2) << "a selection whose rows are reversed is not taken";

  // More BOUNDSHEET entries than substreams: the stream ends early.
  Biff missing;
  missing.standardGlobals().boundSheet(u"A").boundSheet(u"B").eof().bof(excel::Substream::Worksheet).eof();
  EXPECT_EQ(readBiff(missing).error, static_cast<uint32_t>(Err::FileRead));
  // Two sheets of one name are damage.
  Biff twice;
  twice.standardGlobals().boundSheet(u"A").boundSheet(u"a").eof();
  EXPECT_EQ(readBiff(twice).error, static_cast<uint32_t>(Err::FileRead));

  // Bytes flipped one at a time: whatever the reader makes of them, it stays in bounds.
  for (size_t at = 0; at < whole.bytes.size(); at += 3) {
    std::vector<uint8_t> flipped = whole.bytes;
    flipped[at] ^= 0xA5;
    ReadResult r = readBytes(flipped, true);
    if (r.ok) {
      EXPECT_TRUE(r.error == 0 || r.error == static_cast<uint32_t>(Err::UnsupportedFormula)) << at;
    }
  }
}

}  // namespace
}  // namespace kelp
