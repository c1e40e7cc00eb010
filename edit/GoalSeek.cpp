// Goal seek: outward search for a sign change of the residual, then bisection.
#include "edit/GoalSeek.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "formula/Recalc.h"
#include "model/Sheet.h"
#include "model/Workbook.h"

namespace kelp {

namespace {

constexpr int32_t IterationLimit = 100000;
constexpr double Tolerance = 1e-15;
constexpr double FirstStep = 0.000001;

// A NaN residual (a target that is no number) never makes a sign change.
bool signsDiffer(double p, double q) { return p * q < 0; }
bool solved(double residual) { return std::fabs(residual) < Tolerance; }

struct Bracket {
  double a, b, fa;
};

enum class Search { Bracketed, Solved, Failed };

// The outward search: each step moves towards the end whose residual is smaller,
// growing the step while it keeps going the same way.
Search followDownhill(Workbook& workbook, double start, int32_t& iterations, Bracket& out) {
  double a = start, b = start + FirstStep;
  double fa = goalSeekResidual(workbook, a);
  if (solved(fa)) return Search::Solved;
  double fb = goalSeekResidual(workbook, b);
  double step = FirstStep;
  bool growing = true;
  iterations = 1;
  while (!signsDiffer(fa, fb)) {
    // A goal met at an end is a solution; without this an exact start value would
    // swing between the two ends until the limit.
    if (solved(fb)) return Search::Solved;
    if (solved(fa)) {
      goalSeekResidual(workbook, a);  // the cell is left holding the solution
      return Search::Solved;
    }
    if (std::fabs(fa) < std::fabs(fb)) {
      step *= growing ? 10 : 0.1;
      growing = true;
      b = a;
      a = a - step;
    } else {
      step *= growing ? 0.1 : 10;
      growing = false;
      a = b;
      b = b + step;
    }
    // Past the largest double, or with a step below the spacing of doubles, no further
    // step can change the outcome.
    if (!std::isfinite(a) || !std::isfinite(b) || !(a < b)) return Search::Failed;
    fa = goalSeekResidual(workbook, a);
    fb = goalSeekResidual(workbook, b);
    if (++iterations >= IterationLimit) return Search::Failed;
  }
  out = Bracket{a, b, fa};
  return Search::Bracketed;
}

// When the downhill search settles in a dip of |residual| that does not reach the goal
// (x^3 - 2x - 5 from 0 settles at the local maximum near -0.8165), both sides of the
// start are probed with doubling distances until the residual changes sign.
Search probeBothSides(Workbook& workbook, double start, int32_t& iterations, Bracket& out) {
  double f0 = goalSeekResidual(workbook, start);
  if (solved(f0)) return Search::Solved;
  double left = start, fLeft = f0, right = start, fRight = f0;
  for (double d = FirstStep * std::max(1.0, std::fabs(start)); iterations < IterationLimit; d *= 2, ++iterations) {
    bool probed = false;
    double x = start + d;
    if (std::isfinite(x) && x != right) {
      double f = goalSeekResidual(workbook, x);
      if (solved(f)) return Search::Solved;
      if (signsDiffer(fRight, f)) {
        out = Bracket{right, x, fRight};
        return Search::Bracketed;
      }
      if (!std::isnan(f)) fRight = f;
      right = x;
      probed = true;
    }
    x = start - d;
    if (std::isfinite(x) && x != left) {
      double f = goalSeekResidual(workbook, x);
      if (solved(f)) return Search::Solved;
      if (signsDiffer(f, fLeft)) {
        out = Bracket{x, left, f};
        return Search::Bracketed;
      }
      if (!std::isnan(f)) fLeft = f;
      left = x;
      probed = true;
    }
    if (!probed) break;
  }
  return Search::Failed;
}

}  // namespace

GoalSeekState& goalSeekState() {
  static GoalSeekState state;
  return state;
}

double goalSeekResidual(Workbook& workbook, double x) {
  const GoalSeekState& state = goalSeekState();
  Sheet* sheet = workbook.activeSheet();
  if (!sheet) return std::numeric_limits<double>::quiet_NaN();
  // The cell keeps its own format: a trial value is a new number, not a new cell.
  const CellRecord* cell = sheet->cellPtr(state.changingColumn, state.changingRow);
  int16_t style = cell ? cell->style : -1;
  sheet->setCell(state.changingColumn, state.changingRow, CellRecord{numberValue(x), style});
  recalculateAll(workbook);
  const CellValue& target = sheet->cellValue(state.targetColumn, state.targetRow);
  if (!target.isNumeric()) return std::numeric_limits<double>::quiet_NaN();
  return target.number() - state.goal;
}

namespace {

bool solve(Workbook& workbook) {
  const GoalSeekState& state = goalSeekState();
  Sheet* sheet = workbook.activeSheet();
  if (!sheet) return false;
  const CellValue& current = sheet->cellValue(state.changingColumn, state.changingRow);
  const double start = current.isNumeric() && std::isfinite(current.number()) ? current.number() : 0;

  int32_t iterations = 0;
  Bracket bracket{};
  Search search = followDownhill(workbook, start, iterations, bracket);
  if (search == Search::Failed) search = probeBothSides(workbook, start, iterations, bracket);
  if (search == Search::Solved) return true;
  if (search == Search::Failed) return false;

  double a = bracket.a, b = bracket.b;
  for (int32_t i = 1; i < IterationLimit; ++i) {
    double m = a + (b - a) * 0.5;
    // Once the bracket holds two neighbouring doubles every further halving would try
    // the same value again; the goal is not reachable closer than this.
    if (m == a || m == b) return false;
    double fm = goalSeekResidual(workbook, m);
    if (solved(fm)) return true;
    // Only the sign of the left end matters, and it keeps it as the bracket narrows.
    if (signsDiffer(fm, bracket.fa)) b = m;
    else a = m;
  }
  return false;
}

}  // namespace

bool goalSeekSolve(Workbook& workbook) {
  bool found = solve(workbook);
  goalSeekState().found = found;
  return found;
}

}  // namespace kelp
