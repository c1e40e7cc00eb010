// Tests of the function catalogue and the Excel function table.
#include "formula/Catalogue.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "formula/ExcelFunctions.h"
#include "platform/StringTable.h"
#include "platform/Text.h"

namespace kelp {
namespace {

std::u16string lower(std::u16string_view s) {
  std::u16string out;
  for (char16_t c : s) out.push_back(c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c);
  return out;
}

TEST(CatalogueTest, RowsFallIntoTheirBlocks) {
  int named = 0;
  for (int32_t i = 0; i < FunctionIndex::Count; ++i) {
    const FunctionRow& row = functionRow(i);
    EXPECT_LE(row.minArgs, row.maxArgs) << i;
    if (i >= FunctionIndex::FirstInternal && i < FunctionIndex::FirstTaskOnly) {
      EXPECT_EQ(row.name, nullptr) << i;
      EXPECT_EQ(row.category, 10) << i;
      continue;
    }
    ASSERT_NE(row.name, nullptr) << i;
    ++named;
    EXPECT_GE(row.category, 2) << i;
    EXPECT_LE(row.category, 10) << i;
    EXPECT_EQ(row.category == 10, i >= FunctionIndex::FirstTaskOnly) << i;
    EXPECT_FALSE(loadString(row.descriptionId).empty()) << i;
    if (row.hintId) {
      EXPECT_FALSE(loadString(row.hintId).empty()) << i;
    }
  }
  EXPECT_EQ(named, 207 + 52);
  // Spot checks against the reference table.
  EXPECT_EQ(std::u16string(functionRow(3).name), u"Sum");
  EXPECT_EQ(functionRow(3).maxArgs, 30);
  EXPECT_EQ(std::u16string(functionRow(100).name), u"VLookup");
  EXPECT_EQ(functionRow(37).minArgs, 2);
  EXPECT_EQ(functionRow(37).maxArgs, 3);
  EXPECT_EQ(functionRow(244).minArgs, 12);
  EXPECT_EQ(functionRow(244).maxArgs, 255);
  EXPECT_EQ(std::u16string(functionRow(301).name), u"WorkbookName");
  EXPECT_EQ(loadString(functionRow(3).hintId), u"number, number, ...");
  EXPECT_EQ(functionRow(3).hintId, 3001);
  EXPECT_EQ(functionRow(14).hintId, 0);  // Pi takes nothing
  EXPECT_EQ(loadString(functionRow(14).descriptionId), u"Returns the value of  Pi (3.14).");
  EXPECT_EQ(loadString(4040 + functionRow(0).category), u"Math & Trig");
  EXPECT_EQ(loadString(4050), u"Task");
}

TEST(CatalogueTest, OneStringPerDistinctHint) {
  std::set<std::u16string> texts;
  std::set<uint16_t> ids;
  for (int32_t i = 0; i < FunctionIndex::Count; ++i) {
    uint16_t id = functionRow(i).hintId;
    if (!id) continue;
    ids.insert(id);
    texts.insert(std::u16string(loadString(id)));
  }
  EXPECT_EQ(ids.size(), texts.size());
}

TEST(CatalogueTest, NamesAreFoundWithoutRegardToCase) {
  for (int32_t i = 0; i < FunctionIndex::Count; ++i) {
    const char16_t* name = functionRow(i).name;
    if (!name) continue;
    EXPECT_EQ(findFunction(name), i) << i;
    EXPECT_EQ(findFunction(lower(name)), i) << i;
  }
  EXPECT_EQ(findFunction(u"VLOOKUP"), 100);
  EXPECT_EQ(findFunction(u"msgbox"), 253);  // task-only rows are found; the compiler refuses them
  EXPECT_EQ(findFunction(u"NoSuchFunction"), -1);
  EXPECT_EQ(findFunction(u""), -1);
  EXPECT_EQ(findFunction(u"Su"), -1);
}

TEST(ExcelFunctionsTest, RowsMapBackToTheCatalogue) {
  int supported = 0;
  std::set<int32_t> seen;
  for (int32_t n = 0; n < ExcelFunctionCount; ++n) {
    const ExcelFunctionRow& row = excelFunctionRow(n);
    if (row.catalogueIndex == ExcelUnsupported) {
      EXPECT_EQ(row.minArgs, 0) << n;
      EXPECT_EQ(row.maxArgs, 0) << n;
      continue;
    }
    ++supported;
    ASSERT_LT(row.catalogueIndex, FunctionIndex::FirstInternal) << n;
    EXPECT_TRUE(seen.insert(row.catalogueIndex).second) << "two Excel rows for " << row.catalogueIndex;
    const FunctionRow& cat = functionRow(row.catalogueIndex);
    EXPECT_EQ(std::string(row.name), utf16ToUtf8(cat.name)) << n;
    EXPECT_EQ(excelFunctionNumber(row.catalogueIndex), n);
    EXPECT_EQ(row.maxArgs, cat.maxArgs) << n;
    if (row.catalogueIndex == 142) {
      // Excel requires two arrays for Sumproduct; Kelp accepts one.
      EXPECT_EQ(row.minArgs, 2);
      EXPECT_EQ(cat.minArgs, 1);
    } else {
      EXPECT_EQ(row.minArgs, cat.minArgs) << n;
    }
    for (uint8_t c : row.argClass) EXPECT_LE(c, ExcelArgClass::Array);
  }
  EXPECT_EQ(supported, 207);
  // Spot checks of classes and names.
  EXPECT_EQ(excelFunctionRow(1).catalogueIndex, FunctionIndex::If);
  EXPECT_EQ(excelArgClass(excelFunctionRow(1), 0), ExcelArgClass::Value);
  EXPECT_EQ(excelArgClass(excelFunctionRow(1), 5), ExcelArgClass::Reference);
  EXPECT_EQ(excelArgClass(excelFunctionRow(228), 1), ExcelArgClass::Array);
  EXPECT_EQ(excelArgClass(excelFunctionRow(303), 2), ExcelArgClass::Value);
  EXPECT_EQ(std::string(excelFunctionRow(13).name), "Dollar");
  EXPECT_EQ(std::string(excelFunctionRow(55).name), "");
  EXPECT_EQ(excelFunctionRow(400).catalogueIndex, ExcelUnsupported);
  EXPECT_EQ(excelFunctionNumber(253), -1);  // task-only functions have no Excel form
  EXPECT_EQ(excelFunctionNumber(-4), -1);
}

}  // namespace
}  // namespace kelp
