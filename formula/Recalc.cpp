// Formula ordering and the full recalculation pass.
#include "formula/Recalc.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "formula/Catalogue.h"
#include "formula/Evaluator.h"
#include "formula/FormulaText.h"
#include "formula/Tokens.h"
#include "model/FormulaTable.h"
#include "model/HandlePool.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"

namespace kelp {

namespace {

// Depth-first from the current order: the first formula not yet placed is scanned, the
// precedents it reads that are not placed are moved just ahead of it (each in front of
// the ones moved before it, so the last met comes first) and taken in turn; a formula is
// placed once it has been scanned and nothing is left ahead of it.
//
// What is not yet placed is a stack of moved formulas in front of the rest of the
// starting order. Moving a formula again pushes it anew and leaves a stale entry lower
// down, skipped when met; relinking a list instead needs each node's predecessor, and
// finding that by walking the list would make ordering a sheet entered backwards
// quadratic.
class Orderer {
 public:
  explicit Orderer(FormulaTable& table) : m_table(table), m_workbook(table.workbook()) {}

  void run() {
    m_table.circular = false;
    m_table.currentOrder(m_start);
    m_flags.assign(m_table.idLimit(), NotVisited);
    m_stackIndex.assign(m_table.idLimit(), NotMoved);
    m_placed.reserve(m_start.size());
    size_t next = 0;  // every formula of the starting order before it is placed
    for (;;) {
      while (!m_stack.empty() && m_stackIndex[m_stack.back()] != m_stack.size() - 1) m_stack.pop_back();
      const bool moved = !m_stack.empty();
      if (!moved) {
        while (next < m_start.size() && m_flags[m_start[next]] == Placed) ++next;
        if (next == m_start.size()) break;
      }
      const uint32_t current = moved ? m_stack.back() : m_start[next];
      if (m_flags[current] == NotVisited) {
        m_flags[current] = Visiting;
        m_pulled = false;
        scan(current);
        if (m_pulled) continue;  // met again once the precedents moved ahead are placed
      }
      if (moved) {
        m_stack.pop_back();
        m_stackIndex[current] = NotMoved;
      }
      m_flags[current] = Placed;
      m_placed.push_back(current);
    }
    m_table.renumber(m_placed);
    m_table.needsOrdering = false;
    m_table.rerunFrom = NoHandle;
    if (m_unseenReads.empty()) return;
    // Renumbering made each formula's id its place in the order.
    for (uint32_t id : m_unseenReads) m_flags[id] = UnseenReads;
    for (size_t i = 0; i < m_placed.size(); ++i) {
      if (m_flags[m_placed[i]] == UnseenReads) {
        m_table.rerunFrom = static_cast<uint32_t>(i);
        break;
      }
    }
  }

 private:
  // UnseenReads marks, once all are placed, the formulas noted in m_unseenReads.
  enum Flag : uint8_t { NotVisited, Visiting, Placed, UnseenReads };
  static constexpr uint32_t NotMoved = 0xFFFFFFFF;

  void scan(uint32_t id) {
    const uint32_t tokens = m_table.tokens(id);
    if (!m_workbook || tokens == NoHandle || !formulaPool().isLive(tokens)) return;
    const CellPosition at = m_table.position(id);
    const uint8_t* data = static_cast<const uint8_t*>(formulaPool().data(tokens));
    uint32_t length = readU32(data);
    const uint8_t* code = data + 4;
    Sheet* own = m_workbook->sheetAt(at.sheet);
    for (uint32_t ip = 0; ip < length;) {
      uint8_t op = code[ip];
      uint8_t size = payloadSize(op);
      if (op == static_cast<uint8_t>(Op::End) || size == 255 || ip + 1 + size > length) return;
      const uint8_t* p = code + ip + 1;
      switch (static_cast<Op>(op)) {
        case Op::CellRef: {
          CellRefCode c = resolveCell(CellRefCode{readU16(p), readU16(p + 2)}, at);
          visitArea(own, c.row, c.colWord, c.row, c.colWord);
          break;
        }
        case Op::AreaRef:
          visitArea(own, p, at);
          break;
        case Op::SheetCellRef:
        case Op::SheetAreaRef: {
          if (p[1] != 0) break;  // another workbook's cells are never in this table
          int32_t first = std::min(p[2], p[3]), last = std::max(p[2], p[3]);
          for (int32_t s = first; s <= last; ++s) {
            Sheet* sheet = m_workbook->sheetAt(s);
            if (!sheet) continue;
            if (op == static_cast<uint8_t>(Op::SheetAreaRef)) {
              visitArea(sheet, p + 4, at);
            } else {
              CellRefCode c = resolveCell(CellRefCode{readU16(p + 4), readU16(p + 6)}, at);
              visitArea(sheet, c.row, c.colWord, c.row, c.colWord);
            }
          }
          break;
        }
        case Op::Call: {
          // What these read is known only when they run.
          const uint16_t function = readU16(p);
          if ((function == FunctionIndex::Indirect || function == FunctionIndex::Offset) &&
              (m_unseenReads.empty() || m_unseenReads.back() != id))
            m_unseenReads.push_back(id);
          break;
        }
        default:
          break;
      }
      ip += 1 + size;
    }
  }

  void visitArea(Sheet* sheet, const uint8_t* p, CellPosition at) {
    CellRefCode a = resolveCell(CellRefCode{readU16(p), readU16(p + 2)}, at);
    CellRefCode b = resolveCell(CellRefCode{readU16(p + 4), readU16(p + 6)}, at);
    visitArea(sheet, std::min(a.row, b.row), std::min(a.colWord, b.colWord), std::max(a.row, b.row),
              std::max(a.colWord, b.colWord));
  }

  // Every formula cell of the area, row by row over the rows that exist.
  void visitArea(Sheet* sheet, int32_t firstRow, int32_t firstColumn, int32_t lastRow, int32_t lastColumn) {
    if (!sheet) return;
    const uint16_t number = m_table.number();
    int32_t row = sheet->rowExists(firstRow) ? firstRow : sheet->nextRow(firstRow);
    for (; row <= lastRow; row = sheet->nextRow(row)) {
      const Row* r = sheet->rowAt(row);
      int32_t end = std::min(lastColumn, r->cells.size() - 1);
      for (int32_t col = std::max<int32_t>(firstColumn, r->firstColumn()); col <= end; ++col) {
        const CellValue& value = r->cells[col].value;
        if (value.kind == ValueKind::Formula && formulaTableNumber(value) == number) pull(formulaId(value));
      }
    }
  }

  // Moves precedent `id` just ahead of the formula being scanned.
  void pull(uint32_t id) {
    if (id >= m_flags.size() || m_flags[id] == Placed) return;
    if (m_flags[id] == Visiting) {
      if (!m_table.circular) m_table.circularCell = m_table.position(id);
      m_table.circular = true;
      return;
    }
    if (m_pulled && m_stack.back() == id) return;  // already just ahead
    m_stackIndex[id] = static_cast<uint32_t>(m_stack.size());
    m_stack.push_back(id);
    m_pulled = true;
  }

  FormulaTable& m_table;
  Workbook* m_workbook;
  std::vector<uint32_t> m_start;       // the order the walk starts from
  std::vector<uint8_t> m_flags;        // Flag, by id
  std::vector<uint32_t> m_stackIndex;  // by id: where its latest entry is, or NotMoved
  std::vector<uint32_t> m_stack;       // moved formulas, the next one on top
  std::vector<uint32_t> m_placed;      // the new order
  bool m_pulled = false;               // the formula being scanned moved a precedent
  std::vector<uint32_t> m_unseenReads;  // formulas calling Indirect or Offset
};

RecalcObserver g_observer = nullptr;

}  // namespace

void orderFormulas(FormulaTable& table) { Orderer(table).run(); }

void recalculateAll(Workbook& workbook) {
  SavedErrorState savedError = saveErrorState();
  FormulaTable& table = workbook.formulas();
  if (table.needsOrdering) orderFormulas(table);
  clearError();
  evaluateTable(table);
  // A formula that makes its references as it runs may have read cells evaluated after
  // it. Running again from the first such formula gives it this pass's values, and the
  // formulas reading it, which follow it, its new result.
  if (table.rerunFrom != NoHandle) evaluateTable(table, table.rerunFrom);
  restoreErrorState(savedError);
  if (g_observer) g_observer(workbook, circularNotice(workbook));
}

std::u16string circularNotice(const Workbook& workbook) {
  const FormulaTable& table = workbook.formulas();
  if (!table.circular) return {};
  const CellPosition at = table.circularCell;
  std::u16string notice = u"Circular reference in ";
  const Sheet* sheet = workbook.sheetAt(at.sheet);
  if (sheet && at.sheet != workbook.activeSheetIndex()) {
    const bool quoted = sheetNameNeedsQuotes(&workbook, sheet->name);
    if (quoted) notice += u'\'';
    notice += sheet->name;
    if (quoted) notice += u'\'';
    notice += u'!';
  }
  return notice + cellAddress(at.column, at.row);
}

void installRecalcObserver(RecalcObserver observer) { g_observer = observer; }

}  // namespace kelp
