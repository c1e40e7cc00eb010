// The text fuzz targets feed: the first byte chooses how the rest is read, as UTF-8
// (even) or as raw UTF-16 units (odd), so that unpaired surrogates come too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Text.h"

inline std::u16string fuzzText(const uint8_t* data, size_t size) {
  std::u16string text;
  if (size > 0 && (data[0] & 1)) {
    for (size_t i = 1; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  } else if (size > 0) {
    text = kelp::utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  }
  return text;
}
