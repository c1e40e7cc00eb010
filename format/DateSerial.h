// Serial dates: days since 30 December 1899 with the time of day as the fraction.
#pragma once

#include "platform/Locale.h"

namespace kelp {

constexpr double MinSerial = -657434;  // 1 January 100
constexpr double MaxSerial = 2958465;  // 31 December 9999

/// The calendar fields of a serial, in the form the picture services draw.
using DateFields = CalendarTime;

/// The serial of a date and time. With `check` every field must be in range (false
/// otherwise); without it the month wraps into the year and a day past the month's
/// end runs into the next month.
bool serialFromFields(int year, int month, int day, int hour, int minute, int second, int millisecond,
                      bool check, double& out);
/// The calendar fields of a serial; false outside MinSerial..MaxSerial.
bool fieldsFromSerial(double serial, DateFields& out);
bool isLeapYear(int year);
/// The year a typed two-digit year (0-99) stands for: 2000-2029 for 0-29, 1900-1999 for 30-99.
int yearFromTwoDigits(int year);
int daysInMonth(int year, int month);

}  // namespace kelp
