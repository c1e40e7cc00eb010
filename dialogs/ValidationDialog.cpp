// The Data Validation property sheet.
#include "dialogs/ValidationDialog.h"

#include <charconv>
#include <string>
#include <vector>

#include "dialogs/Form.h"
#include "edit/Commands.h"
#include "edit/Validation.h"
#include "formula/Compiler.h"
#include "formula/EntryReader.h"
#include "formula/FormulaText.h"
#include "model/HandlePool.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Locale.h"
#include "platform/StringTable.h"

namespace kelp {

namespace {

constexpr int TypeList = 1076, OperatorList = 1097, Value1 = 1053, Value2 = 1099;
constexpr int IgnoreBlank = 1084, ComboBox = 1085, ApplyToAll = 1086;
constexpr int ErrorTitle = 1031, ErrorMessage = 1057, ErrorStyle = 1054, ShowAlert = 1087;
constexpr int InputTitle = 1058, InputMessage = 1059, ShowInput = 1088;
constexpr int SheetTitle = 2800, FirstType = 2801, FirstOperator = 2810, FirstStyle = 2820;
constexpr int MinimumLabel = 2830, MaximumLabel = 2831, SourceLabel = 2832, StartDateLabel = 2833,
              EndDateLabel = 2834, StartTimeLabel = 2835, EndTimeLabel = 2836, FormulaLabel = 2837,
              ValueLabel = 2838;
constexpr int EnterNumber = 2740;
constexpr size_t MaxTitle = 32, MaxMessage = 255;

std::vector<std::u16string> strings(int first, int count) {
  std::vector<std::u16string> out;
  for (int i = 0; i < count; ++i) out.emplace_back(loadString(first + i));
  return out;
}

bool twoValues(ValidationOperator op) { return op == ValidationOperator::Between || op == ValidationOperator::NotBetween; }

// The labels of the two value fields for a type and operator; an empty second label means
// the second field is not used.
std::pair<int, int> valueLabels(ValidationType type, ValidationOperator op) {
  switch (type) {
    case ValidationType::Any: return {ValueLabel, 0};
    case ValidationType::List: return {SourceLabel, 0};
    case ValidationType::Custom: return {FormulaLabel, 0};
    case ValidationType::Date: return twoValues(op) ? std::pair{StartDateLabel, EndDateLabel} : std::pair{ValueLabel, 0};
    case ValidationType::Time: return twoValues(op) ? std::pair{StartTimeLabel, EndTimeLabel} : std::pair{ValueLabel, 0};
    default: return twoValues(op) ? std::pair{MinimumLabel, MaximumLabel} : std::pair{ValueLabel, 0};
  }
}

// A rule formula as the field shows it: a constant without its "=".
std::u16string valueText(const Workbook& book, uint32_t handle, CellPosition at) {
  std::u16string out = handleFormulaText(book, handle, at);
  const CellValue read = readEntry(nullptr, std::u16string_view(out).substr(out.empty() ? 0 : 1), at, nullptr, true);
  if (read.kind == ValueKind::Number) out.erase(0, 1);
  return out;
}

// What a value field means as a rule formula: a formula as typed, or an entry (a
// number, date or time as the cell would read it) as its constant.
// A value that is none leaves the error state clear for a number, or holds error 32 for
// a date or time.
uint32_t ruleFormula(Workbook& book, const std::u16string& text, CellPosition at, ValidationType type) {
  if (!text.empty() && text[0] == u'=') return compileToHandle(book, text, at, false);
  const CellValue read = readEntry(nullptr, text, at, nullptr, true);
  if (read.kind != ValueKind::Number) {
    if (type == ValidationType::Date || type == ValidationType::Time) setError(Err::InvalidDateTime);
    return NoHandle;
  }
  char digits[32];
  auto end = std::to_chars(digits, digits + sizeof digits, read.number()).ptr;
  std::u16string constant = u"=";
  for (char* p = digits; p != end; ++p) constant += *p == '.' ? currentLocale().decimalSymbol : static_cast<char16_t>(*p);
  return compileToHandle(book, constant, at, false);
}

std::u16string joinList(const std::vector<std::u16string>& items) {
  std::u16string out;
  const char16_t separator = currentLocale().listSeparator;
  for (size_t i = 0; i < items.size(); ++i) out += (i ? std::u16string(1, separator) : u"") + items[i];
  return out;
}

}  // namespace

bool runValidationDialog(Desktop& desktop, Workbook& workbook, UndoList& undo) {
  Sheet* sheet = workbook.activeSheet();
  if (!sheet) return false;
  const Selection& sel = sheet->selection;
  const CellPosition at{static_cast<uint16_t>(sel.activeColumn), static_cast<uint16_t>(sel.activeRow),
                        static_cast<uint16_t>(workbook.activeSheetIndex())};
  const int32_t existing = findRule(*sheet, sel.activeColumn, sel.activeRow);

  FormValues values;
  values.check[ShowAlert] = true;
  values.check[ShowInput] = true;
  values.check[IgnoreBlank] = true;
  values.check[ComboBox] = true;
  if (existing >= 0) {
    const ValidationRule& rule = sheet->validations[static_cast<size_t>(existing)].rule;
    values.choice[TypeList] = static_cast<int>(ruleType(rule));
    values.choice[OperatorList] = static_cast<int>(ruleOperator(rule));
    values.choice[ErrorStyle] = static_cast<int>(ruleAlertStyle(rule));
    values.text[Value1] = (rule.flags & ValidationFlag::ExplicitList) ? joinList(rule.list)
                                                                      : valueText(workbook, rule.formula1, at);
    values.text[Value2] = valueText(workbook, rule.formula2, at);
    values.check[IgnoreBlank] = rule.flags & ValidationFlag::IgnoreBlank;
    values.check[ComboBox] = !(rule.flags & ValidationFlag::NoDropDown);
    values.check[ShowAlert] = rule.flags & ValidationFlag::ErrorAlert;
    values.check[ShowInput] = rule.flags & ValidationFlag::InputMessage;
    values.text[ErrorTitle] = rule.errorTitle;
    values.text[ErrorMessage] = rule.errorMessage;
    values.text[InputTitle] = rule.inputTitle;
    values.text[InputMessage] = rule.inputMessage;
  }

  Form form{std::u16string(loadString(SheetTitle)), {}, nullptr, nullptr};
  form.help = u"data_val";
  form.pages = {
      {u"Validation Criteria",
       {choiceField(TypeList, u"Allow:", strings(FirstType, 8)), choiceField(OperatorList, u"Data:", strings(FirstOperator, 8)),
        textField(Value1, std::u16string(loadString(MinimumLabel)), MaxMessage),
        textField(Value2, std::u16string(loadString(MaximumLabel)), MaxMessage), checkField(IgnoreBlank, u"Ignore blank"),
        checkField(ComboBox, u"Combo box"),
        checkField(ApplyToAll, u"Apply to all cells with the same criteria")}},
      {u"Error Alert",
       {textField(ErrorTitle, u"Title:", MaxTitle), textField(ErrorMessage, u"Message:", MaxMessage),
        choiceField(ErrorStyle, u"Style:", strings(FirstStyle, 3)),
        checkField(ShowAlert, u"Show alert after invalid data is entered")}},
      {u"Input Help",
       {textField(InputTitle, u"Title:", MaxTitle), textField(InputMessage, u"Message:", MaxMessage),
        checkField(ShowInput, u"Show message when cell is selected")}},
  };
  form.update = [&](FormDialog& dialog, const FormValues& v) {
    const auto type = static_cast<ValidationType>(v.choice.at(TypeList));
    const auto op = static_cast<ValidationOperator>(v.choice.at(OperatorList));
    const bool ordered = type != ValidationType::Any && type != ValidationType::List && type != ValidationType::Custom;
    const auto [first, second] = valueLabels(type, op);
    dialog.setNote(Value1, loadString(first));
    if (second) dialog.setNote(Value2, loadString(second));
    dialog.enableField(OperatorList, ordered);
    dialog.enableField(Value1, type != ValidationType::Any);
    dialog.enableField(Value2, ordered && second != 0);
    dialog.enableField(ComboBox, type == ValidationType::List);
    dialog.enableField(IgnoreBlank, type != ValidationType::Any);
    dialog.enableField(ApplyToAll, existing >= 0);
  };
  form.accept = [&](FormDialog& dialog, const FormValues& v) {
    const auto type = static_cast<ValidationType>(v.choice.at(TypeList));
    const auto op = static_cast<ValidationOperator>(v.choice.at(OperatorList));
    const bool ordered = type != ValidationType::Any && type != ValidationType::List && type != ValidationType::Custom;
    ValidationRule rule;
    rule.flags = static_cast<uint32_t>(type) | static_cast<uint32_t>(v.choice.at(ErrorStyle)) << ValidationFlag::StyleShift;
    if (ordered) rule.flags |= static_cast<uint32_t>(op) << ValidationFlag::OperatorShift;
    if (v.check.at(IgnoreBlank)) rule.flags |= ValidationFlag::IgnoreBlank;
    if (type == ValidationType::List && !v.check.at(ComboBox)) rule.flags |= ValidationFlag::NoDropDown;
    if (v.check.at(ShowAlert)) rule.flags |= ValidationFlag::ErrorAlert;
    if (v.check.at(ShowInput)) rule.flags |= ValidationFlag::InputMessage;
    rule.errorTitle = v.text.at(ErrorTitle);
    rule.errorMessage = v.text.at(ErrorMessage);
    rule.inputTitle = v.text.at(InputTitle);
    rule.inputMessage = v.text.at(InputMessage);
    const std::u16string& text1 = v.text.at(Value1);
    auto release = [&] {
      formulaPool().release(rule.formula1);
      formulaPool().release(rule.formula2);
    };
    auto refuse = [&](int field) {
      release();
      if (const uint32_t code = pendingError()) {
        dialog.showError(code);
      } else {
        dialog.showMessage(loadString(EnterNumber));
      }
      if (auto* edit = dialog.controlAs<EditLine>(field)) {
        edit->selectAll();
        dialog.desktop().setFocus(edit);
      }
      return false;
    };
    if (type == ValidationType::List && (text1.empty() || text1[0] != u'=')) {
      rule.flags |= ValidationFlag::ExplicitList;
      rule.list = splitDelimitedList(text1);
      if (text1.empty()) {
        setError(Err::DelimitedList);
        return refuse(Value1);
      }
    } else if (type != ValidationType::Any) {
      rule.formula1 = ruleFormula(workbook, text1, at, type);
      if (rule.formula1 == NoHandle) return refuse(Value1);
      if (ordered && twoValues(op)) {
        rule.formula2 = ruleFormula(workbook, v.text.at(Value2), at, type);
        if (rule.formula2 == NoHandle) return refuse(Value2);
      }
    }
    // Every area of the rule, or the selection.
    std::vector<Area> areas{sheet->selection.area()};
    if (existing >= 0 && v.check.at(ApplyToAll)) areas = sheet->validations[static_cast<size_t>(existing)].areas;
    const Selection before = sheet->selection;
    const bool removing = type == ValidationType::Any && rule.inputTitle.empty() && rule.inputMessage.empty();
    bool ok = true;
    for (const Area& area : areas) {
      sheet->selection = Selection::ofStored(area, area.firstColumn, area.firstRow);
      ok = (removing ? clearSelection(workbook, undo, ClearMode::Validation) : setValidationCommand(workbook, undo, rule)) && ok;
    }
    sheet->selection = before;
    release();
    if (!ok) {
      dialog.showError(pendingError() ? pendingError() : static_cast<uint32_t>(Err::OutOfMemory));
      return false;
    }
    return true;
  };
  return runForm(desktop, form, values);
}

}  // namespace kelp
