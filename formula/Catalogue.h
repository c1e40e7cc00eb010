// The function catalogue: one row per built-in function. A row's index is the function's
// identity in compiled formulas and files, so the order is frozen. The rows are data of
// the formula language; the layers above attach implementations with bindFunctions.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace kelp {

/// Pops its arguments from the evaluator's stack (count in the evaluator's argCount)
/// and pushes exactly one result.
using FunctionImpl = void (*)();

struct FunctionRow {
  FunctionImpl implementation;  // null: not bound, the evaluator pushes !!Name
  uint8_t minArgs;
  uint8_t maxArgs;
  const char16_t* name;  // as written in formula text; null on internal rows
  uint16_t hintId;       // string id of the argument hint, 0 for none
  uint16_t descriptionId;
  uint16_t category;     // 2-10
};

namespace FunctionIndex {
constexpr int32_t Count = 332;
constexpr int32_t FirstInternal = 207;  // 207-249: command functions, never found by name
constexpr int32_t FirstTaskOnly = 250;  // 250-301: only in task text
constexpr int32_t FirstLateCommand = 302;  // 302-303: more command functions, never found by name
constexpr int32_t FirstLateWorksheet = 304;  // 304-331: more worksheet functions
constexpr int32_t Choose = 304;
constexpr int32_t IfError = 327;
constexpr int32_t If = 37;
constexpr int32_t Rand = 82;
constexpr int32_t Now = 98;
constexpr int32_t Today = 99;
constexpr int32_t Indirect = 128;
constexpr int32_t Offset = 135;
constexpr int32_t True = 131;
constexpr int32_t False = 132;
}  // namespace FunctionIndex

/// Whether a row is a command or task-only function, which only task text and command
/// programs may call; every other row is a worksheet function.
constexpr bool isCommandOrTaskRow(int32_t index) {
  return index >= FunctionIndex::FirstInternal && index < FunctionIndex::FirstLateWorksheet;
}
/// Whether a formula stored in a cell or a file may call the row.
constexpr bool isWorksheetRow(int32_t index) {
  return index >= 0 && index < FunctionIndex::Count && !isCommandOrTaskRow(index);
}

const FunctionRow& functionRow(int32_t index);

struct FunctionBinding {
  int32_t index;
  FunctionImpl implementation;
};
/// Attaches implementations to their rows. Binding a row again to the same
/// implementation is harmless; to another one is a programming error.
void bindFunctions(std::span<const FunctionBinding> bindings);
/// The first row whose name equals `name` without regard to case, or -1.
int32_t findFunction(std::u16string_view name);

}  // namespace kelp
