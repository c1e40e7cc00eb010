// The functions only task text may call: references and the selection, sheets, rows and
// columns, the view, undoable cell changes, goal seek, sheets added and removed, saving.
#pragma once

#include <functional>
#include <string_view>

namespace kelp {

class Document;
class UndoList;

/// Binds the task functions to their catalogue rows. Changes they make are recorded in
/// `undo` (with none they still happen but cannot be undone); Save needs the document
/// whose workbook the tasks run on, and without one gives !!NA. Calling it again only
/// replaces the two.
void installTaskFunctions(UndoList* undo, Document* document = nullptr);

/// Asked before Save writes a copy anywhere but the workbook's own file, with the path
/// made absolute; false refuses the save. Without one (the command line) Save asks nobody.
using TaskSaveCheck = std::function<bool(std::u16string_view path)>;
void installTaskSaveCheck(TaskSaveCheck check);

/// The screen mode the FullScreen function keeps for the shell to show.
bool taskFullScreen();
void setTaskFullScreen(bool on);

}  // namespace kelp
