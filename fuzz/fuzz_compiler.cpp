// Fuzz target: arbitrary bytes as formula and task text, compiled against a small
// workbook; whatever compiles is shown as text and compiled again. The text is also
// read as a typed entry and as the reference text of Indirect.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "formula/Compiler.h"
#include "formula/EntryReader.h"
#include "formula/Evaluator.h"
#include "formula/FormulaText.h"
#include "functions/Engine.h"
#include "model/HandlePool.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"
#include "fuzz/FuzzText.h"

namespace {

kelp::Workbook& fuzzBook() {
  static std::unique_ptr<kelp::Workbook> book = [] {
    auto b = kelp::newWorkbook(2);
    b->insertSheet(u"My Sheet");
    b->insertSheet(u"Q1");
    b->setName(u"Markup", kelp::NoHandle);
    kelp::ExternalBook* external = b->externalBook(b->findOrAddExternalBook(u"C:\\", u"Other.xls"));
    external->sheetNames = {u"Jan", u"Feb 2"};
    kelp::startEngine();
    return b;
  }();
  return *book;
}

void compileAndShow(std::u16string_view text, bool taskMode) {
  kelp::Workbook& book = fuzzBook();
  kelp::CellPosition base{3, 5, 0};
  uint32_t handle = kelp::compileToHandle(book, text, base, taskMode);
  kelp::clearError();
  if (handle != kelp::NoHandle) {
    std::u16string shown;
    if (!taskMode && kelp::formulaText(book, static_cast<const uint8_t*>(kelp::formulaPool().data(handle)),
                                       base, shown)) {
      uint32_t again = kelp::compileToHandle(book, shown, base, false);
      kelp::formulaPool().release(again);
    }
    // Formulas cannot loop, so whatever compiled is run too; task text may loop forever.
    if (!taskMode) {
      kelp::CellValue result;
      if (kelp::evaluateTokens(static_cast<const uint8_t*>(kelp::formulaPool().data(handle)), book,
                               base, true, result))
        kelp::releaseValue(result);
    }
    kelp::formulaPool().release(handle);
  }
  kelp::clearError();
  kelp::CellValue value = kelp::readEntry(&book, text, base, nullptr, false);
  kelp::releaseValue(value);
  kelp::clearError();
  // The text as Indirect reads it: a reference or nothing, and never a new external book.
  const int32_t books = book.externalBookCount();
  kelp::CellValue reference;
  if (kelp::readReferenceText(book, text, base, reference) && reference.kind != kelp::ValueKind::AreaRef &&
      reference.kind != kelp::ValueKind::SheetAreaRef)
    __builtin_trap();
  if (book.externalBookCount() != books) __builtin_trap();
  kelp::clearError();
  // Declarations made by task text must not pile up from one input to the next.
  book.clearTaskVariables();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const std::u16string text = fuzzText(data, size);
  compileAndShow(text, false);
  compileAndShow(text, true);
  return 0;
}
