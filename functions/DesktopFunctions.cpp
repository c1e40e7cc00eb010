// The worksheet functions that workbooks from desktop spreadsheets commonly hold, added
// after the command rows: Choose and IfError, Text, Dollar, Search and Roman, the date
// arithmetic of Days360, Datedif, Edate, Eomonth, the working days, Weeknum and
// Yearfrac, the depreciations Vdb and Db with Ispmt, ErrorType, Quartile and Ttest, and
// the whole-number functions Mround, Gcd, Lcm and Quotient. The conditional ones live
// with Sumif (DatabaseFunctions.cpp), whose criteria they share.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "format/DateSerial.h"
#include "format/ExcelFormatCodes.h"
#include "format/ValueText.h"
#include "formula/Evaluator.h"
#include "formula/ValueOrder.h"
#include "functions/Distributions.h"
#include "functions/FunctionFamilies.h"
#include "model/NumberFormat.h"
#include "platform/Text.h"

namespace kelp {

namespace {

// The longest text a cell keeps when it is saved, as the text functions cut at.
constexpr size_t LongestText = 32764;

bool fail(CellError code) {
  pushError(code);
  return true;
}

// ----- Choice.

// The form read from Excel files: every argument is on the stack, the index deepest. The
// compiler's form runs only the chosen argument, and the evaluator takes its call itself.
void fnChoose() {
  const int32_t count = argCount();
  std::vector<CellValue> values(static_cast<size_t>(count - 1));
  for (size_t i = values.size(); i > 0; --i) popValue(values[i - 1]);
  double index = popNumber();
  if (!takePendingError()) {
    for (CellValue& v : values) releaseValue(v);
    return;
  }
  const double whole = std::trunc(index);
  bool inRange = whole >= 1 && whole <= static_cast<double>(values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    if (inRange && static_cast<double>(i + 1) == whole)
      pushValue(values[i]);  // a reference moves as it is, as If's branches do
    else
      releaseValue(values[i]);
  }
  if (!inRange) pushError(CellError::Value);
}

void fnIfError() {
  CellValue otherwise;
  popValue(otherwise);
  CellValue value;
  popResolved(value);
  clearPendingError();
  if (value.kind == ValueKind::Error) {
    releaseValue(value);
    pushValue(otherwise);
  } else {
    releaseValue(otherwise);
    pushValue(value);
  }
}

// Excel's numbers of the error values; anything else has none.
void fnErrorType() {
  CellValue value;
  popResolved(value);
  clearPendingError();
  if (value.kind != ValueKind::Error) {
    releaseValue(value);
    pushError(CellError::NA);
    return;
  }
  switch (cellError(value)) {
    case CellError::Null: pushNumber(1); break;
    case CellError::Div0: pushNumber(2); break;
    case CellError::Value: pushNumber(3); break;
    case CellError::Ref: pushNumber(4); break;
    case CellError::Name: pushNumber(5); break;
    case CellError::Num: pushNumber(6); break;
    case CellError::NA: pushNumber(7); break;
    default: pushError(CellError::NA); break;
  }
}

// ----- Texts.

void fnText() {
  std::u16string code = popTextCopy();
  CellValue value;
  popResolved(value);
  if (!takePendingError()) {
    releaseValue(value);
    return;
  }
  if (value.kind == ValueKind::Text || value.kind == ValueKind::Error) {
    pushValue(value);  // a text stays as it is; an error is the result
    return;
  }
  if (value.kind == ValueKind::Empty) value = numberValue(0);
  if (value.kind == ValueKind::Logical) {
    releaseValue(value);
    return pushText(value.u32() ? u"TRUE" : u"FALSE");
  }
  // The code is read as Kelp's own formats read Excel's, so that the text matches what
  // a cell with that format shows under the locale in force.
  std::u16string out;
  displayText(value, recordFromExcelCode(code), NoWidthLimit, nullptr, out);
  releaseValue(value);
  if (out.size() > LongestText) return pushError(CellError::Value);
  pushText(out);
}

void fnDollar() {
  int32_t decimals = argCount() >= 2 ? popInteger() : 2;
  double number = popNumber();
  if (!takePendingError()) return;
  if (!std::isfinite(number) || decimals > 127) return pushError(CellError::Num);
  roundToTensForText(number, decimals);
  std::u16string out;
  fixedNumberText(number, currencyFormat(std::min(decimals, 9)), out);
  pushText(out);
}

// Find without regard to case, with "?", "*" and "~" as in criteria.
void fnSearch() {
  int32_t start = argCount() >= 3 ? popInteger() : 1;
  std::u16string within = popTextCopy();
  std::u16string find = popTextCopy();
  if (!takePendingError()) return;
  if (start < 1 || static_cast<size_t>(start) > within.size() + (find.empty() ? 1 : 0))
    return pushError(CellError::Value);
  if (find.empty()) return pushNumber(start);
  // A match at a position is the pattern matching a beginning of the rest.
  const std::u16string prefix = find + u"*";
  for (size_t at = static_cast<size_t>(start) - 1; at < within.size(); ++at)
    if (wildcardMatch(prefix, std::u16string_view(within).substr(at), false)) return pushNumber(double(at + 1));
  pushError(CellError::Value);
}

void fnRoman() {
  int32_t form = 0;
  if (argCount() >= 2) {
    CellValue given;
    popResolved(given);
    form = given.kind == ValueKind::Logical ? (given.u32() ? 0 : 4) : -1;
    if (form < 0) {
      pushValue(given);
      form = popInteger();
    }
  }
  double number = popNumber();
  if (!takePendingError()) return;
  number = std::trunc(number);
  // Only the classic form is built; the concise forms 1 to 4 are refused, not guessed.
  if (!(number >= 0 && number <= 3999) || form != 0) return pushError(CellError::Value);
  static constexpr int Values[] = {1000, 900, 500, 400, 100, 90, 50, 40, 10, 9, 5, 4, 1};
  static constexpr const char16_t* Letters[] = {u"M", u"CM", u"D", u"CD", u"C", u"XC", u"L",
                                                u"XL", u"X", u"IX", u"V", u"IV", u"I"};
  int n = static_cast<int>(number);
  std::u16string out;
  for (size_t i = 0; i < std::size(Values); ++i)
    for (; n >= Values[i]; n -= Values[i]) out += Letters[i];
  pushText(out);
}

// ----- Dates.

// Pops a date argument as a whole day; false once the result is pushed.
bool popDay(double& day, DateFields& fields) {
  double serial = popDateTime();
  if (!takePendingError()) return false;
  day = std::floor(serial);
  if (day >= 0 && fieldsFromSerial(day, fields)) return true;
  pushError(CellError::Num);
  return false;
}

// Pops a start and an end date as popDay does.
bool popTwoDays(double& start, DateFields& a, double& end, DateFields& b) {
  double last = popDateTime();
  double first = popDateTime();
  if (!takePendingError()) return false;
  start = std::floor(first);
  end = std::floor(last);
  if (start >= 0 && end >= 0 && fieldsFromSerial(start, a) && fieldsFromSerial(end, b)) return true;
  pushError(CellError::Num);
  return false;
}

bool isLastOfMonth(const DateFields& f) { return f.day == daysInMonth(f.year, f.month); }

double days360(const DateFields& a, const DateFields& b, bool european) {
  int d1 = a.day, d2 = b.day;
  if (european) {
    d1 = std::min(d1, 30);
    d2 = std::min(d2, 30);
  } else {
    // The method of US associations as the peers apply it: a start on the 31st or on
    // the last of February counts as the 30th, and so does an end on the 31st when the
    // start was on the 30th or 31st.
    if (d2 == 31 && d1 >= 30) d2 = 30;
    if (d1 == 31 || (a.month == 2 && isLastOfMonth(a))) d1 = 30;
  }
  return (b.year - a.year) * 360.0 + (b.month - a.month) * 30.0 + (d2 - d1);
}

void fnDays360() {
  bool european = argCount() >= 3 && popLogical() != 0;
  double end = 0, start = 0;
  DateFields b, a;
  if (!popTwoDays(start, a, end, b)) return;
  // Dates in reverse give the count between them negated.
  pushNumber(start > end ? -days360(b, a, european) : days360(a, b, european));
}

// Whole months from a to b (a <= b), a day of the month not yet reached not counting.
int wholeMonths(const DateFields& a, const DateFields& b) {
  int months = (b.year - a.year) * 12 + (b.month - a.month);
  if (b.day < a.day) --months;
  return months;
}

bool serialOf(int year, int month, int day, double& out) {
  return serialFromFields(year, month, day, 0, 0, 0, 0, false, out) && out >= 0 && out <= MaxSerial;
}

void fnDatedif() {
  std::u16string unit = popTextCopy();
  double end = 0, start = 0;
  DateFields b, a;
  if (!popTwoDays(start, a, end, b)) return;
  if (start > end) return pushError(CellError::Num);
  for (char16_t& c : unit) c = upperCase(c);
  int months = wholeMonths(a, b);
  if (unit == u"D") return pushNumber(end - start);
  if (unit == u"M") return pushNumber(months);
  if (unit == u"Y") return pushNumber(months / 12);
  if (unit == u"YM") return pushNumber(months % 12);
  if (unit == u"MD") {
    // The days since the start's day of the month in the month before the end's.
    if (b.day >= a.day) return pushNumber(b.day - a.day);
    int year = b.year, month = b.month - 1;
    if (month == 0) month = 12, --year;
    double from = 0;
    if (!serialOf(year, month, a.day, from)) return pushError(CellError::Num);
    return pushNumber(end - from);
  }
  if (unit == u"YD") {
    // The days from the start moved into the last year that does not pass the end.
    int year = b.year;
    if (b.month < a.month || (b.month == a.month && b.day < a.day)) --year;
    double from = 0;
    if (!serialOf(year, a.month, a.day, from)) return pushError(CellError::Num);
    return pushNumber(end - from);
  }
  pushError(CellError::Value);
}

// A date months on, its day kept or cut to the month's last (or the month's last day).
void monthsOn(bool lastDay) {
  double months = std::trunc(popNumber());
  double start = 0;
  DateFields a;
  if (!popDay(start, a)) return;
  if (!(std::fabs(months) < 120000)) return pushError(CellError::Num);
  int64_t total = int64_t{a.year} * 12 + (a.month - 1) + static_cast<int64_t>(months);
  int year = static_cast<int>(total / 12), month = static_cast<int>(total % 12) + 1;
  if (year < 1 || year > 9999) return pushError(CellError::Num);
  int day = lastDay ? daysInMonth(year, month) : std::min(a.day, daysInMonth(year, month));
  double serial = 0;
  if (!serialOf(year, month, day, serial)) return pushError(CellError::Num);
  pushDateTime(serial);
}

void fnEdate() { monthsOn(false); }
void fnEomonth() { monthsOn(true); }

bool isWeekend(double day) {
  // Serial 0 is a Saturday.
  int weekday = static_cast<int>(std::fmod(std::fmod(day, 7) + 7, 7));
  return weekday == 0 || weekday == 1;
}

// Pops the optional holidays: numbers in a range or given directly, as whole days.
bool popHolidays(std::set<double>& out) {
  if (argCount() < 3) return true;
  std::vector<double> days;
  collectArgumentNumbers(days);
  for (double d : days) out.insert(std::floor(d));
  return true;
}

void fnNetworkdays() {
  std::set<double> holidays;
  popHolidays(holidays);
  double end = 0, start = 0;
  DateFields b, a;
  if (!popTwoDays(start, a, end, b)) return;
  double sign = 1;
  if (start > end) std::swap(start, end), sign = -1;
  // Whole weeks hold five working days each; the days left over are looked at one by one.
  double weeks = std::floor((end - start + 1) / 7);
  double count = weeks * 5;
  for (double d = start + weeks * 7; d <= end; ++d)
    if (!isWeekend(d)) ++count;
  for (double h : holidays)
    if (h >= start && h <= end && !isWeekend(h)) --count;
  pushNumber(sign * count);
}

void fnWorkday() {
  std::set<double> holidays;
  popHolidays(holidays);
  double days = std::trunc(popNumber());
  double start = 0;
  DateFields a;
  if (!popDay(start, a)) return;
  if (!(std::fabs(days) <= MaxSerial)) return pushError(CellError::Num);
  const double step = days < 0 ? -1 : 1;
  double day = start;
  for (double left = std::fabs(days); left > 0;) {
    day += step;
    if (day < 0 || day > MaxSerial) return pushError(CellError::Num);
    if (!isWeekend(day) && !holidays.count(day)) --left;
  }
  pushDateTime(day);
}

void fnWeeknum() {
  int32_t type = argCount() >= 2 ? popInteger() : 1;
  double day = 0;
  DateFields f;
  if (!popDay(day, f)) return;
  double january1 = 0;
  serialOf(f.year, 1, 1, january1);
  int weekStart;  // 0 Sunday ... 6 Saturday
  if (type == 1 || type == 17) weekStart = 0;
  else if (type == 2 || type == 11) weekStart = 1;
  else if (type >= 12 && type <= 16) weekStart = type - 10;
  else if (type == 21) weekStart = -1;
  else return pushError(CellError::Num);
  auto weekdayOf = [](double serial) { return static_cast<int>(std::fmod(serial + 6, 7)); };  // 0 Sunday
  if (weekStart < 0) {
    // ISO weeks: the week with the year's first Thursday is week 1.
    double thursday = day - (weekdayOf(day) + 6) % 7 + 3;
    DateFields t;
    fieldsFromSerial(thursday, t);
    double first = 0;
    serialOf(t.year, 1, 1, first);
    return pushNumber(std::floor((thursday - first) / 7) + 1);
  }
  int offset = (weekdayOf(january1) - weekStart + 7) % 7;
  pushNumber(std::floor((day - january1 + offset) / 7) + 1);
}

void fnYearfrac() {
  int32_t basis = argCount() >= 3 ? popInteger() : 0;
  double end = 0, start = 0;
  DateFields b, a;
  if (!popTwoDays(start, a, end, b)) return;
  if (basis < 0 || basis > 4) return pushError(CellError::Num);
  if (start > end) std::swap(start, end), std::swap(a, b);
  switch (basis) {
    case 0: {
      // The US 30/360 count as Excel's year fractions take it: the last of February
      // counts as the 30th at the start, and at the end too when the start was one.
      int d1 = a.day, d2 = b.day;
      bool startFebruaryEnd = a.month == 2 && isLastOfMonth(a);
      if (startFebruaryEnd && b.month == 2 && isLastOfMonth(b)) d2 = 30;
      if (d2 == 31 && d1 >= 30) d2 = 30;
      if (d1 == 31 || startFebruaryEnd) d1 = 30;
      return pushNumber(((b.year - a.year) * 360.0 + (b.month - a.month) * 30.0 + (d2 - d1)) / 360);
    }
    case 1: {
      double length;
      bool withinAYear = a.year == b.year || (b.year == a.year + 1 && (b.month < a.month ||
                                                                       (b.month == a.month && b.day <= a.day)));
      if (a.year == b.year) {
        length = isLeapYear(a.year) ? 366 : 365;
      } else if (withinAYear) {
        // 366 when a 29 February lies between the two dates.
        bool leapDay = false;
        double feb29 = 0;
        if (isLeapYear(a.year) && serialOf(a.year, 2, 29, feb29) && feb29 >= start) leapDay = true;
        if (isLeapYear(b.year) && serialOf(b.year, 2, 29, feb29) && feb29 <= end) leapDay = true;
        length = leapDay ? 366 : 365;
      } else {
        double first = 0, last = 0;
        serialOf(a.year, 1, 1, first);
        serialOf(b.year + 1, 1, 1, last);
        length = (last - first) / (b.year - a.year + 1);
      }
      return pushNumber((end - start) / length);
    }
    case 2: return pushNumber((end - start) / 360);
    case 3: return pushNumber((end - start) / 365);
    default: return pushNumber(days360(a, b, true) / 360);
  }
}

// ----- Money.

void fnIspmt() {
  double pv = popNumber();
  double nper = popNumber();
  double per = popNumber();
  double rate = popNumber();
  if (!takePendingError()) return;
  if (nper == 0) return pushError(CellError::Div0);
  pushNumber(pv * rate * (per / nper - 1));
}

void fnDb() {
  double month = argCount() >= 5 ? std::trunc(popNumber()) : 12;
  double period = std::trunc(popNumber());
  double life = popNumber();
  double salvage = popNumber();
  double cost = popNumber();
  if (!takePendingError()) return;
  if (cost <= 0 || salvage < 0 || life <= 0 || period <= 0 || month < 1 || month > 12 ||
      period > life + (month < 12 ? 1 : 0) || life > 10000)
    return pushError(CellError::Num);
  // The rate is rounded to three places, as the desktop spreadsheets round it.
  double rate = std::round((1 - std::pow(salvage / cost, 1 / life)) * 1000) / 1000;
  double total = cost * rate * month / 12;
  if (period == 1) return pushNumber(total);
  double depreciation = 0;
  for (double p = 2; p <= period; ++p) {
    depreciation = (cost - total) * rate;
    if (p > life) depreciation *= (12 - month) / 12;
    total += depreciation;
  }
  pushNumber(depreciation);
}

// The declining balance depreciation of each whole period, turning to straight line
// when that gives more (unless told not to).
double vdbSpan(double cost, double salvage, double life, double start, double end, double factor, bool noSwitch) {
  double value = cost, total = 0;
  bool straight = false;
  double straightAmount = 0;
  const double periods = std::ceil(life);
  for (double p = 0; p < periods && p < end; ++p) {
    double amount;
    if (straight) {
      amount = straightAmount;
    } else {
      amount = std::min(value * factor / life, std::max(0.0, value - salvage));
      double line = (value - salvage) / (life - p);
      if (!noSwitch && line > amount) {
        straight = true;
        straightAmount = line;
        amount = line;
      }
    }
    // The share of this period that lies within the span.
    double from = std::max(p, start), to = std::min(p + 1, end);
    if (to > from) total += amount * (to - from);
    value -= amount;
  }
  return total;
}

void fnVdb() {
  bool noSwitch = argCount() >= 7 && popLogical() != 0;
  double factor = argCount() >= 6 ? popNumber() : 2;
  double end = popNumber();
  double start = popNumber();
  double life = popNumber();
  double salvage = popNumber();
  double cost = popNumber();
  if (!takePendingError()) return;
  if (cost < 0 || salvage < 0 || life <= 0 || start < 0 || end < start || end > life || factor <= 0 ||
      life > 100000)
    return pushError(CellError::Num);
  pushNumber(vdbSpan(cost, salvage, life, start, end, factor, noSwitch));
}

// ----- Statistics.

void fnQuartile() {
  double quart = std::trunc(popNumber());
  std::vector<double> v;
  collectArgumentNumbers(v);
  if (!takePendingError()) return;
  if (v.empty() || !(quart >= 0 && quart <= 4)) return pushError(CellError::Num);
  std::sort(v.begin(), v.end());
  double h = static_cast<double>(v.size() - 1) * quart / 4;
  size_t low = static_cast<size_t>(std::floor(h));
  if (low + 1 >= v.size()) return pushNumber(v[low]);
  pushNumber(v[low] + (h - std::floor(h)) * (v[low + 1] - v[low]));
}

// Student's t-test on two samples: paired (type 1), of equal variance (2) or not (3).
void fnTtest() {
  double type = std::trunc(popNumber());
  double tails = std::trunc(popNumber());
  std::vector<double> y, x;
  collectArgumentNumbers(y);
  collectArgumentNumbers(x);
  if (!takePendingError()) return;
  if ((tails != 1 && tails != 2) || type < 1 || type > 3) return pushError(CellError::Num);
  auto meanVar = [](const std::vector<double>& v, double& mean, double& var) {
    mean = 0;
    for (double d : v) mean += d;
    mean /= static_cast<double>(v.size());
    var = 0;
    for (double d : v) var += (d - mean) * (d - mean);
    var /= static_cast<double>(v.size() - 1);
  };
  double t, df;
  if (type == 1) {
    if (x.size() != y.size()) return pushError(CellError::NA);
    if (x.size() < 2) return pushError(CellError::Div0);
    std::vector<double> d(x.size());
    for (size_t i = 0; i < x.size(); ++i) d[i] = x[i] - y[i];
    double mean, var;
    meanVar(d, mean, var);
    if (var == 0) return pushError(CellError::Div0);
    t = mean / std::sqrt(var / static_cast<double>(d.size()));
    df = static_cast<double>(d.size() - 1);
  } else {
    if (x.size() < 2 || y.size() < 2) return pushError(CellError::Div0);
    double mx, vx, my, vy;
    meanVar(x, mx, vx);
    meanVar(y, my, vy);
    const double nx = static_cast<double>(x.size()), ny = static_cast<double>(y.size());
    if (type == 2) {
      double pooled = ((nx - 1) * vx + (ny - 1) * vy) / (nx + ny - 2);
      double se = std::sqrt(pooled * (1 / nx + 1 / ny));
      if (se == 0) return pushError(CellError::Div0);
      t = (mx - my) / se;
      df = nx + ny - 2;
    } else {
      double a = vx / nx, b = vy / ny;
      if (a + b == 0) return pushError(CellError::Div0);
      t = (mx - my) / std::sqrt(a + b);
      df = (a + b) * (a + b) / (a * a / (nx - 1) + b * b / (ny - 1));
    }
  }
  double p = studentTwoTailed(std::fabs(t), df);
  pushNumber(tails == 1 ? p / 2 : p);
}

// ----- Whole numbers.

void fnMround() {
  double multiple = popNumber();
  double number = popNumber();
  if (!takePendingError()) return;
  if (multiple == 0) return pushNumber(0);
  if ((number > 0 && multiple < 0) || (number < 0 && multiple > 0)) return pushError(CellError::Num);
  // Half away from zero, with the allowance that keeps 1.5 as 1.4999999 from going down.
  double q = number / multiple;
  pushNumber(std::floor(q + 0.5 + 1e-12 * std::fabs(q)) * multiple);
}

// The whole numbers of every argument (ranges included); false once the result is pushed.
bool popWholeNumbers(std::vector<double>& out) {
  for (int32_t i = argCount(); i > 0; --i) collectArgumentNumbers(out);
  if (!takePendingError()) return false;
  for (double& d : out) {
    d = std::trunc(d);
    if (!(d >= 0 && d < 9007199254740992.0)) return !fail(CellError::Num);
  }
  return true;
}

double gcdOf(double a, double b) {
  while (b != 0) {
    double r = std::fmod(a, b);
    a = b;
    b = r;
  }
  return a;
}

void fnGcd() {
  std::vector<double> v;
  if (!popWholeNumbers(v)) return;
  double g = 0;
  for (double d : v) g = gcdOf(g, d);
  pushNumber(g);
}

void fnLcm() {
  std::vector<double> v;
  if (!popWholeNumbers(v)) return;
  double l = 1;
  for (double d : v) {
    if (d == 0) return pushNumber(0);
    l = l / gcdOf(l, d) * d;
    if (!std::isfinite(l)) return pushError(CellError::Num);
  }
  pushNumber(l);
}

void fnQuotient() {
  double denominator = popNumber();
  double numerator = popNumber();
  if (!takePendingError()) return;
  if (denominator == 0) return pushError(CellError::Div0);
  pushNumber(std::trunc(numerator / denominator));
}

}  // namespace

std::span<const FunctionBinding> desktopBindings() {
  static constexpr FunctionBinding bindings[] = {
      {304, fnChoose},   {305, fnText},     {306, fnDollar},   {307, fnSearch},      {308, fnDays360},
      {309, fnDatedif},  {310, fnRoman},    {311, fnVdb},      {312, fnDb},          {313, fnErrorType},
      {314, fnQuartile}, {315, fnTtest},    {316, fnIspmt},    {317, fnEdate},       {318, fnEomonth},
      {319, fnNetworkdays}, {320, fnWorkday}, {321, fnWeeknum}, {322, fnYearfrac},  {323, fnMround},
      {324, fnGcd},      {325, fnLcm},      {326, fnQuotient}, {327, fnIfError},
  };
  return bindings;
}

}  // namespace kelp
