// The device's regional conventions, read once at start; US English by default.
#pragma once

#include <string>

namespace kelp {

struct LocaleSettings {
  char16_t decimalSymbol = u'.';
  char16_t listSeparator = u',';
  char16_t thousandsSeparator = u',';
  char16_t dateSeparator = u'/';
  char16_t timeSeparator = u':';
  std::u16string currencySymbol = u"$";
  int positiveCurrencyMode = 0;  // 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"
  int negativeCurrencyMode = 0;  // 0, 4, 14 and 15 use parentheses
  std::u16string shortDatePicture = u"M/d/yy";
  std::u16string amDesignator = u"AM";
  std::u16string pmDesignator = u"PM";
};

/// The settings in force.
const LocaleSettings& currentLocale();
/// Replaces the settings in force (start-up and tests).
void setCurrentLocale(const LocaleSettings& settings);

}  // namespace kelp
