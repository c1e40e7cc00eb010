// The Excel function table: Excel's function numbers in BIFF formulas mapped to
// catalogue rows, with the argument classes the export writes.
#pragma once

#include <cstdint>

namespace kelp {

namespace ExcelArgClass {
constexpr uint8_t Value = 0;
constexpr uint8_t Reference = 1;
constexpr uint8_t Array = 2;
}  // namespace ExcelArgClass

struct ExcelFunctionRow {
  uint16_t catalogueIndex;  // ExcelUnsupported when Kelp has no such function
  uint8_t minArgs;          // copies of the catalogue row's counts (0 when unsupported)
  uint8_t maxArgs;
  uint8_t argClass[3];      // argument 1, argument 2, arguments 3 and later
  const char* name;         // Excel's name; empty where Excel has none
};

constexpr int32_t ExcelFunctionCount = 368;
/// Stored in the table for Excel functions that cannot be imported.
constexpr uint16_t ExcelUnsupported = 65500;

/// The row of Excel function `number`; numbers at or beyond the table read as unsupported.
const ExcelFunctionRow& excelFunctionRow(int32_t number);
/// The Excel number of catalogue row `catalogueIndex`, or -1 when Excel has none.
int32_t excelFunctionNumber(int32_t catalogueIndex);
/// The class the export gives argument `argument` (counting from 0) of the row.
inline uint8_t excelArgClass(const ExcelFunctionRow& row, int32_t argument) {
  return row.argClass[argument < 2 ? argument : 2];
}

}  // namespace kelp
