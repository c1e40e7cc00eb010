// Dialogs built from simple controls: labels, edit lines, lists and check boxes.
#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ui/Desktop.h"
#include "platform/ui/Window.h"

namespace kelp {

/// What a control tells its dialog, as the lParam of a Command whose wParam is its id.
namespace Notify {
constexpr int64_t Changed = 1;    // the value changed
constexpr int64_t Activated = 2;  // the action key was pressed on it
}  // namespace Notify

/// Command ids of the dialog soft keys.
namespace DialogCommand {
constexpr uint32_t Ok = 1, Cancel = 2;
}

class Control : public Window {
 public:
  int controlId() const { return m_controlId; }
  void setControlId(int id) { m_controlId = id; }
  /// A disabled control is drawn grey and the focus passes it by.
  bool enabled() const { return m_enabled; }
  void setEnabled(bool on);
  bool focusable() const override { return m_enabled; }

 protected:
  void notify(int64_t code);
  bool focused() const;
  /// The colour a control's text is drawn in: grey while disabled.
  Color inkColor() const;

 private:
  int m_controlId = 0;
  bool m_enabled = true;
};

class Label : public Control {
 public:
  bool focusable() const override { return false; }

 protected:
  int64_t onMessage(Message& m) override;
};

/// A one-line text field: characters insert at the caret, \b deletes back, Left and Right
/// move the caret; the text scrolls sideways to keep the caret in view.
class EditLine : public Control {
 public:
  void setValue(std::u16string_view text);  // caret to the end, nothing selected
  void setMaxLength(size_t n) { m_maxLength = n; }
  void setPassword(bool on) { m_password = on; invalidate(); }
  void selectAll();
  size_t caret() const { return m_caret; }
  void setCaret(size_t position);
  size_t selectionStart() const { return std::min(m_anchor, m_caret); }
  size_t selectionLength() const { return std::max(m_anchor, m_caret) - selectionStart(); }
  /// Puts `text` in place of the selection (at the caret when none), within the length limit.
  void replaceSelection(std::u16string_view text);

 protected:
  int64_t onMessage(Message& m) override;

 private:
  void paint(class Canvas& c);
  void edited(std::u16string text, size_t caret);
  void clipboardKey(char16_t c);

  size_t m_caret = 0;
  size_t m_anchor = 0;
  size_t m_maxLength = 2048;
  bool m_password = false;
  int m_scroll = 0;
};

/// A list of texts with one selected. With one row it is a spinner that Left and Right
/// turn; with more rows Up and Down move inside it and leave it at either end.
class ListBox : public Control {
 public:
  void setItems(std::vector<std::u16string> items);
  void addItem(std::u16string_view item);
  const std::vector<std::u16string>& items() const { return m_items; }
  int selected() const { return m_selected; }
  void select(int index);
  void setRows(int rows) { m_rows = rows < 1 ? 1 : rows; invalidate(); }
  int rows() const { return m_rows; }
  /// The selected text, empty when nothing is selected.
  std::u16string selectedText() const;

 protected:
  int64_t onMessage(Message& m) override;

 private:
  void paint(class Canvas& c);

  std::vector<std::u16string> m_items;
  int m_selected = -1;
  int m_rows = 1;
  int m_top = 0;
};

/// The row of page names at the top of a property sheet; Left and Right turn the page.
class PageTabs : public Control {
 public:
  void setPages(std::vector<std::u16string> names) { m_names = std::move(names); invalidate(); }
  void setCurrent(int page) { m_current = page; invalidate(); }

 protected:
  int64_t onMessage(Message& m) override;

 private:
  std::vector<std::u16string> m_names;
  int m_current = 0;
};

class CheckBox : public Control {
 public:
  bool checked() const { return m_checked; }
  void setChecked(bool on);

 protected:
  int64_t onMessage(Message& m) override;

 private:
  bool m_checked = false;
};

/// A push button: the action key presses it, which it tells as Activated.
class Button : public Control {
 protected:
  int64_t onMessage(Message& m) override;
};

/// An edit line that also offers texts: while its whole text is selected (as it is when
/// the focus arrives) Left and Right put the previous or next offer in, selected again;
/// typing edits the text as in any edit line.
class OfferEdit : public EditLine {
 public:
  void setOffers(std::vector<std::u16string> offers) { m_offers = std::move(offers); }
  const std::vector<std::u16string>& offers() const { return m_offers; }

 protected:
  int64_t onMessage(Message& m) override;

 private:
  std::vector<std::u16string> m_offers;
};

/// A full-screen modal dialog with a title and controls stacked from the top; the left
/// soft key is OK and the right Cancel. Up and Down move between controls, the action
/// key means OK and Back means Cancel unless the focused control uses them.
class Dialog : public Window {
 public:
  explicit Dialog(std::u16string_view title) : m_title(title) {}

  Label& addLabel(std::u16string_view text);
  EditLine& addEdit(int controlId, std::u16string_view text = u"");
  ListBox& addList(int controlId, std::vector<std::u16string> items, int rows = 1);
  CheckBox& addCheck(int controlId, std::u16string_view text, bool checked = false);
  Button& addButton(int controlId, std::u16string_view text);
  OfferEdit& addOfferEdit(int controlId, std::vector<std::u16string> offers, std::u16string_view text = u"");
  /// Adds a control of the caller's own class, `height` pixels high, below the others.
  template <class C>
  C& addCustom(int controlId, int height) {
    C& control = desktop().create<C>(this, nextSlot(height));
    adopt(control, controlId);
    return control;
  }
  Control* control(int controlId) const;
  template <class C>
  C* controlAs(int controlId) const { return dynamic_cast<C*>(control(controlId)); }

  /// Shows the dialog until OK or Cancel; returns DialogResult::Ok or Cancel. The caller
  /// reads the controls afterwards and destroys the dialog.
  int run();
  void end(int result);
  /// Moves the focus to the next (step 1) or previous (-1) focusable control.
  void moveFocus(int step);

  /// Makes the dialog a property sheet: controls added after this call belong to a new
  /// page named `name`, laid out from the top of the page area below the tabs.
  void beginPage(std::u16string_view name);
  int pageCount() const { return static_cast<int>(m_pageNames.size()); }
  int page() const { return m_page; }
  /// Shows page `index` and hides the others' controls.
  void showPage(int index);
  /// The control id of the page tabs.
  static constexpr int PageTabsId = 0x7F00;

  /// The manual's topic the Help key opens while the dialog is up; empty opens its start.
  void setHelpTopic(std::u16string_view topic) { m_helpTopic = topic; }
  const std::u16string& helpTopic() const { return m_helpTopic; }
  /// What the Help key in any dialog does with its topic: the shell opens the manual.
  using HelpHook = std::function<void(std::u16string_view topic)>;
  static void installHelpHook(HelpHook hook);

 protected:
  /// OK was asked for; false keeps the dialog open (a field failed its check).
  virtual bool onOk() { return true; }
  /// A control notified or a soft key sent a command; the default ends on OK and Cancel
  /// and treats an activated list as OK.
  virtual void onCommand(int id, int64_t notify);
  int64_t onMessage(Message& m) override;

 private:
  template <class C>
  C& place(int controlId, int height) { return addCustom<C>(controlId, height); }
  /// The rectangle of the next control, `height` high, and the place below it.
  Rect nextSlot(int height);
  void adopt(Control& control, int controlId);
  bool onShownPage(WindowId id) const;
  /// Scrolls the controls so that `w` (and the label above it) is inside the dialog.
  void scrollIntoView(Window* w);
  void moveControls(int dy);
  void showControls();

  std::u16string m_title;
  std::vector<WindowId> m_controls;
  std::vector<int> m_controlPage;  // the page of each control, -1 on every page
  std::vector<std::u16string> m_pageNames;
  int m_page = 0;
  int m_pagesTop = 0;
  int m_scrolled = 0;  // how far the controls are moved up to keep the focus in view
  int m_nextTop = 0;
  std::u16string m_helpTopic;
};

/// Makes a full-screen dialog of class D from `args`, builds it, shows it until OK or
/// Cancel and destroys it; true on OK.
template <class D, class... Args>
bool showFullScreen(Desktop& desktop, Args&&... args) {
  auto& dialog = desktop.create<D>(nullptr, desktop.workArea(), std::forward<Args>(args)...);
  dialog.build();
  const int result = dialog.run();
  desktop.destroy(dialog.id());
  return result == DialogResult::Ok;
}

}  // namespace kelp
