// Recalculation: ordering the formula chain so that each formula follows the ones
// it reads, and evaluating every formula once in that order.
#pragma once

namespace kelp {

class Workbook;
class FormulaChain;

/// Reorders the chain depth-first from its current order; sets `circular` when a
/// formula reads itself directly or indirectly.
void orderChain(FormulaChain& chain);
/// Orders the chain when it needs it and evaluates every formula once. The
/// evaluator's state and the application error state are as they were afterwards.
void recalculateAll(Workbook& workbook);

}  // namespace kelp
