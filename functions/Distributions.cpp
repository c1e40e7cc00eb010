// Numeric cores of the probability distributions: incomplete gamma and beta functions,
// saddle-point forms of the discrete probabilities, and a safeguarded Newton solver
// for the inverses.
#include "functions/Distributions.h"

#include <cmath>
#include <limits>

namespace kelp {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Infinity = std::numeric_limits<double>::infinity();
constexpr double Epsilon = std::numeric_limits<double>::epsilon();
constexpr double LnSqrt2Pi = 0.918938533204672741780329736406;
constexpr double Ln2Pi = 1.837877066409345483560659472811;
constexpr double TwoPi = 6.283185307179586476925286766559;
constexpr double InvSqrt2Pi = 0.398942280401432677939946059934;
constexpr double InvSqrt2 = 0.707106781186547524400844362105;
// Keeps the continued fractions away from division by zero.
constexpr double FractionFloor = 1e-300;
// The series and fractions need about √a terms for a parameter a; this covers a up to
// 10^12 (degrees of freedom stop at 10^10) and bounds the time absurd arguments take.
constexpr int MaxTerms = 1000000;
// Above 2^53 whole numbers are no longer all representable.
constexpr double LargestCount = 9007199254740992.0;

// δ(n) = ln Γ(n + 1) − (n + ½)·ln n + n − ln √(2π), the error of Stirling's formula.
double stirlingError(double n) {
  if (n <= 15) return std::lgamma(n + 1) - (n + 0.5) * std::log(n) + n - LnSqrt2Pi;
  constexpr double S0 = 1.0 / 12, S1 = 1.0 / 360, S2 = 1.0 / 1260, S3 = 1.0 / 1680, S4 = 1.0 / 1188;
  double nn = n * n;
  if (n > 500) return (S0 - S1 / nn) / n;
  if (n > 80) return (S0 - (S1 - S2 / nn) / nn) / n;
  if (n > 35) return (S0 - (S1 - (S2 - S3 / nn) / nn) / nn) / n;
  return (S0 - (S1 - (S2 - (S3 - S4 / nn) / nn) / nn) / nn) / n;
}

// x·ln(x/m) + m − x without the cancellation of the plain formula when x is near m.
double deviance(double x, double m) {
  if (std::fabs(x - m) < 0.1 * (x + m)) {
    double v = (x - m) / (x + m);
    double s = (x - m) * v;
    if (std::fabs(s) < std::numeric_limits<double>::min()) return s;
    double term = 2 * x * v;
    v *= v;
    for (int j = 1; j < 1000; ++j) {
      term *= v;
      double next = s + term / (2 * j + 1);
      if (next == s) return next;
      s = next;
    }
  }
  return x * std::log(x / m) + m - x;
}

// Γ(n + 1)/(Γ(x + 1)·Γ(n − x + 1))·p^x·q^(n−x) for real 0 <= x <= n, with q = 1 − p.
double binomialTerm(double x, double n, double p, double q) {
  if (p == 0) return x == 0 ? 1 : 0;
  if (q == 0) return x == n ? 1 : 0;
  if (x == 0) {
    if (n == 0) return 1;
    return std::exp(p < 0.1 ? -deviance(n, n * q) - n * p : n * std::log(q));
  }
  if (x == n) return std::exp(q < 0.1 ? -deviance(n, n * p) - n * q : n * std::log(p));
  if (x < 0 || x > n) return 0;
  double lc = stirlingError(n) - stirlingError(x) - stirlingError(n - x) - deviance(x, n * p) -
              deviance(n - x, n * q);
  double lf = Ln2Pi + std::log(x) + std::log1p(-x / n);
  return std::exp(lc - 0.5 * lf);
}

// m^x·e^(−m)/Γ(x + 1) for real x >= 0.
double poissonTerm(double x, double m) {
  if (m == 0) return x == 0 ? 1 : 0;
  if (x == 0) return std::exp(-m);
  if (x < 0) return 0;
  return std::exp(-stirlingError(x) - deviance(x, m)) / std::sqrt(TwoPi * x);
}

// Both tails of the regularised incomplete gamma function: the series for P below
// x = a + 1, where it converges quickly, and Lentz's continued fraction for Q above.
void gammaTails(double a, double x, double& lower, double& upper) {
  if (std::isnan(a) || std::isnan(x) || !(a > 0) || x < 0) {
    lower = upper = NaN;
    return;
  }
  if (x == 0 || std::isinf(a)) {
    lower = 0;
    upper = 1;
    return;
  }
  if (std::isinf(x)) {
    lower = 1;
    upper = 0;
    return;
  }
  if (x < a + 1) {
    double term = 1, sum = 1;
    for (int n = 1; n < MaxTerms; ++n) {
      term *= x / (a + n);
      sum += term;
      if (term <= sum * Epsilon * 0.5) break;
    }
    lower = poissonTerm(a, x) * sum;
    upper = 1 - lower;
    return;
  }
  double b = x + 1 - a;
  double c = 1 / FractionFloor;
  double d = 1 / b;
  double h = d;
  for (int i = 1; i < MaxTerms; ++i) {
    double an = -i * (i - a);
    b += 2;
    d = an * d + b;
    if (std::fabs(d) < FractionFloor) d = FractionFloor;
    c = b + an / c;
    if (std::fabs(c) < FractionFloor) c = FractionFloor;
    d = 1 / d;
    double step = d * c;
    h *= step;
    if (std::fabs(step - 1) <= Epsilon) break;
  }
  upper = a * poissonTerm(a, x) * h;
  lower = 1 - upper;
}

// x^a·y^b/B(a, b) with y = 1 − x, through the binomial term so that large a and b
// keep their precision.
double betaFront(double x, double y, double a, double b) {
  return a * b / (a + b) * binomialTerm(a, a + b, x, y);
}

// The continued fraction of the incomplete beta function (modified Lentz).
double betaFraction(double a, double b, double x) {
  double qab = a + b, qap = a + 1, qam = a - 1;
  double c = 1;
  double d = 1 - qab * x / qap;
  if (std::fabs(d) < FractionFloor) d = FractionFloor;
  d = 1 / d;
  double h = d;
  for (int m = 1; m < MaxTerms; ++m) {
    double m2 = 2.0 * m;
    double aa = m * (b - m) * x / ((qam + m2) * (a + m2));
    d = 1 + aa * d;
    if (std::fabs(d) < FractionFloor) d = FractionFloor;
    c = 1 + aa / c;
    if (std::fabs(c) < FractionFloor) c = FractionFloor;
    d = 1 / d;
    h *= d * c;
    aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2));
    d = 1 + aa * d;
    if (std::fabs(d) < FractionFloor) d = FractionFloor;
    c = 1 + aa / c;
    if (std::fabs(c) < FractionFloor) c = FractionFloor;
    d = 1 / d;
    double step = d * c;
    h *= step;
    if (std::fabs(step - 1) <= Epsilon) break;
  }
  return h;
}

// I_x(a, b) and 1 − I_x(a, b), given x and y = 1 − x each without cancellation.
void betaTails(double x, double y, double a, double b, double& lower, double& upper) {
  if (std::isnan(x) || std::isnan(y) || !(a > 0) || !(b > 0) || x < 0 || y < 0) {
    lower = upper = NaN;
    return;
  }
  if (x == 0) {
    lower = 0;
    upper = 1;
    return;
  }
  if (y == 0) {
    lower = 1;
    upper = 0;
    return;
  }
  double front = betaFront(x, y, a, b);
  if (x < (a + 1) / (a + b + 2)) {
    lower = front * betaFraction(a, b, x) / a;
    upper = 1 - lower;
  } else {
    upper = front * betaFraction(b, a, y) / b;
    lower = 1 - upper;
  }
}

// I_x(a, b) for an x below the normal doubles, from ln x: the series' leading term
// x^a/(a·B(a, b)) is then exact.
double betaLowerFromLog(double lnx, double a, double b) {
  return std::exp(a * lnx - std::log(a) - (std::lgamma(a) + std::lgamma(b) - std::lgamma(a + b)));
}

// The arguments x = df/(df + t²) and y = t²/(df + t²) of the t distribution's
// incomplete beta, without overflow for large t.
void studentArguments(double t, double df, double& x, double& y) {
  double t2 = t * t;
  if (t2 <= df) {
    x = df / (df + t2);
    y = t2 / (df + t2);
    return;
  }
  double at = std::fabs(t);
  double r = df / at / at;
  x = r / (1 + r);
  y = 1 / (1 + r);
}

// The same for the F distribution: x = df2/(df2 + df1·f) and y = df1·f/(df2 + df1·f).
void fArguments(double f, double df1, double df2, double& x, double& y) {
  if (df1 * f <= df2) {
    double sum = df2 + df1 * f;
    x = df2 / sum;
    y = df1 * f / sum;
    return;
  }
  double r = df2 / df1 / f;
  x = r / (1 + r);
  y = 1 / (1 + r);
}

// Solves tail(x) = target on [lo, hi] for a monotone tail; slope(x) is its derivative.
// Starts from `guess`, widens a bracket around it, then takes Newton steps that fall
// back to bisection whenever a step leaves the bracket.
template <class Tail, class Slope>
double solveTail(Tail tail, Slope slope, bool increasing, double target, double guess, double lo, double hi) {
  // h(x) rises through 0 at the root whichever way the tail runs.
  double sign = increasing ? 1 : -1;
  auto h = [&](double x) { return sign * (tail(x) - target); };
  double x = guess;
  if (!(x > lo && x < hi) || !std::isfinite(x)) x = std::isfinite(lo) ? (std::isfinite(hi) ? (lo + hi) / 2 : lo + 1) : 0;
  double hx = h(x);
  if (hx == 0) return x;
  if (std::isnan(hx)) return NaN;
  double a = x, b = x;
  double step = std::fmax(1, std::fabs(x));
  // Widen towards the root: halve the gap to a finite end, or double the step
  // towards an infinite one. x follows the end nearest the root.
  for (int i = 0;; ++i, step *= 2) {
    double next = hx < 0 ? (std::isfinite(hi) ? hi - (hi - x) / 2 : x + step)
                         : (std::isfinite(lo) ? lo + (x - lo) / 2 : x - step);
    if (i > 2200 || next == x || !std::isfinite(next)) return hx < 0 ? hi : lo;
    double hn = h(next);
    if (std::isnan(hn)) return NaN;
    if (hn == 0) return next;
    if ((hn < 0) == (hx < 0)) {
      x = next;
      hx = hn;
      continue;
    }
    a = hx < 0 ? x : next;
    b = hx < 0 ? next : x;
    break;
  }
  for (int i = 0; i < 3000; ++i) {
    double d = sign * slope(x);
    double next = x - hx / d;
    bool newton = d > 0 && std::isfinite(next);
    // A step within two units in the last place: the root is as close as x can get.
    if (newton && std::fabs(next - x) <= 2 * Epsilon * std::fabs(x)) return next;
    if (!(newton && next > a && next < b)) next = a + (b - a) / 2;
    if (next <= a || next >= b) return next;
    x = next;
    hx = h(x);
    if (hx == 0 || std::isnan(hx)) return x;
    if (hx < 0)
      a = x;
    else
      b = x;
  }
  return x;
}

// Quantile of the gamma distribution (shape a, scale 1) for a lower tail p and an
// upper tail q = 1 − p; the smaller of the two is solved, to keep its precision.
double gammaQuantile(double a, double p, double q) {
  if (std::isnan(a) || std::isnan(p) || std::isnan(q) || !(a > 0) || p < 0 || q < 0) return NaN;
  if (p == 0) return 0;
  if (q == 0) return Infinity;
  // Wilson and Hilferty's cube-root normal approximation as the starting point.
  double z = p <= q ? normalQuantile(p) : -normalQuantile(q);
  double c = 1 / (9 * a);
  double root = 1 - c + z * std::sqrt(c);
  double guess = a * root * root * root;
  if (!(guess > 0)) guess = std::exp((std::log(p) + std::lgamma(a + 1)) / a);
  auto density = [a](double x) { return gammaDensity(a, x); };
  if (p <= q)
    return solveTail([a](double x) { return gammaLower(a, x); }, density, true, p, guess, 0, Infinity);
  return solveTail([a](double x) { return gammaUpper(a, x); }, [&](double x) { return -density(x); }, false, q,
                   guess, 0, Infinity);
}

}  // namespace

double logGamma(double x) { return x > 0 ? std::lgamma(x) : NaN; }

double normalDensity(double z) { return InvSqrt2Pi * std::exp(-0.5 * z * z); }

double normalCdf(double z) { return 0.5 * std::erfc(-z * InvSqrt2); }

double normalQuantile(double p) {
  if (std::isnan(p) || p < 0 || p > 1) return NaN;
  if (p == 0) return -Infinity;
  if (p == 1) return Infinity;
  if (p == 0.5) return 0;
  double q = p < 0.5 ? p : 1 - p;  // exact for p >= 0.5
  // Abramowitz and Stegun 26.2.23 (error below 4.5e-4), then Halley steps on the lower tail.
  double t = std::sqrt(-2 * std::log(q));
  double x = -(t - (2.515517 + t * (0.802853 + t * 0.010328)) / (1 + t * (1.432788 + t * (0.189269 + t * 0.001308))));
  for (int i = 0; i < 10; ++i) {
    double density = normalDensity(x);
    if (density == 0) break;
    double u = (normalCdf(x) - q) / density;
    double dx = u / (1 + x * u / 2);
    x -= dx;
    if (std::fabs(dx) <= 4 * Epsilon * std::fabs(x)) break;
  }
  return p < 0.5 ? x : -x;
}

double gammaLower(double a, double x) {
  double lower, upper;
  gammaTails(a, x, lower, upper);
  return lower;
}

double gammaUpper(double a, double x) {
  double lower, upper;
  gammaTails(a, x, lower, upper);
  return upper;
}

double gammaDensity(double a, double x) {
  if (std::isnan(a) || std::isnan(x) || !(a > 0)) return NaN;
  if (x < 0) return 0;
  if (x == 0) return a < 1 ? Infinity : (a == 1 ? 1 : 0);
  if (a < 1) return poissonTerm(a, x) * a / x;
  return poissonTerm(a - 1, x);
}

double gammaLowerQuantile(double a, double p) { return gammaQuantile(a, p, 1 - p); }

double gammaUpperQuantile(double a, double q) { return gammaQuantile(a, 1 - q, q); }

double betaCdf(double x, double a, double b) {
  if (x <= 0 && !(x < 0)) return a > 0 && b > 0 ? 0 : NaN;
  if (!(x >= 0 && x <= 1)) return NaN;
  double lower, upper;
  betaTails(x, 1 - x, a, b, lower, upper);
  return lower;
}

double betaQuantile(double p, double a, double b) {
  if (std::isnan(p) || p < 0 || p > 1 || !(a > 0) || !(b > 0)) return NaN;
  if (p == 0) return 0;
  if (p == 1) return 1;
  auto slope = [a, b](double x) {
    double y = 1 - x;
    return betaFront(x, y, a, b) / (x * y);
  };
  double guess = a / (a + b);
  if (p <= 0.5) {
    auto lower = [a, b](double x) {
      double l, u;
      betaTails(x, 1 - x, a, b, l, u);
      return l;
    };
    return solveTail(lower, slope, true, p, guess, 0, 1);
  }
  auto upper = [a, b](double x) {
    double l, u;
    betaTails(x, 1 - x, a, b, l, u);
    return u;
  };
  return solveTail(upper, [&](double x) { return -slope(x); }, false, 1 - p, guess, 0, 1);
}

double studentTwoTailed(double t, double df) {
  if (std::isnan(t) || !(df > 0)) return NaN;
  if (std::isinf(t)) return 0;
  double t2 = t * t;
  // The continued fraction's terms cancel to about df·ε when df is large; there the
  // normal tail with the first term of the large-df expansion is the more exact. The
  // expansion's next term, relative to the tail, stays below (1 + t²)^4/(4·df²).
  double fractionError = Epsilon * df / (t2 + 1);
  double square = (1 + t2) * (1 + t2);
  double expansionError = square * square / (4 * df * df);
  if (expansionError < fractionError) {
    double at = std::fabs(t);
    return 2 * (normalCdf(-at) + normalDensity(at) * (t2 * at + at) / (4 * df));
  }
  double x, y, lower, upper;
  studentArguments(t, df, x, y);
  if (x < std::numeric_limits<double>::min()) return betaLowerFromLog(std::log(df) - 2 * std::log(std::fabs(t)), df / 2, 0.5);
  betaTails(x, y, df / 2, 0.5, lower, upper);
  return lower;
}

double studentTwoTailedQuantile(double p, double df) {
  if (std::isnan(p) || p < 0 || p > 1 || !(df > 0)) return NaN;
  if (p == 1) return 0;
  if (p == 0) return Infinity;
  // The normal quantile with the first two Cornish-Fisher terms as the starting point.
  double z = -normalQuantile(p / 2);
  double z3 = z * z * z;
  double guess = z + (z3 + z) / (4 * df) + (5 * z3 * z * z + 16 * z3 + 3 * z) / (96 * df * df);
  auto tail = [df](double t) { return studentTwoTailed(t, df); };
  // d/dt of I_{df/(df+t²)}(df/2, ½) is −2·x^a·y^b/(B(a, b)·t).
  auto slope = [df](double t) {
    double x, y;
    studentArguments(t, df, x, y);
    return -2 * betaFront(x, y, df / 2, 0.5) / t;
  };
  return solveTail(tail, slope, false, p, guess, 0, Infinity);
}

double chiSquareUpper(double x, double df) {
  if (std::isnan(x) || !(df > 0)) return NaN;
  return gammaUpper(df / 2, std::fmax(x, 0) / 2);
}

double chiSquareUpperQuantile(double p, double df) {
  if (!(df > 0)) return NaN;
  return 2 * gammaUpperQuantile(df / 2, p);
}

double fUpper(double x, double df1, double df2) {
  if (std::isnan(x) || !(df1 > 0) || !(df2 > 0)) return NaN;
  if (x <= 0) return 1;
  if (std::isinf(x)) return 0;
  double xx, yy, lower, upper;
  fArguments(x, df1, df2, xx, yy);
  if (xx < std::numeric_limits<double>::min()) return betaLowerFromLog(std::log(df2) - std::log(df1) - std::log(x), df2 / 2, df1 / 2);
  betaTails(xx, yy, df2 / 2, df1 / 2, lower, upper);
  return lower;
}

double fUpperQuantile(double p, double df1, double df2) {
  if (std::isnan(p) || p < 0 || p > 1 || !(df1 > 0) || !(df2 > 0)) return NaN;
  if (p == 1) return 0;
  if (p == 0) return Infinity;
  auto tail = [df1, df2](double x) { return fUpper(x, df1, df2); };
  // d/dx of I_{df2/(df2+df1·x)}(df2/2, df1/2) is −x'^a·y'^b/(B(a, b)·x).
  auto slope = [df1, df2](double x) {
    double xx, yy;
    fArguments(x, df1, df2, xx, yy);
    return -betaFront(xx, yy, df2 / 2, df1 / 2) / x;
  };
  return solveTail(tail, slope, false, p, 1, 0, Infinity);
}

double binomialProbability(double k, double n, double p) {
  if (std::isnan(p) || p < 0 || p > 1 || !(n >= 0) || std::isnan(k)) return NaN;
  return binomialTerm(k, n, p, 1 - p);
}

double binomialCdf(double k, double n, double p) {
  if (std::isnan(p) || p < 0 || p > 1 || !(n >= 0) || std::isnan(k)) return NaN;
  if (k < 0) return 0;
  if (k >= n) return 1;
  // P(X <= k) = I_q(n − k, k + 1), one continued fraction instead of k + 1 terms.
  double lower, upper;
  betaTails(1 - p, p, n - k, k + 1, lower, upper);
  return lower;
}

double binomialQuantile(double alpha, double n, double p) {
  if (std::isnan(alpha) || alpha < 0 || alpha > 1 || std::isnan(p) || p < 0 || p > 1 || !(n >= 0) ||
      n > LargestCount)
    return NaN;
  if (alpha == 0 || p == 0) return 0;
  if (alpha == 1) return n;
  // A criterion equal to a cumulative value in exact arithmetic must still find it
  // after rounding, so it is lowered by a few units in the last place.
  double target = alpha * (1 - 64 * Epsilon);
  double below = -1, at = n;  // cdf(below) < target <= cdf(at)
  while (at - below > 1) {
    double mid = std::floor(below + (at - below) / 2);
    if (mid <= below || mid >= at) break;  // counts beyond 2^53 are not all representable
    if (binomialCdf(mid, n, p) >= target)
      at = mid;
    else
      below = mid;
  }
  return at;
}

double poissonProbability(double k, double mean) {
  if (std::isnan(k) || !(mean >= 0)) return NaN;
  return poissonTerm(k, mean);
}

double poissonCdf(double k, double mean) {
  if (std::isnan(k) || !(mean >= 0)) return NaN;
  if (k < 0) return 0;
  if (mean == 0) return 1;
  return gammaUpper(std::floor(k) + 1, mean);
}

double negativeBinomialProbability(double f, double s, double p) {
  if (std::isnan(f) || !(s > 0) || std::isnan(p) || p < 0 || p > 1) return NaN;
  if (f < 0) return 0;
  // C(f + s − 1, s − 1)·p^s·q^f = s/(f + s)·C(f + s, s)·p^s·q^f.
  return s / (f + s) * binomialTerm(s, f + s, p, 1 - p);
}

double hypergeometricProbability(double k, double n, double K, double N) {
  if (std::isnan(k) || std::isnan(n) || std::isnan(K) || std::isnan(N)) return NaN;
  if (k < 0 || k > n || k > K || n - k > N - K) return 0;
  if (n == 0) return 1;
  // Each binomial coefficient as a binomial term at p = n/N; the powers cancel.
  double p = n / N, q = (N - n) / N;
  return binomialTerm(k, K, p, q) * binomialTerm(n - k, N - K, p, q) / binomialTerm(n, N, p, q);
}

}  // namespace kelp
