// Chain ordering and the full recalculation pass.
#include "formula/Recalc.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "formula/Evaluator.h"
#include "formula/Tokens.h"
#include "model/FormulaChain.h"
#include "model/HandlePool.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"

namespace kelp {

namespace {

class Orderer {
 public:
  explicit Orderer(FormulaChain& chain) : m_chain(chain), m_workbook(chain.workbook()) {}

  void run() {
    m_chain.circular = false;
    for (FormulaRecord* r = m_chain.first(); r; r = r->next) r->flags = FormulaFlag::NotVisited;
    m_previous = m_chain.head();
    FormulaRecord* current = m_previous->next;
    while (current) {
      if (current->flags == FormulaFlag::Visiting) {
        // Its precedents were moved before it and have been placed since.
        current->flags = FormulaFlag::Placed;
        m_previous = current;
      } else {
        current->flags = FormulaFlag::Visiting;
        scan(*current);
        if (m_previous->next == current) {
          current->flags = FormulaFlag::Placed;
          m_previous = current;
        }
      }
      current = m_previous->next;
    }
    m_chain.needsOrdering = false;
    m_chain.setTail(m_previous);
  }

 private:
  void scan(const FormulaRecord& formula) {
    if (!m_workbook || formula.tokens == NoHandle || !formulaPool().isLive(formula.tokens)) return;
    const uint8_t* data = static_cast<const uint8_t*>(formulaPool().data(formula.tokens));
    uint32_t length = readU32(data);
    const uint8_t* code = data + 4;
    Sheet* own = m_workbook->sheetAt(formula.sheet);
    for (uint32_t ip = 0; ip < length;) {
      uint8_t op = code[ip];
      uint8_t size = payloadSize(op);
      if (op == static_cast<uint8_t>(Op::End) || size == 255 || ip + 1 + size > length) return;
      const uint8_t* p = code + ip + 1;
      switch (static_cast<Op>(op)) {
        case Op::CellRef: {
          CellRefCode c = resolveCell(CellRefCode{readU16(p), readU16(p + 2)}, formula.row, formula.column);
          visitArea(own, c.row, c.colWord, c.row, c.colWord);
          break;
        }
        case Op::AreaRef:
          visitArea(own, p, formula);
          break;
        case Op::SheetCellRef:
        case Op::SheetAreaRef: {
          if (p[1] != 0) break;  // another workbook's cells are never on this chain
          int32_t first = std::min(p[2], p[3]), last = std::max(p[2], p[3]);
          for (int32_t s = first; s <= last; ++s) {
            Sheet* sheet = m_workbook->sheetAt(s);
            if (!sheet) continue;
            if (op == static_cast<uint8_t>(Op::SheetAreaRef)) {
              visitArea(sheet, p + 4, formula);
            } else {
              CellRefCode c = resolveCell(CellRefCode{readU16(p + 4), readU16(p + 6)}, formula.row, formula.column);
              visitArea(sheet, c.row, c.colWord, c.row, c.colWord);
            }
          }
          break;
        }
        default:
          break;
      }
      ip += 1 + size;
    }
  }

  void visitArea(Sheet* sheet, const uint8_t* p, const FormulaRecord& formula) {
    CellRefCode a = resolveCell(CellRefCode{readU16(p), readU16(p + 2)}, formula.row, formula.column);
    CellRefCode b = resolveCell(CellRefCode{readU16(p + 4), readU16(p + 6)}, formula.row, formula.column);
    visitArea(sheet, std::min(a.row, b.row), std::min(a.colWord, b.colWord), std::max(a.row, b.row),
              std::max(a.colWord, b.colWord));
  }

  // Every formula cell of the area, row by row over the rows that exist.
  void visitArea(Sheet* sheet, int32_t firstRow, int32_t firstColumn, int32_t lastRow, int32_t lastColumn) {
    if (!sheet) return;
    int32_t row = sheet->rowExists(firstRow) ? firstRow : sheet->nextRow(firstRow);
    for (; row <= lastRow; row = sheet->nextRow(row)) {
      const Row* r = sheet->rowAt(row);
      int32_t end = std::min(lastColumn, r->cells.size() - 1);
      for (int32_t col = std::max<int32_t>(firstColumn, r->firstColumn()); col <= end; ++col) {
        const CellValue& value = r->cells[col].value;
        if (value.kind == ValueKind::Formula) pull(value.formula());
      }
    }
  }

  // Moves precedent `p` just after `previous`, ahead of the formula being scanned.
  void pull(FormulaRecord* p) {
    if (p->chain != &m_chain || p->flags == FormulaFlag::Placed) return;
    if (p->flags == FormulaFlag::Visiting) {
      m_chain.circular = true;
      return;
    }
    // Every node up to `previous` is placed, so an unplaced precedent lies after it.
    if (m_before.empty()) {
      m_before.reserve(static_cast<size_t>(m_chain.count()) + 1);
      for (FormulaRecord* node = m_chain.head(); node->next; node = node->next) m_before[node->next] = node;
    }
    auto found = m_before.find(p);
    if (found == m_before.end()) return;
    FormulaRecord* before = found->second;
    if (before == m_previous) return;  // already just after it
    before->next = p->next;
    if (p->next) m_before[p->next] = before;
    FormulaRecord* after = m_previous->next;
    p->next = after;
    m_previous->next = p;
    m_before[p] = m_previous;
    if (after) m_before[after] = p;
  }

  FormulaChain& m_chain;
  Workbook* m_workbook;
  FormulaRecord* m_previous = nullptr;
  // The node before each record, made on the first move: finding a precedent's place
  // by walking the chain would make ordering a chain entered backwards quadratic.
  std::unordered_map<FormulaRecord*, FormulaRecord*> m_before;
};

}  // namespace

void orderChain(FormulaChain& chain) { Orderer(chain).run(); }

void recalculateAll(Workbook& workbook) {
  SavedEvalState savedEval = saveEvalState();
  SavedErrorState savedError = saveErrorState();
  FormulaChain& chain = workbook.formulaChain();
  if (chain.needsOrdering) orderChain(chain);
  clearError();
  setEvalWorkbook(&workbook);
  for (FormulaRecord* record = chain.first(); record; record = record->next) evaluateFormula(*record, true);
  restoreErrorState(savedError);
  restoreEvalState(savedEval);
}

}  // namespace kelp
