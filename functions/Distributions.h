// Numeric cores of the probability distributions: densities, cumulative functions
// and their inverses, shared by the distribution and the statistical test functions.
#pragma once

namespace kelp {

// These take real parameters and give NaN outside their domain. The worksheet
// functions check their arguments (and floor degrees of freedom) before calling.
// Cumulative values are accurate to a few units in the last place of their tail, and
// the inverses are solved to full double precision.

/// ln Γ(x) for x > 0.
double logGamma(double x);

/// Standard normal density and lower-tail cumulative.
double normalDensity(double z);
double normalCdf(double z);
/// The z with normalCdf(z) = p: -infinity at 0, +infinity at 1.
double normalQuantile(double p);

/// Regularised incomplete gamma functions with shape a > 0: P(a, x) and Q(a, x) = 1 - P(a, x).
double gammaLower(double a, double x);
double gammaUpper(double a, double x);
/// Gamma density with shape a and scale 1.
double gammaDensity(double a, double x);
/// The x with gammaLower(a, x) = p (+infinity at 1), and with gammaUpper(a, x) = q (+infinity at 0).
double gammaLowerQuantile(double a, double p);
double gammaUpperQuantile(double a, double q);

/// Regularised incomplete beta function I_x(a, b) for 0 <= x <= 1, a, b > 0.
double betaCdf(double x, double a, double b);
/// The x in [0, 1] with betaCdf(x, a, b) = p.
double betaQuantile(double p, double a, double b);

/// Student's t: the two-tailed probability P(|T| > |t|), and the t >= 0 that has it.
double studentTwoTailed(double t, double df);
double studentTwoTailedQuantile(double p, double df);

/// Chi-square upper tail P(X > x), and the x that has it (+infinity at 0).
double chiSquareUpper(double x, double df);
double chiSquareUpperQuantile(double p, double df);

/// F distribution upper tail P(X > x) with (df1, df2) degrees, and the x that has it.
double fUpper(double x, double df1, double df2);
double fUpperQuantile(double p, double df1, double df2);

/// Binomial probabilities of k successes in n trials (k, n whole numbers, 0 <= p <= 1):
/// exactly k, and at most k.
double binomialProbability(double k, double n, double p);
double binomialCdf(double k, double n, double p);
/// The smallest k with binomialCdf(k, n, p) >= alpha, ties within rounding included.
double binomialQuantile(double alpha, double n, double p);
/// Poisson probability of exactly k (a whole number) and of at most k events.
double poissonProbability(double k, double mean);
double poissonCdf(double k, double mean);
/// Negative binomial: probability of f failures before the s-th success.
double negativeBinomialProbability(double f, double s, double p);
/// Hypergeometric: k successes in a sample of n from N items of which K are successes.
double hypergeometricProbability(double k, double n, double K, double N);

}  // namespace kelp
