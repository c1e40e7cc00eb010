// Financial functions: the annuity family (Fv, Pv, Pmt, IPmt, PPmt, Nper, Rate), the
// cash-flow measures (Npv, Irr, Mirr) and depreciation (Sln, Syd, Ddb).
#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <vector>

#include "formula/Evaluator.h"
#include "functions/FunctionFamilies.h"

namespace kelp {

namespace {

constexpr double Tolerance = 0.0000001;
constexpr int32_t NewtonSteps = 20;
// Rate's Newton steps from a guess far above a long loan's rate move about 1/nper each,
// so 20 steps give up on a 30-year monthly mortgage; a run that has not settled by then
// goes on to this many before it counts as failed.
constexpr int32_t RateNewtonSteps = 1000;
// Irr takes at most this many cash flows; Mirr fewer than MirrLimit.
constexpr size_t IrrLimit = 99;
constexpr size_t MirrLimit = 8000;

// A result that is not finite never becomes a cell number: later formulas would take it
// for an ordinary value. Where a division by zero is the plain cause the caller says
// so; anything else is !!Num.
void pushChecked(double d, CellError ifInfinite = CellError::Num) {
  if (std::isnan(d))
    pushError(CellError::Num);
  else if (std::isinf(d))
    pushError(ifInfinite);
  else
    pushNumber(d);
}

// Pops the call's numbers into a[0..argCount); slots for arguments not given keep what
// the caller put there. False (the error pushed) when an argument failed.
bool popArguments(double* a, int32_t slots) {
  assert(argCount() <= slots && "more arguments than the catalogue row allows");
  (void)slots;
  for (int32_t i = argCount() - 1; i >= 0; --i) a[i] = popNumber();
  return takePendingError();
}

// Payments at the beginning of each period for any type but 0.
double typeOf(double type) { return type != 0 ? 1 : 0; }

// (1 + r)^n and (1 + r)^n − 1 from the one exponent n·ln(1 + r): the second stays exact
// for small rates, and the pair agrees to the last bits, which the annuity forms need
// where q·pv and the payments' sum nearly cancel. Rates of −1 and below (no logarithm)
// take plain powers.
struct Growth {
  double q;
  double qLess1;
};

Growth growth(double r, double n) {
  if (r <= -1) {
    double q = std::pow(1 + r, n);
    return {q, q - 1};
  }
  double e = n * std::log1p(r);
  return {std::exp(e), std::expm1(e)};
}

double futureValue(double r, double n, double pmt, double pv, double t) {
  if (r == 0) return -(n * pmt + pv);
  Growth g = growth(r, n);
  return -((1 + r * t) * (pmt / r) * g.qLess1 + g.q * pv);
}

double payment(double r, double n, double pv, double fv, double t) {
  if (r == 0) return -(pv + fv) / n;
  Growth g = growth(r, n);
  return -((g.q * pv + fv) * r) / ((1 + r * t) * g.qLess1);
}

double presentValue(double r, double n, double pmt, double fv, double t) {
  if (r == 0) return -fv - n * pmt;
  Growth g = growth(r, n);
  return -(((1 + r * t) * pmt / r) * g.qLess1 + fv) / g.q;
}

// Fv(rate, per + t − 1, p, pv, t)·rate with p the payment. The balance after k periods
// is taken as the present value of the n − k periods left: it equals that future value,
// but late in a long loan at a high rate the future value cancels q·pv against the
// payments' sum, both some 10^20 times larger than the balance.
double interestPayment(double r, double per, double n, double pv, double fv, double t) {
  double p = payment(r, n, pv, fv, t);
  return -presentValue(r, n - (per + t - 1), p, fv, t) * r + 0.0;  // + 0.0: no −0
}

void fnFv() {
  double a[5] = {0, 0, 0, 0, 0};  // rate, nper, pmt, pv, type
  if (!popArguments(a, 5)) return;
  pushChecked(futureValue(a[0], a[1], a[2], a[3], typeOf(a[4])));
}

void fnPv() {
  double a[5] = {0, 0, 0, 0, 0};  // rate, nper, pmt, fv, type
  if (!popArguments(a, 5)) return;
  double r = a[0], n = a[1], pmt = a[2], fv = a[3], t = typeOf(a[4]);
  if (r != 0 && growth(r, n).q == 0) {  // a rate of −1 discounts by nothing
    pushError(CellError::Div0);
    return;
  }
  pushChecked(presentValue(r, n, pmt, fv, t));
}

void fnPmt() {
  double a[5] = {0, 0, 0, 0, 0};  // rate, nper, pv, fv, type
  if (!popArguments(a, 5)) return;
  pushChecked(payment(a[0], a[1], a[2], a[3], typeOf(a[4])));
}

void fnIPmt() {
  double a[6] = {0, 0, 0, 0, 0, 0};  // rate, per, nper, pv, fv, type
  if (!popArguments(a, 6)) return;
  pushChecked(interestPayment(a[0], a[1], a[2], a[3], a[4], typeOf(a[5])));
}

void fnPPmt() {
  double a[6] = {0, 0, 0, 0, 0, 0};  // rate, per, nper, pv, fv, type
  if (!popArguments(a, 6)) return;
  double t = typeOf(a[5]);
  pushChecked(payment(a[0], a[2], a[3], a[4], t) - interestPayment(a[0], a[1], a[2], a[3], a[4], t));
}

void fnNper() {
  double a[5] = {0, 0, 0, 0, 0};  // rate, pmt, pv, fv, type
  if (!popArguments(a, 5)) return;
  double r = a[0], pmt = a[1], pv = a[2], fv = a[3], t = typeOf(a[4]);
  if (r == 0) {
    pushChecked(-(pv + fv) / pmt, CellError::Div0);
    return;
  }
  // ln((1 − fv/c)/(pv/c + 1)) with the quotient multiplied through by c, so that a zero
  // payment (c = 0) gives the plain compounding answer ln(−fv/pv).
  double c = (1 + r * t) * pmt / r;
  pushChecked(std::log((c - fv) / (pv + c)) / std::log1p(r));
}

// Rate's equation f(r) = 0 and its slope. At r = 0 the quotients by r are replaced by
// their limits, so a guess or a step landing on 0 carries on.
struct RateEquation {
  double n, pmt, pv, fv, t;

  double value(double r) const {
    if (r == 0) return n * pmt + pv + fv;
    Growth g = growth(r, n);
    return g.qLess1 / r * (1 + r * t) * pmt + g.q * pv + fv;
  }

  double slope(double r) const {
    if (r == 0) return pmt * (n * (n - 1) / 2 + t * n) + n * pv;
    Growth g = growth(r, n);
    double q1 = r > -1 ? g.q / (1 + r) : std::pow(1 + r, n - 1);
    return pmt * (1 + r * t) * (n * r * q1 - g.qLess1) / (r * r) + pmt * t * g.qLess1 / r + n * pv * q1;
  }

  // One Newton step from r; not finite when the slope is 0 or the powers fail.
  double step(double r) const {
    double d = slope(r);
    return d == 0 ? NAN : r - value(r) / d;
  }
};

void fnRate() {
  double a[6] = {0, 0, 0, 0, 0, 0.1};  // nper, pmt, pv, fv, type, guess
  if (!popArguments(a, 6)) return;
  RateEquation f{a[0], a[1], a[2], a[3], typeOf(a[4])};
  double r = a[5];
  double next = f.step(r);
  for (int32_t i = 0; std::isfinite(next) && std::fabs(next - r) > Tolerance && i < RateNewtonSteps; ++i) {
    r = next;
    next = f.step(r);
  }
  // A rate of −100% or below solves the equation when type is 1 and fv is 0 (every term
  // carries 1 + r) but is no rate of an annuity.
  if (!std::isfinite(next) || std::fabs(next - r) > Tolerance || next <= -1) {
    pushError(CellError::Num);
    return;
  }
  pushNumber(next);
}

// Pops the cash-flow argument of Irr and Mirr: its cells' numbers. Anything but a
// reference is !!Num, except that an error value given directly travels on.
void popCashFlows(std::vector<double>& out) {
  if (isReference(topKind())) {
    SheetArea area{};
    if (popArea(area)) collectAreaNumbers(area, out);
    return;
  }
  CellValue value;
  popResolved(value);
  setPendingError(value.kind == ValueKind::Error ? cellError(value) : CellError::Num);
  releaseValue(value);
}

void fnNpv() {
  // The values count first argument first, but the stack gives the last one first: each
  // argument's numbers are kept apart and discounted in reverse order of popping.
  std::vector<std::vector<double>> parts(argCount() - 1);
  for (auto part = parts.rbegin(); part != parts.rend(); ++part) collectArgumentNumbers(*part);
  double rate = popNumber();
  if (!takePendingError()) return;
  if (rate == -1) {
    pushError(CellError::Div0);
    return;
  }
  double sum = 0;
  double factor = 1;
  for (const auto& part : parts) {
    for (double v : part) {
      factor *= 1 + rate;
      sum += v / factor;
    }
  }
  pushChecked(sum);
}

void fnIrr() {
  double guess = argCount() == 2 ? popNumber() : 0.1;
  std::vector<double> flows;
  popCashFlows(flows);
  if (!takePendingError()) return;
  if (flows.size() > IrrLimit) {
    pushError(CellError::Num);
    return;
  }
  if (guess == -1) guess = -1.1;
  // The residual is judged against the size of the flows: at the nearest double to the
  // root, flows near 1e9 still leave one rounding unit of their sums, 1.2e-7.
  double scale = 0;
  for (double c : flows) scale = std::max(scale, std::fabs(c));
  double x = 1 / (1 + guess);
  for (int32_t i = 0; i < NewtonSteps; ++i) {
    // p(x) = c0 + c1·x + c2·x² + … and its slope by Horner's scheme.
    double p = 0;
    double slope = 0;
    for (auto c = flows.rbegin(); c != flows.rend(); ++c) {
      slope = slope * x + p;
      p = p * x + *c;
    }
    if (slope == 0 || !std::isfinite(p) || !std::isfinite(slope)) break;
    double next = x - p / slope;
    if (!std::isfinite(next)) break;
    bool converged =
        2 * std::fabs(p / slope) / (std::fabs(x) + std::fabs(next)) <= Tolerance && std::fabs(p) < Tolerance * scale;
    x = next;
    if (converged) {
      pushChecked(1 / x - 1);
      return;
    }
  }
  pushError(CellError::Num);
}

void fnMirr() {
  double reinvestRate = popNumber();
  double financeRate = popNumber();
  std::vector<double> values;
  popCashFlows(values);
  if (!takePendingError()) return;
  if (values.size() < 2 || values.size() >= MirrLimit) {
    pushError(CellError::Num);
    return;
  }
  // Without both an outlay and an income there is no rate to speak of.
  bool anyPositive = std::any_of(values.begin(), values.end(), [](double v) { return v > 0; });
  bool anyNegative = std::any_of(values.begin(), values.end(), [](double v) { return v < 0; });
  if (!anyPositive || !anyNegative) {
    pushError(CellError::Div0);
    return;
  }
  double positive = 0;
  double negative = 0;
  double reinvestFactor = 1;
  double financeFactor = 1;
  for (double v : values) {
    reinvestFactor *= 1 + reinvestRate;
    financeFactor *= 1 + financeRate;
    if (v > 0 && reinvestRate != -1) positive += v / reinvestFactor;
    if (v < 0 && financeRate != -1) negative += v / financeFactor;
  }
  double divisor = negative * (1 + financeRate);
  if (divisor == 0) {
    pushNumber(0);
    return;
  }
  double n = static_cast<double>(values.size());
  pushChecked(std::pow(-std::pow(1 + reinvestRate, n) * positive / divisor, 1 / (n - 1)) - 1);
}

void fnSln() {
  double a[3] = {0, 0, 0};  // cost, salvage, life
  if (!popArguments(a, 3)) return;
  if (a[2] == 0) {
    pushError(CellError::Div0);
    return;
  }
  pushChecked((a[0] - a[1]) / a[2]);
}

void fnSyd() {
  double a[4] = {0, 0, 0, 0};  // cost, salvage, life, per
  if (!popArguments(a, 4)) return;
  double cost = a[0], salvage = a[1], life = a[2], per = a[3];
  if (!(life > 0 && per >= 0 && per <= life && salvage >= 0)) {
    pushError(CellError::Num);
    return;
  }
  pushChecked((life - per + 1) * (cost - salvage) * 2 / ((life + 1) * life));
}

void fnDdb() {
  double a[5] = {0, 0, 0, 0, 2};  // cost, salvage, life, period, factor
  if (!popArguments(a, 5)) return;
  double cost = a[0], salvage = a[1], life = a[2], period = a[3], factor = a[4];
  if (!(factor > 0 && period > 0 && life > 0 && salvage >= 0 && cost >= 0 && life >= period)) {
    pushError(CellError::Num);
    return;
  }
  // The value after j whole periods is max(cost·w^j, salvage) with w = 1 − factor/life
  // (salvage from the first period on when w < 0), so the last period is computed
  // directly instead of by a loop as long as the life. A period below 1 has taken none.
  double k = std::floor(period);
  if (k < 1) {
    pushNumber(0);
    return;
  }
  double w = 1 - factor / life;
  double before = k == 1 ? cost : std::max(cost * std::pow(std::max(w, 0.0), k - 1), salvage);
  double d = before * factor / life;
  double after = before - d;
  if (after < salvage) d -= salvage - after;
  if (d < 0) d = 0;
  pushChecked(d);
}

}  // namespace

std::span<const FunctionBinding> financialBindings() {
  static constexpr FunctionBinding bindings[] = {
      {26, fnFv},  {27, fnPmt}, {28, fnIPmt}, {29, fnNper}, {30, fnPPmt}, {31, fnRate},  {32, fnPv},
      {84, fnNpv}, {94, fnSyd}, {95, fnSln},  {96, fnDdb},  {97, fnIrr},  {134, fnMirr},
  };
  return bindings;
}

}  // namespace kelp
