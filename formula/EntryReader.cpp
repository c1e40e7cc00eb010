// Typed text to a value, read with the formula lexer.
#include "formula/EntryReader.h"

#include "formula/Compiler.h"
#include "formula/FormulaText.h"
#include "formula/Lexer.h"
#include "model/HandlePool.h"
#include "model/NumberFormat.h"
#include "model/Workbook.h"

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
    if (lexer.token != TokenKind::Number) return textEntry(text, formulaMode);
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
  if (lexer.error || lexer.token != TokenKind::End) return textEntry(text, formulaMode);

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
  return textEntry(text, formulaMode);
}

void installEntryReading() {
  installTokenHooks();
  installFormulaText(showFormula);
  installValueReader(readValue);
}

}  // namespace kelp
