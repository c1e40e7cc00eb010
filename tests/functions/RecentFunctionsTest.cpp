// Tests of the recently used functions list and its registry value.
#include "functions/RecentFunctions.h"

#include <gtest/gtest.h>

#include <vector>

namespace kelp {
namespace {

constexpr int32_t Sum = 3, Average = 5, Pi = 14, If = 37;

std::vector<int32_t> items(const RecentFunctions& list) {
  std::vector<int32_t> out;
  for (int32_t i = 0; i < RecentFunctions::Size; ++i) out.push_back(list.at(i));
  return out;
}

TEST(RecentFunctionsTest, UseMovesToTheFront) {
  RecentFunctions list;
  EXPECT_EQ(items(list), (std::vector<int32_t>{Sum, If, Average, -1, -1, -1, -1, -1, -1, -1}));
  list.use(Sum);
  EXPECT_EQ(items(list), (std::vector<int32_t>{Sum, If, Average, -1, -1, -1, -1, -1, -1, -1}));
  list.use(Pi);
  EXPECT_EQ(items(list), (std::vector<int32_t>{Pi, Sum, If, Average, -1, -1, -1, -1, -1, -1}));
  list.use(Average);
  EXPECT_EQ(items(list), (std::vector<int32_t>{Average, Pi, Sum, If, -1, -1, -1, -1, -1, -1}));
  // Past ten, the oldest falls off.
  for (int32_t f = 100; f < 107; ++f) list.use(f);
  EXPECT_EQ(items(list), (std::vector<int32_t>{106, 105, 104, 103, 102, 101, 100, Average, Pi, Sum}));
  list.use(If);
  EXPECT_EQ(items(list), (std::vector<int32_t>{If, 106, 105, 104, 103, 102, 101, 100, Average, Pi}));
}

TEST(RecentFunctionsTest, BlobRoundTripAndBadValues) {
  RecentFunctions list;
  list.use(Pi);
  uint8_t blob[RecentFunctions::BlobBytes];
  list.toBlob(blob);
  EXPECT_EQ(blob[0], Pi);
  EXPECT_EQ(blob[4], Sum);
  EXPECT_EQ(blob[16], 0xFF);  // an empty slot is -1
  RecentFunctions read;
  read.use(100);
  ASSERT_TRUE(read.fromBlob(blob, sizeof blob));
  EXPECT_EQ(items(read), items(list));
  // A value of the wrong size is ignored.
  RecentFunctions unchanged;
  EXPECT_FALSE(unchanged.fromBlob(blob, 39));
  EXPECT_EQ(items(unchanged), items(RecentFunctions()));
  // Indexes beyond the catalogue or of unnamed rows become empty slots.
  blob[0] = 0x2C;
  blob[1] = 0x01;  // 300, CellRefR: kept
  blob[4] = 0x10;
  blob[5] = 0x27;  // 10000
  blob[8] = 210;   // an internal command row
  ASSERT_TRUE(read.fromBlob(blob, sizeof blob));
  EXPECT_EQ(read.at(0), 300);
  EXPECT_EQ(read.at(1), -1);
  EXPECT_EQ(read.at(2), -1);
}

}  // namespace
}  // namespace kelp
