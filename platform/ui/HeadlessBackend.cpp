// The key script reader and the hand-advanced clock of the headless backend.
#include "platform/ui/HeadlessBackend.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "platform/ErrorState.h"
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

}  // namespace

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
      if (key == Key::None) return problem("unknown key '" + std::string(name) + "'");
      desktop.pressKey(key, mods);
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

}  // namespace kelp
