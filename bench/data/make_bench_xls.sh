#!/bin/sh
# Makes bench_20000x5.xls, the Excel 97-2003 input for the .xls reading benchmark: 20,000 rows of
# two numbers (A, B) and three formulas (C = A+B, D = C*2, E = SUM(A:C) of the row), so 40,000
# numbers and 60,000 formulas. LibreOffice saves each formula column as shared formulas.
# Needs python3 and libreoffice-calc; not run by CI. Usage: sh bench/data/make_bench_xls.sh
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work/bench_20000x5.fods" <<'PY'
import sys

rows = 20000
with open(sys.argv[1], "w", encoding="utf-8") as out:
    out.write('<?xml version="1.0" encoding="UTF-8"?>\n'
              '<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"'
              ' xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"'
              ' xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"'
              ' xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2"'
              ' office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">\n'
              '<office:body><office:spreadsheet><table:table table:name="Bench">\n')
    for r in range(1, rows + 1):
        a = r
        b = (r % 97) * 1.5  # whole and half numbers: RK values, both integer and scaled forms
        out.write('<table:table-row>'
                  '<table:table-cell office:value-type="float" office:value="%d"/>'
                  '<table:table-cell office:value-type="float" office:value="%r"/>'
                  '<table:table-cell table:formula="of:=[.A%d]+[.B%d]"/>'
                  '<table:table-cell table:formula="of:=[.C%d]*2"/>'
                  '<table:table-cell table:formula="of:=SUM([.A%d:.C%d])"/>'
                  '</table:table-row>\n' % (a, b, r, r, r, r, r))
    out.write('</table:table></office:spreadsheet></office:body></office:document>\n')
PY

libreoffice -env:UserInstallation="file://$work/profile" --headless \
    --convert-to 'xls:MS Excel 97' --outdir "$work" "$work/bench_20000x5.fods"
mv "$work/bench_20000x5.xls" "$here/bench_20000x5.xls"
ls -l "$here/bench_20000x5.xls"
