#!/usr/bin/python3
"""Writes financial_reference.tsv: formulas of the financial functions with values
computed here from the closed forms and definitions in 50-digit decimal arithmetic,
for FinancialFunctionsTest. Rate and Irr are found by bisection on a bracket, not by
the Newton iteration the program uses.

Run: /usr/bin/python3 tests/functions/data/make_financial_reference.py > tests/functions/data/financial_reference.tsv

Cross-check against desktop spreadsheets run as black boxes:
  /usr/bin/python3 tests/functions/data/make_financial_reference.py --crosscheck
writes three rows of each function (IPmt and PPmt with type 1 left out: those two follow a formula
that gives interest in the first period where desktop spreadsheets give none) as a
quoted CSV of formulas, with cash flows in the cells to the right of each formula,
converts it with `ssconvert --recalc` (Gnumeric) and with `soffice --headless
--infilter=CSV:44,34,76,1,,0,false,false,false,false,false,false,true --convert-to
"csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1"`
(LibreOffice; the last import field makes it evaluate formulas, the last export field
writes the sheet as sample-sample.csv), and prints how far each tool's value lies from
the table's. Run on 7 December 2026 (Gnumeric 1.12.55, LibreOffice 7.4.7) it gave: 39 rows;
Gnumeric within 1.4e-15 relative on all; LibreOffice within 2.8e-14 on 36, and an
error on 3 (Err:523 for two Irr rows whose rates lie near -0.56 and -0.84, Err:502 for
Ddb with the period 1.5).
"""
import os
import random
import subprocess
import sys
import tempfile
from decimal import Decimal as D, getcontext

getcontext().prec = 50

REL = "r1e-9"
cases = []  # (name, arguments as texts, cash flows in cells or None, expected value)


def text(x):
    """A number as formula text."""
    s = repr(float(x)) if not isinstance(x, int) else str(x)
    return s[:-2] if s.endswith(".0") else s


def power(base, exponent):
    base, exponent = D(base), D(exponent)
    if exponent == exponent.to_integral_value():
        return base ** int(exponent)
    return base ** exponent  # base > 0 here


def ftype(t):
    return D(0) if t == 0 else D(1)


# ----- Annuity closed forms.

def fv(r, n, pmt, pv=0, t=0):
    r, n, pmt, pv, t = D(r), D(n), D(pmt), D(pv), ftype(t)
    if r == 0:
        return -(n * pmt + pv)
    q = power(1 + r, n)
    return -((1 + r * t) * (pmt / r) * (q - 1) + q * pv)


def pv(r, n, pmt, fv_=0, t=0):
    r, n, pmt, fv_, t = D(r), D(n), D(pmt), D(fv_), ftype(t)
    if r == 0:
        return -fv_ - n * pmt
    q = power(1 + r, n)
    return -(((1 + r * t) * pmt / r) * (q - 1) + fv_) / q


def pmt(r, n, pv_, fv_=0, t=0):
    r, n, pv_, fv_, t = D(r), D(n), D(pv_), D(fv_), ftype(t)
    if r == 0:
        return -(pv_ + fv_) / n
    q = power(1 + r, n)
    return -((q * pv_ + fv_) * r) / ((1 + r * t) * (q - 1))


def nper(r, pmt_, pv_, fv_=0, t=0):
    r, pmt_, pv_, fv_, t = D(r), D(pmt_), D(pv_), D(fv_), ftype(t)
    if r == 0:
        return -(pv_ + fv_) / pmt_
    c = (1 + r * t) * pmt_ / r
    return ((c - fv_) / (pv_ + c)).ln() / (1 + r).ln()


def ipmt(r, per, n, pv_, fv_=0, t=0):
    p = pmt(r, n, pv_, fv_, t)
    return fv(r, D(per) + ftype(t) - 1, p, pv_, t) * D(r)


def ppmt(r, per, n, pv_, fv_=0, t=0):
    return pmt(r, n, pv_, fv_, t) - ipmt(r, per, n, pv_, fv_, t)


def bisect(f, low, high):
    """The root of f between low and high, which must differ in sign."""
    low, high = D(low), D(high)
    flow = f(low)
    assert flow * f(high) < 0, (low, high)
    for _ in range(200):
        mid = (low + high) / 2
        fm = f(mid)
        if fm == 0:
            return mid
        if (fm < 0) == (flow < 0):
            low, flow = mid, fm
        else:
            high = mid
    return (low + high) / 2


def rate(n, pmt_, pv_, fv_=0, t=0):
    """The one rate in (-0.99, 5) at which the annuity's values balance."""
    def balance(r):
        return pv(r, n, pmt_, fv_, t) - D(pv_)
    return bisect(balance, "-0.99", "5")


def npv(r, values):
    r = D(r)
    return sum(D(v) / (1 + r) ** k for k, v in enumerate(values, start=1))


def irr(flows):
    return bisect(lambda r: sum(D(c) / (1 + r) ** i for i, c in enumerate(flows)), "-0.9", "5")


def mirr(flows, finance, reinvest):
    """(future value of the incomes at the reinvestment rate over minus the present
    value of the outlays at the finance rate)^(1/(n-1)) - 1."""
    n = len(flows)
    income = sum(D(v) * (1 + D(reinvest)) ** (n - i) for i, v in enumerate(flows, start=1) if v > 0)
    outlay = sum(D(v) / (1 + D(finance)) ** (i - 1) for i, v in enumerate(flows, start=1) if v < 0)
    return power(-income / outlay, D(1) / (n - 1)) - 1


def sln(cost, salvage, life):
    return (D(cost) - D(salvage)) / D(life)


def syd(cost, salvage, life, per):
    cost, salvage, life, per = D(cost), D(salvage), D(life), D(per)
    return (life - per + 1) * (cost - salvage) * 2 / ((life + 1) * life)


def ddb(cost, salvage, life, period, factor=2):
    """Period by period: the declining balance, never below the salvage value."""
    value, d, i = D(cost), D(0), 1
    while i <= period:
        d = value * D(factor) / D(life)
        value -= d
        if value < D(salvage):
            d -= D(salvage) - value
            value = D(salvage)
        if d < 0:
            d = D(0)
        i += 1
    return d


def case(name, args, value, flows=None, tolerance=REL):
    cases.append((name, [text(a) if not isinstance(a, str) else a for a in args], flows, value, tolerance))


def payment_part(name, r, per, n, a, b, t):
    """IPmt or PPmt; where the part is all but 0 (interest-only and similar loans) a
    relative bound is unreachable in doubles, so the bound is 1e-9 of the payment."""
    value = (ipmt if name == "IPmt" else ppmt)(r, per, n, a, b, t)
    whole = abs(pmt(r, n, a, b, t))
    tolerance = REL if r == 0 or abs(value) >= whole * D("1e-6") else f"a{float(whole) * 1e-9:.3g}"
    case(name, [r, per, n, a, b, t], value, tolerance=tolerance)


rng = random.Random(20261207)
RATES = [-0.05, -0.01, 0, 0.0001, 0.005, 0.01, 0.05, 0.1, 0.25, 0.5]
NPERS = [1, 2, 5, 12, 30, 360, 2.5]
MONEY = [-250000, -1000, -100, -0.5, 0, 3.25, 100, 1000, 75000]

# The annuity functions over a spread of the grid; every optional argument both
# given and left out, type 0 and 1.
for _ in range(40):
    r, n = rng.choice(RATES), rng.choice(NPERS)
    a, b = rng.choice(MONEY), rng.choice(MONEY)
    t = rng.choice([0, 1, 1, 3])  # any type but 0 is taken as 1
    case("Fv", [r, n, a, b, t], fv(r, n, a, b, t))
    case("Pv", [r, n, a, b, t], pv(r, n, a, b, t))
    if n != 0 and not (a == 0 and b == 0):
        case("Pmt", [r, n, a, b, t], pmt(r, n, a, b, t))
for r, n, a in [(0.1, 2, 100), (0.05, 10, -100), (0, 12, -100), (-0.01, 24, 500)]:
    case("Fv", [r, n, a], fv(r, n, a))
    case("Pv", [r, n, a], pv(r, n, a))
    case("Pmt", [r, n, a], pmt(r, n, a))
    case("Fv", [r, n, a, 50], fv(r, n, a, 50))
    case("Pv", [r, n, a, 50], pv(r, n, a, 50))
    case("Pmt", [r, n, a, 50], pmt(r, n, a, 50))
for _ in range(40):
    r, n = rng.choice(RATES), rng.choice([2, 5, 12, 30, 360])
    per = rng.randint(1, n)
    a, b = rng.choice([-250000, -1000, -100, 100, 1000, 75000]), rng.choice([0, -100, 100, 5000])
    t = rng.choice([0, 1])
    payment_part("IPmt", r, per, n, a, b, t)
    payment_part("PPmt", r, per, n, a, b, t)
case("IPmt", [0.1, 1, 2, 100], ipmt(0.1, 1, 2, 100))
case("PPmt", [0.1, 2, 2, 100], ppmt(0.1, 2, 2, 100))
# Nper where the logarithm has a positive argument: a loan paid off, a saving plan
# reaching a target, a rate of 0, a payment of 0.
for r, p, v, f, t in [(0.01, -100, 1000, 0, 0), (0.05, -500, 10000, 0, 1), (0.1, -10, 0, 1000, 0),
                      (0.005, -200, 15000, 2000, 0), (0, -100, 1000, 0, 0), (0, -25, 100, -50, 1),
                      (0.1, 0, -100, 200, 0), (0.08, -1200, 0, 50000, 1), (-0.02, -100, 1000, 0, 0),
                      (0.25, -300, 1000, 0, 1), (0.0001, -1, 100, 0, 0), (0.03, 100, -2000, 0, 0)]:
    case("Nper", [r, p, v, f, t], nper(r, p, v, f, t))
case("Nper", [0.01, -100, 1000], nper(0.01, -100, 1000))
# Rate over annuities with one balancing rate, found by bisection.
for _ in range(30):
    n = rng.choice([3, 5, 10, 12, 24, 36, 60])
    loan = rng.choice([700, 1000, 5000, 25000])
    target = rng.choice([0.005, 0.01, 0.03, 0.07, 0.12, 0.2])
    t = rng.choice([0, 1])
    p = float(round(pmt(target, n, loan, 0, t), 2))
    # Newton's method from the default guess of 0.1 runs away from rates well above it
    # over many periods, so those rows give a guess nearer the rate.
    guess = [0.25] if target > 0.1 else []
    case("Rate", [n, p, loan, 0, t] + guess, rate(n, p, loan, 0, t))
for args in [(10, -100, 700), (10, -100, 700, 0, 0, 0.5), (12, -100, 1000, -200), (5, 0, -100, 150)]:
    case("Rate", list(args), rate(*args[:5]))

# Npv: values given directly, then in a row of cells.
for _ in range(20):
    r = rng.choice([-0.5, -0.05, 0, 0.01, 0.08, 0.1, 0.3, 2])
    values = [rng.choice([-1000, -50, -0.25, 0, 10, 100, 2500]) for _ in range(rng.randint(1, 12))]
    case("Npv", [r] + values, npv(r, values))
for _ in range(10):
    r = rng.choice([0.01, 0.08, 0.1])
    values = [rng.choice([-1000, -50, 10, 100, 2500]) for _ in range(rng.randint(2, 40))]
    case("Npv", [r], npv(r, values), flows=values)


# Irr over conventional flows (one outlay, then incomes): exactly one rate above -1.
def conventional_flows(size, scale):
    flows = [-scale * rng.choice([1, 2.5, 10])]
    flows += [scale * rng.choice([0.1, 0.25, 0.4, 0.6, 1]) for _ in range(size - 1)]
    return flows


for size, scale in [(3, 1), (4, 100), (5, 1000), (8, 1), (12, 50), (24, 10), (40, 1), (99, 2)] * 3:
    flows = conventional_flows(size, scale)
    if sum(flows) == 0:
        continue
    case("Irr", [], irr(flows), flows=flows)
for flows in ([-100, 60, 60], [-1e9, 3e8, 4.2e8, 6.8e8], [-0.001, 0.0006, 0.0006], [-5000, 0, 0, 8000]):
    case("Irr", [], irr(flows), flows=flows)

for _ in range(20):
    size = rng.randint(2, 15)
    flows = [rng.choice([-1000, -10, 5, 50, 300, 0]) for _ in range(size)]
    flows[0] = -abs(flows[0]) or -100
    if not any(v > 0 for v in flows):
        flows[-1] = 400
    finance, reinvest = rng.choice([0, 0.05, 0.1, -0.5]), rng.choice([0, 0.04, 0.12, -0.2])
    case("Mirr", [finance, reinvest], mirr(flows, finance, reinvest), flows=flows)

# Depreciation.
for _ in range(25):
    cost = rng.choice([0, 100, 1000, 30000, 2.5])
    salvage = rng.choice([0, 10, 100, 5000])
    life = rng.choice([1, 3, 5, 10, 40])
    period = rng.randint(1, life)
    factor = rng.choice([2, 1.5, 3, 0.5, 12])
    case("Ddb", [cost, salvage, life, period, factor], ddb(cost, salvage, life, period, factor))
    case("Ddb", [cost, salvage, life, period], ddb(cost, salvage, life, period))
    case("Ddb", [cost, salvage, life, period + 0.5 if period < life else period],
         ddb(cost, salvage, life, period + 0.5 if period < life else period))
    case("Syd", [cost, salvage, life, rng.randint(0, life)], None)
    case("Sln", [cost, salvage, rng.choice([-4, 0.5, 3, 10])], None)
for i, c in enumerate(cases):
    if c[3] is None:
        args = [float(a) for a in c[1]]
        cases[i] = (c[0], c[1], None, syd(*args) if c[0] == "Syd" else sln(*args), REL)


def column(i):
    return chr(ord("A") + i) if i < 26 else chr(ord("A") + i // 26 - 1) + chr(ord("A") + i % 26)


def formula(name, args, flows, flows_ref):
    """The call; a function of cash flows in cells takes them first (Npv after its rate)."""
    parts = list(args)
    if flows is not None:
        parts.insert(1 if name == "Npv" else 0, flows_ref)
    return f"={name}({','.join(parts)})"


def shown(value):
    return repr(float(value))


def table():
    print("# Reference values of the financial functions: formula, expected value, relative")
    print("# tolerance, and for functions of cash flows the flows, which the test puts in")
    print("# the first row of cells from A1 on. Made by:")
    print("# /usr/bin/python3 tests/functions/data/make_financial_reference.py > tests/functions/data/financial_reference.tsv")
    print(f"# with Python {sys.version.split()[0]} (decimal module, 50 digits).")
    for name, args, flows, value, tolerance in cases:
        ref = None if flows is None else f"A1:{column(len(flows) - 1)}1"
        line = f"{formula(name, args, flows, ref)}\t{shown(value)}\t{tolerance}"
        if flows is not None:
            line += "\t" + ",".join(text(v) for v in flows)
        print(line)


def crosscheck():
    comparable = [c for c in cases if not (c[0] in ("IPmt", "PPmt") and len(c[1]) == 6 and c[1][5] != "0")]
    sample = []
    for name in dict.fromkeys(c[0] for c in comparable):
        rows_of = [c for c in comparable if c[0] == name]
        sample += rows_of[:: max(1, len(rows_of) // 3)][:3]
    rows = []
    for i, (name, args, flows, value, _) in enumerate(sample, start=1):
        ref = None if flows is None else f"B{i}:{column(len(flows))}{i}"
        cells = [formula(name, args, flows, ref).upper()] + [text(v) for v in flows or []]
        rows.append(",".join(f'"{c}"' if c.startswith("=") else c for c in cells))
    work = tempfile.mkdtemp()
    source = os.path.join(work, "sample.csv")
    with open(source, "w") as f:
        f.write("\n".join(rows) + "\n")
    subprocess.run(["ssconvert", "--recalc", source, os.path.join(work, "gnumeric.csv")], check=True,
                   capture_output=True)
    subprocess.run(["soffice", f"-env:UserInstallation=file://{work}/profile", "--headless",
                    "--infilter=CSV:44,34,76,1,,0,false,false,false,false,false,false,true",
                    "--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1",
                    "--outdir", os.path.join(work, "lo"), source], check=True,
                   capture_output=True)
    results = {}
    # LibreOffice names its output after the sheet as well: sample-sample.csv.
    written = os.path.join(work, "lo", sorted(os.listdir(os.path.join(work, "lo")))[0])
    for tool, path in [("Gnumeric", os.path.join(work, "gnumeric.csv")), ("LibreOffice", written)]:
        with open(path) as f:
            results[tool] = [line.split(",")[0] for line in f.read().splitlines()]
    worst = {tool: 0.0 for tool in results}
    refused = {tool: 0 for tool in results}
    for i, (name, args, flows, value, _) in enumerate(sample):
        want = float(value)
        line = f"{formula(name, args, flows, 'flows')}\t{want!r}"
        for tool, got in results.items():
            try:
                off = abs(float(got[i]) - want) / max(abs(want), 1e-300)
            except ValueError:
                refused[tool] += 1
                off = float("inf")
            else:
                worst[tool] = max(worst[tool], off)
            line += f"\t{tool} {got[i]} (rel. {off:.1e})"
        print(line)
    print(f"{len(sample)} rows; largest relative difference where the tool gave a number: " +
          ", ".join(f"{tool} {w:.1e} ({refused[tool]} rows an error)" for tool, w in worst.items()))


if __name__ == "__main__":
    if sys.argv[1:] == ["--crosscheck"]:
        crosscheck()
    else:
        table()
