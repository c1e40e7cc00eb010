// Token strings: payload sizes, the reference encoding and the walk that frees strings.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "formula/Tokens.h"
#include "model/CellValue.h"
#include "model/HandlePool.h"

namespace kelp {
namespace {

TEST(Tokens, PayloadSizesAreTheStoredOnes) {
  // Ops 0-44 as files store them: 17 to 26 are the operators without payload.
  const uint8_t sizes[] = {0, 8, 3, 12, 2, 0, 0, 0, 0, 0, 0, 4, 4, 4, 8, 12, 12, 0, 0, 0, 0, 0, 0,
                           0, 0, 0, 0, 2, 1, 12, 12, 4, 8, 8, 2, 2, 2, 0, 2, 2, 2, 4, 4, 4, 6};
  static_assert(sizeof sizes == 45);
  for (uint8_t op = 0; op < sizeof sizes; ++op) EXPECT_EQ(payloadSize(op), sizes[op]) << "op " << int(op);
  for (int op = 45; op < 256; ++op) EXPECT_EQ(payloadSize(static_cast<uint8_t>(op)), 255);
  EXPECT_STREQ(opName(2), "Call");
  EXPECT_STREQ(opName(42), "ForStep");
  EXPECT_STREQ(opName(43), "ChooseCase");
  EXPECT_STREQ(opName(44), "Array");
  EXPECT_STREQ(opName(45), "?");
}

// Op Array of `columns` x `rows` over `elements`, its byte count as given or as counted.
std::vector<uint8_t> arrayTokens(uint16_t columns, uint16_t rows, const std::vector<uint8_t>& elements,
                                 int bytes = -1) {
  const uint16_t count = static_cast<uint16_t>(bytes < 0 ? elements.size() : static_cast<size_t>(bytes));
  std::vector<uint8_t> out = {44, static_cast<uint8_t>(columns), static_cast<uint8_t>(columns >> 8),
                              static_cast<uint8_t>(rows), static_cast<uint8_t>(rows >> 8), static_cast<uint8_t>(count),
                              static_cast<uint8_t>(count >> 8)};
  out.insert(out.end(), elements.begin(), elements.end());
  return out;
}

TEST(Tokens, ArrayConstantsAreCheckedWholeAgainstTheirBytes) {
  const std::vector<uint8_t> one = {1, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F};
  const std::vector<uint8_t> yes = {28, 1};
  const std::vector<uint8_t> na = {27, 42, 0};
  std::vector<uint8_t> empty(13, 0);
  empty[0] = 3;
  std::vector<uint8_t> four = one;
  for (const std::vector<uint8_t>* e : {&yes, &na, static_cast<const std::vector<uint8_t>*>(&empty)}) four.insert(four.end(), e->begin(), e->end());
  const std::vector<uint8_t> good = arrayTokens(2, 2, four);
  EXPECT_EQ(arrayTokenLength(good.data(), good.size(), 0), good.size());
  EXPECT_TRUE(storableTokens(good.data(), good.size()));

  std::vector<uint8_t> textConstant = empty;
  textConstant[1] = static_cast<uint8_t>(ValueKind::Text);
  const std::vector<uint8_t> cellRef = {12, 0, 0, 0, 0};
  const std::vector<uint8_t> call = {2, 3, 0, 0};
  std::vector<uint8_t> tooMany;
  for (int i = 0; i < 1025; ++i) tooMany.insert(tooMany.end(), yes.begin(), yes.end());
  for (const std::vector<uint8_t>& bad : {
           arrayTokens(2, 1, one),                   // fewer elements than the shape
           arrayTokens(1, 1, four, 11),              // bytes left over after the elements
           arrayTokens(2, 2, four, 40),              // bytes past the end of the string
           arrayTokens(1, 1, four, 8),               // an element cut by the byte count
           arrayTokens(0, 1, {}),                    // no columns
           arrayTokens(1, 1, cellRef),               // a reference is no element
           arrayTokens(1, 1, call),                  // nor a call
           arrayTokens(1, 1, textConstant),          // nor a constant other than empty
           arrayTokens(1025, 1, tooMany),            // beyond the limit
           std::vector<uint8_t>{44, 1, 0, 1, 0}}) {  // the header cut short
    EXPECT_EQ(arrayTokenLength(bad.data(), bad.size(), 0), 0u);
    EXPECT_FALSE(storableTokens(bad.data(), bad.size()));
  }
}

TEST(Tokens, RelativeReferencesWrapAroundTheSheet) {
  // Written in C3 as A1, then read from D5: B3.
  CellRefCode stored = encodeCell(CellPosition{0, 0}, true, true, CellPosition{2, 2});
  CellRefCode moved = resolveCell(stored, CellPosition{3, 4});
  EXPECT_EQ(moved.row, 2);
  EXPECT_EQ(moved.colWord, 1);
  // Written in B1 as A1 and read from A1: the column wraps to IV.
  EXPECT_EQ(resolveCell(encodeCell(CellPosition{0, 0}, true, true, CellPosition{1, 0}), CellPosition{0, 0}).colWord, 255);
  CellRefCode absolute = encodeCell(CellPosition{9, 7}, false, false, CellPosition{100, 100});
  EXPECT_EQ(absolute.row, 7);
  EXPECT_EQ(absolute.colWord, 9);
  CellRefCode area[2] = {encodeCell(CellPosition{0, 0}, true, false, CellPosition{5, 5}), encodeCell(CellPosition{3, 9}, false, true, CellPosition{5, 5})};
  resolveArea(area, CellPosition{6, 6});
  EXPECT_EQ(area[0].row, 1);
  EXPECT_EQ(area[0].colWord, 0);
  EXPECT_EQ(area[1].row, 9);
  EXPECT_EQ(area[1].colWord, 4);
}

TEST(Tokens, ReleasingTextsStopsAtDamage) {
  std::u16string text = u"kept";
  uint32_t a = textPool().add(text.c_str(), 10, 1);
  uint32_t b = textPool().add(text.c_str(), 10, 2);
  std::vector<uint8_t> tokens = {11, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 11, 0, 0, 0, 0, 0};
  std::memcpy(&tokens[1], &a, 4);
  std::memcpy(&tokens[15], &b, 4);
  // An unused op before the second string ends the walk.
  tokens[14] = 200;
  releaseTokenTexts(tokens.data(), tokens.size());
  EXPECT_FALSE(textPool().isLive(a));
  EXPECT_EQ(textPool().refCount(b), 2u);
  // A payload cut short by the length is not read either.
  tokens[14] = 11;
  releaseTokenTexts(tokens.data() + 14, 4);
  EXPECT_EQ(textPool().refCount(b), 2u);
  releaseTokenTexts(tokens.data() + 14, 6);
  EXPECT_EQ(textPool().refCount(b), 1u);
  textPool().release(b);
}

}  // namespace
}  // namespace kelp
