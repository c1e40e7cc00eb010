// Statistics over collected lists of numbers: order statistics, moments, paired
// lists and the tests that compare them with a distribution.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "formula/Evaluator.h"
#include "functions/Distributions.h"
#include "functions/FunctionFamilies.h"

namespace kelp {

bool isReference(ValueKind kind) {
  return kind == ValueKind::CellRef || kind == ValueKind::AreaRef || kind == ValueKind::SheetCellRef ||
         kind == ValueKind::SheetAreaRef;
}

// The first error of an area overwrites one recorded from an argument further right.
void collectAreaNumbers(const SheetArea& area, std::vector<double>& out) {
  AreaIterator it(area, evalState().workbook);
  bool errorSeen = false;
  CellValue value;
  while (it.next(value)) {
    if (value.kind == ValueKind::Number) {
      out.push_back(value.number());
    } else if (value.kind == ValueKind::Error && !errorSeen) {
      errorSeen = true;
      setPendingError(cellError(value));
    }
  }
}

void collectArgumentNumbers(std::vector<double>& out) {
  if (isReference(topKind())) {
    SheetArea area{};
    if (popArea(area)) collectAreaNumbers(area, out);
    return;
  }
  CellValue value;
  popResolved(value);
  if (value.kind == ValueKind::Number)
    out.push_back(value.number());
  else if (value.kind == ValueKind::Integer)
    out.push_back(value.i32());
  else if (value.kind == ValueKind::Error)
    setPendingError(cellError(value));
  releaseValue(value);
}

namespace {

// The scratch list of the sorting and pairing functions holds at most this many.
constexpr size_t ListLimit = 7999;

using Numbers = std::vector<double>;


// Pops `count` arguments, last first, into one list.
void collectArguments(int32_t count, Numbers& out) {
  for (int32_t i = 0; i < count; ++i) collectArgumentNumbers(out);
}

// Pops an argument that must be a reference; anything else is !!Val. `area` tells
// the reference's shape to those that need it.
void collectReference(Numbers& out, SheetArea* area = nullptr) {
  if (!isReference(topKind())) {
    discard(1);
    setPendingError(CellError::Value);
    return;
  }
  SheetArea popped{};
  if (!popArea(popped)) return;
  if (area) *area = popped;
  collectAreaNumbers(popped, out);
}

double sumOf(const Numbers& v) {
  double sum = 0;
  for (double x : v) sum += x;
  return sum;
}

double meanOf(const Numbers& v) { return sumOf(v) / static_cast<double>(v.size()); }

// Σ(x − mean)^power over the list.
double centralSum(const Numbers& v, double mean, int power) {
  double sum = 0;
  for (double x : v) sum += std::pow(x - mean, power);
  return sum;
}

// Pushes `code` as the result when `failed`; true when it did.
bool failWith(bool failed, CellError code) {
  if (failed) pushError(code);
  return failed;
}

// ----- Order statistics.

// Collects every argument for a sorting function; false (result pushed) on an error
// or an empty or overlong list.
bool sortedArguments(int32_t count, Numbers& v) {
  collectArguments(count, v);
  if (!takePendingError()) return false;
  if (failWith(v.empty() || v.size() > ListLimit, CellError::Num)) return false;
  std::sort(v.begin(), v.end());
  return true;
}

void fnMedian() {
  Numbers v;
  if (!sortedArguments(argCount(), v)) return;
  size_t n = v.size();
  pushNumber(n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}

void fnMode() {
  Numbers v;
  if (!sortedArguments(argCount(), v)) return;
  // Ascending runs; a later run of the same length wins, so ties (and a list of
  // distinct values) give the largest.
  double best = v[0];
  size_t bestRun = 0;
  for (size_t i = 0; i < v.size();) {
    size_t j = i;
    while (j < v.size() && v[j] == v[i]) ++j;
    if (j - i >= bestRun) {
      bestRun = j - i;
      best = v[i];
    }
    i = j;
  }
  pushNumber(best);
}

// Large and Small: the n-th value from the top or the bottom.
void nthValue(bool fromTop) {
  double n = popNumber();
  Numbers v;
  collectArgumentNumbers(v);
  if (!takePendingError()) return;
  if (failWith(v.size() > ListLimit || n < 1 || n > static_cast<double>(v.size()), CellError::Num)) return;
  std::sort(v.begin(), v.end());
  size_t k = static_cast<size_t>(std::floor(n)) - 1;
  pushNumber(fromTop ? v[v.size() - 1 - k] : v[k]);
}

void fnLarge() { nthValue(true); }
void fnSmall() { nthValue(false); }

void fnPercentile() {
  double k = popNumber();
  Numbers v;
  collectArgumentNumbers(v);
  if (!takePendingError()) return;
  if (failWith(v.empty() || v.size() > ListLimit || !(k >= 0 && k <= 1), CellError::Num)) return;
  std::sort(v.begin(), v.end());
  double h = static_cast<double>(v.size() - 1) * k;
  size_t low = static_cast<size_t>(std::floor(h));
  if (low + 1 >= v.size() || h == std::floor(h)) {
    pushNumber(v[low]);
    return;
  }
  pushNumber(v[low] + (h - std::floor(h)) * (v[low + 1] - v[low]));
}

// floor(r·10^digits)/10^digits, where a product a few bits below a whole number
// (0.57·100 is 56.99999999999999) counts as that number.
double truncateDecimals(double r, double digits) {
  double scale = std::pow(10.0, digits);
  double v = r * scale;
  double nearest = std::nearbyint(v);
  if (std::fabs(v - nearest) <= std::fabs(v) * 1e-12) v = nearest;
  return std::floor(v) / scale;
}

void fnPercentrank() {
  double significance = argCount() > 2 ? popNumber() : 3;
  double x = popNumber();
  Numbers v;
  collectArgumentNumbers(v);
  if (!takePendingError()) return;
  significance = std::floor(significance);
  if (failWith(v.empty() || v.size() > ListLimit || !(significance >= 1), CellError::Num)) return;
  std::sort(v.begin(), v.end());
  if (failWith(!(x >= v.front() && x <= v.back()), CellError::NA)) return;
  if (v.size() == 1) {
    pushNumber(1);
    return;
  }
  // The position counts from 0; a value between two neighbours gets its share of
  // the step between them.
  auto at = std::lower_bound(v.begin(), v.end(), x);
  double position = static_cast<double>(at - v.begin());
  if (*at != x) {
    double below = *(at - 1);
    position = position - 1 + (x - below) / (*at - below);
  }
  pushNumber(truncateDecimals(position / static_cast<double>(v.size() - 1), significance));
}

void fnRank() {
  bool ascending = false;
  if (argCount() > 2) ascending = popNumber() != 0;
  Numbers v;
  collectReference(v);
  double number = popNumber();
  if (!takePendingError()) return;
  if (failWith(v.size() > ListLimit, CellError::Num)) return;
  if (v.size() == 1) {
    pushNumber(1);
    return;
  }
  if (ascending)
    std::sort(v.begin(), v.end());
  else
    std::sort(v.begin(), v.end(), [](double a, double b) { return a > b; });
  auto at = std::find(v.begin(), v.end(), number);
  pushNumber(at == v.end() ? 0 : static_cast<double>(at - v.begin() + 1));
}

void fnTrimmean() {
  double fraction = popNumber();
  Numbers v;
  collectArgumentNumbers(v);
  if (!takePendingError()) return;
  if (failWith(v.empty() || v.size() > ListLimit || !(fraction >= 0 && fraction < 1), CellError::Num)) return;
  std::sort(v.begin(), v.end());
  // The points left out are rounded down to an even number, half from each end.
  size_t each = static_cast<size_t>(std::floor(static_cast<double>(v.size()) * fraction / 2 + 1e-9));
  double sum = 0;
  for (size_t i = each; i < v.size() - each; ++i) sum += v[i];
  pushNumber(sum / static_cast<double>(v.size() - 2 * each));
}

// ----- Moments and means of one list.

// Collects all arguments; false (result pushed) on an error or fewer than `least`.
bool listOfAtLeast(size_t least, CellError code, Numbers& v) {
  collectArguments(argCount(), v);
  if (!takePendingError()) return false;
  return !failWith(v.size() < least, code);
}

void fnAvedev() {
  Numbers v;
  if (!listOfAtLeast(1, CellError::Num, v)) return;
  double mean = meanOf(v);
  double sum = 0;
  for (double x : v) sum += std::fabs(x - mean);
  pushNumber(sum / static_cast<double>(v.size()));
}

void fnDevsq() {
  Numbers v;
  if (!listOfAtLeast(1, CellError::Num, v)) return;
  pushNumber(centralSum(v, meanOf(v), 2));
}

void fnGeomean() {
  Numbers v;
  if (!listOfAtLeast(1, CellError::Num, v)) return;
  // Through logarithms: the product itself overflows long before its root does.
  double logs = 0;
  for (double x : v) {
    if (failWith(!(x > 0), CellError::Num)) return;
    logs += std::log(x);
  }
  pushNumber(std::exp(logs / static_cast<double>(v.size())));
}

void fnHarmean() {
  Numbers v;
  if (!listOfAtLeast(1, CellError::Num, v)) return;
  double reciprocals = 0;
  for (double x : v) {
    if (failWith(!(x > 0), CellError::Num)) return;
    reciprocals += 1 / x;
  }
  pushNumber(static_cast<double>(v.size()) / reciprocals);
}

// The sample standard deviation's square, from the list's own mean.
double sampleVariance(const Numbers& v, double mean) {
  return centralSum(v, mean, 2) / static_cast<double>(v.size() - 1);
}

void fnSkew() {
  Numbers v;
  if (!listOfAtLeast(3, CellError::Div0, v)) return;
  double n = static_cast<double>(v.size());
  double mean = meanOf(v);
  double variance = sampleVariance(v, mean);
  if (failWith(variance == 0, CellError::Div0)) return;
  double sd = std::sqrt(variance);
  double sum = 0;
  for (double x : v) sum += std::pow((x - mean) / sd, 3);
  pushNumber(n / ((n - 1) * (n - 2)) * sum);
}

void fnKurt() {
  Numbers v;
  if (!listOfAtLeast(4, CellError::Div0, v)) return;
  double n = static_cast<double>(v.size());
  double mean = meanOf(v);
  double variance = sampleVariance(v, mean);
  if (failWith(variance == 0, CellError::Div0)) return;
  double sum = 0;
  for (double x : v) sum += std::pow(x - mean, 4);
  sum /= variance * variance;
  pushNumber(n * (n + 1) / ((n - 1) * (n - 2) * (n - 3)) * sum - 3 * (n - 1) * (n - 1) / ((n - 2) * (n - 3)));
}

// ----- Paired lists.

// The two references of a paired function (the second popped first), paired by
// their places in the number lists. False (result pushed) on an error or when the
// counts differ or lie outside 1 … 7999.
bool pairedLists(Numbers& first, Numbers& second, SheetArea* firstArea = nullptr) {
  collectReference(second);
  collectReference(first, firstArea);
  if (!takePendingError()) return false;
  return !failWith(first.size() != second.size() || first.empty() || first.size() > ListLimit, CellError::NA);
}

// Means and centred sums of squares and products of paired lists.
struct Pairing {
  double n = 0;
  double meanX = 0;
  double meanY = 0;
  double sxx = 0;
  double syy = 0;
  double sxy = 0;

  Pairing(const Numbers& y, const Numbers& x) {
    n = static_cast<double>(x.size());
    meanX = meanOf(x);
    meanY = meanOf(y);
    for (size_t i = 0; i < x.size(); ++i) {
      double dx = x[i] - meanX;
      double dy = y[i] - meanY;
      sxx += dx * dx;
      syy += dy * dy;
      sxy += dx * dy;
    }
  }
  double slope() const { return sxy / sxx; }
};

void fnSlope() {
  Numbers y, x;
  if (!pairedLists(y, x)) return;
  Pairing p(y, x);
  pushNumber(p.sxx == 0 ? 0 : p.slope());
}

void fnIntercept() {
  Numbers y, x;
  if (!pairedLists(y, x)) return;
  Pairing p(y, x);
  if (failWith(p.sxx == 0, CellError::Div0)) return;
  pushNumber(p.meanY - p.slope() * p.meanX);
}

void fnForecast() {
  Numbers y, x;
  collectReference(x);
  collectReference(y);
  double at = popNumber();
  if (!takePendingError()) return;
  if (failWith(x.size() != y.size() || x.empty() || x.size() > ListLimit, CellError::NA)) return;
  Pairing p(y, x);
  if (failWith(p.sxx == 0, CellError::Div0)) return;
  pushNumber(p.meanY + p.slope() * (at - p.meanX));
}

// Pearson gives 0 for a list without spread; Correl and Rsq treat it as a division by 0.
void correlation(bool zeroWhenFlat, bool squared) {
  Numbers a, b;
  if (!pairedLists(a, b)) return;
  Pairing p(a, b);
  if (!(p.sxx * p.syy > 0)) {
    if (zeroWhenFlat)
      pushNumber(0);
    else
      pushError(CellError::Div0);
    return;
  }
  double r = p.sxy / (std::sqrt(p.sxx) * std::sqrt(p.syy));
  pushNumber(squared ? r * r : r);
}

void fnPearson() { correlation(true, false); }
void fnCorrel() { correlation(false, false); }
void fnRsq() { correlation(false, true); }

void fnCovar() {
  Numbers a, b;
  if (!pairedLists(a, b)) return;
  Pairing p(a, b);
  pushNumber(p.sxy / p.n);
}

void fnSteyx() {
  Numbers y, x;
  if (!pairedLists(y, x)) return;
  Pairing p(y, x);
  if (failWith(p.n < 3 || p.sxx == 0, CellError::Div0)) return;
  double residual = std::max(0.0, p.syy - p.sxy * p.sxy / p.sxx);
  pushNumber(std::sqrt(residual / (p.n - 2)));
}

// Sumxmy2 and its siblings: the sum of f(x, y) over the pairs.
template <typename F>
void pairSum(F f) {
  Numbers x, y;
  if (!pairedLists(x, y)) return;
  double sum = 0;
  for (size_t i = 0; i < x.size(); ++i) sum += f(x[i], y[i]);
  pushNumber(sum);
}

void fnSumxmy2() { pairSum([](double x, double y) { return (x - y) * (x - y); }); }
void fnSumx2my2() { pairSum([](double x, double y) { return x * x - y * y; }); }
void fnSumx2py2() { pairSum([](double x, double y) { return x * x + y * y; }); }

void fnSumproduct() {
  Numbers running;
  bool mismatch = false;
  for (int32_t i = 0; i < argCount(); ++i) {
    Numbers v;
    collectArgumentNumbers(v);
    if (i == 0) {
      running = std::move(v);
    } else if (v.size() != running.size()) {
      mismatch = true;
    } else {
      for (size_t j = 0; j < v.size(); ++j) running[j] *= v[j];
    }
  }
  if (!takePendingError()) return;
  if (failWith(mismatch || running.empty() || running.size() > ListLimit, CellError::Num)) return;
  pushNumber(sumOf(running));
}

void fnProb() {
  bool hasUpper = argCount() > 3;
  double upper = hasUpper ? popNumber() : 0;
  double lower = popNumber();
  Numbers values, probabilities;
  collectReference(probabilities);
  collectReference(values);
  if (!takePendingError()) return;
  if (failWith(values.size() != probabilities.size() || values.empty() || values.size() > ListLimit,
               CellError::NA))
    return;
  double total = 0;
  for (double p : probabilities) {
    if (failWith(!(p >= 0 && p <= 1), CellError::Num)) return;
    total += p;
  }
  if (failWith(std::fabs(total - 1) > 1e-9, CellError::Num)) return;
  // Values from the lower limit up to, not including, the upper one; without an
  // upper limit, values equal to the lower.
  double result = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    double x = values[i];
    if (hasUpper ? x >= lower && x < upper : x == lower) result += probabilities[i];
  }
  pushNumber(result);
}

// ----- Tests against a distribution (the tails come from Distributions.h).

void fnChitest() {
  Numbers actual, expected;
  SheetArea area{};
  if (!pairedLists(actual, expected, &area)) return;
  double rows = area.lastRow - area.firstRow + 1;
  double columns = area.lastColumn - area.firstColumn + 1;
  double n = static_cast<double>(actual.size());
  double freedom = rows > 1 && columns > 1 ? (rows - 1) * (columns - 1) : n - 1;
  if (failWith(freedom < 1, CellError::NA)) return;
  double statistic = 0;
  for (size_t i = 0; i < actual.size(); ++i) {
    if (failWith(expected[i] == 0, CellError::Div0)) return;
    statistic += (actual[i] - expected[i]) * (actual[i] - expected[i]) / expected[i];
  }
  pushNumber(chiSquareUpper(statistic, freedom));
}

void fnFtest() {
  Numbers second, first;
  collectReference(second);
  collectReference(first);
  if (!takePendingError()) return;
  if (failWith(first.size() < 2 || second.size() < 2, CellError::Div0)) return;
  double v1 = sampleVariance(first, meanOf(first));
  double v2 = sampleVariance(second, meanOf(second));
  if (failWith(v1 == 0 || v2 == 0, CellError::Div0)) return;
  double d1 = static_cast<double>(first.size() - 1);
  double d2 = static_cast<double>(second.size() - 1);
  double f = v1 / v2;
  // Both tails: twice the smaller of the lower and the upper tail at f; the lower
  // tail is the upper one of the swapped distribution at 1/f, exact when small.
  double lower = fUpper(1 / f, d2, d1);
  double upper = fUpper(f, d1, d2);
  pushNumber(std::min(1.0, 2 * std::min(lower, upper)));
}

void fnZtest() {
  bool hasSigma = argCount() > 2;
  double sigma = hasSigma ? popNumber() : 0;
  double x = popNumber();
  Numbers v;
  collectArgumentNumbers(v);
  if (!takePendingError()) return;
  if (failWith(v.empty(), CellError::NA)) return;
  double n = static_cast<double>(v.size());
  double mean = meanOf(v);
  if (hasSigma) {
    if (failWith(!(sigma > 0), CellError::Num)) return;
  } else {
    if (failWith(v.size() < 2, CellError::Div0)) return;
    sigma = std::sqrt(sampleVariance(v, mean));
    if (failWith(sigma == 0, CellError::Div0)) return;
  }
  pushNumber(normalCdf((x - mean) / (sigma / std::sqrt(n))));
}

}  // namespace

std::span<const FunctionBinding> statisticsBindings() {
  static constexpr FunctionBinding bindings[] = {
      {139, fnRank},      {141, fnMedian},    {142, fnSumproduct}, {143, fnAvedev},     {171, fnSumxmy2},
      {172, fnSumx2my2},  {173, fnSumx2py2},  {174, fnChitest},    {175, fnCorrel},     {176, fnCovar},
      {177, fnForecast},  {178, fnFtest},     {179, fnIntercept},  {180, fnPearson},    {181, fnRsq},
      {182, fnSteyx},     {183, fnSlope},     {184, fnProb},       {185, fnDevsq},      {186, fnGeomean},
      {187, fnHarmean},   {189, fnKurt},      {190, fnSkew},       {191, fnZtest},      {192, fnLarge},
      {193, fnSmall},     {194, fnPercentile}, {195, fnPercentrank}, {196, fnMode},     {197, fnTrimmean},
  };
  return bindings;
}

}  // namespace kelp
