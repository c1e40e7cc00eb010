// Conditional sums and counts (Sumif, Countif) and the database functions, which share
// one reader of criteria and test cells with the order of values across kinds.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

#include "formula/EntryReader.h"
#include "formula/Evaluator.h"
#include "formula/Lexer.h"
#include "formula/ValueOrder.h"
#include "functions/FunctionFamilies.h"
#include "functions/ListAggregates.h"
#include "model/Sheet.h"
#include "model/Workbook.h"

namespace kelp {

namespace {

enum class Relation : uint8_t { Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual };

// A condition on one value: a relation and the operand cells are compared with. It is
// read once per call and then tested against every cell.
class Criterion {
 public:
  Criterion() = default;
  Criterion(const Criterion&) = delete;
  Criterion& operator=(const Criterion&) = delete;
  Criterion(Criterion&& other) noexcept
      : m_relation(other.m_relation), m_operand(other.m_operand), m_pattern(other.m_pattern), m_blank(other.m_blank) {
    other.m_operand = emptyValue();
  }
  ~Criterion() { releaseValue(m_operand); }

  // A text holds an optional operator and the operand; a blank is the number 0, as a
  // blank criterion cell is in desktop spreadsheets; any other value must be equal.
  void read(const CellValue& given) {
    releaseValue(m_operand);
    m_relation = Relation::Equal;
    m_pattern = false;
    switch (given.kind) {
      case ValueKind::Text:
        readText(textOf(given));
        break;
      case ValueKind::Empty:
        m_operand = numberValue(0);
        break;
      case ValueKind::Integer:
        m_operand = numberValue(given.i32());
        break;
      default:
        m_operand = given;  // numbers, dates, logical values and errors own nothing
        break;
    }
    bool emptyOperand = m_operand.kind == ValueKind::Text && textOf(m_operand).empty();
    // A blank cell is equal only to nothing and unequal to everything else; it is
    // neither less nor greater than anything, so that ">5" never counts blanks.
    m_blank = m_relation == Relation::Equal ? emptyOperand : m_relation == Relation::NotEqual && !emptyOperand;
  }

  /// Whether the value satisfies the condition; null stands for a blank cell.
  bool matches(const CellValue* value) const {
    if (!value || value->kind == ValueKind::Empty) return m_blank;
    if (m_relation != Relation::Equal && m_relation != Relation::NotEqual) return ordered(*value);
    int c = compareValues(value, &m_operand, false, m_pattern);
    return m_relation == Relation::Equal ? c == 0 : c != 0;
  }
  bool matchesBlank() const { return m_blank; }

 private:
  // "<", "<=", ">" and ">=" hold only between values of one kind, numbers and dates
  // counting as one and compared by value: the order across kinds would have ">5"
  // count a column's title and its errors, and "<1/1/2024" miss every number.
  bool ordered(const CellValue& value) const {
    int c;
    if (value.isNumeric() && m_operand.isNumeric()) {
      double x = value.number(), y = m_operand.number();
      c = x < y ? -1 : (x > y ? 1 : 0);
    } else if (value.kind == m_operand.kind) {
      c = compareValues(&value, &m_operand, false, false);
    } else {
      return false;
    }
    switch (m_relation) {
      case Relation::Less: return c < 0;
      case Relation::LessEqual: return c <= 0;
      case Relation::Greater: return c > 0;
      default: return c >= 0;
    }
  }

  void readText(std::u16string_view text) {
    FormulaLexer lexer = makeLexer(nullptr, text, CellPosition{0, 0, 0}, false);
    nextToken(lexer);
    size_t start = lexer.pos;
    switch (lexer.token) {
      case TokenKind::Equal: m_relation = Relation::Equal; break;
      case TokenKind::NotEqual: m_relation = Relation::NotEqual; break;
      case TokenKind::Less: m_relation = Relation::Less; break;
      case TokenKind::LessEqual: m_relation = Relation::LessEqual; break;
      case TokenKind::Greater: m_relation = Relation::Greater; break;
      case TokenKind::GreaterEqual: m_relation = Relation::GreaterEqual; break;
      default: start = 0; break;
    }
    std::u16string_view rest = text.substr(start);
    // An operand that starts with "=" (as in "==x") stays text, as does one that
    // reads as no value.
    if (!rest.empty() && rest[0] != u'=') m_operand = readEntry(nullptr, rest, CellPosition{0, 0, 0}, nullptr, true);
    if (m_operand.kind != ValueKind::Empty) return;
    makeText(m_operand, rest);
    // Wildcards only make sense for equality; "~" escapes need the pattern reading too.
    m_pattern = (m_relation == Relation::Equal || m_relation == Relation::NotEqual) &&
                rest.find_first_of(u"*?~") != std::u16string_view::npos;
  }

  Relation m_relation = Relation::Equal;
  CellValue m_operand = emptyValue();
  bool m_pattern = false;  // the operand is a wildcard pattern
  bool m_blank = false;    // whether a blank cell satisfies the condition
};

// Pops an argument that must be a reference; anything else is taken and is !!Val.
void popReference(SheetArea& area) {
  if (isReference(topKind())) {
    popArea(area);
    return;
  }
  discard(1);
  setPendingError(CellError::Value);
}

void popCriterion(Criterion& criterion) {
  CellValue given;
  popResolved(given);
  criterion.read(given);
  releaseValue(given);
}

double cellCount(const SheetArea& a) {
  return double(a.lastSheet - a.firstSheet + 1) * double(a.lastRow - a.firstRow + 1) *
         double(a.lastColumn - a.firstColumn + 1);
}

// The walk position of the iterator's cell counted from the area's first cell, so that
// the positions of two areas of one shape compare in walk order.
int64_t walkPosition(const AreaIterator& it, const SheetArea& a) {
  return ((int64_t{it.sheet() - a.firstSheet} * MaxRows) + (it.row() - a.firstRow)) * MaxColumns +
         (it.column() - a.firstColumn);
}

// The sum cells: the sum range's first cell with the shape of the range, cut at the
// edge of the sheet, as desktop spreadsheets take them.
SheetArea sumCells(const SheetArea& range, SheetArea sums) {
  sums.lastSheet = static_cast<uint8_t>(std::min(255, sums.firstSheet + (range.lastSheet - range.firstSheet)));
  sums.lastRow = static_cast<uint16_t>(std::min(MaxRows - 1, sums.firstRow + (range.lastRow - range.firstRow)));
  sums.lastColumn =
      static_cast<uint16_t>(std::min(MaxColumns - 1, sums.firstColumn + (range.lastColumn - range.firstColumn)));
  return sums;
}

// Adds numbers and date numbers as Sum does and records the first error met.
struct Total {
  double sum = 0;
  bool anyDate = false;
  bool errorSeen = false;

  void add(const CellValue& value) {
    if (value.isNumeric()) {
      sum += value.number();
      anyDate = anyDate || value.kind == ValueKind::DateTime;
    } else if (value.kind == ValueKind::Error && !errorSeen) {
      errorSeen = true;
      setPendingError(cellError(value));
    }
  }
};

void fnSumif() {
  bool separateSums = argCount() > 2;
  SheetArea sums{};
  if (separateSums) popReference(sums);
  Criterion criterion;
  popCriterion(criterion);
  SheetArea range{};
  popReference(range);
  if (!takePendingError()) return;

  Workbook* workbook = evalState().workbook;
  AreaIterator cells(range, workbook);
  Total total;
  if (!separateSums) {
    while (const CellValue* value = cells.nextValue())
      if (criterion.matches(value)) total.add(*value);
  } else if (sums.book == 0 && !criterion.matchesBlank()) {
    // Only non-blank range cells can match, so each match reads its sum cell directly.
    sums = sumCells(range, sums);
    while (const CellValue* value = cells.nextValue()) {
      if (!criterion.matches(value)) continue;
      int32_t sheet = sums.firstSheet + (cells.sheet() - range.firstSheet);
      int32_t row = sums.firstRow + (cells.row() - range.firstRow);
      int32_t column = sums.firstColumn + (cells.column() - range.firstColumn);
      if (sheet > sums.lastSheet || row > sums.lastRow || column > sums.lastColumn) continue;
      const Sheet* sumSheet = workbook->sheetAt(sheet);
      const CellRecord* addend = sumSheet ? sumSheet->cellPtr(column, row) : nullptr;
      if (addend) total.add(effectiveValue(addend->value));
    }
  } else {
    // Both walks run in the same order over areas of one shape. A range cell with a
    // blank partner adds nothing; a sum cell with a blank partner counts when blanks match.
    sums = sumCells(range, sums);
    AreaIterator addends(sums, workbook);
    constexpr int64_t End = std::numeric_limits<int64_t>::max();
    const CellValue* cell = cells.nextValue();
    int64_t cellAt = cell ? walkPosition(cells, range) : End;
    while (const CellValue* addend = addends.nextValue()) {
      int64_t at = walkPosition(addends, sums);
      while (cellAt < at) {
        cell = cells.nextValue();
        cellAt = cell ? walkPosition(cells, range) : End;
      }
      if (cellAt == at ? criterion.matches(cell) : criterion.matchesBlank()) total.add(*addend);
    }
  }
  if (!takePendingError()) return;
  if (total.anyDate)
    pushDateTime(total.sum);
  else
    pushNumber(total.sum);
}

void fnCountif() {
  Criterion criterion;
  popCriterion(criterion);
  SheetArea range{};
  popReference(range);
  if (!takePendingError()) return;
  AreaIterator cells(range, evalState().workbook);
  double count = 0, walked = 0;
  while (const CellValue* value = cells.nextValue()) {
    ++walked;
    if (criterion.matches(value)) ++count;
  }
  // The walk skips blank cells; they all match or none do.
  if (criterion.matchesBlank()) count += cellCount(range) - walked;
  pushNumber(count);
}

// ----- The conditions on several ranges (CountIfs, SumIfs, AverageIfs) and AverageIf.

// Whole sheets of cells are the most a condition is tested on at once.
constexpr double MostConditionCells = 16.0 * MaxRows * MaxColumns;

bool sameShape(const SheetArea& a, const SheetArea& b) {
  return a.lastSheet - a.firstSheet == b.lastSheet - b.firstSheet && a.lastRow - a.firstRow == b.lastRow - b.firstRow &&
         a.lastColumn - a.firstColumn == b.lastColumn - b.firstColumn;
}

// The place of the iterator's cell among all the area's cells, counted in walk order
// over `shape`'s rows and columns (by default the area's own).
size_t densePosition(const AreaIterator& it, const SheetArea& a, const SheetArea* shape = nullptr) {
  const SheetArea& s = shape ? *shape : a;
  const size_t rows = s.lastRow - s.firstRow + 1u, columns = s.lastColumn - s.firstColumn + 1u;
  return ((size_t(it.sheet() - a.firstSheet) * rows) + size_t(it.row() - a.firstRow)) * columns +
         size_t(it.column() - a.firstColumn);
}

// Pops the pairs of range and criterion (the last pair on top) and gives, for each cell
// of the first range's shape, whether every condition holds; false once the result is
// pushed. Ranges of different shapes are !!Val.
bool popConditions(int32_t pairs, std::vector<uint8_t>& holds, SheetArea& shape) {
  std::vector<std::pair<SheetArea, Criterion>> conditions(static_cast<size_t>(pairs));
  for (size_t i = conditions.size(); i > 0; --i) {
    popCriterion(conditions[i - 1].second);
    popReference(conditions[i - 1].first);
  }
  if (!takePendingError()) return false;
  shape = conditions[0].first;
  for (const auto& condition : conditions)
    if (!sameShape(condition.first, shape)) return pushError(CellError::Value), false;
  if (cellCount(shape) > MostConditionCells) return pushError(CellError::Num), false;
  holds.assign(static_cast<size_t>(cellCount(shape)), 1);
  std::vector<uint8_t> met;
  for (const auto& [range, criterion] : conditions) {
    // Blank cells are never walked: they all meet the condition or none does.
    met.assign(holds.size(), criterion.matchesBlank() ? 1 : 0);
    AreaIterator cells(range, evalState().workbook);
    while (const CellValue* value = cells.nextValue()) met[densePosition(cells, range)] = criterion.matches(value);
    for (size_t i = 0; i < holds.size(); ++i) holds[i] &= met[i];
  }
  return true;
}

void fnCountIfs() {
  if (argCount() % 2) {
    discard(argCount());
    return pushError(CellError::Value);
  }
  std::vector<uint8_t> holds;
  SheetArea shape{};
  if (!popConditions(argCount() / 2, holds, shape)) return;
  pushNumber(static_cast<double>(std::count(holds.begin(), holds.end(), 1)));
}

// Adds the cells of `values` whose conditions hold; `holds` is laid out over `shape`,
// of which the values may be a part cut at the sheet's edge.
Total totalWhere(const SheetArea& values, const SheetArea& shape, const std::vector<uint8_t>& holds, double& count) {
  Total total;
  count = 0;
  AreaIterator cells(values, evalState().workbook);
  while (const CellValue* value = cells.nextValue()) {
    size_t at = densePosition(cells, values, &shape);
    if (at >= holds.size() || !holds[at]) continue;
    if (value->isNumeric()) ++count;
    total.add(*value);
  }
  return total;
}

void pushTotal(const Total& total, double count, bool average) {
  if (!takePendingError()) return;
  double result = total.sum;
  if (average) {
    if (count == 0) return pushError(CellError::Div0);
    result /= count;
  }
  if (total.anyDate)
    pushDateTime(result);
  else
    pushNumber(result);
}

// SumIfs and AverageIfs: the value range first, then the pairs.
void valuesWhere(bool average) {
  const int32_t count = argCount();
  if (count % 2 == 0) {
    discard(count);
    return pushError(CellError::Value);
  }
  std::vector<uint8_t> holds;
  SheetArea shape{};
  bool ok = popConditions((count - 1) / 2, holds, shape);
  SheetArea values{};
  if (!ok) {
    // The result is pushed above the value range.
    CellValue result;
    popValue(result);
    discard(1);
    pushValue(result);
    return;
  }
  popReference(values);
  if (!takePendingError()) return;
  if (!sameShape(values, shape)) return pushError(CellError::Value);
  double n = 0;
  Total total = totalWhere(values, shape, holds, n);
  pushTotal(total, n, average);
}

void fnSumIfs() { valuesWhere(false); }
void fnAverageIfs() { valuesWhere(true); }

void fnAverageIf() {
  SheetArea values{};
  bool separate = argCount() > 2;
  if (separate) popReference(values);
  Criterion criterion;
  popCriterion(criterion);
  SheetArea range{};
  popReference(range);
  if (!takePendingError()) return;
  // The values take the range's shape from their first cell, as Sumif's sums do.
  values = separate ? sumCells(range, values) : range;
  if (cellCount(range) > MostConditionCells) return pushError(CellError::Num);
  std::vector<uint8_t> holds(static_cast<size_t>(cellCount(range)), criterion.matchesBlank() ? 1 : 0);
  AreaIterator cells(range, evalState().workbook);
  while (const CellValue* value = cells.nextValue()) holds[densePosition(cells, range)] = criterion.matches(value);
  double n = 0;
  Total total = totalWhere(values, range, holds, n);
  pushTotal(total, n, true);
}

// ----- Database functions.

// Single cells of an area read through the area walk, so that texts show as the grid
// shows them and cells of other workbooks come through too.
class CellProbe {
 public:
  explicit CellProbe(const SheetArea& area) : m_area(area) {}
  int32_t rows() const { return m_area.lastRow - m_area.firstRow + 1; }
  int32_t columns() const { return m_area.lastColumn - m_area.firstColumn + 1; }
  /// The value at (column, row) counted from the area's first cell, borrowed until the
  /// next call; null for a blank cell.
  const CellValue* at(int32_t column, int32_t row) {
    SheetArea one = m_area;
    one.lastSheet = one.firstSheet;
    one.firstRow = one.lastRow = static_cast<uint16_t>(m_area.firstRow + row);
    one.firstColumn = one.lastColumn = static_cast<uint16_t>(m_area.firstColumn + column);
    m_walk.reset(one, evalState().workbook);
    const CellValue* value = m_walk.nextValue();
    return value && value->kind != ValueKind::Empty ? value : nullptr;
  }

 private:
  SheetArea m_area;
  AreaIterator m_walk;
};

// The database column whose title equals `title` without regard to case, or -1.
int32_t columnTitled(CellProbe& database, const CellValue& title) {
  for (int32_t c = 0; c < database.columns(); ++c) {
    const CellValue* t = database.at(c, 0);
    if (t && compareValues(t, &title, false, false) == 0) return c;
  }
  return -1;
}

// The criteria range, read once: each row is a list of conditions on database columns
// that must all hold, and a record is selected when any row holds.
class Criteria {
 public:
  /// False when a title names no database column, or a condition stands under a
  /// blank title.
  bool read(CellProbe& database, CellProbe& criteria) {
    std::vector<int32_t> columns(static_cast<size_t>(criteria.columns()), -1);
    for (int32_t c = 0; c < criteria.columns(); ++c) {
      const CellValue* title = criteria.at(c, 0);
      if (!title) continue;
      columns[c] = columnTitled(database, *title);
      if (columns[c] < 0) return false;
    }
    for (int32_t r = 1; r < criteria.rows(); ++r) {
      for (int32_t c = 0; c < criteria.columns(); ++c) {
        const CellValue* cell = criteria.at(c, r);
        if (!cell) continue;  // a blank criteria cell sets no condition
        if (columns[c] < 0) return false;
        m_conditions.push_back(Condition{columns[c], {}});
        m_conditions.back().criterion.read(*cell);
      }
      m_rowEnds.push_back(m_conditions.size());
    }
    return true;
  }

  /// Whether the record in row `row` of the database is selected; a criteria range
  /// of titles alone selects every record, as a criteria row of blanks does.
  bool selects(CellProbe& database, int32_t row) const {
    if (m_rowEnds.empty()) return true;
    size_t begin = 0;
    for (size_t end : m_rowEnds) {
      bool all = true;
      for (size_t i = begin; i < end && all; ++i)
        all = m_conditions[i].criterion.matches(database.at(m_conditions[i].column, row));
      if (all) return true;
      begin = end;
    }
    return false;
  }

 private:
  struct Condition {
    int32_t column;
    Criterion criterion;
  };
  std::vector<Condition> m_conditions;
  std::vector<size_t> m_rowEnds;  // where each criteria row's conditions end
};

// In catalogue order, from Dsum at row 111.
enum class Database : uint8_t { Sum, Count, Average, Min, Max, CountA, Product, Stdev, Var, StdevP, VarP, Get };

constexpr int32_t NoField = -1;   // the field names no column: !!Val
constexpr int32_t AnyField = -2;  // a blank field: Dcount and Dcounta count records

// The column the field argument names: a title, or a number counted from 1.
int32_t fieldColumn(CellProbe& database, const CellValue& field, Database kind) {
  switch (field.kind) {
    case ValueKind::Number:
    case ValueKind::Integer: {
      double n = std::trunc(field.kind == ValueKind::Integer ? field.i32() : field.number());
      return n >= 1 && n <= database.columns() ? static_cast<int32_t>(n) - 1 : NoField;
    }
    case ValueKind::Text:
      return columnTitled(database, field);
    case ValueKind::Empty:
      return kind == Database::Count || kind == Database::CountA ? AnyField : NoField;
    default:
      return NoField;
  }
}

void pushResult(Database kind, const lists::Gather& g, double matches, double nonEmpty, bool anyField) {
  switch (kind) {
    case Database::Sum: g.push(g.sum); return;
    case Database::Count: pushNumber(anyField ? matches : g.count); return;
    case Database::CountA: pushNumber(anyField ? matches : nonEmpty); return;
    case Database::Average: lists::pushAverage(g); return;
    case Database::Min: lists::pushExtreme(g, false); return;
    case Database::Max: lists::pushExtreme(g, true); return;
    case Database::Product: lists::pushProduct(g); return;
    case Database::Stdev: lists::pushVariance(g, true, true); return;
    case Database::Var: lists::pushVariance(g, true, false); return;
    case Database::StdevP: lists::pushVariance(g, false, true); return;
    default: lists::pushVariance(g, false, false); return;
  }
}

// The one routine behind the twelve database functions (database, field, criteria).
// The aggregates take the kinds their list siblings take: Dsum, Daverage, Dmin and
// Dmax numbers and dates, the others numbers alone; errors met are recorded, except
// by the counts.
void database(Database kind) {
  SheetArea criteriaArea{}, databaseArea{};
  popReference(criteriaArea);
  CellValue field;
  popResolved(field);
  if (field.kind == ValueKind::Error) setPendingError(cellError(field));
  popReference(databaseArea);
  if (!takePendingError()) {
    releaseValue(field);
    return;
  }
  if (databaseArea.firstSheet != databaseArea.lastSheet || criteriaArea.firstSheet != criteriaArea.lastSheet) {
    releaseValue(field);
    pushError(CellError::Ref);
    return;
  }
  CellProbe records(databaseArea), conditions(criteriaArea);
  int32_t column = fieldColumn(records, field, kind);
  releaseValue(field);
  Criteria criteria;
  if (column == NoField || !criteria.read(records, conditions)) {
    pushError(CellError::Value);
    return;
  }

  lists::Classify classify = kind == Database::Sum || kind == Database::Average || kind == Database::Min ||
                                     kind == Database::Max
                                 ? lists::numberOrDate
                                 : lists::plainNumber;
  bool recordErrors = kind != Database::Count && kind != Database::CountA && kind != Database::Get;
  lists::Gather g;
  double matches = 0, nonEmpty = 0;
  bool errorSeen = false;
  CellValue found = emptyValue();  // Dget's value
  for (int32_t row = 1; row < records.rows(); ++row) {
    if (!criteria.selects(records, row)) continue;
    ++matches;
    if (column == AnyField) continue;
    const CellValue* value = records.at(column, row);
    if (!value) continue;
    ++nonEmpty;
    if (kind == Database::Get) {
      if (matches == 1) copyValue(*value, found);
      continue;
    }
    if (recordErrors && value->kind == ValueKind::Error && !errorSeen) {
      errorSeen = true;
      setPendingError(cellError(*value));
    }
    g.add(classify(*value, false));
  }
  if (kind == Database::Get) {
    // One record must match, and its field must hold something.
    if (matches != 1 || found.kind == ValueKind::Empty) {
      releaseValue(found);
      pushError(matches > 1 ? CellError::Num : CellError::Value);
      return;
    }
    pushValue(found);
    return;
  }
  if (!takePendingError()) return;
  pushResult(kind, g, matches, nonEmpty, column == AnyField);
}

void fnDsum() { database(Database::Sum); }
void fnDcount() { database(Database::Count); }
void fnDaverage() { database(Database::Average); }
void fnDmin() { database(Database::Min); }
void fnDmax() { database(Database::Max); }
void fnDcounta() { database(Database::CountA); }
void fnDproduct() { database(Database::Product); }
void fnDstdev() { database(Database::Stdev); }
void fnDvar() { database(Database::Var); }
void fnDstdevp() { database(Database::StdevP); }
void fnDvarp() { database(Database::VarP); }
void fnDget() { database(Database::Get); }

}  // namespace

std::span<const FunctionBinding> databaseBindings() {
  static constexpr FunctionBinding bindings[] = {
      {111, fnDsum},     {112, fnDcount},  {113, fnDaverage}, {114, fnDmin},    {115, fnDmax},
      {116, fnDcounta},  {117, fnDproduct}, {118, fnDstdev},  {119, fnDvar},    {120, fnDstdevp},
      {121, fnDvarp},    {122, fnDget},    {123, fnSumif},    {124, fnCountif},
      {328, fnCountIfs}, {329, fnSumIfs}, {330, fnAverageIf}, {331, fnAverageIfs},
  };
  return bindings;
}

}  // namespace kelp
