// The application: the error box, recent files, closing, automatic save and the
// single-instance handshake between two processes.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "ShellTestSupport.h"
#include "files/Document.h"
#include "files/TextFiles.h"
#include "shell/EditMenu.h"
#include "formula/FormulaText.h"
#include "platform/ui/SingleInstance.h"
#include "shell/KelpMain.h"

namespace kelp::test {
namespace {

// Texts seen on screen whenever the loop waits (a modal box drawn and waiting for its key).
struct ScreenWatch {
  std::vector<std::u16string> seen;
  void attach(Desktop& desktop) {
    desktop.addIdleHook([this, &desktop] {
      for (const DrawnText& t : desktop.textLog().texts()) {
        if (std::find(seen.begin(), seen.end(), t.text) == seen.end()) seen.push_back(t.text);
      }
    });
  }
  bool saw(std::u16string_view text) const { return std::find(seen.begin(), seen.end(), text) != seen.end(); }
  /// Whether some text seen holds `part` (a box breaks long texts into lines).
  bool sawPart(std::u16string_view part) const {
    return std::any_of(seen.begin(), seen.end(), [&](const std::u16string& t) { return t.find(part) != t.npos; });
  }
};

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
  EXPECT_TRUE(watch.saw(u"Save changes?"));
  EXPECT_FALSE(s.app->closedByCommand());
  uint32_t value = 0;
  EXPECT_FALSE(s.registry.readDword(KelpRegistryKey, u"FSZoom", value));

  s.desktop.post(s.app->mainWindow()->id(), Msg::Command, MenuCommand::Close);
  s.keys("soft2\n");  // No: close without saving
  EXPECT_TRUE(s.app->closedByCommand());
  EXPECT_TRUE(s.registry.readDword(KelpRegistryKey, u"FSZoom", value));
  EXPECT_EQ(value, 75u);

  // A close request from the system goes without a prompt and writes nothing.
  Session other;
  other.run(u"", "close\n");
  EXPECT_EQ(other.app->mainWindow(), nullptr);
  EXPECT_FALSE(other.registry.readDword(KelpRegistryKey, u"FSZoom", value));
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
