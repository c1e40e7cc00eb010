// The task function Sort: its arguments turned into sort settings for the selection.
#include "tasks/SortTask.h"

#include <cmath>

#include "edit/Commands.h"
#include "edit/Filter.h"
#include "edit/Sort.h"
#include "formula/Evaluator.h"
#include "model/Workbook.h"

namespace kelp {

namespace {

// A key as the task gave it: a number counting from 1, or a reference.
struct KeyArgument {
  bool isReference = false;
  double number = 0;
  SheetArea area{};
};

bool isReference(ValueKind kind) { return kind >= ValueKind::CellRef && kind <= ValueKind::SheetAreaRef; }

// Pops a key; an unusable one leaves its error pending.
void popKey(KeyArgument& key) {
  if (isReference(topKind())) {
    key.isReference = true;
    popLocalArea(key.area);
    return;
  }
  const double d = popNumber();
  if (!std::isfinite(d)) setPendingError(CellError::Value);
  key.number = std::isfinite(d) ? std::trunc(d) : 0;
}

// The key's offset from the selection's first column (row), -1 for an optional key
// given as 0; false, with the error pending, for a key naming no column (row) of it.
bool keyOffset(const KeyArgument& key, const Area& area, bool byRows, bool optional, int32_t& offset) {
  const int32_t count = byRows ? area.lastColumn - area.firstColumn + 1 : area.lastRow - area.firstRow + 1;
  if (key.isReference) {
    const int32_t first = byRows ? key.area.firstColumn : key.area.firstRow;
    const int32_t last = byRows ? key.area.lastColumn : key.area.lastRow;
    if (first != last) {
      setPendingError(CellError::Ref);
      return false;
    }
    offset = first - (byRows ? area.firstColumn : area.firstRow);
  } else if (optional && key.number == 0) {
    offset = -1;
    return true;
  } else {
    offset = key.number >= 1 && key.number <= count ? static_cast<int32_t>(key.number) - 1 : -1;
  }
  if (offset < 0 || offset >= count) {
    setPendingError(CellError::Value);
    return false;
  }
  return true;
}

}  // namespace

void taskSort(UndoList* undo) {
  const int arguments = argCount();
  bool sortRows = false, caseSensitive = false, header = false;
  bool ascending[3] = {true, true, true};
  KeyArgument keys[3];
  // The last argument is popped first.
  if (arguments >= 9) sortRows = popLogical() != 0;
  if (arguments >= 8) caseSensitive = popLogical() != 0;
  if (arguments >= 7) header = popLogical() != 0;
  if (arguments >= 6) ascending[2] = popLogical() != 0;
  if (arguments >= 5) popKey(keys[2]);
  if (arguments >= 4) ascending[1] = popLogical() != 0;
  if (arguments >= 3) popKey(keys[1]);
  if (arguments >= 2) ascending[0] = popLogical() != 0;
  popKey(keys[0]);
  if (!takePendingError()) return;

  Workbook& workbook = *evalState().workbook;
  // A single cell takes its data region, as the Sort dialog does, so that a recorded task
  // sorts what the user sorted.
  Sheet& sheet = *workbook.activeSheet();
  Area area = sheet.selection.area();
  if (area.firstRow == area.lastRow && area.firstColumn == area.lastColumn && dataArea(sheet, area))
    sheet.selection = Selection::ofStored(area, area.firstColumn, area.firstRow);
  SortSettings settings;
  settings.hasHeader = header;
  settings.caseSensitive = caseSensitive;
  settings.byRows = !sortRows;
  settings.ascending1 = ascending[0];
  settings.ascending2 = ascending[1];
  settings.ascending3 = ascending[2];
  // Keys not given stay as the settings start: none.
  if (!keyOffset(keys[0], area, settings.byRows, false, settings.key1) ||
      (arguments >= 3 && !keyOffset(keys[1], area, settings.byRows, true, settings.key2)) ||
      (arguments >= 5 && !keyOffset(keys[2], area, settings.byRows, true, settings.key3))) {
    takePendingError();
    return;
  }
  UndoList scratch;
  if (!sortSelection(workbook, undo ? *undo : scratch, settings)) return pushError(CellError::Value);
  pushValue(emptyValue());
}

}  // namespace kelp
