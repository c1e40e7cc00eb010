// Display text speed: a million numbers under General and a million dates under a date format.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "format/ValueText.h"
#include "platform/Locale.h"

namespace {

constexpr size_t kCount = 1000000;

// Magnitudes from 1e-6 to 1e12 so every rung of the ladder and the exponent form is used.
std::vector<kelp::CellValue> numbers() {
  std::mt19937_64 random(42);
  std::uniform_real_distribution<double> exponent(-6, 12);
  std::uniform_real_distribution<double> mantissa(-10, 10);
  std::vector<kelp::CellValue> values;
  values.reserve(kCount);
  for (size_t i = 0; i < kCount; ++i) values.push_back(kelp::numberValue(mantissa(random) * std::pow(10, exponent(random))));
  return values;
}

std::vector<kelp::CellValue> dates() {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> serial(1, 80000);
  std::vector<kelp::CellValue> values;
  values.reserve(kCount);
  for (size_t i = 0; i < kCount; ++i) values.push_back(kelp::dateTimeValue(serial(random)));
  return values;
}

void run(benchmark::State& state, const std::vector<kelp::CellValue>& values, const kelp::NumberFormatRecord& format) {
  std::u16string out;
  out.reserve(128);
  for (auto _ : state) {
    size_t total = 0;
    for (const kelp::CellValue& value : values) {
      kelp::displayText(value, format, kelp::NoWidthLimit, nullptr, out);
      total += out.size();
    }
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(values.size()));
}

void BM_GeneralNumbers(benchmark::State& state) {
  kelp::selectLocale("en_US");
  static const std::vector<kelp::CellValue> values = numbers();
  run(state, values, kelp::generalFormat());
}
BENCHMARK(BM_GeneralNumbers)->Unit(benchmark::kMillisecond);

void BM_DateFormat(benchmark::State& state) {
  kelp::selectLocale("en_US");
  static const std::vector<kelp::CellValue> values = dates();
  run(state, values, kelp::builtInFormats()[kelp::BuiltInFormat::DateTime]);
}
BENCHMARK(BM_DateFormat)->Unit(benchmark::kMillisecond);

void BM_FixedCurrency(benchmark::State& state) {
  kelp::selectLocale("en_US");
  static const std::vector<kelp::CellValue> values = numbers();
  run(state, values, kelp::builtInFormats()[kelp::BuiltInFormat::Currency2]);
}
BENCHMARK(BM_FixedCurrency)->Unit(benchmark::kMillisecond);

}  // namespace
