// FormulaTable: a workbook's formulas in parallel arrays indexed by the id their cells
// hold, renumbered into evaluation order each time they are ordered.
#pragma once

#include <cstdint>
#include <vector>

#include "model/CellValue.h"
#include "model/GrowArray.h"

namespace kelp {

/// The table number of the detached table: formula values on no workbook's cell (undo
/// and redo copies, evaluator constants, formulas not yet written). It lives as long as
/// the process and is never ordered or evaluated.
constexpr uint16_t DetachedTable = 0;

class FormulaTable {
 public:
  /// A workbook's table under the lowest free number; when every number is taken each
  /// add fails with error 15.
  explicit FormulaTable(Workbook& owner);
  FormulaTable(const FormulaTable&) = delete;
  FormulaTable& operator=(const FormulaTable&) = delete;
  /// Releases the entries still live and gives the number back.
  ~FormulaTable();

  /// Room for `more` entries beyond those in use, in one step, for a reader that knows
  /// how many formulas come; false when memory runs out, which only leaves adds to grow it.
  bool reserve(uint32_t more);

  uint16_t number() const { return m_number; }
  /// The workbook whose cells hold the entries; null for the detached table.
  Workbook* workbook() const { return m_owner; }
  /// Every id in use is below this.
  uint32_t idLimit() const { return m_size; }
  int32_t count() const { return m_count; }
  bool isLive(uint32_t id) const { return id < m_size && m_states[id] != Free; }

  CellValue& cached(uint32_t id) { return m_cached[id]; }
  uint32_t tokens(uint32_t id) const { return m_tokens[id]; }
  CellPosition position(uint32_t id) const { return m_positions[id]; }

  /// A new entry at `at` taking over one reference to `tokens`, its result empty, and
  /// its value in `out`. False with error 15, nothing taken, when memory runs out.
  [[nodiscard]] bool add(uint32_t tokens, CellPosition at, CellValue& out);
  /// Releases the entry's result and token reference and puts its id on the free list.
  void remove(uint32_t id);
  /// Makes the formula `value` (of any table) an entry of this one at `at`, rewriting
  /// `value`: an entry of another table moves here with its tokens and result; one of
  /// this table joins the end of the order again. False with error 15, `value` unchanged.
  [[nodiscard]] bool adopt(CellValue& value, CellPosition at);
  /// Gives the entry the token string `tokens`, taking over one reference to it and
  /// releasing the old one.
  void replaceTokens(uint32_t id, uint32_t tokens);
  /// A formula whose cell's bytes moved (nothing added or removed).
  void setPosition(uint32_t id, CellPosition at) { m_positions[id] = at; }
  /// Adds `delta` to the sheet of every entry on sheet `first` or later.
  void shiftSheets(uint16_t first, int delta);

  /// Set by every add and removal; ordering (formula/Recalc.cpp) clears it.
  bool needsOrdering = false;
  /// Set by ordering when a formula reads itself directly or indirectly.
  bool circular = false;
  /// While `circular` is set: the cell of the first formula ordering found in a cycle.
  CellPosition circularCell;
  /// Set by ordering: the id of the first formula in the order that makes references
  /// as it runs, so that ordering cannot see what it reads; a recalculation evaluates
  /// again from there to the end. NoHandle when there is none.
  uint32_t rerunFrom = NoHandle;

  /// Every live id in the order ordering starts from: the entries the last ordering
  /// placed, in id order, then those added since, in the order they were added.
  void currentOrder(std::vector<uint32_t>& out);
  /// Moves the entries to ids 0..n-1 in the order given (every live id once) and
  /// rewrites the id each formula's cell holds.
  void renumber(const std::vector<uint32_t>& order);

  /// The table of formula values on no workbook.
  static FormulaTable& detached();

 private:
  enum State : uint8_t { Free = 0, Placed = 1, Added = 2 };

  FormulaTable(Workbook* owner, uint16_t number);
  /// A free id (from the free list, else past the end, growing the arrays); false with
  /// error 15 when the arrays cannot grow.
  bool takeId(uint32_t& id);
  void freeId(uint32_t id);
  /// Notes an id added since the last ordering; false with error 15.
  bool noteAdded(uint32_t id);
  /// Keeps of the added list only the latest addition of each entry still added.
  void compactAdded();
  /// Moves the arrays into a block for `capacity` ids; false when memory runs out.
  bool resize(uint32_t capacity);
  bool rewriteCells(const std::vector<uint32_t>& order);
  /// Points the table's registry slot at it and its results.
  void publish();

  Workbook* m_owner;
  uint16_t m_number;
  // One model-heap block holding, for `m_capacity` ids, each array in turn.
  void* m_block = nullptr;
  CellValue* m_cached = nullptr;
  uint32_t* m_tokens = nullptr;  // a free id holds the next free id (NoHandle ends the list)
  CellPosition* m_positions = nullptr;
  uint8_t* m_states = nullptr;
  uint32_t m_capacity = 0;
  uint32_t m_size = 0;
  int32_t m_count = 0;
  uint32_t m_freeHead = NoHandle;
  // Ids added since the last ordering, in the order they were added; an id removed and
  // reused stays listed at each addition, and only the last one counts.
  GrowArray<uint32_t> m_added;
};

/// The table that holds a formula value's entry.
inline FormulaTable& formulaTableOf(const CellValue& formula) {
  return *g_formulaTables[formula.u16(2)].table;
}
inline uint16_t formulaTableNumber(const CellValue& formula) { return formula.u16(2); }
inline uint32_t formulaId(const CellValue& formula) { return formula.u32(); }
/// The formula-pool handle of the formula's token string.
inline uint32_t formulaTokens(const CellValue& formula) { return formulaTableOf(formula).tokens(formula.u32()); }
/// The cell the formula stands at.
inline CellPosition formulaPosition(const CellValue& formula) {
  return formulaTableOf(formula).position(formula.u32());
}
/// The workbook whose cell holds the formula; null for a formula on no workbook.
inline Workbook* formulaWorkbook(const CellValue& formula) { return formulaTableOf(formula).workbook(); }

}  // namespace kelp
