// The everyday forms of numbers and dates the formula lexer does not read.
#pragma once

#include <string_view>

#include "platform/Locale.h"

namespace kelp {

/// Suggestions outside the built-in list: numbers typed with thousands separators.
namespace SuggestedFormat {
constexpr int None = -1;
constexpr int Grouped0 = -2;  // "#,##0"
constexpr int Grouped2 = -3;  // "#,##0.00"
}  // namespace SuggestedFormat

struct TypedForm {
  double value = 0;
  bool date = false;
  int format = SuggestedFormat::None;
};

/// Reads `text` as one of the forms people type that are no formula syntax: digits in
/// groups of three ("1,234.50"), the currency symbol before or after, a negative in
/// parentheses, an ISO date or date and time, a date with a month name, and a day and
/// month without a year (this year). Only what is unambiguous is read; false otherwise.
bool readTypedForm(std::u16string_view text, const LocaleSettings& locale, TypedForm& out);

}  // namespace kelp
