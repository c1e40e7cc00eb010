// Display text of values: General with its precision ladder, fixed formats, dates and fitting.
#include "format/ValueText.h"

#include <charconv>
#include <cmath>
#include <string>
#include <utility>

#include "format/DateSerial.h"
#include "model/CellTaskText.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Locale.h"

namespace kelp {

namespace {

// Room for the widest double in fixed notation with nine decimals.
constexpr int kBufferSize = 400;

void appendAscii(const char* first, const char* last, std::u16string& out) {
  for (; first != last; ++first) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*first)));
}

// Fixed notation with `decimals` digits, the point made the locale's; the point's index
// in `out` is returned (npos without decimals).
size_t plainFixed(double number, int decimals, std::u16string& out) {
  char buffer[kBufferSize];
  auto result = std::to_chars(buffer, buffer + kBufferSize, number, std::chars_format::fixed, decimals);
  out.clear();
  appendAscii(buffer, result.ptr, out);
  if (decimals <= 0) return std::u16string::npos;
  size_t point = out.size() - static_cast<size_t>(decimals) - 1;
  out[point] = currentLocale().decimalSymbol;
  return point;
}

int generalPrecision(double magnitude) {
  static constexpr double kBelow[] = {0.001, 0.01, 0.1, 1, 10, 100, 1000, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
  int precision = 17;
  for (double bound : kBelow) {
    if (magnitude < bound) return precision;
    --precision;
  }
  return 4;
}

void overflowMarks(std::u16string& out) { out.assign(OverflowMarks, u'#'); }

// The exponent form a narrow column takes, "1.23457E+10": `decimals` digits of mantissa
// after the point (trailing zeros dropped), a signed exponent of at least two digits. The
// mantissa is rounded half away from zero on its printed digits, as fixed notation is.
void narrowScientific(double number, int decimals, std::u16string& out) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(number), std::chars_format::scientific, 16);
  std::string digits;  // the 17 significant digits
  const char* p = buffer;
  for (; p != result.ptr && *p != 'e'; ++p) {
    if (*p != '.') digits.push_back(*p);
  }
  int exponent = 0;
  std::from_chars(p + 1 + (p[1] == '+'), result.ptr, exponent);
  digits.resize(static_cast<size_t>(decimals) + 2, '0');
  const bool up = digits.back() >= '5';
  digits.pop_back();
  for (size_t i = digits.size(); up && i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      break;
    }
    digits[i] = '0';
    if (i == 0) {
      digits.insert(digits.begin(), '1');
      digits.pop_back();
      ++exponent;
    }
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  out.clear();
  if (number < 0) out.push_back(u'-');
  out.push_back(static_cast<char16_t>(digits[0]));
  if (digits.size() > 1) {
    out.push_back(currentLocale().decimalSymbol);
    appendAscii(digits.data() + 1, digits.data() + digits.size(), out);
  }
  out.push_back(u'E');
  out.push_back(exponent < 0 ? u'-' : u'+');
  const int magnitude = exponent < 0 ? -exponent : exponent;
  if (magnitude < 10) out.push_back(u'0');
  char number10[8];
  auto written = std::to_chars(number10, number10 + sizeof number10, magnitude);
  appendAscii(number10, written.ptr, out);
}

// A General number too wide for its room, as desktop spreadsheets show it: the most
// decimals (at most 8) that fit, tried in rounds of falling decimals from a cap that rises
// by two while the first try of a round fits; when the digits that fit say nothing of a
// number that is not zero (its integer part is too wide, or only zeros fit), the exponent
// form with as many mantissa digits as fit (at most 5); only then the overflow marks.
bool fitGeneralNumber(double number, int32_t width, const TextMeasure& measure, std::u16string& out) {
  if (!std::isfinite(number)) {
    overflowMarks(out);
    return false;
  }
  std::u16string trial;
  int fitted = -1;
  for (int cap = 2; cap <= 8; cap += 2) {
    int decimals = cap;
    for (; decimals >= 0; --decimals) {
      plainFixed(number, decimals, trial);
      if (measure.width(trial, measure.context) <= width) break;
    }
    if (decimals < 0) break;
    fitted = decimals;
    if (decimals != cap) break;
  }
  std::u16string fixed;
  int kept = 0;
  if (fitted >= 0) {
    size_t point = plainFixed(number, fitted, fixed);
    kept = fitted;
    while (kept > 0 && fixed.back() == u'0') {
      fixed.pop_back();
      --kept;
    }
    if (kept == 0) {
      if (point != std::u16string::npos) fixed.resize(point);
      if (fixed == u"-0") fixed = u"0";
    }
  }
  if (fitted >= 0 && (fixed != u"0" || number == 0)) {
    out = fixed;
    return kept >= 6;
  }
  for (int decimals = 5; decimals >= 0; --decimals) {
    narrowScientific(number, decimals, out);
    if (measure.width(out, measure.context) <= width) return false;
  }
  if (fitted >= 0) {
    out = fixed;  // a tiny number whose exponent form is too wide still shows its 0
    return false;
  }
  overflowMarks(out);
  return false;
}

bool fits(const std::u16string& text, int32_t width, const TextMeasure& measure) {
  return measure.width(text, measure.context) <= width;
}

}  // namespace

int32_t characterWidth(std::u16string_view text, const void*) { return static_cast<int32_t>(text.size()); }

void generalNumberText(double number, std::u16string& out) {
  out.clear();
  if (!std::isfinite(number)) {
    // Only a fault elsewhere stores one; show it as the error it stands for.
    out = u"!!Num";
    return;
  }
  if (number == 0) number = 0;  // no "-0" for a negative zero
  char buffer[64];
  const double magnitude = std::fabs(number);
  if (magnitude <= 1e10 && (magnitude >= 1e-4 || magnitude == 0)) {
    auto result =
        std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::fixed, generalPrecision(magnitude));
    char* end = result.ptr;
    char* point = buffer;
    while (point != end && *point != '.') ++point;
    if (point != end) {
      while (end > point + 1 && end[-1] == '0') --end;
      if (end == point + 1) end = point;
    }
    appendAscii(buffer, end, out);
    if (point != end) out[static_cast<size_t>(point - buffer)] = currentLocale().decimalSymbol;
    return;
  }
  auto result = std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::scientific, 14);
  char* e = buffer;
  while (e != result.ptr && *e != 'e') ++e;
  // Mantissa: cut after its last non-zero decimal, and the point when none is left.
  char* mantissaEnd = e;
  while (mantissaEnd > buffer && mantissaEnd[-1] == '0') --mantissaEnd;
  if (mantissaEnd > buffer && mantissaEnd[-1] == '.') --mantissaEnd;
  appendAscii(buffer, mantissaEnd, out);
  for (char16_t& c : out)
    if (c == u'.') {
      c = currentLocale().decimalSymbol;
      break;
    }
  out.push_back(u'e');
  const char* exponent = e + 1;
  if (exponent != result.ptr && *exponent == '-') out.push_back(u'-');
  if (exponent != result.ptr && (*exponent == '-' || *exponent == '+')) ++exponent;
  for (int dropped = 0; dropped < 2 && exponent + 1 < result.ptr && *exponent == '0'; ++dropped) ++exponent;
  appendAscii(exponent, result.ptr, out);
}

void fixedNumberText(double number, const NumberFormatRecord& format, std::u16string& out) {
  out.clear();
  if (format.percent) number *= 100;
  // Checked after scaling: a percent of a number near the limit overflows to infinity.
  if (!std::isfinite(number)) {
    out = u"!!Num";
    return;
  }
  const int decimals = format.decimals > 9 ? 9 : format.decimals;
  // Half away from zero with a small bias, so that 2.675 (binary 2.67499...) shows 2.68.
  // From 2^53 on every double is whole and the division could overflow, so it is skipped.
  static constexpr double kStep[] = {1, 0.1, 0.01, 0.001, 1e-4, 1e-5, 1e-6, 1e-7, 1e-8, 1e-9};
  const double r = kStep[decimals];
  if (std::fabs(number) < 9007199254740992.0) {
    if (number >= 0)
      number = std::floor((number + 0.50000000025 * r) / r) * r;
    else
      number = -std::floor((0.50000000025 * r - number) / r) * r;
  }
  char buffer[kBufferSize];
  auto result = std::to_chars(buffer, buffer + kBufferSize, number, std::chars_format::fixed, decimals);
  const char* text = buffer;
  const bool negative = *text == '-';
  if (negative) ++text;
  const LocaleSettings& locale = currentLocale();
  out += negative ? format.negativePrefix : format.positivePrefix;
  const char* point = decimals > 0 ? result.ptr - decimals - 1 : result.ptr;
  for (const char* p = text; p != point; ++p) {
    out.push_back(static_cast<char16_t>(*p));
    const long remaining = point - p - 1;  // integer digits still to copy
    if (format.thousands && remaining > 0 && remaining % 3 == 0) out.push_back(locale.thousandsSeparator);
  }
  if (decimals > 0) {
    out.push_back(locale.decimalSymbol);
    appendAscii(point + 1, result.ptr, out);
  }
  out += negative ? format.negativeSuffix : format.positiveSuffix;
}

namespace {

// The date of a date number and its time unless it is a whole day. Times alone live
// on 30 December 1899, so that day shows no date. With `readBack` a year that two digits
// would put in another century is written in full.
void dateText(double serial, bool readBack, std::u16string& out) {
  out.clear();
  DateFields fields;
  if (!fieldsFromSerial(serial, fields)) {
    out = u"!!ErrDateTime";
    return;
  }
  const LocaleSettings& locale = currentLocale();
  if (fields.year != 1899 || fields.month != 12 || fields.day != 30) {
    bool fullYear = readBack && yearFromTwoDigits(fields.year % 100) != fields.year;
    appendDatePicture(fields, locale.pictures[fullYear ? PictureSlot::LongYearDate : PictureSlot::ShortDate], out,
                      locale);
  }
  if (serial != 0 && serial == std::floor(serial)) return;  // a whole date shows no time
  if (!out.empty()) out.push_back(u' ');
  appendTimePicture(fields, locale.pictures[PictureSlot::Time24Seconds], out, locale);
}

}  // namespace

void generalDateText(double serial, std::u16string& out) { dateText(serial, false, out); }

void editableDateText(double serial, std::u16string& out) { dateText(serial, true, out); }

bool editableText(const CellValue& value, std::u16string& out) {
  if (value.kind == ValueKind::DateTime) {
    editableDateText(value.number(), out);
    return true;
  }
  if (value.kind != ValueKind::Formula) {
    valueToText(value, out);
    return true;
  }
  // Formula text always starts with "="; an empty one could not be made.
  SavedErrorState saved = saveErrorState();
  valueToText(value, out);
  restoreErrorState(saved);
  if (!out.empty()) return true;
  out = errorMessage(static_cast<uint32_t>(Err::FormulaTooComplex));
  return false;
}

bool datePictureText(double serial, const NumberFormatRecord& format, std::u16string& out) {
  out.clear();
  DateFields fields;
  if (!fieldsFromSerial(serial, fields)) return false;
  const LocaleSettings& locale = currentLocale();
  if (!format.datePicture.empty()) appendDatePicture(fields, format.datePicture, out, locale);
  if (!format.timePicture.empty()) {
    if (!format.datePicture.empty()) out.push_back(u' ');
    appendTimePicture(fields, format.timePicture, out, locale);
  }
  return true;
}

namespace {

// A time picture without its seconds and the separator before them: "h:mm:ss tt" gives
// "h:mm tt"; a picture without seconds is given back as it is.
std::u16string withoutSeconds(std::u16string_view picture) {
  std::u16string out(picture);
  size_t s = out.find_first_of(u"sS");
  if (s == std::u16string::npos) return out;
  size_t end = s;
  while (end < out.size() && (out[end] == u's' || out[end] == u'S')) ++end;
  size_t start = s;
  auto field = [](char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
  while (start > 0 && !field(out[start - 1])) --start;
  out.erase(start, end - start);
  return out;
}

// A date number whose text is too wide for its room, in the first shorter form that fits:
// the time without seconds, then the short date with that time, then the short date alone
// (a time alone only loses its seconds). False when none fits.
bool fitDate(double serial, const NumberFormatRecord& format, int32_t width, const TextMeasure& measure,
             std::u16string& out) {
  DateFields fields;
  if (!fieldsFromSerial(serial, fields)) return false;
  const LocaleSettings& locale = currentLocale();
  std::u16string date, time;
  if (format.kind == FormatKind::DateTime) {
    date = format.datePicture;
    time = format.timePicture;
  } else {
    if (fields.year != 1899 || fields.month != 12 || fields.day != 30) date = locale.pictures[PictureSlot::ShortDate];
    if (serial == 0 || serial != std::floor(serial)) time = locale.pictures[PictureSlot::Time24Seconds];
  }
  const std::u16string shortDate = date.empty() ? u"" : locale.pictures[PictureSlot::ShortDate];
  const std::u16string minutes = withoutSeconds(time);
  const std::pair<std::u16string, std::u16string> forms[] = {
      {date, minutes}, {shortDate, minutes}, {shortDate, u""}};
  for (const auto& [d, t] : forms) {
    if (d.empty() && t.empty()) continue;
    if (d == date && t == time) continue;  // the form that did not fit
    out.clear();
    if (!d.empty()) appendDatePicture(fields, d, out, locale);
    if (!t.empty()) {
      if (!d.empty()) out.push_back(u' ');
      appendTimePicture(fields, t, out, locale);
    }
    if (measure.width(out, measure.context) <= width) return true;
  }
  return false;
}

}  // namespace

bool displayText(const CellValue& cell, const NumberFormatRecord& format, int32_t width,
                 const TextMeasure* measure, std::u16string& out) {
  const CellValue& value = effectiveValue(cell);
  const bool fitting = measure != nullptr && measure->width != nullptr && width < NoWidthLimit;
  switch (value.kind) {
    case ValueKind::DateTime: {
      bool full = true;
      if (format.kind == FormatKind::DateTime)
        full = datePictureText(value.number(), format, out);
      else
        generalDateText(value.number(), out);
      if (fitting && !fits(out, width, *measure)) {
        if (!full || !fitDate(value.number(), format, width, *measure, out)) overflowMarks(out);
        return false;
      }
      return full;
    }
    case ValueKind::Number:
    case ValueKind::Integer: {
      const double number = value.kind == ValueKind::Number ? value.number() : value.i32();
      if (format.kind == FormatKind::Number && !format.general) {
        fixedNumberText(number, format, out);
        if (fitting && !fits(out, width, *measure)) {
          overflowMarks(out);
          return false;
        }
        return true;
      }
      generalNumberText(number, out);
      if (fitting && !fits(out, width, *measure)) return fitGeneralNumber(number, width, *measure, out);
      return true;
    }
    case ValueKind::Error:
      valueToText(value, out);
      if (fitting && !fits(out, width, *measure)) {
        overflowMarks(out);
        return false;
      }
      return true;
    case ValueKind::Empty:
    case ValueKind::Logical:
    case ValueKind::Text:
      valueToText(value, out);
      return true;
    default:
      out.clear();  // references never reach display
      return true;
  }
}

uint8_t displayColor(const CellValue& cell, const NumberFormatRecord& format) {
  const CellValue& value = effectiveValue(cell);
  if ((!value.isNumeric() && value.kind != ValueKind::Integer) || format.kind == FormatKind::Text) return 0;
  const double number = value.kind == ValueKind::Integer ? value.i32() : value.number();
  return number < 0 ? format.negativeColor : format.positiveColor;
}

bool displayText(const CellValue& value, const std::vector<NumberFormatRecord>& formats, uint32_t formatIndex,
                 int32_t width, const TextMeasure* measure, std::u16string& out) {
  static const NumberFormatRecord general = generalFormat();
  const NumberFormatRecord& format = formatIndex < formats.size() ? formats[formatIndex] : general;
  return displayText(value, format, width, measure, out);
}

void installNumberDisplay() {
  installNumberText([](const CellValue& value, std::u16string& out) {
    if (value.kind == ValueKind::DateTime)
      generalDateText(value.number(), out);
    else
      generalNumberText(value.number(), out);
  });
}

std::u16string cellShownText(const Workbook& workbook, const Sheet& sheet, int32_t column, int32_t row) {
  const CellRecord* cell = sheet.cellPtr(column, row);
  if (!cell) return {};
  if (cell->value.kind == ValueKind::Text) return std::u16string(cellTaskDisplay(textOf(cell->value)));
  std::u16string text;
  displayText(effectiveValue(cell->value), workbook.numberFormats,
              workbook.style(sheet.effectiveStyle(column, row)).numberFormat, NoWidthLimit, nullptr, text);
  return text;
}

}  // namespace kelp
