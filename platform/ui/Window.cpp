// Window geometry, visibility, invalidation and default message handling.
#include "platform/ui/Window.h"

#include "platform/ui/Desktop.h"
#include "platform/ui/Menu.h"

namespace kelp {

Rect Window::screenRect() const {
  Rect r = m_rect;
  for (const Window* p = m_parent; p; p = p->m_parent) r = r.offset(p->m_rect.left, p->m_rect.top);
  return r;
}

void Window::move(const Rect& r) {
  if (r == m_rect) return;
  if (m_visible && m_parent) m_desktop->invalidateScreen(screenRect(), m_parent);
  m_rect = r;
  m_desktop->send(m_id, Msg::Size, r.width(), r.height());
  invalidate();
}

void Window::show(bool on) {
  if (on == m_visible) return;
  if (!on && m_parent) m_desktop->invalidateScreen(screenRect(), m_parent);
  m_visible = on;
  if (on) invalidate();
}

void Window::setText(std::u16string_view text) {
  if (text == m_text) return;
  m_text = text;
  invalidate();
}

void Window::invalidate() { invalidate(clientRect()); }

void Window::invalidate(const Rect& r) {
  if (m_dead) return;
  Rect screen = screenRect();
  m_desktop->invalidateScreen(r.intersected(clientRect()).offset(screen.left, screen.top), this);
}

void Window::scroll(int dx, int dy, const Rect& area) {
  if (m_dead || (dx == 0 && dy == 0)) return;
  Rect a = area.empty() ? clientRect() : area.intersected(clientRect());
  if (a.empty()) return;
  if (std::abs(dx) >= a.width() || std::abs(dy) >= a.height()) {
    invalidate(a);
    return;
  }
  Rect screen = screenRect();
  Rect screenArea = a.offset(screen.left, screen.top).intersected(m_desktop->visibleScreenRect(this));
  // Pixels can only be moved when they are this window's own and up to date: a window
  // painted over the area, or a part still waiting for its paint, makes it repaint instead.
  bool movable = !screenArea.empty() && !m_update.intersects(a);
  std::vector<Window*> order = m_desktop->paintOrder();
  bool after = false;
  for (Window* w : order) {
    if (w == this) {
      after = true;
    } else if (after && w->m_visible && m_desktop->visibleScreenRect(w).intersects(screenArea)) {
      movable = false;
    }
  }
  if (!movable) {
    invalidate(a);
    return;
  }
  Canvas canvas(m_desktop->screen());
  if (m_desktop->m_logging) canvas.setTextLog(&m_desktop->m_textLog);
  canvas.pushClip(screenArea);
  canvas.scrollRect(screenArea, dx, dy);
  m_desktop->m_dirty = m_desktop->m_dirty.united(screenArea);
  if (dx > 0) invalidate({a.left, a.top, a.left + dx, a.bottom});
  if (dx < 0) invalidate({a.right + dx, a.top, a.right, a.bottom});
  if (dy > 0) invalidate({a.left, a.top, a.right, a.top + dy});
  if (dy < 0) invalidate({a.left, a.bottom + dy, a.right, a.bottom});
}

bool Window::drawNow(const Rect& area, const std::function<void(Canvas&)>& draw) {
  if (m_dead) return false;
  Rect screen = screenRect();
  Rect visible = m_desktop->visibleScreenRect(this).intersected(area.offset(screen.left, screen.top));
  if (visible.empty()) return false;
  bool after = false;
  for (Window* w : m_desktop->paintOrder()) {
    if (w == this) {
      after = true;
    } else if (after && w->m_visible && m_desktop->visibleScreenRect(w).intersects(visible)) {
      return false;
    }
  }
  Canvas canvas(m_desktop->screen());
  if (m_desktop->m_logging) canvas.setTextLog(&m_desktop->m_textLog);
  canvas.setOrigin({screen.left, screen.top});
  canvas.pushClip(visible.offset(-screen.left, -screen.top));
  draw(canvas);
  m_desktop->m_dirty = m_desktop->m_dirty.united(visible);
  return true;
}

void Window::setMenuBar(MenuBar* bar) { m_menuBar = bar ? bar->id() : NoWindow; }

MenuBar* Window::menuBar() const { return dynamic_cast<MenuBar*>(m_desktop->find(m_menuBar)); }

int64_t Window::onMessage(Message& m) { return defaultHandling(m); }

int64_t Window::defaultHandling(Message& m) {
  switch (m.msg) {
    case Msg::Close:
      m_desktop->destroy(m_id);
      return 0;
    case Msg::KeyDown:
      // Keys a control does not use go up to its parent, so that a dialog can move the
      // focus between controls; top-level windows keep them.
      if (m_parent && m_parent != &m_desktop->root()) {
        Message up = m;
        up.window = m_parent->id();
        return m_desktop->send(up);
      }
      return 0;
    default:
      return 0;
  }
}

}  // namespace kelp
