// The Sheets dialog: the workbook's sheets, and making one active, adding, renaming,
// deleting, hiding and showing them.
#pragma once

#include "platform/ui/Window.h"

namespace kelp {

class Desktop;
class UndoList;
class Workbook;

/// Runs until Done (the selected sheet becomes active unless it is hidden or internal)
/// or Back. The workbook always keeps a visible sheet, and the active sheet is one.
void runSheetsDialog(Desktop& desktop, WindowId owner, Workbook& book, UndoList& undo);

}  // namespace kelp
