// A small JSON reader for the oracle files that other programs' readings are kept in.
#pragma once

#include <cctype>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace kelp::test {

// Just enough JSON for the oracle files: objects, arrays, strings, numbers, literals.
struct Json {
  enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> fields;

  const Json& operator[](const std::string& key) const {
    static const Json none;
    auto it = fields.find(key);
    return it == fields.end() ? none : it->second;
  }
};

class JsonParser {
 public:
  explicit JsonParser(std::string text) : m_text(std::move(text)) {}
  bool parse(Json& out) {
    bool ok = value(out);
    skipSpace();
    return ok && m_at == m_text.size();
  }

 private:
  void skipSpace() {
    while (m_at < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_at]))) ++m_at;
  }
  bool literal(const char* word) {
    size_t n = std::strlen(word);
    if (m_text.compare(m_at, n, word) != 0) return false;
    m_at += n;
    return true;
  }
  bool string(std::string& out) {
    if (m_text[m_at] != '"') return false;
    ++m_at;
    while (m_at < m_text.size() && m_text[m_at] != '"') {
      char c = m_text[m_at++];
      if (c != '\\') {
        out += c;
        continue;
      }
      char e = m_text[m_at++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          uint32_t code = std::stoul(m_text.substr(m_at, 4), nullptr, 16);
          m_at += 4;
          if (code >= 0xD800 && code < 0xDC00 && m_text.compare(m_at, 2, "\\u") == 0) {
            uint32_t low = std::stoul(m_text.substr(m_at + 2, 4), nullptr, 16);
            m_at += 6;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          }
          appendUtf8(out, code);
          break;
        }
        default: out += e;
      }
    }
    ++m_at;
    return true;
  }
  static void appendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  bool value(Json& out) {
    skipSpace();
    if (m_at >= m_text.size()) return false;
    char c = m_text[m_at];
    if (c == '{') {
      out.kind = Json::Object;
      ++m_at;
      skipSpace();
      if (m_text[m_at] == '}') return ++m_at, true;
      for (;;) {
        skipSpace();
        std::string key;
        if (!string(key)) return false;
        skipSpace();
        if (m_text[m_at++] != ':') return false;
        if (!value(out.fields[key])) return false;
        skipSpace();
        if (m_text[m_at] == ',') {
          ++m_at;
          continue;
        }
        return m_text[m_at++] == '}';
      }
    }
    if (c == '[') {
      out.kind = Json::Array;
      ++m_at;
      skipSpace();
      if (m_text[m_at] == ']') return ++m_at, true;
      for (;;) {
        out.items.emplace_back();
        if (!value(out.items.back())) return false;
        skipSpace();
        if (m_text[m_at] == ',') {
          ++m_at;
          continue;
        }
        return m_text[m_at++] == ']';
      }
    }
    if (c == '"') {
      out.kind = Json::String;
      return string(out.text);
    }
    if (literal("true")) return out.kind = Json::Bool, out.boolean = true, true;
    if (literal("false")) return out.kind = Json::Bool, out.boolean = false, true;
    if (literal("null")) return out.kind = Json::Null, true;
    size_t used = 0;
    out.kind = Json::Number;
    out.number = std::stod(m_text.substr(m_at, 40), &used);
    m_at += used;
    return used > 0;
  }

  std::string m_text;
  size_t m_at = 0;
};

inline bool readJson(const std::string& path, Json& out) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return in.good() && JsonParser(text.str()).parse(out);
}

}  // namespace kelp::test
