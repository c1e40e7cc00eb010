// Op names and the walks over token strings that every holder of one needs.
#include "formula/Tokens.h"

#include <vector>

#include "formula/Catalogue.h"
#include "model/CellValue.h"
#include "model/HandlePool.h"
#include "model/Sheet.h"
#include "model/Workbook.h"

namespace kelp {

const char* opName(uint8_t op) {
  switch (op) {
#define KELP_OP(number, name, payload, handler) \
  case number:                         \
    return #name;
#include "formula/Ops.def"
#undef KELP_OP
    default:
      return "?";
  }
}

namespace {

// Calls `visit(op byte, payload)` for each op of `tokens` (`length` bytes, no prefix),
// stopping at an unused op code or a payload that would run past the end, so that a
// damaged string cannot make a walk read beyond its block.
template <typename Visit>
void forEachOp(uint8_t* tokens, size_t length, Visit visit) {
  size_t at = 0;
  while (at < length) {
    const uint8_t size = payloadSize(tokens[at]);
    if (size == 255 || at + 1 + size > length) return;
    visit(tokens[at], tokens + at + 1);
    at += 1 + size;
  }
}

}  // namespace

bool isArrayElementOp(uint8_t op, const uint8_t* payload) {
  switch (static_cast<Op>(op)) {
    case Op::Number:
    case Op::String:
    case Op::Logical:
    case Op::ErrorLiteral:
      return true;
    case Op::Constant:
      return payload[0] == static_cast<uint8_t>(ValueKind::Empty);
    default:
      return false;
  }
}

size_t arrayTokenLength(const uint8_t* tokens, size_t length, size_t at) {
  if (at + ArrayHeaderBytes > length || tokens[at] != static_cast<uint8_t>(Op::Array)) return 0;
  const ArrayShape shape = readArrayShape(tokens + at + 1);
  const size_t count = static_cast<size_t>(shape.columns) * shape.rows;
  if (count == 0 || count > ArrayElementLimit || shape.columns > ArrayColumnLimit) return 0;
  const size_t end = at + ArrayHeaderBytes + shape.elementBytes;
  if (end > length) return 0;
  size_t pos = at + ArrayHeaderBytes;
  for (size_t i = 0; i < count; ++i) {
    if (pos >= end) return 0;
    const uint8_t size = payloadSize(tokens[pos]);
    if (size == 255 || pos + 1 + size > end || !isArrayElementOp(tokens[pos], tokens + pos + 1)) return 0;
    pos += 1 + size;
  }
  return pos == end ? end - at : 0;
}

bool storableTokens(const uint8_t* tokens, size_t length) {
  size_t at = 0;
  while (at < length) {
    const uint8_t op = tokens[at];
    const uint8_t size = payloadSize(op);
    if (size == 255 || at + 1 + size > length || isTaskOnlyOp(op)) return false;
    if (op == static_cast<uint8_t>(Op::Call) && !isWorksheetRow(readU16(tokens + at + 1))) return false;
    if (op == static_cast<uint8_t>(Op::Array)) {
      const size_t bytes = arrayTokenLength(tokens, length, at);
      if (bytes == 0) return false;
      at += bytes;
      continue;
    }
    at += 1 + size;
  }
  return true;
}

void releaseTokenTexts(const uint8_t* tokens, size_t length) {
  // The walk only reads; it is shared with the walks that rewrite.
  forEachOp(const_cast<uint8_t*>(tokens), length, [](uint8_t& op, uint8_t* payload) {
    if (op == static_cast<uint8_t>(Op::String)) textPool().release(readU32(payload));
  });
}

void releaseEntryTexts(void* data) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  releaseTokenTexts(bytes + 4, readU32(bytes));
}

namespace {

// Byte offsets in the CellValue payload of ops SheetCellRef and SheetAreaRef.
constexpr size_t BookByte = 1, FirstSheetByte = 2, LastSheetByte = 3;

// Applies `shift` to the token string `tokens` (`length` bytes) in place: a reference
// left with no sheet becomes its deleted op, which evaluates to !!Ref. True when a
// byte changed.
bool shiftTokens(uint8_t* tokens, size_t length, SheetShift shift) {
  bool changed = false;
  forEachOp(tokens, length, [&](uint8_t& op, uint8_t* payload) {
    const bool cell = op == static_cast<uint8_t>(Op::SheetCellRef);
    if (!(cell || op == static_cast<uint8_t>(Op::SheetAreaRef)) || payload[BookByte] != 0) return;
    uint8_t& first = payload[FirstSheetByte];
    uint8_t& last = payload[LastSheetByte];
    const uint8_t oldFirst = first, oldLast = last;
    if (!shiftSheetSpan(first, last, shift)) {
      op = static_cast<uint8_t>(cell ? Op::DeletedSheetCellRef : Op::DeletedSheetAreaRef);
      changed = true;
    } else if (first != oldFirst || last != oldLast) {
      changed = true;
    }
  });
  return changed;
}

// Adds a reference to every text a token string's literals hold, for a copy of it.
void addTokenTexts(uint8_t* tokens, size_t length) {
  forEachOp(tokens, length, [](uint8_t& op, uint8_t* payload) {
    if (op == static_cast<uint8_t>(Op::String)) textPool().addRef(readU32(payload));
  });
}

// The token string `handle` after `shift`, for a holder of one reference to it: the
// same handle when nothing changes or the holder is its only one, otherwise a changed
// copy with one reference that the holder takes in place of its old one (undo copies
// and other workbooks share strings and must keep theirs). NoHandle when the copy
// failed (error 15); the holder then keeps the unchanged string.
uint32_t shiftHandle(uint32_t handle, SheetShift shift) {
  if (handle == NoHandle || !formulaPool().isLive(handle)) return handle;
  auto* data = static_cast<uint8_t*>(formulaPool().data(handle));
  const uint32_t length = readU32(data);
  if (formulaPool().refCount(handle) == 1) {
    shiftTokens(data + 4, length, shift);
    return handle;
  }
  std::vector<uint8_t> copy(data, data + 4 + length);
  if (!shiftTokens(copy.data() + 4, length, shift)) return handle;
  const uint32_t fresh = formulaPool().add(copy.data(), copy.size(), 1);
  if (fresh == NoHandle) return NoHandle;
  addTokenTexts(copy.data() + 4, length);
  return fresh;
}

// Whether the stored reference, read at `from`, names a cell off the sheet once read at
// `to`: the signed distance it spans is kept, not its value modulo the sheet's size.
bool pushedOffSheet(CellRefCode ref, CellPosition from, CellPosition to) {
  const CellRefCode target = resolveCell(ref, from);
  if (ref.colWord & RefBit::RelativeRow) {
    const int32_t row = int32_t{target.row} + to.row - from.row;
    if (row < 0 || row >= MaxRows) return true;
  }
  if (ref.colWord & RefBit::RelativeColumn) {
    const int32_t column = int32_t{target.colWord & RefBit::ColumnMask} + to.column - from.column;
    if (column < 0 || column >= MaxColumns) return true;
  }
  return false;
}

// Whether a copy from `from` to `to` pushes a reference of `tokens` off the sheet; with
// `cut`, each such reference becomes its deleted op.
bool cutOffSheetReferences(uint8_t* tokens, size_t length, CellPosition from, CellPosition to, bool cut) {
  bool changed = false;
  forEachOp(tokens, length, [&](uint8_t& op, uint8_t* payload) {
    Op deleted;
    int corners = 1;
    const uint8_t* refs = payload;
    switch (static_cast<Op>(op)) {
      case Op::CellRef: deleted = Op::DeletedCellRef; break;
      case Op::AreaRef: deleted = Op::DeletedAreaRef, corners = 2; break;
      case Op::SheetCellRef: deleted = Op::DeletedSheetCellRef, refs = payload + 4; break;
      case Op::SheetAreaRef: deleted = Op::DeletedSheetAreaRef, corners = 2, refs = payload + 4; break;
      default: return;
    }
    for (int i = 0; i < corners; ++i)
      if (pushedOffSheet(readCellRef(refs + 4 * i), from, to)) {
        if (cut) op = static_cast<uint8_t>(deleted);
        changed = true;
        return;
      }
  });
  return changed;
}

// Replaces a holder's handle in place (names and validation rules own theirs directly).
void shiftOwned(uint32_t& handle, SheetShift shift) {
  const uint32_t result = shiftHandle(handle, shift);
  if (result == NoHandle || result == handle) return;
  formulaPool().release(handle);
  handle = result;
}

}  // namespace

bool readsOtherWorkbooks(const uint8_t* tokens, size_t length) {
  bool found = false;
  // The walk only reads; it is shared with the walks that rewrite.
  forEachOp(const_cast<uint8_t*>(tokens), length, [&](uint8_t& op, uint8_t* payload) {
    const bool sheetRef = op == static_cast<uint8_t>(Op::SheetCellRef) || op == static_cast<uint8_t>(Op::SheetAreaRef);
    if (sheetRef && payload[BookByte] != 0) found = true;
  });
  return found;
}

uint32_t tokensCopiedTo(uint32_t tokens, CellPosition from, CellPosition to) {
  if (tokens == NoHandle || !formulaPool().isLive(tokens)) return tokens;
  auto* data = static_cast<uint8_t*>(formulaPool().data(tokens));
  const uint32_t length = readU32(data);
  // Most copies stay on the sheet: they share the string, and only the rest copy it.
  if (!cutOffSheetReferences(data + 4, length, from, to, false)) return formulaPool().addRef(tokens);
  std::vector<uint8_t> copy(data, data + 4 + length);
  cutOffSheetReferences(copy.data() + 4, length, from, to, true);
  const uint32_t fresh = formulaPool().add(copy.data(), copy.size(), 1);
  if (fresh == NoHandle) return NoHandle;
  addTokenTexts(copy.data() + 4, length);
  return fresh;
}

namespace {

void shiftWorkbookReferences(Workbook& book, SheetShift shift) {
  FormulaTable& table = book.formulas();
  for (uint32_t id = 0; id < table.idLimit(); ++id) {
    if (!table.isLive(id)) continue;
    const uint32_t old = table.tokens(id);
    const uint32_t result = shiftHandle(old, shift);
    if (result != NoHandle && result != old) table.replaceTokens(id, result);
  }
  table.needsOrdering = true;
  for (DefinedName& name : book.names) shiftOwned(name.definition, shift);
  for (int32_t s = 0; s < book.sheetCount(); ++s)
    for (ValidationEntry& entry : book.sheetAt(s)->validations) {
      shiftOwned(entry.rule.formula1, shift);
      shiftOwned(entry.rule.formula2, shift);
    }
}

}  // namespace

void installTokenHooks() {
  formulaPool().setFreeHook(releaseEntryTexts);
  installSheetReferences(shiftWorkbookReferences);
}

}  // namespace kelp
