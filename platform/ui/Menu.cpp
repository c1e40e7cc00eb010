// Menus, the soft-key bar and the popup menu window with its keys.
#include "platform/ui/Menu.h"

#include <algorithm>

#include "platform/ui/Canvas.h"
#include "platform/ui/Desktop.h"

namespace kelp {

// ---- Menu ----

MenuItem& Menu::append(uint32_t id, std::u16string_view text, uint32_t flags) {
  return insert(m_items.size(), id, text, flags);
}

Menu& Menu::appendPopup(std::u16string_view text, uint32_t flags) {
  MenuItem& item = append(0, text, flags);
  item.submenu = std::make_unique<Menu>();
  return *item.submenu;
}

void Menu::appendSeparator() { append(0, u"", MenuFlag::Separator); }

MenuItem& Menu::insert(size_t position, uint32_t id, std::u16string_view text, uint32_t flags) {
  position = std::min(position, m_items.size());
  MenuItem item;
  item.id = id;
  item.text = text;
  item.flags = flags;
  return *m_items.insert(m_items.begin() + static_cast<std::ptrdiff_t>(position), std::move(item));
}

void Menu::removeAt(size_t position) {
  if (position < m_items.size()) m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(position));
}

bool Menu::remove(uint32_t id) {
  for (size_t i = 0; i < m_items.size(); ++i) {
    if (m_items[i].id == id && !m_items[i].submenu && !m_items[i].separator()) {
      removeAt(i);
      return true;
    }
    if (m_items[i].submenu && m_items[i].submenu->remove(id)) return true;
  }
  return false;
}

MenuItem* Menu::find(uint32_t id) {
  for (MenuItem& item : m_items) {
    if (item.id == id && !item.separator() && (id != 0 || !item.submenu)) return &item;
    if (item.submenu) {
      if (MenuItem* inner = item.submenu->find(id)) return inner;
    }
  }
  return nullptr;
}

int Menu::indexOf(uint32_t id) const {
  for (size_t i = 0; i < m_items.size(); ++i) {
    if (m_items[i].id == id && !m_items[i].separator()) return static_cast<int>(i);
  }
  return -1;
}

bool Menu::enable(uint32_t id, bool on) {
  MenuItem* item = find(id);
  if (!item) return false;
  item->flags = on ? item->flags & ~MenuFlag::Gray : item->flags | MenuFlag::Gray;
  return true;
}

bool Menu::check(uint32_t id, bool on) {
  MenuItem* item = find(id);
  if (!item) return false;
  item->flags = on ? item->flags | MenuFlag::Checked : item->flags & ~MenuFlag::Checked;
  return true;
}

bool Menu::setText(uint32_t id, std::u16string_view text) {
  MenuItem* item = find(id);
  if (!item) return false;
  item->text = text;
  return true;
}

FontSpec systemFont() {
  FontSpec font;
  font.face = u"Tahoma";
  font.height = 12;
  return font;
}

// ---- popup window ----

namespace {

constexpr int CloseAll = -1;  // a soft key closes every open level at once
constexpr int DigitColumn = 10;  // the digit that chooses the item, for the first nine
constexpr int CheckColumn = 14;
constexpr int ArrowColumn = 12;

int rowHeight() { return fontMetrics(systemFont()).lineHeight + 4; }
int separatorHeight() { return 5; }

class PopupWindow : public Window {
 public:
  explicit PopupWindow(Menu& menu) : m_menu(menu) {
    for (size_t i = 0; i < menu.count(); ++i) {
      if (!menu.item(i).separator()) {
        m_selected = static_cast<int>(i);
        break;
      }
    }
  }

  static Rect sizeFor(Menu& menu, const Desktop& desktop) {
    FontSpec font = systemFont();
    int width = 40, height = 2;
    for (size_t i = 0; i < menu.count(); ++i) {
      const MenuItem& item = menu.item(i);
      height += item.separator() ? separatorHeight() : rowHeight();
      width = std::max(width, textWidth(font, item.text) + DigitColumn + CheckColumn + ArrowColumn + 6);
    }
    Rect work = desktop.workArea();
    return {0, 0, std::min(width, work.width()), std::min(height, work.height())};
  }

 protected:
  int64_t onMessage(Message& m) override {
    switch (m.msg) {
      case Msg::Paint:
        paint(*m.canvas);
        return 0;
      case Msg::KeyDown:
        key(static_cast<Key>(m.wParam));
        return 0;
      case Msg::Char:
        if (m.wParam >= u'1' && m.wParam <= u'9') chooseNumber(static_cast<int>(m.wParam - u'0'));
        return 0;
      default:
        return defaultHandling(m);
    }
  }

 private:
  Rect itemRect(int index) const {
    int y = 1;
    for (int i = 0; i < index; ++i) y += m_menu.item(static_cast<size_t>(i)).separator() ? separatorHeight() : rowHeight();
    int h = m_menu.item(static_cast<size_t>(index)).separator() ? separatorHeight() : rowHeight();
    return {1, y, rect().width() - 1, y + h};
  }

  void paint(Canvas& c) {
    FontSpec font = systemFont();
    c.frameRect(clientRect(), Colors::Black);
    int number = 0;
    for (size_t i = 0; i < m_menu.count(); ++i) {
      const MenuItem& item = m_menu.item(i);
      Rect r = itemRect(static_cast<int>(i));
      if (item.separator()) {
        c.fillRect({r.left + 2, r.top + 2, r.right - 2, r.top + 3}, Colors::Gray);
        continue;
      }
      bool selected = static_cast<int>(i) == m_selected;
      if (selected) c.fillRect(r, Colors::Highlight);
      Color ink = item.gray() ? Colors::GrayText : selected ? Colors::HighlightText : Colors::Black;
      FontSpec f = font;
      f.color = ink;
      // The digit that chooses the item; the handheld's keypad has 1 to 9.
      if (++number <= 9) {
        FontSpec digit = f;
        if (!selected) digit.color = Colors::GrayText;
        const char16_t text = static_cast<char16_t>(u'0' + number);
        c.drawTextBox({r.left + 2, r.top, r.left + DigitColumn, r.bottom}, std::u16string_view(&text, 1), digit,
                      TextFlag::VCenter);
      }
      const int x = r.left + DigitColumn;
      c.drawTextBox({x + CheckColumn, r.top, r.right - ArrowColumn, r.bottom}, item.text, f, TextFlag::VCenter);
      int mid = (r.top + r.bottom) / 2;
      if (item.checked()) {
        Pen pen{ink, 2, PenStyle::Solid};
        c.drawLine({x + 3, mid}, {x + 6, mid + 3}, pen);
        c.drawLine({x + 6, mid + 3}, {x + 11, mid - 3}, pen);
      }
      if (item.submenu) {
        int x = r.right - ArrowColumn + 4;
        c.fillPolygon({{x, mid - 4}, {x + 4, mid}, {x, mid + 4}}, ink);
      }
    }
  }

  void moveSelection(int step) {
    int n = static_cast<int>(m_menu.count());
    for (int k = 1; k <= n; ++k) {
      int i = ((m_selected + step * k) % n + n) % n;
      if (!m_menu.item(static_cast<size_t>(i)).separator()) {
        m_selected = i;
        invalidate();
        return;
      }
    }
  }

  void activate() {
    if (m_selected < 0 || m_selected >= static_cast<int>(m_menu.count())) return;
    MenuItem& item = m_menu.item(static_cast<size_t>(m_selected));
    if (item.gray() || item.separator()) return;
    if (!item.submenu) {
      desktop().endModal(*this, static_cast<int>(item.id));
      return;
    }
    Rect mine = screenRect();
    Rect size = sizeFor(*item.submenu, desktop());
    Rect at = itemRect(m_selected).offset(mine.left, mine.top);
    Rect work = desktop().workArea();
    // Beside the parent, on the side with room (left of a menu at the right edge), level
    // with its item; over the parent only when the screen is too narrow for both.
    int left = mine.right - 1;
    if (left + size.width() > work.right) left = mine.left - size.width() + 1;
    if (left < 0) left = std::max(0, work.right - size.width());
    int top = std::clamp(at.top - 1, 0, std::max(0, work.bottom - size.height()));
    PopupWindow& child = desktop().create<PopupWindow>(nullptr, size.offset(left, top), *item.submenu);
    int chosen = desktop().runModal(child);
    desktop().destroy(child.id());
    if (chosen != 0 && alive()) desktop().endModal(*this, chosen);
  }

  void chooseNumber(int number) {
    int seen = 0;
    for (size_t i = 0; i < m_menu.count(); ++i) {
      if (m_menu.item(i).separator()) continue;
      if (++seen == number) {
        m_selected = static_cast<int>(i);
        invalidate();
        activate();
        return;
      }
    }
  }

  void key(Key k) {
    switch (k) {
      case Key::Up: moveSelection(-1); break;
      case Key::Down: moveSelection(1); break;
      case Key::Enter:
      case Key::Right: activate(); break;
      case Key::Left:
      case Key::Back:
      case Key::Escape: desktop().endModal(*this, 0); break;
      case Key::Soft1:
      case Key::Soft2: desktop().endModal(*this, CloseAll); break;
      default: break;
    }
  }

  Menu& m_menu;
  int m_selected = -1;
};

}  // namespace

uint32_t trackPopupMenu(Desktop& desktop, Menu& menu, bool anchorRight) {
  if (menu.count() == 0) return 0;
  Rect size = PopupWindow::sizeFor(menu, desktop);
  Rect work = desktop.workArea();
  int left = anchorRight ? work.right - size.width() : 0;
  PopupWindow& popup = desktop.create<PopupWindow>(nullptr, size.offset(left, work.bottom - size.height()), menu);
  int chosen = desktop.runModal(popup);
  desktop.destroy(popup.id());
  return chosen > 0 ? static_cast<uint32_t>(chosen) : 0;
}

// ---- MenuBar ----

void MenuBar::setKey(int index, std::u16string_view label, uint32_t command) {
  SoftKey& k = key(index);
  k.label = label;
  k.command = command;
  k.popup.reset();
  invalidate();
}

Menu& MenuBar::setPopup(int index, std::u16string_view label) {
  SoftKey& k = key(index);
  k.label = label;
  k.command = 0;
  k.popup = std::make_unique<Menu>();
  invalidate();
  return *k.popup;
}

void MenuBar::enableKey(int index, bool on) {
  key(index).enabled = on;
  invalidate();
}

MenuItem* MenuBar::findItem(uint32_t id) {
  for (SoftKey& k : m_keys) {
    if (k.popup) {
      if (MenuItem* item = k.popup->find(id)) return item;
    }
  }
  return nullptr;
}

void MenuBar::setStatus(std::u16string_view whole, std::u16string_view brief) {
  if (whole == m_status && brief == m_briefStatus) return;
  m_status = whole;
  m_briefStatus = brief;
  invalidate();
}

void MenuBar::press(int index) {
  SoftKey& k = key(index);
  if (!k.enabled) return;
  WindowId owner = m_owner;
  if (k.popup) {
    uint32_t chosen = trackPopupMenu(desktop(), *k.popup, index == 1);
    if (chosen) desktop().post(owner, Msg::Command, chosen, 0);
  } else if (k.command) {
    desktop().post(owner, Msg::Command, k.command, 0);
  }
}

int64_t MenuBar::onMessage(Message& m) {
  switch (m.msg) {
    case Msg::Paint: {
      Canvas& c = *m.canvas;
      Rect r = clientRect();
      c.fillRect(r, Colors::ButtonFace);
      c.fillRect({r.left, r.top, r.right, r.top + 1}, Colors::Gray);
      int half = r.width() / 2;
      FontSpec labelFont = systemFont();
      labelFont.weight = 700;
      for (int i = 0; i < 2; ++i) {
        FontSpec font = labelFont;
        font.color = m_keys[i].enabled ? Colors::Black : Colors::GrayText;
        Rect box = i == 0 ? Rect{r.left + 4, r.top + 1, r.left + half - 2, r.bottom}
                          : Rect{r.left + half + 2, r.top + 1, r.right - 4, r.bottom};
        c.drawTextBox(box, m_keys[i].label, font, TextFlag::VCenter | (i == 0 ? TextFlag::Left : TextFlag::Right));
      }
      // The status goes in the room the labels leave, the whole text or its brief form.
      const int left = r.left + 4 + textWidth(labelFont, m_keys[0].label) + 8;
      const int right = r.right - 4 - textWidth(labelFont, m_keys[1].label) - 8;
      FontSpec statusFont = systemFont();
      statusFont.color = Colors::GrayText;
      m_shownStatus.clear();
      for (const std::u16string* text : {&m_status, &m_briefStatus}) {
        if (!text->empty() && textWidth(statusFont, *text) <= right - left) {
          m_shownStatus = *text;
          break;
        }
      }
      if (m_shownStatus.empty()) {
        c.fillRect({r.left + half, r.top + 5, r.left + half + 1, r.bottom - 4}, Colors::Gray);
      } else {
        c.drawTextBox({left, r.top + 1, right, r.bottom}, m_shownStatus, statusFont, TextFlag::VCenter | TextFlag::Center);
      }
      return 0;
    }
    case Msg::KeyDown:
      if (m.wParam == static_cast<int64_t>(Key::Soft1)) press(0);
      if (m.wParam == static_cast<int64_t>(Key::Soft2)) press(1);
      return 0;
    default:
      return defaultHandling(m);
  }
}

MenuBar& createMenuBar(Desktop& desktop, Window& owner) {
  MenuBar& bar = desktop.create<MenuBar>(nullptr, desktop.softKeyArea(), owner.id());
  owner.setMenuBar(&bar);
  return bar;
}

}  // namespace kelp
