// The functions only task text may call: references and the selection, sheets, rows and
// columns, the view, undoable cell changes, goal seek, sheets added and removed, saving.
#pragma once

namespace kelp {

class Document;
class UndoList;

/// Binds the task functions to their catalogue rows. Changes they make are recorded in
/// `undo` (with none they still happen but cannot be undone); Save needs the document
/// whose workbook the tasks run on, and without one gives !!NA. Calling it again only
/// replaces the two.
void installTaskFunctions(UndoList* undo, Document* document = nullptr);

/// The screen mode the FullScreen function keeps for the shell to show.
bool taskFullScreen();
void setTaskFullScreen(bool on);

}  // namespace kelp
