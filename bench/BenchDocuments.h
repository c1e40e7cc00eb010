// What the file benchmarks share: a sheet of numbers, texts and formulas of a given size,
// a scratch file name and its size.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

#include "files/Document.h"
#include "formula/Tokens.h"
#include "model/HandlePool.h"
#include "model/Workbook.h"
#include "platform/Text.h"

namespace kelp::bench {

// "=<cell to the left> + 1", a relative reference as the compiler writes it.
inline uint32_t leftPlusOne() {
  uint8_t tokens[] = {static_cast<uint8_t>(Op::CellRef), 0, 0, 0xFF, 0xC0, static_cast<uint8_t>(Op::Number),
                      0, 0, 0, 0, 0, 0, 0xF0, 0x3F, static_cast<uint8_t>(Op::Add), static_cast<uint8_t>(Op::End)};
  uint8_t entry[4 + sizeof tokens];
  uint32_t length = sizeof tokens;
  std::memcpy(entry, &length, 4);
  std::memcpy(entry + 4, tokens, sizeof tokens);
  return formulaPool().add(entry, sizeof entry, 1);
}

/// A document whose first sheet holds rows × columns cells: numbers, with every tenth
/// cell a text and every tenth a formula with its result.
inline std::unique_ptr<Document> filledDocument(int32_t rows, int32_t columns) {
  installTokenHooks();
  auto doc = std::make_unique<Document>();
  Sheet& sheet = *doc->workbook().sheetAt(0);
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < columns; ++c) {
      const int32_t n = r * columns + c;
      CellRecord cell{numberValue(n * 0.25), -1};
      if (n % 10 == 1) {
        makeText(cell.value, u"text " + decimalText(n));
      } else if (n % 10 == 2) {
        cell.value = newFormulaValue(leftPlusOne(), CellPosition{static_cast<uint16_t>(c), static_cast<uint16_t>(r), 0});
        formulaResult(cell.value) = numberValue(n);
      }
      sheet.setCell(c, r, cell);
    }
  return doc;
}

/// A file name of this process in /tmp with `extension` (".kp").
inline std::u16string benchFile(const char* extension) {
  return utf8ToUtf16("/tmp/kelp-bench-" + std::to_string(::getpid()) + extension);
}

inline off_t fileSize(const std::u16string& name) {
  struct stat info {};
  ::stat(utf16ToUtf8(name).c_str(), &info);
  return info.st_size;
}

}  // namespace kelp::bench
