// Making, copying, releasing and showing cell values.
#include "model/CellValue.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "model/FormulaTable.h"
#include "model/HandlePool.h"
#include "platform/Locale.h"
#include "platform/Text.h"

namespace kelp {

namespace {

void plainNumberText(const CellValue& value, std::u16string& out) {
  char buffer[32];
  int n = std::snprintf(buffer, sizeof buffer, "%.15g", value.number());
  out.assign(buffer, buffer + n);
  for (char16_t& c : out)
    if (c == u'.') c = currentLocale().decimalSymbol;
}

void plainFormulaText(const Workbook*, uint32_t, CellPosition, std::u16string& out) { out = u"="; }

// Until the entry reader is installed only plain decimal numbers are recognised.
CellValue plainValueReader(std::u16string_view text) {
  CellValue unread = emptyValue();
  unread.kind = ValueKind::Text;
  unread.setU32(NoHandle);
  std::string narrow;
  for (char16_t c : text) {
    if (c > 0x7F) return unread;
    narrow.push_back(static_cast<char>(c));
  }
  if (narrow.empty()) return unread;
  char* end = nullptr;
  double d = std::strtod(narrow.c_str(), &end);
  if (*end != 0 || !std::isfinite(d)) return unread;
  return numberValue(d);
}

NumberTextFn g_numberText = plainNumberText;
FormulaTextFn g_formulaText = plainFormulaText;
ValueReaderFn g_valueReader = plainValueReader;

}  // namespace

void installNumberText(NumberTextFn numberText) { g_numberText = numberText ? numberText : plainNumberText; }
void installFormulaText(FormulaTextFn formulaText) { g_formulaText = formulaText ? formulaText : plainFormulaText; }
void installValueReader(ValueReaderFn reader) { g_valueReader = reader ? reader : plainValueReader; }

CellValue readValueOnly(std::u16string_view text) { return g_valueReader(text); }

bool textToNumber(std::u16string_view text, double& out) {
  CellValue value = g_valueReader(text);
  out = value.kind == ValueKind::Number ? value.number() : 0;
  return value.kind == ValueKind::Number;
}

bool isWholeDate(std::u16string_view text, double& out) {
  out = 0;
  if (!text.empty() && text[0] == u'=') return false;
  CellValue value = g_valueReader(text);
  if (value.kind != ValueKind::DateTime || value.number() != std::floor(value.number())) return false;
  out = value.number();
  return true;
}

void dateTimeToText(double serial, std::u16string& out) { valueToText(dateTimeValue(serial), out); }

void valueToText(const CellValue& value, std::u16string& out) {
  switch (value.kind) {
    case ValueKind::Empty:
      out.clear();
      return;
    case ValueKind::Logical:
      out = value.u32() ? u"true" : u"false";
      return;
    case ValueKind::Error:
      switch (cellError(value)) {
        case CellError::Null: out = u"!!Null"; return;
        case CellError::Div0: out = u"!!Div0"; return;
        case CellError::Value: out = u"!!Val"; return;
        case CellError::Ref: out = u"!!Ref"; return;
        case CellError::Name: out = u"!!Name"; return;
        case CellError::Num: out = u"!!Num"; return;
        case CellError::NA: out = u"!!NA"; return;
        default: out = formatText(u"Err%i", static_cast<int64_t>(value.u32())); return;
      }
    case ValueKind::Text:
      out = textOf(value);
      return;
    case ValueKind::Number:
    case ValueKind::DateTime:
      g_numberText(value, out);
      return;
    case ValueKind::Formula:
      g_formulaText(formulaWorkbook(value), formulaTokens(value), formulaPosition(value), out);
      return;
    case ValueKind::Integer:
      out = decimalText(value.i32());
      return;
    default:
      return;  // references are resolved by the evaluator before they need text
  }
}

bool valuesEqual(const CellValue& a, const CellValue& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case ValueKind::Empty:
      return true;
    case ValueKind::Logical:
    case ValueKind::Error:
    case ValueKind::Text:
      return a.u32() == b.u32();
    case ValueKind::Number:
    case ValueKind::DateTime:
      return a.number() == b.number();
    default:
      return false;
  }
}

void copyValue(const CellValue& src, CellValue& dst) {
  dst = src;
  if (src.kind == ValueKind::Text) textPool().addRef(src.u32());
}

void releaseValue(CellValue& value) {
  if (value.kind == ValueKind::Text) {
    textPool().release(value.u32());
  } else if (value.kind == ValueKind::Formula) {
    formulaTableOf(value).remove(value.u32());
  }
  value = emptyValue();
}

void makeText(CellValue& value, std::u16string_view text) {
  value = emptyValue();
  uint32_t handle = NoHandle;
  if (!text.empty()) {
    // Stored with its terminator so that readers of the entry can stop at the NUL.
    handle = textPool().add(text.data(), text.size() * sizeof(char16_t), (text.size() + 1) * sizeof(char16_t), 1);
    if (handle == NoHandle) return;
  }
  value.kind = ValueKind::Text;
  value.setU32(handle);
}

std::u16string_view textOf(const CellValue& value) {
  if (value.kind != ValueKind::Text || value.u32() == NoHandle) return {};
  return std::u16string_view(static_cast<const char16_t*>(textPool().data(value.u32())));
}

CellValue newFormulaValue(uint32_t tokens, CellPosition at) {
  CellValue value = emptyValue();
  if (!FormulaTable::detached().add(tokens, at, value)) return emptyValue();
  return value;
}

void copyFormulaValue(const CellValue& src, CellValue& dst) {
  if (src.kind != ValueKind::Formula) {
    copyValue(src, dst);
    return;
  }
  const uint32_t tokens = formulaTokens(src);
  dst = newFormulaValue(tokens, formulaPosition(src));
  if (dst.kind != ValueKind::Formula) return;
  formulaPool().addRef(tokens);
  // The source's result is read after the add, which may have moved the detached arrays.
  copyValue(formulaResult(src), formulaResult(dst));
}

size_t formatFixed(double number, int decimals, bool trim, std::u16string& out) {
  if (decimals < 0) decimals = 0;
  if (decimals > 9) decimals = 9;
  char pattern[] = "%.0f";
  pattern[2] = static_cast<char>('0' + decimals);
  char buffer[400];  // the widest double printed with nine decimals fits
  int n = std::snprintf(buffer, sizeof buffer, pattern, number);
  if (n < 0) n = 0;
  if (n >= static_cast<int>(sizeof buffer)) n = sizeof buffer - 1;
  std::string text(buffer, static_cast<size_t>(n));
  if (trim && text.find('.') != std::string::npos) {
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
  }
  // A negative number that rounds to zero shows as "0", not "-0".
  if (text.size() > 1 && text[0] == '-' && text.find_first_not_of("0.", 1) == std::string::npos) text.erase(0, 1);
  out.assign(text.begin(), text.end());
  for (char16_t& c : out)
    if (c == u'.') c = currentLocale().decimalSymbol;
  return out.size();
}

}  // namespace kelp
