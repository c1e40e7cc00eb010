// The desktop's window tree, message queue, timers, focus, painting and modal loops.
#include "platform/ui/Desktop.h"

#include <algorithm>
#include <utility>

#include "platform/ui/Menu.h"

namespace kelp {

Desktop::Desktop(int width, int height, Backend* backend) : m_screen(width, height), m_backend(nullptr) {
  setBackend(backend);
  auto root = std::make_unique<Window>();
  root->m_desktop = this;
  root->m_id = m_nextId++;
  root->m_rect = m_screen.bounds();
  m_root = root.get();
  m_windows[root->m_id] = std::move(root);
  m_root->invalidate();
}

Desktop::~Desktop() {
  // Children go before parents so no destructor sees a freed parent.
  m_graveyard.clear();
  std::vector<Window*> order = paintOrder();
  for (auto it = order.rbegin(); it != order.rend(); ++it) m_windows.erase((*it)->m_id);
  m_windows.clear();
}

// ---- windows ----

void Desktop::adopt(std::unique_ptr<Window> window, Window* parent, const Rect& r) {
  Window* w = window.get();
  w->m_desktop = this;
  w->m_id = m_nextId++;
  w->m_parent = parent ? parent : m_root;
  w->m_rect = r;
  w->m_parent->m_children.push_back(w);
  m_windows[w->m_id] = std::move(window);
  send(w->m_id, Msg::Create);
  if (w->alive()) w->invalidate();
}

Window* Desktop::find(WindowId id) const {
  auto it = m_windows.find(id);
  return it != m_windows.end() && it->second->alive() ? it->second.get() : nullptr;
}

Rect Desktop::destroyTree(Window* w) {
  if (w->m_dead) return {};
  Rect covered = visibleScreenRect(w);
  send(w->m_id, Msg::Destroy);
  w->m_dead = true;
  if (MenuBar* bar = dynamic_cast<MenuBar*>(find(w->m_menuBar))) covered = covered.united(destroyTree(bar));
  std::vector<Window*> children = w->m_children;
  for (Window* child : children) destroyTree(child);
  std::erase_if(m_timers, [&](const Timer& t) { return t.window == w->m_id; });
  if (m_focus == w->m_id) m_focus = NoWindow;
  if (w->m_parent) std::erase(w->m_parent->m_children, w);
  auto it = m_windows.find(w->m_id);
  if (it != m_windows.end()) {
    m_graveyard.push_back(std::move(it->second));
    m_windows.erase(it);
  }
  return covered;
}

void Desktop::destroy(WindowId id) {
  Window* w = find(id);
  if (!w || w == m_root) return;
  invalidateScreen(destroyTree(w), m_root);
  releaseGraveyard();
}

void Desktop::releaseGraveyard() {
  if (m_graveyard.empty()) return;
  for (const auto& w : m_graveyard) {
    if (w->m_busy > 0) return;
  }
  m_graveyard.clear();
}

Window* Desktop::topLevelOf(Window* w) const {
  while (w && w->m_parent && w->m_parent != m_root) w = w->m_parent;
  return w && w->m_parent == m_root ? w : nullptr;
}

Window* Desktop::activeTopLevel() const {
  for (auto it = m_modal.rbegin(); it != m_modal.rend(); ++it) {
    if (Window* w = topLevelOf(find(it->window))) return w;
  }
  if (Window* w = topLevelOf(focus())) return w;
  for (auto it = m_root->m_children.rbegin(); it != m_root->m_children.rend(); ++it) {
    if ((*it)->m_visible && !dynamic_cast<MenuBar*>(*it)) return *it;
  }
  return nullptr;
}

// ---- messages ----

void Desktop::post(WindowId window, Msg msg, int64_t wParam, int64_t lParam, std::vector<uint8_t> data) {
  Message m;
  m.window = window;
  m.msg = msg;
  m.wParam = wParam;
  m.lParam = lParam;
  m.data = std::move(data);
  m_queue.push_back(std::move(m));
}

int64_t Desktop::send(WindowId window, Msg msg, int64_t wParam, int64_t lParam) {
  Message m;
  m.window = window;
  m.msg = msg;
  m.wParam = wParam;
  m.lParam = lParam;
  return send(m);
}

int64_t Desktop::send(Message& m) {
  Window* w = find(m.window);
  // Destroy goes to windows already marked dead, so look them up directly.
  if (!w && m.msg == Msg::Destroy) {
    auto it = m_windows.find(m.window);
    if (it != m_windows.end()) w = it->second.get();
  }
  if (!w) return 0;
  int64_t result = 0;
  deliver(w, m, &result);
  return result;
}

void Desktop::deliver(Window* w, Message& m, int64_t* result) {
  ++w->m_busy;
  int64_t r = w->handle(m);
  --w->m_busy;
  if (result) *result = r;
  releaseGraveyard();
}

void Desktop::postQuit(int exitCode) {
  m_exitCode = exitCode;
  m_quitPosted = true;
}

bool Desktop::nextReady(Message& m) {
  if (!m_queue.empty()) {
    m = std::move(m_queue.front());
    m_queue.pop_front();
    return true;
  }
  if (m_quitPosted) {
    m_quitPosted = false;
    m = Message{};
    m.msg = Msg::Quit;
    m.wParam = m_exitCode;
    return true;
  }
  uint64_t time = now();
  Timer* due = nullptr;
  for (Timer& t : m_timers) {
    if (t.due <= time && (!due || t.due < due->due)) due = &t;
  }
  if (due) {
    m = Message{};
    m.window = due->window;
    m.msg = Msg::Timer;
    m.wParam = due->id;
    // Keep the cadence, but a loop that fell behind gets one tick, not a burst.
    due->due += due->interval;
    if (due->due <= time) due->due = time + due->interval;
    return true;
  }
  for (Window* w : paintOrder()) {
    if (w->m_visible && !w->m_update.empty()) {
      m = Message{};
      m.window = w->m_id;
      m.msg = Msg::Paint;
      return true;
    }
  }
  return false;
}

bool Desktop::peekMessage(Message& m) {
  if (nextReady(m)) return true;
  for (auto& hook : m_idleHooks) hook();
  return nextReady(m);
}

bool Desktop::getMessage(Message& m) {
  for (;;) {
    if (peekMessage(m)) return m.msg != Msg::Quit;
    present();
    if (!m_backend || !m_backend->waitInput(*this, nextTimerDue())) {
      // No input will come again: end the loops as a quit would.
      if (!m_quitPosted) postQuit(m_exitCode);
    }
  }
}

void Desktop::dispatch(Message& m) {
  if (m.msg == Msg::Quit) return;
  Window* w = find(m.window);
  if (!w) return;
  if (m.msg == Msg::Paint && !m.canvas) {
    paintWindow(w);
    return;
  }
  deliver(w, m, nullptr);
}

int Desktop::run() {
  Message m;
  while (getMessage(m)) dispatch(m);
  return static_cast<int>(m.wParam);
}

void Desktop::pumpPending() {
  Message m;
  while (nextReady(m)) {
    if (m.msg == Msg::Quit) {
      postQuit(static_cast<int>(m.wParam));  // left for the loop that owns it
      return;
    }
    dispatch(m);
  }
}

int Desktop::runModal(Window& window, Window* focus) {
  WindowId id = window.id();
  WindowId previousFocus = m_focus;
  setFocus(focus ? focus : &window);
  m_modal.push_back({id, false, DialogResult::Cancel});
  ++m_modalsStarted;
  size_t depth = m_modal.size();
  Message m;
  for (;;) {
    if (m_modal[depth - 1].done || !find(id)) break;
    if (!getMessage(m)) {
      postQuit(static_cast<int>(m.wParam));
      break;
    }
    dispatch(m);
  }
  int result = m_modal[depth - 1].done ? m_modal[depth - 1].result : DialogResult::Cancel;
  m_modal.resize(depth - 1);
  if (Window* back = find(previousFocus)) setFocus(back);
  return result;
}

void Desktop::endModal(Window& window, int result) {
  for (auto it = m_modal.rbegin(); it != m_modal.rend(); ++it) {
    if (it->window == window.id() && !it->done) {
      it->done = true;
      it->result = result;
      return;
    }
  }
}

bool Desktop::inModal(WindowId id) const {
  return std::any_of(m_modal.begin(), m_modal.end(), [&](const ModalFrame& f) { return f.window == id; });
}

// ---- timers ----

void Desktop::setTimer(WindowId window, uint32_t timerId, uint32_t intervalMs) {
  if (!find(window)) return;
  intervalMs = std::max<uint32_t>(intervalMs, 1);
  uint64_t due = now() + intervalMs;
  for (Timer& t : m_timers) {
    if (t.window == window && t.id == timerId) {
      t.interval = intervalMs;
      t.due = due;
      return;
    }
  }
  m_timers.push_back({window, timerId, intervalMs, due});
}

bool Desktop::killTimer(WindowId window, uint32_t timerId) {
  return std::erase_if(m_timers, [&](const Timer& t) { return t.window == window && t.id == timerId; }) > 0;
}

uint64_t Desktop::now() const { return m_backend ? m_backend->now() : m_manualClock; }

uint64_t Desktop::nextTimerDue() const {
  uint64_t due = NoDeadline;
  for (const Timer& t : m_timers) due = std::min(due, t.due);
  return due;
}

// ---- input ----

void Desktop::setFocus(Window* w) {
  WindowId next = w && w->alive() ? w->m_id : NoWindow;
  if (next == m_focus) return;
  WindowId old = m_focus;
  m_focus = next;
  if (old != NoWindow) send(old, Msg::KillFocus, next);
  if (next != NoWindow && m_focus == next) send(next, Msg::SetFocus, old);
}

void Desktop::pressKey(Key key, int64_t mods) {
  if (key == Key::Soft1 || key == Key::Soft2) {
    Window* top = activeTopLevel();
    if (MenuBar* bar = top ? top->menuBar() : nullptr) {
      post(bar->id(), Msg::KeyDown, static_cast<int64_t>(key), mods);
      return;
    }
  }
  Window* target = focus();
  if (!target) target = activeTopLevel();
  if (!target) return;
  post(target->id(), Msg::KeyDown, static_cast<int64_t>(key), mods);
  char16_t c = key == Key::Enter ? u'\r' : key == Key::Back ? u'\b' : key == Key::Tab ? u'\t' : key == Key::Escape ? 0x1B : 0;
  if (c && !(mods & (KeyMod::Ctrl | KeyMod::Alt))) post(target->id(), Msg::Char, c, mods);
}

void Desktop::typeText(std::u16string_view text) {
  Window* target = focus();
  if (!target) target = activeTopLevel();
  if (!target) return;
  for (char16_t c : text) post(target->id(), Msg::Char, c);
}

Window* Desktop::windowAt(Point p) const {
  Window* w = activeTopLevel();
  if (!w || !w->m_visible || !w->screenRect().contains(p)) return nullptr;
  // The child drawn last lies on top.
  for (bool deeper = true; deeper;) {
    deeper = false;
    for (auto it = w->m_children.rbegin(); it != w->m_children.rend(); ++it) {
      if ((*it)->m_visible && (*it)->screenRect().contains(p)) {
        w = *it;
        deeper = true;
        break;
      }
    }
  }
  return w;
}

void Desktop::postPointer(Window* w, Msg msg, Point p) {
  const Rect r = w->screenRect();
  post(w->m_id, msg, p.x - r.left, p.y - r.top);
}

void Desktop::pointerDown(Point p) {
  if (int key = softKeyAt(p)) {
    pressKey(key == 1 ? Key::Soft1 : Key::Soft2);
    return;
  }
  Window* w = windowAt(p);
  m_pointerWindow = w ? w->m_id : NoWindow;
  if (w) postPointer(w, Msg::PointerDown, p);
}

void Desktop::pointerMove(Point p) {
  if (Window* w = find(m_pointerWindow)) postPointer(w, Msg::PointerMove, p);
}

void Desktop::pointerUp(Point p) {
  if (Window* w = find(std::exchange(m_pointerWindow, NoWindow))) postPointer(w, Msg::PointerUp, p);
}

void Desktop::wheel(Point p, int notches) {
  Window* w = windowAt(p);
  if (!w || notches == 0) return;
  const Rect r = w->screenRect();
  post(w->m_id, Msg::Wheel, notches, static_cast<int64_t>(p.y - r.top) << 16 | (p.x - r.left));
}

int Desktop::softKeyAt(Point p) const {
  Window* top = activeTopLevel();
  MenuBar* bar = top ? top->menuBar() : nullptr;
  if (!bar || !bar->visible()) return 0;
  Rect r = bar->screenRect();
  if (!r.contains(p)) return 0;
  return p.x < (r.left + r.right) / 2 ? 1 : 2;
}

void Desktop::requestClose() {
  for (Window* w : m_root->m_children) {
    if (!dynamic_cast<MenuBar*>(w)) {
      post(w->m_id, Msg::Close);
      return;
    }
  }
  postQuit(0);
}

// ---- painting ----

void Desktop::collect(Window* w, std::vector<Window*>& out) const {
  out.push_back(w);
  for (Window* child : w->m_children) collect(child, out);
}

std::vector<Window*> Desktop::paintOrder() const {
  std::vector<Window*> order;
  order.reserve(m_windows.size());
  collect(m_root, order);
  return order;
}

Rect Desktop::visibleScreenRect(const Window* w) const {
  Rect r = w->m_rect;
  if (!w->m_visible) return {};
  for (const Window* p = w->m_parent; p; p = p->m_parent) {
    if (!p->m_visible) return {};
    r = r.offset(p->m_rect.left, p->m_rect.top).intersected(p->screenRect());
  }
  return r.intersected(m_screen.bounds());
}

void Desktop::invalidateScreen(const Rect& screenRect, Window* from) {
  if (screenRect.empty() || !from) return;
  // A transparent window shows what lies under it, so that must be painted again first.
  while (from->m_transparent && from->m_parent) from = from->m_parent;
  bool started = false;
  for (Window* w : paintOrder()) {
    if (w == from) started = true;
    if (!started || !w->m_visible) continue;
    Rect part = screenRect.intersected(visibleScreenRect(w));
    if (part.empty()) continue;
    Rect origin = w->screenRect();
    w->m_update = w->m_update.united(part.offset(-origin.left, -origin.top));
  }
}

bool Desktop::hasInvalid() const {
  for (const auto& [id, w] : m_windows) {
    if (w->m_visible && !w->m_update.empty() && w->alive()) return true;
  }
  return false;
}

void Desktop::paintWindow(Window* w) {
  Rect update = w->m_update;
  w->m_update = {};
  Rect origin = w->screenRect();
  Rect area = visibleScreenRect(w).intersected(update.offset(origin.left, origin.top));
  if (area.empty()) return;
  Canvas canvas(m_screen);
  if (m_logging) canvas.setTextLog(&m_textLog);
  canvas.setOrigin({origin.left, origin.top});
  canvas.pushClip(area.offset(-origin.left, -origin.top));
  if (!w->m_transparent) canvas.fillRect(canvas.clip(), w->m_background);
  Message m;
  m.window = w->m_id;
  m.msg = Msg::Paint;
  m.canvas = &canvas;
  deliver(w, m, nullptr);
  m_dirty = m_dirty.united(area);
}

void Desktop::paintAll() {
  // A paint handler may invalidate other windows; a few passes settle it.
  for (int pass = 0; pass < 8 && hasInvalid(); ++pass) {
    // By id, since a paint handler may destroy windows later in the order.
    std::vector<WindowId> ids;
    for (Window* w : paintOrder()) ids.push_back(w->m_id);
    for (WindowId id : ids) {
      Window* w = find(id);
      if (w && w->m_visible && !w->m_update.empty()) paintWindow(w);
    }
  }
}

void Desktop::present() {
  if (m_dirty.empty()) return;
  if (m_backend) m_backend->present(m_screen, m_dirty);
  m_dirty = {};
}

}  // namespace kelp
