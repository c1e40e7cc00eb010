// CSV, tab text and dBase files written by LibreOffice and Gnumeric, read by Kelp and
// compared with what Python's csv module and dbfread found in each; and Kelp's own
// text and tables read back by Kelp and by Python.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "files/DbaseFile.h"
#include "files/DocStream.h"
#include "files/Document.h"
#include "files/TextFiles.h"
#include "format/DateSerial.h"
#include "format/ValueText.h"
#include "formula/EntryReader.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"
#include "tests/files/JsonReader.h"
#include "tests/files/TempFolder.h"

namespace kelp {
namespace {

using test::fileBytes;
using test::Json;
using test::readJson;

const std::string kFolder = std::string(KELP_TEST_DATA) + "/text/";

uint32_t codePageOf(const std::string& encoding) {
  if (encoding == "cp850") return 850;
  return 1252;  // cp1252, and the Unicode files, which carry their own encoding
}

// What a cell shows, the way the text writer shows it.
std::u16string shown(const Workbook& book, const Sheet& sheet, int32_t column, int32_t row) {
  std::u16string text;
  const CellRecord* cell = sheet.cellPtr(column, row);
  if (!cell || effectiveValue(cell->value).kind == ValueKind::Empty) return text;
  displayText(cell->value, book.numberFormats, book.style(sheet.effectiveStyle(column, row)).numberFormat,
              NoWidthLimit, nullptr, text);
  return text;
}

// Every field of the oracle is the entry Kelp's cell holds, typed as a user types it.
void expectFields(Workbook& book, const Json& rows, const std::string& name, const std::string& fileText) {
  const Sheet& sheet = *book.sheetAt(0);
  for (size_t r = 0; r < rows.items.size(); ++r) {
    const auto& fields = rows.items[r].items;
    for (size_t c = 0; c < fields.size(); ++c) {
      const std::string at = name + " R" + std::to_string(r + 1) + "C" + std::to_string(c + 1);
      std::string text = fields[c].text;
      // A line break inside a field is one LF in a cell, whatever the file wrote.
      for (size_t crlf; (crlf = text.find("\r\n")) != std::string::npos;) text.erase(crlf, 1);
      // Spaces before an unquoted field are not the field's: LibreOffice writes " padded "
      // without quotes, Gnumeric and Kelp quote it. The csv module cannot tell them apart.
      if (!text.empty() && text[0] == ' ' && fileText.find("\"" + text + "\"") == std::string::npos)
        text.erase(0, text.find_first_not_of(' '));
      const std::u16string field = utf8ToUtf16(text);
      const CellValue& got = effectiveValue(sheet.cellValue(static_cast<int32_t>(c), static_cast<int32_t>(r)));
      CellValue expected = readEntry(nullptr, field, CellPosition{}, nullptr, false);
      ASSERT_EQ(got.kind, expected.kind) << at << " \"" << text << "\"";
      if (got.isNumeric()) {
        EXPECT_EQ(got.number(), expected.number()) << at;
      } else if (got.kind == ValueKind::Text) {
        EXPECT_EQ(utf16ToUtf8(textOf(got)), text) << at;
      } else if (got.kind == ValueKind::Logical) {
        EXPECT_EQ(got.u32(), expected.u32()) << at;
      }
      releaseValue(expected);
    }
  }
}

class TextFixture : public ::testing::TestWithParam<const char*> {};

TEST_P(TextFixture, FieldsAreWhatPythonsCsvModuleReads) {
  const std::string path = kFolder + GetParam();
  Json oracle;
  ASSERT_TRUE(readJson(path + ".json", oracle));
  clearError();
  std::unique_ptr<Workbook> book = newWorkbook(1);
  book->codePage = codePageOf(oracle["encoding"].text);
  const std::vector<uint8_t> bytes = fileBytes(path);
  MemoryDocStream in(bytes.data(), bytes.size());
  in.allocateBuffer();
  const char16_t separator = static_cast<char16_t>(oracle["delimiter"].text[0]);
  ASSERT_TRUE(ReadDelimitedText(*book, *book->sheetAt(0), in, separator, 0, 0)) << pendingError();
  expectFields(*book, oracle["rows"], GetParam(), utf16ToUtf8(decodeText(bytes.data(), bytes.size(), book->codePage)));

  // Written by Kelp and read back by Kelp, every cell shows the same.
  MemoryDocStream out;
  WriteDelimitedText(*book, *book->sheetAt(0), out, separator);
  std::unique_ptr<Workbook> back = newWorkbook(1);
  MemoryDocStream again(out.data(), out.size());
  again.allocateBuffer();
  ASSERT_TRUE(ReadDelimitedText(*back, *back->sheetAt(0), again, separator, 0, 0));
  for (size_t r = 0; r < oracle["rows"].items.size(); ++r)
    for (size_t c = 0; c < oracle["rows"].items[r].items.size(); ++c)
      EXPECT_EQ(utf16ToUtf8(shown(*back, *back->sheetAt(0), static_cast<int32_t>(c), static_cast<int32_t>(r))), utf16ToUtf8(shown(*book, *book->sheetAt(0), static_cast<int32_t>(c), static_cast<int32_t>(r))))
          << GetParam() << " R" << r + 1 << "C" << c + 1 << " after a round trip";
}

INSTANTIATE_TEST_SUITE_P(Fixtures, TextFixture,
                         ::testing::Values("lo_text_utf8.csv", "lo_text_utf8.txt", "lo_text_utf16.txt",
                                           "lo_latin_cp1252.csv", "lo_latin_cp850.csv", "gnm_text_utf8_raw.csv",
                                           "gnm_text_utf8_shown.csv", "gnm_text_utf8_raw.txt",
                                           "gnm_text_default.csv", "gnm_latin_cp1252.csv", "gnm_latin_cp850.csv"));

// The dBase oracle's value of one record field as Kelp should hold it.
void expectRecordField(const Workbook& book, const Json& field, const Json& value, int32_t column, int32_t row,
                       const std::string& at) {
  const CellValue& got = effectiveValue(book.sheetAt(0)->cellValue(column, row));
  const std::string& type = field["type"].text;
  if (value.kind == Json::Null || (value.kind == Json::String && value.text.empty())) {
    EXPECT_EQ(got.kind, ValueKind::Empty) << at;
  } else if (type == "C") {
    ASSERT_EQ(got.kind, ValueKind::Text) << at;
    EXPECT_EQ(utf16ToUtf8(textOf(got)), value.text) << at;
  } else if (type == "N") {
    ASSERT_TRUE(got.isNumeric()) << at;
    EXPECT_EQ(got.number(), std::strtod(value.text.c_str(), nullptr)) << at;
  } else if (type == "D") {
    double serial = 0;
    ASSERT_TRUE(serialFromFields(std::stoi(value.text.substr(0, 4)), std::stoi(value.text.substr(5, 2)),
                                 std::stoi(value.text.substr(8, 2)), 0, 0, 0, 0, true, serial));
    ASSERT_TRUE(got.isNumeric()) << at;
    EXPECT_EQ(got.number(), serial) << at;
  } else if (type == "L") {
    ASSERT_EQ(got.kind, ValueKind::Logical) << at;
    EXPECT_EQ(got.u32() != 0, value.boolean) << at;
  }
}

void expectTable(const Workbook& book, const Json& oracle, const std::string& name) {
  const auto& fields = oracle["fields"].items;
  for (size_t f = 0; f < fields.size(); ++f) {
    const CellValue& heading = book.sheetAt(0)->cellValue(static_cast<int32_t>(f), 0);
    ASSERT_EQ(heading.kind, ValueKind::Text) << name;
    EXPECT_EQ(utf16ToUtf8(textOf(heading)), fields[f]["name"].text) << name;
  }
  const auto& records = oracle["records"].items;
  for (size_t r = 0; r < records.size(); ++r)
    for (size_t f = 0; f < fields.size(); ++f)
      expectRecordField(book, fields[f], records[r].items[f], static_cast<int32_t>(f), static_cast<int32_t>(r + 1),
                        name + " record " + std::to_string(r + 1) + " " + fields[f]["name"].text);
  EXPECT_EQ(book.sheetAt(0)->cellValue(0, static_cast<int32_t>(records.size()) + 1).kind, ValueKind::Empty)
      << name << ": no record past the last live one";
}

TEST(DbaseFixtures, RecordsAreWhatDbfreadReadsAndSurviveKelpsOwnRoundTrip) {
  for (const char* name : {"lo_dbase_cp1252.dbf", "lo_dbase_cp850.dbf", "lo_dbase_deleted.dbf"}) {
    Json oracle;
    ASSERT_TRUE(readJson(kFolder + name + ".json", oracle)) << name;
    clearError();
    std::unique_ptr<Workbook> book = newWorkbook(1);
    book->codePage = codePageOf(oracle["encoding"].text);
    const std::vector<uint8_t> bytes = fileBytes(kFolder + name);
    MemoryDocStream in(bytes.data(), bytes.size());
    in.allocateBuffer();
    ASSERT_TRUE(readDbase(*book, in)) << name << ": error " << pendingError();
    expectTable(*book, oracle, name);

    MemoryDocStream out;
    writeDbase(*book, out);
    clearError();  // a notice about widened fields is no failure here
    std::unique_ptr<Workbook> back = newWorkbook(1);
    back->codePage = book->codePage;
    MemoryDocStream again(out.data(), out.size());
    again.allocateBuffer();
    ASSERT_TRUE(readDbase(*back, again)) << name;
    expectTable(*back, oracle, std::string(name) + " written by Kelp");
  }
  clearError();
}

TEST(TextFiles, ATextFieldKeepsWhatTypingWouldDropFromIt) {
  // Typing "'abc" makes the text "abc"; in a file the apostrophe is the text's own.
  const std::string csv = "'abc,\" spaced\",12\r\n";
  std::unique_ptr<Workbook> book = newWorkbook(1);
  MemoryDocStream in(csv.data(), csv.size());
  in.allocateBuffer();
  ASSERT_TRUE(ReadDelimitedText(*book, *book->sheetAt(0), in, u',', 0, 0));
  const Sheet& sheet = *book->sheetAt(0);
  ASSERT_EQ(sheet.cellValue(0, 0).kind, ValueKind::Text);
  EXPECT_EQ(textOf(sheet.cellValue(0, 0)), u"'abc");
  EXPECT_EQ(textOf(sheet.cellValue(1, 0)), u" spaced");
  EXPECT_EQ(sheet.cellValue(2, 0).number(), 12);
}

TEST(TextFiles, DatesUnderGeneralKeepTheirCenturyThroughAFile) {
  std::unique_ptr<Workbook> book = newWorkbook(1);
  Sheet& sheet = *book->sheetAt(0);
  double serials[3] = {};
  ASSERT_TRUE(serialFromFields(1905, 1, 1, 0, 0, 0, 0, true, serials[0]));
  ASSERT_TRUE(serialFromFields(2005, 1, 1, 0, 0, 0, 0, true, serials[1]));
  ASSERT_TRUE(serialFromFields(2031, 6, 30, 12, 0, 0, 0, true, serials[2]));
  for (int32_t r = 0; r < 3; ++r) ASSERT_TRUE(sheet.setCell(0, r, CellRecord{dateTimeValue(serials[r]), -1}));
  MemoryDocStream out;
  WriteDelimitedText(*book, sheet, out, u',', TextEncoding::Utf8);
  const std::string written(reinterpret_cast<const char*>(out.data()), out.size());
  EXPECT_EQ(written, "1/1/1905\r\n1/1/05\r\n6/30/2031 12:00:00\r\n") << "two digits only where they read back";
  std::unique_ptr<Workbook> back = newWorkbook(1);
  MemoryDocStream in(out.data(), out.size());
  ASSERT_TRUE(ReadDelimitedText(*back, *back->sheetAt(0), in, u',', 0, 0));
  for (int32_t r = 0; r < 3; ++r) EXPECT_EQ(back->sheetAt(0)->cellValue(0, r).number(), serials[r]) << r;
}

TEST(TextFiles, PythonsCsvModuleAndKelpReadKelpsCsvOfTheSampleAsKelpShowsIt) {
  if (std::system("python3 -c 'import csv, json' > /dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is not installed";
  clearError();
  Document document;
  ASSERT_TRUE(OpenDocument(document, utf8ToUtf16(std::string(KELP_TEST_DATA) + "/../../../examples/sample.kp")));
  const Workbook& book = document.workbook();
  // A folder of its own, so that test runs side by side do not share the files.
  test::TempFolder folder;
  for (int32_t s = 0; s < book.sheetCount(); ++s) {
    const Sheet& sheet = *book.sheetAt(s);
    MemoryDocStream out;
    WriteDelimitedText(book, sheet, out, u',', TextEncoding::Utf8);
    const std::string csvPath = (folder.path / "sample.csv").string();
    const std::string jsonPath = (folder.path / "sample.json").string();
    {
      std::ofstream file(csvPath, std::ios::binary);
      file.write(reinterpret_cast<const char*>(out.data()), out.size());
    }
    const std::string command = "python3 -c 'import csv, json, sys; "
                                "json.dump(list(csv.reader(open(sys.argv[1], newline=\"\", encoding=\"utf-8\"))), "
                                "open(sys.argv[2], \"w\"))' " +
                                csvPath + " " + jsonPath;
    ASSERT_EQ(std::system(command.c_str()), 0);
    Json rows;
    ASSERT_TRUE(readJson(jsonPath, rows));
    int compared = 0;
    for (size_t r = 0; r < rows.items.size(); ++r)
      for (size_t c = 0; c < rows.items[r].items.size(); ++c, ++compared)
        EXPECT_EQ(rows.items[r].items[c].text, utf16ToUtf8(shown(book, sheet, static_cast<int32_t>(c), static_cast<int32_t>(r))))
            << utf16ToUtf8(sheet.name) << " R" << r + 1 << "C" << c + 1;
    EXPECT_GT(compared, 0);
    // And Kelp reads its own CSV back to the same display.
    std::unique_ptr<Workbook> back = newWorkbook(1);
    MemoryDocStream again(out.data(), out.size());
    again.allocateBuffer();
    ASSERT_TRUE(ReadDelimitedText(*back, *back->sheetAt(0), again, u',', 0, 0));
    for (size_t r = 0; r < rows.items.size(); ++r)
      for (size_t c = 0; c < rows.items[r].items.size(); ++c)
        EXPECT_EQ(utf16ToUtf8(shown(*back, *back->sheetAt(0), static_cast<int32_t>(c), static_cast<int32_t>(r))),
                  rows.items[r].items[c].text)
            << utf16ToUtf8(sheet.name) << " R" << r + 1 << "C" << c + 1 << " read back by Kelp";
    std::remove(csvPath.c_str());
    std::remove(jsonPath.c_str());
  }
}

}  // namespace
}  // namespace kelp
