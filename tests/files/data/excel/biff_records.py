#!/usr/bin/python3
"""Counts the BIFF records of each .xls file's Book and Workbook streams, to check what a fixture holds."""

# Usage: biff_records.py FILE.xls...   (needs gsf from libgsf-bin to take a stream out of the file)
# Prints, per stream, its size, its substreams as (nesting depth, BOF type: 0x5 globals, 0x10
# worksheet, 0x20 chart) and how often each record of interest occurs. FILEPASS files are not
# decrypted, so past it only the record headers mean anything.

import struct
import subprocess
import sys

NAMES = {
    0x0006: "FORMULA", 0x000A: "EOF", 0x0018: "NAME", 0x001E: "FORMAT", 0x0017: "EXTERNSHEET",
    0x0022: "DATEMODE", 0x002F: "FILEPASS", 0x0031: "FONT", 0x003C: "CONTINUE", 0x0041: "PANE",
    0x0042: "CODEPAGE", 0x005D: "OBJ", 0x0085: "BOUNDSHEET", 0x0092: "PALETTE", 0x00A0: "SCL",
    0x00BD: "MULRK", 0x00BE: "MULBLANK", 0x00D7: "DBCELL", 0x00E0: "XF", 0x00E5: "MERGEDCELLS",
    0x00EB: "MSODRAWINGGROUP", 0x00EC: "MSODRAWING", 0x00FC: "SST", 0x00FD: "LABELSST",
    0x00FF: "EXTSST", 0x01AE: "SUPBOOK", 0x01B2: "DVAL", 0x01BE: "DV", 0x0201: "BLANK",
    0x0203: "NUMBER", 0x0204: "LABEL", 0x0205: "BOOLERR", 0x0207: "STRING", 0x0208: "ROW",
    0x020B: "INDEX", 0x0221: "ARRAY", 0x023E: "WINDOW2", 0x027E: "RK", 0x041E: "FORMAT",
    0x04BC: "SHRFMLA", 0x0809: "BOF", 0x1002: "CHART", 0x1003: "SERIES",
}


def summary(data):
    counts = {}
    substreams = []
    depth = 0
    pos = 0
    while pos + 4 <= len(data):
        rid, size = struct.unpack_from("<HH", data, pos)
        if rid == 0x0809:
            depth += 1
            substreams.append((depth, "0x%x" % struct.unpack_from("<H", data, pos + 6)[0]))
        elif rid == 0x000A:
            depth -= 1
        if rid in NAMES:
            counts[NAMES[rid]] = counts.get(NAMES[rid], 0) + 1
        pos += 4 + size
    return substreams, counts


def main(paths):
    for path in paths:
        for stream in ("Workbook", "Book"):
            got = subprocess.run(["gsf", "cat", path, stream], capture_output=True)
            if got.returncode != 0 or not got.stdout:
                continue
            substreams, counts = summary(got.stdout)
            print("%s %s: %d bytes, substreams %s" % (path, stream, len(got.stdout), substreams))
            print("  " + ", ".join("%s=%d" % kv for kv in sorted(counts.items())))


if __name__ == "__main__":
    main(sys.argv[1:])
