// Tests of the function catalogue, the Excel function table and the strings they name.
#include "formula/Catalogue.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "formula/ExcelFunctions.h"
#include "functions/Engine.h"
#include "platform/StringTable.h"
#include "platform/Text.h"

namespace kelp {
namespace {

std::u16string lower(std::u16string_view s) {
  std::u16string out;
  for (char16_t c : s) out.push_back(c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c);
  return out;
}

// The Insert Function dialog shows these strings; a row naming a missing string shows
// "Error no." texts instead.
TEST(CatalogueTest, EveryNamedRowHasItsStrings) {
  std::set<std::u16string> hintTexts;
  std::set<uint16_t> hintIds;
  for (int32_t i = 0; i < FunctionIndex::Count; ++i) {
    const FunctionRow& row = functionRow(i);
    EXPECT_LE(row.minArgs, row.maxArgs) << i;
    if (!row.name) continue;
    EXPECT_FALSE(loadString(row.descriptionId).empty()) << i;
    EXPECT_FALSE(loadString(4040 + row.category).empty()) << i;
    if (!row.hintId) continue;
    EXPECT_FALSE(loadString(row.hintId).empty()) << i;
    hintIds.insert(row.hintId);
    hintTexts.insert(std::u16string(loadString(row.hintId)));
  }
  // Rows with the same hint share one string.
  EXPECT_EQ(hintIds.size(), hintTexts.size());
}

// A named worksheet row without an implementation would give !!Name in any formula.
TEST(CatalogueTest, EveryNamedWorksheetRowComputes) {
  startEngine();
  for (int32_t i = 0; i < FunctionIndex::Count; ++i) {
    const FunctionRow& row = functionRow(i);
    if (!row.name || isCommandOrTaskRow(i)) continue;
    EXPECT_NE(row.implementation, nullptr) << utf16ToUtf8(row.name) << " (row " << i << ")";
  }
}

TEST(CatalogueTest, NamesAreFoundWithoutRegardToCase) {
  for (int32_t i = 0; i < FunctionIndex::Count; ++i) {
    const char16_t* name = functionRow(i).name;
    if (!name) continue;
    EXPECT_EQ(findFunction(name), i) << i;
    EXPECT_EQ(findFunction(lower(name)), i) << i;
  }
  // Task-only rows are found (the compiler refuses them in formulas); command rows never are.
  EXPECT_GE(findFunction(u"msgbox"), FunctionIndex::FirstTaskOnly);
  EXPECT_EQ(findFunction(u"NoSuchFunction"), -1);
  EXPECT_EQ(findFunction(u""), -1);
  EXPECT_EQ(findFunction(u"Su"), -1);
}

TEST(ExcelFunctionsTest, RowsMapBackToTheCatalogue) {
  std::set<int32_t> seen;
  for (int32_t n = 0; n < ExcelFunctionCount; ++n) {
    const ExcelFunctionRow& row = excelFunctionRow(n);
    if (row.catalogueIndex == ExcelUnsupported) {
      EXPECT_EQ(row.minArgs, 0) << n;
      EXPECT_EQ(row.maxArgs, 0) << n;
      continue;
    }
    ASSERT_TRUE(isWorksheetRow(row.catalogueIndex)) << n;
    EXPECT_TRUE(seen.insert(row.catalogueIndex).second) << "two Excel rows for " << row.catalogueIndex;
    const FunctionRow& cat = functionRow(row.catalogueIndex);
    EXPECT_EQ(std::string(row.name), utf16ToUtf8(cat.name)) << n;
    EXPECT_EQ(excelFunctionNumber(row.catalogueIndex), n);
    EXPECT_EQ(row.maxArgs, cat.maxArgs) << n;
    // Excel requires two arrays for Sumproduct; Kelp accepts one.
    if (std::u16string_view(cat.name) != u"Sumproduct") {
      EXPECT_EQ(row.minArgs, cat.minArgs) << n;
    }
    for (uint8_t c : row.argClass) EXPECT_LE(c, ExcelArgClass::Array);
  }
  // Every worksheet function travels to and from Excel: the first block and the Excel 97
  // built-ins among the later rows, each under its own function number.
  EXPECT_EQ(seen.size(), static_cast<size_t>(FunctionIndex::FirstInternal) + 13);
  EXPECT_EQ(excelFunctionNumber(FunctionIndex::Choose), 100);
  EXPECT_EQ(excelFunctionRow(ExcelFunctionCount + 32).catalogueIndex, ExcelUnsupported);
  EXPECT_EQ(excelFunctionNumber(findFunction(u"MsgBox")), -1);  // task-only functions have no Excel form
  EXPECT_EQ(excelFunctionNumber(-4), -1);
}

}  // namespace
}  // namespace kelp
