// Tasks in the window: the Task menu and its dialogs, the task functions that ask the
// user, and the question before anything starts outside the workbook.
#include <filesystem>
#include <fstream>
#include <set>

#include "ShellTestSupport.h"
#include "dialogs/InsertFunction.h"
#include "formula/Catalogue.h"
#include "platform/ui/FrameBuffer.h"
#include "platform/ui/Menu.h"
#include "shell/TaskWindowFunctions.h"
#include "tasks/Tasks.h"

namespace kelp::test {
namespace {

// Every box or dialog that came up over the main window, and every text seen.
struct Boxes {
  std::set<WindowId> shown;
  void attach(Session& s) {
    s.desktop.addIdleHook([this, &s] {
      Window* top = s.desktop.activeTopLevel();
      Window* main = s.app ? s.app->mainWindow() : nullptr;
      if (top && main && top != main && !dynamic_cast<MenuBar*>(top)) shown.insert(top->id());
    });
  }
  size_t count() const { return shown.size(); }
};

std::u16string textAt(Session& s, int32_t col, int32_t row) { return std::u16string(textOf(s.sheet().cellValue(col, row))); }

// A workbook whose A1 holds a cell task, opened in a session.
std::u16string cellTaskBook(const TempFolder& folder, std::u16string_view task) {
  startEditingOnce();
  auto book = newWorkbook(1);
  putText(*book->sheetAt(0), 0, 0, u"Go#Task:" + std::u16string(task));
  return saveWorkbook(std::move(book), folder.file("task.kp"));
}

// Task > Workbook Task... > New..., the name and definition typed, then the run-on
// spinner turned `turns` times and `target` typed; the form's OK ends it.
std::string defineTask(const std::string& name, const std::string& definition, int turns, const std::string& target,
                       bool global = false) {
  std::string keys = "menu Task > Workbook Task...\nmenu New...\ntext " + name + "\nkey Down\ntext " + definition +
                     "\nkey Down\n" + (global ? "key Enter\n" : "") + "key Down\n";
  for (int i = 0; i < turns; ++i) keys += "key Right\n";
  return keys + "key Down\n" + (target.empty() ? "" : "text " + target + "\n") + "soft1\n";
}

TEST(TaskWindow, ATapTaskFromTheDialogAsksOnceThenShowsItsBox) {
  Session s;
  Boxes boxes;
  boxes.attach(s);
  // A definition that does not compile is shown with its place and keeps the form open.
  s.run(u"", defineTask("Greet", "MsgBox(\"Hi \"&", 2, "B2:B5") + "key Enter\ntext B1)\nsoft1\nsoft1\n");
  EXPECT_TRUE(s.seen.sawPart(u"At character")) << "the compile error names its place";
  ASSERT_EQ(s.book().tasks.size(), 1u);
  const WorkbookTask& task = s.book().tasks[0];
  EXPECT_EQ(task.name, u"Greet");
  EXPECT_EQ(task.definition, u"MsgBox(\"Hi \"&B1)");
  EXPECT_EQ(task.runOn, TaskRunsOnTap);
  EXPECT_TRUE(taskAreaContains(task, 0, 1, 4));
  EXPECT_FALSE(taskAreaContains(task, 0, 1, 5));

  putText(s.sheet(), 1, 0, u"Ann");
  s.keys("key Right\nkey Down Down\nkey Enter\nsoft1\nsoft1\n");  // B3: consent, then the box
  EXPECT_TRUE(s.seen.sawPart(u"Run its tasks?"));
  EXPECT_TRUE(s.seen.sawLines(u"Hi Ann"));
  EXPECT_TRUE(s.app->tasks().consentGiven());
  const size_t before = boxes.count();
  s.keys("key Enter\nsoft1\n");
  EXPECT_EQ(boxes.count(), before + 1) << "the second tap shows the box without asking again";
  EXPECT_EQ(s.sel().activeRow, 2);
}

TEST(TaskWindow, AMenuTaskAppearsBeforeWorkbookTaskAndRuns) {
  Session s;
  // A menu task without its text is refused with error 42 and the form stays open.
  s.run(u"", defineTask("Fill", "Set(A1, 42)", 1, "") + "soft1\ntext Fill A1\nsoft1\nsoft1\n");
  EXPECT_TRUE(s.seen.sawLines(u"Text to display on menu expected"));
  ASSERT_EQ(s.book().tasks.size(), 1u);
  MenuBar* bar = s.app->menuBar();
  MenuItem* item = bar->findItem(FirstTaskCommand);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->text, u"Fill A1");

  s.keys("menu Task > Fill A1\nsoft1\n");
  EXPECT_EQ(s.sheet().cellValue(0, 0).number(), 42);
  // Deleting the task takes it out of the menu.
  s.keys("menu Task > Workbook Task...\nmenu Delete\nsoft1\n");
  EXPECT_TRUE(s.book().tasks.empty());
  EXPECT_EQ(bar->findItem(FirstTaskCommand), nullptr);
}

TEST(TaskWindow, TheTaskEditorInsertsATaskFunction) {
  Session s;
  const int32_t first = functionsOf(1, RecentFunctions{}, true).front();
  s.run(u"", "menu Task > Workbook Task...\nmenu New...\nkey Down\ntext x=\nmenu Insert Function...\nsoft1\n");
  EXPECT_TRUE(s.seen.saw(u"x=" + std::u16string(functionRow(first).name) + u"()"));
}

TEST(TaskWindow, AGlobalTaskSurvivesARestartAndRunsWithoutAsking) {
  Registry kept;
  {
    Session s;
    s.run(u"", defineTask("Stamp", "Set(C2, 7)", 1, "Stamp", true) + "soft1\n");
    ASSERT_EQ(s.book().tasks.size(), 1u);
    EXPECT_TRUE(s.book().tasks[0].global);
    kept = s.registry;
  }
  Session again;
  again.registry = kept;
  again.run(u"", "menu Task > Stamp\n");
  EXPECT_EQ(again.sheet().cellValue(2, 1).number(), 7);
  EXPECT_FALSE(again.app->tasks().consentGiven()) << "the user's own task needs no question";
  ASSERT_EQ(again.book().tasks.size(), 1u);
  EXPECT_EQ(again.book().tasks[0].menuText.value_or(u""), u"Stamp");
}

TEST(TaskWindow, InputBoxAndListBox2AnswerTheTask) {
  TempFolder folder;
  Session s;
  s.run(cellTaskBook(folder, u"Set(B1, InputBox(\"Name?\")) Set(B2, ListBox2(\"Pick\", \"red\", \"green\", \"blue\"))"),
        "key Enter\nsoft1\ntext Ann\nsoft1\nkey Down\nsoft1\n");
  EXPECT_TRUE(s.seen.saw(u"Name?"));
  EXPECT_TRUE(s.seen.saw(u"blue"));
  EXPECT_EQ(textAt(s, 1, 0), u"Ann");
  EXPECT_EQ(textAt(s, 1, 1), u"green");
  // Cancelled boxes answer with empty texts.
  s.keys("key Enter\nsoft2\nsoft2\n");
  EXPECT_EQ(textAt(s, 1, 0), u"");
  EXPECT_EQ(textAt(s, 1, 1), u"");
}

TEST(TaskWindow, ComboBoxPutsAListRuleOnTheActiveCellAndListBoxCountsFromOne) {
  TempFolder folder;
  Session s;
  s.run(cellTaskBook(folder, u"Set(E1, \"pear\") Set(E2, \"plum\") Sel(C1:D2) ComboBox(\"Low,Mid,High\") "
                             u"Set(B1, ListBox(\"Fruit\", E1:E2)) Set(B2, ListBox(\"Fruit\", E1:E2, true))"),
        "key Enter\nsoft1\nkey Down\nsoft1\nkey Down\nsoft1\n");
  ASSERT_EQ(s.sheet().validations.size(), 1u);
  const ValidationEntry& entry = s.sheet().validations[0];
  EXPECT_EQ(entry.rule.list, (std::vector<std::u16string>{u"Low", u"Mid", u"High"}));
  EXPECT_EQ(entry.areas, (std::vector<Area>{Area{0, 2, 0, 2}})) << "the active cell alone";
  EXPECT_EQ(s.sel().area(), (Area{0, 2, 1, 3})) << "the selection stays";
  EXPECT_EQ(s.sheet().cellValue(1, 0).number(), 2);
  EXPECT_EQ(textAt(s, 1, 1), u"plum");
}

TEST(TaskWindow, RunAppAsksEachTimeNamingWhatWouldStart) {
  TempFolder folder;
  const std::string made = folder.file("made");
  std::vector<std::vector<std::u16string>> started;
  const auto launcher = [&](const std::vector<std::u16string>& words) {
    started.push_back(words);
    return true;
  };
  installTaskLauncher(launcher);
  Session s;
  // Consent to the workbook, then No twice: with the action key and with Back.
  s.run(cellTaskBook(folder, u"Set(B1, RunApp(\"touch\", \"" + utf8ToUtf16(made) + u"\"))"),
        "key Enter\nsoft1\nkey Enter\nkey Enter\nkey Back\n");
  EXPECT_TRUE(s.seen.sawLines(u"This workbook wants to start touch"));
  EXPECT_TRUE(started.empty());
  EXPECT_EQ(s.sheet().cellKind(1, 0), ValueKind::Logical);
  EXPECT_EQ(s.sheet().cellValue(1, 0).u32(), 0u);

  // Yes: the launcher gets exactly the two words.
  s.keys("key Enter\nsoft1\n");
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0], (std::vector<std::u16string>{u"touch", utf8ToUtf16(made)}));
  EXPECT_EQ(s.sheet().cellValue(1, 0).u32(), 1u);

  // Without a launcher, headless, a Yes starts nothing and says what would have started.
  installTaskLauncher(nullptr);
  testing::internal::CaptureStderr();
  s.keys("key Enter\nsoft1\n");
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("touch " + made), std::string::npos) << said;
  EXPECT_FALSE(std::filesystem::exists(made));
  EXPECT_EQ(s.sheet().cellValue(1, 0).u32(), 0u);
}

// Headless, sounds stay silent and the browser stays shut; each says what it would have done.
TEST(TaskWindow, HeadlessSessionsSoundAndStartNothing) {
  TempFolder folder;
  Session s;
  testing::internal::CaptureStderr();
  s.run(cellTaskBook(folder, u"PlaySound(\"chime.wav\") Beep(16) PlaySound() Set(B1, IBrowser(\"http://example.org/a b\"))"),
        "key Enter\nsoft1\nsoft1\n");
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("chime.wav"), std::string::npos) << said;
  EXPECT_NE(said.find("beep"), std::string::npos) << said;
  EXPECT_TRUE(s.seen.sawLines(u"This workbook wants to open http://example.org/a b in your browser. Allow?"));
  EXPECT_NE(said.find("xdg-open http://example.org/a b"), std::string::npos) << said;
  EXPECT_EQ(s.sheet().cellKind(1, 0), ValueKind::Logical) << "the task went on past the sounds";
  EXPECT_EQ(s.sheet().cellValue(1, 0).u32(), 0u);
}

TEST(TaskWindow, CellTaskAndHyperlinkWriteTasksThatShowTheirIconsAndRun) {
  Session s;
  s.run(u"", "menu Task > Cell Task...\ntext Total\nkey Down\ntext MsgBox(\"hi\")\nkey Down\nkey Right Right Right\nsoft1\n"
             "key Right\n");
  EXPECT_EQ(textAt(s, 0, 0), u"Total#Icon:3#Task:MsgBox(\"hi\")");
  // The text stands right of its icon; the Picture icon shows its sky.
  const Rect cell = s.cell(0, 0);
  const DrawnText* total = s.text(u"Total");
  ASSERT_NE(total, nullptr);
  EXPECT_GE(total->rect.left, cell.left + 12);
  const int top = cell.top + (cell.height() - 10) / 2;
  EXPECT_EQ(s.pixel(cell.left + 4, top + 2), rgb(120, 170, 255));

  const std::string tooLong(240, 'x');
  s.keys("menu Task > Insert Hyperlink...\ntext Far\nkey Down\nkey Down\ntext D9\nsoft1\n"
         "key Enter\nsoft1\n"  // the tap asks first, then goes to D9
         "menu Task > Cell Task...\ntext " + tooLong + "\nkey Down\ntext MsgBox(1)\nsoft1\nsoft1\nsoft2\n");
  EXPECT_EQ(textAt(s, 1, 0), u"Far#Icon:6#Task:Sel(D9)");
  EXPECT_EQ(s.sel().activeColumn, 3);
  EXPECT_EQ(s.sel().activeRow, 8);
  EXPECT_TRUE(s.seen.sawLines(u"Task is too long"));
  EXPECT_EQ(s.sheet().cellKind(3, 8), ValueKind::Empty);
}

TEST(TaskWindow, EscapeAsksToBreakARunningTask) {
  TempFolder folder;
  Session s;
  Boxes boxes;
  boxes.attach(s);
  // No lets it go on; the next Esc and Yes stop it, keeping what it did.
  s.run(cellTaskBook(folder, u"Set(B1, 1) while true do end"), "key Enter\nsoft1\nkey Esc\nsoft2\nkey Esc\nsoft1\n");
  EXPECT_TRUE(s.seen.sawLines(u"Break task temp?"));
  EXPECT_EQ(boxes.count(), 3u) << "the consent, then the question twice";
  EXPECT_TRUE(s.backend.finished());
  EXPECT_EQ(s.sheet().cellValue(1, 0).number(), 1);
  EXPECT_FALSE(TaskRun::stopRequested());
  s.keys("menu Edit > Undo Typing in B1\n");
  EXPECT_EQ(s.sheet().cellKind(1, 0), ValueKind::Empty);
}

// A red BMP, 24 bits a pixel: 40 pixels make a row of 120 bytes, which needs no padding.
void writeRedBmp(const std::string& path) {
  std::string b = "BM";
  auto put = [&b](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<char>(v >> (8 * i)));
  };
  put(54 + 40 * 30 * 3, 4), put(0, 4), put(54, 4), put(40, 4), put(40, 4), put(30, 4), put(1, 2), put(24, 2);
  put(0, 4), put(40 * 30 * 3, 4), put(2835, 4), put(2835, 4), put(0, 4), put(0, 4);
  for (int i = 0; i < 40 * 30; ++i) b += std::string("\x00\x00\xff", 3);  // blue, green, red
  std::ofstream(path, std::ios::binary) << b;
}

TEST(TaskWindow, ShowPictureClosesAfterItsTimeAndADamagedOneSaysSo) {
  TempFolder folder;
  // A BMP where SDL2_image reads it, a PNG where only libpng does.
  const std::string picture = folder.file(canReadPictureFormats() ? "red.bmp" : "red.png");
  if (canReadPictureFormats()) {
    writeRedBmp(picture);
  } else {
    ASSERT_TRUE(writePng(FrameBuffer(40, 30, rgb(255, 0, 0)), picture));
  }
  std::ofstream(folder.file("bad.png")) << "not a picture";
  Session s;
  uint64_t firstSeen = 0, lastSeen = 0;
  s.desktop.addIdleHook([&] {
    Window* top = s.desktop.activeTopLevel();
    if (!top || top->text() != utf8ToUtf16(picture)) return;
    if (!firstSeen) firstSeen = s.backend.now() + 1;
    lastSeen = s.backend.now() + 1;
  });
  s.run(cellTaskBook(folder, u"ShowPicture(\"" + utf8ToUtf16(picture) + u"\", 2) Set(B1, 5) ShowPicture(\"" +
                                 utf8ToUtf16(folder.file("bad.png")) + u"\") Set(B2, 6)"),
        "key Enter\nsoft1\nwait 1000\npng " + folder.file("shown.png") + "\nwait 4000\nsoft1\n");
  ASSERT_GT(firstSeen, 0u) << "the picture's window came up";
  EXPECT_GE(lastSeen - firstSeen, 1000u);
  EXPECT_LT(lastSeen - firstSeen, 2100u) << "it closed after its two seconds";
  FrameBuffer shown;
  ASSERT_TRUE(readPng(folder.file("shown.png"), shown));
  EXPECT_EQ(shown.pixel(shown.width / 2, shown.height / 2), rgb(255, 0, 0));
  EXPECT_EQ(s.sheet().cellValue(1, 0).number(), 5);
  EXPECT_TRUE(s.seen.sawLines(u"Kelp cannot show the picture"));
  EXPECT_EQ(s.sheet().cellValue(1, 1).number(), 6);
}

}  // namespace
}  // namespace kelp::test
