// A short list shown under a cell, as the validation list of a cell is: the action key
// or OK picks the entry, Back or Cancel closes it.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/Geometry.h"

namespace kelp {

class Desktop;

/// Shows `entries` in a list as wide as `cell` and at most seven entries high, under the
/// cell when there is room there and above it otherwise, starting on `chosen` (-1: the
/// first). True with `chosen` the index picked.
bool pickFromList(Desktop& desktop, const Rect& cell, std::vector<std::u16string> entries, int& chosen);

}  // namespace kelp
