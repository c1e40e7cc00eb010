// Recalculation: ordering a workbook's formulas so that each follows the ones it reads,
// and evaluating every formula once in that order.
#pragma once

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

}  // namespace kelp
