// Inserting and deleting whole rows and columns of the active sheet, and the reference
// adjustment that keeps every formula of the workbook meaning the same cells.
#pragma once

#include <cstdint>

#include "formula/Tokens.h"
#include "model/Sheet.h"

namespace kelp {

class ProgramBuilder;
class Workbook;

/// Whole rows or columns inserted at, or deleted from, `at` .. `at` + `count` - 1.
struct LineMove {
  bool columns;
  bool insert;
  int32_t at;
  int32_t count;
};

/// The part of a stored reference moved by `dColumn` columns and `dRow` rows: the column
/// modulo 256 with its relative flags kept, the row modulo 65536. For a relative part
/// that changes the offset, for an absolute one the address.
CellRefCode shiftReference(CellRefCode ref, int32_t dColumn, int32_t dRow);

/// Rewrites, after `move` on the active sheet, the references of every formula of the
/// workbook's table to that sheet and the position of each formula on it. A cell that is
/// deleted or pushed off the sheet becomes !!Ref; an area shrinks when part of it goes,
/// becomes !!Ref only when all of it goes, and one that reaches the last row (column)
/// keeps reaching it. A token string other holders share is copied before it changes.
/// With `undo`, each changed formula's old cell is appended to it once, through 208 and
/// 207. The cells must already have moved (Sheet::insertRows and the like).
void adjustForMove(Workbook& workbook, const LineMove& move, ProgramBuilder* undo);

/// Rewrites, after the cells of `source` on the active sheet were moved to `dest` (the
/// same size) by cut and paste, the references of every formula and defined name: one
/// wholly inside the source follows the cells, one wholly inside the destination that
/// was overwritten becomes !!Ref, and a formula that moved keeps reading the cells that
/// stayed. Formulas in `dest` are taken to have come from `source`. With `undo`, each
/// changed formula outside `dest` and each changed name is recorded once.
void adjustForBlockMove(Workbook& workbook, const Area& source, const Area& dest, ProgramBuilder* undo);

/// Inserts or deletes the selection's whole rows (columns) of the active sheet, moves its
/// merged areas with their cells (one left with a single cell is no longer merged) and
/// adjusts the references; `undo` as for adjustForMove. False with error 15.
bool moveLines(Workbook& workbook, bool columns, bool insert, ProgramBuilder* undo);

/// The program the current insertion or deletion records formulas into, set by the
/// command that builds it while it first runs; null otherwise (undo and redo replays).
ProgramBuilder* moveRecorder();
void setMoveRecorder(ProgramBuilder* recorder);

}  // namespace kelp
