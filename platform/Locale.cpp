// The locale settings in force, the built-in locales, and date and time pictures.
#include "platform/Locale.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kelp {

namespace {

struct LocaleState {
  LocaleSettings settings;
  std::string_view name = "en_US";
};

char16_t runtimePrintedPoint() {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.14e", 1.0);
  return static_cast<char16_t>(static_cast<unsigned char>(buffer[1]));
}

LocaleState& state() {
  static LocaleState s = [] {
    LocaleState fresh;
    fresh.settings.printedPoint = runtimePrintedPoint();
    return fresh;
  }();
  return s;
}

constexpr std::string_view kNames[] = {"en_US", "en_GB", "de_DE", "fr_FR", "cs_CZ", "ja_JP"};

LocaleSettings englishUK() {
  LocaleSettings l;
  l.dateOrder = 1;
  l.longDateOrder = 1;
  l.hour24 = true;
  l.currencySymbol = u"\u00A3";
  l.negativeCurrencyMode = 1;  // -£1.00
  return l;
}

LocaleSettings german() {
  LocaleSettings l;
  l.decimalSymbol = u',';
  l.listSeparator = u';';
  l.thousandsSeparator = u'.';
  l.dateSeparator = u'.';
  l.dateOrder = 1;
  l.longDateOrder = 1;
  l.hour24 = true;
  l.currencySymbol = u"\u20AC";
  l.positiveCurrencyMode = 3;  // 1 €
  l.negativeCurrencyMode = 8;  // -1 €
  l.monthNames = {u"Januar", u"Februar", u"März",      u"April",   u"Mai",      u"Juni",
                  u"Juli",   u"August",  u"September", u"Oktober", u"November", u"Dezember"};
  l.shortMonthNames = {u"Jan", u"Feb", u"Mär", u"Apr", u"Mai", u"Jun",
                       u"Jul", u"Aug", u"Sep", u"Okt", u"Nov", u"Dez"};
  l.dayNames = {u"Sonntag", u"Montag", u"Dienstag", u"Mittwoch", u"Donnerstag", u"Freitag", u"Samstag"};
  l.shortDayNames = {u"So", u"Mo", u"Di", u"Mi", u"Do", u"Fr", u"Sa"};
  return l;
}

LocaleSettings french() {
  LocaleSettings l;
  l.decimalSymbol = u',';
  l.listSeparator = u';';
  l.thousandsSeparator = u'\u00A0';
  l.dateOrder = 1;
  l.longDateOrder = 1;
  l.hour24 = true;
  l.currencySymbol = u"\u20AC";
  l.positiveCurrencyMode = 3;
  l.negativeCurrencyMode = 8;
  l.monthNames = {u"janvier", u"février", u"mars",      u"avril",   u"mai",      u"juin",
                  u"juillet", u"août",    u"septembre", u"octobre", u"novembre", u"décembre"};
  l.shortMonthNames = {u"janv.", u"févr.", u"mars",  u"avr.", u"mai",  u"juin",
                       u"juil.", u"août",  u"sept.", u"oct.", u"nov.", u"déc."};
  l.dayNames = {u"dimanche", u"lundi", u"mardi", u"mercredi", u"jeudi", u"vendredi", u"samedi"};
  l.shortDayNames = {u"dim.", u"lun.", u"mar.", u"mer.", u"jeu.", u"ven.", u"sam."};
  return l;
}

LocaleSettings czech() {
  LocaleSettings l;
  l.decimalSymbol = u',';
  l.listSeparator = u';';
  l.thousandsSeparator = u'\u00A0';
  l.dateSeparator = u'.';
  l.dateOrder = 1;
  l.longDateOrder = 1;
  l.hour24 = true;
  l.currencySymbol = u"Kč";
  l.positiveCurrencyMode = 3;
  l.negativeCurrencyMode = 8;
  l.amDesignator = u"dop.";
  l.pmDesignator = u"odp.";
  l.monthNames = {u"leden",    u"únor",  u"březen", u"duben", u"květen",   u"červen",
                  u"červenec", u"srpen", u"září",   u"říjen", u"listopad", u"prosinec"};
  l.genitiveMonthNames = {u"ledna",     u"února", u"března", u"dubna",  u"května",    u"června",
                          u"července",  u"srpna", u"září",   u"října",  u"listopadu", u"prosince"};
  l.shortMonthNames = {u"led", u"úno", u"bře", u"dub", u"kvě", u"čvn",
                       u"čvc", u"srp", u"zář", u"říj", u"lis", u"pro"};
  l.dayNames = {u"neděle", u"pondělí", u"úterý", u"středa", u"čtvrtek", u"pátek", u"sobota"};
  l.shortDayNames = {u"ne", u"po", u"út", u"st", u"čt", u"pá", u"so"};
  return l;
}

LocaleSettings japanese() {
  LocaleSettings l;
  l.dateOrder = 2;
  l.longDateOrder = 2;
  l.hour24 = true;
  l.currencySymbol = u"\u00A5";
  l.negativeCurrencyMode = 1;
  l.amDesignator = u"午前";
  l.pmDesignator = u"午後";
  for (int m = 0; m < 12; ++m) {
    std::u16string name = m < 9 ? std::u16string(1, static_cast<char16_t>(u'1' + m))
                                : std::u16string{u'1', static_cast<char16_t>(u'0' + m - 9)};
    name += u"月";
    l.monthNames[m] = name;
    l.shortMonthNames[m] = name;
  }
  l.dayNames = {u"日曜日", u"月曜日", u"火曜日", u"水曜日", u"木曜日", u"金曜日", u"土曜日"};
  l.shortDayNames = {u"日", u"月", u"火", u"水", u"木", u"金", u"土"};
  return l;
}

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// "de_DE.UTF-8", "de-de" and "de_DE@euro" all reduce to the index of de_DE.
int findBuiltIn(std::string_view name) {
  size_t end = name.find_first_of(".@");
  if (end != std::string_view::npos) name = name.substr(0, end);
  for (int i = 0; i < static_cast<int>(std::size(kNames)); ++i) {
    std::string_view candidate = kNames[i];
    if (candidate.size() != name.size()) continue;
    bool same = true;
    for (size_t k = 0; k < name.size() && same; ++k) {
      char a = name[k] == '-' ? '_' : lowerAscii(name[k]);
      same = a == lowerAscii(candidate[k]);
    }
    if (same) return i;
  }
  return -1;
}

LocaleSettings makeBuiltIn(int index) {
  LocaleSettings l;
  switch (index) {
    case 1: l = englishUK(); break;
    case 2: l = german(); break;
    case 3: l = french(); break;
    case 4: l = czech(); break;
    case 5: l = japanese(); break;
    default: break;
  }
  l.buildPictures();
  return l;
}

void appendNumber(int value, int width, std::u16string& out) {
  // Filled from the right and appended at once: dates in long lists come through here.
  char16_t digits[16];
  char16_t* const end = digits + sizeof digits / sizeof digits[0];
  char16_t* start = end;
  unsigned v = value < 0 ? static_cast<unsigned>(-static_cast<long long>(value)) : static_cast<unsigned>(value);
  do {
    *--start = static_cast<char16_t>(u'0' + v % 10);
    v /= 10;
  } while (v != 0);
  width = std::min(width, 15);
  while (end - start < width) *--start = u'0';
  if (value < 0) out.push_back(u'-');
  out.append(start, static_cast<size_t>(end - start));
}

// Shared walk of both picture kinds: quoted text, doubled quotes and runs of one letter.
template <typename Field>
void walkPicture(std::u16string_view picture, std::u16string& out, Field field) {
  bool quoted = false;
  size_t i = 0;
  while (i < picture.size()) {
    char16_t c = picture[i];
    if (c == u'\'') {
      if (i + 1 < picture.size() && picture[i + 1] == u'\'') {
        out.push_back(u'\'');
        i += 2;
        continue;
      }
      quoted = !quoted;
      ++i;
      continue;
    }
    size_t run = 1;
    if (!quoted)
      while (i + run < picture.size() && picture[i + run] == c) ++run;
    if (quoted || !field(c, static_cast<int>(run))) out.append(picture.substr(i, run));
    i += run;
  }
}

// Genitive month names follow a day number: a run of one or two "d" outside quotes.
bool hasDayNumber(std::u16string_view picture) {
  bool quoted = false;
  for (size_t i = 0; i < picture.size();) {
    if (picture[i] == u'\'') {
      quoted = !quoted;
      ++i;
      continue;
    }
    size_t run = 1;
    while (i + run < picture.size() && picture[i + run] == picture[i]) ++run;
    if (!quoted && picture[i] == u'd' && run <= 2) return true;
    i += run;
  }
  return false;
}

const std::u16string& designator(const CalendarTime& time, const LocaleSettings& locale) {
  return time.hour < 12 ? locale.amDesignator : locale.pmDesignator;
}

}  // namespace

void LocaleSettings::buildPictures() {
  const char16_t d = dateSeparator;
  const char16_t t = timeSeparator;
  switch (dateOrder) {
    case 1:
      pictures[PictureSlot::ShortDate] = std::u16string(u"d") + d + u"M" + d + u"yy";
      pictures[PictureSlot::LongYearDate] = std::u16string(u"d") + d + u"M" + d + u"yyyy";
      break;
    case 2:
      pictures[PictureSlot::ShortDate] = std::u16string(u"yy") + d + u"M" + d + u"d";
      pictures[PictureSlot::LongYearDate] = std::u16string(u"yyyy") + d + u"M" + d + u"d";
      break;
    default:
      pictures[PictureSlot::ShortDate] = std::u16string(u"M") + d + u"d" + d + u"yy";
      pictures[PictureSlot::LongYearDate] = std::u16string(u"M") + d + u"d" + d + u"yyyy";
      break;
  }
  pictures[PictureSlot::DayMonthYear] = u"d-MMM-yy";
  pictures[PictureSlot::DayMonth] = u"d-MMM";
  pictures[PictureSlot::MonthYear] = u"MMM-yy";
  pictures[PictureSlot::Time12] = std::u16string(u"h") + t + u"mm tt";
  pictures[PictureSlot::Time24] = std::u16string(u"H") + t + u"mm";
  pictures[PictureSlot::Time12Seconds] = std::u16string(u"h") + t + u"mm" + t + u"ss tt";
  pictures[PictureSlot::Time24Seconds] = std::u16string(u"H") + t + u"mm" + t + u"ss";
}

const LocaleSettings& currentLocale() { return state().settings; }

void setCurrentLocale(const LocaleSettings& settings) {
  LocaleState& s = state();
  s.settings = settings;
  s.settings.printedPoint = runtimePrintedPoint();
  s.settings.buildPictures();  // derived data: they must agree with the order and separators
  s.name = "";
}

std::span<const std::string_view> builtInLocaleNames() { return kNames; }

bool builtInLocale(std::string_view name, LocaleSettings& out) {
  int index = findBuiltIn(name);
  if (index < 0) return false;
  out = makeBuiltIn(index);
  return true;
}

bool selectLocale(std::string_view name) {
  int index = findBuiltIn(name);
  if (index < 0) return false;
  setCurrentLocale(makeBuiltIn(index));
  state().name = kNames[index];
  return true;
}

std::string_view selectLocaleFromEnvironment() {
  const char* chosen = std::getenv("KELP_LOCALE");
  if (chosen && *chosen && selectLocale(chosen)) return currentLocaleName();
  chosen = nullptr;
  // The first variable that is set decides, the way the C library resolves categories.
  for (const char* variable : {"LC_ALL", "LC_NUMERIC", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value && *value) {
      chosen = value;
      break;
    }
  }
  if (!chosen || !selectLocale(chosen)) selectLocale("en_US");
  return currentLocaleName();
}

std::string_view currentLocaleName() { return state().name; }

void appendDatePicture(const CalendarTime& time, std::u16string_view picture, std::u16string& out,
                       const LocaleSettings& locale) {
  const int month = time.month >= 1 && time.month <= 12 ? time.month - 1 : 0;
  const int weekday = time.weekday >= 0 && time.weekday <= 6 ? time.weekday : 0;
  bool genitive = false, genitiveKnown = false;
  walkPicture(picture, out, [&](char16_t c, int run) {
    switch (c) {
      case u'd':
        if (run <= 2)
          appendNumber(time.day, run, out);
        else
          out += run == 3 ? locale.shortDayNames[weekday] : locale.dayNames[weekday];
        return true;
      case u'M':
        if (run <= 2) {
          appendNumber(time.month, run, out);
        } else if (run == 3) {
          out += locale.shortMonthNames[month];
        } else {
          if (!genitiveKnown) {
            genitive = hasDayNumber(picture) && !locale.genitiveMonthNames[month].empty();
            genitiveKnown = true;
          }
          out += genitive ? locale.genitiveMonthNames[month] : locale.monthNames[month];
        }
        return true;
      case u'y':
        if (run <= 2)
          appendNumber(time.year % 100, run, out);
        else
          appendNumber(time.year, 1, out);
        return true;
      default:
        return false;
    }
  });
}

void appendTimePicture(const CalendarTime& time, std::u16string_view picture, std::u16string& out,
                       const LocaleSettings& locale) {
  walkPicture(picture, out, [&](char16_t c, int run) {
    const int width = run >= 2 ? 2 : 1;
    switch (c) {
      case u'h': {
        int hour = time.hour % 12;
        appendNumber(hour == 0 ? 12 : hour, width, out);
        return true;
      }
      case u'H':
        appendNumber(time.hour, width, out);
        return true;
      case u'm':
        appendNumber(time.minute, width, out);
        return true;
      case u's':
        appendNumber(time.second, width, out);
        return true;
      case u't': {
        const std::u16string& text = designator(time, locale);
        if (run >= 2)
          out += text;
        else if (!text.empty())
          out.push_back(text[0]);
        return true;
      }
      default:
        return false;
    }
  });
}

}  // namespace kelp
