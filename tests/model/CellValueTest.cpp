// Cell values: making them, ownership through the pools, equality and display text.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <limits>
#include <vector>

#include "model/CellValue.h"
#include "model/FormulaTable.h"
#include "model/HandlePool.h"
#include "model/ModelHeap.h"
#include "platform/ErrorState.h"
#include "platform/Locale.h"

namespace kelp {
namespace {

std::u16string shown(const CellValue& value) {
  std::u16string out = u"untouched";
  valueToText(value, out);
  return out;
}

uint32_t newTokens() {
  const uint8_t tokens[] = {5, 0, 0, 0, 4, 7, 0, 0};  // length 5: SmallInteger 7, End
  return formulaPool().add(tokens, sizeof tokens, 1);
}

TEST(CellValue, FactoriesPlaceKindAndPayload) {
  // Numbers are written as an 8-byte and a 4-byte store; the pieces must line up.
  for (double d : {2.5, -0.0, 1e308, -3.25e-300}) {
    CellValue v = numberValue(d);
    EXPECT_EQ(v.kind, ValueKind::Number);
    EXPECT_EQ(v.book | v.firstSheet | v.lastSheet, 0);
    EXPECT_EQ(std::bit_cast<uint64_t>(v.number()), std::bit_cast<uint64_t>(d));
    EXPECT_EQ(dateTimeValue(d).kind, ValueKind::DateTime);
    EXPECT_EQ(dateTimeValue(d).number(), d);
  }
  // The number read back in the two pieces is the same number, bit for bit.
  for (double d : {2.5, -0.0, 1e308, -3.25e-300, std::numeric_limits<double>::infinity()}) {
    CellValue v = dateTimeValue(d);
    EXPECT_EQ(std::bit_cast<uint64_t>(numberOfFreshValue(v)), std::bit_cast<uint64_t>(d));
  }
  // References and word values, byte for byte as the records lay them out.
  auto bytesOf = [](const CellValue& v) {
    std::array<uint8_t, 12> b;
    std::memcpy(b.data(), &v, 12);
    return b;
  };
  EXPECT_EQ(bytesOf(areaRefValue(0x0102, 0x0304, 0x0506, 0x0708)),
            (std::array<uint8_t, 12>{7, 0, 0, 0, 0x02, 0x01, 0x04, 0x03, 0x06, 0x05, 0x08, 0x07}));
  EXPECT_EQ(bytesOf(cellRefValue(0xFFFE, 0x00FF)),
            (std::array<uint8_t, 12>{6, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0x00, 0, 0, 0, 0}));
  EXPECT_EQ(bytesOf(errorValue(CellError::NA)), (std::array<uint8_t, 12>{2, 0, 0, 0, 42, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(bytesOf(integerValue(-2)),
            (std::array<uint8_t, 12>{11, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
  EXPECT_EQ(bytesOf(formulaValue(0x0203, 0x04050607)),
            (std::array<uint8_t, 12>{5, 0, 0, 0, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0, 0}));
}

TEST(CellValue, DisplayTextOfSimpleKinds) {
  EXPECT_EQ(shown(emptyValue()), u"");
  EXPECT_EQ(shown(logicalValue(true)), u"true");
  EXPECT_EQ(shown(errorValue(CellError::Div0)), u"!!Div0");
  EXPECT_EQ(shown(errorValue(CellError::Null)), u"!!Null");
  EXPECT_EQ(shown(errorValue(CellError{3})), u"Err3");
  EXPECT_EQ(shown(integerValue(-42)), u"-42");
  // References are never shown; the output stays as it was.
  EXPECT_EQ(shown(cellRefValue(0, 0)), u"untouched");
  CellValue text;
  makeText(text, u"Hello \u00e9");
  EXPECT_EQ(shown(text), u"Hello \u00e9");
  releaseValue(text);
}

TEST(CellValue, EqualityComparesHandlesNotCharacters) {
  CellValue a, b;
  makeText(a, u"same");
  makeText(b, u"same");
  EXPECT_FALSE(valuesEqual(a, b));
  CellValue c;
  copyValue(a, c);
  EXPECT_TRUE(valuesEqual(a, c));
  EXPECT_TRUE(valuesEqual(numberValue(1.5), numberValue(1.5)));
  EXPECT_FALSE(valuesEqual(numberValue(1.5), dateTimeValue(1.5)));
  EXPECT_TRUE(valuesEqual(emptyValue(), emptyValue()));
  EXPECT_FALSE(valuesEqual(logicalValue(true), logicalValue(false)));
  releaseValue(a);
  releaseValue(b);
  releaseValue(c);
}

TEST(CellValue, EmptyTextIsNeverStored) {
  uint32_t before = textPool().liveCount();
  CellValue v;
  makeText(v, u"");
  EXPECT_EQ(v.kind, ValueKind::Text);
  EXPECT_EQ(v.u32(), NoHandle);
  EXPECT_EQ(textOf(v), u"");
  EXPECT_EQ(textPool().liveCount(), before);
  releaseValue(v);
  EXPECT_EQ(v.kind, ValueKind::Empty);
}

TEST(CellValue, LastCopyReleasedFreesTheEntryAndTheSlotIsReused) {
  CellValue a, b;
  makeText(a, u"shared");
  uint32_t handle = a.u32();
  copyValue(a, b);
  EXPECT_EQ(textPool().refCount(handle), 2u);
  releaseValue(a);
  EXPECT_TRUE(textPool().isLive(handle));
  releaseValue(b);
  EXPECT_FALSE(textPool().isLive(handle));
  CellValue c;
  makeText(c, u"next");
  EXPECT_EQ(c.u32(), handle);
  releaseValue(c);
}

TEST(CellValue, FormulaCopiesShareTokensAndCopyTheResult) {
  uint32_t tokens = newTokens();
  CellValue source = newFormulaValue(tokens, CellPosition{3, 2, 1});
  ASSERT_EQ(source.kind, ValueKind::Formula);
  EXPECT_EQ(formulaTableNumber(source), DetachedTable);
  makeText(formulaResult(source), u"seven");
  CellValue copy;
  copyFormulaValue(source, copy);
  ASSERT_EQ(copy.kind, ValueKind::Formula);
  EXPECT_NE(formulaId(copy), formulaId(source));
  EXPECT_EQ(formulaTokens(copy), tokens);
  EXPECT_EQ(formulaPosition(copy).row, 2);
  EXPECT_EQ(formulaPosition(copy).column, 3);
  EXPECT_EQ(formulaPosition(copy).sheet, 1);
  EXPECT_EQ(formulaPool().refCount(tokens), 2u);
  EXPECT_EQ(textOf(effectiveValue(copy)), u"seven");
  EXPECT_EQ(shown(copy), u"=") << "formulas show as '=' until formula text is installed";

  // Each holds its own references: releasing one leaves the other whole.
  releaseValue(copy);
  EXPECT_EQ(formulaPool().refCount(tokens), 1u);
  EXPECT_EQ(textOf(effectiveValue(source)), u"seven");
  releaseValue(source);
  EXPECT_FALSE(formulaPool().isLive(tokens));
}

TEST(CellValue, FormulaCopyOutOfMemoryLeavesDestinationEmpty) {
  clearError();
  uint32_t tokens = newTokens();
  CellValue source = newFormulaValue(tokens, CellPosition{0, 0, 0});
  ASSERT_EQ(source.kind, ValueKind::Formula);
  // Copies take the detached table's free ids without memory; the first that needs
  // the table to grow fails.
  std::vector<CellValue> copies;
  CellValue copy = numberValue(1);
  heapFailAfter(0);
  for (int i = 0; i < 1 << 20 && copy.kind != ValueKind::Empty; ++i) {
    copy = numberValue(1);
    copyFormulaValue(source, copy);
    if (copy.kind == ValueKind::Formula) copies.push_back(copy);
  }
  heapFailAfter(-1);
  EXPECT_EQ(copy.kind, ValueKind::Empty);
  EXPECT_EQ(pendingError(), 15u);
  EXPECT_EQ(formulaPool().refCount(tokens), 1u + copies.size());
  clearError();
  for (CellValue& c : copies) releaseValue(c);
  releaseValue(source);
  EXPECT_FALSE(formulaPool().isLive(tokens));
}

TEST(CellValue, FormatFixedTrimsAndUsesTheLocaleDecimal) {
  std::u16string out;
  EXPECT_EQ(formatFixed(2.5, 4, true, out), 3u);
  EXPECT_EQ(out, u"2.5");
  formatFixed(3.0, 4, true, out);
  EXPECT_EQ(out, u"3");
  formatFixed(2.5, 4, false, out);
  EXPECT_EQ(out, u"2.5000");
  formatFixed(-0.0001, 2, false, out);
  EXPECT_EQ(out, u"0.00");
  formatFixed(1e300, 9, true, out);
  EXPECT_EQ(out.size(), 301u);
  LocaleSettings saved = currentLocale();
  LocaleSettings comma = saved;
  comma.decimalSymbol = u',';
  setCurrentLocale(comma);
  formatFixed(1234.126, 2, true, out);
  EXPECT_EQ(out, u"1234,13");
  setCurrentLocale(saved);
}

TEST(CellValue, ValueOnlyReadingBeforeTheEntryReaderIsInstalled) {
  double d = 0;
  EXPECT_TRUE(textToNumber(u"12.5", d));
  EXPECT_EQ(d, 12.5);
  EXPECT_FALSE(textToNumber(u"12x", d));
  EXPECT_FALSE(textToNumber(u"", d));
  EXPECT_FALSE(textToNumber(u"1e400", d));
}

}  // namespace
}  // namespace kelp
