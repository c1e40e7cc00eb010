// The formula bar's text for a cell.
#include "shell/FormulaBar.h"

#include "format/ValueText.h"
#include "model/Sheet.h"
#include "platform/StringTable.h"
#include "tasks/Tasks.h"

namespace kelp {

namespace {
constexpr int TaskLabelString = 2588;
}

std::u16string formulaBarContents(const Sheet& sheet, int32_t col, int32_t row) {
  const CellRecord* cell = sheet.cellPtr(col, row);
  std::u16string text;
  if (!cell) return text;
  const CellTaskParts task = cellTask(sheet, col, row);
  if (task.hasTask) {
    text = loadString(TaskLabelString);
    text += u' ';
    text += task.definition;
    return text;
  }
  (void)editableText(cell->value, text);  // a formula too long to show shows why
  return text;
}

}  // namespace kelp
