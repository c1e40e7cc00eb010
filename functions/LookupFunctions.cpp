// Lookup and reference functions: the searches (VLookup, HLookup, Match, Lookup), the
// references built from arguments (Index, Offset, Indirect), their measures (Row,
// Column, Rows, Columns), Countblank and Address.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "formula/Compiler.h"
#include "formula/Evaluator.h"
#include "formula/FormulaText.h"
#include "formula/ValueOrder.h"
#include "functions/FunctionFamilies.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/Text.h"

namespace kelp {

namespace {

constexpr int32_t LastRow = 65535;
constexpr int32_t LastColumn = 255;

int64_t heightOf(const SheetArea& area) { return area.lastRow - area.firstRow + 1; }
int64_t widthOf(const SheetArea& area) { return area.lastColumn - area.firstColumn + 1; }

// A reference to one cell of the area's sheets, kept as a sheet reference so that it
// reads the same sheet wherever it is used.
CellValue cellOf(const SheetArea& area, int32_t column, int32_t row) {
  CellValue ref = cellRefValue(static_cast<uint16_t>(row), static_cast<uint16_t>(column));
  ref.kind = ValueKind::SheetCellRef;
  ref.book = area.book;
  ref.firstSheet = area.firstSheet;
  ref.lastSheet = area.lastSheet;
  return ref;
}

CellValue sheetAreaRef(const SheetArea& area) {
  CellValue ref = areaRefValue(area.firstRow, area.firstColumn, area.lastRow, area.lastColumn);
  ref.kind = ValueKind::SheetAreaRef;
  ref.book = area.book;
  ref.firstSheet = area.firstSheet;
  ref.lastSheet = area.lastSheet;
  return ref;
}

// Pushes a copy of a cell's value (an empty cell gives the empty value), read as any
// reference to it would be: a formula's result, a text without its cell task.
void pushCellValue(const SheetArea& area, int32_t column, int32_t row) {
  pushValue(cellOf(area, column, row));
  CellValue value;
  popResolved(value);
  pushValue(value);
}

// The value searched for; an error value in its place is the result.
CellValue popWanted() {
  CellValue value;
  popResolved(value);
  if (value.kind == ValueKind::Error) setPendingError(cellError(value));
  return value;
}

// An area argument of a search: one sheet only.
bool popSearchArea(SheetArea& area) {
  if (!popArea(area)) return false;
  if (area.firstSheet == area.lastSheet) return true;
  setPendingError(CellError::Ref);
  return false;
}

// Calls visit(position, value) for the cells of a one-sheet area row by row, left to
// right, positions counted from 0 over every cell, empty ones included. Of a run of
// empty cells only the first is visited (as the empty value): all of them compare alike
// and a walk that stops at one stops at the first, so a whole-column range costs only
// its filled cells. A false from visit ends the walk; the result tells whether it did.
template <typename Visit>
bool walkCells(const SheetArea& area, Visit visit) {
  AreaIterator it(area, evalState().workbook);
  const int64_t width = widthOf(area);
  const int64_t count = width * heightOf(area);
  const CellValue empty = emptyValue();
  int64_t expected = 0;  // the first position not yet accounted for
  while (const CellValue* value = it.nextValue()) {
    int64_t at = (it.row() - area.firstRow) * width + (it.column() - area.firstColumn);
    if (at > expected && !visit(expected, empty)) return false;
    if (!visit(at, *value)) return false;
    expected = at + 1;
  }
  return expected >= count || visit(expected, empty);
}

// compareValues with the cell first and the value searched for second (the pattern).
int compareCell(const CellValue& cell, const CellValue& wanted, bool wildcard) {
  return compareValues(&cell, &wanted, false, wildcard);
}

// The value a search looks for, with what the walk over stored cells needs at hand.
// Numbers and texts, the common searches, are compared here as compareValues compares
// them, without its reading of the sought text's length again for every cell.
class Sought {
 public:
  Sought(const CellValue& value, bool wildcard) : m_value(value), m_wildcard(wildcard) {
    m_isNumber = value.kind == ValueKind::Number || value.kind == ValueKind::Integer;
    if (m_isNumber) m_number = value.kind == ValueKind::Integer ? value.i32() : value.number();
    m_isText = value.kind == ValueKind::Text;
    if (m_isText) m_text = textOf(value);
  }

  /// compareCell of a cell as stored: a formula by its result, a text as shown.
  int against(const CellValue& stored) const {
    const CellValue& cell = effectiveValue(stored);
    if (m_isNumber && cell.kind == ValueKind::Number) {
      const double x = cell.number();
      return x < m_number ? -1 : (x > m_number ? 1 : 0);
    }
    if (m_isText && cell.kind == ValueKind::Text) {
      // Only a text stored in the cell carries a task; a formula's result shows whole.
      std::u16string_view text = textOf(cell);
      if (stored.kind == ValueKind::Text) text = visibleCellText(text);
      if (m_wildcard) return wildcardMatch(m_text, text, false) ? 0 : 1;
      return compareIgnoreCase(text, m_text);
    }
    return compareCell(cell, m_value, m_wildcard);
  }

 private:
  const CellValue& m_value;
  bool m_wildcard;
  bool m_isNumber;
  bool m_isText;
  double m_number = 0;
  std::u16string_view m_text;
};

// Calls visit(position, stored value) for the filled cells of a line of this workbook
// (one column or one row of a sheet), in order, positions counted from 0 along the line.
// No empty cell equals a value that is not empty or is smaller than it, so a search
// for one needs no others. A false from visit ends the walk.
template <typename Visit>
void walkFilledLine(const Sheet& sheet, const SheetArea& line, Visit visit) {
  if (line.firstColumn == line.lastColumn) {
    const int32_t column = line.firstColumn;
    const int32_t last = std::min<int32_t>(line.lastRow, sheet.rowArraySize() - 1);
    for (int32_t r = line.firstRow; r <= last; ++r) {
      const Row* row = sheet.rowAt(r);
      if (!row || !row->cells.has(column)) continue;
      const CellValue& value = row->cells[column].value;
      if (value.kind != ValueKind::Empty && !visit(r - line.firstRow, value)) return;
    }
    return;
  }
  const Row* row = sheet.rowAt(line.firstRow);
  if (!row) return;
  const int32_t end = std::min<int32_t>(line.lastColumn, row->cells.size() - 1);
  for (int32_t c = std::max<int32_t>(line.firstColumn, row->firstColumn()); c <= end; ++c) {
    const CellValue& value = row->cells[c].value;
    if (value.kind != ValueKind::Empty && !visit(c - line.firstColumn, value)) return;
  }
}

// ----- VLookup and HLookup.

// The position along the first column (row) of the matching row (column), or -1. An
// exact search takes the first equal cell; an approximate one takes the first equal
// cell, else the last smaller cell met anywhere: the line is walked to its end, so
// unsorted data gives the last smaller value rather than a guess.
int64_t searchLine(const SheetArea& line, const CellValue& wanted, bool sorted) {
  int64_t found = -1;
  int64_t smaller = -1;
  auto step = [&](int64_t at, int order) {
    if (order == 0) {
      found = at;
      return false;
    }
    if (order < 0) smaller = at;
    return true;
  };
  const Sheet* sheet = line.book == 0 && evalState().workbook ? evalState().workbook->sheetAt(line.firstSheet) : nullptr;
  if (sheet && wanted.kind != ValueKind::Empty) {
    const Sought sought(wanted, !sorted);
    walkFilledLine(*sheet, line, [&](int64_t at, const CellValue& stored) { return step(at, sought.against(stored)); });
  } else {
    walkCells(line, [&](int64_t at, const CellValue& cell) { return step(at, compareCell(cell, wanted, !sorted)); });
  }
  if (found >= 0) return found;
  return sorted ? smaller : -1;
}

void tableLookup(bool vertical) {
  bool sorted = argCount() < 4 || popLogical() != 0;
  int32_t index = popInteger();
  SheetArea data{};
  popArea(data);
  CellValue wanted = popWanted();
  if (!takePendingError()) {
    releaseValue(wanted);
    return;
  }
  const int64_t extent = vertical ? widthOf(data) : heightOf(data);
  CellError error = CellError::Null;
  if (index < 1)
    error = CellError::Value;
  else if (index > extent || data.firstSheet != data.lastSheet)
    error = CellError::Ref;
  if (error != CellError::Null) {
    releaseValue(wanted);
    pushError(error);
    return;
  }
  SheetArea line = data;
  if (vertical)
    line.lastColumn = line.firstColumn;
  else
    line.lastRow = line.firstRow;
  int64_t at = searchLine(line, wanted, sorted);
  releaseValue(wanted);
  if (at < 0) {
    pushError(CellError::NA);
    return;
  }
  if (vertical)
    pushCellValue(data, data.firstColumn + index - 1, data.firstRow + static_cast<int32_t>(at));
  else
    pushCellValue(data, data.firstColumn + static_cast<int32_t>(at), data.firstRow + index - 1);
}

void fnVLookup() { tableLookup(true); }
void fnHLookup() { tableLookup(false); }

// ----- Match and Lookup.

void fnMatch() {
  double type = argCount() < 3 ? 1 : popNumber();
  SheetArea range{};
  popSearchArea(range);
  CellValue wanted = popWanted();
  if (!takePendingError()) {
    releaseValue(wanted);
    return;
  }
  // The result as a position counted from 1; 0 is no match.
  int64_t result = 0;
  bool stopped = !walkCells(range, [&](int64_t at, const CellValue& cell) {
    int order = compareCell(cell, wanted, type == 0);
    if (type == 0) {
      if (order != 0) return true;
      result = at + 1;
      return false;
    }
    // Ascending (type above 0) stops at the first cell not less, descending at the
    // first not greater; a stop past the value gives the cell before.
    if (type > 0 ? order < 0 : order > 0) return true;
    result = order == 0 ? at + 1 : at;
    return false;
  });
  releaseValue(wanted);
  if (!stopped && type != 0) result = widthOf(range) * heightOf(range);
  if (result == 0)
    pushError(CellError::NA);
  else
    pushNumber(static_cast<double>(result));
}

// The value at `position` of an area taken row by row.
void pushAtPosition(const SheetArea& area, int64_t position) {
  const int64_t width = widthOf(area);
  pushCellValue(area, area.firstColumn + static_cast<int32_t>(position % width),
                area.firstRow + static_cast<int32_t>(position / width));
}

void fnLookup() {
  SheetArea results{};
  popSearchArea(results);
  SheetArea searched{};
  popSearchArea(searched);
  CellValue wanted = popWanted();
  if (!takePendingError()) {
    releaseValue(wanted);
    return;
  }
  // Along the only row of a one-row range, else down its first column.
  SheetArea line = searched;
  if (heightOf(searched) == 1)
    line.lastRow = line.firstRow;
  else
    line.lastColumn = line.firstColumn;
  const int64_t length = widthOf(line) * heightOf(line);
  int64_t found = length - 1;  // every cell smaller: the last one
  walkCells(line, [&](int64_t at, const CellValue& cell) {
    int order = compareCell(cell, wanted, false);
    if (order < 0) return true;
    found = order == 0 ? at : at - 1;
    return false;
  });
  releaseValue(wanted);
  if (found < 0 || widthOf(results) * heightOf(results) != length) {
    pushError(CellError::NA);
    return;
  }
  pushAtPosition(results, found);
}

// ----- References built from arguments.

void fnIndex() {
  int32_t areaNumber = argCount() < 4 ? 1 : popInteger();
  int32_t column = popInteger();
  int32_t row = popInteger();
  SheetArea range{};
  popArea(range);
  if (!takePendingError()) return;
  if (areaNumber != 1) {
    pushError(CellError::NA);
    return;
  }
  if (row < 1 || column < 1 || row > heightOf(range) || column > widthOf(range)) {
    pushError(CellError::Ref);
    return;
  }
  pushValue(cellOf(range, range.firstColumn + column - 1, range.firstRow + row - 1));
}

// A reference argument where anything else is error `otherwise`; false (the argument
// popped, the error pending) when it is not one.
bool popReference(SheetArea& area, CellError otherwise) {
  if (isReference(topKind())) return popArea(area);
  discard(1);
  setPendingError(otherwise);
  return false;
}

void fnOffset() {
  // Height and width default to the size of the given reference, known once it is popped.
  int32_t width = 0, height = 0;
  bool widthGiven = argCount() >= 5, heightGiven = argCount() >= 4;
  if (widthGiven) width = popInteger();
  if (heightGiven) height = popInteger();
  int32_t columns = popInteger();
  int32_t rows = popInteger();
  SheetArea base{};
  popReference(base, CellError::Value);
  if (!takePendingError()) return;
  if (rows < -LastRow || rows > LastRow || columns < -LastColumn || columns > LastColumn) {
    pushError(CellError::Ref);
    return;
  }
  if ((heightGiven && height < 1) || (widthGiven && width < 1)) {
    pushError(CellError::Value);
    return;
  }
  const int64_t firstRow = int64_t{base.firstRow} + rows;
  const int64_t firstColumn = int64_t{base.firstColumn} + columns;
  const int64_t lastRow = firstRow + (heightGiven ? height : heightOf(base)) - 1;
  const int64_t lastColumn = firstColumn + (widthGiven ? width : widthOf(base)) - 1;
  // Rows are held to the sheet as columns are: a reference outside it would name
  // other cells once stored in 16 bits.
  if (firstRow < 0 || firstColumn < 0 || lastRow > LastRow || lastColumn > LastColumn) {
    pushError(CellError::Ref);
    return;
  }
  SheetArea moved = base;
  moved.firstRow = static_cast<uint16_t>(firstRow);
  moved.firstColumn = static_cast<uint16_t>(firstColumn);
  moved.lastRow = static_cast<uint16_t>(lastRow);
  moved.lastColumn = static_cast<uint16_t>(lastColumn);
  pushValue(sheetAreaRef(moved));
}

void fnIndirect() {
  bool a1 = argCount() < 2 || popLogical() != 0;
  std::u16string text = popTextCopy();
  if (!takePendingError()) return;
  if (!a1) {
    pushError(CellError::NA);  // only the A1 style is read
    return;
  }
  EvalState& state = evalState();
  CellValue ref = emptyValue();
  if (!state.workbook || !readReferenceText(*state.workbook, text, state.cell, ref)) {
    pushError(CellError::Ref);
    return;
  }
  // Without a sheet the reference stands on the formula's own sheet.
  if (ref.kind == ValueKind::AreaRef) {
    ref.kind = ValueKind::SheetAreaRef;
    ref.firstSheet = ref.lastSheet = static_cast<uint8_t>(state.cell.sheet);
  }
  pushValue(ref);
}

// ----- Measures of references.

// Row and Column: of the formula's own cell without an argument.
void rowOrColumn(bool row) {
  if (argCount() == 0) {
    const CellPosition& cell = evalState().cell;
    pushNumber((row ? cell.row : cell.column) + 1.0);
    return;
  }
  SheetArea area{};
  popArea(area);
  if (!takePendingError()) return;
  pushNumber((row ? area.firstRow : area.firstColumn) + 1.0);
}

void fnRow() { rowOrColumn(true); }
void fnColumn() { rowOrColumn(false); }

void rowsOrColumns(bool rows) {
  SheetArea area{};
  popReference(area, CellError::Value);
  if (!takePendingError()) return;
  pushNumber(static_cast<double>(rows ? heightOf(area) : widthOf(area)));
}

void fnRows() { rowsOrColumns(true); }
void fnColumns() { rowsOrColumns(false); }

// Empty cells, empty texts and error values are blank.
bool isBlank(const CellValue& value) {
  return value.kind == ValueKind::Empty || value.kind == ValueKind::Error ||
         (value.kind == ValueKind::Text && textOf(value).empty());
}

void fnCountblank() {
  if (!isReference(topKind())) {
    CellValue value;
    popResolved(value);
    bool blank = value.kind == ValueKind::Empty || (value.kind == ValueKind::Text && textOf(value).empty());
    releaseValue(value);
    pushNumber(blank ? 1 : 0);
    return;
  }
  SheetArea area{};
  popArea(area);
  // Counted from the cells that hold something, so a whole sheet costs its filled cells.
  int64_t filled = 0;
  AreaIterator it(area, evalState().workbook);
  while (const CellValue* value = it.nextValue()) filled += isBlank(*value) ? 0 : 1;
  const int64_t sheets = area.lastSheet - area.firstSheet + 1;
  pushNumber(static_cast<double>(heightOf(area) * widthOf(area) * sheets - filled));
}

// ----- Address.

void fnAddress() {
  std::u16string sheet;
  if (argCount() >= 5) sheet = popTextCopy();
  if (argCount() >= 4) discard(1);  // the A1 flag: only the A1 style is written
  int32_t type = argCount() >= 3 ? popInteger() : 1;
  int32_t column = popInteger();
  int32_t row = popInteger();
  if (!takePendingError()) return;
  if (type < 1 || type > 4 || column < 1 || column > LastColumn + 1 || row < 1 || row > LastRow + 1) {
    pushError(CellError::Value);
    return;
  }
  // 1: $A$1, 2: A$1, 3: $A1, 4: A1.
  const bool absoluteColumn = type == 1 || type == 3;
  const bool absoluteRow = type == 1 || type == 2;
  std::u16string text;
  if (!sheet.empty()) {
    // Quoted as formula text quotes sheet names, so Indirect reads the address back.
    text.push_back(u'\'');
    for (char16_t c : sheet) {
      if (c == u'\'') text.push_back(c);
      text.push_back(c);
    }
    text += u"'!";
  }
  std::u16string part;
  columnName(static_cast<uint16_t>(column - 1), part);
  if (absoluteColumn) text.push_back(u'$');
  text += part;
  rowName(static_cast<uint16_t>(row - 1), part);
  if (absoluteRow) text.push_back(u'$');
  text += part;
  pushText(text);
}

}  // namespace

std::span<const FunctionBinding> lookupBindings() {
  static constexpr FunctionBinding bindings[] = {
      {100, fnVLookup}, {101, fnHLookup}, {103, fnCountblank}, {104, fnColumns}, {105, fnRows},
      {106, fnMatch},   {125, fnIndex},   {126, fnRow},        {127, fnColumn},  {128, fnIndirect},
      {133, fnLookup},  {135, fnOffset},  {140, fnAddress},
  };
  return bindings;
}

}  // namespace kelp
