// The Chart dialog, Chart Options and the chart window.
#pragma once

#include "chart/ChartOptions.h"
#include "platform/ui/Window.h"

namespace kelp {

class Desktop;
class UndoList;
class Workbook;

/// Tools > Chart...: the type list with a live preview of the selection's chart and
/// Options..., then the chart window. False with error 36 or 37 pending when the
/// selection cannot be charted, or when cancelled.
bool runChartCommand(Desktop& desktop, WindowId owner, Workbook& book, UndoList& undo);

/// The chart window for the active sheet's selection with the options as they stand, as
/// the Chart task function shows it: the arrows step from point to point, the action
/// key tells the point's value, Options offers Chart Options and Zoom Picture (25 to 200%
/// of the window), Done closes it. False with
/// error 36 or 37 pending when the selection cannot be charted.
bool showChartWindow(Desktop& desktop, Workbook& book, UndoList& undo);

/// Chart Options: titles, "Series in:", legend, Auto Scale, axes and gridlines, and
/// "Save chart to cell:", which writes the chart's Chart(...) text into that cell as its
/// cell task. False when cancelled.
/// Binds the task function Chart to the chart window on `desktop`, changes recorded in
/// `undo`; null pointers leave Chart resetting the options without showing anything.
void installChartTaskFunction(Desktop* desktop, UndoList* undo);

bool runChartOptionsDialog(Desktop& desktop, Workbook& book, UndoList& undo, ChartOptions& options);

}  // namespace kelp
