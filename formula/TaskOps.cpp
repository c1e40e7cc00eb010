// The handlers of the task ops: statements, variables, task calls and for-loops.
#include "formula/EvaluatorInternal.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "formula/Catalogue.h"
#include "formula/Tokens.h"
#include "model/FormulaTable.h"
#include "model/HandlePool.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"

namespace kelp {

namespace eval {

namespace {

// A task op in a formula (only a damaged or hostile file puts one there): the whole
// formula gives !!Name and nothing of the op runs, not even with a task running
// around the recalculation.
bool refusedOutsideTask() {
  if (g_runningStatements) return false;
  EvalState& s = g_state;
  discard(s.sp - s.base);
  pushError(CellError::Name);
  s.running = false;
  return true;
}

}  // namespace

void opDiscard(const uint8_t*, uint32_t) {
  if (refusedOutsideTask()) return;
  CellValue value = popRaw();
  releaseValue(value);
  stopAtStatement();
}

TaskVariable* variable(uint16_t index) {
  Workbook* workbook = g_state.workbook;
  if (!workbook || index >= workbook->taskVariables.size()) return nullptr;
  return &workbook->taskVariables[index];
}

void opAssign(const uint8_t* p, uint32_t) {
  if (refusedOutsideTask()) return;
  CellValue value = popRaw();
  if (value.kind == ValueKind::CellRef || value.kind == ValueKind::SheetCellRef) deref(value);
  TaskVariable* target = variable(readU16(p));
  if (!target) {
    releaseValue(value);
    fail();
    return;
  }
  releaseValue(target->value);
  target->value = value;
  stopAtStatement();
}

void opReadVariable(const uint8_t* p, uint32_t) {
  if (refusedOutsideTask()) return;
  TaskVariable* source = variable(readU16(p));
  if (!source) {
    pushError(CellError::Name);
    return;
  }
  CellValue copy;
  copyValue(source->value, copy);
  pushValue(copy);
}

void opCallTask(const uint8_t* p, uint32_t) {
  if (refusedOutsideTask()) return;
  EvalState& s = g_state;
  Workbook* workbook = s.workbook;
  if (stopAtStatement()) return;
  if (!workbook || !g_taskCall) {
    // No such task: stop here rather than run the statements after it on a
    // false premise; the caller reports the error.
    setError(Err::UnknownName);
    fail();
    return;
  }
  std::vector<TaskVariable> callers = std::move(workbook->taskVariables);
  workbook->taskVariables.clear();
  bool found = g_taskCall(*workbook, readU16(p));
  workbook->clearTaskVariables();
  workbook->taskVariables = std::move(callers);
  if (!found) {
    // A task stopped on request is no unknown name.
    if (!taskStopRequested()) setError(Err::UnknownName);
    fail();
  }
}

// The loop variable as a number; an error in it counts as 0.
double loopVariable(TaskVariable& v) {
  CellValue copy;
  copyValue(v.value, copy);
  pushValue(copy);
  double d = popNumber();
  g_state.pendingError = 0;
  return d;
}

bool loopBounds(double& limit, double& step) {
  step = popNumber();
  limit = popNumber();
  g_state.pendingError = 0;
  pushNumber(limit);
  pushNumber(step);
  return g_state.ok;
}

// The loop's variable and bounds for a for-op; null (the run failed) when either is missing.
TaskVariable* loopState(const uint8_t* p, double& limit, double& step) {
  TaskVariable* v = variable(readU16(p));
  if (v && loopBounds(limit, step)) return v;
  fail();
  return nullptr;
}

void opForTest(const uint8_t* p, uint32_t opPos) {
  if (refusedOutsideTask()) return;
  double limit = 0, step = 0;
  TaskVariable* v = loopState(p, limit, step);
  if (!v) return;
  double d = loopVariable(*v);
  if ((step > 0 && d > limit) || (step < 0 && d < limit)) {
    discard(2);
    jumpTo(static_cast<int64_t>(opPos) + readI16(p + 2), opPos);
  }
}

void opForStep(const uint8_t* p, uint32_t opPos) {
  if (refusedOutsideTask()) return;
  double limit = 0, step = 0;
  TaskVariable* v = loopState(p, limit, step);
  if (!v) return;
  double d = loopVariable(*v);
  releaseValue(v->value);
  v->value = numberValue(d + step);
  jumpTo(static_cast<int64_t>(opPos) + readI16(p + 2), opPos);
}

}  // namespace eval

}  // namespace kelp
