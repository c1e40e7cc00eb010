// The stored form of a cell task: the cell's text, an optional icon and the task text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelp {

inline constexpr std::u16string_view TaskMarker = u"#Task:";
inline constexpr std::u16string_view IconMarker = u"#Icon:";

/// The parts of a stored cell text; views into the text split.
struct CellTaskParts {
  std::u16string_view display;     // what the cell shows and formulas see
  std::u16string_view definition;  // the task text, empty when there is no task
  int32_t icon = 0;                // 0: none; only one digit is read back
  bool hasTask = false;
};

/// Splits "text#Task:definition" or "text#Icon:n#Task:definition". "#Icon:" counts only
/// before the first "#Task:", so a plain text or a task text may hold it unharmed.
CellTaskParts splitCellTaskText(std::u16string_view stored);

/// The text a cell shows: `stored` without its task, or `stored` itself when it has none.
inline std::u16string_view cellTaskDisplay(std::u16string_view stored) { return splitCellTaskText(stored).display; }

inline bool hasCellTask(std::u16string_view stored) { return stored.find(TaskMarker) != std::u16string_view::npos; }

/// The stored form of a cell task; icons 1 to 98 are written as given, 0 (or anything
/// outside) writes no icon. Only icons 1 to 9 read back, as one digit.
std::u16string makeCellTaskText(std::u16string_view text, std::u16string_view definition, int32_t icon);

}  // namespace kelp
