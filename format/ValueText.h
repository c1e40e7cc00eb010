// Display text: every value kind as text under a number format, fitted to a width.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/CellValue.h"
#include "model/NumberFormat.h"

namespace kelp {

class Workbook;
class Sheet;

/// Widths callers pass: labels and exports, wide labels, and no limit at all.
constexpr int32_t LabelWidth = 100;
constexpr int32_t WideLabelWidth = 1000;
constexpr int32_t NoWidthLimit = 99999;

/// How wide a text is, in the caller's unit: pixels for the grid, characters for the
/// command line. `context` is the caller's own (a device context, a font).
struct TextMeasure {
  int32_t (*width)(std::u16string_view text, const void* context);
  const void* context;
};
/// Measures in UTF-16 characters.
int32_t characterWidth(std::u16string_view text, const void* context);
inline constexpr TextMeasure CharacterMeasure{characterWidth, nullptr};

/// The number of "#" characters that stand for a value too wide for its room.
constexpr int OverflowMarks = 100;

/// The display text of `value` (a formula shows its cached result) under `format`. With a
/// measure and a width below NoWidthLimit, numbers and errors are fitted to the width.
/// True when the text shows the value in full, false when it was shortened or replaced
/// by the overflow marks.
bool displayText(const CellValue& value, const NumberFormatRecord& format, int32_t width,
                 const TextMeasure* measure, std::u16string& out);
/// The same with the format taken from a workbook's list; an index past its end is General.
bool displayText(const CellValue& value, const std::vector<NumberFormatRecord>& formats, uint32_t formatIndex,
                 int32_t width, const TextMeasure* measure, std::u16string& out);

/// What a cell of `sheet` shows, in full: its text without a cell task's markup, or its
/// value (a formula's result) under the cell's number format; empty for no cell.
std::u16string cellShownText(const Workbook& workbook, const Sheet& sheet, int32_t column, int32_t row);

/// The colour number (Excel's, 1 to 56; 0 none) a number or date number is drawn in under
/// `format`: its negative colour below zero, else its positive one.
uint8_t displayColor(const CellValue& value, const NumberFormatRecord& format);

/// A number under General: fixed notation of about 15 significant digits, or the
/// exponent form ("1.2345678901e10") past 1e10 and below 1e-4.
void generalNumberText(double number, std::u16string& out);
/// A number under a fixed format: rounded, grouped and given its affixes.
void fixedNumberText(double number, const NumberFormatRecord& format, std::u16string& out);
/// A date number under General: the short date, the "H:mm:ss" time, or both;
/// "!!ErrDateTime" out of range.
void generalDateText(double serial, std::u16string& out);
/// A date number as it is typed to be read back: General's form, with a four-digit year
/// where a two-digit one would read as another century.
void editableDateText(double serial, std::u16string& out);
/// The text editing a cell starts from: a formula's text, a date number as
/// editableDateText writes it, anything else as valueToText shows it. False, with the
/// message of error 22 in `out` and nothing reported, when a formula is too long to show.
bool editableText(const CellValue& value, std::u16string& out);
/// A date number under a date/time format; false with `out` empty out of range.
bool datePictureText(double serial, const NumberFormatRecord& format, std::u16string& out);

/// Makes valueToText show numbers and date numbers as General does.
void installNumberDisplay();

}  // namespace kelp
