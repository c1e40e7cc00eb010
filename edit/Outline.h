// Outlines: the levels of rows and columns, shown and hidden as groups of detail lines
// under their summary line, set by hand (group, ungroup, clear) or from the formulas.
//
// Each command works on the active sheet and records one undo entry whose programs set
// levels through command functions 238 and 239 and end with 240 and 241; showing and
// hiding go through 211 and 213. A command with nothing to change records nothing and
// returns false without an error, unless it says otherwise.
#pragma once

#include <functional>

namespace kelp {

class Sheet;
class UndoList;
class Workbook;

/// Whether Show Detail and Hide Detail can act: rows are outlined and the active row's
/// level is below the row above's, or else columns are outlined and the active column's
/// level is below the column left of it.
bool detailAvailable(const Sheet& sheet);

/// Going up from the row above the active row, every row whose level is above the
/// active row's is shown, stopping at the first that is not; likewise the columns left
/// of the active column. Labels "Show Detail" and "Hide Detail". False on a sheet
/// without an outline.
bool showDetail(Workbook& workbook, UndoList& undo);
/// The same rows and columns are hidden.
bool hideDetail(Workbook& workbook, UndoList& undo);

/// The selection's rows (or columns) one level deeper, at most 7 (`group`), or one
/// level shallower, not below 0. With whole columns selected only the rows that exist
/// are grouped. Labels "Group" and "Ungroup".
bool groupLines(Workbook& workbook, UndoList& undo, bool columns, bool group);

/// Every row and column back to level 0; hidden lines stay hidden. Label "Clear Outline".
bool clearOutline(Workbook& workbook, UndoList& undo);

/// Builds an outline from the formulas of the data region around a single selected
/// cell, or of the selection (label "Auto Outline"). A region of one row is outlined by
/// columns, any other by rows; the region's levels are first set back to 0. An area
/// reference of a formula in the region that lies on the active sheet makes every line
/// of the area but the formula's own a detail line one level deeper than the formula's
/// line, and the formulas of the detail lines (the cells within the region's columns,
/// or rows) are examined in turn. A reference to a single cell names no detail line, nor
/// does one to another sheet or workbook, nor a defined name.
/// When the sheet has column levels, or row levels and the region spans rows,
/// `askModify` is asked first and No stops (false, no error). Error 50 when there is no
/// region or no formula names a detail line; nothing changes then.
bool autoOutline(Workbook& workbook, UndoList& undo, const std::function<bool()>& askModify);

}  // namespace kelp
