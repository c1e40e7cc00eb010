// Number format records and the built-in list made from the locale.
#include "model/NumberFormat.h"

#include "platform/Locale.h"

namespace kelp {

bool NumberFormatRecord::sameAs(const NumberFormatRecord& o) const {
  if (kind != o.kind || general != o.general) return false;
  switch (kind) {
    case FormatKind::Number:
      return decimals == o.decimals && percent == o.percent && thousands == o.thousands &&
             positivePrefix == o.positivePrefix && positiveSuffix == o.positiveSuffix &&
             negativePrefix == o.negativePrefix && negativeSuffix == o.negativeSuffix;
    case FormatKind::DateTime:
      return datePicture == o.datePicture && timePicture == o.timePicture;
    case FormatKind::Text:
      return true;
  }
  return false;
}

void NumberFormatRecord::updatePercent() {
  auto has = [](const std::u16string& s) { return s.find(u'%') != std::u16string::npos; };
  percent = has(positivePrefix) || has(positiveSuffix) || has(negativePrefix) || has(negativeSuffix);
}

NumberFormatRecord generalFormat() {
  NumberFormatRecord f;
  f.general = true;
  return f;
}

NumberFormatRecord fixedFormat(int decimals, bool thousands) {
  NumberFormatRecord f;
  f.decimals = static_cast<uint8_t>(decimals);
  f.thousands = thousands;
  f.negativePrefix = u"-";
  return f;
}

NumberFormatRecord dateFormat(std::u16string datePicture, std::u16string timePicture) {
  NumberFormatRecord f;
  f.kind = FormatKind::DateTime;
  f.datePicture = std::move(datePicture);
  f.timePicture = std::move(timePicture);
  return f;
}

namespace {

NumberFormatRecord currencyFormat(int decimals) {
  const LocaleSettings& locale = currentLocale();
  const int n = locale.negativeCurrencyMode;
  const int p = locale.positiveCurrencyMode;
  const bool parentheses = n == 0 || n == 4 || n == 14 || n == 15;
  NumberFormatRecord f;
  f.decimals = static_cast<uint8_t>(decimals);
  f.thousands = true;
  if (p == 0 || p == 2) {
    f.positivePrefix = locale.currencySymbol + (p == 2 ? u" " : u"");
    f.negativePrefix = (parentheses ? u"(" : u"-") + f.positivePrefix;
    if (parentheses) f.negativeSuffix = u")";
  } else {
    f.positiveSuffix = (p == 3 ? u" " : u"") + locale.currencySymbol;
    f.negativePrefix = parentheses ? u"(" : u"-";
    f.negativeSuffix = f.positiveSuffix + (parentheses ? u")" : u"");
  }
  return f;
}

}  // namespace

std::vector<NumberFormatRecord> builtInFormats() {
  const std::u16string shortDate = currentLocale().shortDatePicture;
  NumberFormatRecord percent = fixedFormat(2, false);
  percent.positiveSuffix = u"%";
  percent.negativeSuffix = u"%";
  percent.percent = true;
  NumberFormatRecord text;
  text.kind = FormatKind::Text;
  return {
      generalFormat(),
      fixedFormat(0, false),
      fixedFormat(2, false),
      currencyFormat(0),
      currencyFormat(2),
      percent,
      dateFormat(shortDate, u""),
      dateFormat(u"d-MMM-yy", u""),
      dateFormat(u"d-MMM", u""),
      dateFormat(u"MMM-yy", u""),
      dateFormat(u"", u"h:mm tt"),
      dateFormat(u"", u"H:mm"),
      dateFormat(u"", u"h:mm:ss tt"),
      dateFormat(u"", u"H:mm:ss"),
      dateFormat(shortDate, u"H:mm"),
      text,
  };
}

}  // namespace kelp
