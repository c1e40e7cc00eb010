// Whole row and column insertion and deletion, and the reference adjustment after it.
#include "edit/MoveAdjust.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "edit/Commands.h"
#include "model/FormulaTable.h"
#include "model/HandlePool.h"
#include "model/Workbook.h"

namespace kelp {

namespace {

ProgramBuilder* g_recorder = nullptr;

constexpr int32_t Gone = -1;

int32_t lastLine(const LineMove& move) { return move.columns ? MaxColumns - 1 : MaxRows - 1; }

// Where line `x` is after the move; Gone when it was deleted or pushed off the sheet.
int32_t moveLine(const LineMove& move, int32_t x) {
  if (x < move.at) return x;
  if (move.insert) return x + move.count > lastLine(move) ? Gone : x + move.count;
  return x < move.at + move.count ? Gone : x - move.count;
}

// The lines lo .. hi of an area after the move; false when none of them is left. An
// area that reaches the last line keeps reaching it, so that whole columns stay whole.
// `lossy` is set when moving the lines back would not give back the area.
bool moveSpan(const LineMove& move, int32_t& lo, int32_t& hi, bool& lossy) {
  const int32_t last = lastLine(move);
  const int32_t n = move.count;
  if (move.insert) {
    if (lo >= move.at) lo += n;
    if (lo > last) return false;
    if (hi != last && hi >= move.at) {
      lossy |= hi + n > last;
      hi = std::min(hi + n, last);
    }
    return true;
  }
  const int32_t end = move.at + n - 1;
  if (lo >= move.at && hi <= end) return false;
  lossy |= (lo >= move.at && lo <= end) || (hi >= move.at && hi <= end);
  lo = lo < move.at ? lo : (lo > end ? lo - n : move.at);
  hi = hi == last ? last : (hi > end ? hi - n : (hi >= move.at ? move.at - 1 : hi));
  return true;
}

int32_t lineOf(const LineMove& move, CellRefCode resolved) {
  return move.columns ? (resolved.colWord & RefBit::ColumnMask) : resolved.row;
}
int32_t lineOf(const LineMove& move, CellPosition at) { return move.columns ? at.column : at.row; }

// The stored corner after its target line became `target` and the formula's line moved
// by `baseShift`: a relative part keeps pointing at the target from the new place.
CellRefCode moveCorner(const LineMove& move, CellRefCode stored, CellPosition base, int32_t target,
                       int32_t baseShift) {
  const int32_t now = lineOf(move, resolveCell(stored, base));
  const bool relative = stored.colWord & (move.columns ? RefBit::RelativeColumn : RefBit::RelativeRow);
  const int32_t shift = target - now - (relative ? baseShift : 0);
  return move.columns ? shiftReference(stored, shift, 0) : shiftReference(stored, 0, shift);
}

void writeRef(uint8_t* p, CellRefCode ref) {
  std::memcpy(p, &ref.row, 2);
  std::memcpy(p + 2, &ref.colWord, 2);
}

struct FormulaMove {
  const LineMove& move;
  CellPosition base;  // the formula's cell before the move
  int32_t baseShift;  // how far its line moved
  int32_t activeSheet;
  bool& lossy;  // set when moving the lines back would not give back a reference
};

// Rewrites one reference whose cells are on `sheet` (-1: none this move can touch);
// `corners` is 1 or 2. True when the op became a deleted reference.
bool moveReference(const FormulaMove& f, uint8_t* payload, int corners, int32_t sheet) {
  CellRefCode stored[2] = {readCellRef(payload), corners == 2 ? readCellRef(payload + 4) : CellRefCode{}};
  int32_t target[2];
  for (int i = 0; i < corners; ++i) target[i] = lineOf(f.move, resolveCell(stored[i], f.base));
  if (sheet == f.activeSheet) {
    if (corners == 1) {
      target[0] = moveLine(f.move, target[0]);
      if (target[0] == Gone) return true;
    } else {
      const bool ordered = target[0] <= target[1];
      int32_t lo = std::min(target[0], target[1]), hi = std::max(target[0], target[1]);
      if (!moveSpan(f.move, lo, hi, f.lossy)) return true;
      target[0] = ordered ? lo : hi;
      target[1] = ordered ? hi : lo;
    }
  }
  for (int i = 0; i < corners; ++i)
    writeRef(payload + 4 * i, moveCorner(f.move, stored[i], f.base, target[i], f.baseShift));
  return false;
}

// The same for a block of cells moved on the active sheet by cut and paste: a reference
// wholly inside the source follows it, one wholly inside the destination (and not the
// source) was overwritten, any other stays; a formula that moved keeps its references
// to cells that did not.
struct BlockMove {
  Area source;
  Area dest;
  int32_t dColumn, dRow;
  CellPosition base;  // the formula's cell before the move
  int32_t baseColumnShift, baseRowShift;
  int32_t activeSheet;
};

bool inside(const Area& area, int32_t column, int32_t row) {
  return row >= area.firstRow && row <= area.lastRow && column >= area.firstColumn && column <= area.lastColumn;
}

bool moveReference(const BlockMove& f, uint8_t* payload, int corners, int32_t sheet) {
  CellRefCode stored[2] = {readCellRef(payload), corners == 2 ? readCellRef(payload + 4) : CellRefCode{}};
  int32_t column[2], row[2];
  bool inSource = sheet == f.activeSheet, inDest = sheet == f.activeSheet;
  for (int i = 0; i < corners; ++i) {
    const CellRefCode target = resolveCell(stored[i], f.base);
    column[i] = target.colWord & RefBit::ColumnMask;
    row[i] = target.row;
    inSource = inSource && inside(f.source, column[i], row[i]);
    inDest = inDest && inside(f.dest, column[i], row[i]);
  }
  if (inDest && !inSource) return true;
  for (int i = 0; i < corners; ++i) {
    const bool relativeColumn = stored[i].colWord & RefBit::RelativeColumn;
    const bool relativeRow = stored[i].colWord & RefBit::RelativeRow;
    const int32_t dc = (inSource ? f.dColumn : 0) - (relativeColumn ? f.baseColumnShift : 0);
    const int32_t dr = (inSource ? f.dRow : 0) - (relativeRow ? f.baseRowShift : 0);
    writeRef(payload + 4 * i, shiftReference(stored[i], dc, dr));
  }
  return false;
}

// Rewrites a token string (`length` bytes, no prefix) in place.
template <typename Move>
void moveTokens(const Move& f, uint8_t* tokens, size_t length, int32_t formulaSheet) {
  size_t at = 0;
  while (at < length) {
    uint8_t& op = tokens[at];
    const uint8_t size = payloadSize(op);
    if (size == 255 || at + 1 + size > length) return;
    uint8_t* payload = tokens + at + 1;
    switch (static_cast<Op>(op)) {
      case Op::CellRef:
        if (moveReference(f, payload, 1, formulaSheet)) op = static_cast<uint8_t>(Op::DeletedCellRef);
        break;
      case Op::AreaRef:
        if (moveReference(f, payload, 2, formulaSheet)) op = static_cast<uint8_t>(Op::DeletedAreaRef);
        break;
      case Op::SheetCellRef:
      case Op::SheetAreaRef: {
        // payload: kind, book, first sheet, last sheet, then the reference
        const bool cell = static_cast<Op>(op) == Op::SheetCellRef;
        const int32_t sheet = payload[1] == 0 && payload[2] == payload[3] ? payload[2] : -1;
        if (moveReference(f, payload + 4, cell ? 1 : 2, sheet))
          op = static_cast<uint8_t>(cell ? Op::DeletedSheetCellRef : Op::DeletedSheetAreaRef);
        break;
      }
      default:
        break;
    }
    at += 1 + size;
  }
}

// A new pool entry holding `bytes` (prefix included) with one reference; its string
// literals gain a reference each. NoHandle with error 15.
uint32_t addTokenCopy(const std::vector<uint8_t>& bytes) {
  const uint32_t handle = formulaPool().add(bytes.data(), bytes.size(), 1);
  if (handle == NoHandle) return NoHandle;
  const uint32_t length = readU32(bytes.data());
  for (size_t at = 0; at < length;) {
    const uint8_t op = bytes[4 + at];
    const uint8_t size = payloadSize(op);
    if (size == 255 || at + 1 + size > length) break;
    if (op == static_cast<uint8_t>(Op::String)) textPool().addRef(readU32(bytes.data() + 4 + at + 1));
    at += 1 + size;
  }
  return handle;
}

}  // namespace

CellRefCode shiftReference(CellRefCode ref, int32_t dColumn, int32_t dRow) {
  CellRefCode out;
  out.row = static_cast<uint16_t>(ref.row + dRow);
  out.colWord = static_cast<uint16_t>((ref.colWord & (RefBit::RelativeColumn | RefBit::RelativeRow)) |
                                      ((ref.colWord + dColumn) & RefBit::ColumnMask));
  return out;
}

ProgramBuilder* moveRecorder() { return g_recorder; }
void setMoveRecorder(ProgramBuilder* recorder) { g_recorder = recorder; }

namespace {

// A token string rewritten for a move, not yet stored.
struct MovedTokens {
  std::vector<uint8_t> bytes;  // prefix included
  bool changed = false;
  bool lossy = false;  // the opposite move would not give it back
};

// `out` is where a line move's FormulaMove notes lossy references.
template <typename Move>
void moveTokenString(uint32_t handle, const Move& f, int32_t formulaSheet, MovedTokens& out) {
  out.changed = out.lossy = false;
  out.bytes.clear();
  if (handle == NoHandle || !formulaPool().isLive(handle)) return;
  const auto* data = static_cast<const uint8_t*>(formulaPool().data(handle));
  out.bytes.assign(data, data + 4 + readU32(data));
  moveTokens(f, out.bytes.data() + 4, out.bytes.size() - 4, formulaSheet);
  out.changed = !std::equal(out.bytes.begin(), out.bytes.end(), data);
}

// Stores the rewritten string: in place when `handle` is its only holder, else as a new
// entry (the caller swaps it in). The handle now holding the tokens; `handle` on failure.
uint32_t storeTokens(uint32_t handle, const MovedTokens& moved) {
  if (formulaPool().refCount(handle) == 1) {
    std::memcpy(static_cast<uint8_t*>(formulaPool().data(handle)), moved.bytes.data(), moved.bytes.size());
    return handle;
  }
  const uint32_t fresh = addTokenCopy(moved.bytes);
  return fresh == NoHandle ? handle : fresh;
}

// A handle the caller owns, rewritten for the move.
template <typename Move>
void moveOwned(uint32_t& handle, const Move& f, int32_t sheet, MovedTokens& scratch) {
  moveTokenString(handle, f, sheet, scratch);
  if (!scratch.changed) return;
  const uint32_t stored = storeTokens(handle, scratch);
  if (stored != handle) {
    formulaPool().release(handle);
    handle = stored;
  }
}

// The lines lo .. hi of an area that is not stretched when it reaches the sheet's end,
// like a merged area; false when none is left.
bool moveFixedSpan(const LineMove& move, int32_t& lo, int32_t& hi) {
  const int32_t n = move.count, end = move.at + n - 1;
  if (move.insert) {
    if (lo >= move.at) lo += n;
    if (hi >= move.at) hi = std::min(hi + n, lastLine(move));
    return lo <= lastLine(move);
  }
  if (lo >= move.at && hi <= end) return false;
  lo = lo < move.at ? lo : (lo > end ? lo - n : move.at);
  hi = hi > end ? hi - n : (hi >= move.at ? move.at - 1 : hi);
  return true;
}

// An area's lines in the move's direction, moved; false when none is left.
bool moveAreaLines(const LineMove& move, Area& area, bool stretch) {
  int32_t lo = move.columns ? area.firstColumn : area.firstRow;
  int32_t hi = move.columns ? area.lastColumn : area.lastRow;
  bool lossy = false;
  if (!(stretch ? moveSpan(move, lo, hi, lossy) : moveFixedSpan(move, lo, hi))) return false;
  (move.columns ? area.firstColumn : area.firstRow) = static_cast<uint16_t>(lo);
  (move.columns ? area.lastColumn : area.lastRow) = static_cast<uint16_t>(hi);
  return true;
}

// Merged areas follow their cells; one left with a single cell, or none, is no longer
// merged. Unlike a reference, a merged area that reaches the sheet's end is not stretched.
void moveMergedAreas(Sheet& sheet, const LineMove& move) {
  for (int32_t i = sheet.mergedAreas.size(); i-- > 0;) {
    Area& area = sheet.mergedAreas[i];
    if (!moveAreaLines(move, area, false) || (area.firstRow == area.lastRow && area.firstColumn == area.lastColumn))
      sheet.mergedAreas.removeAt(i);
  }
}

CellPosition areaCorner(const Area& area, int32_t sheet) {
  return CellPosition{static_cast<uint16_t>(sheet), area.firstColumn, area.firstRow};
}

// Validation rules: their formulas read relative to the first cell of their first area,
// on every sheet; the areas of the active sheet's rules follow their cells (a rule left
// without any cell goes).
void moveValidations(Workbook& workbook, const LineMove& move, MovedTokens& scratch) {
  const int32_t active = workbook.activeSheetIndex();
  for (int32_t s = 0; s < workbook.sheetCount(); ++s) {
    std::vector<ValidationEntry>& entries = workbook.sheetAt(s)->validations;
    for (size_t i = entries.size(); i-- > 0;) {
      ValidationEntry& entry = entries[i];
      const CellPosition base = entry.areas.empty() ? CellPosition{static_cast<uint16_t>(s), 0, 0}
                                                    : areaCorner(entry.areas.front(), s);
      if (s == active) {
        std::erase_if(entry.areas, [&](Area& area) { return !moveAreaLines(move, area, true); });
        if (entry.areas.empty()) {
          formulaPool().release(entry.rule.formula1);
          formulaPool().release(entry.rule.formula2);
          entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
          continue;
        }
      }
      const CellPosition now = entry.areas.empty() ? base : areaCorner(entry.areas.front(), s);
      const int32_t baseShift = lineOf(move, now) - lineOf(move, base);
      const FormulaMove f{move, base, baseShift, active, scratch.lossy};
      moveOwned(entry.rule.formula1, f, s, scratch);
      moveOwned(entry.rule.formula2, f, s, scratch);
    }
  }
}

// The AutoFilter's area follows its cells, with one criterion per column; it goes when
// its heading row or all its columns go.
void moveAutoFilter(Sheet& sheet, const LineMove& move) {
  AutoFilter& filter = sheet.autoFilter;
  if (!filter.active && filter.columns.empty()) return;
  Area area = filter.area;
  const bool headingGone = !move.columns && moveLine(move, area.firstRow) == Gone;
  if (headingGone || !moveAreaLines(move, area, false)) {
    filter = AutoFilter{};
    return;
  }
  if (move.columns) {
    // Criteria of deleted columns go; inserted columns get none.
    const int32_t first = filter.area.firstColumn;
    std::vector<FilterColumn> columns;
    for (int32_t c = area.firstColumn; c <= area.lastColumn; ++c) {
      int32_t before = c;
      if (move.insert) before = c < move.at ? c : (c < move.at + move.count ? -1 : c - move.count);
      else before = c < move.at ? c : c + move.count;
      const int32_t k = before - first;
      columns.push_back(before >= 0 && k >= 0 && k < static_cast<int32_t>(filter.columns.size())
                            ? filter.columns[static_cast<size_t>(k)]
                            : FilterColumn{});
    }
    filter.columns = std::move(columns);
  }
  filter.area = area;
}

// Frozen titles follow their lines like a merged area; the first scrollable line shown
// stays right of (below) them.
void moveView(SheetView& view, const LineMove& move) {
  bool& frozen = move.columns ? view.columnsFrozen : view.rowsFrozen;
  uint16_t& first = move.columns ? view.frozenFirstColumn : view.frozenFirstRow;
  uint16_t& last = move.columns ? view.frozenLastColumn : view.frozenLastRow;
  uint16_t& shown = move.columns ? view.leftColumn : view.topRow;
  const int32_t line = moveLine(move, shown);
  shown = static_cast<uint16_t>(line == Gone ? std::min(move.at, lastLine(move)) : line);
  if (!frozen) return;
  int32_t lo = first, hi = last;
  if (!moveFixedSpan(move, lo, hi) || hi >= lastLine(move)) {
    frozen = false;
    return;
  }
  first = static_cast<uint16_t>(lo);
  last = static_cast<uint16_t>(hi);
  shown = static_cast<uint16_t>(std::max<int32_t>(shown, hi + 1));
}

}  // namespace

void adjustForMove(Workbook& workbook, const LineMove& move, ProgramBuilder* undo) {
  FormulaTable& table = workbook.formulas();
  const int32_t active = workbook.activeSheetIndex();
  MovedTokens moved;
  for (uint32_t id = 0; id < table.idLimit(); ++id) {
    if (!table.isLive(id)) continue;
    const CellPosition base = table.position(id);
    CellPosition now = base;
    if (base.sheet == active) {
      const int32_t line = moveLine(move, lineOf(move, base));
      // Formulas in deleted lines were released with their cells; one left would be a fault.
      if (line != Gone) (move.columns ? now.column : now.row) = static_cast<uint16_t>(line);
    }
    const int32_t baseShift = lineOf(move, now) - lineOf(move, base);
    const uint32_t handle = table.tokens(id);
    moveTokenString(handle, FormulaMove{move, base, baseShift, active, moved.lossy}, base.sheet, moved);
    // A formula the opposite move would not give back is recorded even when unchanged.
    Sheet* sheet = workbook.sheetAt(base.sheet);
    const CellRecord* cell = sheet ? sheet->cellPtr(now.column, now.row) : nullptr;
    if ((moved.changed || moved.lossy) && undo && cell && cell->value.kind == ValueKind::Formula &&
        formulaId(cell->value) == id)
      undo->selectSheet(base.sheet).restoreCell(base.column, base.row, *cell);
    if (moved.changed) {
      const uint32_t stored = storeTokens(handle, moved);
      if (stored != handle) table.replaceTokens(id, stored);
    }
    if (baseShift != 0) table.setPosition(id, now);
  }
  table.needsOrdering = true;

  // A name's references are on the sheets they name; those without a sheet are left.
  for (size_t i = 0; i < workbook.names.size(); ++i) {
    DefinedName& name = workbook.names[i];
    moveTokenString(name.definition, FormulaMove{move, CellPosition{}, 0, active, moved.lossy}, -1, moved);
    if ((moved.changed || moved.lossy) && undo) undo->restoreName(static_cast<int32_t>(i), name.definition);
    if (!moved.changed) continue;
    const uint32_t stored = storeTokens(name.definition, moved);
    if (stored != name.definition) {
      formulaPool().release(name.definition);
      name.definition = stored;
    }
  }
  moveValidations(workbook, move, moved);
}

void adjustForBlockMove(Workbook& workbook, const Area& source, const Area& dest, ProgramBuilder* undo) {
  FormulaTable& table = workbook.formulas();
  const int32_t active = workbook.activeSheetIndex();
  const int32_t dColumn = dest.firstColumn - source.firstColumn, dRow = dest.firstRow - source.firstRow;
  MovedTokens moved;
  for (uint32_t id = 0; id < table.idLimit(); ++id) {
    if (!table.isLive(id)) continue;
    const CellPosition now = table.position(id);
    // The cells have moved: a formula in the destination came from the source.
    const bool came = now.sheet == active && inside(dest, now.column, now.row);
    CellPosition base = now;
    if (came) {
      base.column = static_cast<uint16_t>(now.column - dColumn);
      base.row = static_cast<uint16_t>(now.row - dRow);
    }
    const BlockMove f{source, dest, dColumn, dRow, base, came ? dColumn : 0, came ? dRow : 0, active};
    const uint32_t handle = table.tokens(id);
    moveTokenString(handle, f, now.sheet, moved);
    if (!moved.changed) continue;
    // Formulas that moved are put back with the cells by the command; the others here.
    Sheet* sheet = workbook.sheetAt(now.sheet);
    const CellRecord* cell = sheet ? sheet->cellPtr(now.column, now.row) : nullptr;
    if (!came && undo && cell && cell->value.kind == ValueKind::Formula && formulaId(cell->value) == id)
      undo->selectSheet(now.sheet).restoreCell(now.column, now.row, *cell);
    const uint32_t stored = storeTokens(handle, moved);
    if (stored != handle) table.replaceTokens(id, stored);
  }
  table.needsOrdering = true;
  for (size_t i = 0; i < workbook.names.size(); ++i) {
    DefinedName& name = workbook.names[i];
    moveTokenString(name.definition, BlockMove{source, dest, dColumn, dRow, CellPosition{}, 0, 0, active}, -1, moved);
    if (!moved.changed) continue;
    if (undo) undo->restoreName(static_cast<int32_t>(i), name.definition);
    const uint32_t stored = storeTokens(name.definition, moved);
    if (stored != name.definition) {
      formulaPool().release(name.definition);
      name.definition = stored;
    }
  }
}

bool moveLines(Workbook& workbook, bool columns, bool insert, ProgramBuilder* undo) {
  Sheet* sheet = workbook.activeSheet();
  if (!sheet) return false;
  const Area area = sheet->selection.area();
  LineMove move{columns, insert, columns ? area.firstColumn : area.firstRow, 0};
  move.count = (columns ? area.lastColumn : area.lastRow) - move.at + 1;
  if (move.count <= 0 || move.at + move.count > lastLine(move) + 1) return false;
  bool stored = true;
  if (columns && insert) stored = sheet->insertColumns(move.at, move.count);
  else if (columns) sheet->deleteColumns(move.at, move.count);
  else if (insert) stored = sheet->insertRows(move.at, move.count);
  else sheet->deleteRows(move.at, move.count);
  if (!stored) return false;
  moveMergedAreas(*sheet, move);
  moveAutoFilter(*sheet, move);
  moveView(sheet->view, move);
  adjustForMove(workbook, move, undo);
  return true;
}

}  // namespace kelp
