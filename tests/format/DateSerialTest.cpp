// Tests of serial dates: the 1900 quirk, negative serials, the range and both directions.
#include "format/DateSerial.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace kelp;

namespace {

std::string fieldsText(double serial) {
  DateFields f;
  if (!fieldsFromSerial(serial, f)) return "fail";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d w%d %02d:%02d:%02d", f.year, f.month, f.day, f.weekday, f.hour,
                f.minute, f.second);
  return buffer;
}

double serialOf(int y, int m, int d, int h = 0, int mi = 0, int s = 0, int ms = 0, bool check = true) {
  double out = -1e300;
  EXPECT_TRUE(serialFromFields(y, m, d, h, mi, s, ms, check, out)) << y << "-" << m << "-" << d;
  return out;
}

}  // namespace

TEST(DateSerial, EpochAndThe1900Quirk) {
  EXPECT_EQ(fieldsText(0), "1899-12-30 w6 00:00:00");
  EXPECT_EQ(fieldsText(1), "1899-12-31 w0 00:00:00");
  EXPECT_EQ(fieldsText(2), "1900-01-01 w1 00:00:00");
  EXPECT_EQ(fieldsText(60), "1900-02-28 w3 00:00:00");
  EXPECT_EQ(fieldsText(61), "1900-03-01 w4 00:00:00");
  EXPECT_EQ(fieldsText(38353), "2005-01-01 w6 00:00:00");
  EXPECT_EQ(fieldsText(36585), "2000-02-29 w2 00:00:00");
  EXPECT_EQ(serialOf(1900, 2, 28), 60);
  EXPECT_EQ(serialOf(1900, 3, 1), 61);
  EXPECT_EQ(serialOf(2005, 1, 1), 38353);
  EXPECT_EQ(serialOf(1899, 12, 30), 0);
}

TEST(DateSerial, NegativeSerialsCountTheTimeAwayFromZero) {
  EXPECT_EQ(fieldsText(-1.25), "1899-12-29 w5 06:00:00");
  EXPECT_EQ(fieldsText(-0.5), "1899-12-30 w6 12:00:00");
  EXPECT_EQ(fieldsText(-1), "1899-12-29 w5 00:00:00");
  EXPECT_EQ(serialOf(1899, 12, 29, 6), -1.25);
  EXPECT_EQ(serialOf(1899, 12, 28, 18), -2.75);
  EXPECT_EQ(fieldsText(-36522), "1800-01-01 w3 00:00:00");
}

TEST(DateSerial, RangeLimits) {
  EXPECT_EQ(fieldsText(MinSerial), "0100-01-01 w5 00:00:00");
  EXPECT_EQ(fieldsText(MaxSerial), "9999-12-31 w5 00:00:00");
  EXPECT_EQ(fieldsText(MaxSerial + 1), "fail");
  EXPECT_EQ(fieldsText(MaxSerial + 0.5), "fail");
  EXPECT_EQ(fieldsText(MinSerial - 1), "fail");
  EXPECT_EQ(fieldsText(std::numeric_limits<double>::quiet_NaN()), "fail");
  EXPECT_EQ(fieldsText(std::numeric_limits<double>::infinity()), "fail");
  EXPECT_EQ(serialOf(100, 1, 1), MinSerial);
  EXPECT_EQ(serialOf(9999, 12, 31), MaxSerial);
}

TEST(DateSerial, TimeOfDayAndRounding) {
  EXPECT_EQ(fieldsText(0.5), "1899-12-30 w6 12:00:00");
  EXPECT_EQ(fieldsText(38353.75), "2005-01-01 w6 18:00:00");
  EXPECT_EQ(serialOf(1899, 12, 30, 13, 30), 0.5625);
  // Half a millisecond carries a value just short of a whole second (or day) over it.
  EXPECT_EQ(fieldsText(38352.99999999999), "2005-01-01 w6 00:00:00");
  EXPECT_EQ(fieldsText(1.0 / 86400 * 59.9999999), "1899-12-30 w6 00:01:00");
  EXPECT_EQ(fieldsText(0.99999999), "1899-12-30 w6 23:59:59");
  double withMillis = serialOf(2005, 1, 1, 0, 0, 1, 500);
  EXPECT_NEAR(withMillis, 38353 + 1.5 / 86400, 1e-12);
}

TEST(DateSerial, CheckedFieldsMustBeInRange) {
  double out = 0;
  EXPECT_FALSE(serialFromFields(1900, 2, 29, 0, 0, 0, 0, true, out));
  EXPECT_TRUE(serialFromFields(2000, 2, 29, 0, 0, 0, 0, true, out));
  EXPECT_FALSE(serialFromFields(2100, 2, 29, 0, 0, 0, 0, true, out));
  EXPECT_TRUE(serialFromFields(2004, 2, 29, 0, 0, 0, 0, true, out));
  EXPECT_FALSE(serialFromFields(2005, 4, 31, 0, 0, 0, 0, true, out));
  EXPECT_FALSE(serialFromFields(2005, 13, 1, 0, 0, 0, 0, true, out));
  EXPECT_FALSE(serialFromFields(2005, 0, 1, 0, 0, 0, 0, true, out));
  EXPECT_FALSE(serialFromFields(2005, 1, 0, 0, 0, 0, 0, true, out));
  EXPECT_FALSE(serialFromFields(2005, 1, 1, 24, 0, 0, 0, true, out));
  EXPECT_FALSE(serialFromFields(2005, 1, 1, 0, 60, 0, 0, true, out));
  EXPECT_FALSE(serialFromFields(2005, 1, 1, 0, 0, 60, 0, true, out));
  EXPECT_FALSE(serialFromFields(2005, 1, 1, 0, 0, 0, 1000, true, out));
  EXPECT_FALSE(serialFromFields(10000, 1, 1, 0, 0, 0, 0, true, out));
  EXPECT_FALSE(serialFromFields(-1, 1, 1, 0, 0, 0, 0, true, out));
}

TEST(DateSerial, UncheckedFieldsRunOver) {
  EXPECT_EQ(serialOf(2004, 13, 1, 0, 0, 0, 0, false), serialOf(2005, 1, 1));
  EXPECT_EQ(serialOf(2005, 0, 1, 0, 0, 0, 0, false), serialOf(2004, 12, 1));
  EXPECT_EQ(serialOf(2005, -12, 1, 0, 0, 0, 0, false), serialOf(2003, 12, 1));
  EXPECT_EQ(serialOf(2005, -11, 1, 0, 0, 0, 0, false), serialOf(2004, 1, 1));
  EXPECT_EQ(serialOf(2005, 1, 32, 0, 0, 0, 0, false), serialOf(2005, 2, 1));
  EXPECT_EQ(serialOf(2005, 3, 0, 0, 0, 0, 0, false), serialOf(2005, 2, 28));
  EXPECT_EQ(serialOf(2005, 25, 1, 0, 0, 0, 0, false), serialOf(2007, 1, 1));
  // Far out of range the arithmetic still must not overflow.
  double out = 0;
  EXPECT_TRUE(serialFromFields(2147483647, 2147483647, 2147483647, 0, 0, 0, 0, false, out));
  EXPECT_TRUE(serialFromFields(0, -2147483647, -2147483647, 0, 0, 0, 0, false, out));
}

TEST(DateSerial, EveryDayRoundTrips) {
  int previousWeekday = -1;
  for (double serial = MinSerial; serial <= MaxSerial; serial += 1) {
    DateFields f;
    ASSERT_TRUE(fieldsFromSerial(serial, f)) << serial;
    ASSERT_GE(f.day, 1);
    ASSERT_LE(f.day, daysInMonth(f.year, f.month)) << serial;
    if (previousWeekday >= 0) {
      ASSERT_EQ(f.weekday, (previousWeekday + 1) % 7) << serial;
    }
    previousWeekday = f.weekday;
    double back = 0;
    ASSERT_TRUE(serialFromFields(f.year, f.month, f.day, 0, 0, 0, 0, true, back)) << serial;
    ASSERT_EQ(back, serial);
  }
}
