// The formula bar's text while no cell is edited: the active cell's editable text, or
// its task.
#pragma once

#include <cstdint>
#include <string>

namespace kelp {

class Sheet;

/// What the bar shows for a cell: a formula as typed ("=A1*2"), a date as it is edited,
/// other values as shown; a cell task as "[Task]", a blank and its definition.
std::u16string formulaBarContents(const Sheet& sheet, int32_t col, int32_t row);

}  // namespace kelp
