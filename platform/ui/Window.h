// A window: a rectangle in the window tree with a procedure that handles its messages.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Message.h"

namespace kelp {

class Desktop;
class MenuBar;

/// Windows are made by Desktop::create and owned by the desktop; code that keeps a
/// window across messages keeps its id, since a destroyed window's id finds nothing.
class Window {
 public:
  using Proc = std::function<int64_t(Window&, Message&)>;

  Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  virtual ~Window() = default;

  WindowId id() const { return m_id; }
  Desktop& desktop() const { return *m_desktop; }
  Window* parent() const { return m_parent; }
  const std::vector<Window*>& children() const { return m_children; }
  bool alive() const { return !m_dead; }

  /// The rectangle in the parent's client coordinates.
  Rect rect() const { return m_rect; }
  Rect clientRect() const { return {0, 0, m_rect.width(), m_rect.height()}; }
  Rect screenRect() const;
  void move(const Rect& r);

  bool visible() const { return m_visible; }
  void show(bool on);

  const std::u16string& text() const { return m_text; }
  void setText(std::u16string_view text);

  /// Filled before each paint; transparent windows draw over what lies below them.
  void setBackground(Color c) { m_background = c; m_transparent = false; }
  void setTransparent() { m_transparent = true; }
  Color background() const { return m_background; }

  /// Marks the whole client area, or `r` in client coordinates, for repainting.
  void invalidate();
  void invalidate(const Rect& r);
  /// Moves the pixels of `area` (client coordinates, whole client when empty) by (dx, dy)
  /// and invalidates what came into view; covered areas are simply repainted.
  void scroll(int dx, int dy, const Rect& area = {});
  /// Draws on the window's pixels inside `area` (client coordinates) at once, outside a
  /// paint, as quick changes such as moving an inverted highlight need. False, drawing
  /// nothing, when that part is hidden or another window lies over it; the caller then
  /// repaints instead.
  bool drawNow(const Rect& area, const std::function<void(Canvas&)>& draw);

  /// A procedure replaces the window's own handling; it may call defaultHandling.
  void setProc(Proc proc) { m_proc = std::move(proc); }
  int64_t defaultHandling(Message& m);

  /// The soft-key bar shown while this top-level window is active.
  void setMenuBar(MenuBar* bar);
  MenuBar* menuBar() const;

  /// Whether the window takes part in moving the focus between a dialog's controls.
  virtual bool focusable() const { return false; }

 protected:
  /// Subclasses handle messages here and pass what they do not handle to defaultHandling.
  virtual int64_t onMessage(Message& m);

 private:
  friend class Desktop;
  int64_t handle(Message& m) { return m_proc ? m_proc(*this, m) : onMessage(m); }

  Desktop* m_desktop = nullptr;
  WindowId m_id = NoWindow;
  Window* m_parent = nullptr;
  std::vector<Window*> m_children;
  Rect m_rect;
  Rect m_update;  // client coordinates
  bool m_visible = true;
  bool m_dead = false;
  int m_busy = 0;  // nested handler calls; a destroyed window is deleted when this is 0
  Color m_background = Colors::White;
  bool m_transparent = false;
  std::u16string m_text;
  Proc m_proc;
  WindowId m_menuBar = NoWindow;
};

}  // namespace kelp
