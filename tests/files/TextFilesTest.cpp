// Tests of the text files: delimited text both ways, encodings, and the XML list.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "files/DocStream.h"
#include "files/Document.h"
#include "files/TextFiles.h"
#include "format/DateSerial.h"
#include "formula/EntryReader.h"
#include "formula/Recalc.h"
#include "model/NumberFormat.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Locale.h"
#include "platform/Text.h"
#include "tests/files/TempFolder.h"

namespace kelp {
namespace {

using test::TempFolder;

namespace fs = std::filesystem;

std::unique_ptr<Workbook> readText(std::string_view bytes, char16_t separator, uint32_t codePage = 1252,
                                   TextEncoding* found = nullptr, int32_t firstRow = 0) {
  clearError();
  auto book = newWorkbook(1);
  book->codePage = codePage;
  MemoryDocStream stream(bytes.data(), bytes.size());
  stream.allocateBuffer();
  EXPECT_TRUE(ReadDelimitedText(*book, *book->sheetAt(0), stream, separator, 0, firstRow, found));
  EXPECT_EQ(pendingError(), 0u);
  return book;
}

std::string writeText(const Workbook& book, char16_t separator, TextEncoding encoding) {
  clearError();
  MemoryDocStream stream;
  WriteDelimitedText(book, *book.sheetAt(0), stream, separator, encoding);
  EXPECT_EQ(pendingError(), 0u);
  return std::string(reinterpret_cast<const char*>(stream.data()), stream.size());
}

std::string utf16Bytes(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

std::u16string textAt(const Workbook& book, int32_t column, int32_t row) {
  const CellValue& value = book.sheetAt(0)->cellValue(column, row);
  return value.kind == ValueKind::Text ? std::u16string(textOf(value)) : u"<not a text>";
}

void type(Workbook& book, int32_t column, int32_t row, std::u16string_view entry) {
  int suggested = -1;
  CellValue value = readEntry(&book, entry, CellPosition{static_cast<uint16_t>(column), static_cast<uint16_t>(row), 0},
                              &suggested, false);
  int16_t style = 0;
  if (suggested >= 0) {
    StyleRecord fields{};
    fields.numberFormat = static_cast<uint16_t>(suggested);
    style = book.changedStyle(0, fields, StyleField::NumberFormat, FontRecord{}, 0);
  }
  ASSERT_TRUE(book.sheetAt(0)->setCell(column, row, CellRecord{value, style}));
}

/// A sheet with every kind of value, texts that need quoting, gaps and empty rows.
std::unique_ptr<Workbook> mixedBook() {
  auto book = newWorkbook(1);
  type(*book, 0, 0, u"3");
  type(*book, 1, 0, u"-2.5");
  type(*book, 3, 0, u"1/2/05");  // column 2 stays empty
  type(*book, 4, 0, u"13:30");
  type(*book, 0, 1, u"TRUE");
  type(*book, 1, 1, u"=A1*2");
  type(*book, 2, 1, u"50%");
  type(*book, 3, 1, u"12345678901");
  // Row 2 stays empty.
  type(*book, 0, 3, u"a,b");
  type(*book, 1, 3, u"say \"hi\"");
  type(*book, 2, 3, u"two\nlines");
  type(*book, 3, 3, u"日本, 𝄞 café");
  type(*book, 4, 3, u"  indented");
  type(*book, 5, 3, u"'=1+2");
  type(*book, 6, 3, u"tab\there");
  recalculateAll(*book);
  return book;
}

void expectMixedValues(const Workbook& book) {
  const Sheet& sheet = *book.sheetAt(0);
  EXPECT_EQ(sheet.cellValue(0, 0).number(), 3);
  EXPECT_EQ(sheet.cellValue(1, 0).number(), -2.5);
  EXPECT_EQ(sheet.cellKind(2, 0), ValueKind::Empty);
  EXPECT_EQ(sheet.cellKind(3, 0), ValueKind::DateTime);
  EXPECT_EQ(sheet.cellValue(3, 0).number(), 38354);
  EXPECT_EQ(sheet.cellKind(4, 0), ValueKind::DateTime);
  EXPECT_EQ(sheet.cellValue(4, 0).number(), 0.5625);
  EXPECT_EQ(sheet.cellKind(0, 1), ValueKind::Logical);
  // A formula arrives as the value it showed.
  EXPECT_EQ(sheet.cellKind(1, 1), ValueKind::Number);
  EXPECT_EQ(sheet.cellValue(1, 1).number(), 6);
  EXPECT_DOUBLE_EQ(sheet.cellValue(2, 1).number(), 0.5);
  EXPECT_EQ(book.style(sheet.effectiveStyle(2, 1)).numberFormat, BuiltInFormat::Percent2);
  EXPECT_EQ(sheet.cellValue(3, 1).number(), 12345678901.0);
  EXPECT_FALSE(sheet.rowExists(2));
  EXPECT_EQ(textAt(book, 0, 3), u"a,b");
  EXPECT_EQ(textAt(book, 1, 3), u"say \"hi\"");
  EXPECT_EQ(textAt(book, 2, 3), u"two\nlines");
  EXPECT_EQ(textAt(book, 3, 3), u"日本, 𝄞 café");
  EXPECT_EQ(textAt(book, 4, 3), u"  indented");
  EXPECT_EQ(textAt(book, 5, 3), u"=1+2");
  EXPECT_EQ(textAt(book, 6, 3), u"tab\there");
  EXPECT_EQ(sheet.lastUsedRow(-1), 3);
}

TEST(TextFiles, RoundTripsKeepValuesAndTextsInBothEncodingsAndSeparators) {
  auto book = mixedBook();
  for (TextEncoding encoding : {TextEncoding::Utf16Le, TextEncoding::Utf8}) {
    for (char16_t separator : {u',', u'\t', u';'}) {
      SCOPED_TRACE(testing::Message() << "separator " << static_cast<int>(separator) << ", encoding "
                                      << (encoding == TextEncoding::Utf8 ? "UTF-8" : "UTF-16LE"));
      std::string bytes = writeText(*book, separator, encoding);
      auto back = readText(bytes, separator);
      expectMixedValues(*back);
      // What was read writes the same bytes again.
      EXPECT_EQ(writeText(*back, separator, encoding), bytes);
    }
  }
}

TEST(TextFiles, WriterQuotesOnlyWhatNeedsItAndEndsLinesWithCrLf) {
  auto book = newWorkbook(1);
  type(*book, 0, 0, u"a,b");
  type(*book, 1, 0, u"say \"hi\"");
  type(*book, 2, 0, u"plain");
  type(*book, 0, 2, u"x\ny");
  type(*book, 2, 2, u"1.5");
  std::string utf8 = writeText(*book, u',', TextEncoding::Utf8);
  EXPECT_EQ(utf8, "\"a,b\",\"say \"\"hi\"\"\",plain\r\n\r\n\"x\ny\",,1.5\r\n");
  std::string utf16 = writeText(*book, u',', TextEncoding::Utf16Le);
  EXPECT_EQ(utf16, std::string("\xFF\xFE", 2) + utf16Bytes(utf8ToUtf16(utf8)));
  // In tab-delimited text the comma needs no quotes.
  EXPECT_EQ(writeText(*book, u'\t', TextEncoding::Utf8), "a,b\t\"say \"\"hi\"\"\"\tplain\r\n\r\n\"x\ny\"\t\t1.5\r\n");
  // An empty sheet is the mark alone.
  auto empty = newWorkbook(1);
  EXPECT_EQ(writeText(*empty, u',', TextEncoding::Utf16Le), std::string("\xFF\xFE", 2));
  EXPECT_EQ(writeText(*empty, u',', TextEncoding::Utf8), "");
}

TEST(TextFiles, ReadingSplitsFieldsAsDesktopSpreadsheetsDo) {
  // An empty quoted field runs on into what follows it; a leading = stays text; fields that
  // start with a letter are logical values, whatever their case, or texts.
  auto book = readText("\"\"x\"\";=1+2;False;tRUE;Total;A1;e5;true 1\n", u';');
  const std::u16string texts[] = {u"x", u"=1+2", u"", u"", u"Total", u"A1", u"e5", u"true 1"};
  for (int32_t c = 0; c < 8; ++c) {
    if (c == 2 || c == 3) {
      ASSERT_EQ(book->sheetAt(0)->cellKind(c, 0), ValueKind::Logical) << c;
      EXPECT_EQ(book->sheetAt(0)->cellValue(c, 0).u32(), c == 3 ? 1u : 0u);
    } else {
      EXPECT_EQ(textAt(*book, c, 0), texts[c]) << c;
    }
  }

  // CR LF ends a line without leaving a CR in the cells; tabs inside a CSV field stay;
  // other control characters go.
  book = readText("one\r\ntwo\tcells,x\x01y\r\n\"quoted\r\nbreak\",z\r\nlast", u',');
  EXPECT_EQ(textAt(*book, 0, 0), u"one");
  EXPECT_EQ(textAt(*book, 0, 1), u"two\tcells");
  EXPECT_EQ(textAt(*book, 1, 1), u"xy");
  EXPECT_EQ(textAt(*book, 0, 2), u"quoted\nbreak") << "a quoted line break belongs to the field";
  EXPECT_EQ(textAt(*book, 1, 2), u"z");
  EXPECT_EQ(textAt(*book, 0, 3), u"last");
  EXPECT_EQ(book->sheetAt(0)->lastUsedRow(-1), 3);

  // Tab-delimited text keeps its columns, and CR LF is its line end too.
  book = readText("1\t2\t\t4\r\n\t\tc\r\n", u'\t');
  EXPECT_EQ(book->sheetAt(0)->cellValue(1, 0).number(), 2);
  EXPECT_EQ(book->sheetAt(0)->cellKind(2, 0), ValueKind::Empty);
  EXPECT_EQ(book->sheetAt(0)->cellValue(3, 0).number(), 4);
  EXPECT_EQ(textAt(*book, 2, 1), u"c");

  // A quote inside a field quotes up to the line end, and no further.
  book = readText("5\" screen,10\nnext,2\n", u',');
  EXPECT_EQ(textAt(*book, 0, 0), u"5 screen,10");
  EXPECT_EQ(textAt(*book, 0, 1), u"next");
  EXPECT_EQ(book->sheetAt(0)->cellValue(1, 1).number(), 2);

  // Long fields are cut at 1000 characters; columns past IV are dropped.
  std::string wide(300, ',');
  book = readText(std::string(1500, 'w') + "," + "b" + wide + "z\n", u',');
  EXPECT_EQ(textAt(*book, 0, 0), std::u16string(1000, u'w'));
  EXPECT_EQ(textAt(*book, 1, 0), u"b");
  EXPECT_EQ(book->sheetAt(0)->lastValueInRow(0, NoColumn), 1);
}

std::vector<std::u16string> noticeTexts() {
  std::vector<std::u16string> texts;
  for (const DocumentNotice& notice : takeNotices()) texts.push_back(noticeText(notice));
  return texts;
}

// Money, ISO dates and bookkeeping negatives open as the numbers and dates they are,
// each cell with the format its text shows.
TEST(TextFiles, EverydayNumbersAndDatesOpenAsValues) {
  auto book = readText("\"$1,234.50\",2026-03-15,(50),Mar 15,\"1,23\"\n", u',');
  const Sheet& sheet = *book->sheetAt(0);
  auto formatAt = [&](int32_t column) { return book->style(sheet.effectiveStyle(column, 0)).numberFormat; };
  ASSERT_EQ(sheet.cellKind(0, 0), ValueKind::Number);
  EXPECT_DOUBLE_EQ(sheet.cellValue(0, 0).number(), 1234.5);
  EXPECT_EQ(formatAt(0), BuiltInFormat::Currency2);
  ASSERT_EQ(sheet.cellKind(1, 0), ValueKind::DateTime);
  double date = 0;
  ASSERT_TRUE(serialFromFields(2026, 3, 15, 0, 0, 0, 0, true, date));
  EXPECT_DOUBLE_EQ(sheet.cellValue(1, 0).number(), date);
  EXPECT_EQ(formatAt(1), BuiltInFormat::ShortDate);
  ASSERT_EQ(sheet.cellKind(2, 0), ValueKind::Number);
  EXPECT_DOUBLE_EQ(sheet.cellValue(2, 0).number(), -50);
  EXPECT_EQ(formatAt(2), BuiltInFormat::General);
  EXPECT_EQ(sheet.cellKind(3, 0), ValueKind::DateTime) << "a field may begin with its month";
  EXPECT_EQ(formatAt(3), BuiltInFormat::DayMonth);
  EXPECT_EQ(textAt(*book, 4, 0), u"1,23");
}

TEST(TextFiles, ImportTellsOnceWhatItCutOrLeftOutAtItsFirstPlace) {
  (void)takeNotices();
  std::string text = "ok\r\nx\x01y,\"a\r\nb\"\n";                             // a control character in A2
  text += std::string(1001, 'w') + "," + std::string(2000, 'v') + "\n";        // cut fields from A3
  text += std::string(256, ',') + "past,again\n";                             // columns past IV in row 4
  text += std::string("\0\0z\rq\n", 6);                                        // more control characters
  auto book = readText(text, u',');
  EXPECT_EQ(textAt(*book, 0, 1), u"xy");
  EXPECT_EQ(textAt(*book, 1, 1), u"a\nb");
  EXPECT_EQ(textAt(*book, 0, 4), u"zq");
  EXPECT_EQ(noticeTexts(), (std::vector<std::u16string>{
                               u"Control characters were left out, the first in A2.",
                               u"Fields longer than 1,000 characters were cut, the first in A3.",
                               u"A sheet holds 256 columns: fields past column IV were left out, the first in row 4.",
                           }));

  // Reading stops at the sheet's last row; blank lines past it lose nothing and say nothing.
  book = readText("a\nb\n\n\n", u',', 1252, nullptr, MaxRows - 2);
  EXPECT_EQ(textAt(*book, 0, MaxRows - 1), u"b");
  EXPECT_TRUE(noticeTexts().empty());
  book = readText("a\nb\nc\nd\n", u',', 1252, nullptr, MaxRows - 2);
  EXPECT_EQ(book->sheetAt(0)->lastUsedRow(-1), MaxRows - 1);
  EXPECT_EQ(noticeTexts(), std::vector<std::u16string>{u"A sheet holds 65,536 rows: reading stopped at row 65537."});
}

TEST(TextFiles, ReadingInPiecesJoinsWhatAPieceBoundaryCuts) {
  // The reader takes 65,536 bytes at a time: a character, a doubled quote and a CR LF
  // each straddle that boundary here.
  EXPECT_EQ(textAt(*readText(std::string(65534, ' ') + "\xE2\x82\xAC", u','), 0, 0), u"€");
  EXPECT_EQ(textAt(*readText(std::string(65533, ' ') + "\"a\"\"b\"", u','), 0, 0), u"a\"b");
  (void)takeNotices();
  auto book = readText(std::string(65535, ' ') + "\r\nx", u',');
  EXPECT_EQ(textAt(*book, 0, 1), u"x");
  EXPECT_TRUE(noticeTexts().empty()) << "a CR LF in two pieces is still a line end";
}

TEST(TextFiles, TheEncodingFoundWritesTheTextBackAsItCame) {
  std::string bigEndian = "\xFE\xFF";
  for (char16_t c : std::u16string_view(u"café,1\r\n")) {
    bigEndian.push_back(static_cast<char>(c >> 8));
    bigEndian.push_back(static_cast<char>(c & 0xFF));
  }
  const struct {
    std::string bytes;
    TextEncoding encoding;
  } cases[] = {
      {"caf\xC3\xA9,1\r\n", TextEncoding::Utf8},
      {"plain,1\r\n", TextEncoding::Utf8},
      {"\xEF\xBB\xBF" "caf\xC3\xA9,1\r\n", TextEncoding::Utf8WithMark},
      {"\xFF\xFE" + utf16Bytes(u"café,1\r\n"), TextEncoding::Utf16Le},
      {bigEndian, TextEncoding::Utf16Be},
      {"caf\xE9,1\r\n", TextEncoding::CodePage},
  };
  for (const auto& c : cases) {
    TextEncoding found = TextEncoding::Utf16Le;
    auto book = readText(c.bytes, u',', 1252, &found);
    EXPECT_EQ(found, c.encoding) << c.bytes;
    EXPECT_EQ(writeText(*book, u',', found), c.bytes);
  }
  // A character the code page lacks is written as "?", and the user hears where.
  (void)takeNotices();
  auto book = readText("caf\xE9\n", u',');
  type(*book, 1, 1, u"日本");
  EXPECT_EQ(writeText(*book, u',', TextEncoding::CodePage), "caf\xE9\r\n,??\r\n");
  EXPECT_EQ(noticeTexts(),
            std::vector<std::u16string>{u"Characters the file's code page lacks were written as \"?\", the first in B2."});
}

TEST(TextFiles, GeneralNumbersAreWrittenToReadBackTheSameAndOthersAsShown) {
  const double numbers[] = {0.1 + 0.2, 1.0 / 3, 123456789.12345679, -2.5e-300, 1.2345678901234567e20,
                            4e-5 / 3, 12345678901.5, 1e10, 0};
  auto book = newWorkbook(1);
  for (int32_t row = 0; row < 9; ++row)
    ASSERT_TRUE(book->sheetAt(0)->setCell(0, row, CellRecord{numberValue(numbers[row]), 0}));
  type(*book, 1, 0, u"2.5%");
  StyleRecord fields{};
  fields.numberFormat = BuiltInFormat::Fixed2;
  const int16_t fixed = book->changedStyle(0, fields, StyleField::NumberFormat, FontRecord{}, 0);
  ASSERT_TRUE(book->sheetAt(0)->setCell(1, 1, CellRecord{numberValue(1.0 / 3), fixed}));
  const std::string csv = writeText(*book, u',', TextEncoding::Utf8);
  EXPECT_EQ(csv.substr(0, csv.find('\n')), "0.30000000000000004,2.50%\r");
  EXPECT_NE(csv.find("0.3333333333333333,0.33\r\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find("1.2345678901234567e20\r\n"), std::string::npos) << csv;
  auto back = readText(csv, u',');
  for (int32_t row = 0; row < 9; ++row) EXPECT_EQ(back->sheetAt(0)->cellValue(0, row).number(), numbers[row]) << row;
}

// Numbers of few decimals take a shortcut to their digits; it must give what the
// shortest-digits search gives, across magnitudes, signs and near misses.
TEST(TextFiles, FewDecimalNumbersGetTheSameDigitsAsTheFullSearch) {
  std::vector<double> numbers = {0.5, -0.5, 1e-4, 1.5e-4, 0.0001000001, 9999999999.9999, 9999999999.5, 1e10 - 1,
                                 0.1 + 0.2, 1.0 / 3, 2.675, 1e9 + 0.25, -123.4567, 100, 70.07};
  std::mt19937_64 random(7);
  const double scales[] = {1, 10, 100, 1000, 10000, 100000};
  for (int i = 0; i < 3000; ++i) {
    const double scale = scales[i % 6];
    const double whole = static_cast<double>(random() % static_cast<uint64_t>(1e10 * scale / (i % 3 == 0 ? 1e6 : 1)));
    numbers.push_back((i % 2 ? -1 : 1) * whole / scale);
  }
  auto book = newWorkbook(1);
  for (size_t row = 0; row < numbers.size(); ++row)
    ASSERT_TRUE(book->sheetAt(0)->setCell(0, static_cast<int32_t>(row), CellRecord{numberValue(numbers[row]), 0}));
  const std::string csv = writeText(*book, u',', TextEncoding::Utf8);
  size_t at = 0;
  for (double number : numbers) {
    const size_t end = csv.find("\r\n", at);
    ASSERT_NE(end, std::string::npos);
    char expected[64];
    const double magnitude = std::fabs(number);
    const bool fixed = magnitude <= 1e10 && (magnitude >= 1e-4 || magnitude == 0);
    if (fixed) {
      *std::to_chars(expected, expected + sizeof expected, number, std::chars_format::fixed).ptr = 0;
      EXPECT_EQ(csv.substr(at, end - at), expected) << number;
    }
    at = end + 2;
  }
}

TEST(TextFiles, EncodingsAreToldApartByMarkOrByTheirBytes) {
  const std::u16string text = u"日本,\"a,b\"";
  auto expectJapan = [](const Workbook& book) {
    EXPECT_EQ(textAt(book, 0, 0), u"日本");
    EXPECT_EQ(textAt(book, 1, 0), u"a,b");
  };
  std::string bigEndian = "\xFE\xFF";
  for (char16_t c : text) {
    bigEndian.push_back(static_cast<char>(c >> 8));
    bigEndian.push_back(static_cast<char>(c & 0xFF));
  }
  expectJapan(*readText(bigEndian, u','));
  expectJapan(*readText("\xEF\xBB\xBF" + utf16ToUtf8(text), u','));
  // A byte that cannot be UTF-8 makes the whole text the workbook's code page.
  EXPECT_EQ(textAt(*readText("\xC3\xA9t\xE9", u','), 0, 0), u"Ã©té");
  EXPECT_EQ(textAt(*readText("\x9A\xE8", u',', 1250), 0, 0), u"šč");
  // Damaged UTF-8 after its mark still reads, its bad bytes replaced.
  EXPECT_EQ(textAt(*readText("\xEF\xBB\xBFok\xFF", u','), 0, 0), u"ok\uFFFD");
  EXPECT_EQ(decodeText(reinterpret_cast<const uint8_t*>("\xF0\x9D\x84\x9E"), 4, 1252), u"𝄞");
  EXPECT_EQ(decodeText(reinterpret_cast<const uint8_t*>("\xED\xA0\x80"), 3, 1252), u"\u00ED\u00A0\u20AC")
      << "an encoded surrogate is no UTF-8";
}

std::string fileBytes(const std::u16string& name) {
  std::ifstream in(utf16ToUtf8(name), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(TextFiles, DocumentsOpenUntitledAndExportWithoutRenaming) {
  TempFolder folder;
  clearError();
  Document document;
  document.replaceWorkbook(mixedBook());
  document.workbook().fileName = u"budget.kp";
  for (const char* name : {"out.csv", "out.txt"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(SaveDocument(document, folder.file(name), FileTypeFromName(folder.file(name))));
    EXPECT_EQ(document.workbook().fileName, u"budget.kp") << "an export keeps the workbook's name";
    EXPECT_EQ(document.workbook().fileType, 0u);
    Document reader;
    ASSERT_TRUE(OpenDocument(reader, folder.file(name)));
    EXPECT_TRUE(reader.workbook().fileName.empty()) << "a text file opens untitled";
    EXPECT_EQ(reader.workbook().fileType, 0u);
    ASSERT_EQ(reader.workbook().sheetCount(), 1);
    expectMixedValues(reader.workbook());
  }
  EXPECT_EQ(fileBytes(folder.file("out.txt")).substr(0, 2), "\xFF\xFE");

  // The CSV separator and the encoding can be chosen; both ways for the separator.
  TextFileOptions options;
  options.csvSeparator = u';';
  options.encoding = TextEncoding::Utf8;
  setTextFileOptions(options);
  ASSERT_TRUE(SaveDocument(document, folder.file("semi.csv"), DocFileType::CommaText));
  std::string semi = fileBytes(folder.file("semi.csv"));
  EXPECT_EQ(semi.substr(0, 10), "3;-2.5;;1/");
  Document reader;
  ASSERT_TRUE(OpenDocument(reader, folder.file("semi.csv")));
  expectMixedValues(reader.workbook());
  setTextFileOptions(TextFileOptions{});
  ASSERT_TRUE(OpenDocument(reader, folder.file("semi.csv")));
  EXPECT_EQ(textAt(reader.workbook(), 0, 0), u"3;-2.5;;1/2/05;13:30") << "the locale's comma splits nothing";

  // The locale's list separator is the CSV default, and its decimal comma is read.
  ASSERT_TRUE(selectLocale("de_DE"));
  const char16_t list = currentLocale().listSeparator;
  std::ofstream(utf16ToUtf8(folder.file("de.csv")), std::ios::binary)
      << "1,5" << static_cast<char>(list) << "x\r\n";
  ASSERT_TRUE(OpenDocument(reader, folder.file("de.csv")));
  EXPECT_EQ(reader.workbook().sheetAt(0)->cellValue(0, 0).number(), 1.5);
  EXPECT_EQ(textAt(reader.workbook(), 1, 0), u"x");
  // A decimal comma written between commas is quoted, so that the number reads back whole.
  auto comma = newWorkbook(1);
  ASSERT_TRUE(comma->sheetAt(0)->setCell(0, 0, CellRecord{numberValue(1.5), 0}));
  ASSERT_TRUE(comma->sheetAt(0)->setCell(1, 0, CellRecord{numberValue(-2), 0}));
  EXPECT_EQ(writeText(*comma, u',', TextEncoding::Utf8), "\"1,5\",-2\r\n");
  EXPECT_EQ(writeText(*comma, u';', TextEncoding::Utf8), "1,5;-2\r\n");
  ASSERT_TRUE(selectLocale("en_US"));
  clearError();
}

std::u16string xmlOf(const Workbook& book) {
  clearError();
  MemoryDocStream stream;
  WriteXmlList(book, stream);
  EXPECT_EQ(pendingError(), 0u);
  std::string bytes(reinterpret_cast<const char*>(stream.data()), stream.size());
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  return decodeText(stream.data(), stream.size(), 1252);
}

TEST(TextFiles, XmlListEscapesTextsAndMakesValidNamesThatXmllintAccepts) {
  auto book = newWorkbook(1);
  ASSERT_TRUE(book->renameSheet(0, u"Parts"));
  type(*book, 0, 0, u"Name");
  type(*book, 1, 0, u"Qty");
  type(*book, 0, 1, u"Bolt");
  type(*book, 1, 1, u"5");
  EXPECT_EQ(xmlOf(*book), u"<QQ>\r\n<Parts><Name>Bolt</Name><Qty>5</Qty></Parts>\r\n</QQ>");

  ASSERT_TRUE(book->renameSheet(0, u"My parts"));
  const char16_t* headers[] = {u"Unit price", u"2024", u"Größe", u"-x", u"a:b", u"日本"};
  for (int c = 0; c < 6; ++c) type(*book, c + 2, 0, headers[c]);
  type(*book, 0, 2, u"<a & b> \"q\" 'r' ]]>");
  type(*book, 2, 1, u"1/2/05");
  std::u16string controls = u"x\x01y\x0Bz";
  controls += static_cast<char16_t>(0xD800);  // a lone surrogate
  controls += u"\uFFFEw\r";
  type(*book, 1, 2, controls);
  type(*book, 0, 4, u"after an empty row");
  TempFolder folder;
  Document document;
  document.replaceWorkbook(std::move(book));
  clearError();
  ASSERT_TRUE(SaveDocument(document, folder.file("list.xml"), DocFileType::XmlList));
  const std::string bytes = fileBytes(folder.file("list.xml"));
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  const std::u16string xml = decodeText(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 1252);
  EXPECT_NE(xml.find(u"<My_parts><Name>Bolt</Name><Qty>5</Qty><Unit_price>1/2/05</Unit_price><_2024></_2024>"
                     u"<Größe></Größe><_-x></_-x><a_b></a_b><日本></日本></My_parts>"),
            std::u16string::npos)
      << utf16ToUtf8(xml);
  EXPECT_NE(xml.find(u"<Name>&lt;a &amp; b&gt; &quot;q&quot; &apos;r&apos; ]]&gt;</Name><Qty>xyzw&#13;</Qty>"),
            std::u16string::npos)
      << utf16ToUtf8(xml);
  if (std::system("command -v xmllint >/dev/null 2>&1") != 0) {
    std::fprintf(stderr, "xmllint is not installed; the XML list was not checked by a parser\n");
    return;
  }
  const std::string command = "xmllint --noout " + (folder.path / "list.xml").string() + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[256];
  while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  EXPECT_EQ(::pclose(pipe), 0) << output;
  EXPECT_EQ(output, "");
}

}  // namespace
}  // namespace kelp
