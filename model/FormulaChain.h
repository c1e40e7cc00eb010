// FormulaChain: every formula record of a workbook on one singly linked list,
// kept in an order where each formula follows the ones it reads.
#pragma once

#include "model/CellValue.h"

namespace kelp {

class Workbook;

class FormulaChain {
 public:
  explicit FormulaChain(Workbook* owner = nullptr);
  FormulaChain(const FormulaChain&) = delete;
  FormulaChain& operator=(const FormulaChain&) = delete;
  ~FormulaChain();

  /// Links the record after the tail; the chain then needs ordering.
  void append(FormulaRecord* record);
  /// Unlinks the record (a search from the head for its predecessor); a record
  /// on no chain, or on another, is left alone.
  void remove(FormulaRecord* record);
  /// Unlinks every record of `sheet` in one pass (a sheet being deleted).
  void removeSheet(uint16_t sheet);
  /// Unlinks everything in one pass (the workbook being closed).
  void detachAll();

  FormulaRecord* first() const { return m_head.next; }
  /// The sentinel whose `next` is the first record; the ordering relinks from it.
  FormulaRecord* head() { return &m_head; }
  FormulaRecord* tail() const { return m_tail; }
  void setTail(FormulaRecord* tail) { m_tail = tail; }
  int32_t count() const { return m_count; }
  /// The workbook whose formulas these are (sheet names, defined names).
  Workbook* workbook() const { return m_owner; }

  bool needsOrdering = false;
  bool circular = false;

 private:
  Workbook* m_owner;
  FormulaRecord m_head{};
  FormulaRecord* m_tail;
  int32_t m_count = 0;
};

}  // namespace kelp
