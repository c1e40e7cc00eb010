// Tests of the locale settings, the built-in locales and the date and time pictures.
#include "platform/Locale.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace kelp;

namespace {

// Puts the US locale back after every test, since the settings are process-wide.
class LocaleTest : public ::testing::Test {
 protected:
  void TearDown() override { selectLocale("en_US"); }
};

std::u16string date(const CalendarTime& t, std::u16string_view picture, const LocaleSettings& l = currentLocale()) {
  std::u16string out;
  appendDatePicture(t, picture, out, l);
  return out;
}

std::u16string time(const CalendarTime& t, std::u16string_view picture, const LocaleSettings& l = currentLocale()) {
  std::u16string out;
  appendTimePicture(t, picture, out, l);
  return out;
}

CalendarTime at(int year, int month, int day, int weekday, int hour = 0, int minute = 0, int second = 0) {
  CalendarTime t;
  t.year = year;
  t.month = month;
  t.day = day;
  t.weekday = weekday;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  return t;
}

LocaleSettings locale(std::string_view name) {
  LocaleSettings l;
  EXPECT_TRUE(builtInLocale(name, l)) << name;
  return l;
}

}  // namespace

TEST_F(LocaleTest, BuiltInLocalesCarryTheirConventions) {
  // The number and date texts of the format tests show the rest of each locale; these
  // two settings show nowhere else.
  EXPECT_EQ(locale("de_DE").listSeparator, u';');
  EXPECT_EQ(locale("fr_FR").decimalSymbol, u',');
}

TEST_F(LocaleTest, PicturesFollowOrderAndSeparators) {
  LocaleSettings l;
  l.dateOrder = 1;
  l.dateSeparator = u'-';
  l.timeSeparator = u'.';
  l.buildPictures();
  EXPECT_EQ(l.pictures[PictureSlot::ShortDate], u"d-M-yy");
  EXPECT_EQ(l.pictures[PictureSlot::Time12], u"h.mm tt");
  EXPECT_EQ(l.pictures[PictureSlot::Time24], u"H.mm");
  EXPECT_EQ(l.pictures[PictureSlot::Time12Seconds], u"h.mm.ss tt");
  EXPECT_EQ(l.pictures[PictureSlot::Time24Seconds], u"H.mm.ss");
  l.dateOrder = 7;  // any other order reads as month-day-year
  l.buildPictures();
  EXPECT_EQ(l.pictures[PictureSlot::ShortDate], u"M-d-yy");

  // Settings put in force get pictures that agree with them.
  LocaleSettings stale;
  stale.dateOrder = 2;
  stale.dateSeparator = u'-';
  setCurrentLocale(stale);
  EXPECT_EQ(currentLocale().pictures[PictureSlot::ShortDate], u"yy-M-d");
  EXPECT_EQ(currentLocale().pictures[PictureSlot::LongYearDate], u"yyyy-M-d");
}

TEST_F(LocaleTest, NamesAreMatchedLooselyAndUnknownNamesChangeNothing) {
  EXPECT_TRUE(selectLocale("de_DE.UTF-8"));
  EXPECT_EQ(currentLocaleName(), "de_DE");
  EXPECT_EQ(currentLocale().decimalSymbol, u',');
  EXPECT_TRUE(selectLocale("fr-fr"));
  EXPECT_EQ(currentLocaleName(), "fr_FR");
  EXPECT_TRUE(selectLocale("cs_CZ@euro"));
  EXPECT_EQ(currentLocaleName(), "cs_CZ");

  EXPECT_FALSE(selectLocale("xx_YY"));
  EXPECT_FALSE(selectLocale(""));
  EXPECT_FALSE(selectLocale("de"));
  EXPECT_EQ(currentLocaleName(), "cs_CZ");
  EXPECT_EQ(currentLocale().currencySymbol, u"Kč");

  LocaleSettings untouched;
  untouched.currencySymbol = u"X";
  EXPECT_FALSE(builtInLocale("nowhere", untouched));
  EXPECT_EQ(untouched.currencySymbol, u"X");
}

TEST_F(LocaleTest, PrintedPointComesFromTheRuntime) {
  LocaleSettings l;
  l.printedPoint = u',';
  setCurrentLocale(l);
  EXPECT_EQ(currentLocale().printedPoint, u'.');
  EXPECT_EQ(currentLocaleName(), "");
}

TEST_F(LocaleTest, EnvironmentChoosesTheLocale) {
  const char* variables[] = {"KELP_LOCALE", "LC_ALL", "LC_NUMERIC", "LC_TIME", "LANG"};
  std::string saved[5];
  bool had[5];
  for (int i = 0; i < 5; ++i) {
    const char* v = std::getenv(variables[i]);
    had[i] = v != nullptr;
    if (v) saved[i] = v;
    unsetenv(variables[i]);
  }

  setenv("LANG", "de_DE.UTF-8", 1);
  EXPECT_EQ(selectLocaleFromEnvironment(), "de_DE");
  setenv("LC_TIME", "ja_JP.UTF-8", 1);
  EXPECT_EQ(selectLocaleFromEnvironment(), "ja_JP");
  setenv("LC_NUMERIC", "fr_FR", 1);
  EXPECT_EQ(selectLocaleFromEnvironment(), "fr_FR");
  setenv("LC_ALL", "C", 1);  // set but none of ours: US English, not LANG
  EXPECT_EQ(selectLocaleFromEnvironment(), "en_US");
  setenv("LC_ALL", "", 1);  // empty counts as unset
  EXPECT_EQ(selectLocaleFromEnvironment(), "fr_FR");
  setenv("KELP_LOCALE", "cs_CZ", 1);
  EXPECT_EQ(selectLocaleFromEnvironment(), "cs_CZ");
  EXPECT_EQ(currentLocale().currencySymbol, u"Kč");
  setenv("KELP_LOCALE", "bogus", 1);  // an unknown override falls back to the variables
  EXPECT_EQ(selectLocaleFromEnvironment(), "fr_FR");

  for (int i = 0; i < 5; ++i) {
    if (had[i])
      setenv(variables[i], saved[i].c_str(), 1);
    else
      unsetenv(variables[i]);
  }
}

TEST_F(LocaleTest, DatePictureElements) {
  const CalendarTime sunday = at(2005, 1, 2, 0);
  EXPECT_EQ(date(sunday, u"d dd ddd dddd"), u"2 02 Sun Sunday");
  EXPECT_EQ(date(sunday, u"M MM MMM MMMM"), u"1 01 Jan January");
  EXPECT_EQ(date(sunday, u"y yy yyyy"), u"5 05 2005");
  EXPECT_EQ(date(sunday, u"ddddd MMMMM yyyyy"), u"Sunday January 2005");  // longer runs read as the longest
  const CalendarTime december = at(1999, 12, 31, 5);
  EXPECT_EQ(date(december, u"dd/MM/yy"), u"31/12/99");
  EXPECT_EQ(date(december, u"dddd, MMMM d, yyyy"), u"Friday, December 31, 1999");
  EXPECT_EQ(date(at(100, 1, 1, 5), u"yy|yyyy"), u"00|100");
  EXPECT_EQ(date(at(2010, 11, 9, 2), u"yy"), u"10");

  // Quoted text and letters that are no date element stand as written.
  EXPECT_EQ(date(sunday, u"d 'de' MMMM"), u"2 de January");
  EXPECT_EQ(date(sunday, u"'dd MM' d"), u"dd MM 2");
  EXPECT_EQ(date(sunday, u"''d''"), u"'2'");
  EXPECT_EQ(date(sunday, u"'it''s' d"), u"it's 2");
  EXPECT_EQ(date(sunday, u"h:mm g"), u"h:mm g");
  EXPECT_EQ(date(sunday, u"'open"), u"open");
  EXPECT_EQ(date(sunday, u""), u"");
}

TEST_F(LocaleTest, DateNamesComeFromTheLocale) {
  const LocaleSettings de = locale("de_DE");
  const CalendarTime march = at(2005, 3, 2, 3);
  EXPECT_EQ(date(march, u"dddd, d. MMMM yyyy", de), u"Mittwoch, 2. März 2005");
  EXPECT_EQ(date(march, u"ddd MMM", de), u"Mi Mär");

  const LocaleSettings fr = locale("fr_FR");
  EXPECT_EQ(date(at(2005, 8, 7, 0), u"dddd d MMMM", fr), u"dimanche 7 août");

  // Czech months take the genitive after a day number, the nominative otherwise.
  const LocaleSettings cs = locale("cs_CZ");
  const CalendarTime january = at(2005, 1, 2, 0);
  EXPECT_EQ(date(january, u"d. MMMM yyyy", cs), u"2. ledna 2005");
  EXPECT_EQ(date(january, u"MMMM yyyy", cs), u"leden 2005");
  EXPECT_EQ(date(january, u"dddd MMMM", cs), u"neděle leden");
  EXPECT_EQ(date(january, u"'d' MMMM", cs), u"d leden");
  EXPECT_EQ(date(january, u"d.M.yy", cs), u"2.1.05");

  const LocaleSettings ja = locale("ja_JP");
  EXPECT_EQ(date(at(2005, 10, 2, 0), u"yyyy'年'MMMM d'日' dddd", ja), u"2005年10月 2日 日曜日");
}

TEST_F(LocaleTest, TimePictureElements) {
  const CalendarTime early = at(2005, 1, 2, 0, 0, 5, 9);
  EXPECT_EQ(time(early, u"h hh H HH"), u"12 12 0 00");
  EXPECT_EQ(time(early, u"m mm s ss"), u"5 05 9 09");
  EXPECT_EQ(time(early, u"t tt"), u"A AM");
  const CalendarTime afternoon = at(2005, 1, 2, 0, 13, 30, 0);
  EXPECT_EQ(time(afternoon, u"h:mm tt"), u"1:30 PM");
  EXPECT_EQ(time(afternoon, u"hh:mm:ss t"), u"01:30:00 P");
  EXPECT_EQ(time(afternoon, u"H:mm:ss"), u"13:30:00");
  EXPECT_EQ(time(at(2005, 1, 2, 0, 12, 0, 0), u"h tt"), u"12 PM");
  EXPECT_EQ(time(at(2005, 1, 2, 0, 23, 59, 59), u"hhh:mmm:sss"), u"11:59:59");
  // Quoting, and date letters that a time picture leaves alone.
  EXPECT_EQ(time(afternoon, u"H'h'mm 'o''clock'"), u"13h30 o'clock");
  EXPECT_EQ(time(afternoon, u"H:mm d"), u"13:30 d");

  const LocaleSettings cs = locale("cs_CZ");
  EXPECT_EQ(time(afternoon, u"h:mm tt", cs), u"1:30 odp.");
  EXPECT_EQ(time(early, u"h:mm tt", cs), u"12:05 dop.");
  const LocaleSettings ja = locale("ja_JP");
  EXPECT_EQ(time(at(2005, 1, 2, 0, 9, 5, 0), u"tt h:mm", ja), u"午前 9:05");
  EXPECT_EQ(time(afternoon, u"t", ja), u"午");

  LocaleSettings blank;
  blank.pmDesignator.clear();
  EXPECT_EQ(time(afternoon, u"h:mm t|tt|", blank), u"1:30 ||");
}
