// Mathematical functions of one or two numbers: rounding, powers, logarithms,
// trigonometry, factorials and the random number.
#include <cmath>
#include <cstdint>

#include "formula/Evaluator.h"
#include "functions/FunctionFamilies.h"
#include "platform/System.h"

namespace kelp {

namespace {

constexpr double Pi = 3.141592653589793;
// Spacing used where a result must not hinge on the last bit of a product.
constexpr double IntegerSlack = 0.00000000001;

// A not-a-number never travels on as a value: later comparisons would treat it as
// an ordinary number, so it becomes !!Num where it arises.
void pushResult(double d) {
  if (std::isnan(d))
    pushError(CellError::Num);
  else
    pushNumber(d);
}

double signOf(double x) { return x > 0 ? 1 : (x < 0 ? -1 : 0); }

// x·10^d and x/10^d with an exact power where one exists, so 0.07·100 stays near 7.
double scaleUp(double x, double d) { return d >= 0 ? x * std::pow(10.0, d) : x / std::pow(10.0, -d); }
double scaleDown(double x, double d) { return d >= 0 ? x / std::pow(10.0, d) : x * std::pow(10.0, -d); }

// A quotient or product that lands a few bits beside a whole number (0.07·100 is
// 7.000000000000001) is taken as that number, or ceil and floor step one unit too far.
double snapToInteger(double v) {
  double nearest = std::nearbyint(v);
  return std::fabs(v - nearest) <= std::fabs(v) * 1e-14 ? nearest : v;
}

template <typename F>
void unary(F f) {
  double x = popNumber();
  if (!takePendingError()) return;
  pushResult(f(x));
}

// Pops the second argument, then the first.
template <typename F>
void binary(F f) {
  double y = popNumber();
  double x = popNumber();
  if (!takePendingError()) return;
  f(x, y);
}

// 2·3·…·floor(x); arguments above 172 are taken as 172, which already overflows.
double factorial(double x) {
  double n = std::floor(std::fmin(x, 172.0));
  double product = 1;
  for (double k = 2; k <= n; ++k) product *= k;
  return product;
}

// n!/(n−k)! as the product of its k top factors, so large n does not overflow
// where the result itself fits.
double fallingProduct(double n, double k) {
  double product = 1;
  for (double i = 0; i < k; ++i) product *= n - i;
  return product;
}

double combinations(double n, double k) {
  if (k > n - k) k = n - k;
  double result = 1;
  for (double i = 1; i <= k; ++i) result = result * (n - k + i) / i;
  // Each partial result is a whole number; rounding drops the division's last bits.
  return std::isfinite(result) ? std::nearbyint(result) : result;
}

bool validChoice(double n, double k) { return n >= 0 && k >= 0 && n >= k; }

// Bisection on sinh from a unit-step bracket around 0. The bracket also stops
// shrinking at the precision of doubles, where the 1e-11 test can no longer be met.
double inverseSinh(double x) {
  double low = 0;
  double high = 0;
  while (std::sinh(high) < x) high += 1;
  while (std::sinh(low) > x) low -= 1;
  double mid = (low + high) / 2;
  for (;;) {
    double value = std::sinh(mid);
    if (std::fabs(value - x) <= IntegerSlack) break;
    if (value < x)
      low = mid;
    else
      high = mid;
    double next = (low + high) / 2;
    if (next == mid || next == low || next == high) break;
    mid = next;
  }
  return mid;
}

// ln(x + √(x² − 1)) written to stay exact near 1 and to avoid x² overflowing; it
// agrees with the series ln 2x − 1/(4x²) − 3/(32x⁴) − … to far better than 1e-11.
double inverseCosh(double x) {
  if (x == 1) return 0;
  if (x > 1e8) return std::log(2.0) + std::log(x);
  return std::log(x + std::sqrt((x - 1) * (x + 1)));
}

// x + x³/3 + x⁵/5 + … where it converges quickly; nearer ±1 the series would need
// billions of terms, so the closed form ½·ln((1 + x)/(1 − x)) takes over.
double inverseTanh(double x) {
  if (std::fabs(x) > 0.5) return 0.5 * std::log1p(2 * x / (1 - x));
  double square = x * x;
  double power = x;
  double sum = 0;
  for (double k = 1;; k += 2) {
    double term = power / k;
    sum += term;
    if (std::fabs(term) <= IntegerSlack) break;
    power *= square;
  }
  return sum;
}

// The C runtime generator of the handheld: 15-bit results from a 32-bit linear
// congruential state, seeded once from the clock.
uint32_t g_randState = 0;
bool g_randSeeded = false;

int32_t nextRandom() {
  if (!g_randSeeded) {
    g_randState = static_cast<uint32_t>(wallClockMilliseconds());
    g_randSeeded = true;
  }
  g_randState = g_randState * 214013u + 2531011u;
  return static_cast<int32_t>((g_randState >> 16) & 0x7FFF);
}

void fnSin() { unary([](double x) { return std::sin(x); }); }
void fnCos() { unary([](double x) { return std::cos(x); }); }
void fnTan() { unary([](double x) { return std::tan(x); }); }
void fnAtan() { unary([](double x) { return std::atan(x); }); }
void fnAsin() { unary([](double x) { return std::asin(x); }); }
void fnAcos() { unary([](double x) { return std::acos(x); }); }
void fnSinh() { unary([](double x) { return std::sinh(x); }); }
void fnCosh() { unary([](double x) { return std::cosh(x); }); }
void fnTanh() { unary([](double x) { return std::tanh(x); }); }
void fnRadians() { unary([](double x) { return x * 0.017453292519943295; }); }
void fnDegrees() { unary([](double x) { return x * 57.29577951308232; }); }
void fnSqrt() { unary([](double x) { return std::sqrt(x); }); }
void fnExp() { unary([](double x) { return std::exp(x); }); }
void fnSign() { unary(signOf); }
void fnPi() { pushNumber(Pi); }

void fnAsinh() { unary(inverseSinh); }

void fnAcosh() {
  unary([](double x) { return x < 1 ? std::nan("") : inverseCosh(x); });
}

void fnAtanh() {
  unary([](double x) { return x > -1 && x < 1 ? inverseTanh(x) : std::nan(""); });
}

void fnLn() {
  unary([](double x) { return x > 0 ? std::log(x) : std::nan(""); });
}

void fnLog10() {
  unary([](double x) { return x > 0 ? std::log10(x) : std::nan(""); });
}

void fnLog() {
  double base = argCount() > 1 ? popNumber() : 10;
  double x = popNumber();
  if (!takePendingError()) return;
  if (x <= 0 || base <= 0) {
    pushError(CellError::Num);
    return;
  }
  // Every logarithm to base 1 divides by ln 1 = 0.
  if (base == 1) {
    pushError(CellError::Div0);
    return;
  }
  pushResult(std::log(x) / std::log(base));
}

void fnPower() {
  binary([](double x, double y) {
    if (x == 0) {
      if (y == 0)
        pushError(CellError::Num);
      else
        pushNumber(0);
      return;
    }
    pushResult(std::pow(x, y));
  });
}

void fnAtan2() {
  binary([](double x, double y) {
    if (x == 0 && y == 0)
      pushError(CellError::Div0);
    else
      pushResult(std::atan2(y, x));
  });
}

void fnMod() {
  binary([](double x, double d) {
    if (d == 0)
      pushError(CellError::Div0);
    else
      pushResult(x - d * std::floor(x / d));
  });
}

void fnRoundUp() {
  binary([](double x, double digits) {
    double d = std::trunc(digits);
    double a = std::fabs(x);
    if (d == 0) {
      pushResult(signOf(x) * std::ceil(a - IntegerSlack));
      return;
    }
    pushResult(signOf(x) * scaleDown(std::ceil(snapToInteger(scaleUp(a, d))), d));
  });
}

// Rounds |x| down at d decimals; `slack` is the allowance the d = 0 case adds.
double roundTowardZero(double x, double d, double slack) {
  double a = std::fabs(x);
  if (d == 0) return signOf(x) * std::floor(a + slack);
  return signOf(x) * scaleDown(std::floor(snapToInteger(scaleUp(a, d))), d);
}

void fnRoundDown() {
  binary([](double x, double digits) { pushResult(roundTowardZero(x, std::trunc(digits), IntegerSlack)); });
}

void fnTrunc() {
  double digits = argCount() > 1 ? popNumber() : 0;
  double x = popNumber();
  if (!takePendingError()) return;
  pushResult(roundTowardZero(x, std::trunc(digits), 0));
}

void fnCeiling() {
  binary([](double x, double s) {
    if ((s < 0 && x > 0) || (s > 0 && x < 0)) {
      pushError(CellError::Value);
      return;
    }
    pushResult(s == 0 ? 0 : std::ceil(snapToInteger(x / s)) * s);
  });
}

void fnFloor() {
  binary([](double x, double s) {
    if (s == 0) {
      pushError(CellError::Div0);
      return;
    }
    // Zero rounds to zero whatever the significance's sign, as Ceiling(0, s) does.
    if (x != 0 && signOf(x) != signOf(s)) {
      pushError(CellError::Num);
      return;
    }
    pushResult(std::floor(snapToInteger(x / s)) * s);
  });
}

void fnEven() {
  unary([](double x) {
    double up = std::ceil(std::fabs(x));
    if (std::fmod(up, 2) != 0) up += 1;
    return x < 0 ? -up : up;
  });
}

void fnOdd() {
  unary([](double x) {
    double up = std::ceil(std::fabs(x));
    if (std::fmod(up, 2) == 0) up += 1;
    return x < 0 ? -up : up;
  });
}

void fnFact() {
  unary([](double x) { return x < 0 ? std::nan("") : factorial(x); });
}

void fnPermut() {
  binary([](double n, double k) {
    if (!validChoice(n, k))
      pushError(CellError::Num);
    else
      pushResult(fallingProduct(std::floor(n), std::floor(k)));
  });
}

void fnCombin() {
  binary([](double n, double k) {
    if (!validChoice(n, k))
      pushError(CellError::Num);
    else
      pushResult(combinations(std::floor(n), std::floor(k)));
  });
}

void fnRand() { pushNumber(nextRandom() / 32768.0); }

}  // namespace

void fnAbs() {
  double x = popNumber();
  if (!takePendingError()) return;
  pushNumber(std::fabs(x));
}

void fnInt() {
  double x = popNumber();
  if (!takePendingError()) return;
  pushNumber(std::floor(x));
}

void fnRound() {
  double digits = std::trunc(popNumber());
  double x = popNumber();
  if (!takePendingError()) return;
  // Halves go up towards +infinity, so -2.5 rounds to -2. Rounding to more places
  // than a double can scale gives 0 both ways.
  double r = std::pow(10.0, -digits);
  pushResult(r == 0 || std::isinf(r) ? 0 : std::floor((x + r / 2) / r) * r);
}

std::span<const FunctionBinding> mathBindings() {
  static constexpr FunctionBinding bindings[] = {
      {0, fnAbs},       {8, fnSin},      {9, fnCos},        {10, fnTan},       {11, fnAtan},    {12, fnAsin},
      {13, fnAcos},     {14, fnPi},      {15, fnLn},        {16, fnLog10},     {17, fnSign},    {21, fnCeiling},
      {22, fnSqrt},     {23, fnExp},     {24, fnInt},       {25, fnRound},     {56, fnSinh},    {57, fnCosh},
      {58, fnTanh},     {59, fnRadians}, {60, fnDegrees},   {61, fnLog},       {62, fnFloor},   {63, fnTrunc},
      {64, fnAsinh},    {65, fnAcosh},   {66, fnAtanh},     {67, fnFact},      {68, fnPermut},  {69, fnCombin},
      {82, fnRand},     {83, fnAtan2},   {85, fnRoundUp},   {86, fnRoundDown}, {87, fnEven},    {88, fnOdd},
      {89, fnMod},      {102, fnPower},
  };
  return bindings;
}

}  // namespace kelp
