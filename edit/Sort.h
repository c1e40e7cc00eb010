// Sorting the rows (or columns) of the selection by up to three keys: the settings, the
// sheet operation that command function 222 runs, and the undoable command.
//
// Rows or columns with equal keys keep their order, a header row (column) stays where
// it is, and blank key cells go last in either direction. Whole rows (columns) of the
// selection move together, formulas with them: their relative references move along.
#pragma once

#include <cstdint>

namespace kelp {

class Sheet;
class Workbook;
class UndoList;

/// What a sort does; the application keeps one set, filled in before each sort.
struct SortSettings {
  bool hasHeader = false;      // the first row (column) of the area is a header and stays
  bool caseSensitive = false;  // texts compare case-sensitively
  bool byRows = true;          // rows move and the keys are columns; false: columns move by key rows
  bool ascending1 = true;
  bool ascending2 = true;
  bool ascending3 = true;
  // Offsets of the key columns (rows) from the area's first column (row); -1: no key
  // (keys 2 and 3 only).
  int32_t key1 = 0;
  int32_t key2 = -1;
  int32_t key3 = -1;
};

/// The application's settings, which the next sort uses.
SortSettings& sortSettings();

/// Whether every key of `settings` names a column (row) of a `width` × `height` area:
/// key 1 one of them, keys 2 and 3 one of them or -1.
bool sortKeysFit(const SortSettings& settings, int32_t width, int32_t height);

/// Sorts the selection of `sheet` with sortSettings(). False, nothing changed, when a
/// key lies outside the selection. Two keys naming the same column (row) leave the
/// area as it is, as does an area of fewer than two rows (columns) to sort.
bool sortArea(Sheet& sheet);

/// Sorts the active sheet's selection with `settings` (which become the application's)
/// and recalculates, as one undo entry labelled "Sort". False, with nothing recorded or
/// changed, when a key lies outside the selection, or when the selection touches a
/// merged area (error 52).
bool sortSelection(Workbook& workbook, UndoList& undo, const SortSettings& settings);

/// Command function 222: pops key 3, key 2, key 1, ascending 3 to 1, byRows,
/// caseSensitive and hasHeader (nine arguments) and sorts the selection; !!Val for a
/// key outside it or a merged area in it (error 52), which change nothing.
void sortCommandFunction();

}  // namespace kelp
