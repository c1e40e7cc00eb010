// Find and Replace without the dialogs: which cells match, in what order they are
// visited, and how a cell's text is rewritten.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/Sheet.h"

namespace kelp {

class Workbook;

/// What the Find and Replace dialogs last used; kept while the program runs.
struct FindSettings {
  std::u16string findText;
  std::u16string replaceText;
  bool byColumns = false;     // column by column, top to bottom; else row by row
  bool lookInValues = true;   // the shown text; else the text editing starts from
  bool caseSensitive = false;
  bool entireCells = false;
  bool wildcards = false;     // "?" and "*" in the find text
  int replaceMode = 0;        // 0 find next, 1 replace, 2 replace all
};
FindSettings& findSettings();

/// Texts of this length or longer are not made by a replacement: typing stops there too.
constexpr size_t MaxReplacedLength = 2048;

struct FoundCell {
  int32_t column = 0;
  int32_t row = 0;
  bool operator==(const FoundCell&) const = default;
};

/// Where a search looks: the selection when it holds more than one cell, else the sheet.
Area searchRange(const Sheet& sheet);

/// The text a cell is searched in: its display text (at most 1000 characters, without a
/// cell task) when looking in values, else its editable text. Empty for an empty cell.
std::u16string searchedText(const Workbook& workbook, const Sheet& sheet, int32_t column, int32_t row,
                            bool lookInValues);

/// Whether `text` matches the find text under the settings.
bool textMatches(std::u16string_view text, const FindSettings& settings);

/// The first matching stored cell of `range` from (`column`, `row`) on, in the settings'
/// order: the start itself first when `includeStart`, else last, after the search has
/// run to the end of the range and once more from its beginning. None when no cell matches.
std::optional<FoundCell> findCell(const Workbook& workbook, const Sheet& sheet, const Area& range,
                                  const FindSettings& settings, int32_t column, int32_t row, bool includeStart);

enum class ReplaceResult { Replaced, NotFound, TooLong };

/// Rewrites `text` as Replace does: with entire cells it becomes the replacement;
/// otherwise the first occurrence of the find text is replaced, every one with `all`
/// (the search going on after each replacement). A result of MaxReplacedLength characters
/// or more is not made: TooLong, and `text` stays as it was.
ReplaceResult replaceInText(std::u16string& text, const FindSettings& settings, bool all);

}  // namespace kelp
