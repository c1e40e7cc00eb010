// The AutoFilter: the data area around a cell, the column criteria that hide rows, and
// the undoable commands that turn a filter on, set one column's criterion and turn it off.
//
// A filter changes nothing but the hidden flags of its area's rows and the sheet's
// AutoFilter record. The commands record both: command function 246 puts the record
// back and 247 removes it (neither touches a row), 211 puts each changed row back.
#pragma once

#include <cstdint>
#include <vector>

#include "model/Sheet.h"

namespace kelp {

class ProgramBuilder;
class UndoList;
class Workbook;

/// Operators of a custom condition (FilterColumn::operator1 and operator2).
namespace FilterOperator {
constexpr uint32_t Any = 0, Equal = 1, NotEqual = 2, Greater = 3, GreaterEqual = 4, Less = 5, LessEqual = 6,
                   BeginsWith = 7, NotBeginsWith = 8, EndsWith = 9, NotEndsWith = 10, Contains = 11,
                   NotContains = 12;
}  // namespace FilterOperator

/// FilterColumn::kind.
namespace FilterKind {
constexpr uint32_t None = 0, Top = 1, Blanks = 2, NonBlanks = 3, Custom = 4;
}  // namespace FilterKind

// ----- Sheet operations.

/// The data area around a cell: the rows above and below `row` (itself included) for as
/// long as each holds a value, and the columns from the first to the last value in those
/// rows. False when the cell lies outside such an area (a row without values, a column
/// beyond the values).
bool currentRegion(const Sheet& sheet, int32_t column, int32_t row, Area& out);
/// The data a filter or a sort takes: a single selected cell its current region, a larger
/// selection cut back to the last row holding a value. False when there is none.
bool dataArea(const Sheet& sheet, Area& out);
/// Makes `area` the sheet's filter, active, with no criterion on any column. Rows stay.
void setFilter(Sheet& sheet, const Area& area);
/// Which rows of the filter's area its criteria hide, one entry per row from the heading
/// row (never hidden) to the last; every entry false for a filter that is not active.
std::vector<bool> filterHiddenRows(const Sheet& sheet, const AutoFilter& filter);
/// Shows every data row of the area, then hides the rows some column's criterion fails;
/// recalculates the sheet's workbook.
void applyFilter(Sheet& sheet);
/// Every column back to no criterion, then applyFilter.
void resetCriteria(Sheet& sheet);
/// Shows every row of the area, the heading row included, and removes the filter.
void clearFilter(Sheet& sheet);

// ----- Programs.

/// Appends the steps that make the active sheet's AutoFilter equal to `filter`: a call
/// of 247, then calls of 246 of at most 31 columns each.
ProgramBuilder& appendAutoFilter(ProgramBuilder& program, const AutoFilter& filter);
/// Command functions 246 and 247.
void commandSetAutoFilter();
void commandRemoveAutoFilter();

// ----- Commands on the active sheet, each one undo entry labelled "Filter".

/// Turns the filter on over the selection: a single cell takes its current region, a
/// larger selection is cut back to the last row holding a value. A filter that was on
/// is removed first (its rows shown). No data: error 39 and false.
bool filterOnCommand(Workbook& workbook, UndoList& undo);
/// Sets the criterion of `column` (a sheet column inside the filter's area) and filters
/// again. False when no filter is on or the column lies outside it.
bool filterColumnCommand(Workbook& workbook, UndoList& undo, int32_t column, const FilterColumn& criterion);
/// Shows every row of the filter's area and removes the filter. False when none is on.
bool filterOffCommand(Workbook& workbook, UndoList& undo);

}  // namespace kelp
