// The Excel function table and its reverse lookup.
#include "formula/ExcelFunctions.h"

#include "formula/Catalogue.h"

namespace kelp {

namespace {

constexpr ExcelFunctionRow kRows[] = {
#define KELP_EXCEL_FUNCTION(number, index, minArgs, maxArgs, class1, class2, class3, name) \
  {index, minArgs, maxArgs, {class1, class2, class3}, name},
#include "formula/ExcelFunctionData.inc"
#undef KELP_EXCEL_FUNCTION
};
static_assert(sizeof kRows / sizeof kRows[0] == ExcelFunctionCount, "the Excel table has 368 rows");

constexpr ExcelFunctionRow kUnsupported = {ExcelUnsupported, 0, 0, {0, 0, 0}, ""};

// Catalogue index -> Excel number, built once from the table.
struct ReverseTable {
  int16_t numbers[FunctionIndex::Count];
  ReverseTable() {
    for (int16_t& n : numbers) n = -1;
    for (int32_t i = 0; i < ExcelFunctionCount; ++i)
      if (kRows[i].catalogueIndex < FunctionIndex::Count) numbers[kRows[i].catalogueIndex] = static_cast<int16_t>(i);
  }
};

}  // namespace

const ExcelFunctionRow& excelFunctionRow(int32_t number) {
  if (number < 0 || number >= ExcelFunctionCount) return kUnsupported;
  return kRows[number];
}

int32_t excelFunctionNumber(int32_t catalogueIndex) {
  static const ReverseTable table;
  if (catalogueIndex < 0 || catalogueIndex >= FunctionIndex::Count) return -1;
  return table.numbers[catalogueIndex];
}

}  // namespace kelp
