// The key script reader and the hand-advanced clock of the headless backend.
#include "platform/ui/HeadlessBackend.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "platform/ErrorState.h"
#include "platform/ui/Menu.h"
#include "platform/System.h"
#include "platform/Text.h"

namespace kelp {

namespace {

bool sameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
    char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// A menu label as a script names it: without regard to case, and without the "&" that
// marks a mnemonic.
std::u16string labelKey(std::u16string_view label) {
  std::u16string out;
  for (char16_t c : label)
    if (c != u'&') out += foldCase(c);
  return out;
}

// Not "quoted": a std::string argument would find std::quoted too.
std::string inQuotes(std::string_view part) { return "'" + std::string(part) + "'"; }

}  // namespace

char16_t controlCharacter(std::string_view name) {
  if (name.size() < 6 || !sameWord(name.substr(0, 5), "ctrl+")) return 0;
  const std::string_view rest = name.substr(5);
  if (rest.size() != 1) return 0;
  const char c = rest[0] >= 'A' && rest[0] <= 'Z' ? static_cast<char>(rest[0] + 32) : rest[0];
  return c >= 'a' && c <= 'z' ? static_cast<char16_t>(c - 'a' + 1) : 0;
}

Key keyFromName(std::string_view name, int64_t& mods) {
  mods = 0;
  for (;;) {
    size_t plus = name.find('+');
    if (plus == std::string_view::npos || plus + 1 == name.size()) break;
    std::string_view mod = name.substr(0, plus);
    if (sameWord(mod, "shift")) {
      mods |= KeyMod::Shift;
    } else if (sameWord(mod, "ctrl")) {
      mods |= KeyMod::Ctrl;
    } else if (sameWord(mod, "alt")) {
      mods |= KeyMod::Alt;
    } else {
      return Key::None;
    }
    name.remove_prefix(plus + 1);
  }
  static const struct {
    const char* name;
    Key key;
  } names[] = {{"up", Key::Up},         {"down", Key::Down},     {"left", Key::Left},     {"right", Key::Right},
               {"enter", Key::Enter},   {"action", Key::Enter},  {"back", Key::Back},     {"soft1", Key::Soft1},
               {"soft2", Key::Soft2},   {"tab", Key::Tab},       {"home", Key::Home},     {"end", Key::End},
               {"pageup", Key::PageUp}, {"pagedown", Key::PageDown}, {"esc", Key::Escape}, {"escape", Key::Escape},
               {"f2", Key::F2},         {"delete", Key::Delete}, {"help", Key::Help}};
  for (const auto& n : names) {
    if (sameWord(name, n.name)) return n.key;
  }
  return Key::None;
}

void HeadlessBackend::setScript(std::string_view script) {
  m_lines.clear();
  m_next = 0;
  m_waitLeft = 0;
  m_problems.clear();
  std::string line;
  std::istringstream in{std::string(script)};
  while (std::getline(in, line)) m_lines.push_back(line);
}

bool HeadlessBackend::loadScript(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    setError(Err::FileOpen);
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  setScript(text.str());
  return true;
}

bool HeadlessBackend::waitInput(Desktop& desktop, uint64_t deadline) {
  for (;;) {
    if (!m_keys.empty()) {
      desktop.pressKey(m_keys.front());
      m_keys.pop_front();
      return true;
    }
    if (!m_pointer.empty()) {
      const PointerStep step = m_pointer.front();
      m_pointer.pop_front();
      if (step.kind == PointerStep::Move) desktop.pointerMove(step.at);
      else desktop.pointerUp(step.at);
      return true;
    }
    if (m_waitLeft > 0) {
      // The clock stops at every timer due on the way, so each tick is delivered.
      uint64_t step = m_waitLeft;
      if (deadline > m_clock && deadline - m_clock < step) step = deadline - m_clock;
      m_clock += step;
      m_waitLeft -= step;
      return true;
    }
    if (m_next >= m_lines.size()) return false;
    size_t number = m_next + 1;
    std::string_view line = trim(m_lines[m_next++]);
    if (line.empty() || line[0] == '#') continue;
    if (runLine(desktop, number, line)) return true;
  }
}

bool HeadlessBackend::runLine(Desktop& desktop, size_t number, std::string_view line) {
  size_t space = line.find_first_of(" \t");
  std::string_view command = line.substr(0, space);
  std::string_view argument = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
  auto problem = [&](const std::string& why) {
    m_problems.push_back("line " + std::to_string(number) + ": " + why);
    return false;
  };
  if (sameWord(command, "key")) {
    std::string_view rest = trim(argument);
    if (rest.empty()) return problem("key without a name");
    while (!rest.empty()) {
      size_t end = rest.find_first_of(" \t");
      std::string_view name = rest.substr(0, end);
      int64_t mods = 0;
      Key key = keyFromName(name, mods);
      if (const char16_t control = controlCharacter(name)) {
        // Ctrl with a letter arrives as its control character, as a desktop keyboard gives it.
        desktop.typeText(std::u16string_view(&control, 1));
      } else if (key == Key::None) {
        return problem("unknown key '" + std::string(name) + "'");
      } else {
        desktop.pressKey(key, mods);
      }
      rest = end == std::string_view::npos ? std::string_view() : trim(rest.substr(end));
    }
    return true;
  }
  if (sameWord(command, "text")) {
    // The text is everything after the single separating blank, blanks included.
    desktop.typeText(utf8ToUtf16(argument));
    return true;
  }
  if (sameWord(command, "soft1") || sameWord(command, "soft2")) {
    desktop.pressKey(sameWord(command, "soft1") ? Key::Soft1 : Key::Soft2);
    return true;
  }
  if (sameWord(command, "menu")) {
    std::vector<Key> keys;
    std::string why;
    if (!menuKeys(desktop, argument, keys, why)) return problem(why);
    m_keys.assign(keys.begin() + 1, keys.end());
    desktop.pressKey(keys.front());
    return true;
  }
  if (sameWord(command, "click") || sameWord(command, "drag") || sameWord(command, "wheel")) {
    std::vector<int> numbers;
    for (std::string_view rest = trim(argument); !rest.empty();) {
      const size_t end = rest.find_first_of(" \t");
      const std::string_view word = rest.substr(0, end);
      int n = 0;
      auto [last, ec] = std::from_chars(word.data(), word.data() + word.size(), n);
      if (ec != std::errc() || last != word.data() + word.size()) return problem("'" + std::string(word) + "' is no number");
      numbers.push_back(n);
      rest = end == std::string_view::npos ? std::string_view() : trim(rest.substr(end));
    }
    if (sameWord(command, "click")) {
      if (numbers.size() != 2) return problem("click needs X Y");
      desktop.pointerDown({numbers[0], numbers[1]});
      m_pointer.push_back({PointerStep::Up, {numbers[0], numbers[1]}});
    } else if (sameWord(command, "drag")) {
      if (numbers.size() != 4) return problem("drag needs X1 Y1 X2 Y2");
      desktop.pointerDown({numbers[0], numbers[1]});
      m_pointer.push_back({PointerStep::Move, {numbers[2], numbers[3]}});
      m_pointer.push_back({PointerStep::Up, {numbers[2], numbers[3]}});
    } else {
      if (numbers.size() != 3 || numbers[0] == 0) return problem("wheel needs NOTCHES X Y");
      desktop.wheel({numbers[1], numbers[2]}, numbers[0]);
    }
    return true;
  }
  if (sameWord(command, "wait")) {
    std::string_view digits = trim(argument);
    uint64_t ms = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), ms);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) {
      return problem("wait needs milliseconds");
    }
    m_waitLeft = ms;
    return ms > 0;
  }
  if (sameWord(command, "sleep")) {
    // Real time, unlike wait: the session can be signalled from outside meanwhile.
    std::string_view digits = trim(argument);
    uint32_t ms = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), ms);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) {
      return problem("sleep needs milliseconds");
    }
    sleepUnlessSessionEnds(ms);
    return true;
  }
  if (sameWord(command, "png")) {
    std::string path(trim(argument));
    if (path.empty()) return problem("png needs a file name");
    desktop.paintAll();
    if (!writePng(desktop.screen(), path)) return problem("cannot write " + path);
    return false;
  }
  if (sameWord(command, "close")) {
    desktop.requestClose();
    return true;
  }
  if (sameWord(command, "quit")) {
    std::string_view digits = trim(argument);
    int code = 0;
    if (!digits.empty()) std::from_chars(digits.data(), digits.data() + digits.size(), code);
    desktop.postQuit(code);
    return true;
  }
  return problem("unknown command '" + std::string(command) + "'");
}

bool HeadlessBackend::menuKeys(Desktop& desktop, std::string_view path, std::vector<Key>& keys,
                               std::string& why) const {
  std::vector<std::string_view> parts;
  for (;;) {
    size_t sign = path.find('>');
    parts.push_back(trim(path.substr(0, sign)));
    if (parts.back().empty()) {
      why = "menu needs item labels separated by '>'";
      return false;
    }
    if (sign == std::string_view::npos) break;
    path.remove_prefix(sign + 1);
  }
  Window* top = desktop.activeTopLevel();
  MenuBar* bar = top ? top->menuBar() : nullptr;
  if (!bar) {
    why = "no soft keys to open " + inQuotes(parts[0]);
    return false;
  }

  // The first part names a soft key, or else an item of the right key's menu, then the left's.
  int softKey = -1;
  size_t next = 0;
  const std::u16string first = labelKey(utf8ToUtf16(parts[0]));
  for (int i = 0; i < 2; ++i)
    if (softKey < 0 && labelKey(bar->key(i).label) == first) softKey = i, next = 1;
  auto holds = [&](int i) {
    const Menu* popup = bar->key(i).popup.get();
    if (!popup) return false;
    for (size_t k = 0; k < popup->count(); ++k)
      if (!popup->item(k).separator() && labelKey(popup->item(k).text) == first) return true;
    return false;
  };
  if (softKey < 0) softKey = holds(1) ? 1 : holds(0) ? 0 : -1;
  if (softKey < 0) {
    why = "no soft key or item " + inQuotes(parts[0]);
    return false;
  }
  const SoftKey& key = bar->key(softKey);
  const std::string keyName = utf16ToUtf8(key.label);
  if (!key.enabled) {
    why = inQuotes(keyName) + " is greyed";
    return false;
  }
  keys.push_back(softKey == 0 ? Key::Soft1 : Key::Soft2);
  const Menu* menu = key.popup.get();
  std::string menuName = keyName;
  if (!menu && next < parts.size()) {
    why = inQuotes(keyName) + " opens no menu";
    return false;
  }

  // A popup starts on its first item that is not a separator, and Down passes over
  // separators but stops on greyed items.
  for (; next < parts.size(); ++next) {
    if (!menu) {
      why = inQuotes(parts[next - 1]) + " opens no menu";
      return false;
    }
    const std::u16string wanted = labelKey(utf8ToUtf16(parts[next]));
    const MenuItem* found = nullptr;
    int downs = 0;
    for (size_t k = 0; k < menu->count() && !found; ++k) {
      const MenuItem& item = menu->item(k);
      if (item.separator()) continue;
      if (labelKey(item.text) == wanted) found = &item;
      else ++downs;
    }
    if (!found) {
      why = "no item " + inQuotes(parts[next]) + " in " + menuName;
      return false;
    }
    if (found->gray()) {
      why = inQuotes(parts[next]) + " is greyed";
      return false;
    }
    keys.insert(keys.end(), static_cast<size_t>(downs), Key::Down);
    keys.push_back(found->submenu ? Key::Right : Key::Enter);
    menu = found->submenu.get();
    menuName = std::string(parts[next]);
  }
  return true;
}

}  // namespace kelp
