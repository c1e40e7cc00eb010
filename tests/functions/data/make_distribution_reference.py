#!/usr/bin/python3
"""Writes distribution_reference.txt: expected values of the distribution functions
computed with SciPy, an implementation independent of Kelp's.

Run from the repository root:
    /usr/bin/python3 tests/functions/data/make_distribution_reference.py \
        > tests/functions/data/distribution_reference.txt
"""
import math
import sys

import scipy
from scipy import special, stats

REL = 1e-9
cases = []


def case(name, args, expected, tol=REL):
    cases.append((name, args, expected, tol))


def polished(x, tail, density, p, increasing):
    """SciPy's quantile functions are less accurate than its cumulative functions
    (t.isf(0.5, 1) is 1 + 1.3e-11), so each quantile gets Newton steps on the latter."""
    sign = 1 if increasing else -1
    for _ in range(4):
        d = density(x)
        if x == 0 or not d > 0 or not math.isfinite(x):
            break
        x = x - (tail(x) - p) / (sign * d)
    return x


for x in [-40, -8.5, -3, -1.5, -0.5, -0.25, 0, 0.3, 1, 1.96, 4, 9]:
    case("Normsdist", [x], stats.norm.cdf(x))
for x, m, s in [(1, 0, 1), (-2, 1, 3), (10, 12, 0.5), (0.5, 0.7, 0.01), (-1e3, 5, 100)]:
    case("Normdist", [x, m, s, 1], stats.norm.cdf(x, m, s))
    case("Normdist", [x, m, s, 0], stats.norm.pdf(x, m, s))
for p in [1e-300, 1e-12, 0.001, 0.025, 0.3, 0.5, 0.6, 0.975, 0.999999, 1 - 2**-40]:
    case("Normsinv", [p], stats.norm.ppf(p))
for p, m, s in [(0.1, 5, 2), (0.9, -3, 0.25), (0.5, 7, 9), (1e-8, 0, 1e3)]:
    case("Norminv", [p, m, s], stats.norm.ppf(p, m, s))
for x, m, s in [(0.5, 0, 1), (3, 1, 0.5), (1e-5, 2, 2), (100, 3, 1.2)]:
    case("Lognormdist", [x, m, s], stats.norm.cdf((math.log(x) - m) / s))
for p, m, s in [(0.05, 0, 1), (0.5, 1, 2), (0.99, -1, 0.3), (1e-10, 2, 0.1)]:
    case("Loginv", [p, m, s], math.exp(m + s * stats.norm.ppf(p)))
for x, m, s in [(3, 1, 2), (-4, 6, 0.5)]:
    case("Standardize", [x, m, s], (x - m) / s)
for a, s, n in [(0.05, 2.5, 50), (0.01, 1, 10.7), (1e-6, 3, 1), (0.9, 0.2, 1000)]:
    case("Confidence", [a, s, n], stats.norm.isf(a / 2) * s / math.sqrt(math.floor(n)))

for x, lam in [(0, 2), (1, 2), (0.2, 10), (30, 0.5), (1e-9, 1)]:
    case("Expondist", [x, lam, 1], stats.expon.cdf(x, scale=1 / lam))
    case("Expondist", [x, lam, 0], stats.expon.pdf(x, scale=1 / lam))
for x, a, b in [(1, 2, 1), (105, 20, 100), (0.5, 0.7, 3), (4, 1, 2), (0, 2, 1)]:
    case("Weibull", [x, a, b, 1], stats.weibull_min.cdf(x, a, scale=b))
    case("Weibull", [x, a, b, 0], stats.weibull_min.pdf(x, a, scale=b))

for x in [0.001, 0.5, 1, 1.5, 5, 10.25, 100, 171.5, 1e5, 1e15]:
    case("Gammaln", [x], special.gammaln(x))
for x, a, b in [(10, 9, 2), (0.5, 0.3, 1), (3, 1, 1), (1e-3, 2.5, 4), (250, 200, 1), (0, 3, 2), (0, 1, 2),
                (2e4, 1e4, 1.9)]:
    case("Gammadist", [x, a, b, 1], stats.gamma.cdf(x, a, scale=b))
    case("Gammadist", [x, a, b, 0], stats.gamma.pdf(x, a, scale=b))
for p, a, b in [(0.068094, 9, 2), (0.5, 0.3, 1), (0.999, 4, 0.5), (1e-6, 2.5, 4), (0.2, 1e4, 1), (0, 2, 3)]:
    g = stats.gamma(a, scale=b)
    case("Gammainv", [p, a, b], polished(g.ppf(p), g.cdf, g.pdf, p, True))

for x, a, b in [(0.5, 2, 3), (0.2, 0.5, 0.5), (0.999, 8, 10), (1e-4, 3, 1.5), (0.3, 200, 400), (0.5, 2, 2),
                (0, 2, 3), (1, 2, 3)]:
    case("Betadist", [x, a, b], stats.beta.cdf(x, a, b))
case("Betadist", [2, 8, 10, 1, 3], stats.beta.cdf(2, 8, 10, loc=1, scale=2))
case("Betadist", [-1, 0.5, 2, -3], stats.beta.cdf(-1, 0.5, 2, loc=-3, scale=4))
for p, a, b in [(0.6875, 2, 3), (0.01, 0.5, 0.5), (0.9, 8, 10), (1e-8, 3, 1.5), (0.5, 200, 400), (0.999, 1, 1)]:
    d = stats.beta(a, b)
    case("Betainv", [p, a, b], polished(d.ppf(p), d.cdf, d.pdf, p, True))
case("Betainv", [0.2, 4, 5, 1, 3], stats.beta.ppf(0.2, 4, 5, loc=1, scale=2))
case("Betainv", [0, 4, 5, 1, 3], 1.0)
case("Betainv", [1, 4, 5, 1, 3], 3.0)

for x, df in [(2, 10), (0.1, 1), (30, 1), (1.5, 2), (4, 3), (-2, 10), (0, 5), (2.5, 30), (6, 120), (1e-3, 7),
              (3, 1e6), (2, 1e9), (2, 10.9)]:
    for tails in (1, 2):
        case("Tdist", [x, df, tails], tails * stats.t.sf(abs(x), math.floor(df)))
for p, df in [(0.05, 10), (0.5, 1), (0.001, 1), (0.999, 2), (0.2, 3), (1e-9, 5), (0.05, 1000), (1, 4),
              (0.01, 10.5)]:
    d = stats.t(math.floor(df))
    case("Tinv", [p, df], polished(d.isf(p / 2), d.sf, d.pdf, p / 2, False) if p < 1 else 0.0)
# Far in the tail SciPy's t.isf fails (1.6e101 here); one degree is the Cauchy
# distribution, whose quantile has a closed form.
case("Tinv", [1e-200, 1], 1 / math.tan(math.pi * 1e-200 / 2))

for x, df in [(3.84, 1), (0.1, 1), (18.307, 10), (1e-4, 2), (0.5, 3), (150, 100), (400, 100), (1e3, 4),
              (0, 5), (12, 7.9), (1.01e6, 1e6)]:
    case("Chidist", [x, df], stats.chi2.sf(x, math.floor(df)))
for p, df in [(0.05, 1), (0.05, 10), (0.5, 2), (0.999, 3), (1e-10, 4), (0.9, 1), (0.3, 250), (1, 5),
              (0.7, 7.9)]:
    d = stats.chi2(math.floor(df))
    case("Chiinv", [p, df], polished(d.isf(p), d.sf, d.pdf, p, False))

for x, d1, d2 in [(2, 5, 10), (0.5, 1, 1), (10, 3, 20), (1e-3, 4, 4), (1.2, 50, 60), (0, 2, 3), (300, 1, 2),
                  (1.05, 1000, 2000)]:
    case("Fdist", [x, d1, d2], stats.f.sf(x, d1, d2))
for p, d1, d2 in [(0.05, 5, 10), (0.5, 1, 1), (0.01, 1, 1), (0.99, 3, 20), (1e-7, 4, 6), (0.3, 50, 60), (1, 2, 2)]:
    d = stats.f(d1, d2)
    case("Finv", [p, d1, d2], polished(d.isf(p), d.sf, d.pdf, p, False))

for k, n, p in [(3, 10, 0.5), (0, 5, 0.2), (5, 5, 0.2), (50, 100, 0.3), (7, 20, 0.999), (250, 1000, 0.25),
                (2.9, 6.5, 0.4), (100, 200, 0.5), (3000, 10000, 0.31)]:
    for cumulative in (0, 1):
        dist = stats.binom(math.floor(n), p)
        v = dist.cdf(math.floor(k)) if cumulative else dist.pmf(math.floor(k))
        case("Binomdist", [k, n, p, cumulative], v)
for f, s, p in [(10, 5, 0.25), (0, 2, 0.5), (3.7, 2.2, 0.6), (200, 50, 0.2), (1, 1, 1)]:
    case("Negbinomdist", [f, s, p], stats.nbinom.pmf(math.floor(f), math.floor(s), p))
for k, n, K, N in [(1, 4, 8, 20), (0, 3, 5, 10), (5, 5, 10, 12), (30, 100, 300, 1000), (2, 2.9, 4.5, 9)]:
    kk, nn, KK, NN = (math.floor(v) for v in (k, n, K, N))
    case("Hypgeomdist", [k, n, K, N], stats.hypergeom.pmf(kk, NN, KK, nn))
for x, m in [(2, 2), (0, 2), (10, 3.5), (1, 0.01), (5.5, 5), (150, 100), (40, 100)]:
    case("Poisson", [x, m, 0], stats.poisson.pmf(math.floor(x), m))
    case("Poisson", [x, m, 1], stats.poisson.cdf(math.floor(x), m))
for n, p, a in [(6, 0.5, 0.75), (10, 0.3, 0.5), (100, 0.02, 0.99), (1, 0.5, 0.9), (50, 0.5, 0.01),
                (5000, 0.45, 0.3), (20, 0.9, 0)]:
    case("Critbinom", [n, p, a], float(stats.binom.ppf(a, n, p)) if a > 0 else 0.0)

for x in [0, 0.75, -0.3, 0.999999]:
    case("Fisher", [x], math.atanh(x))
for y in [0, 0.973, -2, 400]:
    case("Fisherinv", [y], math.tanh(y))

out = sys.stdout
out.write("# Reference values of the distribution functions, computed with SciPy %s (Python %s) by\n"
          % (scipy.__version__, sys.version.split()[0]))
out.write("#   /usr/bin/python3 tests/functions/data/make_distribution_reference.py"
          " > tests/functions/data/distribution_reference.txt\n")
out.write("# Each line: function, arguments, \"=\", expected value, relative tolerance.\n")
for name, args, expected, tol in cases:
    text = " ".join(repr(float(a)) for a in args)
    out.write("%s %s = %s %s\n" % (name, text, repr(float(expected)), repr(tol)))
