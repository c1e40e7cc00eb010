// Display text of values: General with its precision ladder, fixed formats, dates and fitting.
#include "format/ValueText.h"

#include <charconv>
#include <cmath>

#include "format/DateSerial.h"
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

// The most decimals (at most 8) with which a General number fits, tried in rounds of
// falling decimals from a cap that rises by two while the first try of a round fits.
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
  if (fitted < 0) {
    overflowMarks(out);
    return false;
  }
  size_t point = plainFixed(number, fitted, out);
  int kept = fitted;
  while (kept > 0 && out.back() == u'0') {
    out.pop_back();
    --kept;
  }
  if (kept == 0) {
    if (point != std::u16string::npos) out.resize(point);
    if (out == u"-0") out = u"0";
  }
  return kept >= 6;
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
        overflowMarks(out);
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

}  // namespace kelp
