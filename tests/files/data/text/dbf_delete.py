#!/usr/bin/python3
"""Copies a dBase file with one record flagged deleted: that record's first byte set to '*'."""

# Usage: dbf_delete.py SOURCE.dbf RECORD OUTPUT.dbf   (RECORD counts from 1)
# The header gives where records start (bytes 8-9) and how long each is (bytes 10-11), both
# little-endian; nothing else in the file changes, the record count included.

import struct
import sys


def main(argv):
    if len(argv) != 3:
        raise SystemExit(__doc__ + "usage: dbf_delete.py SOURCE.dbf RECORD OUTPUT.dbf")
    source, record, output = argv[0], int(argv[1]), argv[2]
    with open(source, "rb") as f:
        data = bytearray(f.read())
    count, header_size, record_size = struct.unpack_from("<IHH", data, 4)
    if not 1 <= record <= count:
        raise SystemExit("record %d is not among the %d records" % (record, count))
    at = header_size + (record - 1) * record_size
    if data[at] != 0x20:
        raise SystemExit("record %d does not start with a live flag" % record)
    data[at] = 0x2A
    with open(output, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1:])
