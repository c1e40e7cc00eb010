// Number Format and Date & Time Format: a new format built from its parts and found or
// added in the workbook's list.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "model/NumberFormat.h"

namespace kelp {

class Desktop;
class Workbook;

/// What the four affix lists offer under the locale in force, before the parts of the
/// format the dialog opens with.
struct AffixOffers {
  std::vector<std::u16string> positivePrefix, positiveSuffix, negativePrefix, negativeSuffix;
};
AffixOffers affixOffers();

/// A fixed number format from its parts; the percent flag follows from the affixes.
NumberFormatRecord buildNumberFormat(std::u16string positivePrefix, std::u16string positiveSuffix,
                                     std::u16string negativePrefix, std::u16string negativeSuffix, int decimals,
                                     bool thousands);

/// A date picture from three parts (d, dd, ddd, dddd, M, MM, MMM, MMMM, yy, yyyy or empty)
/// and the two separators between them; false when a part is no date code, a separator
/// holds a picture letter, no part is given or one field (day, weekday, month, year)
/// comes twice.
bool buildDatePicture(const std::array<std::u16string, 5>& parts, std::u16string& picture);
/// Whether `picture` is a time picture: h, hh, H, HH, m, mm, s, ss, t, tt and separators.
bool validTimePicture(std::u16string_view picture);

/// The dialogs, opened with `start` (the format selected in Format Cells). On OK the new
/// format's index in the workbook's list, else -1.
int32_t runNumberFormatDialog(Desktop& desktop, Workbook& workbook, const NumberFormatRecord& start);
int32_t runDateFormatDialog(Desktop& desktop, Workbook& workbook, const NumberFormatRecord& start);

}  // namespace kelp
