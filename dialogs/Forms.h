// The dialogs that collect a few values and run one operation on the active sheet:
// Zoom, Column width and Row height, Insert and Delete Cells, Series, Group and Ungroup,
// About. Each remembers its values while the program runs.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui/Message.h"

namespace kelp {

class Desktop;
class Workbook;
class UndoList;
struct PasteOptions;

/// The Zoom dialog: true with `zoom` (25..200) on OK; other values are refused with a
/// message and the dialog stays open. `zoom` comes in as the active sheet's.
bool askZoom(Desktop& desktop, uint32_t& zoom);

/// A column width as the dialog shows it (characters) and as it is stored from a value
/// typed there (1/256 character; 0 hides). Row heights likewise in points and twips.
double shownColumnWidth(int32_t stored);
int32_t storedColumnWidth(double shown);
double shownRowHeight(int32_t stored);
int32_t storedRowHeight(double shown);

/// Column width (`rows` false) or Row height for the selection, shown for the active cell.
bool runSizeDialog(Desktop& desktop, Workbook& workbook, UndoList& undo, bool rows);
/// Insert Cells or Delete Cells: whole rows or columns of the selection.
bool runLinesDialog(Desktop& desktop, Workbook& workbook, UndoList& undo, bool insert);
/// The Series dialog and the fill it asks for.
bool runSeriesDialog(Desktop& desktop, Workbook& workbook, UndoList& undo);
/// Group (`group`) or Ungroup: the selection's rows or columns one outline level in or out.
bool runGroupDialog(Desktop& desktop, Workbook& workbook, UndoList& undo, bool group);
void runAboutDialog(Desktop& desktop);
/// Filter - Show Rows for sheet column `column` of the active sheet's AutoFilter: All,
/// Top (count 1 to 100, 10 when empty), Blanks, NonBlanks or Where (two conditions); OK
/// filters at once as one Undo.
bool runFilterDialog(Desktop& desktop, Workbook& workbook, UndoList& undo, int32_t column);
/// Sort: up to three keys of the selection (a single cell takes its data region first),
/// each ascending or descending, with a header row, case and rows or columns; one Undo.
/// A selection touching a merged area is refused with error 52, no data with error 39.
bool runSortDialog(Desktop& desktop, Workbook& workbook, UndoList& undo);
/// Goal Seek: a target cell, the value it should take and the cell to change, on the
/// active sheet; a reference that does not read, or a value that is no number, keeps the
/// dialog open. The search runs as one undoable change and says when it found a solution.
bool runGoalSeekDialog(Desktop& desktop, Workbook& workbook, UndoList& undo);
/// Paste Special: the five switches for one paste, starting from the last ones chosen.
bool askPasteOptions(Desktop& desktop, PasteOptions& options);
/// Insert Character: one of the 27 characters formulas use; false when cancelled.
bool askCharacter(Desktop& desktop, char16_t& chosen);
/// Insert Name: one of the workbook's defined names, a built-in one by its words; false
/// when cancelled or when the workbook has none.
bool askName(Desktop& desktop, const Workbook& workbook, std::u16string& chosen);
/// The words a defined name is shown and typed by: built-in names (their text a code
/// from 1 to 12) as "Auto_Open", "Print_Area" and the rest.
std::u16string nameWords(std::u16string_view name);

}  // namespace kelp
