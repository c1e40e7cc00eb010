#!/usr/bin/python3
"""Writes FILE.json beside a dBase file: its fields and live records as python3-dbfread reads them."""

# Usage: dbf_dump.py FILE.dbf ENCODING
# The encoding is given because LibreOffice leaves the header's language driver byte at 0.
# Dates become ISO strings and numbers their Python repr, so the JSON holds no float formatting
# of its own; logicals stay true/false/null. Records flagged deleted are left out and counted.

import datetime
import json
import sys

from dbfread import DBF


def value(v):
    if isinstance(v, (datetime.date, datetime.datetime)):
        return v.isoformat()
    if isinstance(v, bool) or v is None:
        return v
    if isinstance(v, (int, float)):
        return repr(v)
    return v


def main(argv):
    if len(argv) != 2:
        raise SystemExit(__doc__ + "usage: dbf_dump.py FILE.dbf ENCODING")
    path, encoding = argv
    table = DBF(path, encoding=encoding, char_decode_errors="strict", load=True)
    out = {
        "deleted_count": len(table.deleted),
        "encoding": encoding,
        "fields": [{"decimals": f.decimal_count, "length": f.length, "name": f.name, "type": f.type}
                   for f in table.fields],
        "records": [[value(v) for v in record.values()] for record in table.records],
        "version": table.header.dbversion,
    }
    with open(path + ".json", "w", encoding="utf-8", newline="\n") as f:
        json.dump(out, f, ensure_ascii=False, indent=1, sort_keys=True)
        f.write("\n")


if __name__ == "__main__":
    main(sys.argv[1:])
