// The settings store and its text file: "[key]" lines, then "name=type:value" lines.
#include "platform/Registry.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/ErrorState.h"
#include "platform/System.h"
#include "platform/Text.h"

namespace kelp {

namespace {

// Backslash escapes keep every name and text on one line and keep '=' and ']' out of
// the way of the parser; everything else is written as UTF-8. A surrogate without its
// partner has no UTF-8 form, so it is written as \uXXXX: values holding binary units
// (the global tasks) come back whole.
std::string escapeUtf8(std::string_view utf8) {
  std::string out;
  for (char c : utf8) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '\\' || c == '=' || c == '[' || c == ']') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (u < 0x20 || u == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out;
}

bool isHigh(char16_t c) { return c >= 0xD800 && c < 0xDC00; }
bool isLow(char16_t c) { return c >= 0xDC00 && c < 0xE000; }

std::string escape(std::u16string_view text) {
  std::string out;
  size_t run = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool paired = (isHigh(text[i]) && i + 1 < text.size() && isLow(text[i + 1])) ||
                        (isLow(text[i]) && i > 0 && isHigh(text[i - 1]));
    if ((isHigh(text[i]) || isLow(text[i])) && !paired) {
      out += escapeUtf8(utf16ToUtf8(text.substr(run, i - run)));
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(text[i]));
      out += buf;
      run = i + 1;
    }
  }
  out += escapeUtf8(utf16ToUtf8(text.substr(run)));
  return out;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool unescape(std::string_view text, std::u16string& out) {
  std::string bytes;
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '\\') {
      bytes += c;
      continue;
    }
    if (++i >= text.size()) return false;
    char e = text[i];
    if (e == 'n') {
      bytes += '\n';
    } else if (e == 'x') {
      if (i + 2 >= text.size()) return false;
      int hi = hexDigit(text[i + 1]), lo = hexDigit(text[i + 2]);
      if (hi < 0 || lo < 0) return false;
      bytes += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else if (e == 'u' && i + 4 < text.size() && hexDigit(text[i + 1]) >= 0 && hexDigit(text[i + 2]) >= 0 &&
               hexDigit(text[i + 3]) >= 0 && hexDigit(text[i + 4]) >= 0) {
      unsigned unit = 0;
      for (int k = 1; k <= 4; ++k) unit = unit * 16 + static_cast<unsigned>(hexDigit(text[i + k]));
      out += utf8ToUtf16(bytes);
      bytes.clear();
      out += static_cast<char16_t>(unit);
      i += 4;
    } else if (e == '\\' || e == '=' || e == '[' || e == ']') {
      bytes += e;
    } else {
      // Not one of ours: a hand-written "Software\Ulmero" keeps its backslash.
      bytes += '\\';
      bytes += e;
    }
  }
  out += utf8ToUtf16(bytes);
  return true;
}

// The first '=' not preceded by a backslash escape.
size_t findSeparator(std::string_view line) {
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\') {
      ++i;
    } else if (line[i] == '=') {
      return i;
    }
  }
  return std::string_view::npos;
}

}  // namespace

bool Registry::load() {
  m_keys.clear();
  if (m_path.empty()) return true;
  std::ifstream in(m_path, std::ios::binary);
  if (!in) return true;
  std::string line;
  Key* current = nullptr;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      if (line.back() != ']') {
        current = nullptr;
        continue;
      }
      std::u16string name;
      if (!unescape(std::string_view(line).substr(1, line.size() - 2), name)) {
        current = nullptr;
        continue;
      }
      createKey(name);
      current = &m_keys.back();
      for (Key& k : m_keys) {
        if (equalsIgnoreCase(k.name, name)) current = &k;
      }
      continue;
    }
    if (!current) continue;
    size_t eq = findSeparator(line);
    if (eq == std::string::npos) continue;
    std::string_view rest = std::string_view(line).substr(eq + 1);
    size_t colon = rest.find(':');
    if (colon == std::string_view::npos) continue;
    Value v;
    if (!unescape(std::string_view(line).substr(0, eq), v.name)) continue;
    std::string_view type = rest.substr(0, colon), data = rest.substr(colon + 1);
    bool ok = true;
    if (type == "dword") {
      v.type = RegType::Dword;
      auto [end, ec] = std::from_chars(data.data(), data.data() + data.size(), v.dword);
      ok = ec == std::errc() && end == data.data() + data.size() && !data.empty();
    } else if (type == "string") {
      v.type = RegType::String;
      ok = unescape(data, v.text);
    } else if (type == "binary") {
      v.type = RegType::Binary;
      ok = data.size() % 2 == 0;
      for (size_t i = 0; ok && i < data.size(); i += 2) {
        int hi = hexDigit(data[i]), lo = hexDigit(data[i + 1]);
        ok = hi >= 0 && lo >= 0;
        v.bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
      }
    } else {
      ok = false;
    }
    if (!ok) continue;
    bool replaced = false;
    for (Value& old : current->values) {
      if (equalsIgnoreCase(old.name, v.name)) {
        old = v;
        replaced = true;
      }
    }
    if (!replaced) current->values.push_back(std::move(v));
  }
  return true;
}

bool Registry::save() const {
  if (m_path.empty()) return true;
  std::ostringstream out;
  out << "# Kelp settings: [key], then name=dword:N, name=string:text or name=binary:hex\n";
  for (const Key& key : m_keys) {
    out << '[' << escape(key.name) << "]\n";
    for (const Value& v : key.values) {
      out << escape(v.name) << '=';
      switch (v.type) {
        case RegType::Dword:
          out << "dword:" << v.dword;
          break;
        case RegType::String:
          out << "string:" << escape(v.text);
          break;
        case RegType::Binary: {
          out << "binary:";
          static const char digits[] = "0123456789ABCDEF";
          for (uint8_t b : v.bytes) out << digits[b >> 4] << digits[b & 15];
          break;
        }
      }
      out << '\n';
    }
  }
  std::string temp = m_path + ".new";
  {
    std::ofstream file(temp, std::ios::binary | std::ios::trunc);
    if (!file || !(file << out.str()) || !file.flush()) {
      std::remove(temp.c_str());
      setError(Err::FileWrite);
      return false;
    }
  }
  if (std::rename(temp.c_str(), m_path.c_str()) != 0) {
    std::remove(temp.c_str());
    setError(Err::FileWrite);
    return false;
  }
  return true;
}

bool Registry::hasKey(std::u16string_view key) const {
  for (const Key& k : m_keys) {
    if (equalsIgnoreCase(k.name, key)) return true;
  }
  return false;
}

void Registry::createKey(std::u16string_view key) {
  if (!hasKey(key)) m_keys.push_back(Key{std::u16string(key), {}});
}

bool Registry::deleteKey(std::u16string_view key) {
  for (size_t i = 0; i < m_keys.size(); ++i) {
    if (equalsIgnoreCase(m_keys[i].name, key)) {
      m_keys.erase(m_keys.begin() + static_cast<std::ptrdiff_t>(i));
      return commit();
    }
  }
  return false;
}

const Registry::Value* Registry::findValue(std::u16string_view key, std::u16string_view name) const {
  for (const Key& k : m_keys) {
    if (!equalsIgnoreCase(k.name, key)) continue;
    for (const Value& v : k.values) {
      if (equalsIgnoreCase(v.name, name)) return &v;
    }
  }
  return nullptr;
}

Registry::Value& Registry::valueForWrite(std::u16string_view key, std::u16string_view name) {
  createKey(key);
  for (Key& k : m_keys) {
    if (!equalsIgnoreCase(k.name, key)) continue;
    for (Value& v : k.values) {
      if (equalsIgnoreCase(v.name, name)) return v;
    }
    k.values.push_back(Value{std::u16string(name), RegType::Dword, 0, {}, {}});
    return k.values.back();
  }
  return m_keys.back().values.emplace_back();  // unreachable: createKey made the key
}

bool Registry::readDword(std::u16string_view key, std::u16string_view name, uint32_t& value) const {
  const Value* v = findValue(key, name);
  if (!v || v->type != RegType::Dword) return false;
  value = v->dword;
  return true;
}

bool Registry::readString(std::u16string_view key, std::u16string_view name, std::u16string& value) const {
  const Value* v = findValue(key, name);
  if (!v || v->type != RegType::String) return false;
  value = v->text;
  return true;
}

bool Registry::readBinary(std::u16string_view key, std::u16string_view name, std::vector<uint8_t>& value) const {
  const Value* v = findValue(key, name);
  if (!v || v->type != RegType::Binary) return false;
  value = v->bytes;
  return true;
}

bool Registry::writeDword(std::u16string_view key, std::u16string_view name, uint32_t value) {
  Value& v = valueForWrite(key, name);
  v.type = RegType::Dword;
  v.dword = value;
  v.text.clear();
  v.bytes.clear();
  return commit();
}

bool Registry::writeString(std::u16string_view key, std::u16string_view name, std::u16string_view value) {
  Value& v = valueForWrite(key, name);
  v.type = RegType::String;
  v.text = value;
  v.bytes.clear();
  return commit();
}

bool Registry::writeBinary(std::u16string_view key, std::u16string_view name, const std::vector<uint8_t>& value) {
  Value& v = valueForWrite(key, name);
  v.type = RegType::Binary;
  v.bytes = value;
  v.text.clear();
  return commit();
}

bool Registry::deleteValue(std::u16string_view key, std::u16string_view name) {
  for (Key& k : m_keys) {
    if (!equalsIgnoreCase(k.name, key)) continue;
    for (size_t i = 0; i < k.values.size(); ++i) {
      if (equalsIgnoreCase(k.values[i].name, name)) {
        k.values.erase(k.values.begin() + static_cast<std::ptrdiff_t>(i));
        return commit();
      }
    }
  }
  return false;
}

std::vector<std::u16string> Registry::valueNames(std::u16string_view key) const {
  std::vector<std::u16string> names;
  for (const Key& k : m_keys) {
    if (!equalsIgnoreCase(k.name, key)) continue;
    for (const Value& v : k.values) names.push_back(v.name);
  }
  return names;
}

Registry& settingsRegistry() {
  static Registry registry = [] {
    std::string folder = settingsFolder();
    Registry r(folder.empty() ? std::string() : folder + "/registry");
    (void)r.load();
    return r;
  }();
  return registry;
}

}  // namespace kelp
