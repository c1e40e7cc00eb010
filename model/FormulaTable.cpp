// The formula table's arrays, free list, table numbers and renumbering.
#include "model/FormulaTable.h"

#include <cassert>
#include <cstring>

#include "model/HandlePool.h"
#include "model/ModelHeap.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"

namespace kelp {

namespace {

// A table without a number: the registry was full when it was made.
constexpr uint16_t NoNumber = 0xFFFF;
constexpr uint32_t MinimumCapacity = 64;
constexpr size_t BytesPerId = sizeof(CellValue) + sizeof(uint32_t) + sizeof(CellPosition) + sizeof(uint8_t);
constexpr uint8_t Seen = 0x80;  // marks an id met while compacting the added list

uint16_t freeNumber() {
  for (int32_t n = DetachedTable + 1; n < MaxFormulaTables; ++n)
    if (!g_formulaTables[n].table) return static_cast<uint16_t>(n);
  return NoNumber;
}

void writeId(CellValue& formula, uint32_t id) { std::memcpy(formula.payload, &id, sizeof id); }

}  // namespace

FormulaTable::FormulaTable(Workbook& owner) : FormulaTable(&owner, freeNumber()) {}

FormulaTable::FormulaTable(Workbook* owner, uint16_t number) : m_owner(owner), m_number(number) { publish(); }

FormulaTable::~FormulaTable() {
  for (uint32_t id = 0; id < m_size; ++id) {
    if (m_states[id] == Free) continue;
    releaseValue(m_cached[id]);
    formulaPool().release(m_tokens[id]);
  }
  heapFree(m_block);
  if (m_number != NoNumber) g_formulaTables[m_number] = FormulaTableSlot{nullptr, nullptr};
}

FormulaTable& FormulaTable::detached() {
  // Never destroyed: undo programs and other statics may hold detached formulas until
  // the process ends, and the heap goes with the process.
  static FormulaTable* table = new FormulaTable(nullptr, DetachedTable);
  return *table;
}

void FormulaTable::publish() {
  if (m_number != NoNumber) g_formulaTables[m_number] = FormulaTableSlot{m_cached, this};
}

namespace {

// The four columns of one block of ids, one after the other.
struct Columns {
  CellValue* cached;
  uint32_t* tokens;
  CellPosition* positions;
  uint8_t* states;
};

Columns columnsOf(void* block, uint32_t capacity) {
  auto* cached = static_cast<CellValue*>(block);
  auto* tokens = reinterpret_cast<uint32_t*>(cached + capacity);
  auto* positions = reinterpret_cast<CellPosition*>(tokens + capacity);
  return {cached, tokens, positions, reinterpret_cast<uint8_t*>(positions + capacity)};
}

}  // namespace

bool FormulaTable::resize(uint32_t capacity) {
  assert(capacity >= m_size && "resizing below the ids in use");
  auto adopt = [this](void* block, uint32_t newCapacity, const Columns& to) {
    m_block = block;
    m_cached = to.cached;
    m_tokens = to.tokens;
    m_positions = to.positions;
    m_states = to.states;
    m_capacity = newCapacity;
    publish();
  };
  if (capacity > m_capacity) {
    // Grown in place: a large block is remapped rather than copied, and only the
    // columns after the first move up to their new starts, the last first.
    void* block = heapRealloc(m_block, capacity * BytesPerId);
    if (!block) return false;
    const Columns to = columnsOf(block, capacity);
    const Columns from = columnsOf(block, m_capacity);
    if (m_size) {
      std::memmove(to.states, from.states, m_size);
      std::memmove(static_cast<void*>(to.positions), from.positions, m_size * sizeof(CellPosition));
      std::memmove(to.tokens, from.tokens, m_size * sizeof(uint32_t));
    }
    adopt(block, capacity, to);
    return true;
  }
  void* block = heapAlloc(capacity * BytesPerId);
  if (!block) return false;
  const Columns to = columnsOf(block, capacity);
  if (m_size) {
    std::memcpy(to.cached, m_cached, m_size * sizeof(CellValue));
    std::memcpy(to.tokens, m_tokens, m_size * sizeof(uint32_t));
    std::memcpy(to.positions, m_positions, m_size * sizeof(CellPosition));
    std::memcpy(to.states, m_states, m_size);
  }
  heapFree(m_block);
  adopt(block, capacity, to);
  return true;
}

bool FormulaTable::reserve(uint32_t more) {
  if (m_number == NoNumber || more <= m_capacity - m_size) return true;
  return resize(m_size + more);
}

bool FormulaTable::takeId(uint32_t& id) {
  if (m_number == NoNumber) {
    setError(Err::OutOfMemory);
    return false;
  }
  if (m_freeHead != NoHandle) {
    id = m_freeHead;
    m_freeHead = m_tokens[id];
    return true;
  }
  if (m_size == m_capacity && !resize(m_capacity < MinimumCapacity ? MinimumCapacity : m_capacity + m_capacity / 2)) {
    setError(Err::OutOfMemory);
    return false;
  }
  id = m_size++;
  return true;
}

void FormulaTable::freeId(uint32_t id) {
  m_cached[id] = emptyValue();
  m_states[id] = Free;
  m_tokens[id] = m_freeHead;
  m_freeHead = id;
}

bool FormulaTable::noteAdded(uint32_t id) {
  if (!m_owner) return true;  // the detached table is never ordered
  // Entries added and removed again leave stale ids; dropping them keeps the list
  // within a few times the live count however long ordering waits.
  if (m_added.size() > 2 * m_count + 64) compactAdded();
  // Grown by half at a time: a workbook read from a file adds every formula before its
  // first ordering.
  const int32_t n = m_added.size();
  if (!m_added.setSize(n + 1, n / 2 + 64)) return false;
  m_added[n] = id;
  return true;
}

void FormulaTable::compactAdded() {
  // From the back, so that the last addition of each id is the one kept.
  int32_t keep = m_added.size();
  for (int32_t i = m_added.size(); i-- > 0;) {
    uint32_t id = m_added[i];
    if (m_states[id] != Added) continue;
    m_states[id] |= Seen;
    m_added[--keep] = id;
  }
  int32_t kept = m_added.size() - keep;
  for (int32_t i = 0; i < kept; ++i) {
    uint32_t id = m_added[keep + i];
    m_states[id] &= static_cast<uint8_t>(~Seen);
    m_added[i] = id;
  }
  (void)m_added.setSize(kept);  // shrinking never allocates
}

bool FormulaTable::add(uint32_t tokens, CellPosition at, CellValue& out) {
  uint32_t id;
  if (!takeId(id)) return false;
  if (!noteAdded(id)) {
    freeId(id);
    return false;
  }
  m_cached[id] = emptyValue();
  m_tokens[id] = tokens;
  m_positions[id] = at;
  m_states[id] = Added;
  ++m_count;
  if (m_owner) needsOrdering = true;
  out = formulaValue(m_number, id);
  return true;
}

void FormulaTable::remove(uint32_t id) {
  assert(isLive(id) && "removing a formula that is not in its table");
  releaseValue(m_cached[id]);
  formulaPool().release(m_tokens[id]);
  freeId(id);
  --m_count;
  if (m_owner) needsOrdering = true;
}

bool FormulaTable::adopt(CellValue& value, CellPosition at) {
  assert(value.kind == ValueKind::Formula && "adopting a value that is no formula");
  FormulaTable& from = formulaTableOf(value);
  const uint32_t fromId = value.u32();
  if (&from == this) {
    if (!noteAdded(fromId)) return false;
    m_states[fromId] = Added;
    m_positions[fromId] = at;
    if (m_owner) needsOrdering = true;
    return true;
  }
  uint32_t id;
  if (!takeId(id)) return false;
  if (!noteAdded(id)) {
    freeId(id);
    return false;
  }
  m_cached[id] = from.m_cached[fromId];
  m_tokens[id] = from.m_tokens[fromId];
  m_positions[id] = at;
  m_states[id] = Added;
  ++m_count;
  if (m_owner) needsOrdering = true;
  // The result and the token reference moved; the old entry only gives its id back.
  from.freeId(fromId);
  --from.m_count;
  if (from.m_owner) from.needsOrdering = true;
  value = formulaValue(m_number, id);
  return true;
}

void FormulaTable::replaceTokens(uint32_t id, uint32_t tokens) {
  const uint32_t old = m_tokens[id];
  m_tokens[id] = tokens;
  formulaPool().release(old);
  needsOrdering = true;
}

void FormulaTable::shiftSheets(uint16_t first, int delta) {
  for (uint32_t id = 0; id < m_size; ++id)
    if (m_states[id] != Free && m_positions[id].sheet >= first)
      m_positions[id].sheet = static_cast<uint16_t>(m_positions[id].sheet + delta);
}

void FormulaTable::currentOrder(std::vector<uint32_t>& out) {
  out.clear();
  out.reserve(static_cast<size_t>(m_count));
  for (uint32_t id = 0; id < m_size; ++id)
    if (m_states[id] == Placed) out.push_back(id);
  compactAdded();
  for (uint32_t id : m_added) out.push_back(id);
}

bool FormulaTable::rewriteCells(const std::vector<uint32_t>& order) {
  // Every cell is found before any is changed, so that a miss leaves them all as they were.
  std::vector<CellValue*> cells(order.size());
  for (size_t k = 0; k < order.size(); ++k) {
    const uint32_t id = order[k];
    const CellPosition at = m_positions[id];
    Sheet* sheet = m_owner->sheetAt(at.sheet);
    CellRecord* cell = sheet ? sheet->cellPtr(at.column, at.row) : nullptr;
    if (!cell || cell->value.kind != ValueKind::Formula || cell->value.u16(2) != m_number || cell->value.u32() != id)
      return false;
    cells[k] = &cell->value;
  }
  for (size_t k = 0; k < order.size(); ++k) writeId(*cells[k], static_cast<uint32_t>(k));
  return true;
}

void FormulaTable::renumber(const std::vector<uint32_t>& order) {
  assert(order.size() == static_cast<size_t>(m_count) && "renumbering needs every live id once");
  if (m_owner && !rewriteCells(order)) {
    // A cell holds its formula away from the entry's position, which Sheet never
    // allows; rather than leave a cell naming another formula, every cell is walked.
    assert(false && "a formula's cell is not where its entry says");
    std::vector<uint32_t> newId(m_size, NoHandle);
    for (size_t k = 0; k < order.size(); ++k) newId[order[k]] = static_cast<uint32_t>(k);
    for (int32_t s = 0; s < m_owner->sheetCount(); ++s) {
      Sheet& sheet = *m_owner->sheetAt(s);
      for (int32_t r = sheet.nextRow(-1); r < NoRow; r = sheet.nextRow(r)) {
        for (int32_t c = sheet.nextValueInRow(r, -1); c < NoColumn; c = sheet.nextValueInRow(r, c)) {
          CellValue& value = sheet.cellPtr(c, r)->value;
          if (value.kind != ValueKind::Formula || value.u16(2) != m_number || value.u32() >= m_size) continue;
          const uint32_t id = value.u32();
          m_positions[id] = CellPosition{static_cast<uint16_t>(c), static_cast<uint16_t>(r), static_cast<uint16_t>(s)};
          writeId(value, newId[id]);
        }
      }
    }
  }
  const size_t n = order.size();
  std::vector<CellValue> cached(n);
  std::vector<uint32_t> tokens(n);
  std::vector<CellPosition> positions(n);
  for (size_t k = 0; k < n; ++k) {
    cached[k] = m_cached[order[k]];
    tokens[k] = m_tokens[order[k]];
    positions[k] = m_positions[order[k]];
  }
  if (n) {
    std::memcpy(m_cached, cached.data(), n * sizeof(CellValue));
    std::memcpy(m_tokens, tokens.data(), n * sizeof(uint32_t));
    std::memcpy(m_positions, positions.data(), n * sizeof(CellPosition));
    std::memset(m_states, Placed, n);
  }
  m_size = static_cast<uint32_t>(n);
  m_freeHead = NoHandle;
  m_added.clear();
  // A table that lost most of its formulas gives the room back; failing to is harmless.
  if (m_capacity > MinimumCapacity && m_size < m_capacity / 4) {
    uint32_t capacity = m_size + m_size / 2;
    (void)resize(capacity < MinimumCapacity ? MinimumCapacity : capacity);
  }
}

}  // namespace kelp
