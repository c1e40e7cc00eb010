// Date and time functions: serials built from fields and taken apart, the clock, and
// dates and times read from text.
#include <cmath>
#include <cstdint>

#include "format/DateSerial.h"
#include "formula/EntryReader.h"
#include "formula/Evaluator.h"
#include "functions/FunctionFamilies.h"
#include "model/CellValue.h"
#include "platform/System.h"

namespace kelp {

namespace {

// Half a millisecond in days: serials are read to the nearest millisecond, as they show.
constexpr double HalfMillisecond = 5.787037037037037e-9;

// The fields of Date and Time are whole numbers from 0 to 65535. A value outside that
// would have to wrap or be clamped into a date nobody asked for (a day of -1 as 65535
// days on), so it is refused. The allowance is popInteger's, so that 0.3/0.1 counts as
// 3 and not 2.
bool wholeField(double x, int32_t& out) {
  double whole = std::trunc(x >= 0 ? x + 0.00001 : x - 0.00001);
  if (!(whole >= 0 && whole <= 65535)) return false;
  out = static_cast<int32_t>(whole);
  return true;
}

// Pops a date argument and gives its fields; false once the result is pushed (the
// pending error, or !!Val for a serial that is no date: before the epoch or past the range).
bool popDateFields(DateFields& fields) {
  double serial = popDateTime();
  if (!takePendingError()) return false;
  if (serial >= 0 && fieldsFromSerial(serial, fields)) return true;
  pushError(CellError::Value);
  return false;
}

void fnDate() {
  double day = popNumber();
  double month = popNumber();
  double year = popNumber();
  if (!takePendingError()) return;
  int32_t y = 0, m = 0, d = 0;
  double serial = 0;
  if (!wholeField(year, y) || !wholeField(month, m) || !wholeField(day, d)) {
    pushError(CellError::Num);
    return;
  }
  if (y < 1900) y += 1900;
  // Months wrap into years and days run on unchecked; only the result must be a date.
  if (!serialFromFields(y, m, d, 0, 0, 0, 0, false, serial) || serial > MaxSerial) {
    pushError(CellError::Num);
    return;
  }
  pushDateTime(serial);
}

void fnTime() {
  double second = popNumber();
  double minute = popNumber();
  double hour = popNumber();
  if (!takePendingError()) return;
  int32_t h = 0, m = 0, s = 0;
  if (!wholeField(hour, h) || !wholeField(minute, m) || !wholeField(second, s)) {
    pushError(CellError::Num);
    return;
  }
  // Whole days are dropped: 25 hours is 1:00.
  int64_t seconds = (static_cast<int64_t>(h) * 3600 + m * 60 + s) % 86400;
  pushDateTime(static_cast<double>(seconds) / 86400.0);
}

// Year, Month, Day, Hour, Minute and Second: one field of the date's calendar form.
template <auto Field>
void fnDatePart() {
  DateFields f;
  if (popDateFields(f)) pushNumber(f.*Field);
}

// Type 1 counts from Sunday = 1, type 2 from Monday = 1, type 3 from Monday = 0; any
// other type is 1. Days before the epoch have weekdays too.
void fnWeekday() {
  double typeArgument = argCount() == 2 ? popNumber() : 1;
  double serial = popNumber();
  if (!takePendingError()) return;
  DateFields f;
  if (!fieldsFromSerial(serial, f)) {
    pushError(CellError::Value);
    return;
  }
  const double type = std::trunc(typeArgument + (typeArgument >= 0 ? 0.00001 : -0.00001));
  const int fromMonday = (f.weekday + 6) % 7;
  pushNumber(type == 2 ? fromMonday + 1 : type == 3 ? fromMonday : f.weekday + 1);
}

// The clock's date and time; a clock the calendar cannot hold gives !!Num, never a
// serial that shows as no date.
bool clockSerial(bool withTime, double& serial) {
  LocalTime t = localTimeNow();
  if (!withTime) t.hour = t.minute = t.second = t.millisecond = 0;
  return serialFromFields(t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond, true, serial);
}

void fnNow() {
  double serial = 0;
  if (clockSerial(true, serial))
    pushDateTime(serial);
  else
    pushError(CellError::Num);
}

void fnToday() {
  double serial = 0;
  if (clockSerial(false, serial))
    pushDateTime(serial);
  else
    pushError(CellError::Num);
}

// Pops the argument of Datevalue and Timevalue as a serial: a text as a typed entry
// reads (dates in the locale's order), a date number as it is, so that a year written
// with two digits cannot move it by a century. False once the result is pushed.
bool popDateText(double& serial) {
  CellValue value = emptyValue();
  popResolved(value);
  bool isDate = false;
  if (value.kind == ValueKind::Error) {
    setPendingError(cellError(value));
  } else if (value.kind == ValueKind::DateTime) {
    serial = value.number();
    isDate = true;
  } else if (value.kind == ValueKind::Text) {
    CellValue read = readEntry(nullptr, textOf(value), CellPosition{0, 0, 0}, nullptr, true);
    isDate = read.kind == ValueKind::DateTime;
    if (isDate) serial = read.number();
    releaseValue(read);
  }
  releaseValue(value);
  if (!takePendingError()) return false;
  if (isDate && serial >= MinSerial && serial <= MaxSerial) return true;
  pushError(CellError::Value);
  return false;
}

// The whole days of a serial and the time of day, read to the millisecond as Day and
// Hour read them: a time that rounds up to midnight belongs to the next day.
void splitSerial(double serial, double& day, double& time) {
  day = std::trunc(serial + (serial < 0 ? -HalfMillisecond : HalfMillisecond));
  time = std::fabs(serial) < std::fabs(day) ? 0 : std::fabs(serial - day);
}

void fnDatevalue() {
  double serial = 0, day = 0, time = 0;
  if (!popDateText(serial)) return;
  splitSerial(serial, day, time);
  pushNumber(day + 0.0);  // no negative zero
}

void fnTimevalue() {
  double serial = 0, day = 0, time = 0;
  if (!popDateText(serial)) return;
  splitSerial(serial, day, time);
  pushNumber(time);
}

}  // namespace

std::span<const FunctionBinding> dateBindings() {
  static constexpr FunctionBinding bindings[] = {
      {47, fnDate},
      {48, fnTime},
      {49, fnDatePart<&DateFields::day>},
      {50, fnDatePart<&DateFields::month>},
      {51, fnDatePart<&DateFields::year>},
      {52, fnWeekday},
      {53, fnDatePart<&DateFields::hour>},
      {54, fnDatePart<&DateFields::minute>},
      {55, fnDatePart<&DateFields::second>},
      {98, fnNow},
      {99, fnToday},
      {109, fnDatevalue},
      {110, fnTimevalue},
  };
  return bindings;
}

}  // namespace kelp
