// The formula chain's links; ordering and recalculation belong to the formula engine.
#include "model/FormulaChain.h"

namespace kelp {

FormulaChain::FormulaChain(Workbook* owner) : m_owner(owner), m_tail(&m_head) {}

FormulaChain::~FormulaChain() { detachAll(); }

void FormulaChain::append(FormulaRecord* record) {
  record->next = nullptr;
  record->chain = this;
  m_tail->next = record;
  m_tail = record;
  ++m_count;
  needsOrdering = true;
}

void FormulaChain::remove(FormulaRecord* record) {
  if (record->chain != this) return;
  for (FormulaRecord* node = &m_head; node->next; node = node->next) {
    if (node->next != record) continue;
    node->next = record->next;
    if (!record->next) m_tail = node;
    record->next = nullptr;
    record->chain = nullptr;
    --m_count;
    needsOrdering = true;
    return;
  }
}

void FormulaChain::removeSheet(uint16_t sheet) {
  FormulaRecord* node = &m_head;
  while (node->next) {
    FormulaRecord* record = node->next;
    if (record->sheet == sheet) {
      node->next = record->next;
      record->next = nullptr;
      record->chain = nullptr;
      --m_count;
      needsOrdering = true;
    } else {
      node = record;
    }
  }
  m_tail = node;
}

void FormulaChain::detachAll() {
  for (FormulaRecord* record = m_head.next; record;) {
    FormulaRecord* next = record->next;
    record->next = nullptr;
    record->chain = nullptr;
    record = next;
  }
  m_head.next = nullptr;
  m_tail = &m_head;
  m_count = 0;
  needsOrdering = false;
}

}  // namespace kelp
