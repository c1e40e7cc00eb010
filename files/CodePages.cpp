// Single-byte code pages: which ones byte texts can be read in, and their characters.
#include <algorithm>
#include <cstdint>
#include <iterator>

#include "files/DocStream.h"

namespace kelp {

namespace {

struct CodePageTable {
  uint32_t codePage;
  char16_t high[128];  // bytes 0x80-0xFF
};

constexpr CodePageTable kTables[] = {
#include "files/CodePageTables.inc"
};

const CodePageTable* tableFor(uint32_t codePage) {
  const auto* found = std::find_if(std::begin(kTables), std::end(kTables),
                                   [codePage](const CodePageTable& t) { return t.codePage == codePage; });
  return found == std::end(kTables) ? nullptr : found;
}

}  // namespace

bool codePageSupported(uint32_t codePage) {
  return codePage == 28591 || codePage == 20127 || tableFor(codePage) != nullptr;
}

char16_t byteToChar(uint32_t codePage, uint8_t byte) {
  if (byte < 0x80) return byte;
  if (codePage == 20127) return u'?';
  if (codePage == 28591) return byte;  // ISO 8859-1: bytes are their own code points
  // A code page Kelp has no table for reads as Windows-1252, the Western default.
  const CodePageTable* table = tableFor(codePage);
  if (!table) table = tableFor(1252);
  return table->high[byte - 0x80];
}

uint8_t charToByte(uint32_t codePage, char16_t c, bool& ok) {
  ok = true;
  if (c < 0x80) return static_cast<uint8_t>(c);
  if (codePage == 28591 && c <= 0xFF) return static_cast<uint8_t>(c);
  if (codePage != 20127 && codePage != 28591) {
    const CodePageTable* table = tableFor(codePage);
    if (!table) table = tableFor(1252);
    // A search of 128 entries per character is cheaper than keeping reverse tables.
    for (int i = 0; i < 128; ++i)
      if (table->high[i] == c) return static_cast<uint8_t>(0x80 + i);
  }
  ok = false;
  return '?';
}

}  // namespace kelp
