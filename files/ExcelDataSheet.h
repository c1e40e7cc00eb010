// The hidden "#KelpData#" sheet through which workbook tasks travel in Excel and Pocket
// Excel files: its text cells made from the tasks, and the tasks restored from them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelp {

class Workbook;

namespace excel {

class CutList;

constexpr std::u16string_view KelpDataSheetName = u"#KelpData#";

/// One text cell of the hidden data sheet.
struct DataSheetCell {
  uint16_t row, column;
  std::u16string text;
};

/// The cells that carry the workbook's tasks that are not global: none when there are no
/// such tasks. Trigger cells name their sheet as `sheetNames` (one per sheet) say.
std::vector<DataSheetCell> taskDataCells(const Workbook& book, const std::vector<std::u16string>& sheetNames,
                                         CutList& cuts);

/// Adds the tasks the cells describe (in any order) to the workbook's tasks.
void restoreDataSheetTasks(Workbook& book, std::vector<DataSheetCell>& cells);

}  // namespace excel
}  // namespace kelp
