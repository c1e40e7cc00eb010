// Tests of formulas that read other workbook files: the values fetched, where the files
// are found, what a missing one gives, the cache, and that the other file is left alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "files/DocStream.h"
#include "files/Document.h"
#include "files/ExternalRefs.h"
#include "files/NativeFormat.h"
#include "files/PocketExcel.h"
#include "files/Password.h"
#include "format/ValueText.h"
#include "formula/Compiler.h"
#include "formula/Evaluator.h"
#include "formula/FormulaText.h"
#include "formula/Recalc.h"
#include "model/HandlePool.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/File.h"
#include "platform/Text.h"
#include "tests/files/TempFolder.h"

namespace kelp {
namespace {

namespace fs = std::filesystem;
using test::fileBytes;
using test::TempFolder;

std::string fixture(const char* name) { return std::string(KELP_TEST_DATA) + "/external/" + name; }

void writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

size_t openDescriptors() {
  return static_cast<size_t>(
      std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

// Types an entry into a cell as the tests need it: "=..." a formula, "'..." a text, TRUE
// and FALSE logicals, anything else a number.
void put(Workbook& book, int32_t sheetIndex, int32_t col, int32_t row, std::u16string_view entry) {
  Sheet& sheet = *book.sheetAt(sheetIndex);
  CellValue value = emptyValue();
  if (entry.starts_with(u"=")) {
    const CellPosition at{static_cast<uint16_t>(col), static_cast<uint16_t>(row), static_cast<uint16_t>(sheetIndex)};
    uint32_t tokens = compileToHandle(book, entry, at, false);
    ASSERT_NE(tokens, NoHandle) << "does not compile: " << utf16ToUtf8(entry) << " error " << pendingError();
    value = newFormulaValue(tokens, at);
  } else if (entry.starts_with(u"'")) {
    makeText(value, entry.substr(1));
  } else if (entry == u"TRUE" || entry == u"FALSE") {
    value = wordValue(ValueKind::Logical, entry == u"TRUE");
  } else {
    value = numberValue(std::stod(utf16ToUtf8(entry)));
  }
  ASSERT_TRUE(sheet.setCell(col, row, CellRecord{value, -1}));
}

// A new workbook with the named sheets.
std::unique_ptr<Workbook> bookWithSheets(std::initializer_list<const char16_t*> names) {
  std::unique_ptr<Workbook> book = newWorkbook(0);
  for (const char16_t* name : names) book->insertSheet(name);
  return book;
}

void save(std::unique_ptr<Workbook> book, const fs::path& path) {
  recalculateAll(*book);
  Document document;
  document.replaceWorkbook(std::move(book));
  ASSERT_TRUE(SaveDocument(document, utf8ToUtf16(path.string()), FileTypeFromName(utf8ToUtf16(path.string()))))
      << pendingError();
}

// The file the reading tests read: every kind of cell on sheet "Data", one more sheet.
void saveSource(const fs::path& path, std::u16string_view a1 = u"5") {
  auto book = bookWithSheets({u"Data", u"Income"});
  put(*book, 0, 0, 0, a1);
  put(*book, 0, 1, 0, u"'hello");
  put(*book, 0, 2, 0, u"TRUE");
  put(*book, 0, 3, 0, u"=1/0");
  put(*book, 0, 4, 0, u"=A1*2");
  put(*book, 0, 5, 0, u"'Go#Task:MsgBox(\"hi\")");
  put(*book, 1, 1, 0, u"100");
  put(*book, 1, 1, 1, u"250");
  put(*book, 1, 1, 2, u"'note");
  save(std::move(book), path);
}

std::string shown(const CellValue& value) {
  std::u16string text;
  valueToText(value, text);
  return utf16ToUtf8(text);
}

// Evaluates a formula as if it stood in Sheet1!Z99 of `book`; compile errors come back
// as "error N".
std::string evaluate(Workbook& book, std::u16string_view formula) {
  clearError();
  uint32_t tokens = compileToHandle(book, formula, CellPosition{25, 98, 0}, false);
  if (tokens == NoHandle) {
    std::string text = "error " + std::to_string(pendingError());
    clearError();
    return text;
  }
  CellValue out = emptyValue();
  bool ran = evaluateTokens(static_cast<const uint8_t*>(formulaPool().data(tokens)), book, CellPosition{25, 98, 0},
                            true, out);
  formulaPool().release(tokens);
  if (!ran) return "(failed)";
  std::string text = out.kind == ValueKind::Logical ? (out.u32() ? "TRUE" : "FALSE") : shown(out);
  releaseValue(out);
  return text;
}

std::u16string textOfFormula(Workbook& book, std::u16string_view formula) {
  uint32_t tokens = compileToHandle(book, formula, CellPosition{25, 98, 0}, false);
  EXPECT_NE(tokens, NoHandle);
  std::u16string text;
  if (tokens == NoHandle) return text;
  formulaText(book, static_cast<const uint8_t*>(formulaPool().data(tokens)), CellPosition{25, 98, 0}, text);
  formulaPool().release(tokens);
  return text;
}

// A workbook that would lie in `folder`, untitled otherwise.
std::unique_ptr<Workbook> referringBook(const fs::path& folder) {
  std::unique_ptr<Workbook> book = newWorkbook(1);
  book->fileName = utf8ToUtf16((folder / "referring.kp").string());
  return book;
}

class ExternalRefs : public ::testing::Test {
 protected:
  void SetUp() override {
    installExternalReferences();
    clearError();
  }
  void TearDown() override {
    installExternalValue(nullptr);
    installExternalSheetNames(nullptr);
    clearError();
  }
  TempFolder folder;
};

TEST_F(ExternalRefs, ReadsEveryKindOfCellOfANativeWorkbook) {
  saveSource(folder.path / "a.kp");
  auto book = referringBook(folder.path);
  EXPECT_EQ(evaluate(*book, u"=[a.kp]Data!A1"), "5");
  EXPECT_EQ(evaluate(*book, u"=[a.kp]data!B1"), "hello");  // sheet names compare without case
  EXPECT_EQ(evaluate(*book, u"=[a.kp]Data!C1"), "TRUE");
  EXPECT_EQ(evaluate(*book, u"=[a.kp]Data!D1"), "!!Div0");
  EXPECT_EQ(evaluate(*book, u"=[a.kp]Data!E1"), "10");   // a formula's stored result
  EXPECT_EQ(evaluate(*book, u"=[a.kp]Data!F1"), "Go");   // a cell task stays behind
  EXPECT_EQ(evaluate(*book, u"=[a.kp]Data!G1"), "!!NA");  // a cell the file lacks
  EXPECT_EQ(evaluate(*book, u"='[a.kp]Income'!B2*2"), "500");
  // Ranges pass over the cells the file lacks, as ranges here pass over empty cells.
  EXPECT_EQ(evaluate(*book, u"=Sum([a.kp]Income!B1:B50)"), "350");
  EXPECT_EQ(evaluate(*book, u"=CountA([a.kp]Income!A1:C3)"), "3");
  EXPECT_EQ(evaluate(*book, u"=Sum([a.kp]Data!A1:F1)"), "!!Div0");
  EXPECT_EQ(evaluate(*book, u"=Sum([a.kp]Data:Income!B1:B2)"), "350");
  EXPECT_EQ(pendingError(), 0u);

  // The text reads back as typed; the book joined the list once, with the file's sheets.
  EXPECT_EQ(textOfFormula(*book, u"=[a.kp]Data!A1+Sum([a.kp]Income!B1:B3)"), u"=[a.kp]Data!A1+Sum([a.kp]Income!B1:B3)");
  fs::copy_file(folder.path / "a.kp", folder.path / "my budget.kp");
  EXPECT_EQ(textOfFormula(*book, u"='[my budget.kp]Income'!B2"), u"='[my budget.kp]Income'!B2");
  EXPECT_EQ(evaluate(*book, u"=[my budget.kp]Income!B2"), "250");
  ASSERT_EQ(book->externalBookCount(), 2);
  EXPECT_EQ(book->externalBook(1)->sheetNames, (std::vector<std::u16string>{u"Data", u"Income"}));

  // An unknown book is a compile error (11), an unknown sheet too (25); neither joins the list.
  EXPECT_EQ(evaluate(*book, u"=[nothere.kp]Data!A1"), "error 11");
  EXPECT_EQ(evaluate(*book, u"=[a.kp]Nosheet!A1"), "error 25");
  EXPECT_EQ(evaluate(*book, u"=[a.kp]Data:Nosheet!A1"), "error 25");
  EXPECT_EQ(book->externalBookCount(), 2);
}

TEST_F(ExternalRefs, ReadsExcelFilesMadeByLibreOffice) {
  fs::copy_file(fixture("ext97.xls"), folder.path / "ext97.xls");
  fs::copy_file(fixture("ext95.xls"), folder.path / "ext95.xls");
  for (const char16_t* name : {u"ext97.xls", u"ext95.xls"}) {
    SCOPED_TRACE(utf16ToUtf8(name));
    auto book = referringBook(folder.path);
    auto ref = [&](std::u16string_view rest) { return std::u16string(u"='[") + name + u"]" + std::u16string(rest); };
    auto inner = [&](std::u16string_view rest) { return std::u16string(u"'[") + name + u"]" + std::u16string(rest); };
    EXPECT_EQ(evaluate(*book, ref(u"Prices'!A1")), "42.5");
    EXPECT_EQ(evaluate(*book, ref(u"Prices'!B1")), "shared text");  // the shared string table in Excel 97
    EXPECT_EQ(evaluate(*book, ref(u"prices'!A2")), "shared text");
    EXPECT_EQ(evaluate(*book, ref(u"Prices'!C2")), "TRUE");          // a formula's logical result
    EXPECT_EQ(evaluate(*book, ref(u"Prices'!D1")), "!!Div0");
    EXPECT_EQ(evaluate(*book, ref(u"Prices'!D2")), "!!NA");
    EXPECT_EQ(evaluate(*book, ref(u"Prices'!E1")), "85");
    EXPECT_EQ(evaluate(*book, ref(u"Prices'!F1")), "shared text!");  // a formula's text result
    EXPECT_EQ(evaluate(*book, ref(u"Prices'!B2")), "7");
    EXPECT_EQ(evaluate(*book, u"=Sum(" + inner(u"Prices'!A3:D3)")), "2.25");  // RK and MULRK
    EXPECT_EQ(evaluate(*book, ref(u"Second Sheet'!B1")), "123456789");
    EXPECT_EQ(evaluate(*book, ref(u"Second Sheet'!A1")), "other");
    EXPECT_EQ(evaluate(*book, ref(u"Prices'!Z9")), "!!NA");
    EXPECT_EQ(pendingError(), 0u);
  }
}

TEST_F(ExternalRefs, MissingFilesSheetsAndFormatsGiveNAAndLeaveTheErrorStateAlone) {
  saveSource(folder.path / "a.kp");
  saveSource(folder.path / "b.kp");
  auto book = referringBook(folder.path);
  // Compiled while the files were there, evaluated once they are gone or changed.
  uint32_t gone = compileToHandle(*book, u"=[a.kp]Data!A1", CellPosition{25, 98, 0}, false);
  uint32_t renamed = compileToHandle(*book, u"=[b.kp]Income!B1", CellPosition{25, 98, 0}, false);
  ASSERT_NE(gone, NoHandle);
  ASSERT_NE(renamed, NoHandle);
  fs::remove(folder.path / "a.kp");
  {
    auto other = bookWithSheets({u"Data", u"Other"});
    put(*other, 0, 0, 0, u"1");
    save(std::move(other), folder.path / "b.kp");
  }
  // An error pending before stays as it was; nothing is added to it.
  setError(Err::Clipboard);
  for (uint32_t tokens : {gone, renamed}) {
    CellValue out = emptyValue();
    ASSERT_TRUE(evaluateTokens(static_cast<const uint8_t*>(formulaPool().data(tokens)), *book,
                               CellPosition{25, 98, 0}, true, out));
    EXPECT_EQ(shown(out), "!!NA");
    releaseValue(out);
  }
  EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::Clipboard));
  clearError();
  formulaPool().release(gone);
  formulaPool().release(renamed);

  // Text tables, a protected workbook and one of a newer release cannot be read for values.
  fs::path csv = folder.path / "t.csv";
  writeBytes(csv, {'1', ',', '2', '\n'});
  saveSource(folder.path / "newer.kp");
  std::vector<uint8_t> bytes = fileBytes(folder.path / "newer.kp");
  ASSERT_GT(bytes.size(), 10u);
  bytes[6] = 9;  // writer version
  bytes[8] = 9;  // oldest version that reads it
  writeBytes(folder.path / "newer.kp", bytes);
  for (const char16_t* name : {u"t.csv", u"newer.kp"}) {
    SCOPED_TRACE(utf16ToUtf8(name));
    int32_t index = book->findOrAddExternalBook(u"", name);
    book->externalBook(index)->sheetNames = {u"Data", u"t"};
    for (int32_t sheet : {0, 1}) {
      CellValue value = GetExternalValue(*book, index, sheet, 0, 0);
      EXPECT_EQ(shown(value), "!!NA");
      releaseValue(value);
    }
    EXPECT_EQ(pendingError(), 0u);
  }
  // A compile that meets such a file reports it as a file it cannot open, at the reference.
  auto fresh = referringBook(folder.path);
  EXPECT_EQ(evaluate(*fresh, u"=[t.csv]t!A1"), "error 11");
  EXPECT_EQ(evaluate(*fresh, u"=[newer.kp]Data!A1"), "error 11");
  EXPECT_EQ(pendingError(), 0u);
}

TEST_F(ExternalRefs, ProtectedWorkbooksAreNotOpenedWithoutTheirPassword) {
  auto locked = bookWithSheets({u"Data"});
  put(*locked, 0, 0, 0, u"3");
  recalculateAll(*locked);
  Document document;
  document.replaceWorkbook(std::move(locked));
  ASSERT_TRUE(setWorkbookPassword(document.workbook(), u"secret"));
  ASSERT_TRUE(SaveDocument(document, folder.file("locked.kp"), DocFileType::Native)) << pendingError();
  auto book = referringBook(folder.path);
  EXPECT_EQ(evaluate(*book, u"=[locked.kp]Data!A1"), "error 11");
  int32_t index = book->findOrAddExternalBook(u"", u"locked.kp");
  book->externalBook(index)->sheetNames = {u"Data"};
  CellValue value = GetExternalValue(*book, index, 0, 0, 0);
  EXPECT_EQ(shown(value), "!!NA");
  EXPECT_EQ(pendingError(), 0u);
}

TEST_F(ExternalRefs, ValuesStayUntilTheWorkbookIsOpenedAgain) {
  saveSource(folder.path / "a.kp");
  {
    auto book = referringBook(folder.path);
    put(*book, 0, 0, 0, u"=[a.kp]Data!A1");
    put(*book, 0, 1, 0, u"=[a.kp]Data!B1");
    save(std::move(book), folder.path / "referring.kp");
  }
  Document document;
  document.ui.allowExternalReads = [](std::u16string_view, std::u16string_view) { return true; };
  ASSERT_TRUE(OpenDocument(document, folder.file("referring.kp")));
  const Sheet& sheet = *document.workbook().sheetAt(0);
  EXPECT_EQ(shown(effectiveValue(sheet.cellValue(0, 0))), "5");

  // The other file changes: its sheet renamed and its value new. This workbook keeps
  // what it read, for the other cells of that sheet too, until it is opened again.
  {
    auto other = bookWithSheets({u"Renamed"});
    put(*other, 0, 0, 0, u"99");
    save(std::move(other), folder.path / "a.kp");
  }
  recalculateAll(document.workbook());
  EXPECT_EQ(shown(effectiveValue(sheet.cellValue(0, 0))), "5");
  EXPECT_EQ(shown(effectiveValue(sheet.cellValue(1, 0))), "hello");
  EXPECT_EQ(evaluate(document.workbook(), u"=[a.kp]Data!A1+1"), "6");

  ASSERT_TRUE(OpenDocument(document, folder.file("referring.kp")));
  EXPECT_EQ(shown(effectiveValue(document.workbook().sheetAt(0)->cellValue(0, 0))), "!!NA");
  saveSource(folder.path / "a.kp", u"99");
  ASSERT_TRUE(OpenDocument(document, folder.file("referring.kp")));
  EXPECT_EQ(shown(effectiveValue(document.workbook().sheetAt(0)->cellValue(0, 0))), "99");
  EXPECT_EQ(pendingError(), 0u);
}

TEST_F(ExternalRefs, OpeningAsksOnceBeforeReadingAndNoKeepsTheStoredValues) {
  saveSource(folder.path / "a.kp");
  {
    auto book = referringBook(folder.path);
    put(*book, 0, 0, 0, u"=[a.kp]Data!A1*2");
    put(*book, 0, 0, 1, u"=A1+1");
    put(*book, 0, 0, 2, u"=Sum([a.kp]Data!A1:B1)");
    recalculateAll(*book);
    save(std::move(book), folder.path / "referring.kp");
  }
  saveSource(folder.path / "a.kp", u"99");  // what a reply must not carry unasked
  for (bool allow : {false, true}) {
    SCOPED_TRACE(allow ? "Yes" : "No");
    std::vector<std::u16string> asked;
    Document document;
    document.ui.allowExternalReads = [&](std::u16string_view files, std::u16string_view first) {
      asked.push_back(std::u16string(files) + u" | " + std::u16string(first));
      return allow;
    };
    ASSERT_TRUE(OpenDocument(document, folder.file("referring.kp")));
    EXPECT_EQ(asked, (std::vector<std::u16string>{u"a.kp | Sheet1!A1 =[a.kp]Data!A1*2"}));
    Workbook& book = document.workbook();
    recalculateAll(book);
    const Sheet& sheet = *book.sheetAt(0);
    EXPECT_EQ(shown(effectiveValue(sheet.cellValue(0, 0))), allow ? "198" : "10");
    EXPECT_EQ(shown(effectiveValue(sheet.cellValue(0, 1))), allow ? "199" : "11");
    EXPECT_EQ(shown(effectiveValue(sheet.cellValue(0, 2))), allow ? "99" : "5");
    EXPECT_EQ(asked.size(), 1u);
  }
  // Without anyone to ask, nothing is read.
  Document unasked;
  ASSERT_TRUE(OpenDocument(unasked, folder.file("referring.kp")));
  EXPECT_EQ(shown(effectiveValue(unasked.workbook().sheetAt(0)->cellValue(0, 0))), "10");
  EXPECT_EQ(pendingError(), 0u);
}

TEST_F(ExternalRefs, FindsFilesInOtherFolders) {
  fs::create_directories(folder.path / "work" / "sub");
  fs::create_directories(folder.path / "store");
  saveSource(folder.path / "work" / "sub" / "s.kp", u"1");
  saveSource(folder.path / "store" / "s.kp", u"2");
  saveSource(folder.path / "work" / "s.kp", u"3");
  auto book = referringBook(folder.path / "work");
  const std::u16string store = utf8ToUtf16((folder.path / "store").string());

  EXPECT_EQ(evaluate(*book, u"=[sub/s.kp]Data!A1"), "1");      // a relative name with folders
  EXPECT_EQ(evaluate(*book, u"='sub/[s.kp]Data'!A1"), "1");    // a relative folder
  EXPECT_EQ(evaluate(*book, u"='../store/[s.kp]Data'!A1"), "2");
  EXPECT_EQ(evaluate(*book, u"='" + store + u"/[s.kp]Data'!A1"), "2");  // an absolute folder
  EXPECT_EQ(evaluate(*book, u"='[" + store + u"/s.kp]Data'!A1"), "2");  // an absolute name
  EXPECT_EQ(evaluate(*book, u"=[s.kp]Data!A1"), "3");          // beside the referring workbook
  EXPECT_EQ(textOfFormula(*book, u"='sub/[s.kp]Data'!A1"), u"='sub/[s.kp]Data'!A1");
  // A folder typed inside the brackets shows before them, as a saved file keeps it.
  EXPECT_EQ(textOfFormula(*book, u"=[sub/s.kp]Data!A1"), u"='sub/[s.kp]Data'!A1");
  EXPECT_EQ(book->findExternalBook(u"sub/", u"s.kp"), book->findExternalBook(u"sub/", u"S.KP"));

  // A stored absolute folder comes first even when a file of that name lies beside the
  // workbook; a folder that is not there, or one of another system, falls back beside it.
  auto entry = [&](std::u16string_view directory) {
    int32_t index = book->findOrAddExternalBook(directory, u"s.kp");
    book->externalBook(index)->sheetNames = {u"Data"};
    CellValue value = GetExternalValue(*book, index, 0, 0, 0);
    std::string text = shown(value);
    releaseValue(value);
    return text;
  };
  EXPECT_EQ(entry(store + u"/"), "2");
  EXPECT_EQ(entry(u"/no/such/folder/"), "3");
  EXPECT_EQ(entry(u"C:\\My Documents\\"), "3");
  EXPECT_EQ(entry(u"..\\store\\"), "2");  // separators of another system

  // An untitled workbook starts from the current folder.
  auto untitled = newWorkbook(1);
  const fs::path here = fs::current_path();
  fs::current_path(folder.path / "work" / "sub");
  EXPECT_EQ(evaluate(*untitled, u"=[s.kp]Data!A1"), "1");
  fs::current_path(here);
  EXPECT_EQ(pendingError(), 0u);
}

TEST_F(ExternalRefs, TheOtherFileIsNeitherWrittenNorHeld) {
  saveSource(folder.path / "a.kp");
  const fs::path path = folder.path / "a.kp";
  const std::vector<uint8_t> before = fileBytes(path);
  const auto time = fs::last_write_time(path);
  auto book = referringBook(folder.path);
  const size_t descriptors = openDescriptors();
  EXPECT_EQ(evaluate(*book, u"=[a.kp]Income!B1"), "100");
  EXPECT_EQ(openDescriptors(), descriptors);
  EXPECT_EQ(fileBytes(path), before);
  EXPECT_EQ(fs::last_write_time(path), time);
  // Nothing holds it: it can be locked, renamed and removed at once.
  {
    File file;
    ASSERT_EQ(file.open(path.string(), FileAccess::ReadWrite), FileError::None);
    EXPECT_EQ(file.lock(), FileError::None);
  }
  fs::rename(path, folder.path / "b.kp");
  EXPECT_TRUE(fs::remove(folder.path / "b.kp"));

  // A workbook open in a window, which holds its file locked, can still be read.
  saveSource(folder.path / "open.kp");
  Document open;
  ASSERT_TRUE(OpenDocument(open, folder.file("open.kp")));
  ASSERT_TRUE(open.holdsFile());
  EXPECT_EQ(evaluate(*book, u"=[open.kp]Data!E1"), "10");
  EXPECT_EQ(pendingError(), 0u);
}

// Reads a native file and recalculates it, as a careless reader of another format could:
// its references then reach further files while the first is being read.
bool recalculatingReader(Workbook& book, DocStream& stream, DocFileType) {
  if (!ReadNative(book, stream)) return false;
  recalculateAll(book);
  return true;
}

TEST_F(ExternalRefs, ReadsThroughOtherReadersAndCapsNestedReads) {
  const DocumentReader previous = installedDocumentReader(DocFileType::PocketExcel);
  installDocumentReader(DocFileType::PocketExcel, recalculatingReader);
  // A chain of files each reading the next; the last holds 7. Files saved as .kp are
  // renamed to .pxl so that the installed reader reads them.
  auto chain = [&](const std::string& stem, int length) {
    for (int i = length; i >= 1; --i) {
      auto book = bookWithSheets({u"S"});
      book->fileName = utf8ToUtf16((folder.path / "x.kp").string());
      const std::u16string next = utf8ToUtf16(stem + std::to_string(i + 1) + ".pxl");
      put(*book, 0, 0, 0, i == length ? u"7" : u"=[" + next + u"]S!A1");
      const fs::path kp = folder.path / (stem + std::to_string(i) + ".kp");
      save(std::move(book), kp);
      fs::rename(kp, folder.path / (stem + std::to_string(i) + ".pxl"));
    }
  };
  chain("c", MaxExternalDepth);
  chain("d", MaxExternalDepth + 1);
  auto book = referringBook(folder.path);
  EXPECT_EQ(evaluate(*book, u"=[c1.pxl]S!A1"), "7");
  EXPECT_EQ(evaluate(*book, u"=[d1.pxl]S!A1"), "!!NA");

  // Two files that read each other: each read stops where it would come back.
  {
    auto first = bookWithSheets({u"S"});
    put(*first, 0, 0, 0, u"1");
    save(std::move(first), folder.path / "l1.kp");
    fs::rename(folder.path / "l1.kp", folder.path / "l1.pxl");
    auto second = bookWithSheets({u"S"});
    second->fileName = utf8ToUtf16((folder.path / "x.kp").string());
    put(*second, 0, 0, 0, u"=[l1.pxl]S!A1+1");
    save(std::move(second), folder.path / "l2.kp");
    fs::rename(folder.path / "l2.kp", folder.path / "l2.pxl");
    auto again = bookWithSheets({u"S"});
    again->fileName = utf8ToUtf16((folder.path / "x.kp").string());
    put(*again, 0, 0, 0, u"=[l2.pxl]S!A1+1");
    save(std::move(again), folder.path / "l1.kp");
    fs::rename(folder.path / "l1.kp", folder.path / "l1.pxl");
  }
  auto loop = referringBook(folder.path);
  EXPECT_EQ(evaluate(*loop, u"=[l1.pxl]S!A1"), "!!NA");
  EXPECT_EQ(evaluate(*loop, u"=[l2.pxl]S!A1"), "!!NA");
  EXPECT_EQ(pendingError(), 0u);
  installDocumentReader(DocFileType::PocketExcel, previous);

  // Without a reader such a file cannot be read at all.
  if (!previous) {
    auto plain = referringBook(folder.path);
    EXPECT_EQ(evaluate(*plain, u"=[c1.pxl]S!A1"), "error 11");
  }
}

TEST_F(ExternalRefs, ReadsPocketExcelFilesMadeByTheIndependentEncoder) {
  const DocumentReader previous = installedDocumentReader(DocFileType::PocketExcel);
  installPocketExcelFormat();
  fs::copy_file(std::string(KELP_TEST_DATA) + "/../pxl/fixtures/all_records.pxl", folder.path / "records.pxl");
  auto book = referringBook(folder.path);
  EXPECT_EQ(evaluate(*book, u"=[records.pxl]Sheet1!A2"), "Rent");
  EXPECT_EQ(evaluate(*book, u"=[records.pxl]Sheet1!B1"), "Amount \u00e9\u20ac");
  EXPECT_EQ(evaluate(*book, u"=[records.pxl]sheet1!B3"), "410.5");
  EXPECT_EQ(evaluate(*book, u"=[records.pxl]Sheet1!A5"), "TRUE");
  EXPECT_EQ(evaluate(*book, u"=[records.pxl]Sheet1!B5"), "!!Div0");
  EXPECT_EQ(evaluate(*book, u"=Sum([records.pxl]Sheet1!B2:B4)"), "1286.25");
  EXPECT_EQ(evaluate(*book, u"=[records.pxl]Sheet1!A6"), "1286.25");  // a formula's stored result
  EXPECT_EQ(evaluate(*book, u"=[records.pxl]Sheet1!Z99"), "!!NA");
  EXPECT_EQ(evaluate(*book, u"='[records.pxl]Hidden Sheet'!A1"), "behind the scenes");
  EXPECT_EQ(evaluate(*book, u"=[records.pxl]Income!A2"), "142.5");  // 950 * 0.15, as stored
  EXPECT_EQ(pendingError(), 0u);
  // A sheet the file lacks cannot be typed.
  EXPECT_EQ(evaluate(*book, u"=[records.pxl]Nowhere!A1"), "error 25");
  clearError();
  installDocumentReader(DocFileType::PocketExcel, previous);
}

TEST_F(ExternalRefs, SavedFilesKeepTheReferences) {
  saveSource(folder.path / "a.kp");
  fs::copy_file(folder.path / "a.kp", folder.path / "my budget.kp");
  const std::u16string formulas[] = {u"=[a.kp]Data!A1*2", u"=Sum('[my budget.kp]Income'!B1:B3)",
                                     u"=[a.kp]Data!B1&\"!\""};
  for (const char* name : {"out.kp", "out.xls", "out95.xls"}) {
    SCOPED_TRACE(name);
    const fs::path path = folder.path / name;
    {
      auto book = referringBook(folder.path);
      for (int i = 0; i < 3; ++i) put(*book, 0, 0, i, formulas[i]);
      recalculateAll(*book);
      Document document;
      document.replaceWorkbook(std::move(book));
      const DocFileType type = std::string(name) == "out95.xls" ? DocFileType::Excel95 : FileTypeFromName(utf8ToUtf16(name));
      ASSERT_TRUE(SaveDocument(document, utf8ToUtf16(path.string()), type)) << pendingError();
    }
    // Opened afresh, the formulas read the files again.
    saveSource(folder.path / "a.kp", u"6");
    Document document;
    document.ui.allowExternalReads = [](std::u16string_view, std::u16string_view) { return true; };
    ASSERT_TRUE(OpenDocument(document, utf8ToUtf16(path.string()))) << pendingError();
    Workbook& book = document.workbook();
    const Sheet& sheet = *book.sheetAt(0);
    const char* fresh[] = {"12", "350", "hello!"};
    for (int i = 0; i < 3; ++i) {
      const CellRecord* cell = sheet.cellPtr(0, i);
      ASSERT_TRUE(cell && cell->value.kind == ValueKind::Formula) << i;
      std::u16string text;
      formulaText(book, static_cast<const uint8_t*>(formulaPool().data(formulaTokens(cell->value))),
                  CellPosition{0, static_cast<uint16_t>(i), 0}, text);
      EXPECT_EQ(text, formulas[i]);
      EXPECT_EQ(shown(effectiveValue(cell->value)), fresh[i]);
    }
    ASSERT_EQ(book.externalBookCount(), 2);
    EXPECT_EQ(book.externalBook(1)->name, u"a.kp");
    EXPECT_EQ(book.findSheet(u"Data", 1), 0);
    saveSource(folder.path / "a.kp");
  }
  EXPECT_EQ(pendingError(), 0u);
}

}  // namespace
}  // namespace kelp
