// RowCells: the cell slots of one row, kept from its first column to its last.
#pragma once

#include <cassert>
#include <cstdint>

#include "model/CellValue.h"

namespace kelp {

/// Slots for the columns first() .. size() - 1 of one row. One slot lives inside the
/// record, so a row of one cell needs no heap block; a wider row keeps its slots in a
/// heap array that grows by half, never beyond the 256 columns a row can have.
class RowCells {
 public:
  static constexpr int32_t MaxSlots = 256;

  RowCells() = default;
  RowCells(const RowCells&) = delete;
  RowCells& operator=(const RowCells&) = delete;
  /// Frees the slots; what their values own is the owner's to release first.
  ~RowCells();

  /// The first column with a slot; 0 while there is none. Only lowered, never raised.
  int32_t first() const { return m_first; }
  /// One past the last column with a slot; 0 while there is none.
  int32_t size() const { return m_end; }
  int32_t capacity() const { return m_capacity; }
  bool has(int32_t col) const { return col >= m_first && col < m_end; }

  CellRecord& operator[](int32_t col) {
    assert(has(col) && "no slot for this column");
    return slots()[col - m_first];
  }
  const CellRecord& operator[](int32_t col) const {
    assert(has(col) && "no slot for this column");
    return slots()[col - m_first];
  }
  /// The slot of column first(); column c is at data()[c - first()].
  const CellRecord* data() const { return slots(); }

  /// Makes a slot for `col`, with blank slots for any gap to the existing ones. Fails
  /// with error 15 and leaves every slot as it was when memory runs out.
  /// Moves the slots of columns `col` and beyond right by `count`, blank slots filling
  /// the gap. The slots that would pass column 255 must have been dropped (truncate)
  /// first. Fails with error 15, every slot as it was, when memory runs out.
  [[nodiscard]] bool insertSlots(int32_t col, int32_t count);
  /// Removes the slots of columns col .. col + count - 1 and moves later ones left;
  /// what the removed slots own is the caller's to release first.
  void removeSlots(int32_t col, int32_t count);
  /// Drops the slots from column `end` on; their content is the caller's to release.
  void truncate(int32_t end) {
    if (end >= m_end) return;
    if (end <= m_first) {
      m_first = m_end = 0;  // no slot is left: the row reads as one never written
      return;
    }
    m_end = static_cast<uint16_t>(end);
  }

  /// Makes room for `count` slots in a row that has none yet, as a file stating each
  /// row's extent allows, so that its cells arrive without the slots moving. Fails with
  /// error 15 when memory runs out; a row with slots or room already is left as it is.
  [[nodiscard]] bool reserve(int32_t count);

  [[nodiscard]] bool cover(int32_t col) {
    assert(col >= 0 && col < MaxSlots && "column beyond IV");
    // Writing rightwards into room already there is the common step of a fill; an empty
    // row's first slot goes through regrow, which places it where its column is.
    if (m_end != 0 && col >= m_first && col - m_first < m_capacity) {
      CellRecord* s = slots();
      for (int32_t c = m_end; c <= col; ++c) s[c - m_first] = blankCell();
      if (col >= m_end) m_end = static_cast<uint16_t>(col + 1);
      return true;
    }
    return regrow(col);
  }

 private:
  CellRecord* slots() { return m_capacity > 1 ? m_heap : &m_single; }
  const CellRecord* slots() const { return m_capacity > 1 ? m_heap : &m_single; }
  bool regrow(int32_t col);

  union {
    CellRecord* m_heap = nullptr;  // while the capacity is above 1
    CellRecord m_single;           // while the capacity is 0 or 1
  };
  uint16_t m_first = 0;
  uint16_t m_end = 0;
  uint16_t m_capacity = 0;
};

}  // namespace kelp
