// Serial dates: days since 30 December 1899 with the time of day as the fraction.
#pragma once

namespace kelp {

constexpr double MinSerial = -657434;  // 1 January 100
constexpr double MaxSerial = 2958465;  // 31 December 9999

struct DateFields {
  int year = 0;
  int month = 0;    // 1-12
  int day = 0;      // 1-31
  int weekday = 0;  // 0 Sunday
  int hour = 0;
  int minute = 0;
  int second = 0;
};

/// The serial of a date and time. With `check` every field must be in range (false
/// otherwise); without it the month wraps into the year and a day past the month's
/// end runs into the next month.
bool serialFromFields(int year, int month, int day, int hour, int minute, int second, int millisecond,
                      bool check, double& out);
/// The calendar fields of a serial; false outside MinSerial..MaxSerial.
bool fieldsFromSerial(double serial, DateFields& out);
bool isLeapYear(int year);
int daysInMonth(int year, int month);

}  // namespace kelp
