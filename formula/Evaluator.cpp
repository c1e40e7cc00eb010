// The table-driven evaluator: the run loop over one handler per op code, starting and
// finishing runs, and the nested-run state. The handlers live in FormulaOps.cpp and
// TaskOps.cpp, the value stack in ValueStack.cpp, the area walk in AreaWalk.cpp.
#include "formula/Evaluator.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <utility>
#include <vector>

#include "formula/Catalogue.h"
#include "formula/EvaluatorInternal.h"
#include "formula/Tokens.h"
#include "model/FormulaTable.h"
#include "model/HandlePool.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"

namespace kelp {

namespace eval {

EvalState g_state;

namespace {
CellValue missingBookValue(Workbook&, int32_t, int32_t, int32_t, int32_t) { return errorValue(CellError::NA); }
// Set by keepCachedResult while a cell's formula runs.
bool g_keepCached = false;
}  // namespace

namespace {
ExternalValueFn g_otherBookValue = missingBookValue;
// Array constants read as the cells of a book of their own.
CellValue bookValue(Workbook& workbook, int32_t book, int32_t sheet, int32_t column, int32_t row) {
  if (book == ArrayBook) return arrayElement(sheet, column, row);
  return g_otherBookValue(workbook, book, sheet, column, row);
}
}  // namespace

ExternalValueFn g_externalValue = bookValue;
TaskCallFn g_taskCall = nullptr;
bool g_runningStatements = false;
bool g_formulaConstants = false;

void opUnknown(const uint8_t*, uint32_t) { fail(); }

namespace {
std::atomic<bool> g_stopRequest{false};
StatementHookFn g_statementHook = nullptr;
static_assert(std::atomic<bool>::is_always_lock_free, "the stop request is set from a signal handler");
}  // namespace

// Command programs (the runs with formula constants) always finish: a stop is for tasks.
bool stopAtStatement() {
  if (g_statementHook && g_runningStatements && !g_formulaConstants) g_statementHook();
  if (!g_runningStatements || g_formulaConstants || !g_stopRequest.load(std::memory_order_relaxed)) return false;
  fail();
  return true;
}

}  // namespace eval

namespace {

using namespace eval;

// The handler and payload size of every op code, made from the op list so that an op
// cannot be added without its handler.
struct OpTable {
  Handler handlers[256];
  uint8_t payload[256];
  OpTable() {
    for (int i = 0; i < 256; ++i) {
      handlers[i] = opUnknown;
      payload[i] = payloadSize(static_cast<uint8_t>(i));
    }
#define KELP_OP(number, name, size, handler) handlers[number] = handler;
#include "formula/Ops.def"
#undef KELP_OP
  }
};

const OpTable kOps;

// Starts a run of `tokens` (a pool entry) above the entries already on the stack.
bool beginRun(const uint8_t* tokens, Workbook* workbook, CellPosition at) {
  EvalState& s = g_state;
  s.base = s.sp;
  s.depth = 0;
  s.arrayBase = arraySlotCount();
  s.pendingError = 0;
  s.running = true;
  s.ok = true;
  s.cell = at;
  s.workbook = workbook;
  s.codeName = RootCode;
  s.ip = 0;
  if (!tokens) {
    s.ok = false;
    return false;
  }
  s.rootCode = s.code = tokens + 4;
  s.rootLength = s.codeLength = readU32(tokens);
  return true;
}

void runLoop() {
  EvalState& s = g_state;
  while (s.running) {
    if (s.sp - s.base > EvalStackLimit || s.ip >= s.codeLength) {
      fail();
      break;
    }
    uint32_t opPos = s.ip;
    uint8_t op = s.code[opPos];
    uint8_t size = kOps.payload[op];
    if (size == 255 || opPos + 1 + size > s.codeLength) {
      fail();
      break;
    }
    s.ip = opPos + 1 + size;
    kOps.handlers[op](s.code + opPos + 1, opPos);
  }
}

// Drops everything the run left above its base.
void unwind() {
  EvalState& s = g_state;
  while (s.sp > s.base) releaseValue(s.stack[--s.sp]);
  dropArraysFrom(s.arrayBase);
}

const uint8_t* tokensOf(uint32_t handle, const HandlePool& pool = formulaPool()) {
  if (handle == NoHandle || !pool.isLive(handle)) return nullptr;
  return static_cast<const uint8_t*>(pool.data(handle));
}

// Runs to the end and takes the one result; false (nothing taken) on failure.
bool runToResult(bool resolveResult, CellValue& out) {
  EvalState& s = g_state;
  if (s.ok) runLoop();
  bool good = s.ok && s.sp - s.base == 1;
  if (good) {
    out = s.stack[--s.sp];
    // An array constant lives only as long as its run: what is kept is its first element.
    if (resolveResult || isArrayRef(out)) deref(out);
    if (out.kind == ValueKind::Integer) out = numberValue(out.i32());
    if (out.isNumeric() && !std::isfinite(numberOfFreshValue(out))) out = errorValue(CellError::Num);
    if (out.kind == ValueKind::ReturnAddress || out.kind == ValueKind::Formula) {
      out = emptyValue();
      good = false;
    }
  }
  unwind();
  s.pendingError = 0;
  return good;
}

}  // namespace


EvalState& evalState() { return g_state; }

SavedEvalState saveEvalState() {
  const EvalState& s = g_state;
  return SavedEvalState{s.base,    s.code,      s.codeLength, s.codeName,     s.rootCode, s.rootLength,
                        s.ip,      s.cell,    s.pendingError, s.depth,    s.arrayBase,
                        s.running, s.ok,        s.argCount,   s.workbook};
}

void restoreEvalState(const SavedEvalState& saved) {
  EvalState& s = g_state;
  s.base = saved.base;
  s.code = saved.code;
  s.codeLength = saved.codeLength;
  s.codeName = saved.codeName;
  s.rootCode = saved.rootCode;
  s.rootLength = saved.rootLength;
  s.ip = saved.ip;
  s.cell = saved.cell;
  s.pendingError = saved.pendingError;
  s.depth = saved.depth;
  s.arrayBase = saved.arrayBase;
  s.running = saved.running;
  s.ok = saved.ok;
  s.argCount = saved.argCount;
  s.workbook = saved.workbook;
}

void setEvalWorkbook(Workbook* workbook) { g_state.workbook = workbook; }

namespace {

// Runs entry `id` at its cell and stores the result; the caller keeps the evaluator's
// state around the run.
void runEntry(FormulaTable& table, uint32_t id, Workbook* workbook, bool resolveResult, const HandlePool& pool) {
  const CellPosition at = table.position(id);
  CellValue result;
  // A formula run inside this one has its own say.
  const bool outerKeeps = std::exchange(g_keepCached, false);
  if (beginRun(tokensOf(table.tokens(id), pool), workbook, at) &&
      runToResult(resolveResult, result)) {
    // Looked up after the run, which may have added formulas and moved the arrays.
    if (table.isLive(id) && !g_keepCached) {
      CellValue& cached = table.cached(id);
      if (cached.kind == ValueKind::Text) releaseValue(cached);  // results own nothing else
      cached = result;
    } else {
      releaseValue(result);
    }
  }
  unwind();
  g_state.pendingError = 0;
  g_keepCached = outerKeeps;
}

}  // namespace

void keepCachedResult() { g_keepCached = true; }

void evaluateFormula(const CellValue& formula, bool resolveResult) {
  SavedEvalState saved = saveEvalState();
  FormulaTable& table = formulaTableOf(formula);
  Workbook* workbook = table.workbook() ? table.workbook() : g_state.workbook;
  bool backward = g_runningStatements;
  bool constants = g_formulaConstants;
  g_runningStatements = false;
  g_formulaConstants = false;
  runEntry(table, formulaId(formula), workbook, resolveResult, formulaPool());
  g_runningStatements = backward;
  g_formulaConstants = constants;
  restoreEvalState(saved);
  g_state.pendingError = 0;
}

void evaluateTable(FormulaTable& table, uint32_t first) {
  // One save for the pass: each run starts from the state the one before left, which
  // is the caller's with nothing above its stack.
  SavedEvalState saved = saveEvalState();
  Workbook* workbook = table.workbook() ? table.workbook() : g_state.workbook;
  bool backward = g_runningStatements;
  bool constants = g_formulaConstants;
  g_runningStatements = false;
  g_formulaConstants = false;
  const HandlePool& pool = formulaPool();
  for (uint32_t id = first; id < table.idLimit(); ++id)
    if (table.isLive(id)) runEntry(table, id, workbook, true, pool);
  g_runningStatements = backward;
  g_formulaConstants = constants;
  restoreEvalState(saved);
}

bool evaluateTokens(const uint8_t* tokens, Workbook& workbook, CellPosition at,
                    bool resolveResult, CellValue& out) {
  SavedEvalState saved = saveEvalState();
  bool backward = g_runningStatements;
  bool constants = g_formulaConstants;
  g_runningStatements = false;
  g_formulaConstants = false;
  out = emptyValue();
  bool good = beginRun(tokens, &workbook, at) && runToResult(resolveResult, out);
  unwind();
  g_runningStatements = backward;
  g_formulaConstants = constants;
  restoreEvalState(saved);
  return good;
}

namespace {

bool runStatements(const uint8_t* tokens, Workbook& workbook, CellPosition at,
                   bool formulaConstants) {
  SavedEvalState saved = saveEvalState();
  bool backward = g_runningStatements;
  bool constants = g_formulaConstants;
  g_runningStatements = true;
  g_formulaConstants = formulaConstants;
  bool good = beginRun(tokens, &workbook, at);
  if (good) {
    runLoop();
    good = g_state.ok;
  }
  unwind();
  g_runningStatements = backward;
  g_formulaConstants = constants;
  restoreEvalState(saved);
  return good;
}

}  // namespace

bool runTask(const uint8_t* tokens, Workbook& workbook, CellPosition at) {
  return runStatements(tokens, workbook, at, false);
}

bool runCommandProgram(const uint8_t* tokens, Workbook& workbook, uint16_t sheet) {
  return runStatements(tokens, workbook, CellPosition{0, 0, sheet}, true);
}

void stopRunning() { g_state.running = false; }
void requestTaskStop() { g_stopRequest.store(true, std::memory_order_relaxed); }
void clearTaskStop() { g_stopRequest.store(false, std::memory_order_relaxed); }
bool taskStopRequested() { return g_stopRequest.load(std::memory_order_relaxed); }

void installExternalValue(ExternalValueFn fn) { g_otherBookValue = fn ? fn : missingBookValue; }
void installTaskCall(TaskCallFn fn) { g_taskCall = fn; }
void installStatementHook(StatementHookFn fn) { g_statementHook = fn; }

}  // namespace kelp
