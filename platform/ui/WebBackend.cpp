// The web backend: input from the page's thread through a queue, the screen back as RGBA.
// The single-threaded build (no shared memory) waits by handing the browser back its
// thread: emscripten_sleep unwinds Kelp's stack, nested modal loops included, and resumes it.
#include "platform/ui/WebBackend.h"

#include <emscripten.h>
#include <emscripten/threading.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/Clipboard.h"
#include "platform/Text.h"

namespace kelp {

namespace {

struct Event {
  enum Kind { KeyPress, Character, PointerDown, PointerMove, PointerUp, Open } kind;
  int a = 0, b = 0, c = 0;
  std::u16string path;
};

// Shared by the page's thread (which pushes events and takes pictures) and Kelp's.
struct Channel {
  std::mutex lock;
  std::condition_variable arrived;
  std::deque<Event> events;
  uint32_t pushed = 0;     // events handed over so far
  uint32_t handled = 0;    // events Kelp has taken
  uint32_t idleAfter = 0;  // `handled` when Kelp last ran out of work, its screen presented
  uint32_t generation = 0; // presents so far
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;      // the last presented screen
  std::vector<uint8_t> snapshot;  // the page's copy of it
  std::u16string clipboard;       // the last text either side put on the clipboard
};

Channel& channel() {
  static Channel c;
  return c;
}

void push(Event e) {
  Channel& c = channel();
  {
    std::lock_guard<std::mutex> hold(c.lock);
    c.events.push_back(std::move(e));
    ++c.pushed;
  }
#ifdef __EMSCRIPTEN_PTHREADS__
  c.arrived.notify_one();
#endif
}

// The browser's clipboard answers only on the page's thread and only later, so Kelp
// writes to it there and reads the last text either side copied.
class WebClipboard : public SystemTextClipboard {
 public:
  bool setText(const std::u16string& text) override {
    {
      std::lock_guard<std::mutex> hold(channel().lock);
      channel().clipboard = text;
    }
    char* copy = strdup(utf16ToUtf8(text).c_str());
    MAIN_THREAD_ASYNC_EM_ASM(
        {
          const text = UTF8ToString($0);
          _free($0);
          if (navigator.clipboard) navigator.clipboard.writeText(text).catch(function() {});
        },
        copy);
    return true;
  }
  bool getText(std::u16string& out) override {
    std::lock_guard<std::mutex> hold(channel().lock);
    if (channel().clipboard.empty()) return false;
    out = channel().clipboard;
    return true;
  }
};

WebClipboard g_clipboard;

}  // namespace

WebBackend::WebBackend(int width, int height) {
  Channel& c = channel();
  std::lock_guard<std::mutex> hold(c.lock);
  c.width = width;
  c.height = height;
  c.rgba.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 4, 255);
  installSystemTextClipboard(&g_clipboard);
}

WebBackend::~WebBackend() { installSystemTextClipboard(nullptr); }

uint64_t WebBackend::now() const {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

bool WebBackend::waitInput(Desktop& desktop, uint64_t deadline) {
  Channel& c = channel();
  std::deque<Event> events;
#ifndef __EMSCRIPTEN_PTHREADS__
  if (c.events.empty()) {
    c.idleAfter = c.handled;
    // Events arrive only while the page has its thread, so the wait is short: a key waits
    // for at most one step.
    const uint64_t time = now();
    emscripten_sleep(static_cast<unsigned>(deadline <= time ? 0 : std::min<uint64_t>(deadline - time, 10)));
  }
#endif
  {
    std::unique_lock<std::mutex> hold(c.lock);
#ifdef __EMSCRIPTEN_PTHREADS__
    if (c.events.empty()) {
      c.idleAfter = c.handled;
      // Short waits let idle work run a few times a second.
      const uint64_t time = now();
      const uint64_t wait = deadline <= time ? 0 : std::min<uint64_t>(deadline - time, 50);
      c.arrived.wait_for(hold, std::chrono::milliseconds(wait), [&c] { return !c.events.empty(); });
    }
#endif
    // One event a step, so that each sees the effects of the ones before it.
    if (!c.events.empty()) {
      events.push_back(std::move(c.events.front()));
      c.events.pop_front();
      ++c.handled;
    }
  }
  for (Event& e : events) {
    switch (e.kind) {
      case Event::KeyPress: desktop.pressKey(static_cast<Key>(e.a), e.b); break;
      case Event::Character: {
        const char16_t unit = static_cast<char16_t>(e.a);
        desktop.typeText(std::u16string_view(&unit, 1));
        break;
      }
      case Event::PointerDown: desktop.pointerDown({e.a, e.b}); break;
      case Event::PointerMove: desktop.pointerMove({e.a, e.b}); break;
      case Event::PointerUp: desktop.pointerUp({e.a, e.b}); break;
      case Event::Open:
        if (m_open) m_open(e.path);
        break;
    }
  }
  return true;
}

void WebBackend::present(const FrameBuffer& screen, const Rect&) {
  Channel& c = channel();
  std::lock_guard<std::mutex> hold(c.lock);
  if (screen.width != c.width || screen.height != c.height) return;
  uint8_t* out = c.rgba.data();
  for (uint32_t p : screen.pixels) {
    *out++ = static_cast<uint8_t>(p >> 16);
    *out++ = static_cast<uint8_t>(p >> 8);
    *out++ = static_cast<uint8_t>(p);
    *out++ = 255;
  }
  ++c.generation;
}

}  // namespace kelp

// The page's side. Each may be called at any time from the page's thread.
extern "C" {

EMSCRIPTEN_KEEPALIVE void kelp_web_key(int key, int mods) { kelp::push({kelp::Event::KeyPress, key, mods}); }

EMSCRIPTEN_KEEPALIVE void kelp_web_char(int unit) { kelp::push({kelp::Event::Character, unit}); }

/// kind 0 press, 1 move, 2 release, at screen pixels.
EMSCRIPTEN_KEEPALIVE void kelp_web_pointer(int kind, int x, int y) {
  const auto k = kind == 0 ? kelp::Event::PointerDown : kind == 1 ? kelp::Event::PointerMove : kelp::Event::PointerUp;
  kelp::push({k, x, y});
}

EMSCRIPTEN_KEEPALIVE void kelp_web_open(const char* path) {
  kelp::Event e{kelp::Event::Open};
  e.path = kelp::utf8ToUtf16(path);
  kelp::push(std::move(e));
}

/// Text the user pasted into the page becomes what Kelp pastes.
EMSCRIPTEN_KEEPALIVE void kelp_web_clipboard(const char* text) {
  std::lock_guard<std::mutex> hold(kelp::channel().lock);
  kelp::channel().clipboard = kelp::utf8ToUtf16(text);
}

/// Presents so far; the page copies a picture only when this moved.
EMSCRIPTEN_KEEPALIVE uint32_t kelp_web_generation() {
  std::lock_guard<std::mutex> hold(kelp::channel().lock);
  return kelp::channel().generation;
}

/// Whether Kelp has taken every event and is waiting with its screen presented.
EMSCRIPTEN_KEEPALIVE int kelp_web_idle() {
  kelp::Channel& c = kelp::channel();
  std::lock_guard<std::mutex> hold(c.lock);
  return c.events.empty() && c.idleAfter == c.pushed ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE int kelp_web_width() { return kelp::channel().width; }
EMSCRIPTEN_KEEPALIVE int kelp_web_height() { return kelp::channel().height; }

/// A copy of the last presented screen, RGBA, width × height, valid until the next call.
EMSCRIPTEN_KEEPALIVE const uint8_t* kelp_web_snapshot() {
  kelp::Channel& c = kelp::channel();
  std::lock_guard<std::mutex> hold(c.lock);
  c.snapshot = c.rgba;
  return c.snapshot.data();
}

}  // extern "C"
