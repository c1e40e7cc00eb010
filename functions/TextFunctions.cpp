// Text functions; lengths and positions count UTF-16 units from 1.
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "format/ValueText.h"
#include "formula/Evaluator.h"
#include "functions/FunctionFamilies.h"
#include "model/NumberFormat.h"
#include "platform/Text.h"

namespace kelp {

namespace {

// The longest text a cell keeps when its workbook is saved. A longer result would be
// cut without a word at the next save, so every text result past it is !!Val.
constexpr size_t LongestText = 32764;
// Rept leaves out the copy that would make its result this long.
constexpr size_t ReptLimit = 1000;

void pushResultText(std::u16string_view text) {
  if (text.size() > LongestText)
    pushError(CellError::Value);
  else
    pushText(text);
}

bool isWhiteSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

bool hasCase(char16_t c) { return foldCase(c) != c || upperCase(c) != c; }

// An optional last argument at `position` (from 1): popped when the call has it.
int32_t popIntegerOr(int32_t position, int32_t fallback) {
  return argCount() >= position ? popInteger() : fallback;
}

}  // namespace

void fnLen() {
  std::u16string text = popTextCopy();
  if (!takePendingError()) return;
  pushNumber(static_cast<double>(text.size()));
}

void fnConcatenate() {
  std::vector<std::u16string> parts(argCount());
  for (size_t i = parts.size(); i > 0; --i) parts[i - 1] = popTextCopy();
  if (!takePendingError()) return;
  std::u16string joined;
  for (const std::u16string& part : parts) {
    if (joined.size() + part.size() > LongestText) return pushError(CellError::Value);
    joined += part;
  }
  pushText(joined);
}

void fnLeft() {
  int32_t count = popIntegerOr(2, 1);
  std::u16string text = popTextCopy();
  if (!takePendingError()) return;
  if (count < 0) return pushError(CellError::Value);
  pushResultText(std::u16string_view(text).substr(0, static_cast<size_t>(count)));
}

void fnRight() {
  int32_t count = popIntegerOr(2, 1);
  std::u16string text = popTextCopy();
  if (!takePendingError()) return;
  if (count < 0) return pushError(CellError::Value);
  size_t n = std::min(text.size(), static_cast<size_t>(count));
  pushResultText(std::u16string_view(text).substr(text.size() - n));
}

void fnMid() {
  int32_t count = popInteger();
  int32_t start = popInteger();
  std::u16string text = popTextCopy();
  if (!takePendingError()) return;
  if (start < 1 || count < 0) return pushError(CellError::Value);
  size_t from = static_cast<size_t>(start) - 1;
  pushResultText(from < text.size() ? std::u16string_view(text).substr(from, static_cast<size_t>(count)) : u"");
}

void fnFind() {
  int32_t start = popIntegerOr(3, 1);
  std::u16string within = popTextCopy();
  std::u16string find = popTextCopy();
  if (!takePendingError()) return;
  if (start < 1 || static_cast<size_t>(start) > within.size()) return pushError(CellError::Value);
  size_t at = within.find(find, static_cast<size_t>(start) - 1);
  if (at == std::u16string::npos) return pushError(CellError::Value);
  pushNumber(static_cast<double>(at + 1));
}

void fnExact() {
  std::u16string second = popTextCopy();
  std::u16string first = popTextCopy();
  if (!takePendingError()) return;
  pushLogical(first == second);
}

void fnLower() {
  std::u16string text = popTextCopy();
  if (!takePendingError()) return;
  for (char16_t& c : text) c = foldCase(c);
  pushResultText(text);
}

void fnUpper() {
  std::u16string text = popTextCopy();
  if (!takePendingError()) return;
  for (char16_t& c : text) c = upperCase(c);
  pushResultText(text);
}

void fnProper() {
  std::u16string text = popTextCopy();
  if (!takePendingError()) return;
  // A word's first letter is its first cased character after white space, so digits
  // in front of it ("1st") do not take its place.
  bool wordStart = true;
  for (char16_t& c : text) {
    if (isWhiteSpace(c)) {
      wordStart = true;
    } else if (hasCase(c)) {
      c = wordStart ? upperCase(c) : foldCase(c);
      wordStart = false;
    }
  }
  pushResultText(text);
}

void fnTrim() {
  std::u16string text = popTextCopy();
  if (!takePendingError()) return;
  size_t first = 0, last = text.size();
  while (first < last && isWhiteSpace(text[first])) ++first;
  while (last > first && isWhiteSpace(text[last - 1])) --last;
  std::u16string trimmed;
  for (size_t i = first; i < last; ++i)
    if (text[i] != u' ' || text[i - 1] != u' ') trimmed.push_back(text[i]);
  pushResultText(trimmed);
}

void fnClean() {
  std::u16string text = popTextCopy();
  if (!takePendingError()) return;
  std::u16string clean;
  for (char16_t c : text)
    if (c > 31) clean.push_back(c);
  pushResultText(clean);
}

void fnRept() {
  int32_t times = popInteger();
  std::u16string text = popTextCopy();
  if (!takePendingError()) return;
  if (times < 0) return pushError(CellError::Value);
  // Only whole copies that keep the result under ReptLimit characters are made, so a
  // huge count of an empty or long text costs nothing.
  size_t copies = text.empty() ? 0 : std::min(static_cast<size_t>(times), (ReptLimit - 1) / text.size());
  std::u16string repeated;
  repeated.reserve(copies * text.size());
  for (size_t i = 0; i < copies; ++i) repeated += text;
  pushText(repeated);
}

void fnReplace() {
  std::u16string with = popTextCopy();
  int32_t count = popInteger();
  int32_t start = popInteger();
  std::u16string text = popTextCopy();
  if (!takePendingError()) return;
  if (start < 1 || count < 0) return pushError(CellError::Value);
  // A start past the end appends the new text.
  size_t from = std::min(static_cast<size_t>(start) - 1, text.size());
  size_t removed = std::min(static_cast<size_t>(count), text.size() - from);
  if (text.size() - removed + with.size() > LongestText) return pushError(CellError::Value);
  text.replace(from, removed, with);
  pushText(text);
}

void fnSubstitute() {
  int32_t nth = popIntegerOr(4, 0);
  std::u16string with = popTextCopy();
  std::u16string old = popTextCopy();
  std::u16string text = popTextCopy();
  if (!takePendingError()) return;
  if (argCount() == 4 && nth < 1) return pushError(CellError::Value);
  // Nothing to look for leaves the text as it is (a search for it would never move on).
  if (old.empty()) return pushResultText(text);
  // Occurrences are counted left to right without overlapping, for `nth` as for all.
  std::u16string result;
  size_t from = 0;
  int32_t seen = 0;
  for (size_t at = text.find(old); at != std::u16string::npos; at = text.find(old, from)) {
    ++seen;
    if (nth != 0 && seen != nth) {
      result.append(text, from, at + old.size() - from);
      from = at + old.size();
      continue;
    }
    result.append(text, from, at - from);
    result += with;
    from = at + old.size();
    if (nth != 0) break;
    // Checked as the result grows, so a long text with a long replacement stops early.
    if (result.size() > LongestText) return pushError(CellError::Value);
  }
  result.append(text, from);
  pushResultText(result);
}

void fnCode() {
  std::u16string text = popTextCopy();
  if (!takePendingError()) return;
  if (text.empty()) return pushError(CellError::Value);
  pushNumber(text[0]);
}

void fnChar() {
  int32_t code = popInteger();
  if (!takePendingError()) return;
  // The code is taken as 16 bits; one whose low 16 bits are 0 would be the terminator
  // that ends a stored text, an empty result in disguise.
  char16_t c = static_cast<char16_t>(code & 0xFFFF);
  if (code < 1 || c == 0) return pushError(CellError::Value);
  pushText(std::u16string_view(&c, 1));
}

void fnValue() {
  double d = popNumber();
  if (!takePendingError()) return;
  pushNumber(d);
}

void roundToTensForText(double& number, int32_t& decimals) {
  if (decimals >= 0) return;
  // The bias lets a product a bit under the half (1250 as 1249.9999999) still go up.
  double unit = std::pow(10.0, -decimals);
  double rounded = std::isfinite(unit) ? std::floor(std::fabs(number) / unit + 0.5 + 0.00000000001) * unit : 0;
  number = std::copysign(rounded, number);
  decimals = 0;
}

void fnFixed() {
  bool ungrouped = argCount() >= 3 && popLogical() != 0;
  int32_t decimals = popIntegerOr(2, 2);
  double number = popNumber();
  if (!takePendingError()) return;
  // The text of a number that is no number would be "!!Num", passing for an error.
  if (!std::isfinite(number)) return pushError(CellError::Num);
  roundToTensForText(number, decimals);
  std::u16string text;
  fixedNumberText(number, fixedFormat(std::min(decimals, 9), !ungrouped), text);
  pushText(text);
}

void fnT() {
  CellValue value;
  popResolved(value);
  if (value.kind == ValueKind::Text)
    pushValue(value);  // the same text, its reference passed on
  else {
    releaseValue(value);
    pushText(u"");
  }
}

std::span<const FunctionBinding> textBindings() {
  static constexpr FunctionBinding bindings[] = {
      {38, fnLen},     {39, fnLeft},       {40, fnRight},  {41, fnExact}, {70, fnLower},  {71, fnUpper},
      {72, fnReplace}, {73, fnCode},       {74, fnChar},   {80, fnValue}, {81, fnMid},    {90, fnFind},
      {91, fnSubstitute}, {92, fnRept},    {93, fnProper}, {108, fnT},    {129, fnFixed}, {130, fnConcatenate},
      {137, fnTrim},   {138, fnClean},
  };
  return bindings;
}

}  // namespace kelp
