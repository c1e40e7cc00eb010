// Typed entries: numbers, percentages, dates and times, logicals, formulas and text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <vector>
#include <string>

#include "format/DateSerial.h"
#include "formula/EntryReader.h"
#include "model/HandlePool.h"
#include "model/NumberFormat.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Locale.h"
#include "platform/Text.h"

namespace kelp {
namespace {

double serial(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  double out = 0;
  EXPECT_TRUE(serialFromFields(year, month, day, hour, minute, second, 0, true, out));
  return out;
}

int thisYear() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local.tm_year + 1900;
}

class EntryReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = currentLocale();
    clearError();
    book = newWorkbook(1);
  }
  void TearDown() override {
    setCurrentLocale(saved);
    clearError();
  }

  // The value read, with the suggested format; text values are released at once.
  struct Read {
    ValueKind kind;
    double number = 0;
    std::u16string text;
    int format = -2;
  };
  Read read(std::u16string_view entry, bool formulaMode = false) {
    Read out;
    CellValue value = readEntry(book.get(), entry, CellPosition{0, 0, 0}, &out.format, formulaMode);
    out.kind = value.kind;
    if (value.isNumeric()) out.number = value.number();
    if (value.kind == ValueKind::Logical) out.number = value.u32();
    if (value.kind == ValueKind::Text) out.text = textOf(value);
    releaseValue(value);
    return out;
  }

  void expectText(std::u16string_view entry, std::u16string_view text) {
    Read r = read(entry);
    EXPECT_EQ(r.kind, ValueKind::Text) << utf16ToUtf8(entry);
    EXPECT_EQ(r.text, text) << utf16ToUtf8(entry);
    EXPECT_EQ(r.format, -1);
    EXPECT_EQ(pendingError(), 0u) << utf16ToUtf8(entry) << ": reading errors never reach the user";
  }
  void expectDate(std::u16string_view entry, double value, int format) {
    Read r = read(entry);
    EXPECT_EQ(r.kind, ValueKind::DateTime) << utf16ToUtf8(entry);
    EXPECT_DOUBLE_EQ(r.number, value) << utf16ToUtf8(entry);
    EXPECT_EQ(r.format, format) << utf16ToUtf8(entry);
  }
  void expectNumber(std::u16string_view entry, double value, int format = -1) {
    Read r = read(entry);
    EXPECT_EQ(r.kind, ValueKind::Number) << utf16ToUtf8(entry);
    EXPECT_DOUBLE_EQ(r.number, value) << utf16ToUtf8(entry);
    EXPECT_EQ(r.format, format) << utf16ToUtf8(entry);
  }

  LocaleSettings saved;
  std::unique_ptr<Workbook> book;
};

TEST_F(EntryReaderTest, NumbersSignsAndPercentages) {
  EXPECT_EQ(read(u"").kind, ValueKind::Empty);
  expectNumber(u"42", 42);
  expectNumber(u" 1.5e3 ", 1500);
  expectNumber(u"-5", -5);
  expectNumber(u"- 5", -5);
  expectNumber(u"+.5", 0.5);
  expectNumber(u"50%", 0.5, BuiltInFormat::Percent2);
  expectNumber(u"-50 %", -0.5, BuiltInFormat::Percent2);
  expectText(u"--5", u"--5");
  expectText(u"1 2", u"1 2");
  expectText(u"1e400", u"1e400");
  expectText(u"50%%", u"50%%");
  expectText(u".", u".");
  expectText(u"5-", u"5-");
  expectText(u"-A1", u"-A1");
}

// Numbers are read without the C library on the short path; every text must still
// give the C library's double, bit for bit, on both sides of the short path's limits.
TEST_F(EntryReaderTest, NumbersReadAsTheCLibraryReadsThem) {
  std::mt19937_64 random(38);
  const char* fixed[] = {"9007199254740993", "9007199254740992e-22", "1e22", "1e23", "123456789012345678901",
                         "0.000000000000000000000000001", "4.9e-324", "1.7976931348623157e308", "00000000000000000000123.5",
                         "0.1", "2.5e-3"};
  std::vector<std::string> texts(std::begin(fixed), std::end(fixed));
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    const int whole = static_cast<int>(random() % 18), fraction = static_cast<int>(random() % 10);
    for (int d = 0; d <= whole; ++d) text.push_back(static_cast<char>('0' + random() % 10));
    if (fraction) text.push_back('.');
    for (int d = 0; d < fraction; ++d) text.push_back(static_cast<char>('0' + random() % 10));
    if (random() % 4 == 0) text += "e" + std::string(random() % 2 ? "-" : "") + std::to_string(random() % 30);
    texts.push_back(text);
  }
  for (const std::string& text : texts) {
    const Read got = read(std::u16string(text.begin(), text.end()));
    ASSERT_EQ(got.kind, ValueKind::Number) << text;
    const double want = std::strtod(text.c_str(), nullptr);
    ASSERT_EQ(std::memcmp(&got.number, &want, sizeof want), 0) << text << ": " << got.number << " against " << want;
  }
}

TEST_F(EntryReaderTest, LogicalsTextAndFormulas) {
  Read r = read(u"TRUE");
  EXPECT_EQ(r.kind, ValueKind::Logical);
  EXPECT_EQ(r.number, 1);
  r = read(u"false");
  EXPECT_EQ(r.kind, ValueKind::Logical);
  EXPECT_EQ(r.number, 0);
  expectText(u"'TRUE", u"TRUE");
  expectText(u"'12", u"12");
  expectText(u"-TRUE", u"-TRUE");
  expectText(u"hello world", u"hello world");
  expectText(u"\"quoted", u"\"quoted");
  expectText(u"Sum(1)", u"Sum(1)");
  // Text that looks like an external reference adds nothing to the workbook.
  expectText(u"[Book.xls]Sheet1!A1", u"[Book.xls]Sheet1!A1");
  EXPECT_EQ(book->externalBookCount(), 0);

  CellValue value = readEntry(book.get(), u"=1+2", CellPosition{4, 3, 0}, nullptr, false);
  ASSERT_EQ(value.kind, ValueKind::Formula);
  EXPECT_EQ(formulaPosition(value).row, 3);
  EXPECT_EQ(formulaPosition(value).column, 4);
  releaseValue(value);
  value = readEntry(book.get(), u"=1+", CellPosition{0, 0, 0}, nullptr, false);
  EXPECT_EQ(value.kind, ValueKind::Empty);
  EXPECT_EQ(pendingError(), 1u) << "a formula's error is reported";
  clearError();
  EXPECT_EQ(read(u"=").kind, ValueKind::Empty);
  EXPECT_EQ(pendingError(), 1u);
  clearError();
  value = readEntry(nullptr, u"=1", CellPosition{0, 0, 0}, nullptr, false);
  EXPECT_EQ(textOf(value), u"=1") << "without a workbook a formula stays text";
  releaseValue(value);
}

TEST_F(EntryReaderTest, DatesAndTimesInMonthDayYearOrder) {
  expectDate(u"1/2/05", serial(2005, 1, 2), BuiltInFormat::ShortDate);
  expectDate(u"1/2/", serial(thisYear(), 1, 2), BuiltInFormat::ShortDate);
  expectText(u"2/30/05", u"2/30/05");
  expectDate(u"2/29/04", serial(2004, 2, 29), BuiltInFormat::ShortDate);
  expectDate(u"1/2/29", serial(2029, 1, 2), BuiltInFormat::ShortDate);
  expectDate(u"1/2/30", serial(1930, 1, 2), BuiltInFormat::ShortDate);
  expectDate(u"12/31/1899", 1, BuiltInFormat::ShortDate);
  expectDate(u"13:30", 0.5625, BuiltInFormat::Time24);
  expectDate(u"1:30 PM", 0.5625, BuiltInFormat::Time12);
  expectDate(u"1:30pm", 0.5625, BuiltInFormat::Time12);
  expectDate(u"12:15 AM", serial(1899, 12, 30, 0, 15), BuiltInFormat::Time12);
  expectDate(u"12:15 PM", serial(1899, 12, 30, 12, 15), BuiltInFormat::Time12);
  expectDate(u"1:30:15", serial(1899, 12, 30, 1, 30, 15), BuiltInFormat::Time24Seconds);
  expectDate(u"1:30:15 am", serial(1899, 12, 30, 1, 30, 15), BuiltInFormat::Time12Seconds);
  expectDate(u"1/2/05 9:30", serial(2005, 1, 2, 9, 30), BuiltInFormat::DateTime);
  expectText(u"13:00 PM", u"13:00 PM");
  expectText(u"1:30 XM", u"1:30 XM");
  expectText(u"24:00", u"24:00");
  expectText(u"1:60", u"1:60");
  expectText(u"1:", u"1:");
  expectText(u"1:30:", u"1:30:");
  expectText(u"1/2/05 9", u"1/2/05 9");
  expectText(u"99999999999999999999:30", u"99999999999999999999:30");
  // Only what the display can show is a date: no time on the first and last days.
  expectDate(u"12/31/9999", MaxSerial, BuiltInFormat::ShortDate);
  expectText(u"12/31/9999 23:59", u"12/31/9999 23:59");
  expectText(u"12/31/9999 0:00:01", u"12/31/9999 0:00:01");
  expectDate(u"12/31/9999 0:00", MaxSerial, BuiltInFormat::DateTime);
  expectDate(u"12/30/9999 23:59:59", serial(9999, 12, 30, 23, 59, 59), BuiltInFormat::DateTime);
  expectDate(u"1/1/100", MinSerial, BuiltInFormat::ShortDate);
  expectText(u"1/1/100 6:00", u"1/1/100 6:00");
  expectDate(u"12/29/1899 6:00", -1.25, BuiltInFormat::DateTime);
}

TEST_F(EntryReaderTest, CommaDecimalDayMonthYearLocale) {
  LocaleSettings european;
  european.decimalSymbol = u',';
  european.listSeparator = u';';
  european.thousandsSeparator = u'.';
  european.dateSeparator = u'.';
  european.dateOrder = 1;
  european.amDesignator = u"";
  european.pmDesignator = u"";
  setCurrentLocale(european);
  expectNumber(u"1,5", 1.5);
  expectNumber(u"-0,25%", -0.0025, BuiltInFormat::Percent2);
  expectDate(u"1.5", serial(thisYear(), 5, 1), BuiltInFormat::DayMonth);  // a point is no decimal symbol here
  expectText(u"1;5", u"1;5");
  expectDate(u"3.4.2005", serial(2005, 4, 3), BuiltInFormat::ShortDate);
  expectDate(u"3.4.", serial(thisYear(), 4, 3), BuiltInFormat::ShortDate);
  expectText(u"31.4.2005", u"31.4.2005");
  expectDate(u"3.4.05 17:45", serial(2005, 4, 3, 17, 45), BuiltInFormat::DateTime);
  expectText(u"1/2/05", u"1/2/05");

  CellValue value = readEntry(book.get(), u"=Sum(1,5;2)", CellPosition{0, 0, 0}, nullptr, false);
  EXPECT_EQ(value.kind, ValueKind::Formula);
  releaseValue(value);

  european.dateOrder = 2;
  setCurrentLocale(european);
  expectDate(u"2005.4.3", serial(2005, 4, 3), BuiltInFormat::ShortDate);
  european.dateOrder = 7;
  setCurrentLocale(european);
  expectDate(u"2005.4.3", 0, BuiltInFormat::ShortDate);
}

// What the formula syntax does not read, read as people mean it, in US English.
TEST_F(EntryReaderTest, EverydayFormsOfNumbersAndDates) {
  expectNumber(u"1,234", 1234, SuggestedFormat::Grouped0);
  expectNumber(u"1,234.50", 1234.5, SuggestedFormat::Grouped2);
  expectNumber(u"-12,345,678", -12345678, SuggestedFormat::Grouped0);
  expectNumber(u"$1,234.50", 1234.5, BuiltInFormat::Currency2);
  expectNumber(u"$5", 5, BuiltInFormat::Currency0);
  expectNumber(u"-$5", -5, BuiltInFormat::Currency0);
  expectNumber(u"$-5", -5, BuiltInFormat::Currency0);
  expectNumber(u"5 $", 5, BuiltInFormat::Currency0);
  expectNumber(u"(50)", -50);
  expectNumber(u"(1,234)", -1234, SuggestedFormat::Grouped0);
  expectNumber(u"($1,234.50)", -1234.5, BuiltInFormat::Currency2);
  expectNumber(u"1234.5", 1234.5);  // the lexer's reading comes first
  expectText(u"1,23", u"1,23");
  expectText(u"1,2345", u"1,2345");
  expectText(u"1234,567", u"1234,567");
  expectText(u",123", u",123");
  expectText(u"'1,234", u"1,234");
  expectText(u"(-5)", u"(-5)");
  expectText(u"$", u"$");
  expectText(u"$$5", u"$$5");
  expectText(u"(50", u"(50");

  const int year = thisYear();
  expectDate(u"2026-03-15", serial(2026, 3, 15), BuiltInFormat::ShortDate);
  expectDate(u"2026-03-15 13:30", serial(2026, 3, 15, 13, 30), BuiltInFormat::DateTime);
  expectDate(u"2026-3-5T08:05:09", serial(2026, 3, 5, 8, 5, 9), BuiltInFormat::DateTime);
  expectText(u"2026-13-40", u"2026-13-40");
  expectText(u"2026-02-29", u"2026-02-29");
  expectText(u"2026-03-15 25:00", u"2026-03-15 25:00");
  expectText(u"2026-03-15 13", u"2026-03-15 13");
  expectDate(u"15-Mar-26", serial(2026, 3, 15), BuiltInFormat::DayMonthYear);
  expectDate(u"15 march 2026", serial(2026, 3, 15), BuiltInFormat::DayMonthYear);
  expectDate(u"March 15, 2026", serial(2026, 3, 15), BuiltInFormat::DayMonthYear);
  expectDate(u"MAR 15", serial(year, 3, 15), BuiltInFormat::DayMonth);
  expectDate(u"15-Mar", serial(year, 3, 15), BuiltInFormat::DayMonth);
  expectDate(u"Sep. 2026", serial(2026, 9, 1), BuiltInFormat::MonthYear);
  expectDate(u"1/2", serial(year, 1, 2), BuiltInFormat::DayMonth);
  expectText(u"15-Foo-26", u"15-Foo-26");
  expectText(u"31-Feb-26", u"31-Feb-26");
  expectText(u"Mar", u"Mar");
  expectText(u"Mar 15 2026 now", u"Mar 15 2026 now");
  expectText(u"2/30", u"2/30");
  expectText(u"1-2", u"1-2");

  // Inside formulas the same forms are numbers, as VALUE("$1,234.50") is elsewhere.
  Read r = read(u"$1,234.50", true);
  EXPECT_EQ(r.kind, ValueKind::Number);
  EXPECT_DOUBLE_EQ(r.number, 1234.5);
  EXPECT_EQ(pendingError(), 0u);
}

TEST_F(EntryReaderTest, EverydayFormsInACommaDecimalLocale) {
  LocaleSettings german;
  ASSERT_TRUE(builtInLocale("de_DE", german));
  setCurrentLocale(german);
  expectNumber(u"1.234", 1234, SuggestedFormat::Grouped0);
  expectNumber(u"1.234,5", 1234.5, SuggestedFormat::Grouped2);
  expectNumber(u"(1.234,50 \u20AC)", -1234.5, BuiltInFormat::Currency2);
  expectNumber(u"1,5", 1.5);
  expectText(u"1,234.50", u"1,234.50");
  expectText(u"1.23", u"1.23");
  expectDate(u"15. M\u00E4rz 2026", serial(2026, 3, 15), BuiltInFormat::DayMonthYear);
  expectDate(u"3.4", serial(thisYear(), 4, 3), BuiltInFormat::DayMonth);
  expectText(u"15-Mar-26", u"15-Mar-26");
}

// Grouped digits and currency take their format only where the cell shows General.
TEST_F(EntryReaderTest, SuggestedFormatsBecomeStyles) {
  const size_t formats = book->numberFormats.size();
  const int16_t grouped = styleForSuggestion(*book, 0, SuggestedFormat::Grouped2);
  ASSERT_NE(grouped, 0);
  const NumberFormatRecord& added = book->numberFormats[book->style(grouped).numberFormat];
  EXPECT_TRUE(added.thousands);
  EXPECT_EQ(added.decimals, 2);
  EXPECT_FALSE(added.general);
  EXPECT_EQ(book->numberFormats.size(), formats + 1);
  EXPECT_EQ(styleForSuggestion(*book, 0, SuggestedFormat::Grouped2), grouped) << "found, not added again";
  EXPECT_EQ(book->numberFormats.size(), formats + 1);

  const int16_t currency = styleForSuggestion(*book, 0, BuiltInFormat::Currency2);
  EXPECT_EQ(book->style(currency).numberFormat, BuiltInFormat::Currency2);
  EXPECT_EQ(styleForSuggestion(*book, currency, SuggestedFormat::Grouped0), currency);
  EXPECT_EQ(styleForSuggestion(*book, grouped, BuiltInFormat::Currency0), grouped);
  const int16_t date = styleForSuggestion(*book, grouped, BuiltInFormat::DayMonth);
  EXPECT_EQ(book->style(date).numberFormat, BuiltInFormat::DayMonth);
  EXPECT_EQ(styleForSuggestion(*book, date, BuiltInFormat::ShortDate), date);
  EXPECT_EQ(styleForSuggestion(*book, 0, SuggestedFormat::None), 0);
  EXPECT_EQ(pendingError(), 0u);
}

TEST_F(EntryReaderTest, FormulaModeAllocatesNothing) {
  uint32_t texts = textPool().liveCount();
  Read r = read(u"abc", true);
  EXPECT_EQ(r.kind, ValueKind::Empty);
  r = read(u"=1+2", true);
  EXPECT_EQ(r.kind, ValueKind::Empty) << "no formula is compiled inside a formula";
  r = read(u"50%", true);
  EXPECT_EQ(r.kind, ValueKind::Number);
  EXPECT_DOUBLE_EQ(r.number, 0.5);
  EXPECT_EQ(textPool().liveCount(), texts);

  installEntryReading();
  CellValue value = readValueOnly(u"12.5");
  EXPECT_EQ(value.kind, ValueKind::Number);
  value = readValueOnly(u"1/2/05");
  EXPECT_EQ(value.kind, ValueKind::DateTime);
  value = readValueOnly(u"true");
  EXPECT_EQ(value.kind, ValueKind::Logical);
  value = readValueOnly(u"some text");
  EXPECT_EQ(value.kind, ValueKind::Text);
  EXPECT_EQ(value.u32(), NoHandle);
  value = readValueOnly(u"");
  EXPECT_EQ(value.kind, ValueKind::Text);
  EXPECT_EQ(textPool().liveCount(), texts);
  double number = 0;
  EXPECT_TRUE(textToNumber(u"-3", number));
  EXPECT_EQ(number, -3);
  EXPECT_FALSE(textToNumber(u"1/2/05", number)) << "a date is no plain number";
  EXPECT_TRUE(isWholeDate(u"1/2/05", number));
  EXPECT_EQ(number, serial(2005, 1, 2));
  EXPECT_FALSE(isWholeDate(u"1/2/05 12:00", number));
  EXPECT_EQ(pendingError(), 0u);
}

}  // namespace
}  // namespace kelp
