// What General shows for a number reads back, as a typed entry, as a number that shows
// the same text again.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "format/ValueText.h"
#include "formula/EntryReader.h"
#include "functions/Engine.h"
#include "platform/Locale.h"
#include "platform/Text.h"

namespace kelp {
namespace {

class DisplayRoundTrip : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    startEngine();
    saved = currentLocale();
    ASSERT_TRUE(selectLocale(GetParam()));
  }
  void TearDown() override { setCurrentLocale(saved); }
  LocaleSettings saved;
};

TEST_P(DisplayRoundTrip, GeneralTextReadsBackToTheSameText) {
  std::mt19937_64 random(20261206);
  std::uniform_real_distribution<double> mantissa(1.0, 10.0);
  std::uniform_int_distribution<int> exponent(-30, 30);
  int failures = 0;
  for (int i = 0; i < 100000; ++i) {
    double magnitude = mantissa(random) * std::pow(10.0, exponent(random));
    // Some values get few digits, as typed numbers do.
    if (i % 4 == 0) magnitude = std::round(magnitude * 100) / 100;
    double number = (i % 3 == 0) ? -magnitude : magnitude;
    std::u16string shown;
    generalNumberText(number, shown);
    int suggested = -1;
    CellValue read = readEntry(nullptr, shown, CellPosition{0, 0, 0}, &suggested, false);
    if (read.kind != ValueKind::Number) {
      ADD_FAILURE() << number << " shows as " << utf16ToUtf8(shown) << ", which does not read as a number";
      if (++failures > 5) return;
      continue;
    }
    std::u16string again;
    generalNumberText(read.number(), again);
    if (again != shown) {
      ADD_FAILURE() << number << " shows as " << utf16ToUtf8(shown) << " but reads back as " << read.number()
                    << ", shown as " << utf16ToUtf8(again);
      if (++failures > 5) return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Locales, DisplayRoundTrip, ::testing::Values("en_US", "de_DE"));

}  // namespace
}  // namespace kelp
