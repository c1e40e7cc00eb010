// PointMode: while a formula is typed, the movement keys pick the range it reads and the
// editor receives that range's reference.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/Sheet.h"

namespace kelp {

class Canvas;
class GridGeometry;
class Workbook;

/// Whether a formula being typed waits for a reference at the caret: the text starts
/// with "=" and the character before the caret is an operator ("+ - * / < > = &"), "(",
/// ":" or the list separator.
bool formulaWaitsForReference(std::u16string_view text, size_t caret, char16_t listSeparator);

/// The reference text of a range ("B4", "B4:C6"); "'Sheet2'!" goes in front when the
/// range lies on another sheet than the one the formula belongs to.
std::u16string pointerReference(const Workbook& book, int32_t formulaSheet, int32_t pointerSheet,
                                const Selection& range);

/// The pointing state of an open edit.
struct PointMode {
  bool on = false;
  int32_t sheet = 0;      // the sheet the edit began on, and its view then
  uint16_t leftColumn = 0;
  uint16_t topRow = 0;
  Selection pointer;      // the range pointed at
  size_t start = 0;       // where the reference sits in the editor's text
  size_t length = 0;      // and how long it is; the next move replaces it
};

/// Draws the pointer range as a dashed frame over the cells it covers.
void paintPointer(Canvas& canvas, const GridGeometry& geometry, const Selection& range);

}  // namespace kelp
