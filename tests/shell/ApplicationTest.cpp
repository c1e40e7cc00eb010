// The application: the error box, recent files, closing, automatic save and the
// single-instance handshake between two processes.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "ShellTestSupport.h"
#include "files/Document.h"
#include "files/ExternalRefs.h"
#include "files/TextFiles.h"
#include "shell/EditMenu.h"
#include "formula/Compiler.h"
#include "formula/FormulaText.h"
#include "formula/Recalc.h"
#include "platform/System.h"
#include "platform/ui/SingleInstance.h"
#include "shell/KelpMain.h"

namespace kelp::test {
namespace {

TEST(Application, ShowsTheErrorOfAFailedOpenAndKeepsAWorkbook) {
  TempFolder folder;
  const std::string bad = folder.file("bad.kp");
  std::ofstream(bad) << "this is not a workbook";
  Session s;
  ScreenWatch watch;
  watch.attach(s.desktop);
  s.run(utf8ToUtf16(bad), "soft1\nkey Down\n");
  EXPECT_TRUE(watch.saw(u"File is not in Kelp format"));
  EXPECT_EQ(pendingError(), 0u) << "the shown error is cleared";
  EXPECT_EQ(s.book().sheetCount(), 3) << "a failed open leaves a new workbook";
  EXPECT_TRUE(s.book().fileName.empty());
  EXPECT_TRUE(s.app->settings().recentFiles[0].empty());
  EXPECT_EQ(s.sel().activeRow, 1) << "the key after the box reaches the grid";

  // An error raised by any handled message is shown the same way, with "Error no." for unknown codes.
  ScreenWatch later;
  later.attach(s.desktop);
  setError(99);
  s.keys("key Down\nsoft1\n");
  EXPECT_TRUE(later.saw(u"Error no. 99"));
  EXPECT_EQ(pendingError(), 0u);
}

TEST(Application, AWorkbookThatReadsOtherFilesAsksFirstAndNoIsTheDefault) {
  TempFolder folder;
  installExternalReferences();  // the application does it as it starts
  const std::string salary = folder.file("salary.kp"), received = folder.file("received.kp");
  // A1 of a new workbook saved as `path`: a number, or a formula read from that folder.
  auto saveA1 = [](const std::string& path, std::u16string_view entry, double number) {
    Document document;
    Workbook& book = document.workbook();
    book.fileName = utf8ToUtf16(path);
    CellValue value = numberValue(number);
    if (!entry.empty()) value = newFormulaValue(compileToHandle(book, entry, CellPosition{0, 0, 0}, false), {0, 0, 0});
    ASSERT_TRUE(book.activeSheet()->setCell(0, 0, CellRecord{value, -1}));
    recalculateAll(book);
    ASSERT_TRUE(SaveDocument(document, book.fileName, DocFileType::Native)) << pendingError();
  };
  saveA1(salary, u"", 4200);
  saveA1(received, u"=[salary.kp]Sheet1!A1*12", 0);
  saveA1(salary, u"", 5000);
  for (const char* answer : {"key Enter\n", "soft1\n"}) {
    Session s;
    ScreenWatch watch;
    watch.attach(s.desktop);
    s.run(utf8ToUtf16(received), answer);
    EXPECT_TRUE(watch.sawLines(u"This workbook reads cells of other files: salary.kp. Read them?"));
    const double a1 = effectiveValue(s.sheet().cellValue(0, 0)).number();
    EXPECT_EQ(a1, answer[0] == 'k' ? 50400 : 60000) << "the action key answers No; Yes reads the file";
  }
}

TEST(Application, SavingOneSheetOfSeveralNamesTheSheetsLeftOut) {
  installTextFormats();
  TempFolder folder;
  Session s;
  s.run(u"", "");
  putNumber(*s.book().sheetAt(0), 0, 0, 1);
  putNumber(*s.book().sheetAt(2), 0, 0, 3);
  s.book().sheetAt(2)->name = u"Leftover";
  s.book().fileName = utf8ToUtf16(folder.file("out.csv"));
  s.book().fileType = static_cast<uint32_t>(DocFileType::CommaText);
  ScreenWatch watch;
  watch.attach(s.desktop);
  s.desktop.post(s.app->mainWindow()->id(), Msg::Command, MenuCommand::Save);
  s.keys("key Enter\n");
  EXPECT_TRUE(std::filesystem::exists(folder.file("out.csv")));
  EXPECT_TRUE(watch.sawPart(u"Leftover")) << "a message box names the sheet left out";
  EXPECT_EQ(pendingError(), 0u);
}

TEST(Application, RecentFilesMenuOpensAndReportsMissingFiles) {
  TempFolder folder;
  auto book = newWorkbook(1);
  putText(*book->sheetAt(0), 0, 0, u"first file");
  std::u16string first = saveWorkbook(std::move(book), folder.file("first.kp"));
  book = newWorkbook(1);
  putText(*book->sheetAt(0), 0, 0, u"second file");
  std::u16string second = saveWorkbook(std::move(book), folder.file("second.kp"));

  Session s;
  s.registry.writeString(KelpRegistryKey, u"RecFile1", first);
  s.registry.writeString(KelpRegistryKey, u"RecFile2", utf8ToUtf16(folder.file("gone.kp")));
  ScreenWatch watch;
  watch.attach(s.desktop);
  s.run(second, "");
  ASSERT_NE(s.text(u"second file"), nullptr);
  EXPECT_EQ(s.app->settings().recentFiles[0], second);
  EXPECT_EQ(s.app->settings().recentFiles[1], first);
  MenuItem* item = s.app->menuBar()->findItem(MenuCommand::RecentFirst + 1);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->text, u"first.kp");
  // The registry was written when the list changed.
  std::u16string stored;
  EXPECT_TRUE(s.registry.readString(KelpRegistryKey, u"RecFile1", stored));
  EXPECT_EQ(stored, second);

  s.desktop.post(s.app->mainWindow()->id(), Msg::Command, MenuCommand::RecentFirst + 1);
  s.keys("");
  ASSERT_NE(s.text(u"first file"), nullptr);
  EXPECT_EQ(s.book().fileName, first);
  EXPECT_EQ(s.app->settings().recentFiles[0], first);

  const std::u16string gone = utf8ToUtf16(folder.file("gone.kp"));
  EXPECT_EQ(s.app->settings().recentFiles[2], gone);
  s.desktop.post(s.app->mainWindow()->id(), Msg::Command, MenuCommand::RecentFirst + 2);
  s.keys("soft1\n");
  EXPECT_TRUE(watch.sawPart(u"Could not find"));
  EXPECT_EQ(s.app->settings().recentFiles[2], gone) << "the list is left unchanged";
  EXPECT_EQ(s.book().fileName, first);

  // An empty list shows the single grayed "(empty)" item.
  Session fresh;
  fresh.run(u"", "");
  MenuItem* empty = fresh.app->menuBar()->findItem(MenuCommand::RecentEmpty);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->text, u"(empty)");
  EXPECT_TRUE(empty->gray());
}

TEST(Application, CloseAsksToSaveAndWritesTheSettings) {
  Session s;
  s.run(u"", "");
  s.app->setZoom(80);  // modifies the workbook
  ScreenWatch watch;
  watch.attach(s.desktop);
  s.desktop.post(s.app->mainWindow()->id(), Msg::Command, MenuCommand::Close);
  s.keys("key Back\n");  // Cancel in the Yes/No/Cancel box
  EXPECT_TRUE(watch.sawLines(u"Save changes to Untitled?"));
  EXPECT_FALSE(s.app->closedByCommand());
  uint32_t value = 0;
  EXPECT_FALSE(s.registry.readDword(KelpRegistryKey, u"FSZoom", value));

  s.desktop.post(s.app->mainWindow()->id(), Msg::Command, MenuCommand::Close);
  s.keys("soft2\n");  // No: close without saving
  EXPECT_TRUE(s.app->closedByCommand());
  EXPECT_TRUE(s.registry.readDword(KelpRegistryKey, u"FSZoom", value));
  EXPECT_EQ(value, 75u);

  // Closing the window closes Kelp as File > Close does; an unmodified workbook asks nothing.
  Session other;
  other.run(u"", "close\n");
  EXPECT_TRUE(other.app->closedByCommand());
  EXPECT_TRUE(other.registry.readDword(KelpRegistryKey, u"FSZoom", value));
}

double numberIn(const std::u16string& path, int32_t col, int32_t row) {
  Document reread;
  if (!OpenDocument(reread, path)) return -1;
  return reread.workbook().sheetAt(0)->cellValue(col, row).number();
}

TEST(Application, ClosingTheWindowAsksToSaveChanges) {
  TempFolder folder;
  ASSERT_EQ(::setenv("XDG_STATE_HOME", folder.path.c_str(), 1), 0);
  const std::u16string path = saveWorkbook(newWorkbook(1), folder.file("closing.kp"));
  {
    Session yes;
    ScreenWatch watch;
    watch.attach(yes.desktop);
    yes.run(path, "text 42\nkey Enter\nclose\nsoft1\n");
    EXPECT_TRUE(watch.sawLines(u"Save changes to closing.kp?"));
    EXPECT_TRUE(yes.app->closedByCommand());
  }
  EXPECT_EQ(numberIn(path, 0, 0), 42) << "Yes saved the entry";

  // Cancel keeps Kelp running with the edit; a second close while the question is up asks
  // nothing more, so the Back that cancels the one box lets the next key reach the grid.
  Session cancel;
  const std::string picture = folder.file("after.png");
  cancel.run(path, "key Ctrl+Home\ntext 7\nkey Enter\nclose\nclose\nkey Back\nkey Down\npng " + picture + "\n");
  EXPECT_FALSE(cancel.app->closedByCommand());
  ASSERT_NE(cancel.app->mainWindow(), nullptr);
  EXPECT_EQ(cancel.sheet().cellValue(0, 0).number(), 7);
  EXPECT_TRUE(cancel.book().modified);
  EXPECT_EQ(cancel.sel().activeRow, 2) << "Enter moved to A2, Down to A3: no box was left";
  EXPECT_TRUE(std::filesystem::exists(picture));
  EXPECT_NE(cancel.text(u"7"), nullptr) << "the picture shows the edit";
  cancel.app.reset();
  EXPECT_EQ(numberIn(path, 0, 0), 42) << "nothing was saved";

  // An entry still being typed is entered before the question.
  Session typing;
  typing.run(path, "key Ctrl+Home\ntext 8\nclose\nsoft1\n");
  EXPECT_TRUE(typing.app->closedByCommand());
  typing.app.reset();
  EXPECT_EQ(numberIn(path, 0, 0), 8);
  ::unsetenv("XDG_STATE_HOME");
}

TEST(Application, UnsavedWorkIsKeptAndOfferedAtTheNextStart) {
  TempFolder folder;
  ASSERT_EQ(::setenv("XDG_STATE_HOME", folder.path.c_str(), 1), 0);
  const std::u16string path = saveWorkbook(newWorkbook(1), folder.file("kept.kp"));
  {
    Session s;
    s.run(path, "text 5\nkey Enter\n");
    const std::string copy = s.app->keepRecoveryCopy();
    ASSERT_FALSE(copy.empty());
    EXPECT_EQ(copy.rfind(folder.file("kelp/recovery/"), 0), 0u) << copy;
    EXPECT_TRUE(s.book().modified) << "the copy is no save";
  }
  {
    Session untitled;
    untitled.run(u"", "text 6\nkey Enter\n");
    EXPECT_FALSE(untitled.app->keepRecoveryCopy().empty());
  }
  std::vector<RecoveryCopy> copies = recoveryCopies();
  ASSERT_EQ(copies.size(), 2u);
  EXPECT_EQ(copies[0].name, path);
  EXPECT_TRUE(copies[1].name.empty());
  EXPECT_EQ(numberIn(path, 0, 0), 0) << "the workbook's own file is untouched";

  // Back leaves both for later, No deletes the first, Yes opens the second untitled and modified.
  auto offer = [](Session& s, const std::string& answers, ScreenWatch& watch) {
    watch.attach(s.desktop);
    s.backend.setScript(answers);
    ASSERT_TRUE(s.app->start(u""));
    s.app->offerRecovery();
    s.desktop.run();
  };
  {
    Session later;
    ScreenWatch watch;
    offer(later, "key Back\n", watch);
    EXPECT_TRUE(watch.sawLines(u"Kelp found unsaved changes to kept.kp from ")) << "the question names the file";
    EXPECT_EQ(recoveryCopies().size(), 2u);
  }
  Session next;
  ScreenWatch watch;
  offer(next, "soft2\nsoft1\n", watch);
  EXPECT_TRUE(watch.sawLines(u"to Untitled from "));
  EXPECT_EQ(next.sheet().cellValue(0, 0).number(), 6);
  EXPECT_TRUE(next.book().fileName.empty());
  EXPECT_TRUE(next.book().modified);
  EXPECT_FALSE(next.app->document().holdsFile());
  EXPECT_TRUE(recoveryCopies().empty());
  ::unsetenv("XDG_STATE_HOME");
}

TEST(Application, AFailedOpenLeavesTheWorkbookAsItWas) {
  TempFolder folder;
  auto book = newWorkbook(1);
  putNumber(*book->sheetAt(0), 0, 0, 1);
  const std::u16string good = saveWorkbook(std::move(book), folder.file("good.kp"));
  const std::string damaged = folder.file("damaged.kp");
  std::ofstream(damaged) << "this is not a workbook";
  const std::string notExcel = folder.file("letter.xls");
  std::ofstream(notExcel) << "Dear Sir, this is no spreadsheet.";
  Session s;
  s.run(good, "text 9\nkey Enter\n");
  auto unchanged = [&](const char* route) {
    EXPECT_EQ(s.book().fileName, good) << route;
    EXPECT_EQ(s.sheet().cellValue(0, 0).number(), 9) << route;
    EXPECT_TRUE(s.book().modified) << route;
    EXPECT_TRUE(s.app->undoList().canUndo()) << route;
    EXPECT_TRUE(s.app->document().holdsFile()) << route << ": the workbook holds its file again";
    EXPECT_EQ(pendingError(), 0u) << route << ": the error was shown";
  };
  // Open (the dialog's path leads here), each answering No to "Save changes?" and OK to the error.
  for (const std::string& bad : {damaged, notExcel}) {
    s.backend.setScript("soft1\n");
    EXPECT_FALSE(s.app->openDocument(utf8ToUtf16(bad)));
    s.app->messageHandled();
    s.keys("");
    unchanged(bad.c_str());
  }
  ScreenWatch watch;
  watch.attach(s.desktop);
  s.app->settings().recentFiles[1] = utf8ToUtf16(damaged);
  s.desktop.post(s.app->mainWindow()->id(), Msg::Command, MenuCommand::RecentFirst + 1);
  s.keys("soft2\nsoft1\n");
  EXPECT_TRUE(watch.saw(u"File is not in Kelp format"));
  unchanged("a recent file");
  std::vector<uint8_t> bytes;
  for (char16_t c : utf8ToUtf16(notExcel)) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  bytes.insert(bytes.end(), {0, 0});
  s.desktop.post(s.app->mainWindow()->id(), Msg::CopyData, CopyDataCode::OpenFile, 0, bytes);
  s.keys("soft2\nsoft1\n");
  unchanged("a file passed by a second instance");
  s.keys("soft2\ntext 2\ntext 1\n");  // Edit > Undo
  EXPECT_EQ(s.sheet().cellValue(0, 0).number(), 1) << "the undo list still belongs to the workbook";
}

// The digit sequences the README's "Key scripts" section gives for menu items, replayed.
TEST(Application, TheReadmesMenuDigitsChooseTheItemsItNames) {
  std::ifstream in(std::filesystem::path(KELP_TEST_DATA).parent_path().parent_path().parent_path() / "README.md");
  const std::string readme((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t start = readme.find("Menu items can be chosen by their digits:");
  ASSERT_NE(start, std::string::npos);
  std::string paragraph = readme.substr(start, readme.find("\n\n", start) - start);
  std::replace(paragraph.begin(), paragraph.end(), '\n', ' ');
  auto lines = [](const std::string& ticks) {
    std::vector<std::string> out;
    for (size_t at = ticks.find('`'); at != std::string::npos; at = ticks.find('`', ticks.find('`', at + 1) + 1))
      out.push_back(ticks.substr(at + 1, ticks.find('`', at + 1) - at - 1));
    return out;
  };
  struct Case {
    std::vector<std::string> keys;
    std::string item;
  };
  std::vector<Case> cases;
  // "`soft2`, `text 1`, `text 2` is Menu > File > Open..., `text 3` Save, ..., `text 7` Close."
  auto nameAt = [&](size_t from) {
    return paragraph.substr(from, std::min(paragraph.find(", `", from), paragraph.find(". ", from)) - from);
  };
  const std::string_view marker = " is Menu > File > ";
  const size_t is = paragraph.find(marker);
  ASSERT_NE(is, std::string::npos);
  cases.push_back({lines(paragraph.substr(0, is)), nameAt(is + marker.size())});
  std::vector<std::string> fileMenu = cases[0].keys;
  fileMenu.pop_back();
  const size_t dialog = paragraph.find("In the Open File dialog `");
  ASSERT_NE(dialog, std::string::npos);
  for (size_t at = paragraph.find("`text ", is); at < dialog; at = paragraph.find("`text ", at + 1)) {
    const size_t end = paragraph.find('`', at + 1);
    std::vector<std::string> keys = fileMenu;
    keys.push_back(paragraph.substr(at + 1, end - at - 1));
    cases.push_back({keys, nameAt(end + 2)});
  }
  // "In the Open File dialog `soft2` opens the filter menu (`text 5` chooses Text Files)."
  std::vector<std::string> keys = cases[0].keys;
  const size_t close = paragraph.find(')', dialog);
  for (const std::string& key : lines(paragraph.substr(dialog, close - dialog))) keys.push_back(key);
  const size_t chooses = paragraph.find("chooses ", dialog) + 8;
  cases.push_back({keys, paragraph.substr(chooses, close - chooses)});
  ASSERT_EQ(cases.size(), 6u) << paragraph;

  installTextFormats();
  TempFolder folder;
  ASSERT_EQ(::setenv("XDG_STATE_HOME", folder.path.c_str(), 1), 0);
  const std::u16string current = saveWorkbook(newWorkbook(1), folder.file("current.kp"));
  (void)saveWorkbook(newWorkbook(1), folder.file("book.kp"));
  std::ofstream(folder.file("list.csv")) << "123\n";
  for (const Case& c : cases) {
    std::string script;
    for (const std::string& line : c.keys) script += line + "\n";
    SCOPED_TRACE(c.item + " by " + script);
    Session s;
    s.registry.writeString(KelpRegistryKey, u"DocDir", utf8ToUtf16(folder.path));
    ScreenWatch watch;
    watch.attach(s.desktop);
    if (c.item == "Save") {
      s.backend.setScript("");
      ASSERT_TRUE(s.app->start(current));
      putNumber(s.sheet(), 0, 0, 77);  // unmarked, so that only a save writes it
      s.keys(script);
      s.app.reset();
      EXPECT_EQ(numberIn(current, 0, 0), 77);
    } else if (c.item == "Text Files") {
      // The first file listed after ..[Up] is list.csv only under that filter.
      s.run(current, script + "key Down\nkey Enter\n");
      EXPECT_EQ(s.sheet().cellValue(0, 0).number(), 123);
    } else {
      s.run(current, script);
      if (c.item == "Open...") EXPECT_TRUE(watch.saw(u"Open File"));
      else if (c.item == "Save As...") EXPECT_TRUE(watch.saw(u"Save File"));
      else if (c.item == "Password...") EXPECT_TRUE(watch.saw(u"Verify password:"));
      else if (c.item == "Close") EXPECT_TRUE(s.app->closedByCommand());
      else ADD_FAILURE() << "no check for " << c.item;
    }
  }
  ::unsetenv("XDG_STATE_HOME");
}

TEST(Application, AutomaticSaveWaitsForANameAndForPointMode) {
  TempFolder folder;
  std::u16string path = saveWorkbook(newWorkbook(1), folder.file("auto.kp"));
  Session s;
  s.registry.writeDword(KelpRegistryKey, u"AutoSave", 1);
  s.registry.writeDword(KelpRegistryKey, u"AutoSaveMin", 1);
  s.run(path, "");
  EXPECT_FALSE(s.app->autoSaveTimerRunning());
  s.desktop.post(s.app->mainWindow()->id(), Msg::Command, MenuCommand::Zoom80);
  s.keys("wait 59000\n");
  EXPECT_TRUE(s.app->autoSaveTimerRunning()) << "started when the workbook became modified";
  EXPECT_TRUE(s.book().modified);
  s.keys("wait 2000\n");
  EXPECT_FALSE(s.book().modified) << "saved after a minute";

  // While a reference is being pointed at, the save waits 30 seconds at a time.
  s.desktop.post(s.app->mainWindow()->id(), Msg::Command, MenuCommand::Zoom90);
  s.app->pointMode = true;
  s.keys("wait 61000\n");
  EXPECT_TRUE(s.book().modified);
  s.app->pointMode = false;
  s.keys("wait 28000\n");  // the retry comes 30 s after the tick at 121 s
  EXPECT_TRUE(s.book().modified);
  s.keys("wait 3000\n");
  EXPECT_FALSE(s.book().modified);
  // The file itself proves the second save: it holds the zoom set after the first.
  s.app.reset();
  {
    Document reread;
    ASSERT_TRUE(OpenDocument(reread, path)) << pendingError();
    EXPECT_EQ(reread.workbook().sheetAt(0)->view.zoom, 90u);
  }

  // An unnamed workbook is never saved by the timer.
  Session unnamed;
  unnamed.registry.writeDword(KelpRegistryKey, u"AutoSave", 1);
  unnamed.registry.writeDword(KelpRegistryKey, u"AutoSaveMin", 1);
  unnamed.run(u"", "");
  unnamed.desktop.post(unnamed.app->mainWindow()->id(), Msg::Command, MenuCommand::Zoom70);
  unnamed.keys("wait 200000\n");
  EXPECT_TRUE(unnamed.book().modified);
  EXPECT_EQ(pendingError(), 0u);
}

// Runs the program in a child process with its standard error going to `errors`, and
// without a display; returns its exit code.
int runKelpInChild(const KelpOptions& options, const std::string& errors) {
  pid_t child = ::fork();
  if (child == 0) {
    int fd = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::dup2(fd, 2) < 0) ::_exit(99);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::_exit(runKelp(options));
  }
  int status = -1;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(Application, WithoutADisplayAFileThatFailsToOpenIsAnError) {
  TempFolder folder;
  ASSERT_EQ(::setenv("XDG_CONFIG_HOME", folder.path.c_str(), 1), 0);
  ASSERT_EQ(::setenv("TMPDIR", folder.path.c_str(), 1), 0);
  const std::string bad = folder.file("bad.kp");
  std::ofstream(bad) << "this is not a workbook";
  KelpOptions options;
  options.newInstance = true;
  options.file = bad;
  const std::string errors = folder.file("errors.txt");
  EXPECT_EQ(runKelpInChild(options, errors), 1);
  std::string said = fileText(errors);
  EXPECT_NE(said.find("cannot open " + bad + ": File is not in Kelp format"), std::string::npos) << said;
  EXPECT_EQ(said.find("wrote a screenshot"), std::string::npos) << said;
  EXPECT_FALSE(std::filesystem::exists(folder.file("kelp-bad.png")));

  options.file = folder.file("missing.kp");
  EXPECT_EQ(runKelpInChild(options, errors), 1);
  EXPECT_NE(fileText(errors).find("cannot open"), std::string::npos);

  // A file that opens still gives its picture and exit code 0.
  options.file = utf16ToUtf8(saveWorkbook(newWorkbook(1), folder.file("good.kp")));
  EXPECT_EQ(runKelpInChild(options, errors), 0);
  EXPECT_NE(fileText(errors).find("wrote a screenshot"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(folder.file("kelp-good.png")));
  ::unsetenv("TMPDIR");
}

TEST(Application, TheEndOfTheSessionKeepsUnsavedWorkForTheNextStart) {
  TempFolder folder;
  for (const char* name : {"XDG_STATE_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"})
    ASSERT_EQ(::setenv(name, folder.path.c_str(), 1), 0);
  const std::u16string path = saveWorkbook(newWorkbook(1), folder.file("signalled.kp"));
  const std::string ready = folder.file("ready.png");
  const std::string script = folder.file("keys.txt");
  std::ofstream(script) << "text 42\nkey Enter\npng " << ready << "\nsleep 60000\n";
  KelpOptions options;
  options.headless = true;
  options.newInstance = true;
  options.keys = script;
  options.file = utf16ToUtf8(path);
  const std::string errors = folder.file("errors.txt");
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int fd = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::dup2(fd, 2) < 0) ::_exit(99);
    ::_exit(runKelp(options));
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!std::filesystem::exists(ready) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(::kill(child, SIGTERM), 0);
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the loop ended the process, not the signal";
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
  EXPECT_NE(fileText(errors).find("unsaved changes kept in " + folder.file("kelp/recovery/")), std::string::npos)
      << fileText(errors);
  EXPECT_EQ(numberIn(path, 0, 0), 0) << "the workbook's file is untouched";
  std::vector<RecoveryCopy> copies = recoveryCopies();
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(copies[0].name, path);

  // The next start asks, and Yes brings the entry back in an untitled workbook.
  {
    Session next;
    ScreenWatch watch;
    watch.attach(next.desktop);
    next.backend.setScript("soft1\n");
    ASSERT_TRUE(next.app->start(u""));
    next.app->offerRecovery();
    next.desktop.run();
    EXPECT_TRUE(watch.sawLines(u"Kelp found unsaved changes to signalled.kp from "));
    EXPECT_EQ(next.sheet().cellValue(0, 0).number(), 42);
    EXPECT_TRUE(next.book().fileName.empty());
    EXPECT_TRUE(recoveryCopies().empty());
  }

  // A script that ends while the workbook is modified is an end of the session too, and
  // the program's next start offers the copy (No deletes it).
  std::ofstream(script) << "text 5\nkey Enter\n";
  EXPECT_EQ(runKelpInChild(options, errors), 0);
  EXPECT_NE(fileText(errors).find("unsaved changes kept in"), std::string::npos) << fileText(errors);
  ASSERT_EQ(recoveryCopies().size(), 1u);
  std::ofstream(script) << "soft2\n";
  EXPECT_EQ(runKelpInChild(options, errors), 0);
  EXPECT_TRUE(recoveryCopies().empty());
  EXPECT_EQ(fileText(errors).find("unsaved changes"), std::string::npos) << fileText(errors);
  for (const char* name : {"XDG_STATE_HOME", "XDG_RUNTIME_DIR"}) ::unsetenv(name);
}

TEST(Application, AQuotedPathLosesItsQuotesBeforeItIsMadeAbsolute) {
  TempFolder folder;
  ASSERT_EQ(::setenv("XDG_CONFIG_HOME", folder.path.c_str(), 1), 0);
  auto book = newWorkbook(1);
  putText(*book->sheetAt(0), 0, 0, u"quoted");
  const std::u16string path = saveWorkbook(std::move(book), folder.file("a b.kp"));
  // Relative to the working folder, as a shell user would give it.
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(folder.path);
  KelpOptions options;
  options.headless = true;
  options.newInstance = true;
  options.file = "\"a b.kp\"";
  EXPECT_EQ(runKelpInChild(options, folder.file("errors.txt")), 0);
  std::filesystem::current_path(before);
  Registry stored(folder.file("kelp/registry"));
  ASSERT_TRUE(stored.load());
  std::u16string recent;
  EXPECT_TRUE(stored.readString(KelpRegistryKey, u"RecFile1", recent));
  EXPECT_EQ(recent, path) << "the workbook was opened under its own name";
}

TEST(Application, ASecondInstanceFindingTheFirstBusyEndsWithoutASession) {
  TempFolder folder;
  ASSERT_EQ(::setenv("XDG_RUNTIME_DIR", folder.path.c_str(), 1), 0);
  ASSERT_EQ(::setenv("XDG_CONFIG_HOME", folder.path.c_str(), 1), 0);
  const std::u16string path = saveWorkbook(newWorkbook(1), folder.file("wanted.kp"));
  // The first claims the socket and then never comes round to polling it.
  SingleInstance first;
  ASSERT_TRUE(first.claim());
  KelpOptions options;
  options.headless = true;
  options.file = utf16ToUtf8(path);
  const std::string errors = folder.file("errors.txt");
  EXPECT_EQ(runKelpInChild(options, errors), 1);
  EXPECT_NE(fileText(errors).find("busy"), std::string::npos) << fileText(errors);
  // It ran no session of its own: it never opened the file, so Recent Files was not written.
  EXPECT_FALSE(std::filesystem::exists(folder.file("kelp/registry")));
  EXPECT_EQ(first.poll(), 0) << "nor is the file opened later by the first";
}

TEST(Application, SecondInstancePassesItsFileToTheFirst) {
  TempFolder folder;
  ASSERT_EQ(::setenv("XDG_RUNTIME_DIR", folder.path.c_str(), 1), 0);
  ASSERT_EQ(::setenv("XDG_CONFIG_HOME", folder.path.c_str(), 1), 0);
  auto book = newWorkbook(1);
  putText(*book->sheetAt(0), 0, 0, u"passed along");
  std::u16string path = saveWorkbook(std::move(book), folder.file("passed.kp"));

  Session first;
  first.run(u"", "");
  SingleInstance instance;
  ASSERT_TRUE(instance.claim());
  instance.attach(first.desktop, first.app->mainWindow()->id());

  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    KelpOptions options;
    options.headless = true;
    options.file = utf16ToUtf8(path);
    ::_exit(runKelp(options));
  }
  int status = -1;
  bool ended = false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline && !(ended && first.book().fileName == path)) {
    instance.poll();
    first.desktop.pumpPending();
    if (!ended && ::waitpid(child, &status, WNOHANG) == child) ended = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!ended) ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(first.book().fileName, path);
  EXPECT_EQ(first.app->settings().recentFiles[0], path);
  first.desktop.paintAll();
  EXPECT_NE(first.text(u"passed along"), nullptr);
}

TEST(Application, FormulaBarShowsTheActiveCellsEditableText) {
  startEditingOnce();  // entries are typed before the session starts
  TempFolder folder;
  auto book = newWorkbook(1);
  {
    UndoList undo;
    ASSERT_TRUE(enterCellValue(*book, undo, 0, 0, u"1/1/1905"));
    ASSERT_TRUE(enterCellValue(*book, undo, 1, 0, u"=A1+1/1/25"));
    ASSERT_TRUE(enterCellValue(*book, undo, 2, 0, u"=\"" + std::u16string(MaxFormulaText, u'x') + u"\""));
  }
  std::u16string path = saveWorkbook(std::move(book), folder.file("bar.kp"));
  Session s;
  s.run(path, "");
  auto bar = [&] { return s.app->grid().formulaBarText(); };
  EXPECT_EQ(bar(), u"1/1/1905") << "a year that two digits would put in another century";
  s.keys("key Right\n");
  EXPECT_EQ(bar(), u"=A1+1/1/25") << "a formula, not its result";
  s.keys("key Right\n");
  EXPECT_EQ(bar(), u"Formula is too complex");
  EXPECT_EQ(pendingError(), 0u) << "showing it reports nothing";
  s.keys("key Right\n");
  EXPECT_EQ(bar(), u"");
}

TEST(Application, ProgramArguments) {
  const char* good[] = {"kelp", "--headless", "--keys", "k.txt", "--screenshot", "o.png", "--screen", "176x220", "b.kp"};
  KelpOptions options;
  std::string error;
  ASSERT_TRUE(parseKelpArguments(9, good, options, error)) << error;
  EXPECT_TRUE(options.headless);
  EXPECT_EQ(options.keys, "k.txt");
  EXPECT_EQ(options.screenshot, "o.png");
  EXPECT_EQ(options.width, 176);
  EXPECT_EQ(options.height, 220);
  EXPECT_EQ(options.file, "b.kp");
  const char* badScreen[] = {"kelp", "--screen", "10x20"};
  KelpOptions o2;
  EXPECT_FALSE(parseKelpArguments(3, badScreen, o2, error));
  const char* keysAlone[] = {"kelp", "--keys", "k.txt"};
  KelpOptions o3;
  EXPECT_FALSE(parseKelpArguments(3, keysAlone, o3, error));
  const char* twoFiles[] = {"kelp", "a.kp", "b.kp"};
  KelpOptions o4;
  EXPECT_FALSE(parseKelpArguments(3, twoFiles, o4, error));
  const char* missing[] = {"kelp", "--screenshot"};
  KelpOptions o5;
  EXPECT_FALSE(parseKelpArguments(2, missing, o5, error));
}

}  // namespace
}  // namespace kelp::test
