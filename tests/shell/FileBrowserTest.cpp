// The file browser and the File menu: listing rules, and sessions that open and save by keys.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include "ShellTestSupport.h"
#include "files/TextFiles.h"
#include "platform/Folders.h"
#include "dialogs/FileBrowser.h"
#include "shell/FileMenu.h"

namespace kelp::test {
namespace {

// Menu > File > Open... and Menu > File > Save As..., by the digits of their places.
constexpr const char* OpenKeys = "soft2\ntext 1\ntext 2\n";
constexpr const char* SaveAsKeys = "soft2\ntext 1\ntext 4\n";

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::u16string> names(const std::vector<BrowserEntry>& entries) {
  std::vector<std::u16string> out;
  for (const BrowserEntry& e : entries) out.push_back(e.name);
  return out;
}

// The documents tree of a session: XDG_DOCUMENTS_DIR points at docs/ while it lives.
struct Documents {
  TempFolder root;
  std::string docs;
  std::string oldDocs;
  bool hadDocs = false;

  Documents() {
    installTextFormats();
    docs = root.file("docs");
    std::filesystem::create_directories(docs + "/Work/2026");
    std::filesystem::create_directories(docs + "/alpha");
    std::filesystem::create_directories(docs + "/Zeta");
    std::unique_ptr<Workbook> book = newWorkbook(1);
    putText(*book->sheetAt(0), 0, 0, u"deep");
    saveWorkbook(std::move(book), docs + "/Work/2026/budget.kp");
    book = newWorkbook(1);
    putNumber(*book->sheetAt(0), 0, 0, 7);
    saveWorkbook(std::move(book), docs + "/a.kp");
    std::ofstream(docs + "/B.xls") << "not really";
    std::ofstream(docs + "/c.csv") << "1,2\n";
    std::ofstream(docs + "/e.txt") << "x\ty\n";
    std::ofstream(docs + "/old.pxl") << "pocket";
    std::ofstream(docs + "/Work/notes.txt") << "n\n";
    if (const char* old = std::getenv("XDG_DOCUMENTS_DIR")) {
      hadDocs = true;
      oldDocs = old;
    }
    ::setenv("XDG_DOCUMENTS_DIR", docs.c_str(), 1);
  }
  ~Documents() {
    if (hadDocs) ::setenv("XDG_DOCUMENTS_DIR", oldDocs.c_str(), 1);
    else ::unsetenv("XDG_DOCUMENTS_DIR");
  }
  std::string at(const std::string& name) const { return docs + "/" + name; }
};

// What the screen showed each time the loop waited for a key, and which Open filter was
// checked on the dialog's Menu then.
struct Screens {
  std::vector<std::vector<std::u16string>> shots;
  std::vector<int> checkedFilter;
  void attach(Desktop& desktop) {
    desktop.addIdleHook([this, &desktop] {
      std::vector<std::u16string> shot;
      for (const DrawnText& t : desktop.textLog().texts()) shot.push_back(t.text);
      shots.push_back(std::move(shot));
      int checked = -1;
      Window* w = desktop.focus();
      while (w && !w->menuBar()) w = w->parent();
      if (w && w->menuBar()->key(1).popup) {
        for (int i = 0; i < OpenFilterCount; ++i)
          if (MenuItem* item = w->menuBar()->key(1).popup->find(OpenFilterCommands[i]); item && item->checked()) checked = i;
      }
      checkedFilter.push_back(checked);
    });
  }
  static bool has(const std::vector<std::u16string>& shot, std::u16string_view text) {
    return std::any_of(shot.begin(), shot.end(), [&](const std::u16string& t) { return t.find(text) != t.npos; });
  }
  /// The first screen showing `text`, or -1.
  int firstWith(std::u16string_view text) const {
    for (size_t i = 0; i < shots.size(); ++i)
      if (has(shots[i], text)) return static_cast<int>(i);
    return -1;
  }
  bool ever(std::u16string_view text) const { return firstWith(text) >= 0; }
};

double numberAt(const Sheet& sheet, int32_t col, int32_t row) {
  const CellValue& v = sheet.cellValue(col, row);
  return v.kind == ValueKind::Number ? v.number() : -1;
}

std::u16string textAt(const Sheet& sheet, int32_t col, int32_t row) {
  const CellValue& v = sheet.cellValue(col, row);
  return v.kind == ValueKind::Text ? std::u16string(textOf(v)) : u"";
}

TEST(FileBrowser, ListingSortsFoldersFirstIgnoresCaseAndTheRootHasNoUp) {
  TempFolder folder;
  for (const char* f : {"zeta", "Mid"}) std::filesystem::create_directory(folder.file(f));
  for (const char* f : {"beta.kp", "Alpha.KP", "c.csv", "d.xls", "e.txt", "noext", "f.pxl", "g.dbf", "kp"})
    std::ofstream(folder.file(f)) << "x";
  const std::u16string path = utf8ToUtf16(folder.path);
  using V = std::vector<std::u16string>;
  EXPECT_EQ(names(browseFolder(path, 0)), (V{u"..[Up]", u"Mid", u"zeta", u"Alpha.KP", u"beta.kp", u"d.xls", u"f.pxl"}));
  EXPECT_EQ(names(browseFolder(path, 1)), (V{u"..[Up]", u"Mid", u"zeta", u"Alpha.KP", u"beta.kp"}));
  EXPECT_EQ(names(browseFolder(path, 2)), (V{u"..[Up]", u"Mid", u"zeta", u"f.pxl"}));
  EXPECT_EQ(names(browseFolder(path, 3)), (V{u"..[Up]", u"Mid", u"zeta", u"d.xls"}));
  EXPECT_EQ(names(browseFolder(path, 4)), (V{u"..[Up]", u"Mid", u"zeta", u"c.csv", u"e.txt"}));
  EXPECT_EQ(names(browseFolder(path, 5)), (V{u"..[Up]", u"Mid", u"zeta", u"g.dbf"}));
  const std::vector<BrowserEntry> entries = browseFolder(path, 1);
  EXPECT_TRUE(entries[0].up);
  EXPECT_TRUE(entries[1].folder && entries[2].folder);
  EXPECT_FALSE(entries[3].folder);

  // The root lists no way up; every other folder starts with it, even one that cannot be read.
  const std::vector<BrowserEntry> root = browseFolder(u"/", 0);
  ASSERT_FALSE(root.empty());
  EXPECT_TRUE(std::none_of(root.begin(), root.end(), [](const BrowserEntry& e) { return e.up; }));
  EXPECT_EQ(names(browseFolder(path + u"/missing", 0)), V{u"..[Up]"});

  EXPECT_EQ(parentFolder(u"/home/me/Documents/Work"), u"/home/me/Documents");
  EXPECT_EQ(parentFolder(u"/home/me/Documents/Work/"), u"/home/me/Documents");
  EXPECT_EQ(parentFolder(u"/home"), u"/");
  EXPECT_EQ(parentFolder(u"/"), u"/");
  EXPECT_EQ(pathInFolder(u"/", u"etc"), u"/etc");
  EXPECT_EQ(pathInFolder(u"/home/me", u"a.kp"), u"/home/me/a.kp");
  EXPECT_EQ(shownPath(u"/home/me/Documents", u"/home/me"), u"~/Documents");
  EXPECT_EQ(shownPath(u"/home/me", u"/home/me"), u"~");
  EXPECT_EQ(shownPath(u"/home/meg/x", u"/home/me"), u"/home/meg/x");

  EXPECT_TRUE(matchesPattern(u"Budget.KP", u"*.kp"));
  EXPECT_FALSE(matchesPattern(u"Budget.kp.bak", u"*.kp"));
  EXPECT_FALSE(matchesPattern(u"kp", u"*.kp"));
  EXPECT_TRUE(matchesPattern(u"a.b.c", u"*.?"));
  EXPECT_TRUE(matchesPattern(u"abcabd", u"*ab?"));
  EXPECT_FALSE(matchesPattern(u"", u"?"));
}

TEST(FileBrowser, SaveFoldersAreTheDocumentsAndMediaWithTheirSubfolders) {
  TempFolder folder;
  for (const char* f : {"docs/work", "docs/Art", "docs/.hidden", "card/Photos"})
    std::filesystem::create_directories(folder.file(f));
  std::ofstream(folder.file("docs/file.kp")) << "x";
  const std::u16string docs = utf8ToUtf16(folder.file("docs")), card = utf8ToUtf16(folder.file("card"));
  EXPECT_EQ(saveFolders(docs, {card}),
            (std::vector<std::u16string>{docs, docs + u"/Art", docs + u"/work", card, card + u"/Photos"}));

  EXPECT_TRUE(isValidFileName(u"Budget 2026.kp"));
  EXPECT_TRUE(isValidFileName(u"...kp"));
  for (const std::u16string& bad : std::vector<std::u16string>{u"", u".", u"..", u"a/b", u"/", std::u16string(u"a\0b", 3)})
    EXPECT_FALSE(isValidFileName(bad)) << utf16ToUtf8(bad);
  EXPECT_TRUE(isValidFileName(std::u16string(255, u'x')));
  EXPECT_FALSE(isValidFileName(std::u16string(256, u'x')));
  EXPECT_FALSE(isValidFileName(std::u16string(128, u'\u00e9'))) << "256 bytes of UTF-8";
}

TEST(FileBrowser, OpensAFileTwoFoldersDownByKeysAloneAndRemembersTheFolder) {
  Documents d;
  Session s;
  Screens screens;
  screens.attach(s.desktop);
  // The list: ..[Up], alpha, Work, Zeta, then the files; Work holds ..[Up] and 2026.
  s.run(u"", std::string(OpenKeys) + "key Down Down\nkey Enter\nkey Down\nkey Enter\nkey Down\nkey Enter\n");
  const std::string budget = d.at("Work/2026/budget.kp");
  EXPECT_EQ(s.book().fileName, utf8ToUtf16(budget));
  EXPECT_EQ(textAt(s.sheet(), 0, 0), u"deep");
  EXPECT_EQ(s.app->settings().recentFiles[0], utf8ToUtf16(budget));
  EXPECT_EQ(s.app->settings().documentsFolder, utf8ToUtf16(d.at("Work/2026")));
  std::u16string stored;
  EXPECT_TRUE(s.registry.readString(KelpRegistryKey, u"DocDir", stored));
  EXPECT_EQ(stored, utf8ToUtf16(d.at("Work/2026"))) << "DocDir is written with Recent Files";
  // The first list showed the folders and the Kelp files, with a date for files only.
  const int first = screens.firstWith(u"a.kp");
  ASSERT_GE(first, 0);
  const auto& shot = screens.shots[static_cast<size_t>(first)];
  EXPECT_TRUE(Screens::has(shot, u"..[Up]") && Screens::has(shot, u"Work") && Screens::has(shot, u"B.xls"));
  EXPECT_FALSE(Screens::has(shot, u"c.csv"));
  EXPECT_TRUE(Screens::has(shot, u"Open File"));

  // The next Open starts in the remembered folder, and Back there opens nothing.
  s.keys(std::string(OpenKeys) + "key Back\n");
  EXPECT_EQ(s.book().fileName, utf8ToUtf16(budget));
  s.keys(std::string(OpenKeys) + "key Down\nkey Enter\n");
  EXPECT_EQ(s.book().fileName, utf8ToUtf16(budget));
  EXPECT_EQ(textAt(s.sheet(), 0, 0), u"deep");
  // "..[Up]" twice leads back to the documents folder.
  s.keys(std::string(OpenKeys) + "key Enter\nkey Enter\nkey Down Down Down Down\nkey Enter\n");
  EXPECT_EQ(s.book().fileName, utf8ToUtf16(d.at("a.kp")));
  EXPECT_EQ(numberAt(s.sheet(), 0, 0), 7);
}

TEST(FileBrowser, TheFilterMenuListsOnlyMatchingFilesAndIsRememberedWithItsCheck) {
  Documents d;
  Session s;
  Screens screens;
  screens.attach(s.desktop);
  // Menu > Text Files, then c.csv: ..[Up], alpha, Work, Zeta, c.csv, e.txt.
  s.run(u"", std::string(OpenKeys) + "soft2\ntext 5\nkey Down Down Down Down\nkey Enter\n");
  EXPECT_EQ(numberAt(s.sheet(), 1, 0), 2) << "c.csv opened";
  EXPECT_TRUE(s.book().fileName.empty()) << "a text file opens untitled";
  EXPECT_EQ(s.app->openFilter, 4);
  const int text = screens.firstWith(u"e.txt");
  ASSERT_GE(text, 0);
  const auto& shot = screens.shots[static_cast<size_t>(text)];
  EXPECT_TRUE(Screens::has(shot, u"c.csv"));
  for (const char16_t* hidden : {u"a.kp", u"B.xls", u"old.pxl"}) EXPECT_FALSE(Screens::has(shot, hidden)) << utf16ToUtf8(hidden);
  EXPECT_EQ(screens.checkedFilter[static_cast<size_t>(text)], 4);
  EXPECT_EQ(screens.checkedFilter[static_cast<size_t>(screens.firstWith(u"a.kp"))], 0);

  // The next Open keeps the filter: the fifth entry is e.txt.
  s.keys(std::string(OpenKeys) + "key Down Down Down Down Down\nkey Enter\n");
  EXPECT_EQ(textAt(s.sheet(), 1, 0), u"y") << "e.txt opened";
}

TEST(FileBrowser, AnUnreadableFolderListsOnlyUp) {
  Documents d;
  std::filesystem::create_directory(d.at("Locked"));
  std::ofstream(d.at("Locked/inside.kp")) << "x";
  // Root reads every folder, so the session runs as nobody then: the temporary tree is
  // opened to others, and only Locked is closed.
  ::chmod(d.root.path.c_str(), 0755);
  ::chmod(d.at("Locked").c_str(), 0);
  const bool root = ::geteuid() == 0;
  auto session = [&]() -> bool {
    Session s;
    // ..[Up], alpha, Locked, Work, Zeta. In Locked, Down stays on ..[Up] when it is alone,
    // and Enter leads back up; the fifth entry there is a.kp.
    s.run(u"", std::string(OpenKeys) + "key Down Down\nkey Enter\nkey Down\nkey Enter\nkey Down Down Down Down Down\nkey Enter\n");
    return s.book().fileName == utf8ToUtf16(d.at("a.kp")) && names(browseFolder(utf8ToUtf16(d.at("Locked")), 0)) ==
                                                                  std::vector<std::u16string>{u"..[Up]"};
  };
  if (!root) {
    EXPECT_TRUE(session());
  } else {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
      ::_exit(dropped && session() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the session as nobody failed";
  }
  ::chmod(d.at("Locked").c_str(), 0700);
}

TEST(FileBrowser, SaveAsWritesANewWorkbookUnderANewNameTypeAndFolder) {
  Documents d;
  {
    Session s;
    Screens screens;
    screens.attach(s.desktop);
    // Menu > File > Save on a workbook without a name is a Save As.
    s.run(u"", "text 42\nkey Enter\nsoft2\ntext 1\ntext 3\ntext budget\nkey Enter\n");
    EXPECT_EQ(s.book().fileName, utf8ToUtf16(d.at("budget.kp")));
    EXPECT_FALSE(s.book().modified);
    EXPECT_EQ(s.app->settings().recentFiles[0], utf8ToUtf16(d.at("budget.kp")));
    EXPECT_TRUE(screens.ever(u"Save File"));
    EXPECT_TRUE(screens.ever(u"Kelp (*.kp)"));
  }
  clearError();
  Document back;
  ASSERT_TRUE(OpenDocument(back, utf8ToUtf16(d.at("budget.kp")))) << pendingError();
  EXPECT_EQ(numberAt(*back.workbook().sheetAt(0), 0, 0), 42);

  // Another type drops the extension typed for the old one: Budget.kp becomes Budget and
  // is saved as Excel 97 (two steps right) in the second folder (alpha).
  {
    Session s;
    s.run(u"", std::string("text 5\nkey Enter\n") + SaveAsKeys +
                   "text Budget.kp\nkey Down\nkey Right Right\nkey Down\nkey Right\nkey Enter\n");
    EXPECT_EQ(s.book().fileName, utf8ToUtf16(d.at("alpha/Budget.xls")));
    EXPECT_EQ(s.book().fileType, static_cast<uint32_t>(DocFileType::Excel97));
    EXPECT_EQ(namesIn(d.at("alpha")), std::vector<std::string>{"Budget.xls"});
  }
  clearError();
  Document excel;
  ASSERT_TRUE(OpenDocument(excel, utf8ToUtf16(d.at("alpha/Budget.xls")))) << pendingError();
  EXPECT_EQ(numberAt(*excel.workbook().sheetAt(0), 0, 0), 5);
}

TEST(FileBrowser, SaveAsOverAnExistingFileAnsweredNoLeavesItByteForByte) {
  Documents d;
  const std::string before = fileBytes(d.at("a.kp"));
  const std::vector<std::string> namesBefore = namesIn(d.docs);
  Session s;
  Screens screens;
  screens.attach(s.desktop);
  // No to replacing brings the dialog back with the name chosen; its Cancel ends the save.
  s.run(u"", std::string("text 99\nkey Enter\n") + SaveAsKeys + "text a\nkey Enter\nsoft2\nsoft2\n");
  EXPECT_TRUE(screens.ever(u"already exists"));
  const int question = screens.firstWith(u"already exists");
  bool dialogAgain = false;
  for (size_t i = static_cast<size_t>(question) + 1; i < screens.shots.size(); ++i)
    dialogAgain = dialogAgain || (Screens::has(screens.shots[i], u"Save File") && Screens::has(screens.shots[i], u"a.kp"));
  EXPECT_TRUE(dialogAgain) << "the dialog came back with a.kp";
  EXPECT_EQ(fileBytes(d.at("a.kp")), before);
  EXPECT_EQ(namesIn(d.docs), namesBefore) << "nothing was created beside it";
  EXPECT_TRUE(s.book().modified);
  EXPECT_TRUE(s.book().fileName.empty());

  // Yes replaces it.
  s.keys(std::string(SaveAsKeys) + "text a\nkey Enter\nsoft1\n");
  EXPECT_EQ(s.book().fileName, utf8ToUtf16(d.at("a.kp")));
  EXPECT_NE(fileBytes(d.at("a.kp")), before);
  EXPECT_EQ(namesIn(d.docs), namesBefore);
}

TEST(FileBrowser, TheNameFieldRefusesNamesNoFileCanHave) {
  Documents d;
  const std::vector<std::string> namesBefore = namesIn(d.docs);
  Session s;
  Screens screens;
  screens.attach(s.desktop);
  // An empty name, "..", "a/b" and "." are each refused with the message, the dialog
  // staying open with the name selected, so that typing replaces it.
  s.run(u"", std::string("text 1\nkey Enter\n") + SaveAsKeys +
                 "key Enter\nsoft1\ntext ..\nkey Enter\nsoft1\ntext a/b\nkey Enter\nsoft1\ntext .\nkey Enter\nsoft1\n"
                 "text fine\nkey Enter\n");
  int refusals = 0;
  for (size_t i = 0; i < screens.shots.size(); ++i)
    if (Screens::has(screens.shots[i], u"cannot hold") && (i == 0 || !Screens::has(screens.shots[i - 1], u"cannot hold")))
      ++refusals;
  EXPECT_EQ(refusals, 4);
  EXPECT_EQ(s.book().fileName, utf8ToUtf16(d.at("fine.kp")));
  std::vector<std::string> expected = namesBefore;
  expected.push_back("fine.kp");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(namesIn(d.docs), expected);
}

TEST(FileBrowser, SaveChangesYesOnAnUntitledWorkbookGoesThroughSaveAs) {
  Documents d;
  Session s;
  // New asks; Yes opens Save As; its Cancel cancels New, and the edit stays.
  s.run(u"", "text 3\nkey Enter\nsoft2\ntext 1\ntext 1\nsoft1\nsoft2\n");
  EXPECT_TRUE(s.book().modified);
  EXPECT_EQ(numberAt(s.sheet(), 0, 0), 3);
  // Close the same way keeps the program running.
  s.keys("soft2\ntext 1\ntext 8\nsoft1\nsoft2\n");
  EXPECT_FALSE(s.app->closedByCommand());
  EXPECT_EQ(numberAt(s.sheet(), 0, 0), 3);
  // Named in Save As, the workbook is saved and New goes on.
  s.keys("soft2\ntext 1\ntext 1\nsoft1\ntext kept\nkey Enter\n");
  EXPECT_EQ(numberAt(s.sheet(), 0, 0), -1) << "a new workbook";
  EXPECT_FALSE(s.book().modified);
  clearError();
  Document back;
  ASSERT_TRUE(OpenDocument(back, utf8ToUtf16(d.at("kept.kp"))));
  EXPECT_EQ(numberAt(*back.workbook().sheetAt(0), 0, 0), 3);
}

TEST(FileBrowser, OpeningATypeNotYetReadableSaysSo) {
  Documents d;
  Session s;
  Screens screens;
  screens.attach(s.desktop);
  // Menu > Pocket Excel Files: ..[Up], alpha, Work, Zeta, old.pxl.
  s.run(u"", std::string(OpenKeys) + "soft2\ntext 3\nkey Down Down Down Down\nkey Enter\nsoft1\n");
  // The box breaks the message into lines.
  const int shown = screens.firstWith(u"File open error (Pocket Excel files");
  ASSERT_GE(shown, 0);
  EXPECT_TRUE(Screens::has(screens.shots[static_cast<size_t>(shown)], u"not supported yet)"));
  EXPECT_TRUE(s.book().fileName.empty());
  EXPECT_EQ(s.book().sheetCount(), 3);
  EXPECT_EQ(pendingError(), 0u);
}

}  // namespace
}  // namespace kelp::test
