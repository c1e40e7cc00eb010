// Number format records: the workbook's list of structured formats that styles index.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/GrowArray.h"
#include "model/Style.h"

namespace kelp {

enum class FormatKind : uint32_t { Text = 3, Number = 4, DateTime = 13 };

struct NumberFormatRecord {
  FormatKind kind = FormatKind::Number;
  bool general = false;    // number kind: General, the other number fields ignored
  uint8_t decimals = 0;    // 0 to 9
  bool percent = false;    // some affix holds "%": the value is shown times 100
  bool thousands = false;  // group integer digits by three
  std::u16string positivePrefix, positiveSuffix, negativePrefix, negativeSuffix;
  std::u16string datePicture, timePicture;  // date kind
  // The colours of Excel codes ("[Red]", "[Color10]") by Excel's colour number, 1 to 56
  // (1 black ... 8 cyan, the workbook palette's entries), 0 for none: one for positive
  // numbers and zero, one for negatives.
  uint8_t positiveColor = 0, negativeColor = 0;

  /// Equality as the list defines it: only the fields that matter for the kind.
  bool sameAs(const NumberFormatRecord& other) const;
  /// Sets `percent` from the affixes.
  void updatePercent();
};

namespace BuiltInFormat {
constexpr int General = 0;
constexpr int Fixed0 = 1;
constexpr int Fixed2 = 2;
constexpr int Currency0 = 3;
constexpr int Currency2 = 4;
constexpr int Percent2 = 5;
constexpr int ShortDate = 6;
constexpr int DayMonthYear = 7;
constexpr int DayMonth = 8;
constexpr int MonthYear = 9;
constexpr int Time12 = 10;
constexpr int Time24 = 11;
constexpr int Time12Seconds = 12;
constexpr int Time24Seconds = 13;
constexpr int DateTime = 14;
constexpr int Text = 15;
constexpr int Last = 15;
}  // namespace BuiltInFormat

NumberFormatRecord generalFormat();
NumberFormatRecord fixedFormat(int decimals, bool thousands);
NumberFormatRecord dateFormat(std::u16string datePicture, std::u16string timePicture);

/// The sixteen built-in formats made from the locale in force.
std::vector<NumberFormatRecord> builtInFormats();
/// The two currency formats (built-ins 3 and 4) under the locale in force.
NumberFormatRecord currencyFormat(int decimals);

/// The most formats a list holds: a style's format index is 16 bits.
constexpr int32_t MaxNumberFormats = 0xFFFF;

/// Without a target (-1), the index of the first record equal to `format`, or of the copy
/// appended. With a target, the copy replaces the record there, the list growing with
/// General formats to reach it. -1 and error 15 when the list would pass MaxNumberFormats.
int32_t findOrAddNumberFormat(std::vector<NumberFormatRecord>& formats, const NumberFormatRecord& format,
                              int32_t target = -1);
/// Removes user format `index` (above `lastBuiltIn`); styles past it move one lower and
/// styles that used it fall back to General. False for built-in or missing formats.
bool removeNumberFormat(std::vector<NumberFormatRecord>& formats, GrowArray<StyleRecord>& styles, int32_t index,
                        int32_t lastBuiltIn = BuiltInFormat::Last);

}  // namespace kelp
