// Number format records and the built-in list made from the locale.
#include "model/NumberFormat.h"

#include "platform/ErrorState.h"
#include "platform/Locale.h"

namespace kelp {

bool NumberFormatRecord::sameAs(const NumberFormatRecord& o) const {
  if (kind != o.kind || general != o.general) return false;
  if (positiveColor != o.positiveColor || negativeColor != o.negativeColor) return false;
  switch (kind) {
    case FormatKind::Number:
      // General ignores the other number fields, so stray values there make no new format.
      if (general) return true;
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

std::vector<NumberFormatRecord> builtInFormats() {
  const auto& pictures = currentLocale().pictures;
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
      dateFormat(pictures[PictureSlot::ShortDate], u""),
      dateFormat(pictures[PictureSlot::DayMonthYear], u""),
      dateFormat(pictures[PictureSlot::DayMonth], u""),
      dateFormat(pictures[PictureSlot::MonthYear], u""),
      dateFormat(u"", pictures[PictureSlot::Time12]),
      dateFormat(u"", pictures[PictureSlot::Time24]),
      dateFormat(u"", pictures[PictureSlot::Time12Seconds]),
      dateFormat(u"", pictures[PictureSlot::Time24Seconds]),
      dateFormat(pictures[PictureSlot::ShortDate], pictures[PictureSlot::Time24]),
      text,
  };
}

int32_t findOrAddNumberFormat(std::vector<NumberFormatRecord>& formats, const NumberFormatRecord& format,
                              int32_t target) {
  if (target < 0) {
    for (size_t i = 0; i < formats.size(); ++i)
      if (formats[i].sameAs(format)) return static_cast<int32_t>(i);
    target = static_cast<int32_t>(formats.size());
  }
  if (target >= MaxNumberFormats) {
    setError(Err::OutOfMemory);
    return -1;
  }
  if (static_cast<size_t>(target) >= formats.size()) formats.resize(static_cast<size_t>(target) + 1, generalFormat());
  formats[static_cast<size_t>(target)] = format;
  return target;
}

bool removeNumberFormat(std::vector<NumberFormatRecord>& formats, GrowArray<StyleRecord>& styles, int32_t index,
                        int32_t lastBuiltIn) {
  if (index <= lastBuiltIn || index < 0 || static_cast<size_t>(index) >= formats.size()) return false;
  formats.erase(formats.begin() + index);
  for (StyleRecord& style : styles) {
    if (style.numberFormat == index)
      style.numberFormat = BuiltInFormat::General;
    else if (style.numberFormat > index)
      --style.numberFormat;
  }
  return true;
}

}  // namespace kelp
