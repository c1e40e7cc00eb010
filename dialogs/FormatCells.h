// Format Cells: the property sheet that edits the style of the selection.
#pragma once

#include <string>

#include "model/NumberFormat.h"

namespace kelp {

class Desktop;
class Workbook;
class UndoList;

/// The pages Format, Align, Font, Border and Protect over a copy of the active cell's
/// style. OK applies only the attributes changed, to every cell of the selection, as one
/// undo entry "Format Cells"; true when something changed. New... and Delete on the
/// Format page add and remove the workbook's user formats at once.
bool runFormatCellsDialog(Desktop& desktop, Workbook& workbook, UndoList& undo);

/// How a format is named in the Format page's list: the pictures of a date format, two
/// samples (positive and negative) of a fixed one, "General" and "Text".
std::u16string formatListName(const NumberFormatRecord& format);

}  // namespace kelp
