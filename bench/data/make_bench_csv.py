#!/usr/bin/python3
"""Writes the CSV input for the text import benchmarks: ROWS rows (100,000 unless given) of five columns."""

# Usage: make_bench_csv.py OUTPUT.csv [ROWS]
# Columns: a whole number, a decimal (every seventh negative), a date written m/d/yyyy, a short
# word, and a text that is quoted one row in ten (it holds a comma, and one row in thirty also
# a doubled quote). No header row, UTF-8, LF line ends. The values come from the row number
# alone, so every run writes the same bytes. Standard library only; the CSV is not committed.

import csv
import datetime
import sys

WORDS = ["alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf", "hotel", "india", "juliett",
         "kilo", "lima", "mike", "november", "oscar", "papa", "quebec", "romeo", "sierra", "tango"]


def row(n):
    whole = n * 37 % 1000003
    decimal = (n * 7919 % 100000) / 100.0
    if n % 7 == 0:
        decimal = -decimal
    day = datetime.date(2000, 1, 1) + datetime.timedelta(days=n * 13 % 9132)
    date = "%d/%d/%d" % (day.month, day.day, day.year)
    word = WORDS[n % len(WORDS)]
    if n % 30 == 0:
        text = 'item %d, "special"' % n
    elif n % 10 == 0:
        text = "item %d, plain" % n
    else:
        text = "item %d %s" % (n, WORDS[n * 3 % len(WORDS)])
    return [str(whole), repr(decimal), date, word, text]


def main(argv):
    if len(argv) not in (1, 2):
        raise SystemExit(__doc__ + "usage: make_bench_csv.py OUTPUT.csv [ROWS]")
    rows = int(argv[1]) if len(argv) == 2 else 100000
    with open(argv[0], "w", encoding="utf-8", newline="") as f:
        writer = csv.writer(f, lineterminator="\n", quoting=csv.QUOTE_MINIMAL)
        for n in range(1, rows + 1):
            writer.writerow(row(n))


if __name__ == "__main__":
    main(sys.argv[1:])
