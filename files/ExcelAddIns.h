// The functions Excel 97 has no number for: .xls files call them through function 255,
// whose first operand names them, an add-in's EXTERNNAME or a "_xlfn." NAME.
#pragma once

#include <cstdint>
#include <string_view>

#include "formula/ExcelFunctions.h"

namespace kelp {

struct ExcelFormulaContext;
struct ExcelExportContext;

/// The function 255 number that calls a named function.
constexpr uint16_t ExcelNamedCall = 255;

/// The catalogue row a function name in a file stands for, "_xlfn." or not, in any case;
/// -1 when Kelp has no such function.
int32_t excelNamedFunction(std::u16string_view name);

/// How catalogue row `index` is written when Excel has no number for it: its Excel name,
/// argument counts and classes, and whether it travels as an add-in name (else as a
/// "_xlfn." name). Null for a row that is written by number or not at all.
struct ExcelNamedRow {
  ExcelFunctionRow row;
  bool addIn;
};
const ExcelNamedRow* excelNamedRow(int32_t index);

/// Notes that a formula to be written calls catalogue row `index`, so that the workbook's
/// globals carry its name: appended to the context's add-in or later functions when new.
/// False when the row is no named function.
bool noteExcelNamedFunction(ExcelExportContext& context, int32_t index);

}  // namespace kelp
