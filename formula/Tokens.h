// Compiled token strings: op codes, payload sizes and the reference encoding.
// A formula-pool entry holds a u32 byte length and then the tokens, ending with op End.
#pragma once

#include <cstdint>
#include <cstring>

#include "model/CellValue.h"

namespace kelp {

enum class Op : uint8_t {
#define KELP_OP(number, name, payload, handler) name = number,
#include "formula/Ops.def"
#undef KELP_OP
};

/// Payload bytes after the op code; 255 for op codes that are not used.
constexpr uint8_t payloadSize(uint8_t op) {
  switch (op) {
#define KELP_OP(number, name, payload, handler) \
  case number:                         \
    return payload;
#include "formula/Ops.def"
#undef KELP_OP
    default:
      return 255;
  }
}

/// Bits of the column word of a cell reference.
namespace RefBit {
constexpr uint16_t RelativeColumn = 0x4000;
constexpr uint16_t RelativeRow = 0x8000;
constexpr uint16_t ColumnMask = 0x00FF;
}  // namespace RefBit

/// A cell reference as stored: row (or row offset) then the column word.
struct CellRefCode {
  uint16_t row;
  uint16_t colWord;
};

/// The absolute cell a stored reference names from the formula's cell.
inline CellRefCode resolveCell(CellRefCode ref, CellPosition base) {
  CellRefCode out;
  out.row = (ref.colWord & RefBit::RelativeRow) ? static_cast<uint16_t>(base.row + ref.row) : ref.row;
  out.colWord = (ref.colWord & RefBit::RelativeColumn)
                    ? static_cast<uint16_t>((base.column + ref.colWord) & 0xFF)
                    : static_cast<uint16_t>(ref.colWord & 0xFF);
  return out;
}

/// The stored form of a reference to `cell` written in a formula at `base`; parts
/// without "$" become offsets.
inline CellRefCode encodeCell(CellPosition cell, bool rowRelative, bool columnRelative, CellPosition base) {
  CellRefCode out;
  out.row = rowRelative ? static_cast<uint16_t>(cell.row - base.row) : cell.row;
  uint16_t colWord = cell.column & 0xFF;
  if (columnRelative) colWord = static_cast<uint16_t>(RefBit::RelativeColumn | ((cell.column - base.column) & 0xFF));
  if (rowRelative) colWord |= RefBit::RelativeRow;
  out.colWord = colWord;
  return out;
}

/// Both corners of a stored area reference resolved in place.
inline void resolveArea(CellRefCode area[2], CellPosition base) {
  area[0] = resolveCell(area[0], base);
  area[1] = resolveCell(area[1], base);
}

inline uint16_t readU16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline int16_t readI16(const uint8_t* p) {
  int16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline uint32_t readU32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline double readDouble(const uint8_t* p) {
  double v;
  std::memcpy(&v, p, 8);
  return v;
}

inline CellRefCode readCellRef(const uint8_t* p) { return CellRefCode{readU16(p), readU16(p + 2)}; }

/// The ops that only tasks compile: statement ends, variables, task calls and loops.
constexpr bool isTaskOnlyOp(uint8_t op) {
  return op >= static_cast<uint8_t>(Op::Discard) && op <= static_cast<uint8_t>(Op::ForStep);
}

/// An array constant is op Array followed by its elements, row by row, each one op
/// Number, String, Logical, ErrorLiteral or an empty Constant. The evaluator steps over
/// the elements as one operand, and every walk of plain ops still sees each string.
constexpr size_t ArrayElementLimit = 1024;
constexpr size_t ArrayColumnLimit = 256;
constexpr size_t ArrayHeaderBytes = 7;  // the op and its payload
struct ArrayShape {
  uint16_t columns;
  uint16_t rows;
  uint16_t elementBytes;
};
inline ArrayShape readArrayShape(const uint8_t* payload) {
  return ArrayShape{readU16(payload), readU16(payload + 2), readU16(payload + 4)};
}
/// Whether `op` may stand as an element of an array constant.
bool isArrayElementOp(uint8_t op, const uint8_t* payload);
/// The bytes of the array constant whose op Array is at `tokens[at]`, its elements
/// included, when it is whole: a sane shape, and exactly columns x rows element ops
/// filling its element bytes within `length`. 0 for a damaged one.
size_t arrayTokenLength(const uint8_t* tokens, size_t length, size_t at);

/// Added to the argument count of a Choose call whose choices are entered through case
/// ops: the call then finds only the index and the chosen value on the stack.
constexpr uint8_t ChooseJumpForm = 100;

/// Whether a token string (`length` bytes, no length prefix) may be kept as a cell
/// formula, a name or a validation rule taken from a file or the clipboard: every op is
/// known and whole, and none is a task-only op or a call of a command or task row.
/// Such a string could otherwise run the workbook's tasks or change cells on a
/// recalculation the user never asked to run anything.
bool storableTokens(const uint8_t* tokens, size_t length);

/// The name of an op code as written in golden tests ("Add", "Call"); "?" when unused.
const char* opName(uint8_t op);

/// Releases the text-pool reference of every string literal in `tokens` (`length`
/// bytes, no length prefix). Stops at an unused op code or a payload that would run
/// past the end, so a damaged string cannot make it read beyond its block.
void releaseTokenTexts(const uint8_t* tokens, size_t length);

/// The token string for a copy, at `to`, of a formula at `from` that holds `tokens`: one
/// more reference to `tokens` when every relative reference still lands on the sheet,
/// else a new entry with one reference in which each reference pushed past an edge is
/// !!Ref, so that a copy never wraps round to the other side. NoHandle with error 15.
uint32_t tokensCopiedTo(uint32_t tokens, CellPosition from, CellPosition to);

/// Whether a token string (`length` bytes, no prefix) holds a reference into another
/// workbook file.
bool readsOtherWorkbooks(const uint8_t* tokens, size_t length);

/// The formula pool's free hook: a freed token string gives back its string literals.
void releaseEntryTexts(void* data);

/// Installs what every holder of token strings relies on: the pool's free hook, and the
/// workbook's renumbering of sheet references when sheets are inserted or removed.
/// Every path that makes token strings calls it first.
void installTokenHooks();

}  // namespace kelp
