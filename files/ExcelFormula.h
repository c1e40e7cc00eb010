// Excel formula tokens (BIFF5 and BIFF8) turned into Kelp's compiled tokens, and back.
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
  /// Pocket Excel tokens: BIFF5 addresses, UTF-16 ptgStr without an option byte, 4-byte
  /// ptgName, and 3-D references that name their first and last sheet (BOUNDSHEET
  /// positions, through sheetNumbers) themselves. Set with biff8 false.
  bool pocket = false;
  /// One BIFF8 EXTERNSHEET entry in Kelp's terms: the book (0 this workbook, else an
  /// external workbook index) and the sheet span; a span of -1 names no sheet.
  struct ExternSheet {
    uint16_t book = 0;
    int32_t firstSheet = -1;
    int32_t lastSheet = -1;
    /// The entry of externNames whose EXTERNNAME records a tNameX through this entry names.
    int32_t externNames = -1;
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
  /// For each NAME record by position: the catalogue row a "_xlfn." name calls through
  /// function 255, else -1.
  std::vector<int32_t> nameFunctions;
  /// The EXTERNNAME records of each SUPBOOK (BIFF8) or EXTERNSHEET record (BIFF5) in
  /// order, as the catalogue row an add-in name calls; -1 for any other name.
  std::vector<std::vector<int32_t>> externNames;
  /// Set by conversion when a formula is volatile, so the workbook is recalculated.
  bool volatileSeen = false;
};

/// Cell formulas (validation formulas too, read at the top-left cell of the rule's first
/// area), shared formulas (references relative to the cell that uses them) and defined
/// names (no cell).
enum class ExcelFormulaKind { Cell, Shared, Name };

/// Converts `length` bytes of Excel tokens of a formula at `cell` into a new formula-pool
/// entry of Kelp tokens (one reference). NoHandle with error 35 when a token has no Kelp
/// equivalent, with error 13 when the tokens are malformed (an operand runs past the end,
/// an operator lacks operands, a jump leaves the formula).
/// The ptgRefN offsets of shared formulas are kept as they are, whatever `cell`; names
/// read ptgRef positions as written at A1 and ignore `cell`.
/// `extra` holds the record's bytes after the tokens, where array constants keep their
/// elements; without them an array constant is malformed.
uint32_t convertExcelFormula(const uint8_t* tokens, size_t length, CellPosition cell, ExcelFormulaKind kind,
                             ExcelFormulaContext& context, const uint8_t* extra = nullptr, size_t extraLength = 0);

/// What writing a formula needs to know of the file being written.
struct ExcelExportContext {
  const Workbook* workbook = nullptr;
  bool biff8 = true;
  /// Pocket Excel tokens, as for ExcelFormulaContext::pocket; another workbook's sheets
  /// and deleted 3-D references have no Pocket form. Set with biff8 false.
  bool pocket = false;
  /// A sheet span of a 3-D reference: book 0 is this workbook, else an external one.
  struct SheetSpan {
    uint8_t book = 0;
    uint8_t first = 0;
    uint8_t last = 0;
    bool addIn = false;  // the add-in book whose EXTERNNAMEs name functions; no sheets
    bool operator==(const SheetSpan&) const = default;
  };
  /// BIFF8: the EXTERNSHEET entries in order, a 3-D reference's index being its span's
  /// position. BIFF5: the external sheets (first == last) that follow the workbook's own
  /// sheets' EXTERNSHEET records. Conversion appends a span it does not find, so the
  /// writer collects them by converting (or scanning) every formula before the globals.
  std::vector<SheetSpan> externSheets;
  /// The sheets of this workbook that BIFF5 numbers its own EXTERNSHEET records by.
  int32_t sheetCount = 0;
  /// Excel's 1-based NAME number for each Kelp name index; 0 when the name is not written.
  std::vector<uint16_t> nameNumbers;
  /// Catalogue rows Excel has no number for, in the order their names are written: the
  /// add-in ones as EXTERNNAME records of one add-in book, the later ones as "_xlfn."
  /// NAME records after the workbook's own names, of which there are laterNameBase.
  std::vector<uint16_t> addInFunctions;
  std::vector<uint16_t> laterFunctions;
  uint16_t laterNameBase = 0;
  /// The code page of BIFF5 texts.
  uint32_t codePage = 1252;
};

/// Cell formulas; defined names, whose relative references are offsets from A1 as the
/// reader takes them; and validation formulas, written as at the top-left cell of the
/// rule's first area like a cell formula but with a reference result kept a reference.
enum class ExcelExportKind { Cell, Name, Rule };

/// Why a formula could not be written; the cell is then written with its value alone.
enum class ExcelExportResult {
  Written,
  NoExcelForm,    // a token Excel has no form for (task statements, a function Excel lacks)
  RowOutOfReach,  // BIFF5 references reach row 16,384 at most
  TooLong,        // more than a FORMULA record can carry
  Malformed,      // the token string is damaged
};

/// Converts `length` bytes of Kelp tokens (no length prefix) of a formula at `cell` into
/// Excel tokens appended to `out`. Nothing is appended unless the result is Written; the
/// error state is not touched. The elements of array constants go to `extra`, which the
/// record carries after the tokens; without it a formula holding one has no Excel form.
ExcelExportResult convertToExcelFormula(const uint8_t* tokens, size_t length, CellPosition cell,
                                        ExcelExportKind kind, ExcelExportContext& context,
                                        std::vector<uint8_t>& out, std::vector<uint8_t>* extra = nullptr);

}  // namespace kelp
