// Formula text: a compiled token string turned back into what the user would type.
#pragma once

#include <cstdint>
#include <string>

#include "formula/Tokens.h"

namespace kelp {

class Workbook;

/// The longest formula text, "=" included.
constexpr size_t MaxFormulaText = 999;
/// The most tokens a formula may have to be shown.
constexpr size_t MaxFormulaTokens = 500;

/// Writes "=" and the text of the token string `data` (a formula-pool entry: u32
/// length, then the tokens) as seen from the cell `base`. Sheet and defined names come
/// from `workbook`; without one they show as "ErrRef" and "!!Name". On failure `out`
/// is empty and the error state holds 22.
bool formulaText(const Workbook* workbook, const uint8_t* data, CellPosition base, std::u16string& out);
inline bool formulaText(const Workbook& workbook, const uint8_t* data, CellPosition base, std::u16string& out) {
  return formulaText(&workbook, data, base, out);
}

/// The text of the formula-pool entry `handle` as seen from `base`; empty for no entry or
/// one that cannot be shown (the error state is left clear).
std::u16string handleFormulaText(const Workbook& workbook, uint32_t handle, CellPosition base);

/// "A" to "Z", then two letters up to "IV" for column 255.
void columnName(uint16_t column, std::u16string& out);
/// The row as numbered on screen (row + 1).
void rowName(uint16_t row, std::u16string& out);
/// The cell's A1-style address, "B3".
std::u16string cellAddress(int32_t column, int32_t row);

/// Whether a sheet name must be quoted to be read back as that sheet from formula text
/// of `workbook`.
bool sheetNameNeedsQuotes(const Workbook* workbook, std::u16string_view name);

}  // namespace kelp
