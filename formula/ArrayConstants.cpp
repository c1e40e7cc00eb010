// Array constants while a formula runs: each one met is copied into the run's table and
// pushed as a reference to that table, so that every function taking a range reads it
// as cells, and a single use reads its first element.
#include <vector>

#include "formula/EvaluatorInternal.h"
#include "formula/Tokens.h"
#include "model/HandlePool.h"

namespace kelp::eval {

namespace {

struct ArraySlot {
  uint32_t first;  // index of its first element in g_elements
  uint16_t columns;
  uint16_t rows;
};

// Shared by nested runs: each run drops only the slots it added (EvalState::arrayBase).
std::vector<ArraySlot> g_slots;
std::vector<CellValue> g_elements;

CellValue elementValue(uint8_t op, const uint8_t* p) {
  switch (static_cast<Op>(op)) {
    case Op::Number:
      return numberValue(readDouble(p));
    case Op::Logical:
      return logicalValue(p[0] != 0);
    case Op::ErrorLiteral:
      return errorValue(static_cast<CellError>(readU16(p)));
    case Op::String: {
      const uint32_t handle = readU32(p);
      if (handle != NoHandle && !textPool().isLive(handle)) return errorValue(CellError::Value);
      CellValue value = emptyValue();
      value.kind = ValueKind::Text;
      value.setU32(textPool().addRef(handle));
      return value;
    }
    default:
      return emptyValue();
  }
}

}  // namespace

uint32_t arraySlotCount() { return static_cast<uint32_t>(g_slots.size()); }

void dropArraysFrom(uint32_t base) {
  if (base >= g_slots.size()) return;
  for (size_t i = g_slots[base].first; i < g_elements.size(); ++i) releaseValue(g_elements[i]);
  g_elements.resize(g_slots[base].first);
  g_slots.resize(base);
}

bool arrayBounds(int32_t slot, int32_t& columns, int32_t& rows) {
  if (slot < static_cast<int32_t>(g_state.arrayBase) || slot >= static_cast<int32_t>(g_slots.size())) return false;
  columns = g_slots[static_cast<size_t>(slot)].columns;
  rows = g_slots[static_cast<size_t>(slot)].rows;
  return true;
}

CellValue arrayElement(int32_t slot, int32_t column, int32_t row) {
  int32_t columns = 0, rows = 0;
  if (!arrayBounds(slot, columns, rows) || column < 0 || row < 0 || column >= columns || row >= rows)
    return emptyValue();
  CellValue value;
  copyValue(g_elements[g_slots[static_cast<size_t>(slot)].first + static_cast<size_t>(row * columns + column)], value);
  return value;
}

// The elements follow the op; the run steps over them as over one operand.
void opArray(const uint8_t* p, uint32_t opPos) {
  EvalState& s = g_state;
  const size_t bytes = arrayTokenLength(s.code, s.codeLength, opPos);
  if (bytes == 0) {
    fail();
    return;
  }
  s.ip = opPos + static_cast<uint32_t>(bytes);
  const ArrayShape shape = readArrayShape(p);
  // The slot number travels in a sheet byte; one more array than that is refused.
  if (g_slots.size() >= ArrayBook) {
    pushError(CellError::Num);
    return;
  }
  const uint32_t first = static_cast<uint32_t>(g_elements.size());
  const uint8_t* at = p + ArrayHeaderBytes - 1;
  for (size_t i = 0, count = static_cast<size_t>(shape.columns) * shape.rows; i < count; ++i) {
    g_elements.push_back(elementValue(at[0], at + 1));
    at += 1 + payloadSize(at[0]);
  }
  g_slots.push_back(ArraySlot{first, shape.columns, shape.rows});
  CellValue ref = emptyValue();
  ref.kind = ValueKind::SheetAreaRef;
  ref.book = ArrayBook;
  ref.firstSheet = ref.lastSheet = static_cast<uint8_t>(g_slots.size() - 1);
  ref.setU16(0, 0);
  ref.setU16(1, 0);
  ref.setU16(2, static_cast<uint16_t>(shape.rows - 1));
  ref.setU16(3, static_cast<uint16_t>(shape.columns - 1));
  pushValue(ref);
}

}  // namespace kelp::eval
