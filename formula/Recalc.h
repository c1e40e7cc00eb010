// Recalculation: ordering a workbook's formulas so that each follows the ones it reads,
// and evaluating every formula once in that order.
#pragma once

#include <string>

namespace kelp {

class Workbook;
class FormulaTable;

/// Reorders the table depth-first from its current order (FormulaTable::currentOrder)
/// and renumbers it into the new order; sets `circular` when a formula reads itself
/// directly or indirectly.
void orderFormulas(FormulaTable& table);
/// Orders the formulas when something was added or removed since the last ordering and
/// evaluates every formula once. The evaluator's state and the application error state
/// are as they were afterwards.
void recalculateAll(Workbook& workbook);

/// "Circular reference in A16" (with the sheet's name when it is not the active one)
/// for the first cell of a cycle the last ordering met; empty when it met none.
std::u16string circularNotice(const Workbook& workbook);
/// Called after every recalculation of a workbook with the notice above, so that a
/// front end can say once that it found a cycle; null removes it.
using RecalcObserver = void (*)(const Workbook& workbook, const std::u16string& notice);
void installRecalcObserver(RecalcObserver observer);

}  // namespace kelp
