// The Data Validation property sheet: the rule of the selection, its error alert and
// its input help.
#pragma once

namespace kelp {

class Desktop;
class Workbook;
class UndoList;

/// Shows the sheet for the active cell's rule (or a new one) and on OK sets the rule on
/// the selection, or on every cell of the rule with "Apply to all cells with the same
/// criteria". "Any value" without input help removes the rules instead. A value that
/// does not read keeps the sheet open with its error.
bool runValidationDialog(Desktop& desktop, Workbook& workbook, UndoList& undo);

}  // namespace kelp
