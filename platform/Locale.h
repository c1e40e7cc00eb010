// The device's regional conventions and the drawing of calendar fields under date and
// time pictures; US English by default.
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>

namespace kelp {

/// The nine date and time pictures, in slot order.
namespace PictureSlot {
constexpr int ShortDate = 0;      // "M/d/yy" in the locale's order and separator
constexpr int DayMonthYear = 1;   // "d-MMM-yy"
constexpr int DayMonth = 2;       // "d-MMM"
constexpr int MonthYear = 3;      // "MMM-yy"
constexpr int Time12 = 4;         // "h:mm tt"
constexpr int Time24 = 5;         // "H:mm"
constexpr int Time12Seconds = 6;  // "h:mm:ss tt"
constexpr int Time24Seconds = 7;  // "H:mm:ss"
constexpr int LongYearDate = 8;   // "M/d/yyyy" in the locale's order and separator
constexpr int Count = 9;
}  // namespace PictureSlot

struct LocaleSettings {
  char16_t decimalSymbol = u'.';
  char16_t printedPoint = u'.';  // what the C runtime prints and reads; setCurrentLocale refreshes it
  char16_t listSeparator = u',';
  char16_t thousandsSeparator = u',';
  char16_t dateSeparator = u'/';
  char16_t timeSeparator = u':';
  int dateOrder = 0;      // 0 month-day-year, 1 day-month-year, 2 year-month-day
  int longDateOrder = 0;  // same codes, for long dates
  bool hour24 = false;
  std::u16string currencySymbol = u"$";
  int positiveCurrencyMode = 0;  // 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"
  int negativeCurrencyMode = 0;  // 0, 4, 14 and 15 use parentheses
  std::u16string amDesignator = u"AM";
  std::u16string pmDesignator = u"PM";
  std::array<std::u16string, 12> monthNames{u"January", u"February", u"March",     u"April",
                                            u"May",     u"June",     u"July",      u"August",
                                            u"September", u"October", u"November", u"December"};
  std::array<std::u16string, 12> shortMonthNames{u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                                 u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
  /// Month names after a day number ("1. ledna"); empty entries use monthNames.
  std::array<std::u16string, 12> genitiveMonthNames{};
  std::array<std::u16string, 7> dayNames{u"Sunday",   u"Monday", u"Tuesday", u"Wednesday",
                                         u"Thursday", u"Friday", u"Saturday"};
  std::array<std::u16string, 7> shortDayNames{u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};
  std::array<std::u16string, PictureSlot::Count> pictures{u"M/d/yy",  u"d-MMM-yy",   u"d-MMM",
                                                          u"MMM-yy",  u"h:mm tt",    u"H:mm",
                                                          u"h:mm:ss tt", u"H:mm:ss", u"M/d/yyyy"};

  /// Remakes the nine pictures from the date order and the date and time separators.
  void buildPictures();
  const std::u16string& shortDatePicture() const { return pictures[PictureSlot::ShortDate]; }
};

/// The settings in force.
const LocaleSettings& currentLocale();
/// Replaces the settings in force (start-up and tests); the printed point is taken
/// from the C runtime and the pictures are rebuilt from the order and separators.
void setCurrentLocale(const LocaleSettings& settings);

/// The names of the built-in locales ("en_US", "de_DE", ...).
std::span<const std::string_view> builtInLocaleNames();
/// The settings of a built-in locale; "de_DE.UTF-8", "de-DE" and "de_DE@euro" name de_DE.
/// False, leaving `out` alone, for a name that is none of them.
bool builtInLocale(std::string_view name, LocaleSettings& out);
/// Puts a built-in locale in force; false, changing nothing, for an unknown name.
bool selectLocale(std::string_view name);
/// Puts in force the locale KELP_LOCALE names, else the one the first set variable of
/// LC_ALL, LC_NUMERIC, LC_TIME and LANG names (US English when that is none of ours).
/// Returns the name chosen.
std::string_view selectLocaleFromEnvironment();
/// The name of the built-in locale last selected ("en_US" at start, "" after setCurrentLocale).
std::string_view currentLocaleName();

/// Calendar fields as the picture services take them.
struct CalendarTime {
  int year = 0;
  int month = 0;    // 1-12
  int day = 0;      // 1-31
  int weekday = 0;  // 0 Sunday
  int hour = 0;
  int minute = 0;
  int second = 0;
};

/// Appends the date under a date picture: d, dd (day), ddd, dddd (day name), M, MM
/// (month), MMM, MMMM (month name), y, yy (two-digit year), yyyy (full year); text in
/// single quotes and any other character stand as written, and '' is one quote.
void appendDatePicture(const CalendarTime& time, std::u16string_view picture, std::u16string& out,
                       const LocaleSettings& locale = currentLocale());
/// Appends the time under a time picture: h, hh (12-hour), H, HH (24-hour), m, mm, s, ss,
/// t (first letter of the AM/PM designator), tt (the designator); quoting as for dates.
void appendTimePicture(const CalendarTime& time, std::u16string_view picture, std::u16string& out,
                       const LocaleSettings& locale = currentLocale());

}  // namespace kelp
