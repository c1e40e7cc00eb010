// The Go to dialog: a reference typed, with or without a sheet name, selected.
#pragma once

#include "platform/ui/Window.h"

namespace kelp {

class Desktop;
class Workbook;

/// Asks for a reference ("B3", "C2:D9", "Income!B3", "'My sheet'!A1:B2"); OK makes a named
/// sheet active and selects the cell or area, the active cell at its first corner. A text
/// that is not a reference reports error 4 and the dialog stays open. The text typed is
/// offered again next time. False when cancelled.
bool runGoToDialog(Desktop& desktop, WindowId owner, Workbook& book);

}  // namespace kelp
