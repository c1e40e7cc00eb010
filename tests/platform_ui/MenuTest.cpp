// Soft keys, popup menus, message boxes and dialogs driven by key scripts.
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/ui/Dialog.h"
#include "platform/ui/HeadlessBackend.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MessageBox.h"

namespace kelp {
namespace {

// A main window with the shell's kind of bar: a command on the left key, a menu on the right.
struct App {
  HeadlessBackend backend;
  Desktop desktop{240, 320, nullptr};
  Window* main = nullptr;
  MenuBar* bar = nullptr;
  std::vector<int64_t> commands;

  explicit App(const std::string& script) {
    backend.setScript(script);
    desktop.setBackend(&backend);
    main = &desktop.create(nullptr, desktop.workArea());
    main->setProc([this](Window& w, Message& m) -> int64_t {
      if (m.msg == Msg::Command) commands.push_back(m.wParam);
      return w.defaultHandling(m);
    });
    bar = &createMenuBar(desktop, *main);
    bar->setKey(0, u"Select", 40181);
    Menu& menu = bar->setPopup(1, u"Menu");
    Menu& file = menu.appendPopup(u"File");
    file.append(40001, u"New");
    file.append(102, u"Open...");
    file.appendSeparator();
    file.append(40024, u"Close");
    Menu& zoom = menu.appendPopup(u"Zoom");
    zoom.append(40038, u"70%");
    zoom.append(40039, u"100%", MenuFlag::Checked);
    menu.append(40006, u"Undo", MenuFlag::Gray);
    menu.append(40047, u"About...");
    desktop.setFocus(main);
  }
};

TEST(Menu, ItemsAreFoundEnabledCheckedAndRelabelled) {
  Menu menu;
  Menu& edit = menu.appendPopup(u"Edit");
  edit.append(40006, u"Undo");
  Menu& clear = edit.appendPopup(u"Clear");
  clear.append(40035, u"All");
  menu.append(40177, u"Cells");
  ASSERT_NE(menu.find(40035), nullptr);
  EXPECT_EQ(menu.find(40035)->text, u"All");
  EXPECT_EQ(menu.find(12345), nullptr);
  EXPECT_TRUE(menu.enable(40035, false));
  EXPECT_TRUE(menu.find(40035)->gray());
  EXPECT_TRUE(menu.enable(40035, true));
  EXPECT_FALSE(menu.find(40035)->gray());
  EXPECT_TRUE(menu.check(40177, true));
  EXPECT_TRUE(menu.find(40177)->checked());
  EXPECT_TRUE(menu.setText(40177, u"Stop"));
  EXPECT_EQ(menu.item(1).text, u"Stop");
  EXPECT_FALSE(menu.setText(999, u"x"));
  EXPECT_EQ(menu.indexOf(40177), 1);
  EXPECT_EQ(menu.indexOf(40006), -1);  // only in a submenu
  edit.insert(0, 5341, u"Budget.kp");
  EXPECT_EQ(edit.item(0).id, 5341u);
  EXPECT_TRUE(menu.remove(5341));
  EXPECT_FALSE(menu.remove(5341));
  EXPECT_EQ(edit.item(0).id, 40006u);
}

TEST(Menu, SoftKeysSendCommandsAndOpenMenus) {
  App app("soft1\n"
          "soft2\nkey Down Down\nkey Enter\n"      // Undo is gray: nothing, menu stays open
          "key Down\nkey Enter\n"                   // About...
          "soft2\nkey Enter\nkey Down Enter\n"      // File > Open...
          "soft2\nkey Down Right\nkey Down Enter\n" // Zoom > 100%
          "soft2\nkey Enter\nkey Left\nkey Back\n"  // into File and back out twice: nothing
          "soft2\nkey Enter\nsoft1\n"               // a soft key closes every level
          "soft2\ntext 2\ntext 1\n"                 // numbers choose: Zoom, then 70%
          "soft2\nkey Enter\nkey Up Up Enter\n"     // Up wraps to Close, then skips the separator
          );
  app.desktop.run();
  EXPECT_TRUE(app.backend.problems().empty());
  EXPECT_EQ(app.commands, (std::vector<int64_t>{40181, 40047, 102, 40039, 40038, 102}));
  EXPECT_EQ(app.desktop.focus(), app.main);  // the focus came back after each menu
}

TEST(Menu, MenuLinesChooseItemsByTheirLabels) {
  App app("menu zoom > 100%\n"
          "menu Menu > File > Close\n"              // past a separator
          "menu SELECT > sheets...\n"               // the left key's menu, its label without the &
          "menu Tools > Outline > Auto\n"           // the twelfth item, then past a leading separator
          "  menu tools>item 10  \n"
          "menu Edit > Paste\n"
          "menu Undo\n"
          "menu Tools > Outline > Hide Detail\n"
          "menu Tools > Protection > Protect Sheet\n"
          "menu File > Open\n"
          "menu File > Close > Now\n"
          "menu &About...\n"
          "menu Menu\ntext 2\ntext 1\n");         // digits still choose in a menu opened so
  Menu& select = app.bar->setPopup(0, u"&Select");
  select.append(40177, u"&Cells");
  select.append(40182, u"Rows", MenuFlag::Gray);  // passed over like any other item
  select.appendSeparator();
  select.append(40015, u"Sheets...");
  Menu& tools = app.bar->key(1).popup->appendPopup(u"Tools");
  for (uint32_t i = 1; i <= 10; ++i) tools.append(i, i < 10 ? u"Item " + std::u16string(1, u'0' + i) : u"Item 10");
  tools.appendSeparator();
  Menu& outline = tools.appendPopup(u"Outline");
  outline.appendSeparator();
  outline.append(40202, u"Show Detail");
  outline.append(40203, u"Hide Detail", MenuFlag::Gray);
  outline.appendSeparator();
  outline.append(40138, u"Auto");
  tools.appendPopup(u"Protection", MenuFlag::Gray).append(40064, u"Protect Sheet");
  app.desktop.run();
  EXPECT_EQ(app.commands, (std::vector<int64_t>{40039, 40024, 40015, 40138, 10, 40047, 40038}));
  EXPECT_EQ(app.backend.problems(),
            (std::vector<std::string>{"line 6: no soft key or item 'Edit'", "line 7: 'Undo' is greyed",
                                      "line 8: 'Hide Detail' is greyed", "line 9: 'Protection' is greyed",
                                      "line 10: no item 'Open' in File", "line 11: 'Close' opens no menu"}));
  EXPECT_EQ(app.desktop.focus(), app.main);
}

TEST(Menu, TheOpenMenuIsDrawnAndTheBarShowsItsLabels) {
  App app("soft2\nkey Down\npng " + testing::TempDir() + "kelp_menu_" + std::to_string(getpid()) + ".png\nkey Esc\n");
  app.bar->findItem(40039)->text = u"Hundred";
  app.desktop.paintAll();
  TextLog& log = app.desktop.textLog();
  const DrawnText* select = log.find(u"Select");
  ASSERT_NE(select, nullptr);
  EXPECT_GE(select->visible.top, 320 - SoftKeyBarHeight);
  ASSERT_NE(log.find(u"Menu"), nullptr);
  EXPECT_GT(log.find(u"Menu")->rect.left, 120);
  app.desktop.run();
  FrameBuffer shot;
  ASSERT_TRUE(readPng(testing::TempDir() + "kelp_menu_" + std::to_string(getpid()) + ".png", shot));
  EXPECT_EQ(shot.width, 240);
  // The selected item (Zoom) is highlighted in the picture taken while the menu was open.
  bool highlight = false;
  for (int y = 200; y < 296; ++y)
    for (int x = 150; x < 240; ++x) highlight |= shot.pixel(x, y) == Colors::Highlight;
  EXPECT_TRUE(highlight);
  EXPECT_EQ(log.find(u"Zoom"), nullptr);  // the closed menu's texts were painted over
  EXPECT_TRUE(app.commands.empty());
}

TEST(MessageBox, ScriptedKeysAnswer) {
  struct Case {
    const char* script;
    uint32_t flags;
    int expected;
  } cases[] = {
      {"soft1\n", BoxFlag::YesNo | BoxFlag::IconQuestion, DialogResult::Yes},
      {"soft2\n", BoxFlag::YesNo, DialogResult::No},
      {"key Back\n", BoxFlag::YesNo, DialogResult::No},
      {"key Enter\n", BoxFlag::OkCancel, DialogResult::Ok},
      {"key Enter\n", BoxFlag::YesNo | BoxFlag::DefaultSecond, DialogResult::No},
      {"soft1\n", BoxFlag::YesNo | BoxFlag::DefaultSecond, DialogResult::Yes},
      {"key Enter\n", BoxFlag::Ok | BoxFlag::DefaultSecond, DialogResult::Ok},
      {"soft2\n", BoxFlag::OkCancel, DialogResult::Cancel},
      {"key Esc\n", BoxFlag::YesNoCancel, DialogResult::Cancel},
      {"soft2\n", BoxFlag::YesNoCancel, DialogResult::No},
      {"key Back\n", BoxFlag::Ok | BoxFlag::IconExclamation, DialogResult::Ok},
      {"soft2\nkey Down\n", BoxFlag::Ok, DialogResult::Cancel},  // no answer before the script ended
  };
  for (const Case& c : cases) {
    App app(c.script);
    bool shown = false;
    app.main->setProc([&](Window& w, Message& m) -> int64_t {
      if (m.msg == Msg::User) {
        int answer = messageBox(app.desktop, w.id(), u"Save changes?", u"Kelp", c.flags);
        shown = true;
        w.desktop().postQuit(answer);
      }
      return w.defaultHandling(m);
    });
    app.desktop.post(app.main->id(), Msg::User);
    EXPECT_EQ(app.desktop.run(), c.expected) << c.script << " flags " << c.flags;
    EXPECT_TRUE(shown);
    EXPECT_TRUE(app.commands.empty()) << "soft keys of the box must not reach the main window";
  }

  // The box shows its caption, its text and its answers on the soft keys.
  App app("wait 5\nkey Enter\n");
  std::vector<std::u16string> texts;
  app.main->setProc([&](Window& w, Message& m) -> int64_t {
    if (m.msg == Msg::User) w.desktop().postQuit(messageBox(w.desktop(), w.id(), u"Locked cell", u"Protection", BoxFlag::YesNo));
    return w.defaultHandling(m);
  });
  Window& spy = app.desktop.create(nullptr, {0, 0, 1, 1});
  spy.setTransparent();
  app.desktop.setTimer(spy.id(), 1, 1);
  spy.setProc([&](Window& w, Message& m) -> int64_t {
    if (m.msg == Msg::Timer) {
      for (const DrawnText& t : w.desktop().textLog().texts()) texts.push_back(t.text);
    }
    return w.defaultHandling(m);
  });
  app.desktop.post(app.main->id(), Msg::User);
  EXPECT_EQ(app.desktop.run(), DialogResult::Yes);
  for (std::u16string want : {u"Locked cell", u"Protection", u"Yes", u"No"}) {
    EXPECT_NE(std::find(texts.begin(), texts.end(), want), texts.end()) << std::string(want.begin(), want.end());
  }
}

class ZoomDialog : public Dialog {
 public:
  ZoomDialog() : Dialog(u"Zoom") {}
  int refused = 0;

 protected:
  bool onOk() override {
    std::u16string t = controlAs<EditLine>(1019)->text();
    int value = 0;
    for (char16_t c : t) value = c >= u'0' && c <= u'9' ? value * 10 + (c - u'0') : 100000;
    if (value >= 25 && value <= 200) return true;
    ++refused;
    return false;
  }
};

TEST(Dialog, ControlsTakeKeysAndOkChecksTheFields) {
  App app("key Back Back Back\ntext 24\nsoft1\n"  // 24 is refused, the dialog stays
          "key Back Back\ntext 50\n"
          "key Down\nkey Right\n"                   // spinner to the second entry
          "key Down\nkey Enter\n"                   // check box toggled
          "key Down\nkey Down Down\n"               // the tall list moves inside itself...
          "key Down\n"                              // ...and leaves at its end, back to the top
          "key Left Home\ntext 1\n"                 // the caret moves in the edit line
          "soft1\n");
  ZoomDialog* dialog = &app.desktop.create<ZoomDialog>(nullptr, app.desktop.workArea());
  dialog->addLabel(u"Magnification in percent, from 25 to 200:");
  EditLine& edit = dialog->addEdit(1019, u"100");
  ListBox& spin = dialog->addList(1021, {u"Lines", u"Columns"});
  CheckBox& check = dialog->addCheck(1025, u"Entire cells");
  ListBox& tall = dialog->addList(1029, {u"Sheet1", u"Sheet2", u"Sheet3"}, 3);
  int result = 0;
  app.main->setProc([&](Window& w, Message& m) -> int64_t {
    if (m.msg == Msg::User) {
      result = dialog->run();
      w.desktop().postQuit(0);
    }
    return w.defaultHandling(m);
  });
  app.desktop.post(app.main->id(), Msg::User);
  app.desktop.run();
  EXPECT_TRUE(app.backend.problems().empty());
  EXPECT_EQ(result, DialogResult::Ok);
  EXPECT_EQ(dialog->refused, 1);
  EXPECT_EQ(edit.text(), u"150");
  EXPECT_EQ(spin.selected(), 1);
  EXPECT_EQ(spin.selectedText(), u"Columns");
  EXPECT_TRUE(check.checked());
  EXPECT_EQ(tall.selected(), 2);
  EXPECT_EQ(dialog->control(1029), &tall);
  EXPECT_EQ(dialog->control(4), nullptr);
  app.desktop.destroy(dialog->id());
}

TEST(Dialog, EditLineEditing) {
  Desktop desktop(240, 320);
  Dialog& d = desktop.create<Dialog>(nullptr, desktop.workArea(), u"Go to");
  EditLine& e = d.addEdit(1019, u"=Sum(");
  e.setMaxLength(8);
  desktop.setFocus(&e);
  desktop.typeText(u"A1:A3)*2");
  desktop.pumpPending();
  EXPECT_EQ(e.text(), u"=Sum(A1:");  // the length limit holds
  e.selectAll();
  desktop.typeText(u"B");
  desktop.pumpPending();
  EXPECT_EQ(e.text(), u"B");
  e.setValue(u"abcdef");
  e.setCaret(3);
  desktop.pressKey(Key::Back);  // the character message deletes one
  desktop.pressKey(Key::Delete);
  desktop.pumpPending();
  EXPECT_EQ(e.text(), u"abef");
  EXPECT_EQ(e.caret(), 2u);
  e.setCaret(2);
  e.replaceSelection(u"ZZZZZZZ");
  EXPECT_EQ(e.text(), u"abZZZZef");
  // Only the focused field shows its selection inverted; the others look idle.
  EditLine& idle = d.addEdit(1020, u"WWWW");
  idle.selectAll();
  desktop.paintAll();
  auto darkCount = [&](const Window& w) {
    Rect r = w.screenRect().inflated(-4, -4);
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) n += desktop.screen().pixel(x, y) == Colors::Black;
    return n;
  };
  int idleDark = darkCount(idle);
  desktop.setFocus(&idle);
  desktop.paintAll();
  EXPECT_GT(darkCount(idle), 2 * idleDark);
  desktop.setFocus(&e);
  e.setPassword(true);
  desktop.setTextLogging(true);
  e.invalidate();
  desktop.paintAll();
  EXPECT_NE(desktop.textLog().find(u"********"), nullptr);
  EXPECT_EQ(desktop.textLog().find(u"abZZZZef"), nullptr);
}

}  // namespace
}  // namespace kelp
