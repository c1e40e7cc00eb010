// Fitting a column's width and a row's height to what their cells show.
#pragma once

#include <cstdint>
#include <string_view>

namespace kelp {

class Sheet;
class Workbook;

/// The width in pixels at 100% zoom of `text` in the font of `style`, on a scale where a digit
/// of the standard font is 7 pixels wide. The window installs one that measures with its
/// fonts; without it the width is estimated from the font size.
using CellTextWidthFn = int32_t (*)(const Workbook& workbook, int16_t style, std::u16string_view text);
void installCellTextWidth(CellTextWidthFn fn);

/// The column width (1/256 of a character) that shows every value of the column in full;
/// the sheet's default width for a column without values.
int32_t fittedColumnWidth(const Workbook& workbook, const Sheet& sheet, int32_t column);
/// The row height in twips that fits the largest font among the row's used cells; the
/// sheet's default height for a row without them.
uint16_t fittedRowHeight(const Workbook& workbook, const Sheet& sheet, int32_t row);

/// Every row of the area whose height was not set explicitly takes its fitted height.
void refitRowHeights(const Workbook& workbook, Sheet& sheet, int32_t firstRow, int32_t lastRow);

}  // namespace kelp
