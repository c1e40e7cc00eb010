// The message loop: posting and sending, timers on the hand-driven clock, painting, focus, modal loops.
#include <gtest/gtest.h>

#include "platform/ui/Desktop.h"
#include "platform/ui/HeadlessBackend.h"

namespace kelp {
namespace {

struct Recorder {
  std::vector<std::string> seen;
  Window::Proc proc(const std::string& name) {
    return [this, name](Window& w, Message& m) -> int64_t {
      switch (m.msg) {
        case Msg::Create: seen.push_back(name + ":create"); break;
        case Msg::Destroy: seen.push_back(name + ":destroy"); break;
        case Msg::Paint: seen.push_back(name + ":paint"); break;
        case Msg::Timer: seen.push_back(name + ":timer" + std::to_string(m.wParam)); break;
        case Msg::User: seen.push_back(name + ":user" + std::to_string(m.wParam)); return m.wParam * 2;
        case Msg::KeyDown: seen.push_back(name + ":key" + std::to_string(m.wParam)); break;
        case Msg::Char: seen.push_back(name + ":char" + std::string(1, static_cast<char>(m.wParam))); break;
        case Msg::SetFocus: seen.push_back(name + ":setfocus"); break;
        case Msg::KillFocus: seen.push_back(name + ":killfocus"); break;
        default: break;
      }
      return w.defaultHandling(m);
    };
  }
  int count(const std::string& what) const { return static_cast<int>(std::count(seen.begin(), seen.end(), what)); }
};

TEST(Desktop, PostedMessagesArriveInOrderAndSendReturnsAtOnce) {
  Desktop desktop(100, 100);
  Recorder rec;
  Window& w = desktop.create(nullptr, {0, 0, 50, 50});
  w.setProc(rec.proc("w"));
  desktop.pumpPending();
  rec.seen.clear();
  desktop.post(w.id(), Msg::User, 1);
  desktop.post(w.id(), Msg::User, 2);
  EXPECT_EQ(desktop.send(w.id(), Msg::User, 21), 42);
  EXPECT_EQ(rec.seen, (std::vector<std::string>{"w:user21"}));
  desktop.postQuit(7);
  desktop.post(w.id(), Msg::User, 3);  // posted before the loop sees the quit
  EXPECT_EQ(desktop.run(), 7);
  EXPECT_EQ(rec.seen, (std::vector<std::string>{"w:user21", "w:user1", "w:user2", "w:user3"}));

  // A message for a window that went is dropped.
  WindowId gone = w.id();
  desktop.destroy(gone);
  EXPECT_EQ(desktop.find(gone), nullptr);
  desktop.post(gone, Msg::User, 9);
  desktop.pumpPending();
  EXPECT_EQ(rec.count("w:user9"), 0);
  EXPECT_EQ(desktop.send(gone, Msg::User, 9), 0);
}

TEST(Desktop, TimersFollowTheScriptedClock) {
  HeadlessBackend backend;
  backend.setScript("wait 350\n# the timer is killed at its fourth tick\nwait 1000\n");
  Desktop desktop(100, 100, &backend);
  Recorder rec;
  Window& w = desktop.create(nullptr, {0, 0, 10, 10});
  int ticks = 0;
  std::vector<uint64_t> times;
  w.setProc([&](Window& self, Message& m) -> int64_t {
    if (m.msg == Msg::Timer) times.push_back(self.desktop().now());
    if (m.msg == Msg::Timer && m.wParam == 2345 && ++ticks == 4) self.desktop().killTimer(self.id(), 2345);
    return rec.proc("w")(self, m);
  });
  desktop.setTimer(w.id(), 2345, 100);
  desktop.setTimer(w.id(), 7, 500);
  EXPECT_EQ(desktop.nextTimerDue(), 100u);
  desktop.run();
  EXPECT_EQ(backend.now(), 1350u);
  EXPECT_EQ(rec.count("w:timer2345"), 4);
  EXPECT_EQ(rec.count("w:timer7"), 2);
  EXPECT_EQ(times, (std::vector<uint64_t>{100, 200, 300, 400, 500, 1000}));  // on time, never late
  EXPECT_FALSE(desktop.killTimer(w.id(), 2345));
  EXPECT_TRUE(desktop.killTimer(w.id(), 7));
  EXPECT_TRUE(backend.problems().empty());

  // Setting a timer again restarts its interval; a destroyed window's timers stop.
  Desktop d2(10, 10);
  Window& a = d2.create(nullptr, {0, 0, 5, 5});
  a.setProc(rec.proc("a"));
  d2.setTimer(a.id(), 1, 100);
  d2.advanceClock(90);
  d2.setTimer(a.id(), 1, 100);
  d2.advanceClock(20);
  d2.pumpPending();
  EXPECT_EQ(rec.count("a:timer1"), 0);
  d2.advanceClock(80);
  d2.pumpPending();
  EXPECT_EQ(rec.count("a:timer1"), 1);
  d2.destroy(a.id());
  d2.advanceClock(1000);
  d2.pumpPending();
  EXPECT_EQ(rec.count("a:timer1"), 1);
  EXPECT_EQ(d2.nextTimerDue(), NoDeadline);
}

TEST(Desktop, PaintingFollowsInvalidationBackToFront) {
  Desktop desktop(100, 100);
  Recorder rec;
  Window& back = desktop.create(nullptr, {0, 0, 100, 100});
  back.setProc([&](Window& w, Message& m) -> int64_t {
    if (m.msg == Msg::Paint) m.canvas->fillRect(w.clientRect(), rgb(0, 0, 200));
    return rec.proc("back")(w, m);
  });
  Window& child = desktop.create(&back, {10, 10, 30, 30});
  child.setBackground(rgb(0, 200, 0));
  child.setProc(rec.proc("child"));
  Window& popup = desktop.create(nullptr, {50, 50, 80, 80});
  popup.setBackground(rgb(200, 0, 0));
  popup.setProc(rec.proc("popup"));
  desktop.paintAll();
  EXPECT_FALSE(desktop.hasInvalid());
  EXPECT_EQ(desktop.screen().pixel(5, 5), rgb(0, 0, 200));
  EXPECT_EQ(desktop.screen().pixel(15, 15), rgb(0, 200, 0));
  EXPECT_EQ(desktop.screen().pixel(60, 60), rgb(200, 0, 0));

  // Repainting the back window repaints what lies over it in that area, and only that.
  rec.seen.clear();
  back.invalidate({40, 40, 60, 60});
  desktop.pumpPending();
  EXPECT_EQ(rec.seen, (std::vector<std::string>{"back:paint", "popup:paint"}));
  EXPECT_EQ(desktop.screen().pixel(55, 55), rgb(200, 0, 0));
  EXPECT_EQ(desktop.screen().pixel(45, 45), rgb(0, 0, 200));

  // Hiding or destroying a window uncovers what was below it.
  desktop.destroy(popup.id());
  desktop.paintAll();
  EXPECT_EQ(desktop.screen().pixel(60, 60), rgb(0, 0, 200));
  child.show(false);
  desktop.paintAll();
  EXPECT_EQ(desktop.screen().pixel(15, 15), rgb(0, 0, 200));
  child.show(true);
  child.move({70, 70, 90, 90});
  desktop.paintAll();
  EXPECT_EQ(desktop.screen().pixel(15, 15), rgb(0, 0, 200));
  EXPECT_EQ(desktop.screen().pixel(75, 75), rgb(0, 200, 0));
  EXPECT_EQ(child.screenRect(), (Rect{70, 70, 90, 90}));
}

TEST(Desktop, ScrollingMovesPixelsAndRepaintsTheStrip) {
  Desktop desktop(60, 60);
  int paints = 0;
  Rect lastClip;
  int offset = 0;
  Window& grid = desktop.create(nullptr, {0, 0, 60, 60});
  grid.setProc([&](Window& w, Message& m) -> int64_t {
    if (m.msg == Msg::Paint) {
      ++paints;
      lastClip = m.canvas->clip();
      for (int y = 0; y < 60; ++y) m.canvas->fillRect({0, y, 60, y + 1}, rgb(0, (y + offset) & 0xFF, 0));
    }
    return w.defaultHandling(m);
  });
  desktop.paintAll();
  paints = 0;
  offset = 10;
  grid.scroll(0, -10);
  EXPECT_EQ(desktop.screen().pixel(5, 0), rgb(0, 10, 0));  // moved, not repainted yet
  desktop.paintAll();
  EXPECT_EQ(paints, 1);
  EXPECT_EQ(lastClip, (Rect{0, 50, 60, 60}));
  for (int y = 0; y < 60; y += 7) EXPECT_EQ(desktop.screen().pixel(30, y), rgb(0, y + 10, 0)) << y;

  // With a window over the area the pixels are not ours to move: all of it is repainted.
  Window& over = desktop.create(nullptr, {20, 20, 30, 30});
  desktop.paintAll();
  paints = 0;
  offset = 0;
  grid.scroll(0, 10);
  desktop.paintAll();
  EXPECT_EQ(lastClip, (Rect{0, 0, 60, 60}));
  EXPECT_EQ(desktop.screen().pixel(5, 45), rgb(0, 45, 0));
  EXPECT_EQ(desktop.screen().pixel(25, 25), Colors::White);
  desktop.destroy(over.id());
}

TEST(Desktop, FocusKeysAndCharacters) {
  Desktop desktop(100, 100);
  Recorder rec;
  Window& a = desktop.create(nullptr, {0, 0, 50, 50});
  a.setProc(rec.proc("a"));
  Window& b = desktop.create(&a, {0, 0, 10, 10});
  b.setProc(rec.proc("b"));
  desktop.pumpPending();
  rec.seen.clear();
  desktop.setFocus(&b);
  desktop.setFocus(&a);
  EXPECT_EQ(rec.seen, (std::vector<std::string>{"b:setfocus", "b:killfocus", "a:setfocus"}));
  rec.seen.clear();
  desktop.pressKey(Key::Enter);
  desktop.typeText(u"1.");
  desktop.pumpPending();
  std::string enter = std::to_string(static_cast<int>(Key::Enter));
  EXPECT_EQ(rec.seen, (std::vector<std::string>{"a:key" + enter, "a:char\r", "a:char1", "a:char."}));

  // A key the child leaves alone goes up to its parent.
  desktop.setFocus(&b);
  rec.seen.clear();
  desktop.pressKey(Key::Down);
  desktop.pumpPending();
  std::string down = "key" + std::to_string(static_cast<int>(Key::Down));
  EXPECT_EQ(rec.seen, (std::vector<std::string>{"b:" + down, "a:" + down}));

  // Destroying the parent destroys the child and clears the focus.
  rec.seen.clear();
  desktop.destroy(a.id());
  EXPECT_EQ(rec.seen, (std::vector<std::string>{"a:destroy", "b:destroy"}));
  EXPECT_EQ(desktop.focus(), nullptr);
}

TEST(Desktop, ModalLoopsNestAndEnd) {
  HeadlessBackend backend;
  backend.setScript("key Enter\nkey Enter\n");
  Desktop desktop(100, 100, &backend);
  Window& main = desktop.create(nullptr, {0, 0, 100, 100});
  desktop.setFocus(&main);
  int innerResult = 0;
  Window& outer = desktop.create(nullptr, {0, 0, 50, 50});
  outer.setProc([&](Window& w, Message& m) -> int64_t {
    if (m.msg == Msg::KeyDown) {
      Window& inner = w.desktop().create(nullptr, {0, 0, 20, 20});
      inner.setProc([](Window& self, Message& im) -> int64_t {
        if (im.msg == Msg::KeyDown) self.desktop().endModal(self, 33);
        return self.defaultHandling(im);
      });
      innerResult = w.desktop().runModal(inner);
      EXPECT_EQ(w.desktop().focus(), &w);
      w.desktop().destroy(inner.id());
      w.desktop().endModal(w, 44);
    }
    return w.defaultHandling(m);
  });
  EXPECT_EQ(desktop.runModal(outer), 44);
  EXPECT_EQ(innerResult, 33);
  EXPECT_EQ(desktop.focus(), &main);  // the focus returns to where it was

  // A window that closes itself from its own handler ends its modal loop safely.
  Window& closing = desktop.create(nullptr, {0, 0, 10, 10});
  desktop.post(closing.id(), Msg::Close);
  EXPECT_EQ(desktop.runModal(closing), DialogResult::Cancel);

  // When input runs out inside a modal loop, every loop ends.
  Window& waiting = desktop.create(nullptr, {0, 0, 10, 10});
  EXPECT_EQ(desktop.runModal(waiting), DialogResult::Cancel);
  Message m;
  EXPECT_FALSE(desktop.getMessage(m));
  EXPECT_EQ(m.msg, Msg::Quit);
}

TEST(Desktop, ScriptProblemsAreReportedByLine) {
  HeadlessBackend backend;
  backend.setScript("key Down\nkey Sideways\nwait soon\nfrobnicate\nkey Ctrl+Home Shift+Tab\nquit 3\n");
  Desktop desktop(50, 50, &backend);
  std::vector<std::pair<int64_t, int64_t>> keys;
  Window& w = desktop.create(nullptr, {0, 0, 50, 50});
  w.setProc([&](Window& self, Message& m) -> int64_t {
    if (m.msg == Msg::KeyDown) keys.emplace_back(m.wParam, m.lParam);
    return self.defaultHandling(m);
  });
  desktop.setFocus(&w);
  EXPECT_EQ(desktop.run(), 3);
  ASSERT_EQ(backend.problems().size(), 3u);
  EXPECT_EQ(backend.problems()[0], "line 2: unknown key 'Sideways'");
  EXPECT_EQ(backend.problems()[1], "line 3: wait needs milliseconds");
  EXPECT_EQ(backend.problems()[2], "line 4: unknown command 'frobnicate'");
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[1], std::make_pair(static_cast<int64_t>(Key::Home), KeyMod::Ctrl));
  EXPECT_EQ(keys[2], std::make_pair(static_cast<int64_t>(Key::Tab), KeyMod::Shift));
  int64_t mods = 0;
  EXPECT_EQ(keyFromName("PAGEDOWN", mods), Key::PageDown);
  EXPECT_EQ(keyFromName("Meta+Up", mods), Key::None);
}

}  // namespace
}  // namespace kelp
