// The task functions Copy and Paste: the selection through the clipboard.
#pragma once

namespace kelp {

class UndoList;

/// Catalogue row 289, Copy(): copies the active sheet's selection to the clipboard.
/// Pushes an empty value, or !!Val with the error (23) left for the window to show.
void taskCopy();

/// Catalogue row 290, Paste([contents, format, validation, skipBlanks, onlyResults]):
/// pastes the clipboard at the selection with those switches, the ones not given as a
/// plain Paste has them (the first three on, the last two off). Pushes an empty value, or
/// !!Val with the error (23, 31 or 53) left for the window to show and nothing changed.
/// The paste is recorded in `undo`, or in a list of its own when null.
void taskPaste(UndoList* undo);

}  // namespace kelp
