// Stand-in for the Excel formula conversion until the real conversion replaces this file: no formula converts.
#include "files/ExcelFormula.h"
#include "platform/ErrorState.h"

namespace kelp {

uint32_t convertExcelFormula(const uint8_t*, size_t, CellPosition, ExcelFormulaKind, ExcelFormulaContext&) {
  setError(Err::UnsupportedFormula);
  return NoHandle;
}

}  // namespace kelp
