// What General shows for a number reads back, as a typed entry, as a number that shows
// the same text again; a date number's formula text and editable text read back to the
// same serial.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "format/DateSerial.h"
#include "format/ValueText.h"
#include "formula/Compiler.h"
#include "formula/EntryReader.h"
#include "formula/FormulaText.h"
#include "functions/Engine.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
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

// Whole days from the first displayable one to the last, the first and last day of
// every year (where two-digit years change century), and random days with random
// whole-second times. Days before 30 December 1899 carry their time away from zero.
std::vector<double> sampledSerials() {
  std::vector<double> serials = {MinSerial, MaxSerial, 0, 0.5, 1, 1.25, -1, -1.25, 60, 61};
  for (int year = 100; year <= 9999; ++year) {
    for (auto [month, day] : {std::pair{1, 1}, std::pair{12, 31}}) {
      double serial = 0;
      EXPECT_TRUE(serialFromFields(year, month, day, 0, 0, 0, 0, true, serial));
      serials.push_back(serial);
    }
  }
  std::mt19937_64 random(20261207);
  std::uniform_int_distribution<int64_t> days(static_cast<int64_t>(MinSerial), static_cast<int64_t>(MaxSerial));
  std::uniform_int_distribution<int> seconds(0, 86399);
  for (int i = 0; i < 20000; ++i) {
    int64_t day = days(random);
    int second = (i % 3 == 0 || day == MinSerial || day == MaxSerial) ? 0 : seconds(random);
    double fraction = second / 86400.0;
    serials.push_back(day < 0 ? static_cast<double>(day) - fraction : static_cast<double>(day) + fraction);
  }
  return serials;
}

TEST_P(DisplayRoundTrip, DateTextsReadBackToTheSameSerial) {
  std::unique_ptr<Workbook> book = newWorkbook(1);
  int failures = 0;
  auto fail = [&](double serial, const char* form, const std::u16string& text, const std::string& what) {
    ADD_FAILURE() << serial << " as " << form << " text " << utf16ToUtf8(text) << " " << what;
    clearError();
    return ++failures > 5;
  };
  for (double serial : sampledSerials()) {
    // Formula text of the date literal, compiled again.
    uint8_t data[4 + 1 + 8 + 1] = {10, 0, 0, 0, static_cast<uint8_t>(Op::DateTime)};
    std::memcpy(data + 5, &serial, 8);
    std::u16string formula;
    ASSERT_TRUE(formulaText(*book, data, CellPosition{0, 0, 0}, formula));
    TokenSink sink;
    if (compileFormula(*book, formula, CellPosition{0, 0, 0}, sink, false) >= 0) {
      if (fail(serial, "formula", formula, "does not compile: error " + std::to_string(pendingError()))) return;
    } else if (sink.size() != 9 || sink.data()[0] != static_cast<uint8_t>(Op::DateTime) ||
               readDouble(sink.data() + 1) != serial) {
      double back = sink.size() == 9 ? readDouble(sink.data() + 1) : NAN;
      if (fail(serial, "formula", formula, "reads back as " + std::to_string(back))) return;
    }

    // Editable text, typed into a cell.
    std::u16string editable;
    ASSERT_TRUE(editableText(dateTimeValue(serial), editable));
    CellValue read = readEntry(nullptr, editable, CellPosition{0, 0, 0}, nullptr, false);
    bool same = read.kind == ValueKind::DateTime && read.number() == serial;
    double back = read.kind == ValueKind::DateTime ? read.number() : NAN;
    releaseValue(read);
    if (!same && fail(serial, "editable", editable, "reads back as " + std::to_string(back))) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Locales, DisplayRoundTrip, ::testing::Values("en_US", "en_GB", "de_DE"));

}  // namespace
}  // namespace kelp
