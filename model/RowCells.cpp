// RowCells: moving a row's slots to a larger array when the row widens.
#include "model/RowCells.h"

#include <algorithm>
#include <cstring>

#include "model/ModelHeap.h"
#include "platform/ErrorState.h"

namespace kelp {

RowCells::~RowCells() {
  if (m_capacity > 1) heapFree(m_heap);
}

bool RowCells::regrow(int32_t col) {
  const int32_t count = m_end - m_first;
  const int32_t first = count == 0 ? col : std::min<int32_t>(col, m_first);
  const int32_t end = count == 0 ? col + 1 : std::max<int32_t>(col + 1, m_end);
  const int32_t needed = end - first;
  const int32_t shift = count == 0 ? 0 : m_first - first;  // slots move right when the row grows left
  if (needed > m_capacity) {
    // A row's first slots are exactly what it needs, since a tall sheet's rows often hold
    // one cell; a row that widens takes at least four and then half as many again each
    // time, so that a row filled left to right moves to a new array only a few times.
    int32_t capacity = m_capacity == 0 ? needed : std::max({needed, m_capacity + m_capacity / 2, 4});
    capacity = std::min(capacity, MaxSlots);
    if (capacity > 1) {
      const size_t bytes = static_cast<size_t>(capacity) * sizeof(CellRecord);
      CellRecord* grown;
      if (m_capacity > 1) {
        grown = static_cast<CellRecord*>(heapRealloc(m_heap, bytes));
      } else {
        grown = static_cast<CellRecord*>(heapAlloc(bytes));
        if (grown && m_capacity == 1) grown[0] = m_single;
      }
      if (!grown) {
        setError(Err::OutOfMemory);
        return false;
      }
      m_heap = grown;
    }
    m_capacity = static_cast<uint16_t>(capacity);
  }
  CellRecord* s = slots();
  if (shift > 0) std::memmove(static_cast<void*>(s + shift), s, sizeof(CellRecord) * static_cast<size_t>(count));
  for (int32_t i = 0; i < shift; ++i) s[i] = blankCell();
  for (int32_t i = shift + count; i < needed; ++i) s[i] = blankCell();
  m_first = static_cast<uint16_t>(first);
  m_end = static_cast<uint16_t>(end);
  return true;
}

bool RowCells::reserve(int32_t count) {
  count = std::min(count, MaxSlots);
  if (m_end != 0 || m_capacity > 1 || count <= 1) return true;
  auto* room = static_cast<CellRecord*>(heapAlloc(static_cast<size_t>(count) * sizeof(CellRecord)));
  if (!room) {
    setError(Err::OutOfMemory);
    return false;
  }
  m_heap = room;
  m_capacity = static_cast<uint16_t>(count);
  return true;
}

bool RowCells::insertSlots(int32_t col, int32_t count) {
  assert(m_end + (col < m_end ? count : 0) <= MaxSlots && "slots pushed beyond IV");
  if (col >= m_end || count <= 0) return true;
  if (col <= m_first) {
    // Every slot moves: only the first column changes.
    m_first = static_cast<uint16_t>(m_first + count);
    m_end = static_cast<uint16_t>(m_end + count);
    return true;
  }
  const int32_t oldEnd = m_end;
  if (!cover(oldEnd + count - 1)) return false;
  CellRecord* s = slots();
  std::memmove(static_cast<void*>(s + (col + count - m_first)), s + (col - m_first),
               sizeof(CellRecord) * static_cast<size_t>(oldEnd - col));
  for (int32_t c = col; c < col + count; ++c) s[c - m_first] = blankCell();
  return true;
}

void RowCells::removeSlots(int32_t col, int32_t count) {
  const int32_t end = col + count;
  if (col >= m_end || count <= 0) return;
  if (end <= m_first) {
    m_first = static_cast<uint16_t>(m_first - count);
    m_end = static_cast<uint16_t>(m_end - count);
    return;
  }
  CellRecord* s = slots();
  const int32_t kept = m_end > end ? m_end - end : 0;  // slots right of the removed columns
  if (m_first < col) {
    if (kept > 0)
      std::memmove(static_cast<void*>(s + (col - m_first)), s + (end - m_first),
                   sizeof(CellRecord) * static_cast<size_t>(kept));
    m_end = static_cast<uint16_t>(col + kept);
  } else {
    if (kept > 0)
      std::memmove(static_cast<void*>(s), s + (end - m_first), sizeof(CellRecord) * static_cast<size_t>(kept));
    m_first = static_cast<uint16_t>(col);
    m_end = static_cast<uint16_t>(col + kept);
  }
}

}  // namespace kelp
