// Probability distributions and their inverses: the worksheet functions' argument
// rules over the numeric cores of Distributions.h.
#include <cassert>
#include <cmath>

#include "formula/Evaluator.h"
#include "functions/Distributions.h"
#include "functions/FunctionFamilies.h"

namespace kelp {

namespace {

// Degrees of freedom of the t, F and chi-square functions stay below this.
constexpr double DegreesLimit = 1e10;

// Pops the call's arguments as numbers, the last first, into args[0 .. argCount).
// False when one was an error or unreadable; that error is then the pushed result.
template <int N>
bool takeNumbers(double (&args)[N]) {
  int count = argCount();
  assert(count <= N && "more arguments than the catalogue row allows");
  for (int i = count - 1; i >= 0; --i) args[i] = popNumber();
  return takePendingError();
}

void pushResult(double x) {
  if (std::isfinite(x))
    pushNumber(x);
  else
    pushError(CellError::Num);
}

void pushNumError() { pushError(CellError::Num); }

bool isProbability(double p) { return p >= 0 && p <= 1; }

bool validDegrees(double df) { return df >= 1 && df < DegreesLimit; }

void fnBetadist() {
  double args[5] = {0, 0, 0, 0, 1};
  if (!takeNumbers(args)) return;
  auto [x, alpha, beta, from, to] = args;
  // A range of no width would divide by zero.
  if (!(alpha > 0 && beta > 0 && from <= x && x <= to && from < to)) return pushNumError();
  pushResult(betaCdf((x - from) / (to - from), alpha, beta));
}

void fnBetainv() {
  double args[5] = {0, 0, 0, 0, 1};
  if (!takeNumbers(args)) return;
  auto [p, alpha, beta, from, to] = args;
  if (!(isProbability(p) && alpha > 0 && beta > 0)) return pushNumError();
  pushResult(from + (to - from) * betaQuantile(p, alpha, beta));
}

void fnGammaln() {
  double args[1];
  if (!takeNumbers(args)) return;
  if (!(args[0] > 0)) return pushNumError();
  pushResult(logGamma(args[0]));
}

void fnBinomdist() {
  double args[4];
  if (!takeNumbers(args)) return;
  double k = std::floor(args[0]), n = std::floor(args[1]), p = args[2];
  if (!(0 <= k && k <= n && isProbability(p))) return pushNumError();
  pushResult(args[3] != 0 ? binomialCdf(k, n, p) : binomialProbability(k, n, p));
}

void fnNegbinomdist() {
  double args[3];
  if (!takeNumbers(args)) return;
  double failures = std::floor(args[0]), successes = std::floor(args[1]), p = args[2];
  if (!(isProbability(p) && args[0] + args[1] - 1 > 0 && failures >= 0 && successes >= 1)) return pushNumError();
  pushResult(negativeBinomialProbability(failures, successes, p));
}

void fnHypgeomdist() {
  double args[4];
  if (!takeNumbers(args)) return;
  double k = std::floor(args[0]), n = std::floor(args[1]), found = std::floor(args[2]), all = std::floor(args[3]);
  if (!(0 <= k && k <= std::fmin(n, found) && k >= n - all + found && 0 <= n && n <= all && 0 <= found &&
        found <= all))
    return pushNumError();
  pushResult(hypergeometricProbability(k, n, found, all));
}

void fnPoisson() {
  double args[3];
  if (!takeNumbers(args)) return;
  double x = std::floor(args[0]), mean = args[1];
  // No events at all is a possible count, so x = 0 is accepted.
  if (!(args[0] >= 0 && mean > 0)) return pushNumError();
  pushResult(args[2] != 0 ? poissonCdf(x, mean) : poissonProbability(x, mean));
}

void fnCritbinom() {
  double args[3];
  if (!takeNumbers(args)) return;
  double n = std::floor(args[0]), p = args[1], alpha = args[2];
  if (!(n >= 0 && isProbability(p) && isProbability(alpha))) return pushNumError();
  pushResult(binomialQuantile(alpha, n, p));
}

void fnChidist() {
  double args[2];
  if (!takeNumbers(args)) return;
  if (!(args[0] >= 0 && validDegrees(args[1]))) return pushNumError();
  pushResult(chiSquareUpper(args[0], std::floor(args[1])));
}

void fnChiinv() {
  double args[2];
  if (!takeNumbers(args)) return;
  if (!(isProbability(args[0]) && validDegrees(args[1]))) return pushNumError();
  pushResult(chiSquareUpperQuantile(args[0], std::floor(args[1])));
}

void fnFdist() {
  double args[3];
  if (!takeNumbers(args)) return;
  if (!(args[0] >= 0 && validDegrees(args[1]) && validDegrees(args[2]))) return pushNumError();
  pushResult(fUpper(args[0], std::floor(args[1]), std::floor(args[2])));
}

void fnFinv() {
  double args[3];
  if (!takeNumbers(args)) return;
  if (!(args[0] > 0 && args[0] <= 1 && validDegrees(args[1]) && validDegrees(args[2]))) return pushNumError();
  pushResult(fUpperQuantile(args[0], std::floor(args[1]), std::floor(args[2])));
}

void fnTdist() {
  double args[3];
  if (!takeNumbers(args)) return;
  auto [x, df, tails] = args;
  if (!(df >= 1) || (tails != 1 && tails != 2)) return pushNumError();
  double twoTailed = studentTwoTailed(x, std::floor(df));
  pushResult(tails == 1 ? twoTailed / 2 : twoTailed);
}

void fnTinv() {
  double args[2];
  if (!takeNumbers(args)) return;
  if (!(args[0] > 0 && args[0] <= 1 && args[1] >= 1)) return pushNumError();
  pushResult(studentTwoTailedQuantile(args[0], std::floor(args[1])));
}

void fnGammadist() {
  double args[4];
  if (!takeNumbers(args)) return;
  auto [x, alpha, beta, cumulative] = args;
  if (!(x >= 0 && alpha > 0 && beta > 0)) return pushNumError();
  pushResult(cumulative != 0 ? gammaLower(alpha, x / beta) : gammaDensity(alpha, x / beta) / beta);
}

void fnGammainv() {
  double args[3];
  if (!takeNumbers(args)) return;
  auto [p, alpha, beta] = args;
  if (!(isProbability(p) && alpha > 0 && beta > 0)) return pushNumError();
  pushResult(beta * gammaLowerQuantile(alpha, p));
}

void fnNormdist() {
  double args[4];
  if (!takeNumbers(args)) return;
  auto [x, mean, sd, cumulative] = args;
  if (!(sd > 0)) return pushNumError();
  double z = (x - mean) / sd;
  pushResult(cumulative != 0 ? normalCdf(z) : normalDensity(z) / sd);
}

void fnNormsdist() {
  double args[1];
  if (!takeNumbers(args)) return;
  pushResult(normalCdf(args[0]));
}

void fnNorminv() {
  double args[3];
  if (!takeNumbers(args)) return;
  auto [p, mean, sd] = args;
  if (!(isProbability(p) && sd > 0)) return pushNumError();
  pushResult(mean + sd * normalQuantile(p));
}

void fnNormsinv() {
  double args[1];
  if (!takeNumbers(args)) return;
  if (!isProbability(args[0])) return pushNumError();
  pushResult(normalQuantile(args[0]));
}

void fnLognormdist() {
  double args[3];
  if (!takeNumbers(args)) return;
  auto [x, mean, sd] = args;
  if (!(x > 0 && sd > 0)) return pushNumError();
  pushResult(normalCdf((std::log(x) - mean) / sd));
}

void fnLoginv() {
  double args[3];
  if (!takeNumbers(args)) return;
  auto [p, mean, sd] = args;
  if (!(isProbability(p) && sd > 0)) return pushNumError();
  // Probability 0 is the lower end of the support, e^(-infinity) = 0.
  pushResult(std::exp(mean + sd * normalQuantile(p)));
}

void fnStandardize() {
  double args[3];
  if (!takeNumbers(args)) return;
  auto [x, mean, sd] = args;
  if (!(sd > 0)) return pushNumError();
  pushResult((x - mean) / sd);
}

void fnConfidence() {
  double args[3];
  if (!takeNumbers(args)) return;
  auto [alpha, sd, size] = args;
  double n = std::floor(size);
  if (!(alpha > 0 && alpha < 1 && sd > 0 && n >= 1)) return pushNumError();
  // The upper alpha/2 point taken from the lower tail, which keeps a small alpha exact.
  pushResult(-normalQuantile(alpha / 2) * sd / std::sqrt(n));
}

void fnExpondist() {
  double args[3];
  if (!takeNumbers(args)) return;
  auto [x, lambda, cumulative] = args;
  if (!(x >= 0 && lambda > 0)) return pushNumError();
  pushResult(cumulative != 0 ? -std::expm1(-lambda * x) : lambda * std::exp(-lambda * x));
}

void fnWeibull() {
  double args[4];
  if (!takeNumbers(args)) return;
  auto [x, alpha, beta, cumulative] = args;
  if (!(x >= 0 && alpha > 0 && beta > 0)) return pushNumError();
  double scaled = x / beta;
  double power = std::pow(scaled, alpha);
  pushResult(cumulative != 0 ? -std::expm1(-power)
                             : alpha / beta * std::pow(scaled, alpha - 1) * std::exp(-power));
}

void fnFisher() {
  double args[1];
  if (!takeNumbers(args)) return;
  // 0.5·ln((1 + x)/(1 − x)); outside (−1, 1) it is not finite, hence !!Num.
  pushResult(std::atanh(args[0]));
}

void fnFisherinv() {
  double args[1];
  if (!takeNumbers(args)) return;
  // (e^(2y) − 1)/(e^(2y) + 1), which as a quotient would overflow for y above 354.
  pushResult(std::tanh(args[0]));
}

}  // namespace

std::span<const FunctionBinding> distributionBindings() {
  static constexpr FunctionBinding bindings[] = {
      {144, fnBetadist},  {145, fnGammaln},     {146, fnBetainv},   {147, fnBinomdist},  {148, fnChidist},
      {149, fnChiinv},    {150, fnConfidence},  {151, fnCritbinom}, {152, fnExpondist},  {153, fnFdist},
      {154, fnFinv},      {155, fnFisher},      {156, fnFisherinv}, {157, fnGammadist},  {158, fnGammainv},
      {159, fnHypgeomdist}, {160, fnLognormdist}, {161, fnLoginv},  {162, fnNegbinomdist}, {163, fnNormdist},
      {164, fnNormsdist}, {165, fnNorminv},     {166, fnNormsinv},  {167, fnStandardize}, {168, fnPoisson},
      {169, fnTdist},     {170, fnWeibull},     {198, fnTinv},
  };
  return bindings;
}

}  // namespace kelp
