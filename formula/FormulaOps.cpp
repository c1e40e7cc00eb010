// The handlers of the formula ops: literals, references, operators, calls, jumps and names.
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
  CellRefCode c = resolveCell(refAt(p), g_state.cell);
  pushValue(cellRefValue(c.row, c.colWord));
}

CellValue resolvedArea(const uint8_t* p) {
  CellRefCode a = resolveCell(refAt(p), g_state.cell);
  CellRefCode b = resolveCell(refAt(p + 4), g_state.cell);
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
  CellRefCode c = resolveCell(refAt(p + 4), g_state.cell);
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

// An operator's result that is infinite or not a number is !!Num at once, so that no
// later operator or function sees it (as text it would read "!!Num" but be no error).
void pushResult(ValueKind kind, double d) {
  if (std::isfinite(d)) pushValue(withDouble(kind, d));
  else pushError(CellError::Num);
}

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
  pushResult(leftDate || rightDate ? ValueKind::DateTime : ValueKind::Number, result);
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
  pushResult(wasDate ? ValueKind::DateTime : ValueKind::Number, -d);
}

void opPower(const uint8_t*, uint32_t) {
  double exponent = popNumber();
  double base = popNumber();
  if (!takePendingError()) return;
  if (base == 0 && exponent == 0) {
    pushError(CellError::Num);
    return;
  }
  // A negative base with a fractional exponent, or an overflow, is !!Num.
  pushResult(ValueKind::Number, base == 0 ? 0 : std::pow(base, exponent));
}

void opPercent(const uint8_t*, uint32_t) {
  double d = popNumber();
  if (!takePendingError()) return;
  pushResult(ValueKind::Number, d * 0.01);
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
  // Past the longest text a saved cell keeps the result is !!Val, as the text
  // functions' results are, rather than a text the next save cannot write.
  constexpr size_t LongestText = 32764;
  std::u16string_view a = textOf(l), b = textOf(r);
  if (a.size() + b.size() > LongestText) {
    textPool().release(right);
    textPool().release(left);
    pushError(CellError::Value);
    return;
  }
  std::u16string joined(a);
  joined += b;
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
      releaseValue(left);
      return result;
    }
    case ValueKind::Logical: {
      int32_t right = static_cast<int32_t>(popLogical());
      int32_t left = static_cast<int32_t>(popLogical());
      if (s.pendingError) break;
      return logicalValue(cmp == Cmp::Equal ? left == right : cmp == Cmp::Less ? left < right : left > right);
    }
    case ValueKind::Error: {
      // An error on the right drops both operands and is the result, whatever the left
      // one holds; the other operators keep the leftmost error instead.
      CellValue right = popRaw();
      CellValue left = popRaw();
      releaseValue(left);
      return right;
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
            releaseValue(left);
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
  if (index == FunctionIndex::Choose && count > ChooseJumpForm) {
    // The case ops left the index and the chosen value (or the error in its place).
    if (!hasOperands(2)) return;
    CellValue chosen;
    popValue(chosen);
    discard(1);
    pushValue(chosen);
    return;
  }
  s.argCount = count;
  FunctionImpl impl = index < FunctionIndex::Count ? functionRow(index).implementation : nullptr;
  if (isCommandOrTaskRow(index) && !g_runningStatements) impl = nullptr;
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
  if (s.ok && s.sp != expected) {
    fail();
    return;
  }
  // A result that is infinite or not a number is !!Num here, once for every function,
  // so that no comparison, If or aggregate after it takes it for a number.
  if (s.ok) {
    CellValue& result = s.stack[s.sp - 1];
    if (result.isNumeric() && !std::isfinite(numberOfFreshValue(result))) result = errorValue(CellError::Num);
  }
}

bool jumpTo(int64_t target, uint32_t opPos) {
  EvalState& s = g_state;
  if (target < 0 || target >= static_cast<int64_t>(s.codeLength) ||
      (!g_runningStatements && target <= static_cast<int64_t>(opPos))) {
    fail();
    return false;
  }
  // A loop going round again is where a task is stopped.
  if (target <= static_cast<int64_t>(opPos) && stopAtStatement()) return false;
  s.ip = static_cast<uint32_t>(target);
  return true;
}

void opJump(const uint8_t* p, uint32_t opPos) { jumpTo(static_cast<int64_t>(opPos) + 1 + readI16(p) + 3, opPos); }

// Whether the code at `at` is the closing call of an If in its jump form with `count`
// arguments (2 or 3).
bool isIfCall(int64_t at, uint8_t count) {
  const EvalState& s = g_state;
  if (at < 0 || at + 4 > static_cast<int64_t>(s.codeLength)) return false;
  const uint8_t* c = s.code + at;
  return c[0] == static_cast<uint8_t>(Op::Call) && readU16(c + 1) == FunctionIndex::If && c[3] == count + 10;
}

// Where the If function whose false branch starts at `elseStart` ends, so that an error
// condition can become its result; -1 for a task statement's jump, which has no result.
// A two-argument If's false branch is its call; a three-argument one's true branch
// ends in a jump to just past the call.
int64_t ifFunctionEnd(int64_t elseStart) {
  const EvalState& s = g_state;
  if (isIfCall(elseStart, 2)) return elseStart + 4;
  const int64_t jump = elseStart - 3;
  if (jump < 0 || s.code[jump] != static_cast<uint8_t>(Op::Jump)) return -1;
  const int64_t end = jump + 1 + readI16(s.code + jump + 1) + 3;
  return isIfCall(end - 4, 3) ? end : -1;
}

void opJumpIfFalse(const uint8_t* p, uint32_t opPos) {
  uint32_t condition = popLogical();
  const uint32_t failed = g_state.pendingError;
  g_state.pendingError = 0;
  if (condition && !failed) return;
  const int64_t elseStart = static_cast<int64_t>(opPos) + 1 + readI16(p) + 2;
  if (failed) {
    // An error condition is the result of an If function, as in its call form; a task
    // statement drops it and takes the false branch.
    const int64_t end = ifFunctionEnd(elseStart);
    if (end >= 0) {
      pushError(static_cast<CellError>(failed - 1));
      jumpTo(end, opPos);
      return;
    }
  }
  jumpTo(elseStart, opPos);
}

// A choice of Choose is entered when the index on top names it; otherwise the run goes
// on at the next case. The first case reads the index as a whole number once; after the
// last case, an index that named no choice leaves its error or !!Val as the value.
void opChooseCase(const uint8_t* p, uint32_t opPos) {
  EvalState& s = g_state;
  if (!hasOperands(1)) return;
  const uint8_t which = p[0], last = p[1];
  if (which == 1) {
    const double index = popNumber();
    const uint32_t failed = s.pendingError;
    s.pendingError = 0;
    if (failed)
      pushError(static_cast<CellError>(failed - 1));
    else
      pushNumber(std::trunc(index));
  }
  const CellValue& top = s.stack[s.sp - 1];
  if (top.kind == ValueKind::Number && top.number() == which) return;
  if (which >= last) {
    if (top.kind == ValueKind::Error)
      pushError(cellError(top));
    else
      pushError(CellError::Value);
  }
  jumpTo(static_cast<int64_t>(opPos) + 5 + readI16(p + 2), opPos);
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

}  // namespace eval

}  // namespace kelp
