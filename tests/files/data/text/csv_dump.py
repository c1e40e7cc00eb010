#!/usr/bin/python3
"""Writes FILE.json beside a delimited text file: its rows as Python's csv module reads them."""

# Usage: csv_dump.py FILE ENCODING DELIMITER   (DELIMITER is one character, or "tab")
# The encoding is given, never guessed, so the oracle says exactly how the bytes were taken;
# "utf-16" consumes a byte order mark. Rows keep every field as the string csv gives, empty
# rows included, so a reader can be compared field by field.

import csv
import json
import sys


def main(argv):
    if len(argv) != 3:
        raise SystemExit(__doc__ + "usage: csv_dump.py FILE ENCODING DELIMITER")
    path, encoding, delimiter = argv
    if delimiter == "tab":
        delimiter = "\t"
    # newline="" hands line breaks inside quoted fields to csv unchanged.
    with open(path, encoding=encoding, newline="") as f:
        rows = [list(row) for row in csv.reader(f, delimiter=delimiter, quotechar='"')]
    out = {"delimiter": delimiter, "encoding": encoding, "rows": rows}
    with open(path + ".json", "w", encoding="utf-8", newline="\n") as f:
        json.dump(out, f, ensure_ascii=False, indent=1, sort_keys=True)
        f.write("\n")


if __name__ == "__main__":
    main(sys.argv[1:])
