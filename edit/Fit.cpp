// Fitting column widths and row heights to their cells.
#include "edit/Fit.h"

#include <algorithm>
#include <string>

#include "format/ValueText.h"
#include "model/Sheet.h"
#include "model/Workbook.h"

namespace kelp {

namespace {

CellTextWidthFn g_width = nullptr;

// Twips of the font a cell's style names; 10 points for a style without one.
int32_t fontHeight(const Workbook& workbook, int16_t style) {
  const uint16_t font = workbook.style(style).font;
  return font < workbook.fonts.size() ? workbook.fonts[font].height : 200;
}

// A 10-point digit is 7 pixels wide, the unit column widths count in.
int32_t estimatedWidth(const Workbook& workbook, int16_t style, std::u16string_view text) {
  return static_cast<int32_t>(text.size()) * fontHeight(workbook, style) * 7 / 200;
}

// Room for the padding either side of a cell's text.
constexpr int32_t PaddingPixels = 6;

}  // namespace

void installCellTextWidth(CellTextWidthFn fn) { g_width = fn; }

int32_t fittedColumnWidth(const Workbook& workbook, const Sheet& sheet, int32_t column) {
  int32_t widest = -1;
  std::u16string text;
  for (int32_t r = sheet.nextRow(-1); r != NoRow; r = sheet.nextRow(r)) {
    const CellValue& value = sheet.cellValue(column, r);
    if (value.kind == ValueKind::Empty) continue;
    const int16_t style = sheet.effectiveStyle(column, r);
    text.clear();
    displayText(value, workbook.numberFormats, workbook.style(style).numberFormat, NoWidthLimit, nullptr, text);
    const int32_t width = g_width ? g_width(workbook, style, text) : estimatedWidth(workbook, style, text);
    widest = std::max(widest, width);
  }
  if (widest < 0) return sheet.columns.defaultWidth();
  // Pixels are width × 7/256 + 1.5, so this is the narrowest width that holds the text.
  return std::clamp((widest + PaddingPixels) * 256 / 7, 256, 255 * 256);
}

uint16_t fittedRowHeight(const Workbook& workbook, const Sheet& sheet, int32_t row) {
  const Row* r = sheet.rowAt(row);
  int32_t tallest = -1;
  for (int32_t c = r ? sheet.nextUsedInRow(row, -1) : -1; c >= 0 && c < MaxColumns; c = sheet.nextUsedInRow(row, c))
    tallest = std::max(tallest, fontHeight(workbook, sheet.effectiveStyle(c, row)));
  if (tallest < 0) return sheet.defaultRowHeight;
  // A 10-point font sits in a 12.75-point row.
  return static_cast<uint16_t>(std::max<int32_t>(tallest * 51 / 40, sheet.defaultRowHeight));
}

void refitRowHeights(const Workbook& workbook, Sheet& sheet, int32_t firstRow, int32_t lastRow) {
  for (int32_t r = sheet.nextRow(firstRow - 1); r != NoRow && r <= lastRow; r = sheet.nextRow(r)) {
    if (sheet.isRowHeightExplicit(r)) continue;
    const uint16_t height = fittedRowHeight(workbook, sheet, r);
    if (height != sheet.rowHeight(r)) sheet.setRowHeight(r, height, false);
  }
}

}  // namespace kelp
