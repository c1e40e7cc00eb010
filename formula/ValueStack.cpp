// The value stack: operands read from cells, pushes, typed pops and the pending error.
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
  releaseValue(value);
  makeText(value, visible);
}

// A copy (owned) of the effective value of a cell of this workbook or another.
CellValue fetchCell(int32_t book, int32_t sheetIndex, int32_t column, int32_t row) {
  Workbook* workbook = g_state.workbook;
  if (!workbook) return emptyValue();
  if (book == ArrayBook) {
    int32_t columns = 0, rows = 0;
    if (!arrayBounds(sheetIndex, columns, rows) || column >= columns || row >= rows) return errorValue(CellError::Ref);
    return arrayElement(sheetIndex, column, row);
  }
  if (book != 0) {
    // A cell the other file does not have reads as !!NA; only ranges pass over it.
    CellValue value = g_externalValue(*workbook, book, sheetIndex, column, row);
    return value.kind == ValueKind::Empty ? errorValue(CellError::NA) : value;
  }
  Sheet* sheet = workbook->sheetAt(sheetIndex);
  if (!sheet) return errorValue(CellError::Ref);
  // Only a text stored in the cell carries a task; a formula's result is taken whole.
  const CellRecord* cell = sheet->cellPtr(column, row);
  CellValue value;
  copyValue(cell ? effectiveValue(cell->value) : sheet->cellValue(column, row), value);
  if (cell && cell->value.kind == ValueKind::Text) reduceCellTask(value);
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
      value = fetchCell(0, g_state.cell.sheet, value.u16(1), value.u16(0));
      return;
    case ValueKind::AreaRef:
      if (value.u16(0) == value.u16(2) && value.u16(1) == value.u16(3))
        value = fetchCell(0, g_state.cell.sheet, value.u16(1), value.u16(0));
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
      // A single use of an array takes its first element, as desktop spreadsheets do.
      if (value.book == ArrayBook)
        value = fetchCell(ArrayBook, value.firstSheet, value.u16(1), value.u16(0));
      else if (value.firstSheet == value.lastSheet && value.u16(0) == value.u16(2) && value.u16(1) == value.u16(3) &&
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

CellValue withDouble(ValueKind kind, double d) { return doubleValue(kind, d); }

// Reads a text as a typed entry would; the reader gives back no pool entry for texts.
CellValue readText(const CellValue& text) { return readValueOnly(textOf(text)); }

int32_t truncateToInt(double d) {
  d = d >= 0 ? d + 0.00001 : d - 0.00001;
  if (!(d == d)) return 0;
  if (d >= 2147483647.0) return 2147483647;
  if (d <= -2147483648.0) return -2147483647 - 1;
  return static_cast<int32_t>(d);
}

}  // namespace eval

using namespace eval;

// ----- Pushes.

void pushValue(const CellValue& value) {
  EvalState& s = g_state;
  if (s.sp >= EvalStackCapacity) {
    CellValue dropped = value;
    releaseValue(dropped);
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
  // The common operand is a number, as given or in a cell of this workbook that a plain
  // reference names: read in place, without the copy that dereferencing makes.
  EvalState& s = g_state;
  if (s.sp > s.base) {
    const CellValue& operand = s.stack[s.sp - 1];
    if (operand.isNumeric()) {
      --s.sp;
      wasDate = operand.kind == ValueKind::DateTime;
      return numberOfFreshValue(operand);
    }
    if (operand.kind == ValueKind::CellRef) {
      const Sheet* sheet = s.workbook ? s.workbook->sheetAt(s.cell.sheet) : nullptr;
      const Row* row = sheet ? sheet->rowAt(operand.u16(0)) : nullptr;
      const int32_t column = operand.u16(1);
      const CellValue* cell = row && row->cells.has(column) ? &effectiveValue(row->cells[column].value) : nullptr;
      if (cell && cell->isNumeric()) {
        --s.sp;
        wasDate = cell->kind == ValueKind::DateTime;
        return cell->number();
      }
    }
  }
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
      releaseValue(value);
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
      releaseValue(value);
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
      releaseValue(value);
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
      releaseValue(value);
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
      // A number that is no number has no text; its display "!!Num" would pass for one.
      if (value.isNumeric() && !std::isfinite(value.number())) {
        setPendingError(CellError::Num);
        return NoHandle;
      }
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
  releaseValue(value);
  return copy;
}

CellError popErrorCode() {
  CellValue value = popDeref();
  if (value.kind == ValueKind::Error) return cellError(value);
  releaseValue(value);
  return CellError::Null;
}

void popValue(CellValue& out) { out = popRaw(); }

void popResolved(CellValue& out) { out = popDeref(); }

void discard(int32_t n) {
  for (int32_t i = 0; i < n && g_state.ok; ++i) {
    CellValue value = popRaw();
    releaseValue(value);
  }
}

namespace eval {

bool areaOf(const CellValue& value, SheetArea& out) {
  return referenceArea(value, static_cast<int32_t>(g_state.cell.sheet), out);
}

}  // namespace eval

bool referenceArea(const CellValue& value, int32_t sheet, SheetArea& out) {
  out.book = 0;
  out.firstSheet = out.lastSheet = static_cast<uint8_t>(sheet);
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

bool popArea(SheetArea& out) {
  CellValue value = popRaw();
  if (areaOf(value, out)) return true;
  releaseValue(value);
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

}  // namespace kelp
