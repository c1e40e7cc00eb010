// The everyday forms of numbers and dates, tried once the lexer has given up on an entry.
#include "formula/TypedForms.h"

#include <array>
#include <charconv>
#include <string>
#include <utility>

#include "format/DateSerial.h"
#include "model/NumberFormat.h"
#include "platform/System.h"
#include "platform/Text.h"

namespace kelp {

namespace {

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool isSpace(char16_t c) { return c == u' ' || c == u'\u00A0'; }

std::u16string_view trimmed(std::u16string_view s) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return s;
}

size_t digitRun(std::u16string_view s, size_t from) {
  size_t end = from;
  while (end < s.size() && isDigit(s[end])) ++end;
  return end - from;
}

int digitsValue(std::u16string_view s) {
  int value = 0;
  for (char16_t c : s) value = value * 10 + (c - u'0');
  return value;
}

// Digits with optional groups of exactly three after a first group of one to three,
// and an optional decimal part; `s` must be nothing else.
bool readDigits(std::u16string_view s, const LocaleSettings& locale, double& value, bool& grouped, bool& decimals) {
  const char16_t group = locale.thousandsSeparator;
  const char16_t point = locale.decimalSymbol;
  std::string ascii;
  size_t i = 0;
  const size_t lead = digitRun(s, 0);
  for (; i < lead; ++i) ascii += static_cast<char>(s[i]);
  grouped = false;
  if (group != point && lead >= 1 && lead <= 3) {
    // Where the mark is a no-break space, people type a plain one.
    auto mark = [&](char16_t c) { return c == group || (group == u'\u00A0' && c == u' '); };
    while (i < s.size() && mark(s[i]) && digitRun(s, i + 1) == 3) {
      for (size_t k = i + 1; k < i + 4; ++k) ascii += static_cast<char>(s[k]);
      i += 4;
      grouped = true;
    }
  }
  size_t fraction = 0;
  if (i < s.size() && s[i] == point) {
    fraction = digitRun(s, i + 1);
    ascii += '.';
    for (size_t k = i + 1; k < i + 1 + fraction; ++k) ascii += static_cast<char>(s[k]);
    i += 1 + fraction;
  }
  decimals = fraction > 0;
  if (i != s.size() || (lead == 0 && fraction == 0)) return false;
  auto [end, failed] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
  return failed == std::errc() && end == ascii.data() + ascii.size();
}

bool readNumberForm(std::u16string_view s, const LocaleSettings& locale, TypedForm& out) {
  bool parentheses = false, negative = false, signed_ = false, currency = false;
  if (s.size() >= 2 && s.front() == u'(' && s.back() == u')') {
    parentheses = true;
    s = trimmed(s.substr(1, s.size() - 2));
  }
  auto takeSign = [&] {
    if (signed_ || s.empty() || (s.front() != u'-' && s.front() != u'+')) return;
    signed_ = true;
    negative = s.front() == u'-';
    s = trimmed(s.substr(1));
  };
  const std::u16string_view symbol = locale.currencySymbol;
  takeSign();
  if (!symbol.empty() && s.starts_with(symbol)) {
    currency = true;
    s = trimmed(s.substr(symbol.size()));
    takeSign();
  } else if (!symbol.empty() && s.ends_with(symbol)) {
    currency = true;
    s = trimmed(s.substr(0, s.size() - symbol.size()));
  }
  // "(-5)" says minus twice; nobody means that.
  if (parentheses && signed_) return false;
  double value = 0;
  bool grouped = false, decimals = false;
  if (!readDigits(s, locale, value, grouped, decimals)) return false;
  if (!grouped && !currency && !parentheses) return false;
  out.value = negative || parentheses ? -value : value;
  out.date = false;
  if (currency)
    out.format = decimals ? BuiltInFormat::Currency2 : BuiltInFormat::Currency0;
  else if (grouped)
    out.format = decimals ? SuggestedFormat::Grouped2 : SuggestedFormat::Grouped0;
  else
    out.format = SuggestedFormat::None;
  return true;
}

bool dateValue(int year, int month, int day, int hour, int minute, int second, int format, TypedForm& out) {
  double serial = 0;
  if (!serialFromFields(year, month, day, hour, minute, second, 0, true, serial)) return false;
  if (serial < MinSerial || serial > MaxSerial) return false;
  out.value = serial;
  out.date = true;
  out.format = format;
  return true;
}

// "2026-03-15", with an optional " 13:30", "T13:30" or seconds.
bool readIsoDate(std::u16string_view s, TypedForm& out) {
  if (digitRun(s, 0) != 4 || s.size() < 8 || s[4] != u'-') return false;
  const size_t monthDigits = digitRun(s, 5);
  if (monthDigits < 1 || monthDigits > 2 || 5 + monthDigits >= s.size() || s[5 + monthDigits] != u'-') return false;
  const size_t dayAt = 6 + monthDigits;
  const size_t dayDigits = digitRun(s, dayAt);
  if (dayDigits < 1 || dayDigits > 2) return false;
  const int year = digitsValue(s.substr(0, 4));
  const int month = digitsValue(s.substr(5, monthDigits));
  const int day = digitsValue(s.substr(dayAt, dayDigits));
  size_t i = dayAt + dayDigits;
  if (i == s.size()) return dateValue(year, month, day, 0, 0, 0, BuiltInFormat::ShortDate, out);
  if (s[i] != u' ' && s[i] != u'T') return false;
  ++i;
  int fields[3] = {0, 0, 0};
  for (int f = 0; f < 3; ++f) {
    const size_t n = digitRun(s, i);
    if (n < 1 || n > 2 || (f > 0 && n != 2)) return false;
    fields[f] = digitsValue(s.substr(i, n));
    i += n;
    if (i == s.size()) {
      if (f == 0) return false;
      return dateValue(year, month, day, fields[0], fields[1], fields[2], BuiltInFormat::DateTime, out);
    }
    if (s[i] != u':' || f == 2) return false;
    ++i;
  }
  return false;
}

int monthNamed(std::u16string_view word, const LocaleSettings& locale) {
  if (!word.empty() && word.back() == u'.') word.remove_suffix(1);
  if (word.empty()) return 0;
  for (int m = 0; m < 12; ++m) {
    if (equalsIgnoreCase(word, locale.monthNames[m]) || equalsIgnoreCase(word, locale.shortMonthNames[m]) ||
        (!locale.genitiveMonthNames[m].empty() && equalsIgnoreCase(word, locale.genitiveMonthNames[m])))
      return m + 1;
  }
  return 0;
}

int fullYear(std::u16string_view digits) {
  if (digits.size() == 4) return digitsValue(digits);
  if (digits.size() <= 2) return yearFromTwoDigits(digitsValue(digits));
  return -1;
}

// "15-Mar-26", "15 March 2026", "15-Mar", "Mar 15", "March 15, 2026", "March 2026".
bool readMonthNameDate(std::u16string_view s, const LocaleSettings& locale, TypedForm& out) {
  auto separator = [&](char16_t c) {
    return c == u' ' || c == u'-' || c == u'/' || c == u',' || c == locale.dateSeparator;
  };
  std::array<std::u16string_view, 3> parts;
  size_t count = 0;
  size_t i = 0;
  while (i < s.size()) {
    if (separator(s[i])) {
      ++i;
      continue;
    }
    size_t start = i;
    if (isDigit(s[i])) {
      i += digitRun(s, i);
      // "15." is a day in many languages.
      if (i < s.size() && s[i] == u'.') ++i;
    } else {
      while (i < s.size() && !separator(s[i]) && !isDigit(s[i])) ++i;
    }
    if (count == parts.size()) return false;
    parts[count++] = s.substr(start, i - start);
  }
  if (count < 2) return false;
  auto number = [](std::u16string_view part) {
    if (!part.empty() && part.back() == u'.') part.remove_suffix(1);
    return part;
  };
  auto isNumber = [&](std::u16string_view part) {
    std::u16string_view n = number(part);
    return !n.empty() && digitRun(n, 0) == n.size();
  };
  // Asked only where the year is left out: the clock costs more than the rest of the test.
  const auto thisYear = [] { return localTimeNow().year; };
  if (isNumber(parts[0])) {
    // Day, month name, optional year.
    const std::u16string_view day = number(parts[0]);
    const int month = monthNamed(parts[1], locale);
    if (month == 0 || day.size() > 2) return false;
    if (count == 2) return dateValue(thisYear(), month, digitsValue(day), 0, 0, 0, BuiltInFormat::DayMonth, out);
    if (!isNumber(parts[2])) return false;
    const int year = fullYear(number(parts[2]));
    return year >= 0 && dateValue(year, month, digitsValue(day), 0, 0, 0, BuiltInFormat::DayMonthYear, out);
  }
  // Month name, then a day, a day and a year, or a four-digit year alone.
  const int month = monthNamed(parts[0], locale);
  if (month == 0 || !isNumber(parts[1])) return false;
  const std::u16string_view second = number(parts[1]);
  if (count == 2) {
    if (second.size() == 4) return dateValue(digitsValue(second), month, 1, 0, 0, 0, BuiltInFormat::MonthYear, out);
    if (second.size() > 2) return false;
    return dateValue(thisYear(), month, digitsValue(second), 0, 0, 0, BuiltInFormat::DayMonth, out);
  }
  if (!isNumber(parts[2]) || second.size() > 2) return false;
  const int year = fullYear(number(parts[2]));
  return year >= 0 && dateValue(year, month, digitsValue(second), 0, 0, 0, BuiltInFormat::DayMonthYear, out);
}

// "1/2": the day and month in the locale's order, in this year.
bool readDayAndMonth(std::u16string_view s, const LocaleSettings& locale, TypedForm& out) {
  const size_t first = digitRun(s, 0);
  if (first < 1 || first > 2 || first + 1 >= s.size() || s[first] != locale.dateSeparator) return false;
  const size_t second = digitRun(s, first + 1);
  if (second < 1 || second > 2 || first + 1 + second != s.size()) return false;
  int a = digitsValue(s.substr(0, first));
  int b = digitsValue(s.substr(first + 1, second));
  if (locale.dateOrder != 1) std::swap(a, b);  // month first: now a is the day, b the month
  return dateValue(localTimeNow().year, b, a, 0, 0, 0, BuiltInFormat::DayMonth, out);
}

}  // namespace

bool readTypedForm(std::u16string_view text, const LocaleSettings& locale, TypedForm& out) {
  std::u16string_view s = trimmed(text);
  if (s.empty()) return false;
  return readNumberForm(s, locale, out) || readIsoDate(s, out) || readMonthNameDate(s, locale, out) ||
         readDayAndMonth(s, locale, out);
}

}  // namespace kelp
