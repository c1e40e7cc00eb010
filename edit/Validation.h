// Data validation: which rule governs a cell, testing an entry against it, the alert a
// refused entry raises, and the changes to a sheet's rule list that commands make.
//
// A rule's formulas are formula-pool handles the sheet owns. Their relative references
// are offsets from the cell being tested: the rule is evaluated as if it stood in that
// cell, whichever cell is active. The Excel reader and writer turn Excel's form (written
// as at the top-left cell of the rule's first area) into this one and back.
#pragma once

#include <cstdint>
#include <string>

#include "model/CellValue.h"
#include "model/Sheet.h"

namespace kelp {

class Workbook;
class UndoList;
struct SheetArea;

/// Bits of ValidationRule::flags (the Excel data validation record's layout).
namespace ValidationFlag {
constexpr uint32_t TypeMask = 0xF;
constexpr int StyleShift = 4;
constexpr uint32_t StyleMask = 0x70;
constexpr uint32_t ExplicitList = 1u << 7;
constexpr uint32_t IgnoreBlank = 1u << 8;
constexpr uint32_t NoDropDown = 1u << 9;
constexpr uint32_t InputMessage = 1u << 18;
constexpr uint32_t ErrorAlert = 1u << 19;
constexpr int OperatorShift = 20;
constexpr uint32_t OperatorMask = 0xF00000;
}  // namespace ValidationFlag

enum class ValidationType : uint32_t { Any = 0, Integer, Decimal, List, Date, Time, TextLength, Custom };
enum class ValidationOperator : uint32_t { Between = 0, NotBetween, Equal, NotEqual, Greater, Less, AtLeast, AtMost };
enum class AlertStyle : uint32_t { Stop = 0, Warning = 1, Information = 2 };

inline ValidationType ruleType(const ValidationRule& rule) {
  return static_cast<ValidationType>(rule.flags & ValidationFlag::TypeMask);
}
inline ValidationOperator ruleOperator(const ValidationRule& rule) {
  return static_cast<ValidationOperator>((rule.flags & ValidationFlag::OperatorMask) >> ValidationFlag::OperatorShift);
}
inline AlertStyle ruleAlertStyle(const ValidationRule& rule) {
  return static_cast<AlertStyle>((rule.flags & ValidationFlag::StyleMask) >> ValidationFlag::StyleShift);
}

/// The index of the entry that governs the cell (the last whose areas hold it), or -1.
int32_t findRule(const Sheet& sheet, int32_t column, int32_t row);

/// Runs rule formula `tokens` (a formula-pool handle) as if it stood at `at`: the value,
/// a reference result read as its value, owned by the caller. False when the run failed
/// or there is no formula.
bool evaluateStandalone(Workbook& workbook, uint32_t tokens, CellPosition at, CellValue& out);
/// The same for a formula that must give a reference: the area it denotes (a plain
/// reference is on `at`'s sheet). False for any other result.
bool evaluateReference(Workbook& workbook, uint32_t tokens, CellPosition at, SheetArea& out);

/// The entries a list rule offers in the cell `at`: its explicit list, or the texts the
/// cells of its source range show, row by row, empty cells left out.
std::vector<std::u16string> listEntries(Workbook& workbook, const ValidationRule& rule, CellPosition at);

/// The items of a list typed as text, split at the locale's list separator.
std::vector<std::u16string> splitDelimitedList(std::u16string_view text);

/// True when `value` (a value, never a formula) satisfies `rule` in the cell `at`.
/// A custom rule writes the value into the cell for the test and puts back what was
/// there (value, formula and style), recalculating after each; nothing is recorded.
bool checkValue(Workbook& workbook, const ValidationRule& rule, CellPosition at, const CellValue& value);

/// What a refused entry shows: the rule's title and message, or the defaults.
struct ValidationAlert {
  AlertStyle style;
  std::u16string title;
  std::u16string message;
  /// The message box's text: the message, with " Continue?" after it for a warning.
  std::u16string shownText() const;
};
/// Asks the user about a refused entry; true stores it anyway. A stop alert's answer
/// is not read: the entry is refused.
using ValidationAlertFn = bool (*)(const ValidationAlert& alert);
/// Null removes the hook: then every alert refuses the entry, as if the user had
/// answered No or Cancel, since nobody is there to confirm it.
void installValidationAlert(ValidationAlertFn fn);

/// True when `value` may be stored in the cell of sheet `sheet`: no rule governs it, the
/// rule passes (a formula is tested by its result at the cell), the rule's error alert is
/// off (files from desktop spreadsheets mean "accept anything" then), or the alert hook
/// accepts it.
bool validateEntry(Workbook& workbook, int32_t sheet, int32_t column, int32_t row, const CellValue& value);

// ----- Changes to the rule list; each releases the formulas of the entries it drops.

/// Removes entry `index`, or every entry for -1. False for another index.
bool removeRules(Sheet& sheet, int32_t index);
/// Takes the cells of `area` out of every rule, splitting areas that reach beyond it;
/// entries left without areas are dropped. False with error 15.
bool clearRulesIn(Sheet& sheet, const Area& area);
/// True when some rule covers a cell of `area`.
bool rulesTouch(const Sheet& sheet, const Area& area);
/// Gives the cells of `area` below its first row (`down`) or right of its first column
/// the rule of the first cell in their column (row), or none when that cell has none.
bool extendRules(Sheet& sheet, const Area& area, bool down);

// ----- Command functions 244, 245, 248 and 249 (the command table binds them).

/// 244: flags (-1: more list items and areas for the last rule), error title, error
/// message, input title, input message, formula 1 and 2 (formula values or empty), the
/// number of list items, the items, then each area's first row, first column, last row
/// and last column. Appends the rule to the active sheet's list.
void commandAddRule();
/// 245: a rule's index, or -1 for every rule of the active sheet.
void commandRemoveRules();
/// 248 and 249: extendRules over the selection, down or right.
void commandRulesDown();
void commandRulesRight();

// ----- Commands on the active sheet (label "Validation").

/// Sets `rule` (copied; its formulas gain references) on the selection, replacing the
/// rules its cells had. False when the rule or the programs cannot be made, with error
/// 22 when the rule's texts and formulas are more than a file record holds.
bool setValidationCommand(Workbook& workbook, UndoList& undo, const ValidationRule& rule);

}  // namespace kelp
