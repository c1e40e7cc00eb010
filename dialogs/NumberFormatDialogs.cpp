// The Number Format and Date & Time Format dialogs and the builders behind them.
#include "dialogs/NumberFormatDialogs.h"

#include <algorithm>

#include "dialogs/Form.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Locale.h"
#include "platform/StringTable.h"
#include "platform/Text.h"

namespace kelp {

namespace {

constexpr int PositivePrefixField = 1053;
constexpr int PositiveSuffixField = 1054;
constexpr int NegativePrefixField = 1055;
constexpr int NegativeSuffixField = 1057;
constexpr int DecimalsField = 1019;
constexpr int ThousandsField = 1052;

constexpr int DateField = 1057;
constexpr int DatePartFields[5] = {1063, 1055, 1064, 1065, 1066};  // part, separator, part, separator, part
constexpr int TimeField = 1058;
constexpr int TimePictureField = 1053;

constexpr int InvalidDateFormatString = 2562;
constexpr size_t MaxAffixLength = 60;

void addOnce(std::vector<std::u16string>& offers, const std::u16string& text) {
  if (std::find(offers.begin(), offers.end(), text) == offers.end()) offers.push_back(text);
}

const std::vector<std::u16string> kDateCodes = {u"",   u"d",  u"dd",  u"ddd",  u"dddd", u"M",
                                                u"MM", u"MMM", u"MMMM", u"yy", u"yyyy"};

// 0 day of the month, 1 weekday, 2 month, 3 year.
int dateField(std::u16string_view code) {
  if (code[0] == u'd') return code.size() <= 2 ? 0 : 1;
  return code[0] == u'M' ? 2 : 3;
}

bool isAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

// A literal between picture codes: no letter (a picture would read it as a code) and no quote.
bool plainSeparator(std::u16string_view text) {
  return std::none_of(text.begin(), text.end(), [](char16_t c) { return isAsciiLetter(c) || c == u'\''; });
}

// A date picture in the dialog's five lists: part, separator, part, separator, part.
bool splitDatePicture(std::u16string_view picture, std::array<std::u16string, 5>& parts) {
  parts = {};
  size_t slot = 0, i = 0;
  while (i < picture.size()) {
    size_t end = i;
    if (picture[i] == u'd' || picture[i] == u'M' || picture[i] == u'y') {
      while (end < picture.size() && picture[end] == picture[i]) ++end;
      if (slot % 2 == 1) ++slot;  // two codes without a separator between them
    } else {
      while (end < picture.size() && picture[end] != u'd' && picture[end] != u'M' && picture[end] != u'y') ++end;
      if (slot % 2 == 0) return false;  // a picture that starts with a literal
    }
    if (slot >= parts.size()) return false;
    parts[slot++] = std::u16string(picture.substr(i, end - i));
    i = end;
  }
  std::u16string rebuilt;
  return buildDatePicture(parts, rebuilt) && rebuilt == picture;
}

// Finds or adds the format built; a new one marks the workbook modified.
bool addFormat(FormDialog& dialog, Workbook& workbook, const NumberFormatRecord& format, int32_t& added) {
  const size_t before = workbook.numberFormats.size();
  added = workbook.findOrAddNumberFormat(format);
  if (added < 0) {
    dialog.showError(pendingError());
    return false;
  }
  if (workbook.numberFormats.size() != before) workbook.modified = true;
  return true;
}

}  // namespace

AffixOffers affixOffers() {
  const LocaleSettings& locale = currentLocale();
  const int mode = locale.positiveCurrencyMode;
  const std::u16string& symbol = locale.currencySymbol;
  AffixOffers offers{{u""}, {u"", u"%"}, {u"-", u"("}, {u"", u"%", u")"}};
  if (mode == 0 || mode == 2) {
    const std::u16string leading = symbol + (mode == 2 ? u" " : u"");
    addOnce(offers.positivePrefix, leading);
    addOnce(offers.negativePrefix, u"-" + leading);
    addOnce(offers.negativePrefix, u"(" + leading);
  } else {
    const std::u16string trailing = (mode == 3 ? u" " : u"") + symbol;
    addOnce(offers.positiveSuffix, trailing);
    addOnce(offers.negativeSuffix, trailing);
    addOnce(offers.negativeSuffix, trailing + u")");
  }
  return offers;
}

NumberFormatRecord buildNumberFormat(std::u16string positivePrefix, std::u16string positiveSuffix,
                                     std::u16string negativePrefix, std::u16string negativeSuffix, int decimals,
                                     bool thousands) {
  NumberFormatRecord format;
  format.decimals = static_cast<uint8_t>(std::clamp(decimals, 0, 9));
  format.thousands = thousands;
  for (std::u16string* part : {&positivePrefix, &positiveSuffix, &negativePrefix, &negativeSuffix})
    if (part->size() > MaxAffixLength) part->resize(MaxAffixLength);
  format.positivePrefix = std::move(positivePrefix);
  format.positiveSuffix = std::move(positiveSuffix);
  format.negativePrefix = std::move(negativePrefix);
  format.negativeSuffix = std::move(negativeSuffix);
  format.updatePercent();
  return format;
}

bool buildDatePicture(const std::array<std::u16string, 5>& parts, std::u16string& picture) {
  picture.clear();
  bool seen[4] = {};
  for (size_t slot = 0; slot < parts.size(); slot += 2) {
    const std::u16string& code = parts[slot];
    if (code.empty()) continue;
    if (std::find(kDateCodes.begin(), kDateCodes.end(), code) == kDateCodes.end()) return false;
    const int field = dateField(code);
    if (seen[field]) return false;
    seen[field] = true;
    if (!picture.empty()) {
      if (!plainSeparator(parts[slot - 1])) return false;
      picture += parts[slot - 1];
    }
    picture += code;
  }
  return !picture.empty();
}

bool validTimePicture(std::u16string_view picture) {
  bool anyField = false;
  for (size_t i = 0; i < picture.size();) {
    const char16_t c = picture[i];
    size_t end = i;
    while (end < picture.size() && picture[end] == c) ++end;
    if (c == u'h' || c == u'H' || c == u'm' || c == u's' || c == u't') {
      if (end - i > 2) return false;
      anyField = anyField || c != u't';
    } else if (isAsciiLetter(c) || c == u'\'') {
      return false;
    }
    i = end;
  }
  return anyField;
}

int32_t runNumberFormatDialog(Desktop& desktop, Workbook& workbook, const NumberFormatRecord& start) {
  NumberFormatRecord from = start;
  if (from.kind != FormatKind::Number || from.general) from = fixedFormat(2, false);
  AffixOffers offers = affixOffers();
  addOnce(offers.positivePrefix, from.positivePrefix);
  addOnce(offers.positiveSuffix, from.positiveSuffix);
  addOnce(offers.negativePrefix, from.negativePrefix);
  addOnce(offers.negativeSuffix, from.negativeSuffix);
  std::vector<std::u16string> places;
  for (char16_t d = u'0'; d <= u'9'; ++d) places.push_back(std::u16string(1, d));

  int32_t added = -1;
  Form form{u"Number Format",
            {noteField(u"Positive numbers:"), offerField(PositivePrefixField, u"Prefix:", offers.positivePrefix, MaxAffixLength),
             offerField(PositiveSuffixField, u"Suffix:", offers.positiveSuffix, MaxAffixLength),
             noteField(u"Negative numbers:"), offerField(NegativePrefixField, u"Prefix:", offers.negativePrefix, MaxAffixLength),
             offerField(NegativeSuffixField, u"Suffix:", offers.negativeSuffix, MaxAffixLength),
             choiceField(DecimalsField, u"Decimal places:", places), checkField(ThousandsField, u"Use 1000 separator")},
            nullptr, nullptr};
  form.help = u"number_format";
  form.accept = [&workbook, &added](FormDialog& dialog, const FormValues& values) {
    const NumberFormatRecord format = buildNumberFormat(
        values.text.at(PositivePrefixField), values.text.at(PositiveSuffixField), values.text.at(NegativePrefixField),
        values.text.at(NegativeSuffixField), values.choice.at(DecimalsField), values.check.at(ThousandsField));
    return addFormat(dialog, workbook, format, added);
  };
  FormValues values;
  values.text[PositivePrefixField] = from.positivePrefix;
  values.text[PositiveSuffixField] = from.positiveSuffix;
  values.text[NegativePrefixField] = from.negativePrefix;
  values.text[NegativeSuffixField] = from.negativeSuffix;
  values.choice[DecimalsField] = from.decimals;
  values.check[ThousandsField] = from.thousands;
  return runForm(desktop, form, values) ? added : -1;
}

int32_t runDateFormatDialog(Desktop& desktop, Workbook& workbook, const NumberFormatRecord& start) {
  const LocaleSettings& locale = currentLocale();
  const bool isDate = start.kind == FormatKind::DateTime;
  std::array<std::u16string, 5> parts;
  if (!isDate || !splitDatePicture(start.datePicture, parts)) (void)splitDatePicture(locale.shortDatePicture(), parts);
  std::vector<std::u16string> separators = {std::u16string(1, locale.dateSeparator), u"-", u".", u" ", u", ", u"/", u""};
  std::vector<std::u16string> times;
  for (int slot : {PictureSlot::Time12, PictureSlot::Time24, PictureSlot::Time12Seconds, PictureSlot::Time24Seconds})
    addOnce(times, locale.pictures[static_cast<size_t>(slot)]);
  const std::u16string time = isDate && !start.timePicture.empty() ? start.timePicture : times[1];
  addOnce(times, time);
  std::vector<std::u16string> partOffers[5];
  for (size_t i = 0; i < 5; ++i) {
    partOffers[i] = i % 2 == 0 ? kDateCodes : separators;
    addOnce(partOffers[i], parts[i]);
  }

  int32_t added = -1;
  Form form{u"Date & Time Format",
            {checkField(DateField, u"Date:"), offerField(DatePartFields[0], u"First part:", partOffers[0], 10),
             offerField(DatePartFields[1], u"Separator:", partOffers[1], 10),
             offerField(DatePartFields[2], u"Second part:", partOffers[2], 10),
             offerField(DatePartFields[3], u"Separator:", partOffers[3], 10),
             offerField(DatePartFields[4], u"Third part:", partOffers[4], 10), checkField(TimeField, u"Time:"),
             offerField(TimePictureField, u"Time picture:", times, 30)},
            nullptr, nullptr};
  // The checks tell their first state while the dialog is still being built.
  form.update = [](FormDialog& dialog, const FormValues& values) {
    auto date = values.check.find(DateField), time = values.check.find(TimeField);
    if (date == values.check.end() || time == values.check.end()) return;
    for (int id : DatePartFields) dialog.enableField(id, date->second);
    dialog.enableField(TimePictureField, time->second);
  };
  form.help = u"number_format";
  form.accept = [&workbook, &added](FormDialog& dialog, const FormValues& values) {
    std::u16string datePicture, timePicture;
    const bool date = values.check.at(DateField), time = values.check.at(TimeField);
    std::array<std::u16string, 5> chosen;
    for (size_t i = 0; i < 5; ++i) chosen[i] = values.text.at(DatePartFields[i]);
    if (time) timePicture = values.text.at(TimePictureField);
    if ((!date && !time) || (date && !buildDatePicture(chosen, datePicture)) || (time && !validTimePicture(timePicture))) {
      dialog.showMessage(loadString(InvalidDateFormatString));
      return false;
    }
    return addFormat(dialog, workbook, dateFormat(datePicture, timePicture), added);
  };
  FormValues values;
  values.check[DateField] = !isDate || !start.datePicture.empty();
  values.check[TimeField] = isDate && !start.timePicture.empty();
  for (size_t i = 0; i < 5; ++i) values.text[DatePartFields[i]] = parts[i];
  values.text[TimePictureField] = time;
  return runForm(desktop, form, values) ? added : -1;
}

}  // namespace kelp
