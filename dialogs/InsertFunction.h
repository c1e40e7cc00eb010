// The Insert Function dialog: the catalogue's functions by category, with the recently
// used ones first in mind.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelp {

class Desktop;
class RecentFunctions;

/// The functions a category lists, sorted by name: list entry 0 "All", 1 "Most Recently
/// Used" (or "Task" for a task editor), 2 to 9 the catalogue's categories.
std::vector<int32_t> functionsOf(int category, const RecentFunctions& recent, bool forTask);

/// The manual's topic for a category of the list.
std::u16string_view functionHelpTopic(int category, bool forTask);

/// Shows Insert Function; on OK `chosen` is the function's catalogue index and it moves to
/// the front of `recent`. `forTask` offers the task functions in place of the recently used.
bool askFunction(Desktop& desktop, RecentFunctions& recent, bool forTask, int32_t& chosen);

/// What inserting `function` puts in place of the editor's selection: its name and "()",
/// with "=" in front when `atStart`; `caret` is where the caret goes in that text.
std::u16string functionInsertion(int32_t function, bool atStart, size_t& caret);

}  // namespace kelp
