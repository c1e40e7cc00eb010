// Tests of the conversion between Excel number format codes and format records.
#include "format/ExcelFormatCodes.h"

#include <gtest/gtest.h>

#include "format/ValueText.h"
#include "platform/Locale.h"
#include "platform/Text.h"

using namespace kelp;

namespace {

class ExcelCodes : public ::testing::Test {
 protected:
  void SetUp() override { selectLocale("en_US"); }
  void TearDown() override { selectLocale("en_US"); }
};

NumberFormatRecord number(int decimals, bool thousands, std::u16string pp, std::u16string ps, std::u16string np,
                          std::u16string ns) {
  NumberFormatRecord f = fixedFormat(decimals, thousands);
  f.positivePrefix = std::move(pp);
  f.positiveSuffix = std::move(ps);
  f.negativePrefix = std::move(np);
  f.negativeSuffix = std::move(ns);
  f.updatePercent();
  return f;
}

NumberFormatRecord colored(NumberFormatRecord f, uint8_t positive, uint8_t negative) {
  f.positiveColor = positive;
  f.negativeColor = negative;
  return f;
}

NumberFormatRecord textFormat() {
  NumberFormatRecord f;
  f.kind = FormatKind::Text;
  return f;
}

std::string describe(const NumberFormatRecord& f) {
  std::string s = "kind " + std::to_string(static_cast<int>(f.kind)) + (f.general ? " general" : "") + " d" +
                  std::to_string(f.decimals) + (f.percent ? " %" : "") + (f.thousands ? " ," : "");
  for (const std::u16string* t :
       {&f.positivePrefix, &f.positiveSuffix, &f.negativePrefix, &f.negativeSuffix, &f.datePicture, &f.timePicture})
    s += " [" + utf16ToUtf8(*t) + "]";
  return s + " colours " + std::to_string(f.positiveColor) + "/" + std::to_string(f.negativeColor);
}

void expectSame(const NumberFormatRecord& actual, const NumberFormatRecord& expected, const std::string& what) {
  EXPECT_TRUE(actual.sameAs(expected)) << what << "\n  got      " << describe(actual) << "\n  expected "
                                       << describe(expected);
}

}  // namespace

TEST_F(ExcelCodes, BuiltInCodesParseToTheirRecords) {
  const NumberFormatRecord general = generalFormat();
  const NumberFormatRecord dollars0 = number(0, true, u"$", u"", u"($", u")");
  const NumberFormatRecord dollars2 = number(2, true, u"$", u"", u"($", u")");
  const NumberFormatRecord accounting0 = number(0, true, u"", u"", u"(", u")");
  const NumberFormatRecord accounting2 = number(2, true, u"", u"", u"(", u")");
  const NumberFormatRecord expected[50] = {
      general,
      number(0, false, u"", u"", u"-", u""),
      number(2, false, u"", u"", u"-", u""),
      number(0, true, u"", u"", u"-", u""),
      number(2, true, u"", u"", u"-", u""),
      dollars0,
      colored(dollars0, 0, 3),
      dollars2,
      colored(dollars2, 0, 3),
      number(0, false, u"", u"%", u"-", u"%"),
      number(2, false, u"", u"%", u"-", u"%"),
      general,  // scientific
      general,  // fractions
      general,
      dateFormat(u"M/d/yy", u""),
      dateFormat(u"d-MMM-yy", u""),
      dateFormat(u"d-MMM", u""),
      dateFormat(u"MMM-yy", u""),
      dateFormat(u"", u"h:mm tt"),
      dateFormat(u"", u"h:mm:ss tt"),
      dateFormat(u"", u"H:mm"),
      dateFormat(u"", u"H:mm:ss"),
      dateFormat(u"M/d/yy", u"H:mm"),
      general, general, general, general, general, general, general,
      general, general, general, general, general, general, general,
      accounting0,
      colored(accounting0, 0, 3),
      accounting2,
      colored(accounting2, 0, 3),
      accounting0,
      number(0, true, u"$", u"", u"$(", u")"),
      accounting2,
      number(2, true, u"$", u"", u"$(", u")"),
      dateFormat(u"", u"mm:ss"),
      dateFormat(u"", u"H:mm:ss"),
      dateFormat(u"", u"mm:ss"),
      general,
      textFormat(),
  };
  for (int id = 0; id < 50; ++id) {
    std::u16string_view code = excelBuiltInCode(id);
    EXPECT_EQ(code.empty(), id >= 23 && id <= 36) << id;
    expectSame(recordFromExcelBuiltIn(id), expected[id], "built-in " + std::to_string(id));
    if (!code.empty()) expectSame(recordFromExcelCode(code), expected[id], "code " + utf16ToUtf8(code));
  }
  EXPECT_TRUE(excelBuiltInCode(50).empty());
  EXPECT_TRUE(excelBuiltInCode(-1).empty());
  // In a US setting the built-ins are Kelp's own.
  const std::vector<NumberFormatRecord> kelp = builtInFormats();
  expectSame(recordFromExcelBuiltIn(7), kelp[BuiltInFormat::Currency2], "7");
  expectSame(recordFromExcelBuiltIn(10), kelp[BuiltInFormat::Percent2], "10");
  expectSame(recordFromExcelBuiltIn(22), kelp[BuiltInFormat::DateTime], "22");
}

TEST_F(ExcelCodes, LocaleDependentBuiltInsFollowTheLocale) {
  selectLocale("de_DE");
  const std::vector<NumberFormatRecord> kelp = builtInFormats();
  expectSame(recordFromExcelBuiltIn(14), kelp[BuiltInFormat::ShortDate], "14");
  expectSame(recordFromExcelBuiltIn(22), kelp[BuiltInFormat::DateTime], "22");
  expectSame(recordFromExcelBuiltIn(5), kelp[BuiltInFormat::Currency0], "5");
  expectSame(recordFromExcelBuiltIn(8), colored(kelp[BuiltInFormat::Currency2], 0, 3), "8");
  EXPECT_EQ(recordFromExcelBuiltIn(14).datePicture, u"d.M.yy");
  // Other ids keep their codes: a German workbook still shows 15 as d-MMM-yy.
  expectSame(recordFromExcelBuiltIn(15), kelp[BuiltInFormat::DayMonthYear], "15");
}

TEST_F(ExcelCodes, KelpBuiltInsWriteExcelsOwnCodes) {
  const std::vector<NumberFormatRecord> kelp = builtInFormats();
  EXPECT_EQ(excelCodeFromRecord(kelp[0]), u"General");
  EXPECT_EQ(excelCodeFromRecord(kelp[1]), u"0");
  EXPECT_EQ(excelCodeFromRecord(kelp[2]), u"0.00");
  EXPECT_EQ(excelCodeFromRecord(kelp[3]), excelBuiltInCode(5));
  EXPECT_EQ(excelCodeFromRecord(kelp[4]), excelBuiltInCode(7));
  EXPECT_EQ(excelCodeFromRecord(kelp[5]), u"0.00%");
  EXPECT_EQ(excelCodeFromRecord(kelp[6]), u"m/d/yy");
  EXPECT_EQ(excelCodeFromRecord(kelp[7]), u"d-mmm-yy");
  EXPECT_EQ(excelCodeFromRecord(kelp[10]), u"h:mm AM/PM");
  EXPECT_EQ(excelCodeFromRecord(kelp[12]), u"h:mm:ss AM/PM");
  EXPECT_EQ(excelCodeFromRecord(kelp[13]), u"h:mm:ss");
  EXPECT_EQ(excelCodeFromRecord(kelp[14]), u"m/d/yy h:mm");
  EXPECT_EQ(excelCodeFromRecord(kelp[15]), u"@");
  EXPECT_EQ(excelCodeFromRecord(fixedFormat(3, true)), u"#,##0.000");
}

TEST_F(ExcelCodes, BuiltInsRoundTripInEveryLocale) {
  for (std::string_view name : builtInLocaleNames()) {
    ASSERT_TRUE(selectLocale(name));
    const std::vector<NumberFormatRecord> kelp = builtInFormats();
    for (size_t i = 0; i < kelp.size(); ++i) {
      const std::u16string code = excelCodeFromRecord(kelp[i]);
      expectSame(recordFromExcelCode(code), kelp[i],
                 std::string(name) + " format " + std::to_string(i) + " code " + utf16ToUtf8(code));
    }
  }
}

TEST_F(ExcelCodes, UserRecordsRoundTrip) {
  const NumberFormatRecord records[] = {
      number(3, true, u"Total: ", u" units", u"minus ", u" (neg)"),
      number(0, false, u"\"q\"", u"", u"-\"q\"", u""),
      number(9, false, u"", u"", u"", u""),
      number(1, true, u"[", u"]", u"<", u">"),
      number(2, false, u"", u"", u"-", u"%"),
      number(2, false, u"a;b", u"0#?", u"-a;b", u"0#?"),
      dateFormat(u"d 'de' MMMM 'de' yyyy", u""),
      dateFormat(u"dddd, MMMM dd, yyyy", u"hh:mm:ss tt"),
      dateFormat(u"yyyy-MM-dd", u"HH:mm"),
      dateFormat(u"''yy", u""),
      dateFormat(u"", u"H'h'mm"),
      colored(generalFormat(), 2, 7),
      colored(generalFormat(), 0, 3),
      colored(number(2, true, u"", u"", u"(", u")"), 4, 12),
      colored(dateFormat(u"yyyy-MM-dd", u""), 8, 8),
  };
  for (const NumberFormatRecord& f : records) {
    const std::u16string code = excelCodeFromRecord(f);
    expectSame(recordFromExcelCode(code), f, "code " + utf16ToUtf8(code));
  }
  EXPECT_EQ(excelCodeFromRecord(dateFormat(u"d 'de' MMMM", u"")), u"d \"de\" mmmm");
}

TEST_F(ExcelCodes, ForeignCodesBecomeTheNearestRecord) {
  struct Case {
    const char16_t* code;
    NumberFormatRecord expected;
  } cases[] = {
      {u"general", generalFormat()},
      {u"[Red]General;-General", colored(generalFormat(), 3, 0)},
      {u";;;", generalFormat()},
      {u"", generalFormat()},
      {u"@", textFormat()},
      {u"0.000", number(3, false, u"", u"", u"-", u"")},
      {u"#,##0.000000000000", number(9, true, u"", u"", u"-", u"")},
      {u"[Red]0.00", colored(number(2, false, u"", u"", u"-", u""), 3, 3)},
      {u"0.00;[Red]0.00", colored(number(2, false, u"", u"", u"", u""), 0, 3)},
      {u"[blue]0;[COLOR10]-0", colored(number(0, false, u"", u"", u"-", u""), 5, 10)},
      {u"[Color57]0;\"[Red]\"0", number(0, false, u"", u"", u"[Red]", u"")},
      {u"[Yellow]d-mmm", colored(dateFormat(u"d-MMM", u""), 6, 6)},
      {u"[Cyan]@", textFormat()},
      {u"#,##0.00 [$€-407];-#,##0.00 [$€-407]", number(2, true, u"", u" €", u"-", u" €")},
      {u"[$-409]#,##0", number(0, true, u"", u"", u"-", u"")},
      {u"\"Total: \"0", number(0, false, u"Total: ", u"", u"-Total: ", u"")},
      {u"\\$0.00\\ ", number(2, false, u"$", u" ", u"-$", u" ")},
      {u"0.00\"%\"", number(2, false, u"", u"%", u"-", u"%")},
      {u"[>100]0;0.0", number(0, false, u"", u"", u"", u"")},
      {u"0.00E+00", generalFormat()},
      {u"# ?/?", generalFormat()},
      {u"000-00-0000", generalFormat()},
      {u"yyyy-mm-dd", dateFormat(u"yyyy-MM-dd", u"")},
      {u"dd/mm/yyyy hh:mm:ss", dateFormat(u"dd/MM/yyyy", u"HH:mm:ss")},
      {u"d \"de\" mmmm", dateFormat(u"d 'de' MMMM", u"")},
      {u"DD.MM.YYYY", dateFormat(u"dd.MM.yyyy", u"")},
      {u"mmmmm", dateFormat(u"MMM", u"")},
      {u"[$-407]dddd, d. mmmm yyyy", dateFormat(u"dddd, d. MMMM yyyy", u"")},
      {u"h:mm:ss.00 A/P", dateFormat(u"", u"h:mm:ss t")},
      {u"[mm]:ss", dateFormat(u"", u"mm:ss")},
      {u"yyyy\\Thh:mm", dateFormat(u"yyyy'T'", u"HH:mm")},
  };
  for (const Case& c : cases) expectSame(recordFromExcelCode(c.code), c.expected, "code " + utf16ToUtf8(c.code));
}

TEST_F(ExcelCodes, ImportedCodesDisplayAsExcelWould) {
  auto show = [](std::u16string_view code, double x, bool date = false) {
    std::u16string out;
    displayText(date ? dateTimeValue(x) : numberValue(x), recordFromExcelCode(code), NoWidthLimit, nullptr, out);
    return out;
  };
  EXPECT_EQ(show(excelBuiltInCode(8), -1234.5), u"($1,234.50)");
  EXPECT_EQ(show(excelBuiltInCode(44), -1234.5), u"$(1,234.50)");
  EXPECT_EQ(show(excelBuiltInCode(9), 0.256), u"26%");
  EXPECT_EQ(show(excelBuiltInCode(3), -1234567), u"-1,234,567");
  EXPECT_EQ(show(u"dd/mm/yyyy hh:mm:ss", 38353.75, true), u"01/01/2005 18:00:00");
  EXPECT_EQ(show(u"d \"de\" mmmm", 38353, true), u"1 de January");
}
