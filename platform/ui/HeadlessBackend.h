// The headless backend: no display, key events from a script, a clock the script advances.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/Desktop.h"

namespace kelp {

/// Reads one event a line (see the README's "Key scripts"): "key Down", "key Ctrl+Home",
/// "text 123.5", "soft1", "soft2", "menu File > Save As...", "wait 500", "sleep 500",
/// "png out.png", "close", "quit 3", "# comment".
/// A line runs only when the message loop has nothing else to do, so each event sees
/// the effects of the ones before it. A `menu` line becomes the keys a user would press
/// to choose the item, delivered one a step so that each popup opens before the next key.
class HeadlessBackend : public Backend {
 public:
  void setScript(std::string_view script);
  /// Reads the script from a file; false (and error 11) when it cannot be read.
  bool loadScript(const std::string& path);

  uint64_t now() const override { return m_clock; }
  bool waitInput(Desktop& desktop, uint64_t deadline) override;
  bool recordsText() const override { return true; }

  /// Lines that could not be run, as "line N: why".
  const std::vector<std::string>& problems() const { return m_problems; }
  bool finished() const {
    return m_next >= m_lines.size() && m_waitLeft == 0 && m_keys.empty() && m_pointer.empty();
  }

 private:
  bool runLine(Desktop& desktop, size_t number, std::string_view line);
  /// The keys that choose `path` in the active window's soft-key menus as they are now;
  /// false with the reason when a part is missing or greyed.
  bool menuKeys(Desktop& desktop, std::string_view path, std::vector<Key>& keys, std::string& why) const;

  std::vector<std::string> m_lines;
  size_t m_next = 0;
  uint64_t m_clock = 0;
  uint64_t m_waitLeft = 0;
  std::vector<std::string> m_problems;
  std::deque<Key> m_keys;  // a menu line's keys still to press
  // A click's release and a drag's move and release, one per input step.
  struct PointerStep {
    enum Kind { Move, Up } kind;
    Point at;
  };
  std::deque<PointerStep> m_pointer;
};

/// A key by its script name (case does not matter): Up, Down, Left, Right, Enter (or
/// Action), Back, Soft1, Soft2, Tab, Home, End, PageUp, PageDown, Esc (or Escape), F2,
/// Delete, Help, each optionally after Shift+, Ctrl+ and Alt+. Key::None when unknown.
Key keyFromName(std::string_view name, int64_t& mods);
/// The control character Ctrl and a letter give ("Ctrl+Z" is 0x1A), 0 for other names.
char16_t controlCharacter(std::string_view name);

}  // namespace kelp
