// Find and Replace: the search order, the match and the rewriting of a cell's text.
#include "edit/Find.h"

#include "format/ValueText.h"
#include "formula/ValueOrder.h"
#include "model/CellTaskText.h"
#include "model/Workbook.h"
#include "platform/Text.h"

namespace kelp {

namespace {

// The most of a display text a search looks at.
constexpr size_t SearchedLength = 1000;

std::u16string upper(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = upperCase(c);
  return out;
}

// Where `needle` first occurs in `text` from `from` on; the folding keeps every length,
// so a position in the folded text is one in the text itself.
size_t findOccurrence(std::u16string_view text, std::u16string_view needle, size_t from, bool caseSensitive) {
  if (caseSensitive) return text.find(needle, from);
  return upper(text).find(upper(needle), from);
}

bool hasStoredValue(const Sheet& sheet, int32_t column, int32_t row) {
  return sheet.cellValue(column, row).kind != ValueKind::Empty;
}

// The stored cell after (column, row) in the range, row by row or column by column.
std::optional<FoundCell> nextCell(const Sheet& sheet, const Area& range, bool byColumns, int32_t column, int32_t row) {
  if (!byColumns) {
    for (;;) {
      const int32_t c = sheet.nextValueInRow(row, std::max<int32_t>(column, range.firstColumn - 1));
      if (c != NoColumn && c <= range.lastColumn) return FoundCell{c, row};
      row = sheet.nextRow(std::max<int32_t>(row, range.firstRow - 1));
      if (row == NoRow || row > range.lastRow) return std::nullopt;
      column = range.firstColumn - 1;
    }
  }
  // Only the rows that exist are walked, so a column costs what the sheet holds.
  for (; column <= range.lastColumn; ++column, row = range.firstRow - 1) {
    for (int32_t r = sheet.nextRow(std::max<int32_t>(row, range.firstRow - 1)); r != NoRow && r <= range.lastRow;
         r = sheet.nextRow(r)) {
      if (hasStoredValue(sheet, column, r)) return FoundCell{column, r};
    }
  }
  return std::nullopt;
}

bool before(const FoundCell& a, const FoundCell& b, bool byColumns) {
  if (byColumns) return a.column != b.column ? a.column < b.column : a.row < b.row;
  return a.row != b.row ? a.row < b.row : a.column < b.column;
}

}  // namespace

FindSettings& findSettings() {
  static FindSettings settings;
  return settings;
}

Area searchRange(const Sheet& sheet) {
  const Area selected = sheet.selection.area();
  if (selected.firstRow != selected.lastRow || selected.firstColumn != selected.lastColumn) return selected;
  return Area{0, 0, MaxRows - 1, MaxColumns - 1};
}

std::u16string searchedText(const Workbook& workbook, const Sheet& sheet, int32_t column, int32_t row,
                            bool lookInValues) {
  std::u16string out;
  const CellRecord* cell = sheet.cellPtr(column, row);
  if (!cell || cell->value.kind == ValueKind::Empty) return out;
  if (!lookInValues) {
    editableText(cell->value, out);
    return out;
  }
  out = cellShownText(workbook, sheet, column, row);
  if (out.size() > SearchedLength) out.resize(SearchedLength);
  return out;
}

bool textMatches(std::u16string_view text, const FindSettings& settings) {
  const std::u16string& pattern = settings.findText;
  if (settings.wildcards) {
    return wildcardMatch(settings.entireCells ? pattern : u"*" + pattern + u"*", text, settings.caseSensitive);
  }
  if (settings.entireCells) return settings.caseSensitive ? text == pattern : equalsIgnoreCase(text, pattern);
  return !pattern.empty() && findOccurrence(text, pattern, 0, settings.caseSensitive) != std::u16string_view::npos;
}

std::optional<FoundCell> findCell(const Workbook& workbook, const Sheet& sheet, const Area& range,
                                  const FindSettings& settings, int32_t column, int32_t row, bool includeStart) {
  if (settings.findText.empty()) return std::nullopt;
  auto matches = [&](const FoundCell& at) {
    return hasStoredValue(sheet, at.column, at.row) &&
           textMatches(searchedText(workbook, sheet, at.column, at.row, settings.lookInValues), settings);
  };
  const bool byColumns = settings.byColumns;
  const FoundCell start{column, row};
  const FoundCell beforeRange = byColumns ? FoundCell{range.firstColumn, range.firstRow - 1}
                                          : FoundCell{range.firstColumn - 1, range.firstRow};
  if (!range.contains(column, row)) {
    for (auto at = nextCell(sheet, range, byColumns, beforeRange.column, beforeRange.row); at;
         at = nextCell(sheet, range, byColumns, at->column, at->row)) {
      if (matches(*at)) return at;
    }
    return std::nullopt;
  }
  if (includeStart && matches(start)) return start;
  for (auto at = nextCell(sheet, range, byColumns, column, row); at;
       at = nextCell(sheet, range, byColumns, at->column, at->row)) {
    if (matches(*at)) return at;
  }
  // Once more from the beginning of the range, up to where the search started.
  for (auto at = nextCell(sheet, range, byColumns, beforeRange.column, beforeRange.row); at && before(*at, start, byColumns);
       at = nextCell(sheet, range, byColumns, at->column, at->row)) {
    if (matches(*at)) return at;
  }
  if (!includeStart && matches(start)) return start;
  return std::nullopt;
}

ReplaceResult replaceInText(std::u16string& text, const FindSettings& settings, bool all) {
  if (settings.entireCells) {
    if (settings.replaceText.size() >= MaxReplacedLength) return ReplaceResult::TooLong;
    text = settings.replaceText;
    return ReplaceResult::Replaced;
  }
  const std::u16string& find = settings.findText;
  if (find.empty()) return ReplaceResult::NotFound;
  std::u16string out = text;
  size_t at = findOccurrence(out, find, 0, settings.caseSensitive);
  if (at == std::u16string::npos) return ReplaceResult::NotFound;
  while (at != std::u16string::npos) {
    out.replace(at, find.size(), settings.replaceText);
    if (out.size() >= MaxReplacedLength) return ReplaceResult::TooLong;
    if (!all) break;
    at = findOccurrence(out, find, at + settings.replaceText.size(), settings.caseSensitive);
  }
  text = std::move(out);
  return ReplaceResult::Replaced;
}

}  // namespace kelp
