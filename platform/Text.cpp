// UTF-16 text helpers.
#include "platform/Text.h"

namespace kelp {

// A byte that begins no valid UTF-8 sequence (a stray continuation, a bad lead, an
// overlong or cut-short form, an encoded surrogate) becomes the lone surrogate U+DC00 plus
// the byte, which utf16ToUtf8 turns back into that byte: a file name in another encoding
// then survives the way through UTF-16 byte for byte.
std::u16string utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    uint32_t cp = c;
    size_t extra = 0;
    uint32_t least = 0;
    if (c >= 0x80) {
      if ((c & 0xE0) == 0xC0) {
        cp = c & 0x1F;
        extra = 1;
        least = 0x80;
      } else if ((c & 0xF0) == 0xE0) {
        cp = c & 0x0F;
        extra = 2;
        least = 0x800;
      } else if ((c & 0xF8) == 0xF0) {
        cp = c & 0x07;
        extra = 3;
        least = 0x10000;
      }
      bool valid = extra > 0;
      for (size_t k = 1; valid && k <= extra; ++k) {
        if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) valid = false;
        else cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
      }
      if (!valid || cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        out.push_back(static_cast<char16_t>(0xDC00 + c));
        ++i;
        continue;
      }
    }
    i += extra + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xDC80 && cp <= 0xDCFF) {
      out.push_back(static_cast<char>(cp - 0xDC00));  // a byte utf8ToUtf16 could not read
      continue;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // any other lone surrogate cannot be written as UTF-8
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

char16_t foldCase(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  // Latin-1 capitals, except the multiplication sign.
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
  // Latin Extended-A pairs capitals with the next odd code point, with a shift at U+0139..U+0148 and U+0179..U+017E.
  if (c == 0x130) return u'i';  // the capital I with a dot, whose pair would be the dotless i
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return static_cast<char16_t>(c | 1);
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? static_cast<char16_t>(c + 1) : c;
  if (c == 0x178) return 0xFF;
  // Greek and Cyrillic capitals.
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return static_cast<char16_t>(c + 32);
  // Greek capitals with tonos lie apart from the others.
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return static_cast<char16_t>(c + 37);
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return static_cast<char16_t>(c + 63);
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 32);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
  return c;
}

char16_t upperCase(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  if (c == 0xFF) return 0x178;
  // Small letters whose capitals foldCase does not give back: the micro sign, the
  // dotless i, the long s and the final sigma.
  if (c == 0xB5) return 0x39C;
  if (c == 0x131) return u'I';
  if (c == 0x17F) return u'S';
  if (c == 0x3C2) return 0x3A3;
  if ((c >= 0x101 && c <= 0x137) || (c >= 0x14B && c <= 0x177)) return (c & 1) ? static_cast<char16_t>(c - 1) : c;
  if ((c >= 0x13A && c <= 0x148) || (c >= 0x17A && c <= 0x17E)) return (c & 1) ? c : static_cast<char16_t>(c - 1);
  if (c >= 0x3B1 && c <= 0x3CB) return static_cast<char16_t>(c - 32);
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return static_cast<char16_t>(c - 37);
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return static_cast<char16_t>(c - 63);
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 32);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 80);
  return c;
}

int compareIgnoreCase(std::u16string_view a, std::u16string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    char16_t x = foldCase(a[i]);
    char16_t y = foldCase(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool equalsIgnoreCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && compareIgnoreCase(a, b) == 0;
}

std::u16string decimalText(int64_t number) {
  std::string digits = std::to_string(number);
  return std::u16string(digits.begin(), digits.end());
}

namespace {

template <typename Fill>
std::u16string formatWith(std::u16string_view pattern, Fill fill) {
  std::u16string out;
  out.reserve(pattern.size() + 16);
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == u'%' && i + 1 < pattern.size()) {
      char16_t spec = pattern[i + 1];
      if (spec == u'%') {
        out.push_back(u'%');
        ++i;
        continue;
      }
      if (fill(spec, out)) {
        ++i;
        continue;
      }
    }
    out.push_back(pattern[i]);
  }
  return out;
}

}  // namespace

std::u16string formatText(std::u16string_view pattern, int64_t number) {
  return formatWith(pattern, [number](char16_t spec, std::u16string& out) {
    if (spec != u'd' && spec != u'i') return false;
    out += decimalText(number);
    return true;
  });
}

std::u16string formatText(std::u16string_view pattern, std::u16string_view text) {
  return formatWith(pattern, [text](char16_t spec, std::u16string& out) {
    if (spec != u's') return false;
    out += text;
    return true;
  });
}

}  // namespace kelp
