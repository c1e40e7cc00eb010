// The area walk: the non-empty cells of an area, row by row or column by column.
#include "formula/EvaluatorInternal.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "formula/Catalogue.h"
#include "formula/Tokens.h"
#include "model/CellTaskText.h"
#include "model/FormulaTable.h"
#include "model/HandlePool.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Text.h"

namespace kelp {

using namespace eval;

AreaIterator::AreaIterator(const SheetArea& area, Workbook* workbook, bool columnMode) {
  reset(area, workbook, columnMode);
}

AreaIterator::~AreaIterator() { releaseScratch(); }

void AreaIterator::releaseScratch() { releaseValue(m_scratch); }

Sheet* AreaIterator::sheetAt(int32_t index) const { return m_workbook->sheetAt(index); }

void AreaIterator::reset(const SheetArea& area, Workbook* workbook, bool columnMode) {
  releaseScratch();
  m_area = area;
  m_workbook = workbook;
  m_columnMode = columnMode;
  m_started = false;
  m_done = workbook == nullptr;
  m_sheet = area.firstSheet;
  m_row = columnMode ? area.firstRow - 1 : area.firstRow;
  m_column = columnMode ? area.firstColumn : area.firstColumn - 1;
  m_sheetPtr = nullptr;
  m_rowPtr = nullptr;
  m_end = -1;
  m_storedTexts = false;
}

bool AreaIterator::advance() {
  const bool external = m_area.book != 0;
  auto nextSheet = [this] {
    ++m_sheet;
    m_row = m_columnMode ? m_area.firstRow - 1 : m_area.firstRow;
    m_column = m_columnMode ? m_area.firstColumn : m_area.firstColumn - 1;
  };
  for (;;) {
    if (m_done || m_sheet > m_area.lastSheet) {
      m_done = true;
      return false;
    }
    Sheet* sheet = external ? nullptr : m_workbook->sheetAt(m_sheet);
    if (!external && !sheet) {
      nextSheet();
      continue;
    }
    if (m_columnMode) {
      if (m_column > m_area.lastColumn) {
        nextSheet();
        continue;
      }
      m_row = external ? m_row + 1 : sheet->nextRow(m_row);
      if (m_row <= m_area.lastRow) return true;
      ++m_column;
      m_row = m_area.firstRow - 1;
      continue;
    }
    if (m_row > m_area.lastRow) {
      nextSheet();
      continue;
    }
    ++m_column;
    int32_t end = m_area.lastColumn;
    if (!external) {
      const Row* row = sheet->rowAt(m_row);
      if (!row) {
        end = -1;
      } else {
        end = std::min(end, row->cells.size() - 1);
        m_column = std::max<int32_t>(m_column, row->firstColumn());
      }
    }
    if (m_column <= end) return true;
    m_row = external ? m_row + 1 : sheet->nextRow(m_row);
    m_column = m_area.firstColumn - 1;
  }
}

// A text holding a cell task shows only its visible part.
const CellValue* AreaIterator::shownText(const CellValue& value) {
  std::u16string_view text = textOf(value);
  std::u16string_view visible = visibleCellText(text);
  if (visible.size() == text.size()) return &value;
  makeText(m_scratch, visible);
  return &m_scratch;
}

// The common walk, this workbook's cells row by row, straight over each row's slots.
const CellValue* AreaIterator::nextInRows() {
  for (;;) {
    if (m_rowPtr) {
      const CellRecord* cells = m_rowPtr->cells.data();
      const int32_t first = m_rowPtr->firstColumn();
      for (int32_t column = m_column + 1; column <= m_end; ++column) {
        const CellValue& value = cells[column - first].value;
        if (value.kind == ValueKind::Empty) continue;
        m_column = column;
        return shown(value);
      }
      m_column = m_end;
      m_rowPtr = nullptr;
      m_row = m_sheetPtr->nextRow(m_row);
    } else if (m_sheetPtr) {
      if (m_row > m_area.lastRow) {
        m_sheetPtr = nullptr;
        ++m_sheet;
        continue;
      }
      const Row* row = m_sheetPtr->rowAt(m_row);
      if (!row) {
        m_row = m_sheetPtr->nextRow(m_row);
        continue;
      }
      m_rowPtr = row;
      m_column = std::max<int32_t>(m_area.firstColumn, row->firstColumn()) - 1;
      m_end = std::min<int32_t>(m_area.lastColumn, row->cells.size() - 1);
    } else {
      if (m_done || m_sheet > m_area.lastSheet) {
        m_done = true;
        return nullptr;
      }
      m_sheetPtr = m_workbook->sheetAt(m_sheet);
      if (!m_sheetPtr) {
        ++m_sheet;
        continue;
      }
      m_row = m_area.firstRow;
    }
  }
}

const CellValue* AreaIterator::nextValue() {
  if (m_scratch.kind != ValueKind::Empty) releaseScratch();
  if (m_area.book == 0 && !m_columnMode) return nextInRows();
  while (advance()) {
    if (m_area.book != 0) {
      // Cells the other file does not have are passed over, as empty cells here are.
      m_scratch = g_externalValue(*m_workbook, m_area.book, m_sheet, m_column, m_row);
      if (m_scratch.kind == ValueKind::Empty) continue;
      return &m_scratch;
    }
    const CellRecord* cell = m_workbook->sheetAt(m_sheet)->cellPtr(m_column, m_row);
    if (!cell || cell->value.kind == ValueKind::Empty) continue;
    return shown(cell->value);
  }
  return nullptr;
}

bool AreaIterator::next(CellValue& out) {
  const CellValue* value = nextValue();
  if (!value) return false;
  out = *value;
  return true;
}

bool popAreaIterator(AreaIterator& it, bool columnMode) {
  switch (topKind()) {
    case ValueKind::CellRef:
    case ValueKind::AreaRef:
    case ValueKind::SheetCellRef:
    case ValueKind::SheetAreaRef:
      break;
    default:
      return false;
  }
  SheetArea area{};
  areaOf(popRaw(), area);
  it.reset(area, g_state.workbook, columnMode);
  return true;
}

std::u16string_view visibleCellText(std::u16string_view text) { return cellTaskDisplay(text); }

}  // namespace kelp
