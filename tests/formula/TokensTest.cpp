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
  // Ops 0-43 as files store them: 17 to 26 are the operators without payload.
  const uint8_t sizes[] = {0, 8, 3, 12, 2, 0, 0, 0, 0, 0, 0, 4, 4, 4, 8, 12, 12, 0, 0, 0, 0, 0,
                           0, 0, 0, 0, 0, 2, 1, 12, 12, 4, 8, 8, 2, 2, 2, 0, 2, 2, 2, 4, 4, 4};
  static_assert(sizeof sizes == 44);
  for (uint8_t op = 0; op < sizeof sizes; ++op) EXPECT_EQ(payloadSize(op), sizes[op]) << "op " << int(op);
  for (int op = 44; op < 256; ++op) EXPECT_EQ(payloadSize(static_cast<uint8_t>(op)), 255);
  EXPECT_STREQ(opName(2), "Call");
  EXPECT_STREQ(opName(42), "ForStep");
  EXPECT_STREQ(opName(43), "ChooseCase");
  EXPECT_STREQ(opName(44), "?");
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
