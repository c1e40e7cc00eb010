// Tests of the dBase table reader and writer: round trips, renamed fields, widened
// number fields, deleted records, damaged files and a check by an independent reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "files/DbaseFile.h"
#include "files/DocStream.h"
#include "files/Document.h"
#include "format/DateSerial.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Locale.h"
#include "platform/System.h"
#include "platform/Text.h"
#include "tests/files/TempFolder.h"

namespace kelp {
namespace {

using test::TempFolder;

namespace fs = std::filesystem;

class DbaseEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { installDbaseFormat(); }
};
const auto* const g_dbaseEnvironment = ::testing::AddGlobalTestEnvironment(new DbaseEnvironment);

void putText(Sheet& sheet, int32_t column, int32_t row, std::u16string_view text) {
  CellValue value = emptyValue();
  makeText(value, text);
  ASSERT_TRUE(sheet.setCell(column, row, CellRecord{value, -1}));
}
// The heading row: one text per column from the first.
void putHeadings(Sheet& sheet, std::initializer_list<std::u16string_view> texts) {
  int32_t column = 0;
  for (std::u16string_view text : texts) putText(sheet, column++, 0, text);
}
void putNumber(Sheet& sheet, int32_t column, int32_t row, double number) {
  ASSERT_TRUE(sheet.setCell(column, row, CellRecord{numberValue(number), -1}));
}
double serialOf(int year, int month, int day) {
  double serial = 0;
  EXPECT_TRUE(serialFromFields(year, month, day, 0, 0, 0, 0, true, serial));
  return serial;
}

std::vector<uint8_t> written(Workbook& book) {
  MemoryDocStream out;
  writeDbase(book, out);
  return std::vector<uint8_t>(out.data(), out.data() + out.size());
}

// Reads bytes into a fresh one-sheet workbook; false and the code when the read fails.
std::unique_ptr<Workbook> readBytes(const std::vector<uint8_t>& bytes, uint32_t codePage, bool& ok) {
  auto book = newWorkbook(1);
  book->codePage = codePage;
  MemoryDocStream in(bytes.data(), bytes.size());
  in.allocateBuffer();
  ok = readDbase(*book, in);
  return book;
}

std::u16string textAt(const Workbook& book, int32_t column, int32_t row) {
  const CellValue& value = book.sheetAt(0)->cellValue(column, row);
  return value.kind == ValueKind::Text ? std::u16string(textOf(value)) : u"<not text>";
}

// A table made by hand: descriptors (name, type, width) and records as they are stored.
struct HandField {
  const char* name;
  char type;
  uint8_t width;
};
std::vector<uint8_t> handTable(const std::vector<HandField>& fields, const std::vector<std::string>& records,
                               uint32_t claimedRecords = 0xFFFFFFFF) {
  const uint16_t headerSize = static_cast<uint16_t>(32 * fields.size() + 33);
  uint16_t recordSize = 1;
  for (const HandField& f : fields) recordSize = static_cast<uint16_t>(recordSize + f.width);
  std::vector<uint8_t> bytes(headerSize, 0);
  bytes[0] = 3;
  uint32_t count = claimedRecords == 0xFFFFFFFF ? static_cast<uint32_t>(records.size()) : claimedRecords;
  std::memcpy(bytes.data() + 4, &count, 4);
  std::memcpy(bytes.data() + 8, &headerSize, 2);
  std::memcpy(bytes.data() + 10, &recordSize, 2);
  for (size_t i = 0; i < fields.size(); ++i) {
    uint8_t* d = bytes.data() + 32 + 32 * i;
    std::memcpy(d, fields[i].name, std::strlen(fields[i].name));
    d[11] = static_cast<uint8_t>(fields[i].type);
    d[16] = fields[i].width;
  }
  bytes[headerSize - 1] = 0x0D;
  for (const std::string& r : records) bytes.insert(bytes.end(), r.begin(), r.end());
  bytes.push_back(0x1A);
  return bytes;
}

TEST(Dbase, EveryFieldKindComesBack) {
  auto book = newWorkbook(1);
  book->codePage = 1252;
  Sheet& s = *book->sheetAt(0);
  putHeadings(s, {u"Name", u"Amount", u"Due", u"Paid"});
  // A text longer than its column is shown still comes back whole.
  const std::u16string names[] = {u"Größe Ça ñ", std::u16string(200, u'x'), u""};
  const double amounts[] = {-1234.5678, 987654321012.25, 0.001};
  const double dates[] = {serialOf(2005, 2, 28), serialOf(1899, 12, 31), serialOf(9999, 12, 31)};
  for (int32_t i = 0; i < 3; ++i) {
    if (!names[i].empty()) putText(s, 0, i + 1, names[i]);
    putNumber(s, 1, i + 1, amounts[i]);
    ASSERT_TRUE(s.setCell(2, i + 1, CellRecord{dateTimeValue(dates[i]), -1}));
  }
  ASSERT_TRUE(s.setCell(3, 1, CellRecord{logicalValue(true), -1}));
  ASSERT_TRUE(s.setCell(3, 2, CellRecord{logicalValue(false), -1}));  // row 3 unknown
  // A gap row is a record of empty fields.
  putText(s, 0, 5, u"last");

  std::vector<uint8_t> bytes = written(*book);
  ASSERT_EQ(pendingError(), 0u);
  ASSERT_GT(bytes.size(), 32u + 4 * 32 + 1);
  EXPECT_EQ(bytes[0], 3);
  EXPECT_EQ(bytes[4], 5) << "five records: rows 2 to 6";
  EXPECT_EQ(bytes.back(), 0x1A);
  std::string types;
  for (int f = 0; f < 4; ++f) types += static_cast<char>(bytes[32 + 32 * f + 11]);
  EXPECT_EQ(types, "CNDL");
  EXPECT_EQ(bytes[32 + 4 * 32], 0x0D);
  EXPECT_NE(std::string(bytes.begin(), bytes.end()).find("20050228"), std::string::npos);

  bool ok = false;
  auto back = readBytes(bytes, 1252, ok);
  ASSERT_TRUE(ok) << pendingError();
  EXPECT_EQ(textAt(*back, 0, 0), u"NAME");
  EXPECT_EQ(textAt(*back, 3, 0), u"PAID");
  const Sheet& r = *back->sheetAt(0);
  for (int32_t i = 0; i < 3; ++i) {
    if (names[i].empty()) EXPECT_EQ(r.cellKind(0, i + 1), ValueKind::Empty);
    else EXPECT_EQ(textAt(*back, 0, i + 1), names[i]);
    ASSERT_EQ(r.cellKind(1, i + 1), ValueKind::Number);
    EXPECT_EQ(r.cellValue(1, i + 1).number(), amounts[i]);
    ASSERT_EQ(r.cellKind(2, i + 1), ValueKind::DateTime);
    EXPECT_EQ(r.cellValue(2, i + 1).number(), dates[i]);
  }
  for (int32_t row : {1, 2}) {
    ASSERT_EQ(r.cellKind(3, row), ValueKind::Logical);
    EXPECT_EQ(r.cellValue(3, row).u32(), row == 1 ? 1u : 0u);
  }
  EXPECT_EQ(r.cellKind(3, 3), ValueKind::Empty) << "an unknown logical stays unknown";
  for (int32_t c = 0; c < 4; ++c) EXPECT_EQ(r.cellKind(c, 4), ValueKind::Empty);
  EXPECT_EQ(textAt(*back, 0, 5), u"last");
  EXPECT_EQ(r.lastUsedRow(-1), 5);
  EXPECT_EQ(r.columns.columnWidth(2), 2560) << "dates get ten characters";

  // A character the code page lacks is written as "?", never dropped.
  auto dos = newWorkbook(1);
  putText(*dos->sheetAt(0), 0, 0, u"T");
  putText(*dos->sheetAt(0), 0, 1, u"a€b");
  dos->codePage = 850;
  back = readBytes(written(*dos), 850, ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(textAt(*back, 0, 1), u"a?b");
}

TEST(Dbase, NumberFieldsHoldEveryNumberOfTheirColumn) {
  auto book = newWorkbook(1);
  Sheet& s = *book->sheetAt(0);
  putHeadings(s, {u"Small", u"Huge", u"Fine"});
  // The first cell would make a narrow field with one decimal; the later ones need more.
  const double column0[] = {1.5, -98765432.25, 0.000123, 42};
  for (int32_t i = 0; i < 4; ++i) putNumber(s, 0, i + 1, column0[i]);
  ASSERT_TRUE(s.columns.setColumnWidths(0, 0, 256));  // a narrow column: base width 5
  putNumber(s, 1, 1, 1);
  putNumber(s, 1, 2, 1e25);  // needs 26 digits: no numeric field holds it
  putNumber(s, 2, 1, 1e-20);
  putNumber(s, 2, 2, 3);
  (void)takeNotice();
  std::vector<uint8_t> bytes = written(*book);
  ASSERT_EQ(pendingError(), 0u);
  DocumentNotice notice = takeNotice();
  EXPECT_EQ(notice.code, static_cast<uint32_t>(Err::NumberOutOfBounds));
  EXPECT_EQ(notice.detail, u"HUGE, FINE") << "the notice names the fields written as text";
  std::string types;
  for (size_t at : {32, 64, 96}) types += static_cast<char>(bytes[at + 11]);
  EXPECT_EQ(types, "NCC");
  EXPECT_LE(bytes[32 + 16], 19);

  bool ok = false;
  auto back = readBytes(bytes, 1252, ok);
  ASSERT_TRUE(ok);
  const Sheet& r = *back->sheetAt(0);
  for (int32_t i = 0; i < 4; ++i) {
    ASSERT_EQ(r.cellKind(0, i + 1), ValueKind::Number) << i;
    EXPECT_DOUBLE_EQ(r.cellValue(0, i + 1).number(), column0[i]) << i;
  }
  // The text of a number too large for a field still reads as that number.
  double huge = 0;
  EXPECT_TRUE(textToNumber(textAt(*back, 1, 2), huge)) << utf16ToUtf8(textAt(*back, 1, 2));
  EXPECT_EQ(huge, 1e25);

  // Written and read under a comma locale, numbers still use "." in the file.
  ASSERT_TRUE(selectLocale("de_DE"));
  auto german = newWorkbook(1);
  putText(*german->sheetAt(0), 0, 0, u"X");
  putNumber(*german->sheetAt(0), 0, 1, 3.25);
  std::vector<uint8_t> comma = written(*german);
  std::string commaText(comma.begin(), comma.end());
  EXPECT_NE(commaText.find("3.25"), std::string::npos);
  auto hand = handTable({{"N", 'N', 6}}, {"    3.5"});
  auto germanBack = readBytes(hand, 1252, ok);
  ASSERT_TRUE(selectLocale("en_US"));
  ASSERT_TRUE(ok);
  ASSERT_EQ(germanBack->sheetAt(0)->cellKind(0, 1), ValueKind::Number);
  EXPECT_EQ(germanBack->sheetAt(0)->cellValue(0, 1).number(), 3.5);
}

TEST(Dbase, FieldNamesAreCutOrReplacedWithANotice) {
  auto book = newWorkbook(1);
  Sheet& s = *book->sheetAt(0);
  putHeadings(s, {u" order date ", u"Name", u"Name", u"_C", u"Größe", u"A very long heading", u"1st", u"Hidden",
                  u"After"});
  for (int32_t c = 0; c < 7; ++c) putNumber(s, c, 1, c);
  ASSERT_TRUE(s.columns.setColumnsHidden(7, 7, true));
  (void)takeNotice();
  std::vector<uint8_t> bytes = written(*book);
  DocumentNotice notice = takeNotice();
  std::vector<std::string> names;
  for (size_t at = 32; bytes[at] != 0x0D; at += 32) names.emplace_back(reinterpret_cast<const char*>(bytes.data() + at));
  const std::vector<std::string> expected = {"ORDER_DATE", "NAME", "_C", "_D", "E", "A_VERY_LON", "G", "AFTER"};
  EXPECT_EQ(names, expected) << "the hidden column is left out";
  EXPECT_EQ(noticeText(notice), u"Some headings cannot be dBase field names, so the fields were named: C as _C, D as _D, "
                                u"E as E, F as A_VERY_LON, G as G");

  // Names that need no change leave no notice.
  auto plain = newWorkbook(1);
  putText(*plain->sheetAt(0), 0, 0, u"price");
  (void)written(*plain);
  EXPECT_TRUE(takeNotices().empty());
}

TEST(Dbase, EveryColumnOfTheListIsAFieldWhateverItsHeading) {
  // A title merged across the first row, an empty heading, a heading under the title's
  // merged area, and a column whose heading row is empty but that holds data below.
  auto book = newWorkbook(1);
  Sheet& s = *book->sheetAt(0);
  putText(s, 0, 0, u"Budget");
  putText(s, 2, 0, u"Stray");  // stored under the merged title, never shown
  ASSERT_TRUE(s.mergedAreas.append(Area{0, 0, 0, 3}));  // A1:D1
  putText(s, 1, 2, u"Rent");
  for (int32_t c = 0; c < 5; ++c) putNumber(s, c, 3, c + 10);
  (void)takeNotices();
  std::vector<uint8_t> bytes = written(*book);
  ASSERT_EQ(pendingError(), 0u);
  std::vector<std::string> names;
  for (size_t at = 32; bytes[at] != 0x0D; at += 32) names.emplace_back(reinterpret_cast<const char*>(bytes.data() + at));
  EXPECT_EQ(names, (std::vector<std::string>{"BUDGET", "B", "C", "D", "E"}));
  const std::vector<DocumentNotice> notices = takeNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(noticeText(notices[0]),
            u"Some headings cannot be dBase field names, so the fields were named: B as B, C as C, D as D, E as E");

  bool ok = false;
  auto back = readBytes(bytes, 1252, ok);
  ASSERT_TRUE(ok);
  // The records start at the first row below the headings that holds anything.
  EXPECT_EQ(textAt(*back, 1, 1), u"Rent");
  for (int32_t c = 0; c < 5; ++c) EXPECT_EQ(textAt(*back, c, 2), std::u16string(u"1") + char16_t(u'0' + c)) << c;
}

TEST(Dbase, OddFieldTextsReadSensibly) {
  auto bytes = handTable({{"D", 'D', 8}, {"N", 'N', 5}, {"L", 'L', 1}, {"M", 'X', 4}},
                         {std::string(" 20240229 -2.5Yabc\0", 19), std::string(9, ' ') + "**** n    ",
                          " 2023023x  1e3? ok "});
  bool ok = false;
  auto book = readBytes(bytes, 1252, ok);
  ASSERT_TRUE(ok) << pendingError();
  const Sheet& s = *book->sheetAt(0);
  EXPECT_EQ(s.cellValue(0, 1).number(), serialOf(2024, 2, 29));
  EXPECT_EQ(s.cellValue(1, 1).number(), -2.5);
  EXPECT_EQ(s.cellValue(2, 1).u32(), 1u);
  EXPECT_EQ(textAt(*book, 3, 1), u"abc") << "an unknown type is text, NUL padding dropped";
  EXPECT_EQ(s.cellKind(0, 2), ValueKind::Empty);
  EXPECT_EQ(textAt(*book, 1, 2), u"****") << "overflow marks stay visible";
  EXPECT_EQ(s.cellValue(2, 2).u32(), 0u);
  EXPECT_EQ(textAt(*book, 0, 3), u"2023023x");
  EXPECT_EQ(s.cellValue(1, 3).number(), 1000);
  EXPECT_EQ(s.cellKind(2, 3), ValueKind::Empty);
}

TEST(Dbase, DamagedTablesFailWithReadErrorAndNeverCrash) {
  const auto good = handTable({{"A", 'C', 3}, {"B", 'N', 4}}, {" abc  12", " def  34"});
  auto failsWith13 = [](std::vector<uint8_t> bytes, const char* why) {
    clearError();
    bool ok = true;
    (void)readBytes(bytes, 1252, ok);
    EXPECT_FALSE(ok) << why;
    EXPECT_EQ(pendingError(), 13u) << why;
    clearError();
  };
  // Header sizes too short for the terminator or larger than the file, a field wider
  // than the record, more records than the file has, records of no bytes.
  const struct {
    size_t at, size;
    uint32_t value;
  } damages[] = {{8, 2, 0},    {8, 2, 1},   {8, 2, 31},          {8, 2, 32},
                 {8, 2, 0xFFFF}, {80, 1, 200}, {4, 4, 0xFFFFFFF0}, {10, 2, 0}};
  for (const auto& d : damages) {
    auto bytes = good;
    std::memcpy(bytes.data() + d.at, &d.value, d.size);
    failsWith13(bytes, ("byte " + std::to_string(d.at) + " set to " + std::to_string(d.value)).c_str());
  }
  for (size_t cut : {0, 10, 40, 100, 105}) {
    std::vector<uint8_t> bytes(good.begin(), good.begin() + static_cast<long>(cut));
    failsWith13(bytes, "a cut file");
  }
  // Flipped bytes anywhere: a result either way, and never a crash or a leak.
  for (size_t at = 0; at < good.size(); ++at) {
    auto bytes = good;
    bytes[at] ^= 0xA5;
    bool ok = false;
    (void)readBytes(bytes, 1252, ok);
    EXPECT_EQ(ok, pendingError() == 0) << at;
    clearError();
  }
  // The sound table itself reads.
  bool ok = false;
  auto book = readBytes(good, 1252, ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(book->sheetAt(0)->cellValue(1, 2).number(), 34);
}

TEST(Dbase, LargeTablesStopAtTheLastRowAndWideOnesAtTheLastColumn) {
  std::vector<std::string> records(70000, " 1");
  bool ok = false;
  (void)takeNotices();
  auto book = readBytes(handTable({{"N", 'N', 1}}, records), 1252, ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(book->sheetAt(0)->lastUsedRow(-1), 65535);
  EXPECT_EQ(noticeText(takeNotice()), u"A sheet holds 65,536 rows: reading stopped at row 65537.");

  std::vector<HandField> fields(300, HandField{"F", 'C', 1});
  std::string record(301, 'x');
  record[0] = ' ';
  book = readBytes(handTable(fields, {record}), 1252, ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(book->sheetAt(0)->lastUsedColumn(), 255);
  EXPECT_EQ(noticeText(takeNotice()),
            u"A sheet holds 256 columns: fields past column IV were left out, the first in row 1.");
}

TEST(Dbase, SaveAndOpenGoThroughTheDocument) {
  TempFolder folder;
  Document document;
  std::vector<std::u16string> shown;
  document.ui.showNotice = [&](std::u16string_view text) { shown.emplace_back(text); };
  Sheet& s = *document.workbook().sheetAt(0);
  putText(s, 0, 0, u"A rather long name");
  putNumber(s, 0, 1, 7);
  document.workbook().fileName = u"book.kp";
  clearError();
  ASSERT_TRUE(SaveDocument(document, folder.file("t.dbf"), DocFileType::Dbase));
  EXPECT_EQ(pendingError(), 0u);
  EXPECT_EQ(shown, std::vector<std::u16string>{
                       u"Some headings cannot be dBase field names, so the fields were named: A as A_RATHER_L"});
  EXPECT_EQ(document.workbook().fileName, u"book.kp") << "an export keeps the name";

  std::vector<uint8_t> bytes = test::fileBytes(folder.file("t.dbf"));
  ASSERT_GT(bytes.size(), 4u);
  const LocalTime today = localTimeNow();
  EXPECT_EQ(bytes[1], today.year - 1900);
  EXPECT_EQ(bytes[2], today.month);

  shown.clear();
  ASSERT_TRUE(OpenDocument(document, folder.file("t.dbf")));
  EXPECT_TRUE(shown.empty());
  EXPECT_TRUE(document.workbook().fileName.empty()) << "a table opens untitled";
  EXPECT_EQ(document.workbook().sheetCount(), 1);
  EXPECT_EQ(textAt(document.workbook(), 0, 0), u"A_RATHER_L");
  EXPECT_EQ(document.workbook().sheetAt(0)->cellValue(0, 1).number(), 7);
}

// An independent reader checks what Kelp writes; it needs Python's dbfread.
TEST(Dbase, AnotherReaderSeesTheSameTable) {
  if (std::system("/usr/bin/python3 -c 'import dbfread' 2>/dev/null") != 0)
    GTEST_SKIP() << "python3 with the dbfread module is not installed (apt-get install python3-dbfread)";
  TempFolder folder;
  auto book = newWorkbook(1);
  book->codePage = 1252;
  Sheet& s = *book->sheetAt(0);
  putHeadings(s, {u"Item", u"Price", u"Sold", u"Fresh"});
  putText(s, 0, 1, u"Crème brûlée");
  putNumber(s, 1, 1, -12.375);
  ASSERT_TRUE(s.setCell(2, 1, CellRecord{dateTimeValue(serialOf(2026, 12, 7)), -1}));
  ASSERT_TRUE(s.setCell(3, 1, CellRecord{logicalValue(true), -1}));
  putText(s, 0, 2, u"Pear");
  putNumber(s, 1, 2, 123456789.5);
  ASSERT_TRUE(s.setCell(3, 2, CellRecord{logicalValue(false), -1}));
  const std::string script = (folder.path / "read.py").string();
  std::ofstream(script) << "import sys, dbfread\n"
                           "t = dbfread.DBF(sys.argv[1], encoding='cp1252')\n"
                           "print(t.field_names)\n"
                           "for r in t: print([r[n] for n in t.field_names])\n";
  auto readBack = [&](Workbook& written_) {
    std::vector<uint8_t> bytes = written(written_);
    const std::string table = (folder.path / "t.dbf").string();
    std::ofstream(table, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
    const std::string output = (folder.path / "out.txt").string();
    EXPECT_EQ(std::system(("/usr/bin/python3 " + script + " " + table + " > " + output).c_str()), 0);
    std::ifstream in(output);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  EXPECT_EQ(readBack(*book),
            "['ITEM', 'PRICE', 'SOLD', 'FRESH']\n"
            "['Crème brûlée', -12.375, datetime.date(2026, 12, 7), True]\n"
            "['Pear', 123456789.5, None, False]\n");

  // A title merged over the columns keeps every column of the list below it.
  auto titled = newWorkbook(1);
  Sheet& t = *titled->sheetAt(0);
  putText(t, 0, 0, u"Budget");
  ASSERT_TRUE(t.mergedAreas.append(Area{0, 0, 0, 2}));
  putText(t, 0, 2, u"Rent");
  putNumber(t, 1, 2, 950);
  putNumber(t, 2, 2, 2.5);
  putText(t, 0, 3, u"Food");
  putNumber(t, 1, 3, 410);
  putNumber(t, 2, 3, 1.25);
  EXPECT_EQ(readBack(*titled),
            "['BUDGET', 'B', 'C']\n"
            "['Rent', 950, 2.5]\n"
            "['Food', 410, 1.25]\n");
  (void)takeNotices();
}

}  // namespace
}  // namespace kelp
