// The table-driven evaluator: one handler per op code over a preallocated value stack.
#include "formula/Evaluator.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "formula/Tokens.h"
#include "formula/Catalogue.h"
#include "model/FormulaTable.h"
#include "model/HandlePool.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"

namespace kelp {

namespace {

EvalState g_state;

CellValue missingBookValue(Workbook&, int32_t, int32_t, int32_t, int32_t) { return errorValue(CellError::NA); }

ExternalValueFn g_externalValue = missingBookValue;
TaskCallFn g_taskCall = nullptr;
// Formulas never jump backwards; only task loops do. Refusing backward jumps elsewhere
// keeps a damaged token string from hanging a recalculation.
bool g_allowBackwardJumps = false;
// Formula constants name table entries; only command programs built in memory may
// carry them, so every other run turns this off while it runs.
bool g_formulaConstants = false;

constexpr uint16_t RootCode = 0xFFFF;

void fail() {
  g_state.ok = false;
  g_state.running = false;
}

CellValue& top() { return g_state.stack[g_state.sp - 1]; }

bool hasOperands(int32_t n) {
  if (g_state.sp - g_state.base >= n) return true;
  fail();
  return false;
}

// Removes the top entry as it stands; an empty value (and a failed run) on underflow.
CellValue popRaw() {
  if (!hasOperands(1)) return emptyValue();
  return g_state.stack[--g_state.sp];
}

// Cell texts that carry a task show only their visible part to formulas.
void reduceCellTask(CellValue& value) {
  if (value.kind != ValueKind::Text) return;
  std::u16string_view text = textOf(value);
  std::u16string_view visible = visibleCellText(text);
  if (visible.size() == text.size()) return;
  releaseValue(value, false);
  makeText(value, visible);
}

// A copy (owned) of the effective value of a cell of this workbook or another.
CellValue fetchCell(int32_t book, int32_t sheetIndex, int32_t column, int32_t row) {
  Workbook* workbook = g_state.workbook;
  if (!workbook) return emptyValue();
  if (book != 0) return g_externalValue(*workbook, book, sheetIndex, column, row);
  Sheet* sheet = workbook->sheetAt(sheetIndex);
  if (!sheet) return errorValue(CellError::Ref);
  CellValue value;
  copyValue(sheet->cellValue(column, row), value);
  reduceCellTask(value);
  return value;
}

bool sheetExists(int32_t book, int32_t sheet) {
  if (book != 0) return true;
  return g_state.workbook && sheet < g_state.workbook->sheetCount();
}

// Replaces a reference by the value it names; a range of several cells is !!Ref.
void deref(CellValue& value) {
  switch (value.kind) {
    case ValueKind::CellRef:
      value = fetchCell(0, g_state.cellSheet, value.u16(1), value.u16(0));
      return;
    case ValueKind::AreaRef:
      if (value.u16(0) == value.u16(2) && value.u16(1) == value.u16(3))
        value = fetchCell(0, g_state.cellSheet, value.u16(1), value.u16(0));
      else
        value = errorValue(CellError::Ref);
      return;
    case ValueKind::SheetCellRef:
      if (value.firstSheet == value.lastSheet && sheetExists(value.book, value.firstSheet))
        value = fetchCell(value.book, value.firstSheet, value.u16(1), value.u16(0));
      else
        value = errorValue(CellError::Ref);
      return;
    case ValueKind::SheetAreaRef:
      if (value.firstSheet == value.lastSheet && value.u16(0) == value.u16(2) && value.u16(1) == value.u16(3) &&
          sheetExists(value.book, value.firstSheet))
        value = fetchCell(value.book, value.firstSheet, value.u16(1), value.u16(0));
      else
        value = errorValue(CellError::Ref);
      return;
    default:
      return;
  }
}

CellValue popDeref() {
  CellValue value = popRaw();
  deref(value);
  return value;
}

CellValue withDouble(ValueKind kind, double d) {
  CellValue value = emptyValue();
  value.kind = kind;
  value.setNumber(d);
  return value;
}

// Reads a text as a typed entry would; the reader gives back no pool entry for texts.
CellValue readText(const CellValue& text) { return readValueOnly(textOf(text)); }

int32_t truncateToInt(double d) {
  d = d >= 0 ? d + 0.00001 : d - 0.00001;
  if (!(d == d)) return 0;
  if (d >= 2147483647.0) return 2147483647;
  if (d <= -2147483648.0) return -2147483647 - 1;
  return static_cast<int32_t>(d);
}

// ----- Op handlers. Each gets its payload and the position of its op code; the run
// loop has already moved `ip` past the payload.

using Handler = void (*)(const uint8_t* payload, uint32_t opPos);

void opUnknown(const uint8_t*, uint32_t) { fail(); }

void opEnd(const uint8_t*, uint32_t) {
  EvalState& s = g_state;
  if (s.depth == 0) {
    s.running = false;
    return;
  }
  // Return from a defined name: the result stays on top of its return address.
  if (!hasOperands(2)) return;
  CellValue result = s.stack[s.sp - 1];
  CellValue back = s.stack[s.sp - 2];
  if (back.kind != ValueKind::ReturnAddress) {
    fail();
    return;
  }
  s.sp -= 2;
  uint16_t caller = back.u16(2);
  if (caller == RootCode) {
    s.code = s.rootCode;
    s.codeLength = s.rootLength;
  } else {
    const uint8_t* data = static_cast<const uint8_t*>(formulaPool().data(s.workbook->names[caller].definition));
    s.code = data + 4;
    s.codeLength = readU32(data);
  }
  s.codeName = caller;
  s.ip = back.u32();
  --s.depth;
  pushValue(result);
}

void opNumber(const uint8_t* p, uint32_t) { pushNumber(readDouble(p)); }
void opDateTime(const uint8_t* p, uint32_t) { pushDateTime(readDouble(p)); }
void opSmallInteger(const uint8_t* p, uint32_t) { pushInteger(readU16(p)); }
void opInteger(const uint8_t* p, uint32_t) { pushInteger(static_cast<int32_t>(readU32(p))); }
void opLogical(const uint8_t* p, uint32_t) { pushLogical(p[0] ? 1 : 0); }
void opErrorLiteral(const uint8_t* p, uint32_t) { pushError(static_cast<CellError>(readU16(p))); }

void opString(const uint8_t* p, uint32_t) {
  uint32_t handle = readU32(p);
  if (handle != NoHandle && !textPool().isLive(handle)) {
    pushError(CellError::Value);  // a damaged string literal
    return;
  }
  pushTextHandle(textPool().addRef(handle));
}

void opConstant(const uint8_t* p, uint32_t) {
  CellValue value;
  std::memcpy(&value, p, sizeof value);
  switch (value.kind) {
    case ValueKind::Empty:
    case ValueKind::Logical:
    case ValueKind::Error:
    case ValueKind::Number:
    case ValueKind::DateTime:
    case ValueKind::Integer:
    case ValueKind::CellRef:
    case ValueKind::AreaRef:
    case ValueKind::SheetCellRef:
    case ValueKind::SheetAreaRef:
      pushValue(value);
      return;
    case ValueKind::Text:
      if (value.u32() == NoHandle || textPool().isLive(value.u32())) {
        textPool().addRef(value.u32());
        pushValue(value);
        return;
      }
      break;
    case ValueKind::Formula:
      if (g_formulaConstants && formulaTableNumber(value) < MaxFormulaTables &&
          g_formulaTables[formulaTableNumber(value)].table && formulaTableOf(value).isLive(formulaId(value))) {
        CellValue copy;
        copyFormulaValue(value, copy);
        pushValue(copy);
        return;
      }
      break;
    default:
      break;
  }
  // A formula id or return address in stored tokens would name anything.
  pushError(CellError::Value);
}

CellRefCode refAt(const uint8_t* p) { return CellRefCode{readU16(p), readU16(p + 2)}; }

void opCellRef(const uint8_t* p, uint32_t) {
  CellRefCode c = resolveCell(refAt(p), g_state.cellRow, g_state.cellColumn);
  pushValue(cellRefValue(c.row, c.colWord));
}

CellValue resolvedArea(const uint8_t* p) {
  CellRefCode a = resolveCell(refAt(p), g_state.cellRow, g_state.cellColumn);
  CellRefCode b = resolveCell(refAt(p + 4), g_state.cellRow, g_state.cellColumn);
  // Relative parts that wrapped may leave the corners crossed; the area is the same.
  return areaRefValue(std::min(a.row, b.row), std::min(a.colWord, b.colWord), std::max(a.row, b.row),
                      std::max(a.colWord, b.colWord));
}

void opAreaRef(const uint8_t* p, uint32_t) { pushValue(resolvedArea(p)); }

void sheetPrefix(const uint8_t* p, CellValue& value) {
  value.book = p[1];
  value.firstSheet = std::min(p[2], p[3]);
  value.lastSheet = std::max(p[2], p[3]);
}

void opSheetCellRef(const uint8_t* p, uint32_t) {
  CellRefCode c = resolveCell(refAt(p + 4), g_state.cellRow, g_state.cellColumn);
  CellValue value = cellRefValue(c.row, c.colWord);
  value.kind = ValueKind::SheetCellRef;
  sheetPrefix(p, value);
  pushValue(value);
}

void opSheetAreaRef(const uint8_t* p, uint32_t) {
  CellValue value = resolvedArea(p + 4);
  value.kind = ValueKind::SheetAreaRef;
  sheetPrefix(p, value);
  pushValue(value);
}

void opDeleted(const uint8_t*, uint32_t) { pushError(CellError::Ref); }

void arithmetic(Op op) {
  bool rightDate = false, leftDate = false;
  double right = popNumberKind(rightDate);
  double left = popNumberKind(leftDate);
  if (!takePendingError()) return;
  double result = 0;
  switch (op) {
    case Op::Add: result = left + right; break;
    case Op::Subtract: result = left - right; break;
    case Op::Multiply: result = left * right; break;
    default:
      if (right == 0) {
        pushError(CellError::Div0);
        return;
      }
      result = left / right;
      break;
  }
  pushValue(withDouble(leftDate || rightDate ? ValueKind::DateTime : ValueKind::Number, result));
}

void opAdd(const uint8_t*, uint32_t) { arithmetic(Op::Add); }
void opSubtract(const uint8_t*, uint32_t) { arithmetic(Op::Subtract); }
void opMultiply(const uint8_t*, uint32_t) { arithmetic(Op::Multiply); }
void opDivide(const uint8_t*, uint32_t) { arithmetic(Op::Divide); }
void opNothing(const uint8_t*, uint32_t) {}

void opUnaryMinus(const uint8_t*, uint32_t) {
  bool wasDate = false;
  double d = popNumberKind(wasDate);
  if (!takePendingError()) return;
  pushValue(withDouble(wasDate ? ValueKind::DateTime : ValueKind::Number, -d));
}

void opPower(const uint8_t*, uint32_t) {
  double exponent = popNumber();
  double base = popNumber();
  if (!takePendingError()) return;
  if (base == 0 && exponent == 0) {
    pushError(CellError::Num);
    return;
  }
  // Not-a-number results (a negative base with a fractional exponent) become !!Num
  // when the formula's value is stored.
  pushNumber(base == 0 ? 0 : std::pow(base, exponent));
}

void opPercent(const uint8_t*, uint32_t) {
  double d = popNumber();
  if (!takePendingError()) return;
  pushNumber(d * 0.01);
}

void opConcatenate(const uint8_t*, uint32_t) {
  uint32_t right = popTextHandle();
  uint32_t left = popTextHandle();
  if (!takePendingError()) {
    textPool().release(right);
    textPool().release(left);
    return;
  }
  CellValue l = emptyValue(), r = emptyValue();
  l.kind = r.kind = ValueKind::Text;
  l.setU32(left);
  r.setU32(right);
  std::u16string joined(textOf(l));
  joined += textOf(r);
  textPool().release(right);
  textPool().release(left);
  pushText(joined);
}

enum class Cmp { Equal, Less, Greater };

// The left operand against an empty right one.
CellValue compareWithNothing(Cmp cmp, const CellValue& left) {
  switch (left.kind) {
    case ValueKind::Error:
      return left;
    case ValueKind::Empty:
      return logicalValue(cmp == Cmp::Equal);
    case ValueKind::Logical:
      if (cmp == Cmp::Equal) return logicalValue(left.u32() == 0);
      return logicalValue(cmp == Cmp::Greater && left.u32() != 0);
    case ValueKind::Text: {
      bool empty = textOf(left).empty();
      if (cmp == Cmp::Equal) return logicalValue(empty);
      return logicalValue(cmp == Cmp::Greater && !empty);
    }
    case ValueKind::Number:
    case ValueKind::DateTime:
    case ValueKind::Integer: {
      double d = left.kind == ValueKind::Integer ? left.i32() : left.number();
      if (cmp == Cmp::Equal) return logicalValue(d == 0);
      return logicalValue(cmp == Cmp::Greater ? d > 0 : d < 0);
    }
    default:
      return logicalValue(false);
  }
}

// Compares the two operands on top; the result is a logical value or an error.
CellValue compare(Cmp cmp) {
  if (!hasOperands(2)) return emptyValue();
  EvalState& s = g_state;
  deref(s.stack[s.sp - 1]);
  switch (top().kind) {
    case ValueKind::Empty: {
      popRaw();
      CellValue left = popDeref();
      CellValue result = compareWithNothing(cmp, left);
      releaseValue(left, false);
      return result;
    }
    case ValueKind::Logical: {
      int32_t right = static_cast<int32_t>(popLogical());
      int32_t left = static_cast<int32_t>(popLogical());
      if (s.pendingError) break;
      return logicalValue(cmp == Cmp::Equal ? left == right : cmp == Cmp::Less ? left < right : left > right);
    }
    case ValueKind::Error: {
      CellValue right = popRaw();
      CellValue left = popDeref();
      // As everywhere else, the error of the leftmost failing operand is the result.
      CellValue result = left.kind == ValueKind::Error ? left : right;
      releaseValue(left, false);
      return result;
    }
    case ValueKind::Text: {
      uint32_t right = popTextHandle();
      uint32_t left = popTextHandle();
      CellValue l = emptyValue(), r = emptyValue();
      l.kind = r.kind = ValueKind::Text;
      l.setU32(left);
      r.setU32(right);
      int order = compareIgnoreCase(textOf(l), textOf(r));
      textPool().release(right);
      textPool().release(left);
      if (s.pendingError) break;
      return logicalValue(cmp == Cmp::Equal ? order == 0 : cmp == Cmp::Less ? order < 0 : order > 0);
    }
    default: {
      double right = popNumber();
      if (cmp == Cmp::Equal && hasOperands(1)) {
        deref(top());
        if (top().kind == ValueKind::Text) {
          CellValue read = readText(top());
          if (read.kind != ValueKind::Number) {
            // Equality with a text that is no number is simply false, not an error.
            CellValue left = popRaw();
            releaseValue(left, false);
            if (s.pendingError) break;
            return logicalValue(false);
          }
        }
      }
      double left = popNumber();
      if (s.pendingError) break;
      return logicalValue(cmp == Cmp::Equal ? left == right : cmp == Cmp::Less ? left < right : left > right);
    }
  }
  CellValue error = errorValue(static_cast<CellError>(s.pendingError - 1));
  s.pendingError = 0;
  return error;
}

void comparison(Cmp cmp, bool negate) {
  CellValue result = compare(cmp);
  if (!g_state.ok) return;
  if (negate && result.kind == ValueKind::Logical) result = logicalValue(result.u32() == 0);
  pushValue(result);
}

void opEqual(const uint8_t*, uint32_t) { comparison(Cmp::Equal, false); }
void opLess(const uint8_t*, uint32_t) { comparison(Cmp::Less, false); }
void opGreater(const uint8_t*, uint32_t) { comparison(Cmp::Greater, false); }
void opLessEqual(const uint8_t*, uint32_t) { comparison(Cmp::Greater, true); }
void opGreaterEqual(const uint8_t*, uint32_t) { comparison(Cmp::Less, true); }
void opNotEqual(const uint8_t*, uint32_t) { comparison(Cmp::Equal, true); }

void discardArguments(int32_t count) {
  if (hasOperands(count)) discard(count);
}

void opCall(const uint8_t* p, uint32_t) {
  EvalState& s = g_state;
  uint16_t index = readU16(p);
  uint8_t count = p[2];
  if (index == FunctionIndex::If && count > 10) {
    // The jump form: the branches already ran or were skipped; the call is reached
    // only when a two-argument If found its condition false.
    count = static_cast<uint8_t>(count - 10);
    if (count != 3) {
      s.argCount = count;
      pushLogical(0);
      return;
    }
  }
  s.argCount = count;
  FunctionImpl impl = index < FunctionIndex::Count ? functionRow(index).implementation : nullptr;
  if (!impl) {
    // A function not built (or an index from a damaged file) must never yield a
    // plausible value.
    discardArguments(count);
    if (s.ok) pushError(CellError::Name);
    return;
  }
  if (!hasOperands(count)) return;
  int32_t expected = s.sp - count + 1;
  impl();
  // The convention is exactly one result for the arguments popped; a breach would
  // shift every operand after it.
  if (s.ok && s.sp != expected) fail();
}

bool jumpTo(int64_t target, uint32_t opPos) {
  EvalState& s = g_state;
  if (target < 0 || target >= static_cast<int64_t>(s.codeLength) ||
      (!g_allowBackwardJumps && target <= static_cast<int64_t>(opPos))) {
    fail();
    return false;
  }
  s.ip = static_cast<uint32_t>(target);
  return true;
}

void opJump(const uint8_t* p, uint32_t opPos) { jumpTo(static_cast<int64_t>(opPos) + 1 + readI16(p) + 3, opPos); }

void opJumpIfFalse(const uint8_t* p, uint32_t opPos) {
  uint32_t condition = popLogical();
  // An error condition is dropped and takes the false branch.
  bool failed = g_state.pendingError != 0;
  g_state.pendingError = 0;
  if (condition && !failed) return;
  jumpTo(static_cast<int64_t>(opPos) + 1 + readI16(p) + 2, opPos);
}

void opDefinedName(const uint8_t* p, uint32_t) {
  EvalState& s = g_state;
  uint16_t index = readU16(p);
  if (!s.workbook || index >= s.workbook->names.size()) {
    pushError(CellError::Name);
    return;
  }
  uint32_t definition = s.workbook->names[index].definition;
  if (definition == NoHandle || !formulaPool().isLive(definition)) {
    pushError(CellError::Name);
    return;
  }
  CellValue back = emptyValue();
  back.kind = ValueKind::ReturnAddress;
  back.setU32(s.ip);
  back.setU16(2, s.codeName);
  pushValue(back);
  if (!s.ok) return;
  const uint8_t* data = static_cast<const uint8_t*>(formulaPool().data(definition));
  ++s.depth;
  s.code = data + 4;
  s.codeLength = readU32(data);
  s.codeName = index;
  s.ip = 0;
}

void opDiscard(const uint8_t*, uint32_t) {
  CellValue value = popRaw();
  releaseValue(value, false);
}

TaskVariable* variable(uint16_t index) {
  Workbook* workbook = g_state.workbook;
  if (!workbook || index >= workbook->taskVariables.size()) return nullptr;
  return &workbook->taskVariables[index];
}

void opAssign(const uint8_t* p, uint32_t) {
  CellValue value = popRaw();
  if (value.kind == ValueKind::CellRef || value.kind == ValueKind::SheetCellRef) deref(value);
  TaskVariable* target = variable(readU16(p));
  if (!target) {
    releaseValue(value, false);
    fail();
    return;
  }
  releaseValue(target->value, false);
  target->value = value;
}

void opReadVariable(const uint8_t* p, uint32_t) {
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
  EvalState& s = g_state;
  Workbook* workbook = s.workbook;
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
    setError(Err::UnknownName);
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

void opForTest(const uint8_t* p, uint32_t opPos) {
  TaskVariable* v = variable(readU16(p));
  double limit = 0, step = 0;
  if (!v || !loopBounds(limit, step)) {
    fail();
    return;
  }
  double d = loopVariable(*v);
  if ((step > 0 && d > limit) || (step < 0 && d < limit)) {
    discard(2);
    jumpTo(static_cast<int64_t>(opPos) + readI16(p + 2), opPos);
  }
}

void opForStep(const uint8_t* p, uint32_t opPos) {
  TaskVariable* v = variable(readU16(p));
  double limit = 0, step = 0;
  if (!v || !loopBounds(limit, step)) {
    fail();
    return;
  }
  double d = loopVariable(*v);
  releaseValue(v->value, false);
  v->value = numberValue(d + step);
  jumpTo(static_cast<int64_t>(opPos) + readI16(p + 2), opPos);
}

struct OpTable {
  Handler handlers[256];
  uint8_t payload[256];
  OpTable() {
    for (int i = 0; i < 256; ++i) {
      handlers[i] = opUnknown;
      payload[i] = payloadSize(static_cast<uint8_t>(i));
    }
    auto set = [this](Op op, Handler h) { handlers[static_cast<uint8_t>(op)] = h; };
    set(Op::End, opEnd);
    set(Op::Number, opNumber);
    set(Op::Call, opCall);
    set(Op::Constant, opConstant);
    set(Op::SmallInteger, opSmallInteger);
    set(Op::Add, opAdd);
    set(Op::Subtract, opSubtract);
    set(Op::Multiply, opMultiply);
    set(Op::Divide, opDivide);
    set(Op::UnaryPlus, opNothing);
    set(Op::UnaryMinus, opUnaryMinus);
    set(Op::String, opString);
    set(Op::CellRef, opCellRef);
    set(Op::Integer, opInteger);
    set(Op::AreaRef, opAreaRef);
    set(Op::SheetCellRef, opSheetCellRef);
    set(Op::SheetAreaRef, opSheetAreaRef);
    set(Op::Equal, opEqual);
    set(Op::Less, opLess);
    set(Op::Greater, opGreater);
    set(Op::LessEqual, opLessEqual);
    set(Op::GreaterEqual, opGreaterEqual);
    set(Op::NotEqual, opNotEqual);
    set(Op::Concatenate, opConcatenate);
    set(Op::Power, opPower);
    set(Op::Percent, opPercent);
    set(Op::Parentheses, opNothing);
    set(Op::ErrorLiteral, opErrorLiteral);
    set(Op::Logical, opLogical);
    set(Op::DeletedSheetCellRef, opDeleted);
    set(Op::DeletedSheetAreaRef, opDeleted);
    set(Op::DeletedCellRef, opDeleted);
    set(Op::DeletedAreaRef, opDeleted);
    set(Op::DateTime, opDateTime);
    set(Op::Jump, opJump);
    set(Op::JumpIfFalse, opJumpIfFalse);
    set(Op::Name, opDefinedName);
    set(Op::Discard, opDiscard);
    set(Op::AssignVariable, opAssign);
    set(Op::ReadVariable, opReadVariable);
    set(Op::CallTask, opCallTask);
    set(Op::ForTest, opForTest);
    set(Op::ForStep, opForStep);
  }
};

const OpTable kOps;

// Starts a run of `tokens` (a pool entry) above the entries already on the stack.
bool beginRun(const uint8_t* tokens, Workbook* workbook, uint16_t sheet, uint16_t row, uint16_t column) {
  EvalState& s = g_state;
  s.base = s.sp;
  s.depth = 0;
  s.pendingError = 0;
  s.running = true;
  s.ok = true;
  s.cellRow = row;
  s.cellColumn = column;
  s.cellSheet = sheet;
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
  while (s.sp > s.base) releaseValue(s.stack[--s.sp], false);
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
    if (resolveResult) deref(out);
    if (out.kind == ValueKind::Integer) out = numberValue(out.i32());
    if (out.isNumeric() && !std::isfinite(out.number())) out = errorValue(CellError::Num);
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
                        s.ip,      s.cellRow,   s.cellColumn, s.cellSheet,    s.pendingError, s.depth,
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
  s.cellRow = saved.cellRow;
  s.cellColumn = saved.cellColumn;
  s.cellSheet = saved.cellSheet;
  s.pendingError = saved.pendingError;
  s.depth = saved.depth;
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
  if (beginRun(tokensOf(table.tokens(id), pool), workbook, at.sheet, at.row, at.column) &&
      runToResult(resolveResult, result)) {
    // Looked up after the run, which may have added formulas and moved the arrays.
    if (table.isLive(id)) {
      CellValue& cached = table.cached(id);
      if (cached.kind == ValueKind::Text) releaseValue(cached, false);  // results own nothing else
      cached = result;
    } else {
      releaseValue(result, false);
    }
  }
  unwind();
  g_state.pendingError = 0;
}

}  // namespace

void evaluateFormula(const CellValue& formula, bool resolveResult) {
  SavedEvalState saved = saveEvalState();
  FormulaTable& table = formulaTableOf(formula);
  Workbook* workbook = table.workbook() ? table.workbook() : g_state.workbook;
  bool backward = g_allowBackwardJumps;
  bool constants = g_formulaConstants;
  g_allowBackwardJumps = false;
  g_formulaConstants = false;
  runEntry(table, formulaId(formula), workbook, resolveResult, formulaPool());
  g_allowBackwardJumps = backward;
  g_formulaConstants = constants;
  restoreEvalState(saved);
  g_state.pendingError = 0;
}

void evaluateTable(FormulaTable& table) {
  // One save for the pass: each run starts from the state the one before left, which
  // is the caller's with nothing above its stack.
  SavedEvalState saved = saveEvalState();
  Workbook* workbook = table.workbook() ? table.workbook() : g_state.workbook;
  bool backward = g_allowBackwardJumps;
  bool constants = g_formulaConstants;
  g_allowBackwardJumps = false;
  g_formulaConstants = false;
  const HandlePool& pool = formulaPool();
  for (uint32_t id = 0; id < table.idLimit(); ++id)
    if (table.isLive(id)) runEntry(table, id, workbook, true, pool);
  g_allowBackwardJumps = backward;
  g_formulaConstants = constants;
  restoreEvalState(saved);
}

bool evaluateTokens(const uint8_t* tokens, Workbook& workbook, uint16_t sheet, uint16_t row, uint16_t column,
                    bool resolveResult, CellValue& out) {
  SavedEvalState saved = saveEvalState();
  bool backward = g_allowBackwardJumps;
  bool constants = g_formulaConstants;
  g_allowBackwardJumps = false;
  g_formulaConstants = false;
  out = emptyValue();
  bool good = beginRun(tokens, &workbook, sheet, row, column) && runToResult(resolveResult, out);
  unwind();
  g_allowBackwardJumps = backward;
  g_formulaConstants = constants;
  restoreEvalState(saved);
  return good;
}

namespace {

bool runStatements(const uint8_t* tokens, Workbook& workbook, uint16_t sheet, uint16_t row, uint16_t column,
                   bool formulaConstants) {
  SavedEvalState saved = saveEvalState();
  bool backward = g_allowBackwardJumps;
  bool constants = g_formulaConstants;
  g_allowBackwardJumps = true;
  g_formulaConstants = formulaConstants;
  bool good = beginRun(tokens, &workbook, sheet, row, column);
  if (good) {
    runLoop();
    good = g_state.ok;
  }
  unwind();
  g_allowBackwardJumps = backward;
  g_formulaConstants = constants;
  restoreEvalState(saved);
  return good;
}

}  // namespace

bool runTask(const uint8_t* tokens, Workbook& workbook, uint16_t sheet, uint16_t row, uint16_t column) {
  return runStatements(tokens, workbook, sheet, row, column, false);
}

bool runCommandProgram(const uint8_t* tokens, Workbook& workbook, uint16_t sheet) {
  return runStatements(tokens, workbook, sheet, 0, 0, true);
}

void stopRunning() { g_state.running = false; }

void installExternalValue(ExternalValueFn fn) { g_externalValue = fn ? fn : missingBookValue; }
void installTaskCall(TaskCallFn fn) { g_taskCall = fn; }

// ----- Pushes.

void pushValue(const CellValue& value) {
  EvalState& s = g_state;
  if (s.sp >= EvalStackCapacity) {
    CellValue dropped = value;
    releaseValue(dropped, false);
    fail();
    return;
  }
  s.stack[s.sp++] = value;
}

void pushNumber(double d) { pushValue(numberValue(d)); }
void pushDateTime(double d) { pushValue(dateTimeValue(d)); }
void pushLogical(uint32_t b) { pushValue(logicalValue(b != 0)); }
void pushInteger(int32_t i) { pushValue(integerValue(i)); }
void pushError(CellError code) { pushValue(errorValue(code)); }

void pushText(std::u16string_view text) {
  CellValue value;
  makeText(value, text);
  // Out of memory leaves the value empty; the error state already says why.
  pushValue(value);
}

void pushTextHandle(uint32_t handle) {
  CellValue value = emptyValue();
  value.kind = ValueKind::Text;
  value.setU32(handle);
  pushValue(value);
}

// ----- Pops.

double popNumberKind(bool& wasDate) {
  CellValue value = popDeref();
  wasDate = value.kind == ValueKind::DateTime;
  switch (value.kind) {
    case ValueKind::Logical:
      return value.u32() ? 1 : 0;
    case ValueKind::Error:
      setPendingError(cellError(value));
      return 0;
    case ValueKind::Text: {
      CellValue read = readText(value);
      releaseValue(value, false);
      if (read.kind == ValueKind::Number) return read.number();
      setPendingError(CellError::Value);
      return 0;
    }
    case ValueKind::Number:
    case ValueKind::DateTime:
      return value.number();
    case ValueKind::Integer:
      return value.i32();
    default:
      return 0;
  }
}

double popNumber() {
  bool wasDate = false;
  return popNumberKind(wasDate);
}

double popDateTime(bool* wasDate) {
  CellValue value = popDeref();
  if (wasDate) *wasDate = value.kind == ValueKind::DateTime;
  switch (value.kind) {
    case ValueKind::Error:
      setPendingError(cellError(value));
      return 0;
    case ValueKind::Text: {
      CellValue read = readText(value);
      releaseValue(value, false);
      if (read.kind == ValueKind::DateTime) {
        if (wasDate) *wasDate = true;
        return read.number();
      }
      setPendingError(CellError::Value);
      return 0;
    }
    case ValueKind::Number:
    case ValueKind::DateTime:
      return value.number();
    default:
      return 0;
  }
}

uint32_t popLogical() {
  CellValue value = popDeref();
  switch (value.kind) {
    case ValueKind::Empty:
      return 0;
    case ValueKind::Logical:
      return value.u32() ? 1 : 0;
    case ValueKind::Error:
      setPendingError(cellError(value));
      return 0;
    case ValueKind::Text: {
      CellValue read = readText(value);
      releaseValue(value, false);
      if (read.kind == ValueKind::Logical) return read.u32() ? 1 : 0;
      setPendingError(CellError::Value);
      return 0;
    }
    case ValueKind::Number:
    case ValueKind::DateTime:
      return value.number() != 0 ? 1 : 0;
    case ValueKind::Integer:
      return value.i32() != 0 ? 1 : 0;
    default:
      setPendingError(CellError::Value);
      return 0;
  }
}

int32_t popInteger() {
  CellValue value = popDeref();
  switch (value.kind) {
    case ValueKind::Logical:
      return value.u32() ? 1 : 0;
    case ValueKind::Error:
      setPendingError(cellError(value));
      return 0;
    case ValueKind::Text:
      releaseValue(value, false);
      setPendingError(CellError::Value);
      return 0;
    case ValueKind::Number:
    case ValueKind::DateTime:
      return truncateToInt(value.number());
    case ValueKind::Integer:
      return value.i32();
    default:
      return 0;
  }
}

uint32_t popTextHandle() {
  CellValue value = popDeref();
  switch (value.kind) {
    case ValueKind::Empty:
      return NoHandle;
    case ValueKind::Error:
      setPendingError(cellError(value));
      return NoHandle;
    case ValueKind::Text:
      return value.u32();
    default: {
      std::u16string text;
      valueToText(value, text);
      CellValue made;
      makeText(made, text);
      return made.kind == ValueKind::Text ? made.u32() : NoHandle;
    }
  }
}

std::u16string popTextCopy() {
  CellValue value = emptyValue();
  value.kind = ValueKind::Text;
  value.setU32(popTextHandle());
  std::u16string copy(textOf(value));
  releaseValue(value, false);
  return copy;
}

CellError popErrorCode() {
  CellValue value = popDeref();
  if (value.kind == ValueKind::Error) return cellError(value);
  releaseValue(value, false);
  return CellError::Null;
}

void popValue(CellValue& out) { out = popRaw(); }

void popResolved(CellValue& out) { out = popDeref(); }

void discard(int32_t n) {
  for (int32_t i = 0; i < n && g_state.ok; ++i) {
    CellValue value = popRaw();
    releaseValue(value, false);
  }
}

namespace {

bool areaOf(const CellValue& value, SheetArea& out) {
  out.book = 0;
  out.firstSheet = out.lastSheet = static_cast<uint8_t>(g_state.cellSheet);
  switch (value.kind) {
    case ValueKind::CellRef:
    case ValueKind::SheetCellRef:
      out.firstRow = out.lastRow = value.u16(0);
      out.firstColumn = out.lastColumn = value.u16(1);
      break;
    case ValueKind::AreaRef:
    case ValueKind::SheetAreaRef:
      out.firstRow = value.u16(0);
      out.firstColumn = value.u16(1);
      out.lastRow = value.u16(2);
      out.lastColumn = value.u16(3);
      break;
    default:
      return false;
  }
  if (value.kind == ValueKind::SheetCellRef || value.kind == ValueKind::SheetAreaRef) {
    out.book = value.book;
    out.firstSheet = value.firstSheet;
    out.lastSheet = value.lastSheet;
  }
  return true;
}

}  // namespace

bool popArea(SheetArea& out) {
  CellValue value = popRaw();
  if (areaOf(value, out)) return true;
  releaseValue(value, false);
  setPendingError(CellError::Ref);
  return false;
}

bool popLocalArea(SheetArea& out) {
  if (!popArea(out)) return false;
  if (out.book == 0) return true;
  setPendingError(CellError::Ref);
  return false;
}

void popAreaCorners(int32_t& firstColumn, int32_t& firstRow, int32_t& lastColumn, int32_t& lastRow) {
  lastColumn = popInteger();
  lastRow = popInteger();
  firstColumn = popInteger();
  firstRow = popInteger();
}

bool takePendingError() {
  EvalState& s = g_state;
  if (s.pendingError == 0) return true;
  CellError code = static_cast<CellError>(s.pendingError - 1);
  s.pendingError = 0;
  pushError(code);
  return false;
}

void setPendingError(CellError code) { g_state.pendingError = static_cast<uint32_t>(code) + 1; }

void clearPendingError() { g_state.pendingError = 0; }

ValueKind topKind() { return g_state.sp > g_state.base ? top().kind : ValueKind::Empty; }

uint8_t argCount() { return g_state.argCount; }

// ----- Areas.

AreaIterator::AreaIterator(const SheetArea& area, Workbook* workbook, bool columnMode) {
  reset(area, workbook, columnMode);
}

AreaIterator::~AreaIterator() { releaseScratch(); }

void AreaIterator::releaseScratch() { releaseValue(m_scratch, false); }

Sheet* AreaIterator::sheetAt(int32_t index) const { return m_workbook->sheetAt(index); }

void AreaIterator::reset(const SheetArea& area, Workbook* workbook, bool columnMode) {
  releaseScratch();
  m_area = area;
  m_workbook = workbook;
  m_columnMode = columnMode;
  m_started = false;
  m_done = workbook == nullptr;
  m_sheet = area.firstSheet;
  m_row = columnMode ? area.firstRow - 1 : area.firstRow;
  m_column = columnMode ? area.firstColumn : area.firstColumn - 1;
  m_sheetPtr = nullptr;
  m_rowPtr = nullptr;
  m_end = -1;
  m_storedTexts = false;
}

bool AreaIterator::advance() {
  const bool external = m_area.book != 0;
  auto nextSheet = [this] {
    ++m_sheet;
    m_row = m_columnMode ? m_area.firstRow - 1 : m_area.firstRow;
    m_column = m_columnMode ? m_area.firstColumn : m_area.firstColumn - 1;
  };
  for (;;) {
    if (m_done || m_sheet > m_area.lastSheet) {
      m_done = true;
      return false;
    }
    Sheet* sheet = external ? nullptr : m_workbook->sheetAt(m_sheet);
    if (!external && !sheet) {
      nextSheet();
      continue;
    }
    if (m_columnMode) {
      if (m_column > m_area.lastColumn) {
        nextSheet();
        continue;
      }
      m_row = external ? m_row + 1 : sheet->nextRow(m_row);
      if (m_row <= m_area.lastRow) return true;
      ++m_column;
      m_row = m_area.firstRow - 1;
      continue;
    }
    if (m_row > m_area.lastRow) {
      nextSheet();
      continue;
    }
    ++m_column;
    int32_t end = m_area.lastColumn;
    if (!external) {
      const Row* row = sheet->rowAt(m_row);
      if (!row) {
        end = -1;
      } else {
        end = std::min(end, row->cells.size() - 1);
        m_column = std::max<int32_t>(m_column, row->firstColumn());
      }
    }
    if (m_column <= end) return true;
    m_row = external ? m_row + 1 : sheet->nextRow(m_row);
    m_column = m_area.firstColumn - 1;
  }
}

// A text holding a cell task shows only its visible part.
const CellValue* AreaIterator::shownText(const CellValue& value) {
  std::u16string_view text = textOf(value);
  std::u16string_view visible = visibleCellText(text);
  if (visible.size() == text.size()) return &value;
  makeText(m_scratch, visible);
  return &m_scratch;
}

// The common walk, this workbook's cells row by row, straight over each row's slots.
const CellValue* AreaIterator::nextInRows() {
  for (;;) {
    if (m_rowPtr) {
      const CellRecord* cells = m_rowPtr->cells.data();
      const int32_t first = m_rowPtr->firstColumn();
      for (int32_t column = m_column + 1; column <= m_end; ++column) {
        const CellValue& value = cells[column - first].value;
        if (value.kind == ValueKind::Empty) continue;
        m_column = column;
        return shown(effectiveValue(value));
      }
      m_column = m_end;
      m_rowPtr = nullptr;
      m_row = m_sheetPtr->nextRow(m_row);
    } else if (m_sheetPtr) {
      if (m_row > m_area.lastRow) {
        m_sheetPtr = nullptr;
        ++m_sheet;
        continue;
      }
      const Row* row = m_sheetPtr->rowAt(m_row);
      if (!row) {
        m_row = m_sheetPtr->nextRow(m_row);
        continue;
      }
      m_rowPtr = row;
      m_column = std::max<int32_t>(m_area.firstColumn, row->firstColumn()) - 1;
      m_end = std::min<int32_t>(m_area.lastColumn, row->cells.size() - 1);
    } else {
      if (m_done || m_sheet > m_area.lastSheet) {
        m_done = true;
        return nullptr;
      }
      m_sheetPtr = m_workbook->sheetAt(m_sheet);
      if (!m_sheetPtr) {
        ++m_sheet;
        continue;
      }
      m_row = m_area.firstRow;
    }
  }
}

const CellValue* AreaIterator::nextValue() {
  if (m_scratch.kind != ValueKind::Empty) releaseScratch();
  if (m_area.book == 0 && !m_columnMode) return nextInRows();
  while (advance()) {
    if (m_area.book != 0) {
      m_scratch = g_externalValue(*m_workbook, m_area.book, m_sheet, m_column, m_row);
      return &m_scratch;
    }
    const CellRecord* cell = m_workbook->sheetAt(m_sheet)->cellPtr(m_column, m_row);
    if (!cell || cell->value.kind == ValueKind::Empty) continue;
    return shown(effectiveValue(cell->value));
  }
  return nullptr;
}

bool AreaIterator::next(CellValue& out) {
  const CellValue* value = nextValue();
  if (!value) return false;
  out = *value;
  return true;
}

bool popAreaIterator(AreaIterator& it, bool columnMode) {
  switch (topKind()) {
    case ValueKind::CellRef:
    case ValueKind::AreaRef:
    case ValueKind::SheetCellRef:
    case ValueKind::SheetAreaRef:
      break;
    default:
      return false;
  }
  SheetArea area{};
  areaOf(popRaw(), area);
  it.reset(area, g_state.workbook, columnMode);
  return true;
}

std::u16string_view visibleCellText(std::u16string_view text) {
  size_t task = text.find(u"#Task:");
  if (task == std::u16string_view::npos) return text;
  size_t icon = text.find(u"#Icon:");
  return text.substr(0, icon != std::u16string_view::npos ? icon : task);
}

}  // namespace kelp
