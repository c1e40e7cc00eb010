#!/usr/bin/python3
"""Writes date_reference.tsv: formulas of the date functions with their values from
Python's datetime module, for DateFunctionsTest.

Run: /usr/bin/python3 tests/functions/data/make_date_reference.py > tests/functions/data/date_reference.tsv
"""
import datetime as dt
import random
import sys
from fractions import Fraction

EPOCH = dt.datetime(1899, 12, 30)  # serial 0; serial 2 is 1 January 1900, 60 is 28 February 1900
MS_PER_DAY = 86400000
MAX_SERIAL = 2958465  # 31 December 9999
MIN_SERIAL = -657434  # 1 January 100

rng = random.Random(2005)
rows = []


def case(formula, value):
    rows.append(f"={formula}\t{value}\ta0")


def number_text(x):
    return str(int(x)) if float(x).is_integer() else repr(float(x))


def serial_of(day, ms=0.0):
    """The double closest to `day` days and `ms` milliseconds after the epoch."""
    return day + ms / MS_PER_DAY


def rounded_ms(serial):
    """A serial's distance from the epoch in whole milliseconds, rounded to the nearest
    one from its exact binary value, away from zero on a tie as the sign of the serial."""
    exact = abs(Fraction(serial)) * MS_PER_DAY
    ms = int(exact + Fraction(1, 2))
    # The table keeps clear of the rounding's edge, where the last bits of a double
    # decide; 0.1 ms is hundreds of units of the last place even for the latest dates.
    edge = abs(exact + Fraction(1, 2) - round(exact + Fraction(1, 2)))
    assert edge > Fraction(1, 10) or exact == int(exact), (serial, float(edge))
    return ms if serial >= 0 else -ms


def moment_of(serial):
    """The calendar day and the milliseconds into it of a serial; negative serials count
    whole days back with the time of day added forward (-1.25 is 29 December 1899, 06:00)."""
    ms = rounded_ms(serial)
    days, time = divmod(abs(ms), MS_PER_DAY)
    return EPOCH.date() + dt.timedelta(days=days if ms >= 0 else -days), time


def weekday(day, kind):
    iso = day.isoweekday()  # Monday 1 .. Sunday 7
    return {1: iso % 7 + 1, 2: iso, 3: iso - 1}[kind]


def parts(serial):
    text = number_text(serial)
    # The serial range ends at the first moment of 31 December 9999.
    if serial > MAX_SERIAL or serial < MIN_SERIAL:
        for name in ("Year", "Month", "Day", "Hour", "Minute", "Second"):
            case(f"{name}({text})", "!!Val")
        for kind in (1, 2, 3):
            case(f"Weekday({text},{kind})", "!!Val")
        return
    day, time = moment_of(serial)
    for kind in (1, 2, 3):
        case(f"Weekday({text},{kind})", weekday(day, kind))
    if serial < 0:  # dates before the epoch have a weekday but no fields
        for name in ("Year", "Month", "Day", "Hour", "Minute", "Second"):
            case(f"{name}({text})", "!!Val")
        return
    seconds = time // 1000
    case(f"Year({text})", day.year)
    case(f"Month({text})", day.month)
    case(f"Day({text})", day.day)
    case(f"Hour({text})", seconds // 3600)
    case(f"Minute({text})", seconds // 60 % 60)
    case(f"Second({text})", seconds % 60)


def day_number(year, month, day):
    return (dt.date(year, month, day) - EPOCH.date()).days


def random_time_ms():
    """A time of day in milliseconds, kept 0.2 ms or more from the half millisecond."""
    return rng.randrange(MS_PER_DAY) + rng.uniform(-0.3, 0.3)


def date_call(y, m, d):
    """What Date(y, m, d) gives: years below 1900 have 1900 added, months wrap into
    years, days run on from the first of the month; past 9999 is !!Num."""
    year, month, day = int(y), int(m), int(d)
    if year < 1900:
        year += 1900
    months = year * 12 + month - 1
    year, month = divmod(months, 12)
    # The calendar repeats every 400 years (146097 days), which reaches years that
    # datetime cannot hold.
    cycles = max(0, (year - 9600) // 400 + 1)
    first = dt.date(year - 400 * cycles, month + 1, 1).toordinal() + 146097 * cycles
    serial = first + day - 1 - EPOCH.date().toordinal()
    return serial if serial <= MAX_SERIAL else "!!Num"


serials = set()
# The first days, the missing 29 February 1900, and the last day.
serials.update([0, 1, 2, 3, 59, 60, 61, 62, 365, 366, 367, MAX_SERIAL])
# The first and last day of every month of years where the leap rule has its cases.
for year in (1900, 1904, 2000, 2100):
    for month in range(1, 13):
        first = day_number(year, month, 1)
        serials.update([first, first - 1])
for year in (1999, 2004, 2005, 2400, 9999):
    for month, day in ((1, 1), (2, 28), (3, 1), (12, 31)):
        serials.add(day_number(year, month, day))
    serials.add(day_number(year, 2, 28) + 1)  # 29 February or 1 March
# Days across the whole range at random times of day.
for _ in range(170):
    serials.add(serial_of(rng.randrange(1, MAX_SERIAL + 1), random_time_ms()))
# Times alone and a week of days at whole hours and minutes.
for ms in (1, 500, 999, 1000, 59999, 60000, 3599999, 3600000, 43200000, 86399000, 86399999):
    serials.add(serial_of(0, ms))
for day in range(38353, 38360):
    serials.add(serial_of(day, rng.randrange(24) * 3600000 + rng.randrange(60) * 60000))
# Times 0.3 ms short of a whole second, minute, hour or day: they show as the next one.
for day in [rng.randrange(1, MAX_SERIAL) for _ in range(10)] + [38353, MAX_SERIAL - 1]:
    for whole_seconds in (1, 60, 3600, 86400):
        end = rng.randrange(1, 86400 // whole_seconds + 1) * whole_seconds * 1000
        serials.add(serial_of(day, end - 0.3))
        serials.add(serial_of(day, end - 0.7))  # and 0.7 ms short, which does not
# Past the range: the last day after its midnight, the day after it, and before the first.
serials.update([serial_of(MAX_SERIAL, 1000), serial_of(MAX_SERIAL, 86399999.7), MAX_SERIAL + 1,
                MIN_SERIAL - 1, serial_of(MIN_SERIAL, -43200000)])
# Days before the epoch: a weekday, but no date fields.
serials.update([-1, -1.25, -2, -6.5, -7, -365, MIN_SERIAL])
for _ in range(8):
    serials.add(-serial_of(rng.randrange(1, -MIN_SERIAL), random_time_ms()))

for serial in sorted(serials):
    parts(serial)

triples = []
for y in (0, 5, 99, 1899, 1900, 1904, 2000, 2005, 2100, 9999, 10000, 65535):
    for m in (0, 1, 2, 3, 12, 13, 25, 65535):
        for d in (0, 1, 29, 31, 32, 366, 65535):
            triples.append((y, m, d))
for _ in range(250):
    triples.append((rng.randrange(0, 10000), rng.randrange(0, 41), rng.randrange(0, 400)))
# Fractions are cut off, never rounded.
triples += [(2005.9, 1.5, 31.99), (1899.999, 12.9, 31.5), (0.5, 0.5, 0.5), (2005, 2.99, 28.999)]
for y, m, d in triples:
    case(f"Date({number_text(y)},{number_text(m)},{number_text(d)})", date_call(y, m, d))

print("# Reference values of the date functions: formula, expected cell value, tolerance")
print("# (a0: exact). Expected values come from Python's datetime module: serial 0 is")
print("# 30 December 1899, times are read to the nearest millisecond, Date wraps months into")
print("# years and runs days on from the first of the month.")
print(f"# Made by: /usr/bin/python3 tests/functions/data/make_date_reference.py > "
      f"tests/functions/data/date_reference.tsv with Python {sys.version.split()[0]}.")
print("\n".join(rows))
