// Tests of the date and time functions: a reference table made with Python's datetime,
// the edges it leaves out (display, errors, text read as dates) and the clock.
#include "platform/Locale.h"
#include "platform/System.h"
#include "platform/Text.h"
#include "tests/functions/EngineTestSupport.h"

namespace kelp {
namespace {

using DateFunctionsTest = test::EngineTest;

TEST_F(DateFunctionsTest, AgreesWithTheReferenceTable) {
  auto lines = test::readReferenceTable("date_reference.tsv");
  ASSERT_GT(lines.size(), 4000u) << "the reference table is missing or short";
  for (const auto& fields : lines) {
    ASSERT_EQ(fields.size(), 3u);
    test::Result got = calc(utf8ToUtf16(fields[0]));
    EXPECT_EQ(test::compareWithReference(got, fields[1], fields[2]), "") << fields[0] << " expected " << fields[1];
    // Date gives a date number; the parts of a date are plain numbers.
    if (fields[1][0] != '!') {
      EXPECT_EQ(got.kind, fields[0].rfind("=Date(", 0) == 0 ? ValueKind::DateTime : ValueKind::Number) << fields[0];
    }
  }
}

TEST_F(DateFunctionsTest, EdgesOfBuildingAndSplittingDates) {
  setText(0, 0, u"3/4/05");
  expectShown({
      {u"=Date(5,1,1)", u"1/1/05"}, {u"=Date(5,1,1)-1828", u"0:00:00"},  // 1 January 1905, a date number
      {u"=Date(2005,0.3/0.1,1)", u"3/1/05"},  // a few bits below 3 is still March
      {u"=Time(12,0,0)*2", u"12/31/99"}, {u"=Time(24,0,0)", u"0:00:00"}, {u"=Time(25,0,0)", u"1:00:00"},
      {u"=Date(2005,1,1)+Time(6,0,0)", u"1/1/05 6:00:00"},
      // Fields outside 0..65535 and dates past 9999 are refused, never a date that cannot show.
      {u"=Date(-1,1,1)", u"!!Num"}, {u"=Date(2005,1,-1)", u"!!Num"}, {u"=Date(65536,1,1)", u"!!Num"},
      {u"=Date(9999,12,32)", u"!!Num"}, {u"=Time(-1,0,0)", u"!!Num"}, {u"=Date(2005,1/0,\"x\")", u"!!Div0"},
      {u"=Time(\"x\",0,0)", u"!!Val"}, {u"=Year(\"1/2/05\")", u"2005"}, {u"=Month(\"abc\")", u"!!Val"},
      {u"=Hour(1/0)", u"!!Div0"},
      // 0.99999999 of a day is 0.86 ms short of midnight; 0.999999999 is within half a ms.
      {u"=Second(0.99999999)", u"59"}, {u"=Hour(0.99999999)", u"23"}, {u"=Second(0.999999999)", u"0"},
      {u"=Minute(0.999999999)", u"0"}, {u"=Hour(0.999999999)", u"0"}, {u"=Day(0.999999999)", u"31"},
      // Saturday 1 January 2005; a type other than 2 and 3 is 1, a fraction is cut off.
      {u"=Weekday(38353,0)", u"7"}, {u"=Weekday(38353,4)", u"7"}, {u"=Weekday(38353,2.9)", u"6"},
      {u"=Weekday(38353,\"x\")", u"!!Val"}, {u"=Weekday(2958466)", u"!!Val"},
      // Entries read as dates give plain numbers; a date number is taken as it is, since
      // shown with two digits of year it would move by a century.
      {u"=Datevalue(\"1/2/05\")", u"38354"}, {u"=Timevalue(\"12:00\")", u"0.5"},
      {u"=Datevalue(\"1/2/05 18:00\")", u"38354"}, {u"=Timevalue(\"1/2/05 6:00 PM\")", u"0.75"},
      {u"=Timevalue(\"12/29/1899 6:00\")", u"0.25"}, {u"=Datevalue(Date(1905,1,2))", u"1829"},
      {u"=Timevalue(Date(2005,1,1)+0.9999999999)", u"0"}, {u"=Datevalue(1/0)", u"!!Div0"},
      {u"=Datevalue(\"abc\")", u"!!Val"}, {u"=Timevalue(\"abc\")", u"!!Val"}, {u"=Datevalue(38354)", u"!!Val"},
      {u"=Datevalue(\"2/30/05\")", u"!!Val"}, {u"=Timevalue(\"25:00\")", u"!!Val"}, {u"=Datevalue(A1)", u"38415"},
  });
  // Datevalue reads in the locale's order of day and month.
  LocaleSettings saved = currentLocale();
  LocaleSettings dayFirst = saved;
  dayFirst.dateOrder = 1;
  setCurrentLocale(dayFirst);
  EXPECT_EQ(calc(u"=Datevalue(\"1/2/05\")").number, 38384);  // 1 February 2005
  setCurrentLocale(saved);
}

LocalTime g_clock;
LocalTime fixedClock() { return g_clock; }

TEST_F(DateFunctionsTest, NowAndTodayFollowTheClockAtEveryRecalculation) {
  ASSERT_TRUE(enter(0, 0, u"=Now()"));
  ASSERT_TRUE(enter(0, 1, u"=Today()"));
  g_clock = LocalTime{2005, 1, 2, 18, 30, 15, 250};
  installLocalClock(fixedClock);
  recalculateAll(*book);
  EXPECT_DOUBLE_EQ(cell(0, 0).number, 38354 + 66615.25 / 86400);
  EXPECT_EQ(cell(0, 0).text, u"1/2/05 18:30:15");
  EXPECT_EQ(cell(0, 1).text, u"1/2/05");
  g_clock = LocalTime{10000, 1, 1, 0, 0, 0, 0};  // a clock the calendar cannot hold
  recalculateAll(*book);
  EXPECT_EQ(cell(0, 0).text, u"!!Num");
  installLocalClock(nullptr);
}

}  // namespace
}  // namespace kelp
