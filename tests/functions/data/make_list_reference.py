#!/usr/bin/python3
"""Writes the reference tables of the list and statistical functions: cell contents
and formulas over them with values from NumPy, SciPy and Python's fractions module.

Run: /usr/bin/python3 tests/functions/data/make_list_reference.py aggregates > tests/functions/data/list_reference.tsv
     /usr/bin/python3 tests/functions/data/make_list_reference.py statistics > tests/functions/data/list_statistics_reference.tsv

A line "cells<TAB>column<TAB>value..." fills that column from row 1: a number, an
empty field for an empty cell, "text:..." for a text, "logical:1" or "logical:0".
Other lines: formula, expected cell value, tolerance (r: relative).
"""
import math
import sys
from collections import Counter
from fractions import Fraction

import numpy as np
import scipy
from scipy import stats

REL = "r1e-9"
A = [3.5, 1.25, 7, 2, 9.75, 4, 4, 6.5, 8, 2, 5.125, 4]
B = [2.1, 0.5, 6.8, 1.9, 10.2, 3.3, 4.4, 6.1, 8.8, 1.2, 5.0, 3.9]
# Numbers mixed with texts, logical values and a blank.
C = [5, "text:abc", "logical:1", "", 2.5, "logical:0", "text:7", -1.5]
# Large numbers close together, where a variance by sums of squares cancels.
D = [1e9 + 1, 1e9 + 2, 1e9 + 4, 1e9 + 7, 1e9 + 11]
# A 3 x 2 table of observed (E:F) and expected (G:H) counts.
E, F = [58, 11, 10], [35, 25, 23]
G, H = [45.35, 17.56, 16.09], [47.65, 18.44, 16.91]
I = [1, 2, 3, 4, 5]
J = [0.1, 0.2, 0.3, 0.25, 0.15]
K = [7, 3, 3, 9, 1, 5]

columns = {"A": A, "B": B, "C": C, "D": D, "E": E, "F": F, "G": G, "H": H, "I": I, "J": J, "K": K}
rows = []


def show(x):
    x = float(x)
    if math.isnan(x) or math.isinf(x):
        return "!!Num"
    return repr(x)


def case(formula, value, tolerance=REL):
    rows.append(f"={formula}\t{show(value)}\t{tolerance}")


def numbers(values):
    return [v for v in values if isinstance(v, (int, float))]


def a_values(values):
    """How the "A" forms read cells: texts are 0, logical values 1 or 0."""
    out = []
    for v in values:
        if isinstance(v, (int, float)):
            out.append(v)
        elif v.startswith("text:"):
            out.append(0)
        elif v.startswith("logical:"):
            out.append(int(v[8:]))
    return out


def aggregates():
    for ref, data in [("A1:A12", A), ("B1:B12", B), ("C1:C8", C), ("D1:D5", D)]:
        x = np.array(numbers(data), dtype=float)
        case(f"Sum({ref})", x.sum())
        case(f"Product({ref})", x.prod())
        case(f"Average({ref})", x.mean())
        case(f"Max({ref})", x.max())
        case(f"Min({ref})", x.min())
        case(f"Count({ref})", len(x))
        case(f"CountA({ref})", sum(1 for v in data if v != ""))
        case(f"Var({ref})", x.var(ddof=1))
        case(f"VarP({ref})", x.var(ddof=0))
        case(f"Stdev({ref})", x.std(ddof=1))
        case(f"StdevP({ref})", x.std(ddof=0))
        case(f"Sumsq({ref})", (x * x).sum())
        a = np.array(a_values(data), dtype=float)
        case(f"AverageA({ref})", a.mean())
        case(f"MaxA({ref})", a.max())
        case(f"MinA({ref})", a.min())
        case(f"VarA({ref})", a.var(ddof=1))
        case(f"VarpA({ref})", a.var(ddof=0))
        case(f"StdevA({ref})", a.std(ddof=1))
        case(f"StdevpA({ref})", a.std(ddof=0))
        # Subtotal over the same numbers; CountA counts every non-empty cell.
        for number, value in [(1, x.mean()), (2, len(x)), (3, sum(1 for v in data if v != "")), (4, x.max()),
                              (5, x.min()), (6, x.prod()), (7, x.std(ddof=1)), (8, x.std(ddof=0)), (9, x.sum()),
                              (10, x.var(ddof=1)), (11, x.var(ddof=0))]:
            case(f"Subtotal({number},{ref})", value)
    # Several arguments: areas and numbers given directly.
    both = np.array(A + B[:3] + [2.5, -4], dtype=float)
    case("Sum(A1:A12,B1:B3,2.5,-4)", both.sum())
    case("Product(A1:A3,B1:B3,2.5,-4)", np.prod(A[:3] + B[:3] + [2.5, -4]))
    case("Average(A1:A12,B1:B3,2.5,-4)", both.mean())
    case("Var(A1:A12,B1:B3,2.5,-4)", both.var(ddof=1))
    case("StdevP(A1:A12,B1:B3,2.5,-4)", both.std(ddof=0))
    case("Max(A1:A12,B1:B3,2.5,-4)", both.max())
    case("Min(A1:A12,B1:B3,2.5,-4)", both.min())
    case("Subtotal(9,A1:A6,B1:B6)", sum(A[:6]) + sum(B[:6]))


def percentrank(data, x, significance=3):
    s = sorted(Fraction(v) for v in data)
    x = Fraction(x)
    if x in s:
        position = Fraction(s.index(x))
    else:
        i = max(k for k in range(len(s)) if s[k] < x)
        position = i + (x - s[i]) / (s[i + 1] - s[i])
    r = position / (len(s) - 1)
    scale = 10 ** significance
    return float(Fraction(math.floor(r * scale), scale))


def rank(data, x, ascending=False):
    s = sorted(data, reverse=not ascending)
    return s.index(x) + 1 if x in s else 0


def mode(data):
    counts = Counter(data)
    best = max(counts.values())
    return max(v for v, c in counts.items() if c == best)


def statistics():
    for ref, data in [("A1:A12", A), ("B1:B12", B), ("D1:D5", D), ("K1:K6", K)]:
        x = np.array(data, dtype=float)
        case(f"Median({ref})", np.median(x))
        case(f"Mode({ref})", mode(data))
        case(f"Avedev({ref})", np.mean(np.abs(x - x.mean())))
        case(f"Devsq({ref})", ((x - x.mean()) ** 2).sum())
        case(f"Geomean({ref})", stats.gmean(x))
        case(f"Harmean({ref})", stats.hmean(x))
        case(f"Kurt({ref})", stats.kurtosis(x, fisher=True, bias=False))
        case(f"Skew({ref})", stats.skew(x, bias=False))
        for k in [0, 0.25, 0.3, 0.5, 0.9, 1]:
            case(f"Percentile({ref},{k})", np.percentile(x, k * 100, method="linear"))
        for n in [1, 2, len(data)]:
            case(f"Large({ref},{n})", sorted(data, reverse=True)[n - 1])
            case(f"Small({ref},{n})", sorted(data)[n - 1])
        for p in [0, 0.2, 0.5]:
            case(f"Trimmean({ref},{p})", stats.trim_mean(x, p / 2))
    case("Median(A1:A11)", np.median(A[:11]))
    case("Median(A1:A3,10,B1:B2)", np.median(A[:3] + [10] + B[:2]))
    case("Geomean(A1:A12,2,B1:B3)", stats.gmean(A + [2] + B[:3]))
    for x, sig in [(4, None), (5, None), (5, 2), (1.25, None), (9.75, None), (6.9, 5), (2, 1)]:
        args = f"A1:A12,{x}" + (f",{sig}" if sig else "")
        case(f"Percentrank({args})", percentrank(A, x, sig or 3))
    case("Percentrank(K1:K6,3)", percentrank(K, 3))
    case("Percentrank(K1:K6,4)", percentrank(K, 4))
    for x in [4, 9.75, 1.25, 2, 4.5]:
        case(f"Rank({x},A1:A12)", rank(A, x))
        case(f"Rank({x},A1:A12,1)", rank(A, x, True))
    a, b = np.array(A), np.array(B)
    fit = stats.linregress(a, b)
    residuals = b - (fit.intercept + fit.slope * a)
    case("Slope(B1:B12,A1:A12)", fit.slope)
    case("Intercept(B1:B12,A1:A12)", fit.intercept)
    case("Forecast(5.5,B1:B12,A1:A12)", fit.intercept + fit.slope * 5.5)
    case("Pearson(A1:A12,B1:B12)", stats.pearsonr(a, b)[0])
    case("Correl(A1:A12,B1:B12)", stats.pearsonr(a, b)[0])
    case("Rsq(B1:B12,A1:A12)", fit.rvalue ** 2)
    case("Steyx(B1:B12,A1:A12)", math.sqrt((residuals ** 2).sum() / (len(a) - 2)))
    case("Covar(A1:A12,B1:B12)", np.cov(a, b, bias=True)[0][1])
    case("Sumproduct(A1:A12,B1:B12)", (a * b).sum())
    case("Sumproduct(A1:A3,B1:B3,K1:K3)", (a[:3] * b[:3] * np.array(K[:3])).sum())
    case("Sumxmy2(A1:A12,B1:B12)", ((a - b) ** 2).sum())
    case("Sumx2my2(A1:A12,B1:B12)", (a ** 2 - b ** 2).sum())
    case("Sumx2py2(A1:A12,B1:B12)", (a ** 2 + b ** 2).sum())
    observed = np.array([E, F]).T
    expected = np.array([G, H]).T
    statistic = ((observed - expected) ** 2 / expected).sum()
    case("Chitest(E1:F3,G1:H3)", stats.chi2.sf(statistic, (3 - 1) * (2 - 1)))
    statistic = ((np.array(E) - np.array(G)) ** 2 / np.array(G)).sum()
    case("Chitest(E1:E3,G1:G3)", stats.chi2.sf(statistic, 2))
    for ref1, ref2, x, y in [("A1:A12", "B1:B10", A, B[:10]), ("B1:B5", "A1:A12", B[:5], A)]:
        f = np.var(x, ddof=1) / np.var(y, ddof=1)
        d1, d2 = len(x) - 1, len(y) - 1
        case(f"Ftest({ref1},{ref2})", 2 * min(stats.f.cdf(f, d1, d2), stats.f.sf(f, d1, d2)))
    n = len(A)
    case("Ztest(A1:A12,4)", stats.norm.sf((a.mean() - 4) / (a.std(ddof=1) / math.sqrt(n))))
    case("Ztest(A1:A12,6,2.5)", stats.norm.sf((a.mean() - 6) / (2.5 / math.sqrt(n))))
    values, probabilities = np.array(I), np.array(J)
    # The interval takes its lower limit and leaves out its upper one.
    case("Prob(I1:I5,J1:J5,2,4)", probabilities[(values >= 2) & (values < 4)].sum())
    case("Prob(I1:I5,J1:J5,1.5,5.5)", probabilities[(values >= 1.5) & (values < 5.5)].sum())
    case("Prob(I1:I5,J1:J5,3)", probabilities[values == 3].sum())


which = sys.argv[1] if len(sys.argv) > 1 else ""
if which not in ("aggregates", "statistics"):
    sys.exit("usage: make_list_reference.py aggregates|statistics")
(aggregates if which == "aggregates" else statistics)()
title = "list aggregates" if which == "aggregates" else "list statistics"
target = "list_reference.tsv" if which == "aggregates" else "list_statistics_reference.tsv"
print(f"# Reference values of the {title}: formula, expected cell value, tolerance (r: relative).")
print("# Expected values come from NumPy, SciPy and Python's fractions module. A \"cells\" line fills")
print("# a column from row 1: a number, an empty field, \"text:...\" or \"logical:1\"/\"logical:0\".")
print(f"# Made by: /usr/bin/python3 tests/functions/data/make_list_reference.py {which} > tests/functions/data/{target}")
print(f"# with Python {sys.version.split()[0]}, NumPy {np.__version__}, SciPy {scipy.__version__}.")
for name, data in columns.items():
    print("\t".join(["cells", name] + [repr(float(v)) if isinstance(v, (int, float)) else v for v in data]))
print("\n".join(rows))
