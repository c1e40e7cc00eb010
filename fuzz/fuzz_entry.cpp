// Fuzz target: arbitrary text read as a cell entry and as a value inside a formula,
// under a US and a German locale, and shown again.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "format/ValueText.h"
#include "formula/EntryReader.h"
#include "functions/Engine.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Locale.h"
#include "platform/Text.h"

namespace {

kelp::Workbook& fuzzBook() {
  static std::unique_ptr<kelp::Workbook> book = [] {
    kelp::startEngine();
    return kelp::newWorkbook(2);
  }();
  return *book;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 1024) return 0;
  kelp::Workbook& book = fuzzBook();
  // The first byte picks the locale and the mode; the rest is UTF-8 text.
  kelp::selectLocale((data[0] & 1) ? "de_DE" : "en_US");
  bool formulaMode = (data[0] & 2) != 0;
  std::u16string text = kelp::utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  int suggested = -1;
  kelp::CellValue value = kelp::readEntry(&book, text, kelp::CellPosition{2, 2, 0}, &suggested, formulaMode);
  kelp::clearError();
  std::u16string shown;
  kelp::valueToText(value, shown);
  if (suggested >= 0 && suggested < static_cast<int>(book.numberFormats.size()))
    kelp::displayText(value, book.numberFormats, static_cast<uint32_t>(suggested), 12, &kelp::CharacterMeasure, shown);
  kelp::releaseValue(value);
  kelp::clearError();
  return 0;
}
