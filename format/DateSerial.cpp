// Serial dates in the OLE Automation convention, with 1900 not a leap year.
#include "format/DateSerial.h"

#include <cmath>
#include <cstdint>

namespace kelp {

namespace {
constexpr int kDaysBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
constexpr int64_t kEpochDays = 693959;  // day count of 30 December 1899 from year 0
}  // namespace

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int yearFromTwoDigits(int year) { return year < 30 ? 2000 + year : 1900 + year; }

int daysInMonth(int year, int month) {
  static constexpr int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && isLeapYear(year) ? 29 : lengths[month - 1];
}

bool serialFromFields(int year, int month, int day, int hour, int minute, int second, int millisecond,
                      bool check, double& out) {
  if (check) {
    if (year < 0 || year >= 10000 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) ||
        hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60 || millisecond < 0 ||
        millisecond >= 1000)
      return false;
  }
  // Floor division, so that month 0 is December of the year before; 64 bits so that
  // unchecked fields far out of range cannot overflow.
  int64_t m = month;
  int64_t shift = (m - 1) >= 0 ? (m - 1) / 12 : -((12 - m) / 12);
  int64_t y = static_cast<int64_t>(year) + shift;
  m = m - shift * 12;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  // The formula counts the leap day of `y` itself, hence the step back in January and February.
  int64_t days = 365 * y + y / 4 - y / 100 + y / 400 + kDaysBefore[m - 1] + static_cast<int64_t>(day);
  if (m <= 2 && leap) days -= 1;
  days -= kEpochDays;
  double fraction = ((hour * 60.0 + minute) * 60.0 + second) / 86400.0 + millisecond / 86400000.0;
  out = days < 0 ? static_cast<double>(days) - fraction : static_cast<double>(days) + fraction;
  return true;
}

bool fieldsFromSerial(double serial, DateFields& out) {
  if (!(serial <= MaxSerial && serial >= MinSerial)) return false;
  // Half a millisecond away from zero, so that 23:59:59.9995 does not read as 23:59:59.
  double adjusted = serial + (serial < 0 ? -5.787037037037037e-9 : 5.787037037037037e-9);
  double whole = std::trunc(adjusted);
  int64_t dayCount = static_cast<int64_t>(whole) + kEpochDays;

  // Zero-based days from 1 January of year 1, split by the Gregorian cycles.
  int64_t n = dayCount - 366;
  int64_t quadCenturies = n / 146097;
  n %= 146097;
  int64_t centuries = n / 36524;
  if (centuries == 4) centuries = 3;  // the last day of a 400-year cycle
  n -= centuries * 36524;
  int64_t quads = n / 1461;
  n %= 1461;
  int64_t years = n / 365;
  if (years == 4) years = 3;  // the last day of a 4-year cycle
  n -= years * 365;
  int year = static_cast<int>(1 + quadCenturies * 400 + centuries * 100 + quads * 4 + years);
  int dayOfYear = static_cast<int>(n);
  bool leap = isLeapYear(year);
  int month = 12;
  while (month > 1) {
    int before = kDaysBefore[month - 1] + (leap && month > 2 ? 1 : 0);
    if (dayOfYear >= before) {
      dayOfYear -= before;
      break;
    }
    --month;
  }
  out.year = year;
  out.month = month;
  out.day = dayOfYear + 1;
  int64_t weekday = (dayCount - 1) % 7;
  out.weekday = static_cast<int>(weekday < 0 ? weekday + 7 : weekday);
  double fraction = std::fabs(adjusted - whole);
  int seconds = static_cast<int>(fraction * 86400.0);
  out.hour = seconds / 3600;
  out.minute = seconds / 60 % 60;
  out.second = seconds % 60;
  return true;
}

}  // namespace kelp
