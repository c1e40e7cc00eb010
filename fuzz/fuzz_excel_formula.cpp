// Fuzz target: arbitrary bytes as Excel formula tokens, converted against a small
// workbook; whatever converts is shown as text, evaluated, and written back as Excel
// tokens, which must convert again. With bit 4 of the first byte the bytes are Kelp
// tokens instead (a damaged native file brings such), written as Excel tokens.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>
#include <string>

#include "files/ExcelFormula.h"
#include "formula/Compiler.h"
#include "formula/Evaluator.h"
#include "formula/FormulaText.h"
#include "functions/Engine.h"
#include "model/HandlePool.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"

namespace {

kelp::Workbook& fuzzBook() {
  static std::unique_ptr<kelp::Workbook> book = [] {
    auto b = kelp::newWorkbook(3);
    b->sheetAt(1)->name = u"My Sheet";
    kelp::startEngine();
    b->setName(u"Markup", kelp::compileToHandle(*b, u"=Sheet1!A1*2", kelp::CellPosition{}, false));
    b->setName(u"Empty", kelp::NoHandle);
    kelp::ExternalBook* external = b->externalBook(b->findOrAddExternalBook(u"C:\\", u"Other.xls"));
    external->sheetNames = {u"Jan", u"Feb 2"};
    b->sheetAt(0)->setCell(0, 0, {kelp::numberValue(3), 0});
    return b;
  }();
  return *book;
}

kelp::ExcelFormulaContext fuzzContext(bool biff8) {
  kelp::ExcelFormulaContext context;
  context.workbook = &fuzzBook();
  context.biff8 = biff8;
  context.externSheets = {{0, 0, 0}, {0, 1, 2}, {0, -1, -1}, {1, 0, 1}, {1, 5, 5}};
  context.sheetNumbers = {0, -1, 1, 2};
  context.nameIndexes = {0, -1, 1};
  return context;
}

// The first name is written, the second one not.
kelp::ExcelExportContext exportContext(bool biff8) {
  kelp::ExcelExportContext context;
  context.workbook = &fuzzBook();
  context.biff8 = biff8;
  context.sheetCount = fuzzBook().sheetCount();
  context.nameNumbers = {1, 0};
  return context;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 4096) return 0;
  // The first byte chooses the format (bit 0), the kind (bits 1 and 2) and the cell
  // (bit 3: one at the far corner, where offsets wrap).
  const uint8_t mode = data[0];
  kelp::ExcelFormulaContext context = fuzzContext(mode & 1);
  const kelp::ExcelFormulaKind kinds[] = {kelp::ExcelFormulaKind::Cell, kelp::ExcelFormulaKind::Shared,
                                          kelp::ExcelFormulaKind::Name};
  const kelp::ExcelFormulaKind kind = kinds[((mode >> 1) & 3) % 3];
  const kelp::CellPosition cell = (mode & 8) ? kelp::CellPosition{255, 65535, 2} : kelp::CellPosition{3, 5, 0};
  kelp::Workbook& book = fuzzBook();
  const kelp::ExcelExportKind exportKind =
      kind == kelp::ExcelFormulaKind::Name ? kelp::ExcelExportKind::Name : kelp::ExcelExportKind::Cell;
  if (mode & 16) {
    kelp::ExcelExportContext out = exportContext(mode & 1);
    std::vector<uint8_t> excel;
    (void)kelp::convertToExcelFormula(data + 1, size - 1, cell, exportKind, out, excel);
    kelp::clearError();
    return 0;
  }
  const uint32_t handle = kelp::convertExcelFormula(data + 1, size - 1, cell, kind, context);
  if (handle != kelp::NoHandle) {
    const auto* tokens = static_cast<const uint8_t*>(kelp::formulaPool().data(handle));
    std::u16string shown;
    if (kelp::formulaText(book, tokens, cell, shown)) {
      const uint32_t again = kelp::compileToHandle(book, shown, cell, false);
      kelp::formulaPool().release(again);
    }
    kelp::CellValue result;
    if (kelp::evaluateTokens(tokens, book, cell, true, result)) kelp::releaseValue(result);
    // Shared formulas hold offsets that only their cells resolve; the others go back.
    if (kind != kelp::ExcelFormulaKind::Shared) {
      kelp::ExcelExportContext out = exportContext(mode & 1);
      std::vector<uint8_t> excel;
      if (kelp::convertToExcelFormula(tokens + 4, kelp::readU32(tokens), cell, exportKind, out, excel) ==
          kelp::ExcelExportResult::Malformed)
        std::abort();
    }
    kelp::formulaPool().release(handle);
  }
  kelp::clearError();
  return 0;
}
