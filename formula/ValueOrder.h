// One order over cell values of every kind, the wildcard text match, and the two cell
// operations sorting rests on. Lookups, criteria, sort and AutoFilter all use these.
#pragma once

#include <cstdint>
#include <string_view>

#include "model/CellValue.h"

namespace kelp {

class Sheet;

/// Negative, zero or positive as `a` sorts before, with or after `b`; either may be
/// null (absent), and absent sorts after everything. Across kinds the order is number
/// < date/time < text < logical < error < empty, so 5 and the date 5 differ. With
/// `wildcard` two texts compare 0 when `b`, the pattern, matches the whole of `a`, else 1.
int compareValues(const CellValue* a, const CellValue* b, bool caseSensitive, bool wildcard);

/// True when the whole text matches the pattern: "*" is any run of characters, none
/// included; "?" is one character; "~" before "*", "?" or "~" makes that character
/// literal. Without `caseSensitive` letters match either case.
bool wildcardMatch(std::u16string_view pattern, std::u16string_view text, bool caseSensitive);
/// True when the pattern holds a "*" or "?" that is not escaped.
bool hasWildcards(std::u16string_view pattern);

/// The sort comparison of two cells' effective values, in ascending terms: the sort
/// turns the result round for a descending order. Blank and absent cells go last
/// whichever the direction (the result for them already allows for the turn); texts
/// compare as shown, without their cell tasks.
int compareCells(const Sheet& sheet, int32_t colA, int32_t rowA, int32_t colB, int32_t rowB, bool ascending,
                 bool caseSensitive = false);
/// Exchanges two cell records; a moved formula takes its new cell as its own, and its
/// relative references move with it.
void swapCells(Sheet& sheet, int32_t colA, int32_t rowA, int32_t colB, int32_t rowB);

}  // namespace kelp
