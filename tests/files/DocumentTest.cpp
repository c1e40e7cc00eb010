// Tests of opening and saving documents: type dispatch, locks, passwords, failed saves.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "NativeTestSupport.h"
#include "files/Document.h"
#include "files/PocketExcel.h"
#include "files/Password.h"
#include "formula/Recalc.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/File.h"
#include "platform/Text.h"
#include "tests/files/TempFolder.h"
#include "tests/UnixSocket.h"

namespace kelp {
namespace {

namespace fs = std::filesystem;
using namespace kelp::test;

TEST(Document, FileTypesComeFromTheExtension) {
  EXPECT_EQ(FileTypeFromName(u"Report.XLS"), DocFileType::Excel97);
  EXPECT_EQ(FileTypeFromName(u"report.xls"), DocFileType::Excel97);
  EXPECT_EQ(FileTypeFromName(u"noextension"), DocFileType::Native);
  EXPECT_EQ(FileTypeFromName(u"a.b.kp"), DocFileType::Native);
  EXPECT_EQ(FileTypeFromName(u"data.csv.txt"), DocFileType::TabText);
  EXPECT_EQ(FileTypeFromName(u"x.Csv"), DocFileType::CommaText);
  EXPECT_EQ(FileTypeFromName(u"x.dbf"), DocFileType::Dbase);
  EXPECT_EQ(FileTypeFromName(u"x.pxl"), DocFileType::PocketExcel);
  EXPECT_EQ(FileTypeFromName(u"x.xml"), DocFileType::XmlList);
  EXPECT_EQ(saveFilterForName(u"a.pxl"), 2);
  EXPECT_EQ(saveFilterForName(u"a.xls"), 3);
  EXPECT_EQ(saveFilterForName(u""), 1);
  EXPECT_EQ(nameWithFilterExtension(u"/d.x/book", 1), u"/d.x/book.kp");
  EXPECT_EQ(nameWithFilterExtension(u"book.", 6), u"book.csv");
  EXPECT_EQ(nameWithFilterExtension(u"book.kp", 3), u"book.kp");
}

TEST(Document, SaveAndOpenKeepTheWorkbookAndItsName) {
  clearError();
  TempFolder folder;
  std::u16string name = folder.file("book.kp");
  Document doc;
  doc.replaceWorkbook(richWorkbook(false));
  // Opening recalculates, so the original is brought up to date before it is compared.
  recalculateAll(doc.workbook());
  doc.workbook().modified = true;
  ASSERT_TRUE(SaveDocument(doc, name, DocFileType::Native)) << pendingError();
  EXPECT_EQ(doc.workbook().fileName, name);
  EXPECT_FALSE(doc.workbook().modified);
  EXPECT_TRUE(doc.holdsFile());
  EXPECT_EQ(folder.entries(), 1u) << "no temporary file is left";

  Document other;
  other.ui.showMessage = [](uint32_t) {};
  // The first document holds the file: a second one in this process reads it as it was
  // saved, but cannot hold it or save over it.
  ASSERT_TRUE(OpenDocument(other, name)) << pendingError();
  expectSameWorkbook(doc.workbook(), other.workbook());
  EXPECT_FALSE(other.holdsFile());
  EXPECT_FALSE(SaveDocument(other, name, DocFileType::Native));
  EXPECT_EQ(pendingError(), 47u);
  clearError();
  ReleaseDocumentFile(doc);
  ASSERT_TRUE(OpenDocument(other, name)) << pendingError();
  EXPECT_EQ(other.workbook().fileName, name);
  EXPECT_EQ(other.workbook().fileType, 0u);
  expectSameWorkbook(doc.workbook(), other.workbook());
  EXPECT_TRUE(other.holdsFile());
  EXPECT_FALSE(HoldDocumentFile(doc, name)) << "now the other document holds it";

  // Saving into a folder that does not exist yet creates it.
  std::u16string nested = folder.file("new/inner.kp");
  ASSERT_TRUE(SaveDocument(other, nested, DocFileType::Native)) << pendingError();
  EXPECT_TRUE(fs::exists(utf16ToUtf8(nested)));
  EXPECT_EQ(other.workbook().fileName, nested);

  // A copy under another name leaves the workbook's name, type and lock where they were.
  std::u16string copy = folder.file("copy.kp");
  ASSERT_TRUE(SaveCopy(other, copy));
  EXPECT_EQ(other.workbook().fileName, nested);
  Document probe;
  EXPECT_TRUE(HoldDocumentFile(probe, copy));
  EXPECT_FALSE(HoldDocumentFile(probe, nested));
  ReleaseDocumentFile(probe);

  // Save through the command: the current name and type.
  other.workbook().sheetAt(0)->setCell(0, 0, CellRecord{numberValue(99), -1});
  ASSERT_TRUE(SaveCommand(other, false));
  ReleaseDocumentFile(other);
  Document third;
  ASSERT_TRUE(OpenDocument(third, nested));
  EXPECT_EQ(third.workbook().sheetAt(0)->cellValue(0, 0).number(), 99);
}

TEST(Document, TheLockKeepsOutWritersOfAnotherProcessButNotReaders) {
  clearError();
  installPocketExcelFormat();
  TempFolder folder;
  for (const char* file : {"shared.kp", "shared.pxl", "shared.xls"}) {
    SCOPED_TRACE(file);
    const std::u16string name = folder.file(file);
    Document doc;
    doc.workbook().sheetAt(0)->setCell(0, 0, CellRecord{numberValue(42), -1});
    ASSERT_TRUE(SaveDocument(doc, name, FileTypeFromName(name))) << pendingError();
    ASSERT_TRUE(doc.holdsFile());
    // The child reads the file and saves it back: 100 + the code when the open fails,
    // else the code of the save.
    auto childReadsAndSaves = [&]() {
      pid_t child = ::fork();
      if (child == 0) {
        Document mine;
        if (!OpenDocument(mine, name) || mine.workbook().sheetAt(0)->cellValue(0, 0).number() != 42)
          ::_exit(100 + static_cast<int>(pendingError()));
        const bool saved = SaveDocument(mine, name, FileTypeFromName(name));
        ::_exit(saved ? 0 : static_cast<int>(pendingError()));
      }
      int status = 0;
      ::waitpid(child, &status, 0);
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(childReadsAndSaves(), 47) << "read as saved, and only the save refused";
    ReleaseDocumentFile(doc);
    EXPECT_EQ(childReadsAndSaves(), 0);
  }
}

TEST(Document, OneSheetExportsNameTheSheetsLeftOut) {
  clearError();
  TempFolder folder;
  Document doc;
  std::vector<std::u16string> shown;
  doc.ui.showNotice = [&](std::u16string_view text) { shown.emplace_back(text); };
  Workbook& book = doc.workbook();
  // Sheet2 stays empty: leaving it out loses nothing, so it goes unnamed.
  CellValue heading = emptyValue();
  makeText(heading, u"Total");
  book.sheetAt(0)->setCell(0, 0, CellRecord{heading, -1});
  book.sheetAt(2)->setCell(0, 0, CellRecord{numberValue(3), -1});
  for (const char* file : {"out.csv", "out.txt", "out.dbf"}) {
    shown.clear();
    ASSERT_TRUE(SaveDocument(doc, folder.file(file), FileTypeFromName(folder.file(file)))) << pendingError();
    EXPECT_EQ(shown, std::vector<std::u16string>{u"A file of this type holds one sheet. Saved: Sheet1. Left out: Sheet3"})
        << file;
    EXPECT_EQ(doc.notices.size(), 1u);
  }
  book.setActiveSheet(2);
  shown.clear();
  ASSERT_TRUE(SaveDocument(doc, folder.file("out.csv"), DocFileType::CommaText));
  EXPECT_EQ(shown, std::vector<std::u16string>{u"A file of this type holds one sheet. Saved: Sheet3. Left out: Sheet1"});
  // The XML list is always of the first sheet; a workbook format keeps every sheet.
  shown.clear();
  ASSERT_TRUE(SaveCopy(doc, folder.file("out.xml")));
  EXPECT_EQ(shown, std::vector<std::u16string>{u"A file of this type holds one sheet. Saved: Sheet1. Left out: Sheet3"});
  shown.clear();
  ASSERT_TRUE(SaveDocument(doc, folder.file("out.kp"), DocFileType::Native));
  EXPECT_TRUE(shown.empty());
  EXPECT_TRUE(doc.notices.empty());
}

TEST(Document, FailedSavesLeaveThePreviousFileIntact) {
  clearError();
  TempFolder folder;
  std::u16string name = folder.file("keep.kp");
  Document doc;
  doc.replaceWorkbook(richWorkbook(false));
  ASSERT_TRUE(SaveDocument(doc, name, DocFileType::Native));
  std::vector<uint8_t> before = fileBytes(name);
  ASSERT_GT(before.size(), 100u);
  // Enough cells that the write fails in the middle, not only at the final flush.
  Sheet& sheet = *doc.workbook().sheetAt(2);
  for (int r = 0; r < 3000; ++r)
    for (int c = 0; c < 4; ++c) sheet.setCell(c, r, CellRecord{numberValue(r * 4 + c), -1});
  doc.workbook().modified = true;
  // Writes failing at several offsets, the file's sync and the rename into place, each
  // with the code the user is shown.
  struct Case {
    FileCall call;
    uint64_t skip;
    FileError error;
    uint32_t code;
  };
  for (Case fault : {Case{FileCall::Write, 70000, FileError::NoRoom, 48}, Case{FileCall::Write, 70000, FileError::Failed, 14},
                     Case{FileCall::Write, 10, FileError::Failed, 14}, Case{FileCall::Write, 0, FileError::NoRoom, 48},
                     Case{FileCall::Sync, 0, FileError::NoRoom, 48}, Case{FileCall::Sync, 0, FileError::Failed, 14},
                     Case{FileCall::Rename, 0, FileError::Failed, 14}}) {
    SCOPED_TRACE(testing::Message() << "call " << static_cast<int>(fault.call) << " after " << fault.skip);
    planFileFault(fault.call, fault.skip, fault.error);
    EXPECT_FALSE(SaveDocument(doc, name, DocFileType::Native));
    clearFileFaults();
    EXPECT_EQ(pendingError(), fault.code);
    clearError();
    EXPECT_EQ(fileBytes(name), before) << "the old contents survive";
    EXPECT_EQ(folder.entries(), 1u) << "the temporary file is removed";
    EXPECT_TRUE(doc.workbook().modified);
    EXPECT_EQ(doc.workbook().fileName, name);
    EXPECT_TRUE(doc.holdsFile()) << "the own file is held again";
  }
  // A small workbook goes out in one flush at the end: a full disk there is 48 as well.
  {
    std::u16string small = folder.file("small.kp");
    Document tiny;
    ASSERT_TRUE(SaveDocument(tiny, small, DocFileType::Native));
    std::vector<uint8_t> tinyBefore = fileBytes(small);
    tiny.workbook().sheetAt(0)->setCell(0, 0, CellRecord{numberValue(1), -1});
    for (uint64_t skip : {0, 10}) {
      planFileFault(FileCall::Write, skip, FileError::NoRoom);
      EXPECT_FALSE(SaveDocument(tiny, small, DocFileType::Native));
      clearFileFaults();
      EXPECT_EQ(pendingError(), 48u) << "after " << skip << " bytes";
      clearError();
      EXPECT_EQ(fileBytes(small), tinyBefore);
      EXPECT_EQ(folder.entries(), 2u);
    }
  }
  fs::remove(fs::path(utf16ToUtf8(folder.file("small.kp"))));

  // A lock refused on the old file, by another holder or by the seam: 47, nothing written.
  ReleaseDocumentFile(doc);
  Document holder;
  ASSERT_TRUE(HoldDocumentFile(holder, name));
  EXPECT_FALSE(SaveDocument(doc, name, DocFileType::Native));
  EXPECT_EQ(pendingError(), 47u);
  clearError();
  EXPECT_FALSE(doc.holdsFile());
  ReleaseDocumentFile(holder);
  planFileFault(FileCall::Lock, 0, FileError::Locked);
  EXPECT_FALSE(SaveDocument(doc, name, DocFileType::Native));
  clearFileFaults();
  EXPECT_EQ(pendingError(), 47u);
  clearError();
  EXPECT_EQ(fileBytes(name), before);
  EXPECT_EQ(folder.entries(), 1u);
  EXPECT_TRUE(doc.workbook().modified);

  // Once the rename is done the save stands, even when the folder cannot be synced.
  planFileFault(FileCall::Sync, 1, FileError::Failed);
  ASSERT_TRUE(SaveDocument(doc, name, DocFileType::Native)) << pendingError();
  clearFileFaults();
  EXPECT_NE(fileBytes(name), before);
  EXPECT_EQ(folder.entries(), 1u);
  EXPECT_FALSE(doc.workbook().modified);
  EXPECT_TRUE(doc.holdsFile());

  // Reading takes no lock: one refused when opening only leaves the file unheld.
  ReleaseDocumentFile(doc);
  Document reader;
  planFileFault(FileCall::Lock, 0, FileError::Locked);
  EXPECT_TRUE(OpenDocument(reader, name));
  clearFileFaults();
  EXPECT_EQ(pendingError(), 0u);
  EXPECT_FALSE(reader.holdsFile());
  ASSERT_TRUE(OpenDocument(reader, name));
  EXPECT_TRUE(reader.holdsFile());
}

// What a record cannot hold never goes out damaged. The Kelp format keeps everything or
// fails the save with error 14, leaving the old file; Excel and Pocket Excel do the same
// for a text past their counts, and keep what they cannot express (a formula, a name's
// definition, a rule) as near as they can, naming it in notice 58.
TEST(Document, WhatARecordCannotHoldFailsTheSaveOrIsNamed) {
  clearError();
  installPocketExcelFormat();
  TempFolder folder;
  // 20,000 ones added: 200,000 bytes of Kelp tokens and some 80,000 of Excel's.
  auto hugeFormula = [] {
    TokenBuilder tokens;
    tokens.number(1);
    for (int i = 1; i < 20000; ++i) tokens.number(1).op(Op::Add);
    return tokens.handle();
  };
  enum class Item { Formula, Text, Name, Rule };
  const struct {
    DocFileType type;
    const char* file;
    Item item;
    bool kept;  // saved with notice 58 rather than failing with 14
  } cases[] = {
      {DocFileType::Native, "f.kp", Item::Formula, false},      {DocFileType::Native, "t.kp", Item::Text, false},
      {DocFileType::Native, "n.kp", Item::Name, false},         {DocFileType::Native, "r.kp", Item::Rule, false},
      {DocFileType::Excel97, "f.xls", Item::Formula, true},     {DocFileType::Excel97, "t.xls", Item::Text, false},
      {DocFileType::Excel97, "n.xls", Item::Name, true},        {DocFileType::Excel97, "r.xls", Item::Rule, true},
      {DocFileType::PocketExcel, "f.pxl", Item::Formula, true}, {DocFileType::PocketExcel, "t.pxl", Item::Text, false},
      {DocFileType::PocketExcel, "n.pxl", Item::Name, true},    {DocFileType::PocketExcel, "r.pxl", Item::Rule, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.file);
    Document doc;
    std::vector<uint32_t> shown;
    doc.ui.showMessage = [&](uint32_t code) { shown.push_back(code); };
    Workbook& book = doc.workbook();
    Sheet& sheet = *book.sheetAt(0);
    ASSERT_TRUE(sheet.setCell(0, 0, CellRecord{numberValue(1), -1}));
    const std::u16string name = folder.file(c.file);
    ASSERT_TRUE(SaveDocument(doc, name, c.type)) << pendingError();
    const std::vector<uint8_t> before = fileBytes(name);
    const size_t entries = folder.entries();
    shown.clear();
    switch (c.item) {
      case Item::Formula:
        ASSERT_TRUE(sheet.setCell(1, 0, CellRecord{newFormulaValue(hugeFormula(), CellPosition{1, 0, 0}), -1}));
        break;
      case Item::Text: {
        CellValue text;
        makeText(text, std::u16string(70000, u'k'));
        ASSERT_TRUE(sheet.setCell(1, 0, CellRecord{text, -1}));
        break;
      }
      case Item::Name:
        book.setName(u"Huge", hugeFormula());
        break;
      case Item::Rule: {
        ValidationEntry entry;
        entry.rule.flags = 7;  // custom
        entry.rule.formula1 = hugeFormula();
        entry.areas = {Area{0, 0, 0, 0}};
        sheet.validations.push_back(std::move(entry));
        break;
      }
    }
    book.modified = true;
    EXPECT_EQ(SaveDocument(doc, name, c.type), c.kept);
    if (c.kept) {
      EXPECT_EQ(pendingError(), 0u);
      EXPECT_EQ(shown, std::vector<uint32_t>{static_cast<uint32_t>(Err::FormatCut)});
    } else {
      EXPECT_EQ(pendingError(), static_cast<uint32_t>(Err::FileWrite));
      clearError();
      EXPECT_TRUE(shown.empty());
      EXPECT_EQ(fileBytes(name), before) << "the old file stays";
      EXPECT_EQ(folder.entries(), entries) << "the temporary file is removed";
      EXPECT_TRUE(book.modified);
    }
    clearError();
    ReleaseDocumentFile(doc);
    Document back;
    EXPECT_TRUE(OpenDocument(back, name)) << "what was written opens: " << pendingError();
    clearError();
  }
}

TEST(Document, FilesNobodyMayWriteAndFoldersAreNotReplaced) {
  clearError();
  TempFolder folder;
  std::u16string name = folder.file("readonly.kp");
  Document doc;
  ASSERT_TRUE(SaveDocument(doc, name, DocFileType::Native));
  ReleaseDocumentFile(doc);
  std::vector<uint8_t> before = fileBytes(name);
  // The folder stays writable, so only the file's own mode can stop the rename; its
  // bits decide even for root.
  fs::permissions(utf16ToUtf8(name), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  doc.workbook().sheetAt(0)->setCell(0, 0, CellRecord{numberValue(7), -1});
  doc.workbook().modified = true;
  EXPECT_FALSE(SaveDocument(doc, name, DocFileType::Native));
  EXPECT_EQ(pendingError(), 10u);
  clearError();
  EXPECT_FALSE(SaveCopy(doc, name));
  EXPECT_EQ(pendingError(), 10u);
  clearError();
  EXPECT_EQ(fileBytes(name), before);
  EXPECT_EQ(folder.entries(), 1u) << "no temporary file is left";
  EXPECT_TRUE(doc.workbook().modified);
  // Once the file may be written again, the same save goes through.
  fs::permissions(utf16ToUtf8(name), fs::perms::owner_write, fs::perm_options::add);
  ASSERT_TRUE(SaveDocument(doc, name, DocFileType::Native)) << pendingError();
  EXPECT_NE(fileBytes(name), before);
  ReleaseDocumentFile(doc);

  // A folder is neither opened nor replaced as a file.
  std::u16string inner = folder.file("inner.kp");
  fs::create_directory(utf16ToUtf8(inner));
  Document reader;
  EXPECT_FALSE(OpenDocument(reader, inner));
  EXPECT_EQ(pendingError(), 11u);
  clearError();
  EXPECT_FALSE(SaveDocument(doc, inner, DocFileType::Native));
  EXPECT_EQ(pendingError(), 10u);
  clearError();
  EXPECT_TRUE(fs::is_directory(utf16ToUtf8(inner)));
  EXPECT_EQ(folder.entries(), 2u);

  // A file that may be written, in a folder that may not: the new file cannot go beside
  // it, and the save says so. The folder's bits decide, for root too.
  const std::string locked = (folder.path / "locked").string();
  fs::create_directory(locked);
  const std::u16string inLocked = utf8ToUtf16(locked + "/book.kp");
  ASSERT_TRUE(SaveDocument(doc, inLocked, DocFileType::Native));
  ReleaseDocumentFile(doc);
  before = fileBytes(inLocked);
  fs::permissions(locked, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  doc.workbook().sheetAt(0)->setCell(0, 0, CellRecord{numberValue(8), -1});
  EXPECT_FALSE(SaveDocument(doc, inLocked, DocFileType::Native));
  EXPECT_EQ(pendingError(), 10u);
  clearError();
  EXPECT_NE(doc.failureReason.find(u"folder " + utf8ToUtf16(locked) + u" is not writable"), std::u16string::npos)
      << utf16ToUtf8(doc.failureReason);
  fs::permissions(locked, fs::perms::owner_all);
  EXPECT_EQ(fileBytes(inLocked), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(locked), fs::directory_iterator()), 1);
  ASSERT_TRUE(SaveDocument(doc, inLocked, DocFileType::Native)) << pendingError();
  EXPECT_TRUE(doc.failureReason.empty());
  ReleaseDocumentFile(doc);
}

TEST(Document, PipesAndSocketsAreNeitherReadNorReplaced) {
  clearError();
  TempFolder folder;
  Document doc;
  const std::string socketPath = (folder.path / "socket.kp").string();
  const int listener = bindUnixSocket(socketPath);
  ASSERT_GE(listener, 0);
  // Opening a pipe that has no writer would wait for ever; the alarm ends the test.
  ::alarm(20);
  for (const char* name : {"pipe.kp", "pipe.csv", "pipe.xls", "socket.kp"}) {
    const std::u16string path = folder.file(name);
    if (!fs::exists(utf16ToUtf8(path))) {
      ASSERT_EQ(::mkfifo(utf16ToUtf8(path).c_str(), 0644), 0);
    }
    const fs::file_type kind = fs::status(utf16ToUtf8(path)).type();
    Document reader;
    EXPECT_FALSE(OpenDocument(reader, path)) << name;
    EXPECT_EQ(pendingError(), 11u) << name;
    clearError();
    EXPECT_FALSE(SaveDocument(doc, path, FileTypeFromName(path))) << name;
    EXPECT_EQ(pendingError(), 10u) << name;
    clearError();
    EXPECT_EQ(fs::status(utf16ToUtf8(path)).type(), kind) << name << " is still what it was";
  }
  ::alarm(0);
  ::close(listener);
  EXPECT_EQ(folder.entries(), 4u) << "no temporary file is left";
}

TEST(Document, SavesReplaceWhatALinkNamesAndKeepItsPermissions) {
  clearError();
  TempFolder folder;
  std::u16string name = folder.file("real.kp");
  std::u16string link = folder.file("link.kp");
  Document doc;
  ASSERT_TRUE(SaveDocument(doc, name, DocFileType::Native));
  ReleaseDocumentFile(doc);
  fs::permissions(utf16ToUtf8(name), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink(utf16ToUtf8(name), utf16ToUtf8(link));
  doc.workbook().sheetAt(0)->setCell(0, 0, CellRecord{numberValue(7), -1});
  ASSERT_TRUE(SaveDocument(doc, link, DocFileType::Native)) << pendingError();
  EXPECT_TRUE(fs::is_symlink(utf16ToUtf8(link))) << "the link survives the save";
  EXPECT_EQ(fs::status(utf16ToUtf8(name)).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ReleaseDocumentFile(doc);
  Document reader;
  ASSERT_TRUE(OpenDocument(reader, name));
  EXPECT_EQ(reader.workbook().sheetAt(0)->cellValue(0, 0).number(), 7);
  EXPECT_EQ(folder.entries(), 2u);

  // A dangling link is written through as well: the file it names is made, with the
  // permissions any new file gets, and the link stays.
  const std::u16string dangling = folder.file("dangling.kp");
  fs::create_symlink("made.kp", utf16ToUtf8(dangling));
  ASSERT_TRUE(SaveDocument(doc, dangling, DocFileType::Native)) << pendingError();
  ReleaseDocumentFile(doc);
  EXPECT_TRUE(fs::is_symlink(utf16ToUtf8(dangling)));
  const mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat info;
  ASSERT_EQ(::stat(utf16ToUtf8(folder.file("made.kp")).c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(info.st_mode & 07777, 0666u & ~mask);
  EXPECT_EQ(folder.entries(), 4u);
}

TEST(Document, PasswordsAndFormatsWithoutReaders) {
  clearError();
  TempFolder folder;
  std::u16string name = folder.file("secret.kp");
  Document doc;
  doc.replaceWorkbook(richWorkbook(true));
  int asked = 0;
  doc.ui.ask = [&](int id, std::u16string_view) {
    EXPECT_EQ(id, 2628);
    ++asked;
    return Answer::No;
  };
  // A protected workbook asks before leaving the native format; No writes nothing.
  EXPECT_FALSE(SaveDocument(doc, folder.file("secret.xls"), DocFileType::Excel97));
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(pendingError(), 0u);
  EXPECT_EQ(folder.entries(), 0u);
  ASSERT_TRUE(SaveDocument(doc, name, DocFileType::Native));
  ReleaseDocumentFile(doc);

  Document reader;
  std::vector<uint32_t> errors;
  reader.ui.askPassword = [&](std::u16string& entered, uint32_t error) {
    errors.push_back(error);
    entered = errors.size() == 1 ? u"nope" : u"Geheim";
    return errors.size() <= 2;
  };
  ASSERT_TRUE(OpenDocument(reader, name));
  EXPECT_EQ(errors, (std::vector<uint32_t>{0, 45}));
  ReleaseDocumentFile(reader);
  reader.ui.askPassword = [](std::u16string&, uint32_t) { return false; };
  EXPECT_FALSE(OpenDocument(reader, name));
  EXPECT_EQ(pendingError(), 0u) << "a cancelled prompt ends the open without a message";
  EXPECT_EQ(reader.workbook().fileName, name) << "and keeps the workbook in hand";
  reader.replaceWorkbook(newWorkbook(3));

  // A format whose reader and writer are not installed says which one is missing.
  installDocumentReader(DocFileType::PocketExcel, nullptr);
  installDocumentWriter(DocFileType::PocketExcel, nullptr);
  std::ofstream(utf16ToUtf8(folder.file("data.pxl"))) << "1,2\n";
  EXPECT_FALSE(OpenDocument(reader, folder.file("data.pxl")));
  EXPECT_EQ(pendingError(), 11u);
  EXPECT_EQ(reader.unavailableFormat, u"Pocket Excel");
  clearError();
  reader.workbook().sheetAt(0)->setCell(0, 0, CellRecord{numberValue(5), -1});
  EXPECT_FALSE(OpenDocument(reader, folder.file("list.xml")));
  EXPECT_EQ(pendingError(), 11u);
  EXPECT_EQ(reader.workbook().sheetAt(0)->cellValue(0, 0).number(), 5) << "the workbook in hand is kept";
  clearError();
  EXPECT_FALSE(SaveDocument(reader, folder.file("out.pxl"), DocFileType::PocketExcel));
  EXPECT_EQ(pendingError(), 10u);
  EXPECT_EQ(reader.unavailableFormat, u"Pocket Excel");
  EXPECT_FALSE(fs::exists(utf16ToUtf8(folder.file("out.pxl"))));
  clearError();
  installPocketExcelFormat();
  // A file that is not a workbook: 12, and the workbook in hand is kept.
  std::ofstream(utf16ToUtf8(folder.file("junk.kp"))) << "not a workbook";
  EXPECT_FALSE(OpenDocument(reader, folder.file("junk.kp")));
  EXPECT_EQ(pendingError(), 12u);
  EXPECT_EQ(reader.workbook().sheetAt(0)->cellValue(0, 0).number(), 5);
  clearError();
  EXPECT_FALSE(OpenDocument(reader, folder.file("missing.kp")));
  EXPECT_EQ(pendingError(), 11u);
  clearError();
}

TEST(Document, SaveAsCompletesTheNameAndAsksBeforeReplacing) {
  clearError();
  TempFolder folder;
  Document doc;
  std::vector<std::u16string> offered = {folder.file("first"), folder.file("first"), folder.file("second")};
  size_t dialog = 0;
  std::vector<int> questions;
  doc.ui.chooseSaveName = [&](int filter, std::u16string& name, int& chosen) {
    EXPECT_EQ(filter, 1);
    if (dialog == offered.size()) return false;
    name = offered[dialog++];
    chosen = 1;
    return true;
  };
  doc.ui.ask = [&](int id, std::u16string_view) {
    questions.push_back(id);
    return Answer::No;
  };
  ASSERT_TRUE(SaveAs(doc));
  EXPECT_EQ(doc.workbook().fileName, folder.file("first.kp"));
  EXPECT_EQ(doc.saveFolder, utf8ToUtf16(folder.path.string()));
  // The next Save As meets the existing file, is told No, and takes the next name.
  ASSERT_TRUE(SaveCommand(doc, true));
  EXPECT_EQ(questions, std::vector<int>{2574});
  EXPECT_EQ(doc.workbook().fileName, folder.file("second.kp"));
  // An untitled workbook's Save is a Save As; a cancelled dialog writes nothing.
  Document untitled;
  untitled.ui.chooseSaveName = [](int, std::u16string&, int&) { return false; };
  EXPECT_FALSE(SaveCommand(untitled, false));
  EXPECT_EQ(pendingError(), 0u);
}

TEST(Document, AutomaticSaveDecisions) {
  AutoSaveDecision d = autoSaveOnModifiedChange(true, true, 5);
  EXPECT_EQ(d.startTimerMs, 300000u);
  EXPECT_FALSE(d.save);
  EXPECT_EQ(autoSaveOnModifiedChange(false, true, 5).startTimerMs, 0u);
  EXPECT_TRUE(autoSaveOnModifiedChange(true, false, 5).stopTimer);
  d = autoSaveOnTimer(true, true, true, 5);
  EXPECT_TRUE(d.stopTimer && d.save);
  EXPECT_EQ(d.startTimerMs, 300000u);
  d = autoSaveOnTimer(true, true, false, 5);
  EXPECT_FALSE(d.save);
  EXPECT_EQ(d.startTimerMs, AutoSaveRetryMs);
  d = autoSaveOnTimer(true, false, true, 5);
  EXPECT_FALSE(d.save || d.stopTimer) << "an untitled workbook is never saved automatically";
  EXPECT_FALSE(autoSaveOnTimer(false, true, true, 5).save);
}

}  // namespace
}  // namespace kelp
