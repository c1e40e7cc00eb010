// The Find and Replace dialogs and the small "Next" windows that step through the matches.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "platform/ui/Window.h"

namespace kelp {

class Desktop;
class UndoList;
class Workbook;

/// Writes a new text into a cell as typing does; false when the entry was not made.
using CommitFn = std::function<bool(int32_t column, int32_t row, std::u16string_view text)>;

/// "Find": asks what to look for, makes the first match on the active sheet the active
/// cell and then offers "Next" in a small window at the bottom of the screen until it is
/// closed. Nothing found reports error 51 and keeps the dialog open. `showActive`
/// scrolls the active cell into view; it may be empty.
void runFindDialog(Desktop& desktop, WindowId owner, Workbook& book, const std::function<void()>& showActive);

/// "Replace": searches the cells' editable texts and steps through the matches, replacing
/// one at a time or all of them; each replaced cell goes through `commit`, so each is its
/// own undo entry.
void runReplaceDialog(Desktop& desktop, WindowId owner, Workbook& book, UndoList& undo, const CommitFn& commit,
                      const std::function<void()>& showActive);

}  // namespace kelp
