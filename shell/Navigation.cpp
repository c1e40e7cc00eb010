// Movement keys, the select operation and the data-edge searches.
#include "shell/Navigation.h"

#include <algorithm>

#include "model/Workbook.h"
#include "shell/GridView.h"

namespace kelp {

namespace {

bool hasValue(const Sheet& sheet, int32_t col, int32_t row) { return sheet.cellKind(col, row) != ValueKind::Empty; }

bool columnHidden(const Sheet& sheet, int32_t col) { return sheet.columns.isColumnHidden(col); }
bool rowHidden(const Sheet& sheet, int32_t row) { return sheet.visibleRowHeight(row) == 0; }

// One visible step from `from` in `direction`; when nothing visible lies that way, the
// nearest visible one the other way from the first candidate.
int32_t visibleStep(int32_t from, int direction, int32_t limit, bool (*hidden)(const Sheet&, int32_t),
                    const Sheet& sheet) {
  int32_t t = from + direction;
  while (t >= 0 && t <= limit && hidden(sheet, t)) t += direction;
  if (t >= 0 && t <= limit) return t;
  t = from + direction;
  while (t >= 0 && t <= limit && hidden(sheet, t)) t -= direction;
  return std::clamp<int32_t>(t, 0, limit);
}

Area cellArea(int32_t col, int32_t row) {
  return Area{static_cast<uint16_t>(row), static_cast<uint16_t>(col), static_cast<uint16_t>(row),
              static_cast<uint16_t>(col)};
}

}  // namespace

int32_t dataEdgeRow(const Sheet& sheet, int32_t col, int32_t row, int direction) {
  if (direction > 0) {
    if (row >= MaxRows - 1) return MaxRows - 1;
    if (hasValue(sheet, col, row) && hasValue(sheet, col, row + 1)) {
      int32_t r = row + 1;
      while (r < MaxRows - 1 && hasValue(sheet, col, r + 1)) ++r;
      return r;
    }
    for (int32_t r = sheet.nextRow(row); r < NoRow; r = sheet.nextRow(r)) {
      if (hasValue(sheet, col, r)) return r;
    }
    return MaxRows - 1;
  }
  if (row <= 0) return 0;
  if (hasValue(sheet, col, row) && hasValue(sheet, col, row - 1)) {
    int32_t r = row - 1;
    while (r > 0 && hasValue(sheet, col, r - 1)) --r;
    return r;
  }
  for (int32_t r = sheet.prevRow(row); r >= 0; r = sheet.prevRow(r)) {
    if (hasValue(sheet, col, r)) return r;
  }
  return 0;
}

int32_t dataEdgeColumn(const Sheet& sheet, int32_t col, int32_t row, int direction) {
  if (direction > 0) {
    if (col >= MaxColumns - 1) return MaxColumns - 1;
    if (hasValue(sheet, col, row) && hasValue(sheet, col + 1, row)) {
      int32_t c = col + 1;
      while (c < MaxColumns - 1 && hasValue(sheet, c + 1, row)) ++c;
      return c;
    }
    int32_t next = sheet.nextValueInRow(row, col);
    return next < MaxColumns ? next : MaxColumns - 1;
  }
  if (col <= 0) return 0;
  if (hasValue(sheet, col, row) && hasValue(sheet, col - 1, row)) {
    int32_t c = col - 1;
    while (c > 0 && hasValue(sheet, c - 1, row)) --c;
    return c;
  }
  int32_t previous = sheet.lastValueInRow(row, col);
  return previous >= 0 ? previous : 0;
}

void Navigator::select(Sheet& sheet, int32_t col, int32_t row, int flags) {
  Selection& sel = sheet.selection;
  col = std::clamp<int32_t>(col, 0, MaxColumns - 1);
  row = std::clamp<int32_t>(row, 0, MaxRows - 1);
  Area a = cellArea(col, row);
  if (flags & SelectFlag::Extend) {
    a.firstRow = static_cast<uint16_t>(std::min<int32_t>(sel.activeRow, row));
    a.lastRow = static_cast<uint16_t>(std::max<int32_t>(sel.activeRow, row));
    a.firstColumn = static_cast<uint16_t>(std::min<int32_t>(sel.activeColumn, col));
    a.lastColumn = static_cast<uint16_t>(std::max<int32_t>(sel.activeColumn, col));
  } else {
    sel.activeRow = static_cast<uint16_t>(row);
    sel.activeColumn = static_cast<int16_t>(col);
  }
  if (flags & SelectFlag::Rows) {
    a.firstColumn = 0;
    a.lastColumn = MaxColumns - 1;
  }
  if (flags & SelectFlag::Columns) {
    a.firstRow = 0;
    a.lastRow = MaxRows - 1;
  }
  if (sheet.mergedAreas.size() > 0) a = sheet.expandToMerged(a);
  sel.firstRow = a.firstRow;
  sel.lastRow = a.lastRow;
  sel.firstColumn = static_cast<int16_t>(a.firstColumn);
  sel.lastColumn = static_cast<int16_t>(a.lastColumn);
  sel.endRow = static_cast<uint16_t>(row);
  sel.endColumn = static_cast<int16_t>(col);
  selectionKind = flags;
  m_view.markRepaint(Repaint::Selection);
  m_view.scrollIntoView(col, row, false);
}

void Navigator::moveTo(Sheet& sheet, int32_t col, int32_t row, int flags) {
  const SheetView& v = sheet.view;
  if (v.columnsFrozen) col = std::max<int32_t>(col, v.frozenFirstColumn);
  if (v.rowsFrozen) row = std::max<int32_t>(row, v.frozenFirstRow);
  row = std::min<int32_t>(row, MaxRows - 1);
  select(sheet, col, row, flags);
}

bool Navigator::handleKey(const Workbook& book, Sheet& sheet, Key key, int64_t mods) {
  switch (key) {
    case Key::Up: case Key::Down: case Key::Left: case Key::Right: case Key::PageUp: case Key::PageDown:
    case Key::Home: case Key::End: case Key::Tab:
      break;
    default:
      return false;
  }
  const bool ctrl = mods & KeyMod::Ctrl, alt = mods & KeyMod::Alt, shift = mods & KeyMod::Shift;
  Selection& sel = sheet.selection;

  if (key == Key::Tab) {
    if (ctrl) return true;
    extendMode = false;
    if (book.isProtected || sheet.isProtected) {
      tabProtected(book, sheet, shift);
      return true;
    }
    int32_t col = sel.activeColumn;
    if (!shift && col >= MaxColumns - 1) return true;
    if (shift && col <= 0) return true;
    moveTo(sheet, visibleStep(col, shift ? -1 : 1, MaxColumns - 1, columnHidden, sheet), sel.activeRow, 0);
    return true;
  }

  int flags = 0;
  if (extendMode) {
    flags = SelectFlag::Extend;
    if (sel.firstColumn == 0 && sel.lastColumn == MaxColumns - 1) flags |= SelectFlag::Rows;
    if (sel.firstRow == 0 && sel.lastRow == MaxRows - 1) flags |= SelectFlag::Columns;
  } else {
    sel.endRow = sel.activeRow;
    sel.endColumn = sel.activeColumn;
  }
  // Steps start from the edge of the merged area holding the moving end.
  int32_t col = sel.endColumn, row = sel.endRow;
  Area m = cellArea(col, row);
  if (sheet.mergedAreas.size() > 0) sheet.findMergedAt(col, row, &m);

  switch (key) {
    case Key::Up:
      if (ctrl) {
        row = dataEdgeRow(sheet, col, row, -1);
      } else {
        if (m.firstRow == 0) return true;
        row = visibleStep(m.firstRow, -1, MaxRows - 1, rowHidden, sheet);
      }
      break;
    case Key::Down:
      if (ctrl) {
        row = dataEdgeRow(sheet, col, row, 1);
      } else {
        if (m.lastRow >= MaxRows - 1) return true;
        row = visibleStep(m.lastRow, 1, MaxRows - 1, rowHidden, sheet);
      }
      break;
    case Key::Left:
      if (ctrl) {
        col = dataEdgeColumn(sheet, col, row, -1);
      } else {
        if (m.firstColumn == 0) return true;
        col = visibleStep(m.firstColumn, -1, MaxColumns - 1, columnHidden, sheet);
      }
      break;
    case Key::Right:
      if (ctrl) {
        col = dataEdgeColumn(sheet, col, row, 1);
      } else {
        if (m.lastColumn >= MaxColumns - 1) return true;
        col = visibleStep(m.lastColumn, 1, MaxColumns - 1, columnHidden, sheet);
      }
      break;
    case Key::PageUp: {
      if (ctrl) return true;
      const GridGeometry g = m_view.geometry();
      if (alt) {
        col = std::max(0, col - (g.visibleColumnsFrom(sheet.view.leftColumn) - 1));
      } else {
        row = std::max(0, row - (g.visibleRowsFrom(sheet.view.topRow) + 1));
      }
      break;
    }
    case Key::PageDown: {
      if (ctrl) return true;
      const GridGeometry g = m_view.geometry();
      if (alt) {
        col = std::min(MaxColumns - 1, col + g.visibleColumnsFrom(sheet.view.leftColumn) - 1);
      } else {
        int rows = g.visibleRowsFrom(sheet.view.topRow);
        row = std::min(MaxRows - 1, row + (rows < 2 ? 1 : rows - 1));
      }
      break;
    }
    case Key::Home:
      col = 0;
      if (ctrl) {
        row = 0;
        flags = 0;
      }
      break;
    case Key::End:
      if (ctrl) {
        // The corner of the used range, which may be an empty cell, as desktop spreadsheets go.
        row = std::max(0, sheet.lastUsedRow(-1));
        col = std::max(0, sheet.lastUsedColumn());
      } else {
        col = std::max(0, sheet.lastValueInRow(row, MaxColumns));
      }
      break;
    default:
      return false;
  }
  moveTo(sheet, col, row, flags);
  return true;
}

bool Navigator::tabProtected(const Workbook& book, Sheet& sheet, bool backward) {
  const Selection& sel = sheet.selection;
  Area own = cellArea(sel.activeColumn, sel.activeRow);
  if (sheet.mergedAreas.size() > 0) sheet.findMergedAt(sel.activeColumn, sel.activeRow, &own);
  auto candidate = [&](int32_t col, int32_t row) {
    if (own.contains(col, row) || !sheet.cellPtr(col, row)) return false;
    if (sheet.cellKind(col, row) == ValueKind::Empty && !sheet.hasStyle(col, row)) return false;
    return !book.style(sheet.effectiveStyle(col, row)).locked();
  };
  if (!backward) {
    for (int pass = 0; pass < 2; ++pass) {
      int32_t startRow = pass == 0 ? sel.activeRow : 0;
      for (int32_t row = startRow; row < NoRow; row = sheet.nextRow(row)) {
        if (!sheet.rowExists(row)) continue;
        int32_t from = pass == 0 && row == sel.activeRow ? sel.activeColumn + 1 : 0;
        for (int32_t col = std::max(from, 0); col < sheet.cellCountOf(row); ++col) {
          if (candidate(col, row)) {
            moveTo(sheet, col, row, 0);
            return true;
          }
        }
      }
    }
    return false;
  }
  for (int32_t row = sel.activeRow; row >= 0; row = sheet.prevRow(row)) {
    if (!sheet.rowExists(row)) continue;
    int32_t from = row == sel.activeRow ? sel.activeColumn - 1 : sheet.cellCountOf(row) - 1;
    for (int32_t col = std::min(from, sheet.cellCountOf(row) - 1); col >= 0; --col) {
      if (candidate(col, row)) {
        moveTo(sheet, col, row, 0);
        return true;
      }
    }
  }
  return false;
}

}  // namespace kelp
