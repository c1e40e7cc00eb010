// The desktop: the window tree, the message queue and loop, timers, focus, painting, modal loops.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/ui/Canvas.h"
#include "platform/ui/FrameBuffer.h"
#include "platform/ui/Message.h"
#include "platform/ui/Window.h"

namespace kelp {

class Desktop;

constexpr uint64_t NoDeadline = std::numeric_limits<uint64_t>::max();

/// Where input, time and the finished picture go: a script without a display, or SDL.
class Backend {
 public:
  virtual ~Backend() = default;
  /// Milliseconds of a monotonic clock.
  virtual uint64_t now() const = 0;
  /// Waits until input arrives or the clock reaches `deadline`, handing input to the
  /// desktop; false when no input will ever come again.
  virtual bool waitInput(Desktop& desktop, uint64_t deadline) = 0;
  /// The screen changed inside `dirty`.
  virtual void present(const FrameBuffer& /*screen*/, const Rect& /*dirty*/) {}
  /// Whether the desktop should keep a log of drawn texts for this backend's users.
  virtual bool recordsText() const { return false; }
  /// The program's window title, where the display has a title bar.
  virtual void setTitle(std::u16string_view /*title*/) {}
};

/// Height of the soft-key bar along the bottom of the screen.
constexpr int SoftKeyBarHeight = 24;

class Desktop {
 public:
  /// A desktop without a backend has a clock that only advanceClock moves and ends its
  /// loops when nothing is left to do.
  Desktop(int width, int height, Backend* backend = nullptr);
  ~Desktop();
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  FrameBuffer& screen() { return m_screen; }
  Window& root() { return *m_root; }
  /// The screen above the soft-key bar.
  Rect workArea() const { return {0, 0, m_screen.width, m_screen.height - SoftKeyBarHeight}; }
  Rect softKeyArea() const { return {0, m_screen.height - SoftKeyBarHeight, m_screen.width, m_screen.height}; }
  void setBackend(Backend* backend) {
    m_backend = backend;
    if (backend && backend->recordsText()) m_logging = true;
  }
  Backend* backend() const { return m_backend; }

  // ---- windows ----
  /// Makes a window of type W under `parent` (the root when null) and sends it Create.
  template <class W = Window, class... Args>
  W& create(Window* parent, const Rect& r, Args&&... args) {
    auto window = std::make_unique<W>(std::forward<Args>(args)...);
    W& ref = *window;
    adopt(std::move(window), parent, r);
    return ref;
  }
  Window* find(WindowId id) const;
  /// Sends Destroy to the window and its children, then removes them; a window whose
  /// handler is running is deleted when that handler returns.
  void destroy(WindowId id);
  /// The child of the root that holds `w`.
  Window* topLevelOf(Window* w) const;
  /// The top-level window that receives soft keys: the innermost modal window, else the
  /// top-level window holding the focus, else the newest top-level window.
  Window* activeTopLevel() const;

  // ---- messages ----
  void post(WindowId window, Msg msg, int64_t wParam = 0, int64_t lParam = 0, std::vector<uint8_t> data = {});
  int64_t send(WindowId window, Msg msg, int64_t wParam = 0, int64_t lParam = 0);
  int64_t send(Message& m);
  void postQuit(int exitCode);
  /// The next message, waiting for input when there is none; false on Quit.
  bool getMessage(Message& m);
  /// Like getMessage without waiting: false when nothing is ready.
  bool peekMessage(Message& m);
  void dispatch(Message& m);
  /// Gets and dispatches until Quit; returns the exit code.
  int run();
  /// Dispatches what is ready without waiting (posted messages, due timers, paints).
  void pumpPending();
  int exitCode() const { return m_exitCode; }

  /// Gives the focus to `focus` (the window itself when null) and runs a nested loop
  /// until endModal(window) or the window goes; returns the result (Cancel when the
  /// window was destroyed or Quit arrived, which is posted again so that the outer loops
  /// end too). The focus then returns to where it was before the call.
  int runModal(Window& window, Window* focus = nullptr);
  void endModal(Window& window, int result);
  bool inModal(WindowId id) const;
  /// Whether any modal loop runs (a message box, dialog or menu is up).
  bool modalRunning() const { return !m_modal.empty(); }
  /// How many modal loops have started (menus, boxes and dialogs), for tests that ask
  /// whether a command showed anything.
  uint64_t modalLoopsStarted() const { return m_modalsStarted; }

  // ---- timers and time ----
  void setTimer(WindowId window, uint32_t timerId, uint32_t intervalMs);
  bool killTimer(WindowId window, uint32_t timerId);
  uint64_t now() const;
  /// Moves the clock of a desktop without a backend.
  void advanceClock(uint64_t ms) { m_manualClock += ms; }
  /// The earliest time a timer is due, NoDeadline when none runs.
  uint64_t nextTimerDue() const;

  // ---- input ----
  void setFocus(Window* w);
  Window* focus() const { return find(m_focus); }
  /// A key press as the device delivers it: soft keys go to the active window's
  /// soft-key bar, other keys to the focus as KeyDown; Enter, Back, Tab and Escape
  /// then also arrive as characters (\r, \b, \t, 0x1B), as the handheld's input did.
  void pressKey(Key key, int64_t mods = 0);
  /// Typed text arrives at the focus as one Char message per UTF-16 unit.
  void typeText(std::u16string_view text);
  /// A press at a screen point: on a soft key's label it presses the key; otherwise the
  /// deepest visible window under it in the active top-level window gets PointerDown, and
  /// the moves and the release that follow until pointerUp.
  void pointerDown(Point p);
  void pointerMove(Point p);
  void pointerUp(Point p);
  /// Wheel notches over a screen point, to the window under it.
  void wheel(Point p, int notches);
  /// The soft key whose label is at a screen point: 1, 2, or 0 for none.
  int softKeyAt(Point p) const;
  /// Posts Close to the first top-level window (the system asked the program to end).
  void requestClose();

  // ---- painting ----
  bool hasInvalid() const;
  /// Paints every invalid window now, back to front.
  void paintAll();
  /// Everything painted since the last present, in screen coordinates.
  Rect dirtyArea() const { return m_dirty; }
  void present();
  /// Records every text drawn on the screen (the headless backend turns this on).
  void setTextLogging(bool on) { m_logging = on; }
  TextLog& textLog() { return m_textLog; }

  /// Called whenever the loop runs out of work, before it waits (single-instance polling).
  void addIdleHook(std::function<void()> hook) { m_idleHooks.push_back(std::move(hook)); }

 private:
  friend class Window;
  struct Timer {
    WindowId window;
    uint32_t id;
    uint32_t interval;
    uint64_t due;
  };
  struct ModalFrame {
    WindowId window;
    bool done;
    int result;
  };

  void adopt(std::unique_ptr<Window> window, Window* parent, const Rect& r);
  Rect destroyTree(Window* w);  // returns the screen area the window and its bar covered
  void deliver(Window* w, Message& m, int64_t* result);
  void invalidateScreen(const Rect& screenRect, Window* from);
  bool nextReady(Message& m);
  void paintWindow(Window* w);
  void collect(Window* w, std::vector<Window*>& out) const;
  Rect visibleScreenRect(const Window* w) const;
  Window* windowAt(Point p) const;
  void postPointer(Window* w, Msg msg, Point p);
  void releaseGraveyard();
  std::vector<Window*> paintOrder() const;

  FrameBuffer m_screen;
  Backend* m_backend;
  uint64_t m_manualClock = 0;
  std::unordered_map<WindowId, std::unique_ptr<Window>> m_windows;
  Window* m_root = nullptr;
  WindowId m_nextId = 1;
  std::deque<Message> m_queue;
  std::vector<Timer> m_timers;
  std::vector<ModalFrame> m_modal;
  uint64_t m_modalsStarted = 0;
  WindowId m_pointerWindow = NoWindow;  // the window a press went to, until the release
  WindowId m_focus = NoWindow;
  bool m_quitPosted = false;
  int m_exitCode = 0;
  Rect m_dirty;
  bool m_logging = false;
  TextLog m_textLog;
  std::vector<std::function<void()>> m_idleHooks;
  // Destroyed windows wait here until none of their handlers is still running.
  std::vector<std::unique_ptr<Window>> m_graveyard;
};

}  // namespace kelp
