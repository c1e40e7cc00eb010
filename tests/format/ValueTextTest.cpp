// Tests of display text: General, fixed formats, dates, the other kinds and fitting.
#include "format/ValueText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "format/DateSerial.h"
#include "platform/Locale.h"

using namespace kelp;

namespace {

class ValueText : public ::testing::Test {
 protected:
  void SetUp() override { selectLocale("en_US"); }
  void TearDown() override { selectLocale("en_US"); }

  static std::u16string general(double x) {
    std::u16string out;
    generalNumberText(x, out);
    return out;
  }
  static std::u16string shown(const CellValue& v, int format) {
    std::u16string out;
    displayText(v, builtInFormats(), static_cast<uint32_t>(format), NoWidthLimit, nullptr, out);
    return out;
  }
  static std::u16string shown(const CellValue& v, const NumberFormatRecord& format) {
    std::u16string out;
    displayText(v, format, NoWidthLimit, nullptr, out);
    return out;
  }
  static std::u16string number(double x, int format) { return shown(numberValue(x), format); }
  static std::u16string number(double x, const NumberFormatRecord& format) { return shown(numberValue(x), format); }
  static std::u16string dateNumber(double x, int format) { return shown(dateTimeValue(x), format); }

  // Fitted into `width` characters; `full` receives the result.
  static std::u16string fitted(const CellValue& v, const NumberFormatRecord& format, int width, bool& full) {
    std::u16string out;
    full = displayText(v, format, width, &CharacterMeasure, out);
    return out;
  }
};

NumberFormatRecord percentFormat(int decimals) {
  NumberFormatRecord f = fixedFormat(decimals, false);
  f.positiveSuffix = u"%";
  f.negativeSuffix = u"%";
  f.updatePercent();
  return f;
}

const std::u16string kMarks(OverflowMarks, u'#');

}  // namespace

TEST_F(ValueText, GeneralFixedNotationAndItsPrecisionLadder) {
  EXPECT_EQ(general(0), u"0");
  EXPECT_EQ(general(-0.0), u"0");
  EXPECT_EQ(general(3), u"3");
  EXPECT_EQ(general(0.1 + 0.2), u"0.3");
  EXPECT_EQ(general(1.0 / 3), u"0.33333333333333");
  EXPECT_EQ(general(2.0 / 3), u"0.66666666666667");
  EXPECT_EQ(general(-1234.5), u"-1234.5");
  // One rung each: a ladder off by one shows a digit more or less.
  EXPECT_EQ(general(0.000123456789012345678), u"0.00012345678901235");
  EXPECT_EQ(general(1234.56789012345678), u"1234.5678901235");
  EXPECT_EQ(general(123456789.123456789), u"123456789.12346");
  EXPECT_EQ(general(9.99999999999999), u"10");
  EXPECT_EQ(general(99999.9999999999), u"100000");
  EXPECT_EQ(general(0.0001), u"0.0001");
  EXPECT_EQ(general(10000000000.0), u"10000000000");
  EXPECT_EQ(general(9999999999.5), u"9999999999.5");
}

TEST_F(ValueText, GeneralExponentForm) {
  EXPECT_EQ(general(10000000001.0), u"1.0000000001e10");
  EXPECT_EQ(general(-12345678901.0), u"-1.2345678901e10");
  EXPECT_EQ(general(1e100), u"1e100");
  EXPECT_EQ(general(1e15), u"1e15");
  EXPECT_EQ(general(123456789012345678.0), u"1.23456789012346e17");
  EXPECT_EQ(general(1.7976931348623157e308), u"1.79769313486232e308");
  EXPECT_EQ(general(0.00001), u"1e-5");
  EXPECT_EQ(general(0.000099999), u"9.9999e-5");
  EXPECT_EQ(general(-1.5e-7), u"-1.5e-7");
  EXPECT_EQ(general(4.9e-324), u"4.94065645841247e-324");
  // A value that cannot be a cell's shows as the error it stands for.
  EXPECT_EQ(general(std::numeric_limits<double>::infinity()), u"!!Num");
  EXPECT_EQ(general(std::numeric_limits<double>::quiet_NaN()), u"!!Num");
}

TEST_F(ValueText, GeneralUsesTheLocaleDecimalSymbol) {
  selectLocale("de_DE");
  EXPECT_EQ(general(2.5), u"2,5");
  EXPECT_EQ(general(-1234.125), u"-1234,125");
  EXPECT_EQ(general(12345678901.0), u"1,2345678901e10");
  EXPECT_EQ(general(0.00001), u"1e-5");
  EXPECT_EQ(general(1000000), u"1000000");  // General never groups
}

TEST_F(ValueText, FixedFormatsRoundWithABias) {
  EXPECT_EQ(number(2.675, BuiltInFormat::Fixed2), u"2.68");
  EXPECT_EQ(number(1.005, BuiltInFormat::Fixed2), u"1.01");
  EXPECT_EQ(number(-2.5, BuiltInFormat::Fixed0), u"-3");
  EXPECT_EQ(number(2.5, BuiltInFormat::Fixed0), u"3");
  EXPECT_EQ(number(-0.4, BuiltInFormat::Fixed0), u"-0");
  EXPECT_EQ(number(0, BuiltInFormat::Fixed2), u"0.00");
  EXPECT_EQ(number(-1234.5, BuiltInFormat::Fixed2), u"-1234.50");
  EXPECT_EQ(number(1.23456789012, fixedFormat(9, false)), u"1.234567890");
  EXPECT_EQ(number(0.125, percentFormat(1)), u"12.5%");
  EXPECT_EQ(number(-0.125, BuiltInFormat::Percent2), u"-12.50%");

  // "%" anywhere in an affix scales, even only in the negative suffix.
  NumberFormatRecord onlyNegative = fixedFormat(0, false);
  onlyNegative.negativeSuffix = u"%";
  onlyNegative.updatePercent();
  EXPECT_EQ(number(0.5, onlyNegative), u"50");
  EXPECT_EQ(number(-0.5, onlyNegative), u"-50%");
}

TEST_F(ValueText, FixedFormatsGroupAndTakeAffixes) {
  EXPECT_EQ(number(1234567, fixedFormat(2, true)), u"1,234,567.00");
  EXPECT_EQ(number(-1234567, fixedFormat(0, true)), u"-1,234,567");
  EXPECT_EQ(number(123, fixedFormat(0, true)), u"123");
  EXPECT_EQ(number(1000, fixedFormat(0, true)), u"1,000");
  EXPECT_EQ(number(999999.995, fixedFormat(2, true)), u"1,000,000.00");
  EXPECT_EQ(number(1234.5, BuiltInFormat::Currency2), u"$1,234.50");
  EXPECT_EQ(number(-1234.5, BuiltInFormat::Currency2), u"($1,234.50)");
  EXPECT_EQ(number(0, BuiltInFormat::Currency0), u"$0");
  EXPECT_EQ(number(-0.4, BuiltInFormat::Currency0), u"($0)");

  // Numbers far beyond the output's usual 100 characters still come out whole.
  EXPECT_EQ(number(1e20, fixedFormat(2, true)), u"100,000,000,000,000,000,000.00");
  std::u16string huge = number(1e300, fixedFormat(9, false));
  EXPECT_EQ(huge.size(), 301u + 10u);
  EXPECT_EQ(huge.substr(0, 4), u"1000");
  EXPECT_EQ(number(-1.7976931348623157e308, fixedFormat(2, true)).substr(0, 5), u"-179,");
  EXPECT_EQ(number(std::numeric_limits<double>::infinity(), fixedFormat(2, true)), u"!!Num");
  EXPECT_EQ(number(1e307, BuiltInFormat::Percent2), u"!!Num");
}

TEST_F(ValueText, FixedFormatsInACommaLocale) {
  selectLocale("de_DE");
  const std::vector<NumberFormatRecord> formats = builtInFormats();
  auto show = [&](double x, int index) {
    std::u16string out;
    displayText(numberValue(x), formats, static_cast<uint32_t>(index), NoWidthLimit, nullptr, out);
    return out;
  };
  EXPECT_EQ(show(2.675, BuiltInFormat::Fixed2), u"2,68");
  EXPECT_EQ(show(1234.5, BuiltInFormat::Currency2), u"1.234,50 €");
  EXPECT_EQ(show(-1234.5, BuiltInFormat::Currency2), u"-1.234,50 €");
  EXPECT_EQ(show(0.125, BuiltInFormat::Percent2), u"12,50%");
  EXPECT_EQ(number(1234567.891, fixedFormat(1, true)), u"1.234.567,9");

  selectLocale("cs_CZ");
  EXPECT_EQ(number(1234567.891, BuiltInFormat::Currency2), u"1\u00A0234\u00A0567,89 Kč");
}

TEST_F(ValueText, DatesUnderGeneral) {
  EXPECT_EQ(dateNumber(0, BuiltInFormat::General), u"0:00:00");
  EXPECT_EQ(dateNumber(0.5, BuiltInFormat::General), u"12:00:00");
  EXPECT_EQ(dateNumber(38353, BuiltInFormat::General), u"1/1/05");
  EXPECT_EQ(dateNumber(38353.25, BuiltInFormat::General), u"1/1/05 6:00:00");
  EXPECT_EQ(dateNumber(1, BuiltInFormat::General), u"12/31/99");
  EXPECT_EQ(dateNumber(60, BuiltInFormat::General), u"2/28/00");
  EXPECT_EQ(dateNumber(3e6, BuiltInFormat::General), u"!!ErrDateTime");
  // Before the epoch too: negative serials count the time away from zero.
  EXPECT_EQ(dateNumber(-1, BuiltInFormat::General), u"12/29/99");
  EXPECT_EQ(dateNumber(-1.25, BuiltInFormat::General), u"12/29/99 6:00:00");
  EXPECT_EQ(dateNumber(-0.25, BuiltInFormat::General), u"6:00:00") << "the epoch day shows no date";
  EXPECT_EQ(dateNumber(MinSerial, BuiltInFormat::General), u"1/1/00");
  EXPECT_EQ(dateNumber(0.9999999999, BuiltInFormat::General), u"12/31/99 0:00:00") << "rounded to the next day";
  // A date number under a number format still shows as a date.
  EXPECT_EQ(dateNumber(38353, BuiltInFormat::Fixed2), u"1/1/05");
  EXPECT_EQ(dateNumber(38353, BuiltInFormat::Text), u"1/1/05");

  selectLocale("de_DE");
  EXPECT_EQ(dateNumber(38353.25, BuiltInFormat::General), u"1.1.05 6:00:00");
  EXPECT_EQ(dateNumber(38384, BuiltInFormat::General), u"1.2.05");
  selectLocale("ja_JP");
  EXPECT_EQ(dateNumber(38384, BuiltInFormat::General), u"05/2/1");
}

TEST_F(ValueText, EditableDatesKeepTheirCentury) {
  auto editable = [](double serial) {
    std::u16string out = u"stale";
    EXPECT_TRUE(editableText(dateTimeValue(serial), out));
    std::u16string direct;
    editableDateText(serial, direct);
    EXPECT_EQ(direct, out);
    return out;
  };
  auto day = [](int year, int month, int dayOfMonth) {
    double serial = 0;
    EXPECT_TRUE(serialFromFields(year, month, dayOfMonth, 0, 0, 0, 0, true, serial));
    return serial;
  };
  EXPECT_EQ(editable(day(1905, 1, 1)), u"1/1/1905");
  EXPECT_EQ(editable(day(2005, 1, 1)), u"1/1/05");
  EXPECT_EQ(editable(day(1929, 12, 31)), u"12/31/1929");
  EXPECT_EQ(editable(day(1930, 1, 1)), u"1/1/30");
  EXPECT_EQ(editable(day(2029, 12, 31)), u"12/31/29");
  EXPECT_EQ(editable(day(2030, 1, 1) + 0.25), u"1/1/2030 6:00:00");
  EXPECT_EQ(editable(-1.25), u"12/29/1899 6:00:00");
  EXPECT_EQ(editable(1), u"12/31/1899");
  EXPECT_EQ(editable(MinSerial), u"1/1/100");
  EXPECT_EQ(editable(MaxSerial), u"12/31/9999");
  EXPECT_EQ(editable(0.5), u"12:00:00");
  EXPECT_EQ(editable(0), u"0:00:00");
  // The display keeps the short year.
  EXPECT_EQ(dateNumber(day(1905, 1, 1), BuiltInFormat::General), u"1/1/05");

  selectLocale("en_GB");
  EXPECT_EQ(editable(day(1905, 2, 1)), u"1/2/1905");
  EXPECT_EQ(editable(day(2005, 2, 1)), u"1/2/05");
  selectLocale("de_DE");
  EXPECT_EQ(editable(day(1905, 2, 1) + 0.75), u"1.2.1905 18:00:00");
  EXPECT_EQ(editable(day(1975, 2, 1)), u"1.2.75");
  selectLocale("ja_JP");
  EXPECT_EQ(editable(day(2105, 2, 1)), u"2105/2/1");

  // Values other than dates show as valueToText shows them.
  std::u16string out;
  EXPECT_TRUE(editableText(logicalValue(true), out));
  EXPECT_EQ(out, u"true");
  EXPECT_TRUE(editableText(emptyValue(), out));
  EXPECT_EQ(out, u"");
}

TEST_F(ValueText, DatesUnderDateFormats) {
  EXPECT_EQ(dateNumber(38353.25, BuiltInFormat::DateTime), u"1/1/05 6:00");
  EXPECT_EQ(dateNumber(38412, BuiltInFormat::DayMonthYear), u"1-Mar-05");
  EXPECT_EQ(dateNumber(38412, BuiltInFormat::DayMonth), u"1-Mar");
  EXPECT_EQ(dateNumber(38412, BuiltInFormat::MonthYear), u"Mar-05");
  EXPECT_EQ(dateNumber(0.5625, BuiltInFormat::Time12), u"1:30 PM");
  EXPECT_EQ(dateNumber(0.5625, BuiltInFormat::Time24), u"13:30");
  EXPECT_EQ(dateNumber(15.0 / 1440, BuiltInFormat::Time12Seconds), u"12:15:00 AM");
  EXPECT_EQ(dateNumber(0.5625, BuiltInFormat::Time24Seconds), u"13:30:00");
  EXPECT_EQ(dateNumber(38412, BuiltInFormat::Time24), u"0:00");

  // Out of range leaves nothing rather than stale text.
  std::u16string out = u"stale";
  EXPECT_FALSE(displayText(dateTimeValue(-1e6), builtInFormats(), BuiltInFormat::ShortDate, NoWidthLimit, nullptr, out));
  EXPECT_EQ(out, u"");

  // A plain number under a date or text format shows under General.
  EXPECT_EQ(number(38353, BuiltInFormat::ShortDate), u"38353");
  EXPECT_EQ(number(0.5, BuiltInFormat::Time24), u"0.5");
  EXPECT_EQ(number(2.5, BuiltInFormat::Text), u"2.5");

  selectLocale("de_DE");
  const std::vector<NumberFormatRecord> formats = builtInFormats();
  std::u16string text;
  displayText(dateTimeValue(38412.5625), formats, BuiltInFormat::DateTime, NoWidthLimit, nullptr, text);
  EXPECT_EQ(text, u"1.3.05 13:30");
  displayText(dateTimeValue(38412), formats, BuiltInFormat::DayMonthYear, NoWidthLimit, nullptr, text);
  EXPECT_EQ(text, u"1-Mär-05");
}

TEST_F(ValueText, OtherKindsShowThemselves) {
  EXPECT_EQ(shown(logicalValue(true), BuiltInFormat::Fixed2), u"true");
  EXPECT_EQ(shown(errorValue(CellError::Div0), BuiltInFormat::General), u"!!Div0");
  EXPECT_EQ(shown(errorValue(CellError::NA), BuiltInFormat::Currency2), u"!!NA");
  EXPECT_EQ(shown(errorValue(CellError{5}), BuiltInFormat::General), u"Err5");
  EXPECT_EQ(shown(emptyValue(), BuiltInFormat::Currency2), u"");
  EXPECT_EQ(shown(integerValue(-42), BuiltInFormat::Fixed2), u"-42.00");
  CellValue text = emptyValue();
  makeText(text, u"12.5");
  EXPECT_EQ(shown(text, BuiltInFormat::Fixed2), u"12.5");
  releaseValue(text);

  CellValue formula = newFormulaValue(NoHandle, CellPosition{0, 0, 0});
  ASSERT_EQ(formula.kind, ValueKind::Formula);
  formulaResult(formula) = numberValue(1234.5);
  EXPECT_EQ(shown(formula, BuiltInFormat::Currency2), u"$1,234.50");
  releaseValue(formula);

  // An index past the list's end is General.
  std::u16string out;
  displayText(numberValue(2.5), builtInFormats(), 999, NoWidthLimit, nullptr, out);
  EXPECT_EQ(out, u"2.5");
}

TEST_F(ValueText, GeneralNumbersShowAsManyDecimalsAsFit) {
  const NumberFormatRecord general = generalFormat();
  bool full = true;
  EXPECT_EQ(fitted(numberValue(1.0 / 3), general, 5, full), u"0.333");
  EXPECT_FALSE(full);
  EXPECT_EQ(fitted(numberValue(1.0 / 3), general, 7, full), u"0.33333");
  EXPECT_FALSE(full);
  EXPECT_EQ(fitted(numberValue(1.0 / 3), general, 9, full), u"0.3333333");
  EXPECT_TRUE(full);  // six or more decimals count as the whole value
  EXPECT_EQ(fitted(numberValue(1.0 / 3), general, 12, full), u"0.33333333");
  EXPECT_TRUE(full);  // never more than eight
  EXPECT_EQ(fitted(numberValue(2.26), general, 3, full), u"2.3");
  EXPECT_FALSE(full);
  EXPECT_EQ(fitted(numberValue(2.5), general, 3, full), u"2.5");
  EXPECT_TRUE(full);
  // Trailing zeros of the fitted decimals go, and "-0" becomes "0".
  EXPECT_EQ(fitted(numberValue(1.50000001), general, 6, full), u"1.5");
  EXPECT_FALSE(full);
  EXPECT_EQ(fitted(numberValue(-0.001), general, 2, full), u"0");
  EXPECT_FALSE(full);
  EXPECT_EQ(fitted(numberValue(0.00001), general, 3, full), u"0");
  // Large numbers fall back from the exponent form to whole digits when those fit.
  EXPECT_EQ(fitted(numberValue(12345678901.0), general, 11, full), u"12345678901");
  EXPECT_FALSE(full);
  EXPECT_EQ(fitted(numberValue(1e100), general, 5, full), u"1e100");
  EXPECT_TRUE(full);
  EXPECT_EQ(fitted(numberValue(1e100), general, 4, full), kMarks);
  EXPECT_FALSE(full);
  EXPECT_EQ(fitted(numberValue(-std::numeric_limits<double>::infinity()), general, 3, full), kMarks);
  EXPECT_FALSE(full);
  // A number under a date format fits like General; no limit means no fitting.
  EXPECT_EQ(fitted(numberValue(1.0 / 3), builtInFormats()[BuiltInFormat::ShortDate], 5, full), u"0.333");
  EXPECT_EQ(fitted(numberValue(1.0 / 3), general, NoWidthLimit, full), u"0.33333333333333");
  EXPECT_TRUE(full);

  selectLocale("de_DE");
  EXPECT_EQ(fitted(numberValue(1.0 / 3), general, 5, full), u"0,333");
  EXPECT_EQ(fitted(numberValue(-2.75), general, 4, full), u"-2,8");
}

TEST_F(ValueText, GeneralNumbersTooWideForTheirDigitsTakeTheExponentForm) {
  const NumberFormatRecord general = generalFormat();
  bool full = true;
  // Eleven characters hold 12345678901 whole; ten take the exponent form with as many
  // mantissa digits as fit, rounded, trailing zeros dropped; "#" only when not even "1E+10" fits.
  EXPECT_EQ(fitted(numberValue(12345678901.0), general, 10, full), u"1.2346E+10");
  EXPECT_FALSE(full);
  EXPECT_EQ(fitted(numberValue(12345678901.0), general, 11, full), u"12345678901");
  EXPECT_EQ(fitted(numberValue(123456789012.0), general, 11, full), u"1.23457E+11");
  EXPECT_EQ(fitted(numberValue(-123456789012.0), general, 9, full), u"-1.23E+11");
  EXPECT_EQ(fitted(numberValue(123456), general, 5, full), u"1E+05");
  EXPECT_EQ(fitted(numberValue(250000), general, 5, full), u"3E+05");  // halves go up
  EXPECT_EQ(fitted(numberValue(999999), general, 5, full), u"1E+06");
  EXPECT_EQ(fitted(numberValue(100000), general, 4, full), kMarks);
  EXPECT_EQ(fitted(numberValue(1e100), general, 6, full), u"1e100");  // its own form fits
  EXPECT_EQ(fitted(numberValue(1.7e100), general, 6, full), u"2E+100");
  EXPECT_EQ(fitted(numberValue(-9.9999e-10), general, 10, full), u"-1E-09");  // the carry moves the exponent
  // Tiny numbers keep a digit that says something: the exponent form before a bare 0.
  EXPECT_EQ(fitted(numberValue(0.000123456), general, 8, full), u"0.000123");
  EXPECT_EQ(fitted(numberValue(0.0000123456), general, 6, full), u"1E-05");
  EXPECT_EQ(fitted(numberValue(0.0000123456), general, 3, full), u"0");
  selectLocale("de_DE");
  EXPECT_EQ(fitted(numberValue(123456789012.0), general, 8, full), u"1,23E+11");
}

TEST_F(ValueText, DatesTooWideTakeAShorterFormBeforeTheMarks) {
  const std::vector<NumberFormatRecord> formats = builtInFormats();
  bool full = true;
  // General: "1/1/05 6:30:15" drops the seconds, then the time; a time alone only its seconds.
  const double stamp = 38353 + (6 * 3600 + 30 * 60 + 15) / 86400.0;
  EXPECT_EQ(fitted(dateTimeValue(stamp), formats[BuiltInFormat::General], 14, full), u"1/1/05 6:30:15");
  EXPECT_TRUE(full);
  EXPECT_EQ(fitted(dateTimeValue(stamp), formats[BuiltInFormat::General], 13, full), u"1/1/05 6:30");
  EXPECT_FALSE(full);
  EXPECT_EQ(fitted(dateTimeValue(stamp), formats[BuiltInFormat::General], 10, full), u"1/1/05");
  EXPECT_EQ(fitted(dateTimeValue(stamp), formats[BuiltInFormat::General], 5, full), kMarks);
  EXPECT_EQ(fitted(dateTimeValue(0.75), formats[BuiltInFormat::General], 5, full), u"18:00");
  EXPECT_EQ(fitted(dateTimeValue(0.75), formats[BuiltInFormat::General], 4, full), kMarks);
  EXPECT_EQ(fitted(dateTimeValue(0.75), formats[BuiltInFormat::Time12Seconds], 8, full), u"6:00 PM");
  // A long date picture gives way to the short date, with the time it can keep.
  const NumberFormatRecord longDate = dateFormat(u"dddd, MMMM d, yyyy", u"h:mm:ss tt");
  EXPECT_EQ(fitted(dateTimeValue(stamp), longDate, 16, full), u"1/1/05 6:30 AM");
  EXPECT_EQ(fitted(dateTimeValue(stamp), longDate, 9, full), u"1/1/05");
  // A date picture gives way to the short date, which has nothing shorter.
  EXPECT_EQ(fitted(dateTimeValue(38353), formats[BuiltInFormat::DayMonthYear], 7, full), u"1/1/05");
  EXPECT_EQ(fitted(dateTimeValue(38353), formats[BuiltInFormat::ShortDate], 5, full), kMarks);
}

TEST_F(ValueText, OtherDisplaysOverflowOrStandWhole) {
  const std::vector<NumberFormatRecord> formats = builtInFormats();
  bool full = true;
  EXPECT_EQ(fitted(numberValue(1234.5), formats[BuiltInFormat::Currency2], 8, full), kMarks);
  EXPECT_FALSE(full);
  EXPECT_EQ(fitted(numberValue(1234.5), formats[BuiltInFormat::Currency2], 9, full), u"$1,234.50");
  EXPECT_TRUE(full);
  EXPECT_EQ(fitted(dateTimeValue(38353), formats[BuiltInFormat::ShortDate], 5, full), kMarks);
  EXPECT_FALSE(full);
  EXPECT_EQ(fitted(dateTimeValue(38353), formats[BuiltInFormat::ShortDate], 6, full), u"1/1/05");
  EXPECT_TRUE(full);
  EXPECT_EQ(fitted(errorValue(CellError::Div0), formats[0], 5, full), kMarks);
  EXPECT_FALSE(full);
  EXPECT_EQ(fitted(logicalValue(true), formats[0], 1, full), u"true");
  EXPECT_TRUE(full);
  CellValue text = emptyValue();
  makeText(text, u"a long text");
  EXPECT_EQ(fitted(text, formats[0], 2, full), u"a long text");
  EXPECT_TRUE(full);
  releaseValue(text);
}

TEST_F(ValueText, PixelMeasureComesFromTheCaller) {
  // A proportional font: digits 7 pixels, points and separators 3, others 8.
  struct Font {
    int digit;
    int narrow;
  } font{7, 3};
  auto pixels = [](std::u16string_view text, const void* context) {
    const Font* f = static_cast<const Font*>(context);
    int32_t width = 0;
    for (char16_t c : text) width += c >= u'0' && c <= u'9' ? f->digit : (c == u'.' || c == u',') ? f->narrow : 8;
    return width;
  };
  const TextMeasure measure{pixels, &font};
  std::u16string out;
  // General shows "3.1415926535898": 14 digits and a point, 101 pixels.
  EXPECT_TRUE(displayText(numberValue(3.14159265358979), generalFormat(), 101, &measure, out));
  EXPECT_EQ(out, u"3.1415926535898");
  // 38 pixels hold "3.1416" (5 digits and the point); "3.14159" needs 45.
  EXPECT_FALSE(displayText(numberValue(3.14159265358979), generalFormat(), 38, &measure, out));
  EXPECT_EQ(out, u"3.1416");
  font.digit = 20;
  EXPECT_FALSE(displayText(numberValue(3.14159265358979), generalFormat(), 38, &measure, out));
  EXPECT_EQ(out, u"3");
}

TEST_F(ValueText, InstalledDisplayServesValueToText) {
  installNumberDisplay();
  std::u16string out;
  valueToText(numberValue(1.0 / 3), out);
  EXPECT_EQ(out, u"0.33333333333333");
  valueToText(numberValue(12345678901.0), out);
  EXPECT_EQ(out, u"1.2345678901e10");
  valueToText(dateTimeValue(38353.75), out);
  EXPECT_EQ(out, u"1/1/05 18:00:00");
  selectLocale("de_DE");
  valueToText(numberValue(0.5), out);
  EXPECT_EQ(out, u"0,5");
}
