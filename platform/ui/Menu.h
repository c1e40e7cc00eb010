// Menus: item lists with command ids, the soft-key bar and its popup menus.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/Font.h"
#include "platform/ui/Window.h"

namespace kelp {

namespace MenuFlag {
constexpr uint32_t Gray = 1;       // shown but cannot be chosen
constexpr uint32_t Checked = 2;    // shows a check mark
constexpr uint32_t Separator = 4;  // a line between groups
}  // namespace MenuFlag

class Menu;

struct MenuItem {
  uint32_t id = 0;
  std::u16string text;
  uint32_t flags = 0;
  std::unique_ptr<Menu> submenu;

  bool gray() const { return flags & MenuFlag::Gray; }
  bool checked() const { return flags & MenuFlag::Checked; }
  bool separator() const { return flags & MenuFlag::Separator; }
};

class Menu {
 public:
  MenuItem& append(uint32_t id, std::u16string_view text, uint32_t flags = 0);
  /// Appends an item that opens a submenu, and returns the submenu.
  Menu& appendPopup(std::u16string_view text, uint32_t flags = 0);
  void appendSeparator();
  /// Inserts before `position` (appends when past the end).
  MenuItem& insert(size_t position, uint32_t id, std::u16string_view text, uint32_t flags = 0);
  void removeAt(size_t position);
  /// Removes the first item with `id`, searching submenus too.
  bool remove(uint32_t id);
  void clear() { m_items.clear(); }

  size_t count() const { return m_items.size(); }
  MenuItem& item(size_t i) { return m_items[i]; }
  const MenuItem& item(size_t i) const { return m_items[i]; }
  /// The item with `id` here or in a submenu, or null.
  MenuItem* find(uint32_t id);
  /// The position of the item with `id` in this menu alone, or -1.
  int indexOf(uint32_t id) const;

  /// These act on the item with `id` anywhere in the menu; false when there is none.
  bool enable(uint32_t id, bool on);
  bool check(uint32_t id, bool on);
  bool setText(uint32_t id, std::u16string_view text);

 private:
  std::vector<MenuItem> m_items;
};

/// The font menus, soft keys and boxes are drawn in.
FontSpec systemFont();

/// The chosen command, 0 when the menu was closed without a choice. `anchorRight` puts
/// the menu at the right edge above the soft-key bar, as the right soft key's menu is.
uint32_t trackPopupMenu(Desktop& desktop, Menu& menu, bool anchorRight);

struct SoftKey {
  std::u16string label;
  uint32_t command = 0;          // sent when the key has no popup
  std::unique_ptr<Menu> popup;   // opened by the key when set
  bool enabled = true;
};

/// The two soft keys along the bottom of the screen. A key with a command sends it to
/// the owner as a Command message; a key with a popup opens it and sends the choice.
class MenuBar : public Window {
 public:
  explicit MenuBar(WindowId owner) : m_owner(owner) {}

  WindowId owner() const { return m_owner; }
  SoftKey& key(int index) { return m_keys[index & 1]; }
  void setKey(int index, std::u16string_view label, uint32_t command);
  /// Makes key `index` open a popup menu labelled `label` and returns the menu.
  Menu& setPopup(int index, std::u16string_view label);
  void enableKey(int index, bool on);
  /// Acts as if soft key `index` (0 left, 1 right) were pressed.
  void press(int index);
  /// The popup or submenu holding the item with `id`, for enabling and relabelling.
  MenuItem* findItem(uint32_t id);
  /// A text shown between the two labels (where the active cell is), or `brief` when the
  /// whole does not fit there; nothing when neither fits.
  void setStatus(std::u16string_view whole, std::u16string_view brief = {});
  /// The text shown between the labels now, empty when none fits.
  const std::u16string& shownStatus() const { return m_shownStatus; }

 protected:
  int64_t onMessage(Message& m) override;

 private:
  WindowId m_owner;
  SoftKey m_keys[2];
  std::u16string m_status, m_briefStatus, m_shownStatus;
};

/// Makes a soft-key bar for the top-level window `owner` and attaches it.
MenuBar& createMenuBar(Desktop& desktop, Window& owner);

}  // namespace kelp
