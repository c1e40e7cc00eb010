// Excel formula tokens (BIFF5 and BIFF8) turned into Kelp's compiled tokens.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/CellValue.h"

namespace kelp {

class Workbook;

/// What converting a formula needs to know of the file being read.
struct ExcelFormulaContext {
  Workbook* workbook = nullptr;
  bool biff8 = true;
  /// One BIFF8 EXTERNSHEET entry in Kelp's terms: the book (0 this workbook, else an
  /// external workbook index) and the sheet span; a span of -1 names no sheet.
  struct ExternSheet {
    uint16_t book = 0;
    int32_t firstSheet = -1;
    int32_t lastSheet = -1;
  };
  /// In BIFF5 the EXTERNSHEET records in order: a 3-D reference with a positive index
  /// names one of them (a sheet of another workbook); one with a negative index names
  /// this workbook's sheets itself, through sheetNumbers.
  std::vector<ExternSheet> externSheets;
  /// Kelp's sheet number for each sheet of the file in BOUNDSHEET order; -1 for a sheet
  /// that is not one of Kelp's (the hidden data sheet).
  std::vector<int32_t> sheetNumbers;
  /// Kelp's name index for each NAME record of the file by position; -1 for a dropped
  /// (built-in) name. A name may use names defined after it, so the list is complete
  /// before the first formula is converted.
  std::vector<int32_t> nameIndexes;
  /// Set by conversion when a formula is volatile, so the workbook is recalculated.
  bool volatileSeen = false;
};

/// Cell formulas, shared formulas (references relative to the cell that uses them) and
/// defined names and validation formulas (no cell).
enum class ExcelFormulaKind { Cell, Shared, Name };

/// Converts `length` bytes of Excel tokens of a formula at `cell` into a new formula-pool
/// entry of Kelp tokens (one reference). NoHandle with error 35 when a token has no Kelp
/// equivalent, with error 13 when the tokens are malformed (an operand runs past the end,
/// an operator lacks operands, a jump leaves the formula).
/// The ptgRefN offsets of shared formulas are kept as they are, whatever `cell`; names
/// read ptgRef positions as written at A1 and ignore `cell`.
uint32_t convertExcelFormula(const uint8_t* tokens, size_t length, CellPosition cell, ExcelFormulaKind kind,
                             ExcelFormulaContext& context);

}  // namespace kelp
