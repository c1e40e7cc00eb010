// The string table: the program's numbered user-visible texts.
#pragma once

#include <string_view>

namespace kelp {

namespace StringId {
constexpr int ErrorBase = 2000;  // + error code
constexpr int SheetPrefix = 2605;
constexpr int HiddenSuffix = 4200;
constexpr int InternalSuffix = 4201;
}  // namespace StringId

/// The text of string `id`, or an empty view when the table has none.
std::u16string_view loadString(int id);

}  // namespace kelp
