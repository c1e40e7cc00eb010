// What the command functions share: the workbook they run on and how they finish.
#pragma once

#include "formula/Evaluator.h"
#include "model/Workbook.h"

namespace kelp::command {

inline Workbook* book() { return evalState().workbook; }
inline Sheet* activeSheet() {
  Workbook* workbook = book();
  return workbook ? workbook->activeSheet() : nullptr;
}
/// A command function's result: empty when it did its work, !!Val when it refused.
inline void done() { pushValue(emptyValue()); }
inline void refuse() { pushError(CellError::Value); }

}  // namespace kelp::command
