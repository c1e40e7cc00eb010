// The task function Sort: its arguments turned into sort settings for the selection.
#pragma once

namespace kelp {

class UndoList;

/// Catalogue row 255, Sort(1By[, asc, 2By, asc, 3By, asc, headerRow, caseSens,
/// sortRows]), on the active sheet's selection. A key is a number counting the
/// selection's columns from 1 (its rows with sortRows; 0 for no second or third key) or
/// a reference to a cell of the key column (row). Ascending is the default; sortRows
/// makes the keys rows and moves the columns, as the Sort dialog's "Sort rows" box does.
/// Pushes an empty value, or !!Val (nothing changed) for a key outside the selection or
/// a selection touching a merged area (error 52), !!Ref for a reference spanning several
/// key columns (rows). The sort is recorded in `undo`, or in a list of its own when null.
void taskSort(UndoList* undo);

}  // namespace kelp
