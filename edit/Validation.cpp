// Data validation: finding and testing rules, the alert of a refused entry, the rule
// list's changes, command functions 244, 245, 248 and 249 and the Validation command.
#include "edit/Validation.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "edit/CommandSupport.h"
#include "edit/Commands.h"
#include "files/NativeFormat.h"
#include "format/ValueText.h"
#include "formula/Evaluator.h"
#include "formula/Recalc.h"
#include "model/FormulaTable.h"
#include "model/HandlePool.h"
#include "model/Style.h"
#include "model/Workbook.h"
#include "platform/Locale.h"
#include "platform/ErrorState.h"
#include "platform/StringTable.h"

namespace kelp {

namespace {

namespace ValidationText {
constexpr int Validation = 4068, NotValid = 4069, Title = 4070, Continue = 4072;
}

// What one call of 244 carries before its list items and areas: flags, four texts, two
// formulas and the item count.
constexpr int HeaderArguments = 8;
constexpr int MaxArguments = 255;
constexpr int32_t ContinueRule = -1;

ValidationAlertFn g_alert = nullptr;

void releaseRule(ValidationRule& rule) {
  formulaPool().release(rule.formula1);
  formulaPool().release(rule.formula2);
  rule.formula1 = rule.formula2 = NoHandle;
}

std::u16string_view trimmed(std::u16string_view text) {
  size_t first = text.find_first_not_of(u' ');
  if (first == std::u16string_view::npos) return {};
  size_t last = text.find_last_not_of(u' ');
  return text.substr(first, last - first + 1);
}

// The text a value shows without a number format, as a typed entry is compared.
std::u16string plainText(const CellValue& value) {
  if (value.kind == ValueKind::Text) return std::u16string(textOf(value));
  std::u16string out;
  valueToText(value, out);
  return out;
}

// A bound of a comparison read as a number; false when it is no number (an error, or
// a text that does not read as one), which fails the test.
bool boundOf(Workbook& workbook, uint32_t tokens, CellPosition at, double& out) {
  out = 0;
  if (tokens == NoHandle) return true;
  CellValue value;
  if (!evaluateStandalone(workbook, tokens, at, value)) return false;
  bool good = true;
  switch (value.kind) {
    case ValueKind::Number:
    case ValueKind::DateTime:
      out = value.number();
      break;
    case ValueKind::Integer:
      out = value.i32();
      break;
    case ValueKind::Logical:
      out = value.u32() ? 1 : 0;
      break;
    case ValueKind::Empty:
      break;
    case ValueKind::Text:
      good = textToNumber(textOf(value), out);
      break;
    default:
      good = false;
  }
  releaseValue(value);
  return good;
}

bool compareBounds(Workbook& workbook, const ValidationRule& rule, CellPosition at, double x) {
  double low, high = 0;
  if (!boundOf(workbook, rule.formula1, at, low)) return false;
  const ValidationOperator op = ruleOperator(rule);
  if ((op == ValidationOperator::Between || op == ValidationOperator::NotBetween) &&
      !boundOf(workbook, rule.formula2, at, high))
    return false;
  switch (op) {
    case ValidationOperator::Between: return x >= low && x <= high;
    case ValidationOperator::NotBetween: return x < low || x > high;
    case ValidationOperator::Equal: return x == low;
    case ValidationOperator::NotEqual: return x != low;
    case ValidationOperator::Greater: return x > low;
    case ValidationOperator::Less: return x < low;
    case ValidationOperator::AtLeast: return x >= low;
    case ValidationOperator::AtMost: return x <= low;
  }
  return false;
}

// A list taken from cells: a text matches a cell's displayed text, anything else a
// cell's value; a formula cell takes part with its cached result.
// Calls `visit(value, display)` for each filled cell of a list rule's source range, row by
// row, until it returns true; false when the range does not read or no call returned true.
template <class Visit>
bool visitListCells(Workbook& workbook, const ValidationRule& rule, CellPosition at, Visit visit) {
  SheetArea area{};
  if (!evaluateReference(workbook, rule.formula1, at, area) || area.book != 0) return false;
  for (int32_t s = area.firstSheet; s <= area.lastSheet; ++s) {
    const Sheet* sheet = workbook.sheetAt(s);
    if (!sheet) continue;
    for (int32_t r = sheet->nextRow(area.firstRow - 1); r <= area.lastRow && r < NoRow; r = sheet->nextRow(r)) {
      const Row* row = sheet->rowAt(r);
      const int32_t end = std::min<int32_t>(row->cells.size() - 1, area.lastColumn);
      for (int32_t c = std::max<int32_t>(row->firstColumn(), area.firstColumn); c <= end; ++c) {
        const CellValue& shown = effectiveValue(row->cells[c].value);
        if (shown.kind == ValueKind::Empty) continue;
        const auto display = [&] {
          std::u16string text;
          displayText(shown, workbook.numberFormats, workbook.style(sheet->effectiveStyle(c, r)).numberFormat,
                      NoWidthLimit, nullptr, text);
          return text;
        };
        if (visit(shown, display)) return true;
      }
    }
  }
  return false;
}

bool inCellList(Workbook& workbook, const ValidationRule& rule, CellPosition at, const CellValue& value) {
  const bool text = value.kind == ValueKind::Text;
  const std::u16string_view wanted = text ? textOf(value) : std::u16string_view();
  return visitListCells(workbook, rule, at, [&](const CellValue& shown, const auto& display) {
    return text ? display() == wanted : valuesEqual(shown, value);
  });
}

}  // namespace

std::vector<std::u16string> listEntries(Workbook& workbook, const ValidationRule& rule, CellPosition at) {
  if (rule.flags & ValidationFlag::ExplicitList) return rule.list;
  std::vector<std::u16string> out;
  (void)visitListCells(workbook, rule, at, [&](const CellValue&, const auto& display) {
    out.push_back(display());
    return false;
  });
  return out;
}

std::vector<std::u16string> splitDelimitedList(std::u16string_view text) {
  const char16_t separator = currentLocale().listSeparator;
  std::vector<std::u16string> out;
  size_t start = 0;
  for (size_t at = 0; at <= text.size(); ++at) {
    if (at == text.size() || text[at] == separator) {
      out.emplace_back(text.substr(start, at - start));
      start = at + 1;
    }
  }
  return out;
}

namespace {

bool inExplicitList(const ValidationRule& rule, const CellValue& value) {
  if (rule.list.empty()) return true;
  const std::u16string text = plainText(value);
  const std::u16string_view wanted = trimmed(text);
  for (const std::u16string& item : rule.list)
    if (trimmed(item) == wanted) return true;
  return false;
}

// The custom rule reads the candidate in its cell: it is written there, the workbook
// recalculated and the rule evaluated; then what the cell held goes back (a formula as
// a copy of itself with its cached result, the style as it was) and the workbook is
// recalculated again. The sheet is written directly, so the undo list never sees it.
bool customRule(Workbook& workbook, const ValidationRule& rule, CellPosition at, const CellValue& value) {
  Sheet* sheet = workbook.sheetAt(at.sheet);
  if (!sheet || rule.formula1 == NoHandle) return false;
  CellRecord old{emptyValue(), -1};
  const bool hadSlot = sheet->cellPtr(at.column, at.row) != nullptr;
  if (hadSlot) sheet->getCell(at.column, at.row, old);
  CellValue kept = emptyValue(), trial = emptyValue();
  copyFormulaValue(old.value, kept);
  copyValue(value, trial);
  if (kept.kind != old.value.kind || trial.kind != value.kind) {
    releaseValue(kept);
    releaseValue(trial);
    return false;
  }
  bool pass = false;
  if (sheet->setCell(at.column, at.row, CellRecord{trial, old.style})) {
    recalculateAll(workbook);
    CellValue result;
    if (evaluateStandalone(workbook, rule.formula1, at, result)) {
      pass = result.kind == ValueKind::Logical && result.u32() != 0;
      releaseValue(result);
    }
  } else {
    releaseValue(trial);
  }
  // The slot takes back its old record; one made only for the trial is left blank.
  if (!sheet->setCell(at.column, at.row, hadSlot ? CellRecord{kept, old.style} : blankCell())) releaseValue(kept);
  recalculateAll(workbook);
  return pass;
}

// The value an entry is tested by: a formula's result at its cell, else the value.
CellValue candidateOf(Workbook& workbook, const CellValue& value, CellPosition at) {
  if (value.kind != ValueKind::Formula) {
    CellValue copy;
    copyValue(value, copy);
    return copy;
  }
  CellValue result = emptyValue();
  if (!evaluateStandalone(workbook, formulaTableOf(value).tokens(value.u32()), at, result))
    return errorValue(CellError::Value);
  return result;
}

bool validArea(int64_t firstRow, int64_t firstColumn, int64_t lastRow, int64_t lastColumn) {
  return firstRow >= 0 && firstRow <= lastRow && lastRow < MaxRows && firstColumn >= 0 && firstColumn <= lastColumn &&
         lastColumn < MaxColumns;
}

// The parts of `a` outside `cut`, which overlaps it: the rows above and below, then left
// and right of the cut within its rows.
void appendOutside(const Area& a, const Area& cut, std::vector<Area>& out) {
  const uint16_t top = std::max(a.firstRow, cut.firstRow), bottom = std::min(a.lastRow, cut.lastRow);
  if (a.firstRow < cut.firstRow)
    out.push_back(Area{a.firstRow, a.firstColumn, static_cast<uint16_t>(cut.firstRow - 1), a.lastColumn});
  if (a.firstColumn < cut.firstColumn)
    out.push_back(Area{top, a.firstColumn, bottom, static_cast<uint16_t>(cut.firstColumn - 1)});
  if (a.lastColumn > cut.lastColumn)
    out.push_back(Area{top, static_cast<uint16_t>(cut.lastColumn + 1), bottom, a.lastColumn});
  if (a.lastRow > cut.lastRow)
    out.push_back(Area{static_cast<uint16_t>(cut.lastRow + 1), a.firstColumn, a.lastRow, a.lastColumn});
}

// Cuts `area` out of every entry's areas, leaving entries without areas in place.
void cutAreas(Sheet& sheet, const Area& area) {
  for (ValidationEntry& entry : sheet.validations) {
    if (std::none_of(entry.areas.begin(), entry.areas.end(), [&](const Area& a) { return a.overlaps(area); }))
      continue;
    std::vector<Area> kept;
    for (const Area& a : entry.areas) {
      if (a.overlaps(area)) appendOutside(a, area, kept);
      else kept.push_back(a);
    }
    entry.areas = std::move(kept);
  }
}

void dropEmptyEntries(Sheet& sheet) {
  auto& list = sheet.validations;
  for (size_t i = list.size(); i-- > 0;)
    if (list[i].areas.empty()) {
      releaseRule(list[i].rule);
      list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

// Pushes a rule as calls of 244: the settings, then its list items and areas in as many
// calls as their count needs, each later call continuing the rule (flags -1). False
// with error 15 when a formula value could not be made.
bool pushRule(ProgramBuilder& b, const ValidationEntry& entry) {
  const ValidationRule& rule = entry.rule;
  const size_t items = rule.list.size(), areas = entry.areas.size();
  const size_t budget = MaxArguments - HeaderArguments;
  size_t item = 0, area = 0;
  for (bool first = true; first || item < items || area < areas; first = false) {
    const size_t itemCount = std::min(items - item, budget);
    const size_t areaCount = std::min(areas - area, (budget - itemCount) / 4);
    if (first) {
      // A number carries every flag word a file may hold, high bit included.
      b.number(rule.flags)
          .text(rule.errorTitle)
          .text(rule.errorMessage)
          .text(rule.inputTitle)
          .text(rule.inputMessage);
      for (uint32_t handle : {rule.formula1, rule.formula2}) {
        CellValue formula = emptyValue();
        if (handle != NoHandle) {
          formula = newFormulaValue(formulaPool().addRef(handle), CellPosition{});
          if (formula.kind != ValueKind::Formula) {
            formulaPool().release(handle);
            return false;
          }
        }
        b.value(formula);
        releaseValue(formula);
      }
    } else {
      b.integer(ContinueRule).text(u"").text(u"").text(u"").text(u"").value(emptyValue()).value(emptyValue());
    }
    b.integer(static_cast<int32_t>(itemCount));
    for (size_t i = 0; i < itemCount; ++i) b.text(rule.list[item + i]);
    for (size_t i = 0; i < areaCount; ++i) {
      const Area& a = entry.areas[area + i];
      b.smallInteger(a.firstRow).smallInteger(a.firstColumn).smallInteger(a.lastRow).smallInteger(a.lastColumn);
    }
    b.call(CommandFunction::AddRule, HeaderArguments + static_cast<int>(itemCount + 4 * areaCount));
    item += itemCount;
    area += areaCount;
  }
  return true;
}

using command::activeSheet;
using command::book;
using command::done;
using command::refuse;

bool integerOf(const CellValue& value, int64_t& out) {
  if (value.kind == ValueKind::Integer) {
    out = value.i32();
    return true;
  }
  if (value.kind != ValueKind::Number || value.number() != std::trunc(value.number()) ||
      std::fabs(value.number()) > 4294967295.0)
    return false;
  out = static_cast<int64_t>(value.number());
  return true;
}

bool textArgument(const CellValue& value, std::u16string& out) {
  if (value.kind == ValueKind::Empty) return true;
  if (value.kind != ValueKind::Text) return false;
  out = std::u16string(textOf(value));
  return true;
}

// A formula argument: a formula value's token string or nothing; false for anything else.
bool formulaArgument(const CellValue& value, uint32_t& handle) {
  handle = NoHandle;
  if (value.kind == ValueKind::Empty) return true;
  if (value.kind != ValueKind::Formula) return false;
  handle = formulaTableOf(value).tokens(value.u32());
  return handle != NoHandle;
}

}  // namespace

// ----- Finding and testing.

int32_t findRule(const Sheet& sheet, int32_t column, int32_t row) {
  for (size_t i = sheet.validations.size(); i-- > 0;)
    for (const Area& a : sheet.validations[i].areas)
      if (a.contains(column, row)) return static_cast<int32_t>(i);
  return -1;
}

bool evaluateStandalone(Workbook& workbook, uint32_t tokens, CellPosition at, CellValue& out) {
  out = emptyValue();
  if (tokens == NoHandle || !formulaPool().isLive(tokens)) return false;
  return evaluateTokens(static_cast<const uint8_t*>(formulaPool().data(tokens)), workbook, at, true, out);
}

bool evaluateReference(Workbook& workbook, uint32_t tokens, CellPosition at, SheetArea& out) {
  if (tokens == NoHandle || !formulaPool().isLive(tokens)) return false;
  CellValue value;
  if (!evaluateTokens(static_cast<const uint8_t*>(formulaPool().data(tokens)), workbook, at, false, value))
    return false;
  if (!referenceArea(value, at.sheet, out)) {
    releaseValue(value);
    return false;
  }
  return true;
}

bool checkValue(Workbook& workbook, const ValidationRule& rule, CellPosition at, const CellValue& value) {
  const ValidationType type = ruleType(rule);
  if (type == ValidationType::Any || type > ValidationType::Custom) return true;
  if ((rule.flags & ValidationFlag::IgnoreBlank) && value.kind == ValueKind::Empty) return true;
  switch (type) {
    case ValidationType::Integer:
    case ValidationType::Decimal:
      if (value.kind != ValueKind::Number) return false;
      if (type == ValidationType::Integer && value.number() != std::trunc(value.number())) return false;
      return compareBounds(workbook, rule, at, value.number());
    case ValidationType::List:
      if (rule.flags & ValidationFlag::ExplicitList) return inExplicitList(rule, value);
      return inCellList(workbook, rule, at, value);
    case ValidationType::Date:
    case ValidationType::Time:
      return value.kind == ValueKind::DateTime && compareBounds(workbook, rule, at, value.number());
    case ValidationType::TextLength:
      return value.kind == ValueKind::Text && compareBounds(workbook, rule, at, static_cast<double>(textOf(value).size()));
    case ValidationType::Custom:
      return customRule(workbook, rule, at, value);
    default:
      return true;
  }
}

std::u16string ValidationAlert::shownText() const {
  return style == AlertStyle::Warning ? message + std::u16string(loadString(ValidationText::Continue)) : message;
}

void installValidationAlert(ValidationAlertFn fn) { g_alert = fn; }

bool validateEntry(Workbook& workbook, int32_t sheetIndex, int32_t column, int32_t row, const CellValue& value) {
  Sheet* sheet = workbook.sheetAt(sheetIndex);
  if (!sheet) return true;
  const int32_t index = findRule(*sheet, column, row);
  if (index < 0) return true;
  const CellPosition at{static_cast<uint16_t>(column), static_cast<uint16_t>(row), static_cast<uint16_t>(sheetIndex)};
  CellValue candidate = candidateOf(workbook, value, at);
  const ValidationRule& governing = sheet->validations[static_cast<size_t>(index)].rule;
  const bool pass = checkValue(workbook, governing, at, candidate);
  releaseValue(candidate);
  if (pass) return true;
  if (!(governing.flags & ValidationFlag::ErrorAlert)) return true;
  ValidationAlert alert{ruleAlertStyle(governing),
                        governing.errorTitle.empty() ? std::u16string(loadString(ValidationText::Title)) : governing.errorTitle,
                        governing.errorMessage.empty() ? std::u16string(loadString(ValidationText::NotValid))
                                                       : governing.errorMessage};
  if (alert.style > AlertStyle::Information) alert.style = AlertStyle::Stop;
  if (!g_alert) return false;
  const bool accepted = g_alert(alert);
  return alert.style != AlertStyle::Stop && accepted;
}

// ----- The rule list.

bool removeRules(Sheet& sheet, int32_t index) {
  auto& list = sheet.validations;
  if (index == -1) {
    for (ValidationEntry& entry : list) releaseRule(entry.rule);
    list.clear();
    return true;
  }
  if (index < 0 || static_cast<size_t>(index) >= list.size()) return false;
  releaseRule(list[static_cast<size_t>(index)].rule);
  list.erase(list.begin() + index);
  return true;
}

bool clearRulesIn(Sheet& sheet, const Area& area) {
  cutAreas(sheet, area);
  dropEmptyEntries(sheet);
  return true;
}

bool rulesTouch(const Sheet& sheet, const Area& area) {
  for (const ValidationEntry& entry : sheet.validations)
    for (const Area& a : entry.areas)
      if (a.overlaps(area)) return true;
  return false;
}

bool extendRules(Sheet& sheet, const Area& area, bool down) {
  const int32_t lines = down ? area.lastColumn - area.firstColumn + 1 : area.lastRow - area.firstRow + 1;
  if ((down ? area.lastRow == area.firstRow : area.lastColumn == area.firstColumn) || sheet.validations.empty())
    return true;
  // The first cells' rules are found before the filled cells lose theirs; cutting keeps
  // every entry in its place, so the indexes hold until the empty ones go at the end.
  std::vector<int32_t> rules(static_cast<size_t>(lines));
  for (int32_t i = 0; i < lines; ++i)
    rules[static_cast<size_t>(i)] = down ? findRule(sheet, area.firstColumn + i, area.firstRow)
                                         : findRule(sheet, area.firstColumn, area.firstRow + i);
  const Area filled = down ? Area{static_cast<uint16_t>(area.firstRow + 1), area.firstColumn, area.lastRow,
                                  area.lastColumn}
                           : Area{area.firstRow, static_cast<uint16_t>(area.firstColumn + 1), area.lastRow,
                                  area.lastColumn};
  cutAreas(sheet, filled);
  // Neighbouring lines under one rule share one area.
  for (int32_t i = 0; i < lines;) {
    const int32_t rule = rules[static_cast<size_t>(i)];
    int32_t end = i;
    while (end + 1 < lines && rules[static_cast<size_t>(end + 1)] == rule) ++end;
    if (rule >= 0) {
      Area part = filled;
      if (down) {
        part.firstColumn = static_cast<uint16_t>(area.firstColumn + i);
        part.lastColumn = static_cast<uint16_t>(area.firstColumn + end);
      } else {
        part.firstRow = static_cast<uint16_t>(area.firstRow + i);
        part.lastRow = static_cast<uint16_t>(area.firstRow + end);
      }
      sheet.validations[static_cast<size_t>(rule)].areas.push_back(part);
    }
    i = end + 1;
  }
  dropEmptyEntries(sheet);
  return true;
}

// ----- Programs and command functions.

ProgramBuilder& ProgramBuilder::restoreValidations(const Sheet& sheet) {
  selectSheet(sheet.index).integer(-1).call(CommandFunction::RemoveRules);
  // An entry without areas governs nothing, and files leave it out.
  for (const ValidationEntry& entry : sheet.validations)
    if (!entry.areas.empty() && !pushRule(*this, entry)) m_failed = true;
  return *this;
}

// 244: flags (-1: more items and areas for the last rule), error title, error message,
// input title, input message, formula 1 and 2 (formula values or empty), the number of
// list items, the items, then first row, first column, last row, last column of each area.
void commandAddRule() {
  const int count = argCount();
  std::vector<CellValue> args(static_cast<size_t>(count));
  for (int i = count; i-- > 0;) popValue(args[static_cast<size_t>(i)]);
  auto finish = [&](bool good) {
    for (CellValue& value : args) releaseValue(value);
    good ? done() : refuse();
  };
  Sheet* sheet = activeSheet();
  int64_t flags = 0, items = 0;
  if (!sheet || count < HeaderArguments || !integerOf(args[0], flags) || !integerOf(args[7], items) || items < 0 ||
      items > count - HeaderArguments || (count - HeaderArguments - items) % 4 != 0)
    return finish(false);
  ValidationEntry entry;
  ValidationRule& rule = entry.rule;
  uint32_t formulas[2];
  if (flags < ContinueRule || flags > 0xFFFFFFFFll || !textArgument(args[1], rule.errorTitle) ||
      !textArgument(args[2], rule.errorMessage) || !textArgument(args[3], rule.inputTitle) ||
      !textArgument(args[4], rule.inputMessage) || !formulaArgument(args[5], formulas[0]) ||
      !formulaArgument(args[6], formulas[1]))
    return finish(false);
  for (int64_t i = 0; i < items; ++i) {
    rule.list.emplace_back();
    if (!textArgument(args[static_cast<size_t>(HeaderArguments + i)], rule.list.back())) return finish(false);
  }
  for (size_t i = static_cast<size_t>(HeaderArguments + items); i < args.size(); i += 4) {
    int64_t corner[4];
    for (int k = 0; k < 4; ++k)
      if (!integerOf(args[i + static_cast<size_t>(k)], corner[k])) return finish(false);
    if (!validArea(corner[0], corner[1], corner[2], corner[3])) return finish(false);
    entry.areas.push_back(Area{static_cast<uint16_t>(corner[0]), static_cast<uint16_t>(corner[1]),
                               static_cast<uint16_t>(corner[2]), static_cast<uint16_t>(corner[3])});
  }
  if (flags == ContinueRule) {
    if (sheet->validations.empty()) return finish(false);
    ValidationEntry& last = sheet->validations.back();
    last.rule.list.insert(last.rule.list.end(), rule.list.begin(), rule.list.end());
    last.areas.insert(last.areas.end(), entry.areas.begin(), entry.areas.end());
    return finish(true);
  }
  rule.flags = static_cast<uint32_t>(flags);
  // The values popped are copies that go with `args`; the rule takes references of its own.
  rule.formula1 = formulas[0] != NoHandle ? formulaPool().addRef(formulas[0]) : NoHandle;
  rule.formula2 = formulas[1] != NoHandle ? formulaPool().addRef(formulas[1]) : NoHandle;
  sheet->validations.push_back(std::move(entry));
  finish(true);
}

// 245: index of the rule to remove, -1 for every rule of the sheet.
void commandRemoveRules() {
  const int32_t index = popInteger();
  Sheet* sheet = activeSheet();
  if (!sheet || !removeRules(*sheet, index)) return refuse();
  done();
}

// 248 and 249: the selection's first row (column) passes its cells' rules down (right).
void extendSelectionRules(bool down) {
  Sheet* sheet = activeSheet();
  if (!sheet) return refuse();
  extendRules(*sheet, sheet->selection.area(), down);
  done();
}
void commandRulesDown() { extendSelectionRules(true); }
void commandRulesRight() { extendSelectionRules(false); }

// ----- Commands.

bool setValidationCommand(Workbook& workbook, UndoList& undo, const ValidationRule& rule) {
  Sheet* sheet = workbook.activeSheet();
  if (!sheet) return false;
  const int32_t sheetIndex = workbook.activeSheetIndex();
  // A rule the workbook's file could not hold is refused now rather than at the next save.
  if (nativeRuleBytes(rule, 1) > MaxNativeRecord) {
    setError(Err::FormulaTooComplex);
    return false;
  }
  const Area area = sheet->selection.area();
  ValidationEntry entry{rule, {area}};
  ProgramBuilder redo;
  redo.selectSheet(sheetIndex)
      .select(area)
      .smallInteger(static_cast<uint16_t>(ClearMode::Validation))
      .call(CommandFunction::Clear);
  if (!pushRule(redo, entry)) return false;
  ProgramBuilder back;
  back.restoreValidations(*sheet).select(area);
  CommandProgram redoDone = redo.finish(), undoDone = back.finish();
  if (!redoDone.valid() || !undoDone.valid()) return false;
  return undo.recordUndo(workbook, std::move(undoDone), std::move(redoDone), std::u16string(loadString(ValidationText::Validation)),
                         true);
}

}  // namespace kelp
