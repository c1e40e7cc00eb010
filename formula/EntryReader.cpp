// Typed text to a value, read with the formula lexer.
#include "formula/EntryReader.h"

#include "formula/Compiler.h"
#include "formula/FormulaText.h"
#include "formula/Lexer.h"
#include "formula/TypedForms.h"
#include "model/HandlePool.h"
#include "model/NumberFormat.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Locale.h"

namespace kelp {

namespace {

int dateTimeFormat(const FormulaLexer& lexer) {
  if (lexer.hasDate) return lexer.hasTime ? BuiltInFormat::DateTime : BuiltInFormat::ShortDate;
  if (lexer.hasSeconds) return lexer.hasAmPm ? BuiltInFormat::Time12Seconds : BuiltInFormat::Time24Seconds;
  return lexer.hasAmPm ? BuiltInFormat::Time12 : BuiltInFormat::Time24;
}

CellValue textEntry(std::u16string_view text, bool formulaMode) {
  CellValue value = emptyValue();
  if (formulaMode) return value;
  if (!text.empty() && text[0] == u'\'') text.remove_prefix(1);
  makeText(value, text);
  return value;
}

// A formula on no workbook (an undo copy, a clipboard cell) has no workbook to name things from.
void showFormula(const Workbook* workbook, uint32_t tokens, CellPosition at, std::u16string& out) {
  if (tokens == NoHandle) {
    out = u"=";
    return;
  }
  formulaText(workbook, static_cast<const uint8_t*>(formulaPool().data(tokens)), at, out);
}

// What the lexer could not read may still be a number or date as people type them.
CellValue otherForms(std::u16string_view text, int* suggestedFormat, bool formulaMode) {
  TypedForm form;
  if (!readTypedForm(text, currentLocale(), form)) return textEntry(text, formulaMode);
  if (suggestedFormat) *suggestedFormat = form.format;
  return form.date ? dateTimeValue(form.value) : numberValue(form.value);
}

CellValue readValue(std::u16string_view text) {
  CellValue value = readEntry(nullptr, text, CellPosition{0, 0, 0}, nullptr, true);
  if (value.kind == ValueKind::Empty) {
    value.kind = ValueKind::Text;
    value.setU32(NoHandle);
  }
  return value;
}

}  // namespace

CellValue readEntry(Workbook* workbook, std::u16string_view text, CellPosition base, int* suggestedFormat,
                    bool formulaMode) {
  if (suggestedFormat) *suggestedFormat = -1;
  if (text.empty()) return emptyValue();
  if (text[0] == u'=' && !formulaMode) {
    if (!workbook) return textEntry(text, formulaMode);
    CellValue value;
    compileToValue(*workbook, text, base, value);
    return value;
  }
  if (text[0] == u'\'') return textEntry(text, formulaMode);

  // No workbook: an entry must never add names or external workbooks to one.
  FormulaLexer lexer = makeLexer(nullptr, text, base, false);
  nextToken(lexer);
  double sign = 1;
  if (lexer.token == TokenKind::Plus || lexer.token == TokenKind::Minus) {
    sign = lexer.token == TokenKind::Minus ? -1 : 1;
    nextToken(lexer);
    if (lexer.token != TokenKind::Number) return otherForms(text, suggestedFormat, formulaMode);
  }
  TokenKind kind = lexer.token;
  double number = lexer.number;
  bool logical = lexer.logical != 0;
  bool percent = false;
  nextToken(lexer);
  if (kind == TokenKind::Number && lexer.token == TokenKind::Percent) {
    percent = true;
    nextToken(lexer);
  }
  // Errors met on the way (a number out of bounds, an invalid date) only make the entry text.
  if (lexer.error || lexer.token != TokenKind::End) return otherForms(text, suggestedFormat, formulaMode);

  switch (kind) {
    case TokenKind::Number:
      // A percentage is a hundredth in formulas too, as "50%" reads everywhere else.
      if (percent) {
        if (suggestedFormat) *suggestedFormat = BuiltInFormat::Percent2;
        return numberValue(sign * number / 100);
      }
      return numberValue(sign * number);
    case TokenKind::Logical:
      return logicalValue(logical);
    case TokenKind::DateTime:
      if (suggestedFormat) *suggestedFormat = dateTimeFormat(lexer);
      return dateTimeValue(number);
    default:
      break;
  }
  return otherForms(text, suggestedFormat, formulaMode);
}

int16_t styleForSuggestion(Workbook& workbook, int16_t effective, int suggested) {
  if (suggested == SuggestedFormat::None) return effective;
  const uint16_t current = workbook.style(effective).numberFormat;
  const NumberFormatRecord* format =
      current < workbook.numberFormats.size() ? &workbook.numberFormats[current] : nullptr;
  const bool general = !format || (format->kind == FormatKind::Number && format->general);
  const bool date = suggested >= BuiltInFormat::ShortDate && suggested <= BuiltInFormat::DateTime;
  const bool grouped = suggested == SuggestedFormat::Grouped0 || suggested == SuggestedFormat::Grouped2 ||
                       suggested == BuiltInFormat::Currency0 || suggested == BuiltInFormat::Currency2;
  // A date keeps the date format a cell has; grouped digits and currency take theirs only
  // where the cell is General, since any other format was chosen by the user.
  bool change = date ? !format || format->kind != FormatKind::DateTime
                     : grouped ? general : static_cast<int>(current) != suggested;
  if (!change) return effective;
  int32_t index = suggested;
  if (suggested < 0) {
    const SavedErrorState saved = saveErrorState();
    const int decimals = suggested == SuggestedFormat::Grouped2 ? 2 : 0;
    index = findOrAddNumberFormat(workbook.numberFormats, fixedFormat(decimals, true));
    // A full format list leaves the cell as it was, which is no failure of the entry.
    restoreErrorState(saved);
    if (index < 0) return effective;
  }
  StyleRecord fields{};
  fields.numberFormat = static_cast<uint16_t>(index);
  return workbook.changedStyle(effective, fields, StyleField::NumberFormat, FontRecord{}, 0);
}

void installEntryReading() {
  installTokenHooks();
  installFormulaText(showFormula);
  installValueReader(readValue);
}

}  // namespace kelp
