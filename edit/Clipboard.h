// Copy, cut and paste of the active sheet's selection through the clipboard: Kelp's own
// record stream of the range, and tab-separated text for other programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files/NativeFormat.h"  // PasteOptions: contents, formats, validation, skipBlanks, onlyResults

namespace kelp {

class UndoList;
class Workbook;

/// Copies (or cuts) the active sheet's selection to the clipboard: the private Kelp data and text for other programs. False with an error code when there is nothing to copy.
bool copySelection(Workbook& workbook, bool cut);
/// Pastes the clipboard at the active sheet's selection as one undoable command labelled "Paste"; private data first, else text read as typed entries.
bool pasteSelection(Workbook& workbook, UndoList& undo, const PasteOptions& options);
/// Whether Paste has anything to paste (for greying the menu item).
bool clipboardHasData();

// What copySelection and pasteSelection follow, for the tests and the fuzz target.
//
// Copy writes the range's record stream; its text for other programs is made from those
// bytes when first asked for (at once in the window): per row of the range up to its last
// used row, each value up to the row's last used column as valueToText shows it (numbers
// as General), separated by tabs, and CR LF after each row.
//
// Paste puts the data's top-left cell on the selection's first cell, whatever the
// selection's size, and selects the pasted range. Data passing the sheet's edge is
// refused with error 31, a target cutting through a merged area with error 53; either
// leaves everything as it was. A cut is moved only within the workbook it was cut from
// (with the plain switches and cells alone, by moveBlock; else the source is cleared of
// what the switches bring and, on one sheet, references follow), and only once: later
// pastes copy it. Text is read as typed entries, one row per line and one cell per tab;
// a field that is no valid formula is kept as text. Text brings contents alone: of the
// switches only skipBlanks changes it, and without contents it has nothing to bring
// (error 23, as for a clipboard without data).

/// The text Kelp's clipboard data `bytes` gives other programs; empty for bytes that
/// are no readable range.
std::u16string clipboardTextOf(const std::vector<uint8_t>& bytes);

}  // namespace kelp
