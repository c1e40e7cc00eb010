#!/usr/bin/python3
"""Writes math_reference.tsv: formulas of the mathematical functions with their
values from Python's decimal module, NumPy and SciPy, for MathFunctionsTest.

Run: /usr/bin/python3 tests/functions/data/make_math_reference.py > tests/functions/data/math_reference.tsv
"""
import math
import sys
from decimal import Decimal, ROUND_CEILING, ROUND_FLOOR

import numpy as np
import scipy
import scipy.special as sp

REL = "r1e-9"
rows = []


def show(x):
    """A cell's view of a double: non-finite values are !!Num."""
    x = float(x)
    if math.isnan(x) or math.isinf(x):
        return "!!Num"
    return repr(x)


def case(formula, value, tolerance=REL):
    rows.append(f"={formula}\t{show(value)}\t{tolerance}")


def dec(text):
    return Decimal(text)


def decimal_round(x, d, mode):
    """x quantised at d decimals (d may be negative) with an exact decimal rounding mode."""
    scale = Decimal(10) ** d
    return float((dec(x) * scale).to_integral_value(rounding=mode) / scale)


def sign(x):
    return (x > 0) - (x < 0)


# Rounding and integer parts, exact in decimal.
for x, d in [("2.5", 0), ("-2.5", 0), ("1234.5678", -2), ("1.2345", 2), ("-7.45", 1), ("0.125", 2),
             ("98765.4321", 3), ("-0.0049", 2), ("15", -1), ("-15", -1)]:
    half_up = float((dec(x) * Decimal(10) ** d + Decimal("0.5")).to_integral_value(rounding=ROUND_FLOOR)
                    / Decimal(10) ** d)
    case(f"Round({x},{d})", half_up)
for x, d in [("-1.2", 0), ("1.2", 0), ("0.07", 2), ("1.1", 1), ("3.14159", 3), ("-3.14159", 3),
             ("31415.9", -2), ("0.29", 2), ("2", 0), ("-0.001", 1)]:
    s = sign(float(x))
    up = s * decimal_round(str(abs(dec(x))), d, ROUND_CEILING)
    down = s * decimal_round(str(abs(dec(x))), d, ROUND_FLOOR)
    case(f"RoundUp({x},{d})", up)
    case(f"RoundDown({x},{d})", down)
    case(f"Trunc({x},{d})", down)
for x in ["-1.8", "1.8", "123456.999", "-0.5"]:
    case(f"Trunc({x})", sign(float(x)) * math.floor(abs(float(x))))
for x, s in [("2.5", "1"), ("1.1", "0.1"), ("-2.5", "-1"), ("7", "2.5"), ("0", "3"), ("123.456", "0.01")]:
    q = dec(x) / dec(s)
    case(f"Ceiling({x},{s})", float(q.to_integral_value(rounding=ROUND_CEILING) * dec(s)))
    case(f"Floor({x},{s})", float(q.to_integral_value(rounding=ROUND_FLOOR) * dec(s)))
for x in ["1.5", "2", "-1.5", "0", "3", "-4.01", "0.2"]:
    v = float(x)
    up = math.ceil(abs(v))
    even = up if up % 2 == 0 else up + 1
    odd = up if up % 2 == 1 else up + 1
    case(f"Even({x})", math.copysign(even, v) if v else even)
    case(f"Odd({x})", -odd if v < 0 else odd)
for x, d in [("-3", "2"), ("3", "-2"), ("10", "3"), ("5.5", "2"), ("-7.25", "-2"), ("1e10", "7")]:
    case(f"Mod({x},{d})", float(x) % float(d))
for x in ["-2.5", "0", "7.25"]:
    case(f"Abs({x})", abs(float(x)))
    case(f"Sign({x})", sign(float(x)))
    case(f"Int({x})", math.floor(float(x)))

# Powers, roots and logarithms.
for x, y in [("2", "10"), ("0", "-1"), ("0", "3"), ("-8", "3"), ("2.5", "-1.5"), ("10", "0.5"),
             ("-8", "1/3")]:
    if float(x) == 0:
        value = 0.0
    else:
        with np.errstate(invalid="ignore"):
            value = np.power(float(x), float(eval(y)))
    case(f"Power({x},{y})", value)
for x in ["2", "0.25", "1e-8", "12345.678"]:
    case(f"Sqrt({x})", np.sqrt(float(x)))
    case(f"Ln({x})", np.log(float(x)))
    case(f"Log10({x})", np.log10(float(x)))
    case(f"Log({x})", np.log10(float(x)))
    case(f"Log({x},2)", np.log(float(x)) / np.log(2.0))
for x in ["0", "1", "-2.5", "10", "700"]:
    case(f"Exp({x})", np.exp(float(x)))
case("Pi()", np.pi)

# Factorials, permutations and combinations (exact integers from SciPy).
for x in ["0", "1", "5", "5.9", "20", "170", "171", "200"]:
    v = float(x)
    exact = sp.factorial(math.floor(v), exact=True)
    case(f"Fact({x})", float(exact) if exact < 2 ** 1024 else math.inf)
for n, k in [("5", "2"), ("10", "0"), ("10", "10"), ("52", "5"), ("200", "2"), ("1000", "3"), ("7.9", "2.2")]:
    case(f"Permut({n},{k})", float(sp.perm(math.floor(float(n)), math.floor(float(k)), exact=True)))
    case(f"Combin({n},{k})", float(sp.comb(math.floor(float(n)), math.floor(float(k)), exact=True)))

# Trigonometric and hyperbolic functions.
for x in ["0.5", "-1.25", "2", "10"]:
    v = float(x)
    case(f"Sin({x})", np.sin(v))
    case(f"Cos({x})", np.cos(v))
    case(f"Tan({x})", np.tan(v))
    case(f"Atan({x})", np.arctan(v))
    case(f"Sinh({x})", np.sinh(v))
    case(f"Cosh({x})", np.cosh(v))
    case(f"Tanh({x})", np.tanh(v))
    case(f"Radians({x})", np.radians(v))
    case(f"Degrees({x})", np.degrees(v))
for x in ["0.5", "-0.75", "1", "0"]:
    case(f"Asin({x})", np.arcsin(float(x)))
    case(f"Acos({x})", np.arccos(float(x)))
for x, y in [("1", "1"), ("-1", "0.5"), ("0", "-2"), ("3", "0")]:
    case(f"Atan2({x},{y})", np.arctan2(float(y), float(x)))
# Asinh is found by bisection to |sinh(r) - x| <= 1e-11, so its error is absolute.
for x in ["0", "0.5", "-3", "100", "1e-5", "1e20"]:
    case(f"Asinh({x})", np.arcsinh(float(x)), "a1e-10" if abs(float(x)) < 1e6 else REL)
for x in ["1", "1.0000001", "1.5", "10", "1e10", "1e200"]:
    case(f"Acosh({x})", np.arccosh(float(x)))
for x in ["0", "0.01", "0.5", "-0.5", "0.9", "-0.999999", "0.9999999999"]:
    case(f"Atanh({x})", np.arctanh(float(x)))

print("# Reference values of the mathematical functions: formula, expected cell value, tolerance")
print("# (r: relative, a: absolute). Expected values come from Python's decimal module, NumPy and")
print("# SciPy; a value that is not finite is shown as a cell shows it, !!Num.")
print(f"# Made by: /usr/bin/python3 tests/functions/data/make_math_reference.py > tests/functions/data/math_reference.tsv")
print(f"# with Python {sys.version.split()[0]}, NumPy {np.__version__}, SciPy {scipy.__version__}.")
print("\n".join(rows))
