// Goal seek: the value of one cell that makes a formula cell reach a goal, found by
// bracketing a sign change of (target - goal) and halving the bracket.
#pragma once

#include <cstdint>

namespace kelp {

class Workbook;

/// The one goal seek of the application; set before goalSeekSolve runs.
struct GoalSeekState {
  double goal = 0;
  uint16_t targetColumn = 0;
  uint16_t targetRow = 0;
  uint16_t changingColumn = 0;
  uint16_t changingRow = 0;
  bool found = false;  // what the last goalSeekSolve returned
};
GoalSeekState& goalSeekState();

/// The message shown when a solution was found.
constexpr int GoalSeekFoundString = 5751;

/// Writes `x` into the changing cell of the active sheet (keeping the cell's own style),
/// recalculates the workbook and returns the target's value minus the goal. A target
/// that is not a number or date/time has no residual: NaN, which is never a solution
/// and never a sign change.
double goalSeekResidual(Workbook& workbook, double x);

/// True when a changing value was found whose residual is below 1e-15; the changing
/// cell keeps the last value tried either way.
bool goalSeekSolve(Workbook& workbook);

}  // namespace kelp
