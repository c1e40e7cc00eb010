// Excel files written by LibreOffice and Gnumeric, read by Kelp and compared with what
// an independent reader (xlrd) found in each; the JSON beside each file is its reading.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "files/DocStream.h"
#include "format/ValueText.h"
#include "formula/Recalc.h"
#include "files/Document.h"
#include "files/ExcelReader.h"
#include "files/ExcelWriter.h"
#include "formula/FormulaText.h"
#include "model/HandlePool.h"
#include "platform/CompoundFile.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"
#include "tests/files/JsonReader.h"
#include "tests/files/TempFolder.h"

namespace kelp {
namespace {

using test::Json;
using test::readJson;

const std::string kFolder = std::string(KELP_TEST_DATA) + "/excel/";

// Opens a fixture of the folder, collecting the notices the open shows.
bool openFixture(Document& document, const std::string& name, std::vector<uint32_t>& shown) {
  clearError();
  shown.clear();
  document.ui.showMessage = [&shown](uint32_t code) { shown.push_back(code); };
  const bool opened = OpenDocument(document, utf8ToUtf16(kFolder + name));
  document.ui.showMessage = nullptr;
  return opened;
}

std::string where(const std::string& sheet, const Json& cell) {
  return sheet + "!R" + std::to_string(static_cast<int>(cell["row"].number) + 1) + "C" +
         std::to_string(static_cast<int>(cell["col"].number) + 1);
}

// The decimals, percent and grouping a number format code's first section asks for,
// against Kelp's format; quoted and bracketed text and escaped characters do not count.
void expectNumberFormat(const NumberFormatRecord& format, const std::string& code, const std::string& at) {
  if (code.empty() || code == "General" || code == "@" || code.find_first_of("Ee?/") != std::string::npos) return;
  int decimals = 0;
  bool afterPoint = false, percent = false, thousands = false, digitsSeen = false;
  for (size_t i = 0; i < code.size() && code[i] != ';'; ++i) {
    const char c = code[i];
    if (c == '"') {
      i = code.find('"', i + 1);
      if (i == std::string::npos) break;
    } else if (c == '[') {
      i = code.find(']', i);
      if (i == std::string::npos) break;
    } else if (c == '\\' || c == '_') {
      ++i;
    } else if (c == '.') {
      afterPoint = true;
    } else if (c == '0' || c == '#') {
      digitsSeen = true;
      if (afterPoint) ++decimals;
    } else if (c == ',' && digitsSeen && !afterPoint) {
      thousands = true;
    } else if (c == '%') {
      percent = true;
    }
  }
  if (format.kind != FormatKind::Number || format.general) {
    ADD_FAILURE() << at << ": \"" << code << "\" is no fixed number format in Kelp";
    return;
  }
  EXPECT_EQ(format.decimals, decimals) << at << " \"" << code << "\"";
  EXPECT_EQ(format.percent, percent) << at << " \"" << code << "\"";
  EXPECT_EQ(format.thousands, thousands) << at << " \"" << code << "\"";
}

// Compares one cell of the oracle with Kelp's cell; a failure names the cell.
// `maxText` is the longest text the file could keep, 0 for no limit.
void expectCell(const Workbook& book, const Sheet& sheet, const Json& cell, bool date1904, bool biff5,
                size_t maxText = 0) {
  const int col = static_cast<int>(cell["col"].number), row = static_cast<int>(cell["row"].number);
  const std::string at = where(utf16ToUtf8(sheet.name), cell);
  const CellRecord* record = sheet.cellPtr(col, row);
  ASSERT_NE(record, nullptr) << at << " is missing";
  const CellValue& value = effectiveValue(record->value);
  const std::string& type = cell["type"].text;
  if (type == "number" || type == "date") {
    ASSERT_TRUE(value.isNumeric()) << at << " kind " << static_cast<int>(value.kind);
    double expected = cell["value"].number;
    // Kelp counts days from 1900 whatever the file did.
    if (type == "date" && date1904) expected += 1462;
    EXPECT_NEAR(value.number(), expected, std::fabs(expected) * 1e-14) << at;
  } else if (type == "text") {
    ASSERT_EQ(value.kind, ValueKind::Text) << at;
    const std::string text = utf16ToUtf8(textOf(value));
    // xlrd ends an Excel 95 label at its record's end; the rest of the text is in the
    // continuation records that follow, which Kelp reads.
    const std::u16string expected = utf8ToUtf16(cell["value"].text);
    if (maxText && expected.size() > maxText) {
      EXPECT_EQ(textOf(value), expected.substr(0, maxText)) << at;
    } else if (biff5 && text.size() > cell["value"].text.size()) {
      EXPECT_EQ(text.substr(0, cell["value"].text.size()), cell["value"].text) << at;
    } else {
      EXPECT_EQ(text, cell["value"].text) << at;
    }
  } else if (type == "boolean") {
    ASSERT_EQ(value.kind, ValueKind::Logical) << at;
    EXPECT_EQ(value.u32() != 0, cell["value"].boolean) << at;
  } else if (type == "error") {
    ASSERT_EQ(value.kind, ValueKind::Error) << at;
    EXPECT_EQ(value.u32(), static_cast<uint32_t>(cell["value"].number)) << at;
  } else if (type == "blank") {
    EXPECT_EQ(value.kind, ValueKind::Empty) << at;
  }
  // The font and the kind of number format come through the cell's style.
  const StyleRecord& style = book.style(record->style);
  ASSERT_LT(style.font, book.fonts.size()) << at;
  const FontRecord& font = book.fonts[style.font];
  const Json& expectedFont = cell["font"];
  EXPECT_EQ(font.height, expectedFont["height"].number) << at;
  EXPECT_EQ(font.weight >= 700, expectedFont["bold"].boolean) << at;
  EXPECT_EQ((font.options & FontOption::Italic) != 0, expectedFont["italic"].boolean) << at;
  ASSERT_LT(style.numberFormat, book.numberFormats.size()) << at;
  const NumberFormatRecord& format = book.numberFormats[style.numberFormat];
  EXPECT_EQ(format.kind == FormatKind::DateTime, type == "date") << at << " format " << cell["format"].text;
  if (type == "number") expectNumberFormat(format, cell["format"].text, at);
}

const char* const kFixtures[] = {
    "lo_cells_biff8",     "lo_strings_biff8",  "lo_formulas_biff8", "lo_styles_biff8",   "lo_1904_biff8",
    "lo_chart_biff8",     "gnm_cells_biff8",   "gnm_cells_biff5",   "gnm_strings_biff8", "gnm_strings_biff5",
    "gnm_formulas_biff8", "gnm_formulas_biff5", "gnm_styles_biff8", "gnm_styles_biff5",  "gnm_1904_biff8",
    "gnm_1904_biff5",     "gnm_chart_biff8",   "gnm_cells_dual",    "mixed_streams",     "gnm_sheets_biff8"};

// The sheets, cells, merged areas and names of `book` against xlrd's reading.
void expectMatchesOracle(const Workbook& book, const Json& oracle, size_t maxText) {
  const bool date1904 = oracle["datemode"].number == 1;
  const auto& sheets = oracle["sheets"].items;
  ASSERT_EQ(book.sheetCount(), static_cast<int32_t>(sheets.size()));
  int cells = 0;
  for (size_t s = 0; s < sheets.size(); ++s) {
    const Json& expected = sheets[s];
    const Sheet& sheet = *book.sheetAt(static_cast<int32_t>(s));
    EXPECT_EQ(utf16ToUtf8(sheet.name), expected["name"].text);
    EXPECT_EQ(static_cast<double>(sheet.visibility), expected["visibility"].number) << expected["name"].text;
    if (expected["zoom"].kind == Json::Number && expected["zoom"].number >= 25 && expected["zoom"].number <= 200) {
      EXPECT_EQ(sheet.view.zoom, expected["zoom"].number) << expected["name"].text;
    }
    if (expected["frozen"].boolean) {
      EXPECT_EQ(sheet.view.rowsFrozen, expected["split"].items[0].number > 0) << expected["name"].text;
      EXPECT_EQ(sheet.view.columnsFrozen, expected["split"].items[1].number > 0) << expected["name"].text;
    }
    // Kelp's Excel 95 export leaves merged areas out, as Excel 95 had none (maxText says
    // the workbook went through it).
    for (const Json& area : maxText ? std::vector<Json>() : expected["merged"].items) {
      // xlrd gives first row, row past the last, first column, column past the last.
      Area merged{static_cast<uint16_t>(area.items[0].number), static_cast<uint16_t>(area.items[2].number),
                  static_cast<uint16_t>(area.items[1].number - 1), static_cast<uint16_t>(area.items[3].number - 1)};
      EXPECT_GE(sheet.findMergedEqual(merged), 0) << expected["name"].text << " merged R" << merged.firstRow + 1
                                                   << "C" << merged.firstColumn + 1;
    }
    for (const Json& cell : expected["cells"].items) {
      expectCell(book, sheet, cell, date1904, oracle["biff_version"].number < 80, maxText);
      ++cells;
    }
  }
  EXPECT_GT(cells, 0);
  // Workbook names keep their definitions; Kelp spells function names and errors its own
  // way, and a definition xlrd cannot read either (null) is kept as Kelp's !!Name.
  const std::map<std::string, std::string> errors = {{"\"#NULL!\"", "!!Null"}, {"\"#DIV/0!\"", "!!Div0"},
                                                     {"\"#VALUE!\"", "!!Val"}, {"\"#REF!\"", "!!Ref"},
                                                     {"\"#NAME?\"", "!!Name"}, {"\"#NUM!\"", "!!Num"},
                                                     {"\"#N/A\"", "!!NA"}};
  for (const Json& name : oracle["names"].items) {
    if (name["builtin"].boolean || name["scope"].number != -1) continue;
    const int32_t index = book.findName(utf8ToUtf16(name["name"].text));
    ASSERT_GE(index, 0) << name["name"].text;
    std::u16string text;
    const uint32_t definition = book.names[index].definition;
    ASSERT_TRUE(formulaPool().isLive(definition)) << name["name"].text;
    ASSERT_TRUE(formulaText(book, static_cast<const uint8_t*>(formulaPool().data(definition)), CellPosition{}, text));
    std::string formula = name["formula"].kind == Json::Null ? "!!Name" : name["formula"].text;
    const bool errorConstant = name["tokens"].text.size() == 4 && name["tokens"].text.compare(0, 2, "1c") == 0;
    if (errorConstant && errors.count(formula)) formula = errors.at(formula);
    EXPECT_TRUE(equalsIgnoreCase(text, u"=" + utf8ToUtf16(formula))) << name["name"].text << ": " << utf16ToUtf8(text);
  }
}

class ExcelFixture : public ::testing::TestWithParam<const char*> {};

// The fixture's xlrd reading and Kelp's reading of the file itself: what the file holds,
// before a recalculation replaces the results it cached.
void readFixture(const char* name, Json& oracle, std::unique_ptr<Workbook>& read) {
  const std::string stem = kFolder + name;
  ASSERT_TRUE(readJson(stem + ".json", oracle)) << stem << ".json";
  clearError();
  read = newWorkbook(0);
  ASSERT_TRUE(readExcelFile(*read, utf8ToUtf16(stem + ".xls"))) << "error " << pendingError();
  // Formulas Kelp cannot translate (Choose, unions, functions it lacks) keep their
  // results, which the comparisons still check; that is the only notice allowed.
  EXPECT_TRUE(pendingError() == 0 || pendingError() == 35u) << "error " << pendingError();
  clearError();
}

TEST_P(ExcelFixture, ReadsWhatAnIndependentReaderReads) {
  Json oracle;
  std::unique_ptr<Workbook> read;
  ASSERT_NO_FATAL_FAILURE(readFixture(GetParam(), oracle, read));
  const Workbook& book = *read;
  EXPECT_EQ(book.fileType, oracle["biff_version"].number >= 80 ? 7u : 6u);
  expectMatchesOracle(book, oracle, 0);
}

std::u16string formulaAt(const Workbook& book, const Sheet& sheet, int32_t col, int32_t row) {
  const CellRecord* cell = sheet.cellPtr(col, row);
  if (!cell || cell->value.kind != ValueKind::Formula) return u"";
  std::u16string text;
  formulaText(book, static_cast<const uint8_t*>(formulaPool().data(formulaTokens(cell->value))),
              CellPosition{static_cast<uint16_t>(col), static_cast<uint16_t>(row), static_cast<uint16_t>(sheet.index)},
              text);
  return text;
}

// Kelp writes what it read as Excel 97 (and, for the Excel 95 fixtures, as Excel 95), and
// its reading of that export still agrees with the independent reader, formulas included.
TEST_P(ExcelFixture, KelpsOwnExportReadsBackAsTheFixtureDid) {
  Json oracle;
  std::unique_ptr<Workbook> read;
  ASSERT_NO_FATAL_FAILURE(readFixture(GetParam(), oracle, read));
  for (bool biff8 : {true, false}) {
    if (!biff8 && oracle["biff_version"].number >= 80) continue;
    SCOPED_TRACE(biff8 ? "written as Excel 97" : "written as Excel 95");
    std::vector<uint8_t> bytes;
    StorageDocStream out(bytes);
    ASSERT_TRUE(writeExcelWorkbook(*read, out, biff8)) << "error " << pendingError();
    (void)takeNotice();
    StorageDocStream in(bytes);
    std::unique_ptr<Workbook> again = newWorkbook(0);
    ASSERT_TRUE(readExcelWorkbook(*again, in, biff8)) << "error " << pendingError();
    clearError();
    expectMatchesOracle(*again, oracle, biff8 ? 0 : 255);
    int formulas = 0;
    for (int32_t s = 0; s < read->sheetCount(); ++s) {
      const Sheet& a = *read->sheetAt(s);
      const Sheet& b = *again->sheetAt(s);
      for (int32_t r = a.nextRow(-1); r != NoRow; r = a.nextRow(r))
        for (int32_t c = 0; c < a.rowAt(r)->cells.size(); ++c) {
          const std::u16string text = formulaAt(*read, a, c, r);
          if (text.empty()) continue;
          ++formulas;
          EXPECT_EQ(utf16ToUtf8(formulaAt(*again, b, c, r)), utf16ToUtf8(text)) << utf16ToUtf8(a.name) << " R" << r + 1 << "C" << c + 1;
        }
    }
    if (std::string(GetParam()).find("formulas") != std::string::npos) {
      EXPECT_GT(formulas, 20);
    }
  }
}

TEST(ExcelFiles, ValidationRulesComeWithTheirAreas) {
  clearError();
  std::unique_ptr<Workbook> book = newWorkbook(0);
  ASSERT_TRUE(readExcelFile(*book, utf8ToUtf16(kFolder + "lo_styles_biff8.xls")));
  const Sheet& layout = *book->sheetAt(book->findSheet(u"Layout"));
  ASSERT_EQ(layout.validations.size(), 2u);
  const ValidationEntry* list = nullptr;
  for (const ValidationEntry& entry : layout.validations)
    if (!entry.rule.list.empty()) list = &entry;
  ASSERT_NE(list, nullptr) << "the list of red, green and blue";
  EXPECT_EQ(list->rule.list, (std::vector<std::u16string>{u"red", u"green", u"blue"}));
  ASSERT_EQ(list->areas.size(), 1u);
  EXPECT_EQ(list->areas[0], (Area{15, 1, 15, 1}));
  clearError();
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ExcelFixture, ::testing::ValuesIn(kFixtures));

TEST(ExcelFiles, CutAndFlippedStreamsEndInAnErrorCodeOrAWorkbook) {
  for (const char* name : kFixtures) {
    std::vector<uint8_t> file = test::fileBytes(kFolder + name + ".xls");
    CompoundReader storage;
    ASSERT_TRUE(storage.open(file)) << name;
    std::vector<uint8_t> stream;
    const bool biff8 = storage.readStream(u"Workbook", stream);
    ASSERT_TRUE(biff8 || storage.readStream(u"Book", stream)) << name;
    int failed = 0, read = 0;
    auto attempt = [&](const std::vector<uint8_t>& bytes) {
      clearError();
      std::unique_ptr<Workbook> book = newWorkbook(0);
      MemoryDocStream source(bytes.data(), bytes.size());
      if (readExcelWorkbook(*book, source, biff8)) {
        ++read;
        EXPECT_TRUE(pendingError() == 0 || pendingError() == 35u) << name;
      } else {
        ++failed;
        EXPECT_NE(pendingError(), 0u) << name << ": a failure without its code";
      }
    };
    const size_t step = stream.size() / 150 + 1;
    for (size_t cut = 0; cut < stream.size(); cut += step) attempt(std::vector<uint8_t>(stream.begin(), stream.begin() + cut));
    for (size_t at = 0; at < stream.size(); at += step) {
      std::vector<uint8_t> flipped = stream;
      flipped[at] ^= 0xFF;
      attempt(flipped);
    }
    EXPECT_GT(failed, 0) << name;
    EXPECT_GT(read, 0) << name << ": flips in cell data still read";
  }
  clearError();
}

TEST(ExcelFiles, EncryptedAndForeignFilesAreRefusedWithTheirCodes) {
  for (const char* name : {"lo_encrypted_biff8.xls", "lo_encrypted_velvet_biff8.xls"}) {
    clearError();
    Document document;
    EXPECT_FALSE(OpenDocument(document, utf8ToUtf16(kFolder + name))) << name;
    EXPECT_EQ(pendingError(), 38u) << name;
    EXPECT_EQ(document.workbook().sheetCount(), 3) << "a failed open leaves a new workbook";
  }
  // A missing file, and a text file named .xls, which is no compound file.
  clearError();
  Document document;
  EXPECT_FALSE(OpenDocument(document, utf8ToUtf16(kFolder + "missing.xls")));
  EXPECT_EQ(pendingError(), 11u);
  test::TempFolder folder;
  const std::string text = (folder.path / "not-excel.xls").string();
  std::ofstream(text) << "just some text\n";
  clearError();
  EXPECT_FALSE(OpenDocument(document, utf8ToUtf16(text)));
  EXPECT_EQ(pendingError(), 40u);
  std::remove(text.c_str());
  clearError();
}

TEST(ExcelFiles, UntranslatableFormulasOpenTheFileWithOneNotice) {
  Document document;
  std::vector<uint32_t> shown;
  ASSERT_TRUE(openFixture(document, "lo_formulas_biff8.xls", shown)) << pendingError();
  EXPECT_EQ(shown, std::vector<uint32_t>{35u});
  EXPECT_EQ(pendingError(), 0u);
  const Workbook& book = document.workbook();
  EXPECT_EQ(book.fileType, 7u);
  EXPECT_EQ(book.sheetCount(), 3);
  // Choose translates (the union is what does not) and is computed again.
  const CellValue& choose = book.sheetAt(0)->cellPtr(2, 4)->value;
  ASSERT_EQ(choose.kind, ValueKind::Formula);
  EXPECT_EQ(textOf(effectiveValue(choose)), u"b");
  // A formula that translates was computed again by the open.
  const CellValue& sum = book.sheetAt(0)->cellPtr(2, 0)->value;
  ASSERT_EQ(sum.kind, ValueKind::Formula);
  EXPECT_EQ(effectiveValue(sum).number(), 210);
}

TEST(ExcelFiles, GnumericSheetsOpenWithTheUnreadNameInTheOneNotice) {
  Document document;
  std::vector<uint32_t> shown;
  ASSERT_TRUE(openFixture(document, "gnm_sheets_biff8.xls", shown)) << pendingError();
  EXPECT_EQ(shown, std::vector<uint32_t>{35u});
  EXPECT_EQ(document.noticeDetail, u"Both") << "the union Gnumeric could not write";
  EXPECT_EQ(document.workbook().sheetCount(), 3);
  clearError();
}

// The first row of a CSV file, split at commas (the cells hold no quotes or commas).
std::vector<std::string> firstCsvRow(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  std::vector<std::string> fields;
  std::stringstream split(line);
  for (std::string field; std::getline(split, field, ',');) fields.push_back(field);
  return fields;
}

// Numbers agree to 12 digits (Gnumeric writes 20, Kelp shows 15); texts exactly.
void expectSameRow(const std::vector<std::string>& got, const std::vector<std::string>& want, const char* what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (size_t i = 0; i < want.size(); ++i) {
    char* end = nullptr;
    const double w = std::strtod(want[i].c_str(), &end);
    if (!want[i].empty() && *end == 0)
      EXPECT_NEAR(std::strtod(got[i].c_str(), nullptr), w, 1e-12 * std::max(1.0, std::fabs(w))) << what << " column " << i + 1;
    else
      EXPECT_EQ(got[i], want[i]) << what << " column " << i + 1;
  }
}

std::vector<std::string> shownRow(const Workbook& book) {
  std::vector<std::string> row;
  const Sheet& sheet = *book.sheetAt(0);
  for (int32_t c = 0; c < sheet.rowAt(0)->cells.size(); ++c) row.push_back(utf16ToUtf8(cellShownText(book, sheet, c, 0)));
  return row;
}

TEST(ExcelFiles, GnumericsDesktopFunctionsOpenComputeAndFollowTheirInputs) {
  // Choose, Text, Search, Days360 ... as Gnumeric writes them to Excel 97 and Excel 95,
  // against the values Gnumeric computed for them.
  const std::vector<std::string> gnumeric = firstCsvRow(kFolder + "gnm_desktop_values.csv");
  ASSERT_GT(gnumeric.size(), 15u);
  for (const char* fixture : {"gnm_desktop_biff8.xls", "gnm_desktop_biff5.xls"}) {
    SCOPED_TRACE(fixture);
    Document document;
    std::vector<uint32_t> shown;
    ASSERT_TRUE(openFixture(document, fixture, shown)) << pendingError();
    EXPECT_TRUE(shown.empty()) << "notice " << shown.front();
    Workbook& book = document.workbook();
    expectSameRow(shownRow(book), gnumeric, "as opened");
    // The formulas follow a changed input.
    ASSERT_TRUE(book.sheetAt(0)->setCell(0, 0, {numberValue(2), 0}));
    recalculateAll(book);
    const std::vector<std::string> changed = shownRow(book);
    EXPECT_EQ(changed[4], "2.00");
    EXPECT_EQ(changed[12], "$2.00");
    EXPECT_EQ(changed[17], "two");
  }
}

TEST(ExcelFiles, ArrayConstantsOfGnumericComputeFollowTheirInputAndGoBack) {
  // Array constants in the functions that take ranges, against what Gnumeric computed.
  const std::vector<std::string> gnumeric = firstCsvRow(kFolder + "gnm_arrays_values.csv");
  ASSERT_EQ(gnumeric.size(), 17u);
  const bool peer = std::system("command -v ssconvert > /dev/null 2>&1") == 0;
  test::TempFolder folder;
  for (const char* fixture : {"gnm_arrays_biff8.xls", "gnm_arrays_biff5.xls"}) {
    SCOPED_TRACE(fixture);
    Document document;
    std::vector<uint32_t> shown;
    ASSERT_TRUE(openFixture(document, fixture, shown)) << pendingError();
    EXPECT_TRUE(shown.empty()) << "notice " << shown.front();
    Workbook& book = document.workbook();
    expectSameRow(shownRow(book), gnumeric, "as opened");
    // Saved by Kelp in the same form, Gnumeric computes the same again.
    const bool biff8 = std::string(fixture).find("biff8") != std::string::npos;
    const std::u16string saved = folder.file(biff8 ? "arrays8.xls" : "arrays5.xls");
    ASSERT_TRUE(SaveDocument(document, saved, biff8 ? DocFileType::Excel97 : DocFileType::Excel95)) << pendingError();
    if (peer) {
      const std::string csv = (folder.path / (biff8 ? "arrays8.csv" : "arrays5.csv")).string();
      const std::string command = "ssconvert --recalc '" + utf16ToUtf8(saved) + "' '" + csv + "' > /dev/null 2>&1";
      ASSERT_EQ(std::system(command.c_str()), 0) << command;
      expectSameRow(firstCsvRow(csv), gnumeric, "as Gnumeric read Kelp's file");
    }
    // The formulas follow a changed input.
    ASSERT_TRUE(book.sheetAt(0)->setCell(0, 0, {numberValue(1), 0}));
    recalculateAll(book);
    const std::vector<std::string> changed = shownRow(book);
    EXPECT_EQ(changed[2], "a");
    EXPECT_EQ(changed[5], "1");
    EXPECT_EQ(changed[14], "3");
  }
}

TEST(ExcelFiles, GnumericReadsKelpsDesktopFunctionsAsItWroteThem) {
  if (std::system("command -v ssconvert > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "ssconvert (Gnumeric) is not installed: Kelp's .xls is not checked in a peer";
  const std::vector<std::string> gnumeric = firstCsvRow(kFolder + "gnm_desktop_values.csv");
  test::TempFolder folder;
  for (bool biff8 : {true, false}) {
    SCOPED_TRACE(biff8 ? "Excel 97" : "Excel 95");
    clearError();
    Document document;
    ASSERT_TRUE(OpenDocument(document, utf8ToUtf16(kFolder + "gnm_desktop_biff8.xls"))) << pendingError();
    const std::u16string saved = folder.file(biff8 ? "kelp8.xls" : "kelp5.xls");
    ASSERT_TRUE(SaveDocument(document, saved, biff8 ? DocFileType::Excel97 : DocFileType::Excel95)) << pendingError();
    const std::string csv = (folder.path / (biff8 ? "gnumeric8.csv" : "gnumeric5.csv")).string();
    const std::string command = "ssconvert --recalc '" + utf16ToUtf8(saved) + "' '" + csv + "' > /dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    expectSameRow(firstCsvRow(csv), gnumeric, "as Gnumeric read Kelp's file");
  }
}

}  // namespace
}  // namespace kelp

namespace kelp {
namespace {

// A grid of five rows of five cells as numbers to 12 digits (texts of numbers too, as a
// CSV file cannot tell them apart), other texts, or "" when empty.
std::string normalized(const std::string& field) {
  char* end = nullptr;
  const double number = std::strtod(field.c_str(), &end);
  if (field.empty() || *end != '\0') return field;
  char text[32];
  std::snprintf(text, sizeof text, "%.12g", number);
  return text;
}
std::string shortest(double number) {
  char text[32];
  std::snprintf(text, sizeof text, "%.12g", number);
  return text;
}
std::vector<std::string> csvGrid(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> grid;
  for (std::string line; std::getline(in, line);) {
    std::stringstream split(line);
    std::vector<std::string> row;
    for (std::string field; std::getline(split, field, ',');) row.push_back(normalized(field));
    row.resize(5);
    grid.insert(grid.end(), row.begin(), row.end());
  }
  return grid;
}
std::vector<std::string> kelpGrid(const Workbook& book) {
  std::vector<std::string> grid;
  const Sheet& sheet = *book.sheetAt(0);
  for (int32_t r = 0; r < 5; ++r)
    for (int32_t c = 0; c < 5; ++c) {
      const Row* row = sheet.rowAt(r);
      const CellValue value = row && row->cells.has(c) ? effectiveValue(row->cells[c].value) : CellValue{};
      if (value.kind == ValueKind::Text)
        grid.push_back(normalized(utf16ToUtf8(static_cast<const char16_t*>(textPool().data(value.u32())))));
      else if (value.kind == ValueKind::Number || value.kind == ValueKind::DateTime)
        grid.push_back(shortest(value.number()));
      else
        grid.push_back(value.kind == ValueKind::Empty ? "" : "?");
    }
  return grid;
}

TEST(ExcelFiles, FunctionsCalledByNameOpenAndFollowTheirInputs) {
  // Edate ... Quotient as add-in names, IfError and the *Ifs as "_xlfn." names, as
  // LibreOffice and Gnumeric write them, against LibreOffice's values.
  const std::vector<std::string> want = csvGrid(kFolder + "named_values.csv");
  ASSERT_EQ(want.size(), 25u);
  for (const char* fixture : {"lo_named_biff8.xls", "gnm_named_biff8.xls", "gnm_named_biff5.xls"}) {
    SCOPED_TRACE(fixture);
    Document document;
    std::vector<uint32_t> shown;
    ASSERT_TRUE(openFixture(document, fixture, shown)) << pendingError();
    // Gnumeric drops the *Ifs' arguments when it writes them: those keep their values.
    EXPECT_EQ(shown.empty(), fixture[0] == 'l');
    Workbook& book = document.workbook();
    EXPECT_EQ(kelpGrid(book), want);
    if (fixture[0] != 'l') continue;
    ASSERT_TRUE(book.sheetAt(0)->setCell(0, 0, {numberValue(2), 0}));
    ASSERT_TRUE(book.sheetAt(0)->setCell(0, 2, {numberValue(40100), 0}));
    recalculateAll(book);
    const std::vector<std::string> changed = kelpGrid(book);
    // Choose's second choice; 14 October 2009 a month on; 5 + 40100; two cells over 2.
    EXPECT_EQ(changed[1], "20");
    EXPECT_EQ(changed[7], "40131");
    EXPECT_EQ(changed[5 + 1], "40105");
    EXPECT_EQ(changed[15 + 4], "2");
    EXPECT_EQ(changed[20 + 1], "20052.5");
  }
}

TEST(ExcelFiles, PeersReadKelpsFunctionsCalledByName) {
  const bool office = std::system("command -v soffice > /dev/null 2>&1") == 0;
  const bool gnumeric = std::system("command -v ssconvert > /dev/null 2>&1") == 0;
  if (!office && !gnumeric) GTEST_SKIP() << "neither soffice nor ssconvert is installed: no peer reads Kelp's .xls";
  const std::vector<std::string> want = csvGrid(kFolder + "named_values.csv");
  test::TempFolder folder;
  for (bool biff8 : {true, false}) {
    SCOPED_TRACE(biff8 ? "Excel 97" : "Excel 95");
    clearError();
    Document document;
    ASSERT_TRUE(OpenDocument(document, utf8ToUtf16(kFolder + "lo_named_biff8.xls"))) << pendingError();
    const std::u16string saved = folder.file(biff8 ? "named8.xls" : "named5.xls");
    ASSERT_TRUE(SaveDocument(document, saved, biff8 ? DocFileType::Excel97 : DocFileType::Excel95)) << pendingError();
    const std::string file = utf16ToUtf8(saved);
    if (gnumeric) {
      const std::string csv = (folder.path / "gnumeric.csv").string();
      const std::string command = "ssconvert --recalc '" + file + "' '" + csv + "' > /dev/null 2>&1";
      ASSERT_EQ(std::system(command.c_str()), 0) << command;
      EXPECT_EQ(csvGrid(csv), want) << "as Gnumeric read Kelp's file";
    }
    // LibreOffice reads add-in and "_xlfn." names from Excel 97 files only.
    if (office && biff8) {
      const std::string command = "cd '" + folder.path.string() +
                                  "' && soffice --headless --convert-to csv named8.xls > /dev/null 2>&1";
      ASSERT_EQ(std::system(command.c_str()), 0) << command;
      EXPECT_EQ(csvGrid((folder.path / "named8.csv").string()), want) << "as LibreOffice read Kelp's file";
    }
  }
}

}  // namespace
}  // namespace kelp
