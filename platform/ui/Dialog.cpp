// The dialog window and its controls.
#include "platform/ui/Dialog.h"

#include <algorithm>

#include "platform/Clipboard.h"
#include "platform/ui/Canvas.h"
#include "platform/ui/Desktop.h"
#include "platform/ui/Menu.h"

namespace kelp {

namespace {

constexpr int Margin = 4;

int lineHeight() { return fontMetrics(systemFont()).lineHeight; }

bool isKey(const Message& m, Key k) { return m.msg == Msg::KeyDown && m.wParam == static_cast<int64_t>(k); }

// The windowing layer cannot open the manual itself; the shell says how.
Dialog::HelpHook& helpHook() {
  static Dialog::HelpHook hook;
  return hook;
}

}  // namespace

// ---- Control ----

void Control::notify(int64_t code) {
  if (parent()) desktop().send(parent()->id(), Msg::Command, m_controlId, code);
}

bool Control::focused() const { return desktop().focus() == this; }

void Control::setEnabled(bool on) {
  if (on == m_enabled) return;
  m_enabled = on;
  invalidate();
}

Color Control::inkColor() const { return m_enabled ? Colors::Black : Colors::GrayText; }

int64_t Label::onMessage(Message& m) {
  if (m.msg == Msg::Paint) {
    FontSpec font = systemFont();
    font.color = inkColor();
    m.canvas->drawTextBox(clientRect(), text(), font, TextFlag::Wrap);
    return 0;
  }
  return defaultHandling(m);
}

// ---- EditLine ----

void EditLine::setValue(std::u16string_view value) {
  std::u16string t(value.substr(0, std::min(value.size(), m_maxLength)));
  m_caret = m_anchor = t.size();
  setText(t);
  invalidate();
}

void EditLine::selectAll() {
  m_anchor = 0;
  m_caret = text().size();
  invalidate();
}

void EditLine::setCaret(size_t position) {
  m_caret = m_anchor = std::min(position, text().size());
  invalidate();
}

void EditLine::edited(std::u16string t, size_t caret) {
  m_caret = m_anchor = caret;
  setText(t);
  invalidate();
  notify(Notify::Changed);
}

void EditLine::replaceSelection(std::u16string_view insert) {
  std::u16string t = text();
  size_t start = selectionStart(), length = selectionLength();
  size_t room = m_maxLength > t.size() - length ? m_maxLength - (t.size() - length) : 0;
  insert = insert.substr(0, std::min(insert.size(), room));
  t.replace(start, length, insert);
  edited(std::move(t), start + insert.size());
}

void EditLine::clipboardKey(char16_t c) {
  // Ctrl+A, Ctrl+C, Ctrl+X and Ctrl+V on the field's text, as desktop fields take them.
  const std::u16string_view selected = std::u16string_view(text()).substr(selectionStart(), selectionLength());
  if (c == 0x01) {
    selectAll();
  } else if ((c == 0x03 || c == 0x18) && !selected.empty() && !m_password) {
    if (setClipboardText(selected) && c == 0x18) replaceSelection(u"");
  } else if (c == 0x16) {
    std::u16string pasted;
    if (!clipboardText(pasted)) return;
    // A field holds one line: what follows the first line break is left out.
    pasted = pasted.substr(0, pasted.find_first_of(u"\r\n"));
    replaceSelection(pasted);
  }
}

int64_t EditLine::onMessage(Message& m) {
  switch (m.msg) {
    case Msg::Paint:
      paint(*m.canvas);
      return 0;
    case Msg::SetFocus:
    case Msg::KillFocus:
      invalidate();
      return 0;
    case Msg::Char: {
      char16_t c = static_cast<char16_t>(m.wParam);
      if (c == u'\b') {
        std::u16string t = text();
        if (selectionLength() > 0) {
          replaceSelection(u"");
        } else if (m_caret > 0) {
          // A surrogate pair goes as one character.
          size_t from = m_caret - 1;
          if (from > 0 && t[from] >= 0xDC00 && t[from] < 0xE000 && t[from - 1] >= 0xD800 && t[from - 1] < 0xDC00) --from;
          t.erase(from, m_caret - from);
          edited(std::move(t), from);
        }
      } else if (c >= 0x20 && c != 0x7F) {
        replaceSelection(std::u16string_view(&c, 1));
      } else {
        clipboardKey(c);
      }
      return 0;
    }
    case Msg::KeyDown: {
      Key k = static_cast<Key>(m.wParam);
      size_t n = text().size();
      switch (k) {
        case Key::Left: setCaret(selectionLength() ? selectionStart() : m_caret > 0 ? m_caret - 1 : 0); return 0;
        case Key::Right: setCaret(selectionLength() ? selectionStart() + selectionLength() : std::min(n, m_caret + 1)); return 0;
        case Key::Home: setCaret(0); return 0;
        case Key::End: setCaret(n); return 0;
        case Key::Delete:
          if (selectionLength() == 0 && m_caret < n) m_anchor = m_caret + 1;
          replaceSelection(u"");
          return 0;
        case Key::Back:
          // Back deletes while there is text (the character message does it); an empty
          // field lets the dialog have it.
          if (n > 0) return 0;
          return defaultHandling(m);
        default: return defaultHandling(m);
      }
    }
    default:
      return defaultHandling(m);
  }
}

void EditLine::paint(Canvas& c) {
  Rect r = clientRect();
  bool hasFocus = focused();
  c.frameRect(r, hasFocus ? Colors::Highlight : Colors::Gray, hasFocus ? 2 : 1);
  FontSpec font = systemFont();
  font.color = inkColor();
  std::u16string shown = m_password ? std::u16string(text().size(), u'*') : text();
  Rect inner = r.inflated(-3, -2);
  int caretX = textWidth(font, std::u16string_view(shown).substr(0, m_caret));
  // Keep the caret inside the field with a little of the text before it in view.
  if (caretX - m_scroll > inner.width() - 2) m_scroll = caretX - inner.width() + 2;
  if (caretX - m_scroll < 0) m_scroll = std::max(0, caretX - inner.width() / 3);
  c.pushClip(inner);
  int y = inner.top + (inner.height() - lineHeight()) / 2;
  c.drawText(inner.left - m_scroll, y, shown, font);
  // A field without the focus hides its selection, so a greyed or idle field never looks chosen.
  if (hasFocus && selectionLength() > 0) {
    int x0 = textWidth(font, std::u16string_view(shown).substr(0, selectionStart()));
    int x1 = textWidth(font, std::u16string_view(shown).substr(0, selectionStart() + selectionLength()));
    c.invertRect({inner.left - m_scroll + x0, y, inner.left - m_scroll + x1, y + lineHeight()});
  } else if (hasFocus) {
    c.fillRect({inner.left - m_scroll + caretX, y, inner.left - m_scroll + caretX + 1, y + lineHeight()}, Colors::Black);
  }
  c.popClip();
}

// ---- ListBox ----

void ListBox::setItems(std::vector<std::u16string> items) {
  m_items = std::move(items);
  m_selected = m_items.empty() ? -1 : 0;
  m_top = 0;
  invalidate();
}

void ListBox::addItem(std::u16string_view item) {
  m_items.emplace_back(item);
  if (m_selected < 0) m_selected = 0;
  invalidate();
}

void ListBox::select(int index) {
  if (m_items.empty()) return;
  index = std::clamp(index, 0, static_cast<int>(m_items.size()) - 1);
  if (index == m_selected) return;
  m_selected = index;
  if (m_selected < m_top) m_top = m_selected;
  if (m_selected >= m_top + m_rows) m_top = m_selected - m_rows + 1;
  invalidate();
  notify(Notify::Changed);
}

std::u16string ListBox::selectedText() const {
  return m_selected >= 0 && m_selected < static_cast<int>(m_items.size()) ? m_items[static_cast<size_t>(m_selected)] : u"";
}

int64_t ListBox::onMessage(Message& m) {
  switch (m.msg) {
    case Msg::Paint:
      paint(*m.canvas);
      return 0;
    case Msg::SetFocus:
    case Msg::KillFocus:
      invalidate();
      return 0;
    case Msg::KeyDown: {
      Key k = static_cast<Key>(m.wParam);
      int last = static_cast<int>(m_items.size()) - 1;
      if (m_rows == 1 && (k == Key::Left || k == Key::Right) && last >= 0) {
        // The spinner turns round at either end.
        int step = k == Key::Left ? -1 : 1;
        select(m_selected + step < 0 ? last : m_selected + step > last ? 0 : m_selected + step);
        return 0;
      }
      if (m_rows > 1 && k == Key::Up && m_selected > 0) {
        select(m_selected - 1);
        return 0;
      }
      if (m_rows > 1 && k == Key::Down && m_selected < last) {
        select(m_selected + 1);
        return 0;
      }
      if (k == Key::Enter && m_selected >= 0) {
        notify(Notify::Activated);
        return 0;
      }
      return defaultHandling(m);
    }
    default:
      return defaultHandling(m);
  }
}

void ListBox::paint(Canvas& c) {
  Rect r = clientRect();
  bool hasFocus = focused();
  c.frameRect(r, hasFocus ? Colors::Highlight : Colors::Gray, hasFocus ? 2 : 1);
  FontSpec font = systemFont();
  font.color = inkColor();
  int h = lineHeight() + 2;
  Rect inner = r.inflated(-3, -2);
  c.pushClip(inner);
  if (m_rows == 1) {
    c.drawTextBox({inner.left + 10, inner.top, inner.right - 10, inner.bottom}, selectedText(), font,
                  TextFlag::VCenter);
    int mid = (inner.top + inner.bottom) / 2;
    c.fillPolygon({{inner.left + 6, mid - 4}, {inner.left + 2, mid}, {inner.left + 6, mid + 4}}, Colors::Black);
    c.fillPolygon({{inner.right - 6, mid - 4}, {inner.right - 2, mid}, {inner.right - 6, mid + 4}}, Colors::Black);
  } else {
    for (int i = m_top; i < static_cast<int>(m_items.size()) && i < m_top + m_rows; ++i) {
      Rect row{inner.left, inner.top + (i - m_top) * h, inner.right, inner.top + (i - m_top + 1) * h};
      FontSpec f = font;
      if (i == m_selected) {
        c.fillRect(row, hasFocus ? Colors::Highlight : Colors::LightGray);
        f.color = hasFocus ? Colors::HighlightText : Colors::Black;
      }
      c.drawTextBox(row.inflated(-2, 0), m_items[static_cast<size_t>(i)], f, TextFlag::VCenter);
    }
  }
  c.popClip();
}

// ---- Button ----

int64_t Button::onMessage(Message& m) {
  switch (m.msg) {
    case Msg::Paint: {
      Canvas& c = *m.canvas;
      Rect r = clientRect();
      const bool hasFocus = focused();
      c.frameRect(r, hasFocus ? Colors::Highlight : Colors::Gray, hasFocus ? 2 : 1);
      FontSpec font = systemFont();
      font.color = inkColor();
      c.drawTextBox(r, text(), font, TextFlag::Center | TextFlag::VCenter);
      return 0;
    }
    case Msg::SetFocus:
    case Msg::KillFocus:
      invalidate();
      return 0;
    case Msg::KeyDown:
      if (isKey(m, Key::Enter)) {
        notify(Notify::Activated);
        return 0;
      }
      return defaultHandling(m);
    default:
      return defaultHandling(m);
  }
}

// ---- OfferEdit ----

int64_t OfferEdit::onMessage(Message& m) {
  if (m.msg == Msg::Paint && !m_offers.empty()) {
    // The edit line first, then a spinner's right arrow: the field turns too.
    EditLine::onMessage(m);
    Rect r = clientRect().inflated(-3, -2);
    const int mid = (r.top + r.bottom) / 2;
    m.canvas->fillPolygon({{r.right - 6, mid - 4}, {r.right - 2, mid}, {r.right - 6, mid + 4}}, inkColor());
    return 0;
  }
  if (m.msg == Msg::SetFocus) selectAll();
  const bool turn = isKey(m, Key::Left) || isKey(m, Key::Right);
  if (turn && !m_offers.empty() && selectionLength() == text().size()) {
    const int count = static_cast<int>(m_offers.size());
    auto at = std::find(m_offers.begin(), m_offers.end(), text());
    int index = at == m_offers.end() ? -1 : static_cast<int>(at - m_offers.begin());
    index = isKey(m, Key::Left) ? (index <= 0 ? count - 1 : index - 1) : (index + 1) % count;
    setValue(m_offers[static_cast<size_t>(index)]);
    selectAll();
    notify(Notify::Changed);
    return 0;
  }
  return EditLine::onMessage(m);
}

// ---- CheckBox ----

void CheckBox::setChecked(bool on) {
  if (on == m_checked) return;
  m_checked = on;
  invalidate();
  notify(Notify::Changed);
}

int64_t CheckBox::onMessage(Message& m) {
  switch (m.msg) {
    case Msg::Paint: {
      Canvas& c = *m.canvas;
      Rect r = clientRect();
      int side = std::min(r.height() - 2, 12);
      Rect box{r.left + 1, r.top + (r.height() - side) / 2, r.left + 1 + side, r.top + (r.height() - side) / 2 + side};
      c.frameRect(box, Colors::Black);
      if (m_checked) {
        Pen pen{Colors::Black, 2, PenStyle::Solid};
        c.drawLine({box.left + 2, box.top + side / 2}, {box.left + side / 2 - 1, box.bottom - 3}, pen);
        c.drawLine({box.left + side / 2 - 1, box.bottom - 3}, {box.right - 3, box.top + 2}, pen);
      }
      Rect label{box.right + 5, r.top, r.right, r.bottom};
      FontSpec font = systemFont();
      font.color = inkColor();
      c.drawTextBox(label, text(), font, TextFlag::VCenter);
      if (focused()) c.frameRect(label.inflated(1, 0), Colors::Highlight);
      return 0;
    }
    case Msg::SetFocus:
    case Msg::KillFocus:
      invalidate();
      return 0;
    case Msg::KeyDown: {
      Key k = static_cast<Key>(m.wParam);
      if (k == Key::Enter || k == Key::Left || k == Key::Right) {
        setChecked(!m_checked);
        return 0;
      }
      return defaultHandling(m);
    }
    case Msg::Char:
      if (m.wParam == u' ') setChecked(!m_checked);
      return 0;
    default:
      return defaultHandling(m);
  }
}

// ---- PageTabs ----

int64_t PageTabs::onMessage(Message& m) {
  switch (m.msg) {
    case Msg::Paint: {
      Canvas& c = *m.canvas;
      Rect r = clientRect();
      FontSpec font = systemFont();
      int x = r.left;
      for (size_t i = 0; i < m_names.size(); ++i) {
        int w = textWidth(font, m_names[i]) + 8;
        Rect tab{x, r.top, x + w, r.bottom};
        bool current = static_cast<int>(i) == m_current;
        if (current) c.fillRect(tab, focused() ? Colors::Highlight : Colors::LightGray);
        FontSpec f = font;
        f.color = current && focused() ? Colors::HighlightText : Colors::Black;
        c.drawTextBox(tab.inflated(-4, 0), m_names[i], f, TextFlag::VCenter);
        c.frameRect(tab, Colors::Gray);
        x += w - 1;
      }
      // A sheet whose tabs are wider than the screen shows at least the current name.
      if (x > r.right && m_current >= 0 && m_current < static_cast<int>(m_names.size())) {
        c.fillRect(r, focused() ? Colors::Highlight : Colors::LightGray);
        FontSpec f = font;
        f.color = focused() ? Colors::HighlightText : Colors::Black;
        std::u16string shown = u"< " + m_names[static_cast<size_t>(m_current)] + u" >";
        c.drawTextBox(r, shown, f, TextFlag::VCenter | TextFlag::Center);
      }
      c.fillRect({r.left, r.bottom - 1, r.right, r.bottom}, Colors::Gray);
      return 0;
    }
    case Msg::SetFocus:
    case Msg::KillFocus:
      invalidate();
      return 0;
    case Msg::KeyDown: {
      Key k = static_cast<Key>(m.wParam);
      int n = static_cast<int>(m_names.size());
      if ((k == Key::Left || k == Key::Right) && n > 0) {
        auto* sheet = dynamic_cast<Dialog*>(parent());
        int next = ((m_current + (k == Key::Left ? -1 : 1)) % n + n) % n;
        if (sheet) sheet->showPage(next);
        notify(Notify::Changed);
        return 0;
      }
      return defaultHandling(m);
    }
    default:
      return defaultHandling(m);
  }
}

// ---- Dialog ----

void Dialog::installHelpHook(HelpHook hook) { helpHook() = std::move(hook); }

Rect Dialog::nextSlot(int height) {
  if (m_nextTop == 0) m_nextTop = lineHeight() + 6 + Margin;
  Rect r{Margin, m_nextTop, rect().width() - Margin, m_nextTop + height};
  m_nextTop += height + Margin;
  return r;
}

void Dialog::adopt(Control& control, int controlId) {
  control.setControlId(controlId);
  m_controls.push_back(control.id());
  const int page = m_pageNames.empty() || controlId == PageTabsId ? -1 : pageCount() - 1;
  m_controlPage.push_back(page);
  if (page >= 0 && page != m_page) control.show(false);
}

void Dialog::beginPage(std::u16string_view name) {
  if (m_pageNames.empty()) {
    m_pageNames.emplace_back(name);
    PageTabs& tabs = place<PageTabs>(PageTabsId, lineHeight() + 6);
    tabs.setPages(m_pageNames);
    m_pagesTop = m_nextTop;
    return;
  }
  m_pageNames.emplace_back(name);
  if (auto* tabs = controlAs<PageTabs>(PageTabsId)) tabs->setPages(m_pageNames);
  m_nextTop = m_pagesTop;
}

void Dialog::showPage(int index) {
  if (index < 0 || index >= pageCount()) return;
  m_page = index;
  if (auto* tabs = controlAs<PageTabs>(PageTabsId)) tabs->setCurrent(index);
  moveControls(m_scrolled);
  showControls();
  invalidate();
}

bool Dialog::onShownPage(WindowId id) const {
  for (size_t i = 0; i < m_controls.size(); ++i) {
    if (m_controls[i] == id) return m_controlPage[i] < 0 || m_controlPage[i] == m_page;
  }
  return false;
}

void Dialog::moveControls(int dy) {
  if (dy == 0) return;
  for (WindowId id : m_controls) {
    if (Window* w = desktop().find(id)) w->move(w->rect().offset(0, dy));
  }
  m_scrolled -= dy;
  invalidate();
}

void Dialog::showControls() {
  // A control scrolled up under the title is hidden rather than drawn over it.
  const int top = lineHeight() + 6;
  for (size_t i = 0; i < m_controls.size(); ++i) {
    Window* w = desktop().find(m_controls[i]);
    bool onPage = m_controlPage[i] < 0 || m_controlPage[i] == m_page;
    if (w) w->show(onPage && w->rect().top >= top);
  }
}

void Dialog::scrollIntoView(Window* w) {
  if (!w) return;
  const int top = lineHeight() + 6 + Margin;
  const int bottom = rect().height() - Margin;
  Rect r = w->rect();
  // Bring the control's label along when it lies just above it.
  for (size_t i = 1; i < m_controls.size(); ++i) {
    if (m_controls[i] != w->id()) continue;
    auto* label = dynamic_cast<Label*>(desktop().find(m_controls[i - 1]));
    if (label && m_controlPage[i - 1] == m_controlPage[i]) r.top = label->rect().top;
  }
  if (r.bottom > bottom) {
    moveControls(-std::min(r.bottom - bottom, r.top - top));
  } else if (r.top < top) {
    moveControls(std::min(top - r.top, m_scrolled));
  }
  showControls();
}

Label& Dialog::addLabel(std::u16string_view text) {
  int width = rect().width() - 2 * Margin;
  int lines = std::max<int>(1, static_cast<int>(wrapText(systemFont(), text, width).size()));
  Label& label = place<Label>(0, lines * lineHeight());
  label.setText(text);
  return label;
}

EditLine& Dialog::addEdit(int controlId, std::u16string_view text) {
  EditLine& edit = place<EditLine>(controlId, lineHeight() + 6);
  edit.setValue(text);
  return edit;
}

ListBox& Dialog::addList(int controlId, std::vector<std::u16string> items, int rows) {
  rows = std::max(rows, 1);
  ListBox& list = place<ListBox>(controlId, rows * (lineHeight() + 2) + 4);
  list.setRows(rows);
  list.setItems(std::move(items));
  return list;
}

CheckBox& Dialog::addCheck(int controlId, std::u16string_view text, bool checked) {
  CheckBox& box = place<CheckBox>(controlId, lineHeight() + 4);
  box.setText(text);
  box.setChecked(checked);
  return box;
}

Button& Dialog::addButton(int controlId, std::u16string_view text) {
  Button& button = place<Button>(controlId, lineHeight() + 6);
  button.setText(text);
  return button;
}

OfferEdit& Dialog::addOfferEdit(int controlId, std::vector<std::u16string> offers, std::u16string_view text) {
  OfferEdit& edit = place<OfferEdit>(controlId, lineHeight() + 6);
  edit.setOffers(std::move(offers));
  edit.setValue(text);
  return edit;
}

Control* Dialog::control(int controlId) const {
  for (WindowId id : m_controls) {
    auto* c = dynamic_cast<Control*>(desktop().find(id));
    if (c && c->controlId() == controlId) return c;
  }
  return nullptr;
}

int Dialog::run() {
  if (!menuBar()) {
    MenuBar& bar = createMenuBar(desktop(), *this);
    bar.setKey(0, u"OK", DialogCommand::Ok);
    bar.setKey(1, u"Cancel", DialogCommand::Cancel);
  }
  Window* first = nullptr;
  for (WindowId id : m_controls) {
    Window* w = desktop().find(id);
    if (w && w->focusable() && onShownPage(id)) {
      first = w;
      break;
    }
  }
  return desktop().runModal(*this, first);
}

void Dialog::end(int result) { desktop().endModal(*this, result); }

void Dialog::moveFocus(int step) {
  std::vector<Window*> order;
  for (WindowId id : m_controls) {
    Window* w = desktop().find(id);
    if (w && w->focusable() && onShownPage(id)) order.push_back(w);
  }
  if (order.empty()) return;
  auto at = std::find(order.begin(), order.end(), desktop().focus());
  int index = at == order.end() ? -1 : static_cast<int>(at - order.begin());
  int n = static_cast<int>(order.size());
  int next = index < 0 ? 0 : ((index + step) % n + n) % n;
  Window* w = order[static_cast<size_t>(next)];
  scrollIntoView(w);
  desktop().setFocus(w);
}

void Dialog::onCommand(int id, int64_t notify) {
  if (notify == 0 && id == static_cast<int>(DialogCommand::Ok)) {
    if (onOk()) end(DialogResult::Ok);
  } else if (notify == 0 && id == static_cast<int>(DialogCommand::Cancel)) {
    end(DialogResult::Cancel);
  } else if (notify == Notify::Activated) {
    if (onOk()) end(DialogResult::Ok);
  }
}

int64_t Dialog::onMessage(Message& m) {
  switch (m.msg) {
    case Msg::Paint: {
      Canvas& c = *m.canvas;
      FontSpec font = systemFont();
      font.weight = 700;
      int h = lineHeight() + 6;
      c.drawTextBox({Margin, 0, rect().width() - Margin, h}, m_title, font, TextFlag::VCenter);
      c.fillRect({0, h - 1, rect().width(), h}, Colors::Highlight);
      return 0;
    }
    case Msg::Command:
      onCommand(static_cast<int>(m.wParam), m.lParam);
      return 0;
    case Msg::KeyDown:
      if (isKey(m, Key::Down)) moveFocus(1);
      if (isKey(m, Key::Up)) moveFocus(-1);
      if (isKey(m, Key::Enter)) onCommand(static_cast<int>(DialogCommand::Ok), 0);
      if (isKey(m, Key::Back) || isKey(m, Key::Escape)) onCommand(static_cast<int>(DialogCommand::Cancel), 0);
      if (isKey(m, Key::Help) && helpHook()) helpHook()(m_helpTopic);
      return 0;
    default:
      return defaultHandling(m);
  }
}

}  // namespace kelp
