// Painting the grid: outline margins, headers, panes of cells with their text, merged
// areas and borders, frozen-title lines and the inverted selection.
#pragma once

#include <cstdint>
#include <string>

#include "model/Sheet.h"
#include "platform/ui/Canvas.h"
#include "shell/GridLayout.h"

namespace kelp {

class Workbook;

/// The grid's gridline colour.
constexpr Color GridlineColor = rgb(192, 192, 192);

/// Paints everything of the grid that meets `update` (client coordinates), the selection
/// highlight of `selection` included.
void paintGrid(Canvas& canvas, const Workbook& workbook, const GridGeometry& geometry, const Rect& update,
               const Selection& selection);

/// Paints the row and column headers alone: those of the selection's rows and columns
/// lightly marked, those of the active cell marked strongly with bold labels.
void paintHeaders(Canvas& canvas, const Workbook& workbook, const GridGeometry& geometry,
                  const Selection& selection);

/// How thick the active cell's inverted frame is: 2 pixels, 3 from zoom 150 on, where a
/// row is tall enough that the frame stays clear of the text.
inline int cursorFrameWidth(int zoom) { return zoom < 150 ? 2 : 3; }

/// Inverts the highlight of a selection: the range shrunk by one pixel, less the active
/// cell (or its merged area) shrunk by one more than the frame width, so that the active
/// cell shows a frame of that width. Inverting twice takes it away again.
void invertSelection(Canvas& canvas, const GridGeometry& geometry, const Selection& selection);

/// The text a cell shows (task markup removed, zeros hidden when the sheet says so) for
/// `room` pixels measured in `font`.
std::u16string cellDisplayText(const Workbook& workbook, const Sheet& sheet, int32_t col, int32_t row,
                               const FontSpec& font, int room);

/// The cell's font from the workbook's font table, scaled for the zoom.
FontSpec cellFont(const Workbook& workbook, int16_t style, int zoom);
/// The workbook's standard font (its first) at 100%, whose digits column widths count in.
FontSpec standardFont(const Workbook& workbook);

/// The visible part of a cell text, as cellTaskDisplay splits it.
std::u16string_view withoutTaskMarkup(std::u16string_view text);

}  // namespace kelp
