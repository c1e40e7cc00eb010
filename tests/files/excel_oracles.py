#!/usr/bin/python3
"""Compares what xlrd, Gnumeric and LibreOffice read from .xls files with what Kelp shows for them."""

# Usage: excel_oracles.py --kelpcli PATH [--keep DIR] [--export 7|6]... FILE...
#
# For each FILE.xls and each of its sheets, Kelp's view (`kelpcli cat` with display texts,
# `--formulas` and `--raw`) is set beside:
#   xlrd          the stored value and type of every cell (against Kelp's --raw values)
#   gnumeric      ssconvert's display texts after recalculating (against Kelp's display)
#   gnumeric-raw  ssconvert's recalculated values at full precision (against Kelp's --raw)
#   libreoffice   soffice's display texts "as shown", after its own recalculation on load
#   lo-formulas   soffice's formula texts (against Kelp's --formulas)
# With --export TYPE (7 = Excel 97, 6 = Excel 95; may be given twice) FILE can be anything
# Kelp opens: `kelpcli convert FILE OUT.xls --type TYPE` writes OUT.xls, which is checked
# against the oracles as above, and also
#   round-trip    Kelp's info, cat, cat --formulas and cat --raw of OUT.xls against the same of FILE
#   gsf           the compound file holds exactly one stream, "Workbook" (7) or "Book" (6)
#
# Output: one line per difference, "FILE: TOOL: SHEET!CELL: kelp TEXT | TOOL TEXT", texts as
# JSON strings; then counts by tool and kind. Exit status 0 without differences, 1 with some,
# 2 on a usage error, 77 (CTest's skip) when xlrd, ssconvert, soffice or gsf is missing.
# Run it with Debian's /usr/bin/python3, which has python3-xlrd.
#
# What counts as agreement. Texts are compared exactly except for these rules, each of which
# only bridges a way of writing the same thing:
#  1. Errors: Kelp shows the seven errors as !!Null, !!Div0, !!Val, !!Ref, !!Name, !!Num and
#     !!NA; they stand for #NULL!, #DIV/0!, #VALUE!, #REF!, #NAME?, #NUM! and #N/A.
#  2. Booleans: Kelp shows true/false, Gnumeric TRUE/FALSE. LibreOffice has no boolean cells
#     (its booleans are numbers) and its CSV export shows them as 1/0, which matches a cell
#     that Kelp reads as a boolean.
#  3. Gnumeric draws the minus sign of a number as U+2212; it counts as "-" in a cell holding
#     a number (never in a text cell).
#  4. LibreOffice answers some formulas with errors of its own that Excel does not have
#     (Err:502, Err:520, #ADDIN?, ...); such a text matches any error in Kelp. Gnumeric
#     still checks which error it is.
#  5. Numbers under the General format: the programs write General numbers in their own
#     style (1e300, 1E+300; 0.000001, 1E-06, 1e-6) and with as many digits as they like:
#     Gnumeric fits them to the column's width (-5.37E+08 for -536870912), LibreOffice shows
#     up to 15 significant digits, Kelp at most 15 characters. Two General texts agree when
#     they are the same number, or when the one with fewer significant digits is the other
#     rounded to its last digit; when that is Kelp's, it must keep at least 8 significant
#     digits (or as many as the other). The exact value is pinned by the xlrd and gnumeric-raw
#     comparisons.
#  5b. Spaces before and after a number's text do not count: formats pad with "_)" (a space
#     the width of a character) and "* " (spaces filling the column), which the programs
#     draw to their own column widths, Gnumeric partly with hair spaces (U+200A); cat has no
#     widths and draws neither.
#  6. Values: numbers agree within a relative 1e-12 (Kelp's --raw keeps 15 characters);
#     Kelp's --raw dates are read as Kelp's serials (days since 30 December 1899, two-digit
#     years 0-29 in 2000-2029) and agree within half a second, as Kelp shows whole seconds.
#     Kelp counts a 1904 file's date cells from 1900, so there a cell that xlrd calls a date
#     is compared 1462 days earlier.
#  7. Formulas are compared as parse trees under Excel's precedence, so spaces, parentheses
#     that change nothing ((-A2)^2 and -A2^2), the case of function names, names and cell
#     references, LibreOffice's sheet syntax ($Sheet2.A1 and Sheet2!A1,
#     $Sheet1.A1:$Sheet3.A1 and Sheet1:Sheet3!A1:A1) and its union operator (~ for a comma
#     inside parentheses) do not count. TRUE() and FALSE() are the constants TRUE and FALSE,
#     and so are the error constant #N/A and NA(); a sheet name that names the formula's own
#     sheet may be left out, and an area of one cell (A1:A1) is that cell. $ signs count.
#  7b. LibreOffice has no boolean or error constants: it holds them as formulas, and exports
#     a boolean as =TRUE() or =FALSE(), an error as a bare "=", #N/A as =NA(). These match
#     Kelp's constants true, false and the errors.
#  8. Round trip to Excel 95: texts of FILE are compared after putting them through OUT's
#     code page, where characters the code page cannot hold become "?".
#  8b. An Excel 95 label holds 255 characters, and Kelp cuts longer texts there (with a
#     notice): each field of FILE's cat lines is compared cut to 255 characters.
#  9. Kelp's `info` marks hidden sheets only; a very hidden sheet shows no mark.

import argparse
import codecs
import csv
import datetime
import difflib
import io
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

try:
    import xlrd
except ImportError:
    xlrd = None

SKIP = 77

EXCEL_ERRORS = {0x00: "#NULL!", 0x07: "#DIV/0!", 0x0F: "#VALUE!", 0x17: "#REF!", 0x1D: "#NAME?",
                0x24: "#NUM!", 0x2A: "#N/A"}
KELP_ERRORS = {"!!Null": "#NULL!", "!!Div0": "#DIV/0!", "!!Val": "#VALUE!", "!!Ref": "#REF!",
               "!!Name": "#NAME?", "!!Num": "#NUM!", "!!NA": "#N/A"}
KELP_ERRORS_UPPER = {k.upper(): v for k, v in KELP_ERRORS.items()}
EXCEL_ERROR_TEXTS = set(EXCEL_ERRORS.values())

# LibreOffice's "Text CSV" export options: comma, double quote, UTF-8 (76), and the tokens
# 9 (save cell contents as shown), 10 (export formulas) and 12 (-1: every sheet to its own
# file NAME-SHEET.csv).
LO_SHOWN = "csv:Text - txt - csv (StarCalc):44,34,76,1,,1033,false,true,true,false,false,-1"
LO_FORMULAS = "csv:Text - txt - csv (StarCalc):44,34,76,1,,1033,false,true,false,true,false,-1"
# Gnumeric's configurable text export; "preserve" writes display texts, "raw" full values.
GNM_OPTIONS = "separator=, quote='\"' quoting-mode=auto eol=unix charset=UTF-8 format=%s"

KELP_TIMEOUT = 60
GNUMERIC_TIMEOUT = 60
SOFFICE_TIMEOUT = 600

NUMBER = re.compile(r"^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$")


def col_name(col):
    name = ""
    col += 1
    while col:
        col, rest = divmod(col - 1, 26)
        name = chr(65 + rest) + name
    return name


def cell_name(row, col):
    return "%s%d" % (col_name(col), row + 1)


def parse_cell(text):
    m = re.match(r"^([A-Z]+)(\d+)$", text)
    col = 0
    for ch in m.group(1):
        col = col * 26 + ord(ch) - 64
    return int(m.group(2)) - 1, col - 1


class Report:
    """The differences found, in the order found, with counts by tool and kind."""

    def __init__(self):
        self.lines = []
        self.counts = {}

    def add(self, label, tool, kind, where, kelp, other):
        self.counts[(tool, kind)] = self.counts.get((tool, kind), 0) + 1
        if kind == "run":  # messages are shown whole
            kelp, other = json.dumps(kelp, ensure_ascii=False), json.dumps(other, ensure_ascii=False)
        else:
            kelp, other = clip(kelp, other)
        line = "%s: %s: %s: kelp %s | %s %s  [%s]" % (label, tool, where, kelp, tool, other, kind)
        self.lines.append(line)
        print(line, flush=True)


def clip(a, b, limit=100):
    """Two texts as JSON strings; long ones cut to the part around their first difference."""
    if a is None or b is None or (len(a) <= limit and len(b) <= limit):
        return json.dumps(a, ensure_ascii=False), json.dumps(b, ensure_ascii=False)
    at = 0
    while at < min(len(a), len(b)) and a[at] == b[at]:
        at += 1
    start = max(0, at - 20)

    def cut(text):
        return "(%d characters, from %d) %s" % (len(text), start, json.dumps(text[start:start + 60], ensure_ascii=False))
    return cut(a), cut(b)


def run(command, timeout, env=None, cwd=None):
    """Runs a command in its own process group; returns (status, stdout, stderr), status None on a timeout."""
    proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, cwd=cwd,
                            start_new_session=True)
    try:
        out, err = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, err = proc.communicate()
        return None, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")
    return proc.returncode, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")


# ---- Kelp's view ------------------------------------------------------------------------


class KelpBook:
    """What kelpcli shows for one file: info, and per sheet the three cat outputs as text."""

    def __init__(self):
        self.info = ""
        self.sheets = []  # dicts: name, hidden, rows, cols
        self.cat = {}  # (sheet name, mode) -> text
        self.error = None


INFO_SHEET = re.compile(r"^  (.*?)( \(active\))?( \(hidden\))?: (empty|([A-Z]+\d+):([A-Z]+\d+))$")


def kelp_env():
    env = dict(os.environ)
    env["KELP_LOCALE"] = "en_US"
    return env


def read_kelp(kelpcli, path):
    book = KelpBook()
    status, out, err = run([kelpcli, "info", path], KELP_TIMEOUT, env=kelp_env())
    if status != 0:
        book.error = "info failed (%s): %s" % (status, err.strip())
        return book
    book.info = out
    lines = out.split("\n")
    m = re.match(r"^sheets: (\d+)$", lines[1] if len(lines) > 1 else "")
    if not m:
        book.error = "cannot read info: %r" % out[:200]
        return book
    for line in lines[2:2 + int(m.group(1))]:
        m = INFO_SHEET.match(line)
        if not m:
            book.error = "cannot read info line %r" % line
            return book
        rows = cols = 0
        if m.group(4) != "empty":
            rows, cols = (n + 1 for n in parse_cell(m.group(6)))
        book.sheets.append({"name": m.group(1), "hidden": bool(m.group(3)), "rows": rows, "cols": cols})
    for sheet in book.sheets:
        for mode in ("shown", "formulas", "raw"):
            extra = {"shown": [], "formulas": ["--formulas"], "raw": ["--raw"]}[mode]
            status, out, err = run([kelpcli, "cat", path, "--sheet", sheet["name"]] + extra, KELP_TIMEOUT,
                                   env=kelp_env())
            if status is None:
                book.error = "cat %s timed out" % " ".join(extra)
                return book
            # A formula too long to show fails cat but the rest of the sheet is still there.
            book.cat[(sheet["name"], mode)] = out
    return book


def split_cat(text, rows, cols, newlines):
    """Kelp's cat output as a grid. Cells may hold line breaks, so lines are grouped into
    `rows` rows of `cols` tab-separated fields each; where several groupings fit, the one
    whose line breaks per row are closest to `newlines` (from xlrd) wins. None when none fits."""
    if rows == 0:
        return []
    if text.endswith("\n"):
        text = text[:-1]
    lines = text.split("\n")
    tabs = [line.count("\t") for line in lines]
    want = cols - 1
    if len(lines) == rows and all(t == want for t in tabs):
        return [line.split("\t") for line in lines]
    span_limit = max(newlines[:rows] + [0]) + 3
    best = {(0, 0): (0, None)}  # (lines used, rows made) -> (cost, previous state)
    frontier = [(0, 0)]
    for r in range(rows):
        following = []
        for state in frontier:
            i = state[0]
            total = 0
            for span in range(1, span_limit + 1):
                if i + span > len(lines):
                    break
                total += tabs[i + span - 1]
                if total > want:
                    break
                if total < want:
                    continue
                cost = best[state][0] + abs(span - 1 - (newlines[r] if r < len(newlines) else 0))
                key = (i + span, r + 1)
                if key not in best or cost < best[key][0]:
                    if key not in best:
                        following.append(key)
                    best[key] = (cost, state)
        frontier = following
    end = (len(lines), rows)
    if end not in best:
        return None
    cuts = []
    state = end
    while state != (0, 0):
        cuts.append(state[0])
        state = best[state][1]
    cuts.append(0)
    cuts.reverse()
    return ["\n".join(lines[a:b]).split("\t") for a, b in zip(cuts, cuts[1:])]


def grid_get(grid, row, col):
    if row < len(grid) and col < len(grid[row]):
        return grid[row][col]
    return ""


# ---- xlrd's view -------------------------------------------------------------------------


class XlrdSheet:
    def __init__(self, sheet, book):
        self.name = sheet.name
        self.visibility = sheet.visibility
        self.cells = {}  # (row, col) -> (type, value, format string)
        for row in range(sheet.nrows):
            for col in range(sheet.row_len(row)):
                cell = sheet.cell(row, col)
                if cell.ctype == xlrd.XL_CELL_EMPTY:
                    continue
                fmt = None
                if cell.xf_index is not None:
                    xf = book.xf_list[cell.xf_index]
                    entry = book.format_map.get(xf.format_key)
                    fmt = entry.format_str if entry is not None else None
                kind = {xlrd.XL_CELL_NUMBER: "number", xlrd.XL_CELL_DATE: "date", xlrd.XL_CELL_TEXT: "text",
                        xlrd.XL_CELL_BOOLEAN: "boolean", xlrd.XL_CELL_ERROR: "error",
                        xlrd.XL_CELL_BLANK: "blank"}[cell.ctype]
                self.cells[(row, col)] = (kind, cell.value, fmt)
        self.rows = max([r for r, _ in self.cells] + [-1]) + 1
        self.cols = max([c for _, c in self.cells] + [-1]) + 1

    def newlines(self):
        """Line breaks per row in its texts: how many lines each row takes in Kelp's cat."""
        counts = [0] * self.rows
        for (row, _), (kind, value, _) in self.cells.items():
            if kind == "text":
                counts[row] += value.count("\n")
        return counts

    def is_general(self, row, col):
        cell = self.cells.get((row, col))
        return cell is None or cell[2] in (None, "", "General", "GENERAL", "general")


class XlrdBook:
    def __init__(self, path):
        book = xlrd.open_workbook(path, formatting_info=True)
        self.datemode = book.datemode
        self.codepage = book.codepage
        self.sheets = [XlrdSheet(s, book) for s in book.sheets()]


# ---- Reading texts as values -------------------------------------------------------------

KELP_DATE = re.compile(r"^(?:(\d{1,2})/(\d{1,2})/(\d{2}|\d{4}))?(?: ?(\d{1,2}):(\d{2})(?::(\d{2}))?)?$")


def days_from_civil(year, month, day):
    """Days since 30 December 1899 in the proleptic Gregorian calendar."""
    return (datetime.date(year, month, day) - datetime.date(1899, 12, 30)).days


def kelp_raw_value(text):
    """Kelp's --raw text as (kind, value): empty, boolean, error, number, date (Kelp's own
    serial: days since 30 December 1899), or text."""
    if text == "":
        return "empty", None
    if text in ("true", "false"):
        return "boolean", text == "true"
    if text in KELP_ERRORS:
        return "error", KELP_ERRORS[text]
    if NUMBER.match(text):
        return "number", float(text)
    m = KELP_DATE.match(text)
    if m and (m.group(1) or m.group(4)):
        serial = 0.0
        if m.group(1):
            year = int(m.group(3))
            if len(m.group(3)) == 2:
                year = 2000 + year if year < 30 else 1900 + year
            try:
                serial = float(days_from_civil(year, int(m.group(1)), int(m.group(2))))
            except ValueError:
                return "text", text
        if m.group(4):
            serial += (int(m.group(4)) * 3600 + int(m.group(5)) * 60 + int(m.group(6) or 0)) / 86400.0
        return "date", serial
    return "text", text


def kelp_serial_in_file(serial, datemode, file_date):
    """A Kelp serial as the file's number. The 1900 system's serials are Kelp's from 1 March
    1900 on; before that day the numbers are compared as they are, and the display texts
    show which day each program makes of them. Kelp counts a 1904 file's date cells
    (`file_date`: xlrd calls the cell a date) from 1900, 1462 days more; plain numbers
    keep their value."""
    if datemode == 1 and file_date:
        return serial - 1462
    return serial


def numbers_agree(a, b, absolute=0.0):
    return a == b or abs(a - b) <= max(1e-12 * max(abs(a), abs(b)), absolute)


def digits_of(text):
    """(significant digits, value of one unit in the last digit) of a number text."""
    m = NUMBER.match(text)
    mantissa = m.group(1)
    exponent = int(m.group(2)[1:]) if m.group(2) else 0
    decimals = len(mantissa.split(".")[1]) if "." in mantissa else 0
    digits = mantissa.replace(".", "").lstrip("0")
    return max(len(digits), 1), 10.0 ** (exponent - decimals)


def general_agrees(kelp, other):
    """Rule 5: Kelp's text and another program's of a number under General."""
    if not (NUMBER.match(kelp) and NUMBER.match(other)):
        return False
    a, b = float(kelp), float(other)
    if numbers_agree(a, b):
        return True
    (sig_kelp, unit_kelp), (sig_other, unit_other) = digits_of(kelp), digits_of(other)
    if sig_other <= sig_kelp:
        return abs(a - b) <= unit_other / 2 * (1 + 1e-9)
    if sig_kelp < min(sig_other, 8):
        return False
    return abs(a - b) <= unit_kelp / 2 * (1 + 1e-9)


# ---- Comparisons of cells ----------------------------------------------------------------


def compare_values(report, label, sheet_name, kelp_grid, xsheet, datemode, rows, cols):
    """xlrd's stored values against Kelp's --raw texts."""
    for row in range(max(rows, xsheet.rows)):
        for col in range(max(cols, xsheet.cols)):
            text = grid_get(kelp_grid, row, col)
            kind, value = kelp_raw_value(text)
            xkind, xvalue, _ = xsheet.cells.get((row, col), ("blank", None, None))
            where = "%s!%s" % (sheet_name, cell_name(row, col))
            shown = xlrd_text(xkind, xvalue)
            if xkind == "blank":
                ok = kind == "empty"
            elif xkind in ("number", "date"):
                if kind == "number":
                    ok = numbers_agree(value, xvalue)
                elif kind == "date":
                    ok = numbers_agree(kelp_serial_in_file(value, datemode, xkind == "date"), xvalue, 0.5 / 86400)
                else:
                    ok = False
            elif xkind == "text":
                ok = text == xvalue
            elif xkind == "boolean":
                ok = kind == "boolean" and value == bool(xvalue)
            else:
                ok = kind == "error" and value == EXCEL_ERRORS.get(xvalue)
            if not ok:
                report.add(label, "xlrd", "value", where, text, shown)


def xlrd_text(kind, value):
    if kind == "blank":
        return ""
    if kind in ("number", "date"):
        return repr(float(value))
    if kind == "boolean":
        return "TRUE" if value else "FALSE"
    if kind == "error":
        return EXCEL_ERRORS.get(value, "error %d" % value)
    return value


def raw_values_agree(kelp_text, other, datemode, file_kind):
    """Gnumeric's full-precision recalculated value against Kelp's --raw text; file_kind is
    xlrd's type of the cell."""
    kind, value = kelp_raw_value(kelp_text)
    if file_kind == "text":
        return kelp_text == other
    other = other.replace("\u2212", "-")
    if kind == "empty":
        return other == ""
    if kind == "boolean":
        return other.upper() == ("TRUE" if value else "FALSE")
    if kind == "error":
        return other == value
    if kind in ("number", "date") and NUMBER.match(other):
        if kind == "date":
            return numbers_agree(kelp_serial_in_file(value, datemode, file_kind == "date"), float(other), 0.5 / 86400)
        return numbers_agree(value, float(other))
    return kelp_text == other


def shown_agree(tool, kelp, other, raw_kind, general):
    """Display texts of one cell under rules 1 to 5; raw_kind is Kelp's --raw kind."""
    if kelp == other:
        return True
    if raw_kind == "error":
        kelp = KELP_ERRORS.get(kelp, kelp)
        if kelp == other:
            return True
        # Rule 4: LibreOffice's own error codes.
        if tool == "libreoffice" and (other.startswith("Err:") or
                                      (other.startswith("#") and other not in EXCEL_ERROR_TEXTS)):
            return True
        return False
    if raw_kind == "boolean":
        if tool == "libreoffice":
            return other == {"true": "1", "false": "0"}.get(kelp)
        return kelp.upper() == other.upper()
    if raw_kind in ("number", "date"):
        if tool == "gnumeric":
            other = other.replace("\u2212", "-")
        kelp, other = kelp.strip(), other.strip()
        if kelp == other:
            return True
        if general and raw_kind == "number":
            return general_agrees(kelp, other)
    return False


def compare_shown(report, label, tool, sheet_name, kelp_grid, raw_grid, other_grid, xsheet, rows, cols):
    height = max(rows, len(other_grid))
    width = max([cols] + [len(r) for r in other_grid])
    for row in range(height):
        for col in range(width):
            kelp = grid_get(kelp_grid, row, col)
            other = grid_get(other_grid, row, col)
            if kelp == other:
                continue
            raw_kind, _ = kelp_raw_value(grid_get(raw_grid, row, col))
            # A text cell that reads like a number or a boolean is still text.
            if xsheet and xsheet.cells.get((row, col), ("",))[0] == "text":
                raw_kind = "text"
            general = xsheet.is_general(row, col) if xsheet else True
            if not shown_agree(tool, kelp, other, raw_kind, general):
                report.add(label, tool, "display", "%s!%s" % (sheet_name, cell_name(row, col)), kelp, other)


def compare_raw(report, label, sheet_name, raw_grid, other_grid, xsheet, datemode, rows, cols):
    height = max(rows, len(other_grid))
    width = max([cols] + [len(r) for r in other_grid])
    for row in range(height):
        for col in range(width):
            kelp = grid_get(raw_grid, row, col)
            other = grid_get(other_grid, row, col)
            file_kind = xsheet.cells.get((row, col), ("blank",))[0]
            if not raw_values_agree(kelp, other, datemode, file_kind):
                report.add(label, "gnumeric-raw", "value", "%s!%s" % (sheet_name, cell_name(row, col)), kelp, other)


# ---- Formulas ----------------------------------------------------------------------------

FORMULA_TOKEN = re.compile(r"""
    (?P<space>\s+)
  | (?P<string>"(?:[^"]|"")*")
  | (?P<error>\#NULL!|\#DIV/0!|\#VALUE!|\#REF!|\#NAME\?|\#NUM!|\#N/A|!!Null|!!Div0|!!Val|!!Ref|!!Name|!!Num|!!NA)
  | (?P<losheet>\$?(?:'(?:[^']|'')+'|[^\W\d]\w*)\.(?=\$?[A-Za-z]{1,3}\$?\d))
  | (?P<xlsheet>(?:'(?:[^']|'')+'|[^\W\d][\w.]*)(?::(?:'(?:[^']|'')+'|[^\W\d][\w.]*))?!)
  | (?P<cell>\$?[A-Za-z]{1,3}\$?\d+(?![A-Za-z0-9_.(]))
  | (?P<number>(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?)
  | (?P<name>(?:[^\W\d]|\\)[\w.]*)
  | (?P<op><>|<=|>=|[-+*/^&=<>%:,~(){};])
""", re.VERBOSE | re.IGNORECASE)


class FormulaSyntaxError(Exception):
    pass


def unquote_sheet(text):
    text = text.lstrip("$")
    if text.startswith("'"):
        text = text[1:-1].replace("''", "'")
    return text.upper()


def tokenize(text):
    tokens = []
    pos = 0
    while pos < len(text):
        m = FORMULA_TOKEN.match(text, pos)
        if not m:
            raise FormulaSyntaxError("cannot read %r" % text[pos:])
        pos = m.end()
        kind = m.lastgroup
        value = m.group(kind)
        if kind == "space":
            continue
        if kind == "losheet":
            tokens.append(("sheet", (unquote_sheet(value[:-1]),)))
        elif kind == "xlsheet":
            parts = re.findall(r"'(?:[^']|'')+'|[^:!]+", value[:-1])
            tokens.append(("sheet", tuple(unquote_sheet(p) for p in parts)))
        elif kind == "error":
            tokens.append(("error", KELP_ERRORS_UPPER.get(value.upper(), value.upper())))
        else:
            tokens.append((kind, value))
    tokens.append(("end", None))
    return tokens


class FormulaParser:
    """A formula's parse tree under Excel's precedence (reference operators, negation, %,
    ^, * and /, + and -, &, comparisons), with parentheses left out."""

    def __init__(self, text, own_sheet):
        self.tokens = tokenize(text)
        self.pos = 0
        self.own = own_sheet.upper()

    def peek(self):
        return self.tokens[min(self.pos, len(self.tokens) - 1)]

    def take(self):
        token = self.peek()
        self.pos += 1
        return token

    def accept(self, op):
        if self.peek() == ("op", op):
            self.pos += 1
            return True
        return False

    def parse(self):
        tree = self.comparison()
        if self.peek()[0] != "end":
            raise FormulaSyntaxError("unexpected %r" % (self.peek(),))
        return tree

    def binary(self, operators, lower):
        tree = lower()
        while self.peek()[0] == "op" and self.peek()[1] in operators:
            op = self.take()[1]
            tree = (op, tree, lower())
        return tree

    def comparison(self):
        return self.binary(("=", "<>", "<", ">", "<=", ">="), self.concat)

    def concat(self):
        return self.binary(("&",), self.additive)

    def additive(self):
        return self.binary(("+", "-"), self.term)

    def term(self):
        return self.binary(("*", "/"), self.power)

    def power(self):
        return self.binary(("^",), self.percent)

    def percent(self):
        tree = self.prefix()
        while self.accept("%"):
            tree = ("%", tree)
        return tree

    def prefix(self):
        if self.accept("-"):
            return ("neg", self.prefix())
        if self.accept("+"):
            return ("plus", self.prefix())
        return self.union()

    def union(self):
        return self.binary(("~",), self.area)

    def area(self):
        tree = self.primary()
        while self.accept(":"):
            tree = self.join_area(tree, self.primary())
        return tree

    def join_area(self, first, second):
        if first[0] == "ref" and second[0] == "ref":
            sheets = first[1]
            if second[1] and second[1] != sheets:
                sheets = (sheets[0] if sheets else self.own, second[1][-1])
            return self.ref(sheets, first[2], second[2])
        return (":", first, second)

    def ref(self, sheets, first, last=None):
        if last is not None and last.upper() == first.upper():
            last = None
        if len(sheets) == 2 and sheets[0] == sheets[1]:
            sheets = sheets[:1]
        if sheets == (self.own,):
            sheets = ()
        return ("ref", sheets, first.upper(), last.upper() if last else None)

    def primary(self):
        kind, value = self.take()
        if kind == "number":
            return ("num", float(value))
        if kind == "string":
            return ("str", value[1:-1].replace('""', '"'))
        if kind == "error":
            return ("err", value)
        if kind == "cell":
            return self.ref((), value)
        if kind == "sheet":
            kind2, value2 = self.take()
            if kind2 == "cell":
                return self.ref(value, value2)
            if kind2 in ("name", "error"):
                return ("name", value, value2.upper())
            raise FormulaSyntaxError("a sheet name before %r" % value2)
        if kind == "name":
            upper = value.upper()
            if self.accept("("):
                args = []
                if not self.accept(")"):
                    while True:
                        if self.peek() in (("op", ","), ("op", ")")):
                            args.append(("missing",))
                        else:
                            args.append(self.comparison())
                        if self.accept(")"):
                            break
                        if not self.accept(","):
                            raise FormulaSyntaxError("expected , or ) in %s()" % value)
                if upper in ("TRUE", "FALSE") and not args:
                    return ("bool", upper == "TRUE")
                if upper == "NA" and not args:
                    return ("err", "#N/A")
                return ("call", upper, tuple(args))
            if upper in ("TRUE", "FALSE"):
                return ("bool", upper == "TRUE")
            return ("name", (), upper)
        if (kind, value) == ("op", "("):
            items = [self.comparison()]
            while self.accept(","):
                items.append(self.comparison())
            if not self.accept(")"):
                raise FormulaSyntaxError("expected )")
            tree = items[0]
            for item in items[1:]:
                tree = ("~", tree, item)
            return tree
        if (kind, value) == ("op", "{"):
            rows = [[]]
            while True:
                rows[-1].append(self.prefix())
                if self.accept(";"):
                    rows.append([])
                elif self.accept("}"):
                    break
                elif not self.accept(","):
                    raise FormulaSyntaxError("expected , ; or } in an array")
            return ("array", tuple(tuple(r) for r in rows))
        raise FormulaSyntaxError("unexpected %r" % value)


def formula_tree(text, own_sheet):
    return FormulaParser(text[1:], own_sheet).parse()


def formulas_agree(kelp, other, own_sheet):
    if kelp == other:
        return True
    if not kelp.startswith("="):
        # Rule 7b: a boolean or error constant in Kelp that LibreOffice holds as a formula.
        if kelp in ("true", "false"):
            return other == ("=TRUE()" if kelp == "true" else "=FALSE()")
        if kelp in KELP_ERRORS:
            return other == "=" or (KELP_ERRORS[kelp] == "#N/A" and other == "=NA()")
        return False
    if not other.startswith("="):
        return False
    try:
        return formula_tree(kelp, own_sheet) == formula_tree(other, own_sheet)
    except FormulaSyntaxError:
        return False


def compare_formulas(report, label, sheet_name, kelp_grid, other_grid, rows, cols):
    height = max(rows, len(other_grid))
    width = max([cols] + [len(r) for r in other_grid])
    for row in range(height):
        for col in range(width):
            kelp = grid_get(kelp_grid, row, col)
            other = grid_get(other_grid, row, col)
            # Only formulas count here; other cells are compared as values and display texts.
            if not (kelp.startswith("=") or other.startswith("=")):
                continue
            if not formulas_agree(kelp, other, sheet_name):
                report.add(label, "lo-formulas", "formula", "%s!%s" % (sheet_name, cell_name(row, col)), kelp, other)


# ---- The oracles' runs -------------------------------------------------------------------


def read_csv(path):
    with open(path, encoding="utf-8", newline="") as f:
        text = f.read()
    if text.startswith("\ufeff"):
        text = text[1:]
    return [row for row in csv.reader(io.StringIO(text))]


def run_gnumeric(report, label, xls, outdir):
    """ssconvert's display texts and raw values, one CSV per sheet: {format: [grid per sheet]}."""
    env = dict(os.environ)
    env["LC_ALL"] = "C.UTF-8"
    results = {}
    for fmt in ("preserve", "raw"):
        pattern = os.path.join(outdir, "gnumeric-%s-%%n.csv" % fmt)
        command = ["ssconvert", "--recalc", "-S", "-T", "Gnumeric_stf:stf_assistant", "-O", GNM_OPTIONS % fmt,
                   xls, pattern]
        status, _, err = run(command, GNUMERIC_TIMEOUT, env=env)
        if status != 0:
            report.add(label, "gnumeric", "run", "-", "", "ssconvert failed (%s): %s" % (status, err.strip()[:200]))
            return None
        grids = []
        n = 0
        while os.path.exists(pattern.replace("%n", str(n))):
            grids.append(read_csv(pattern.replace("%n", str(n))))
            n += 1
        results[fmt] = grids
    return results


def run_soffice(files, workdir):
    """LibreOffice's display texts and formulas of every file in two soffice runs; returns
    (shown folder, formulas folder, message when a run failed)."""
    profile = os.path.join(workdir, "lo-profile")
    folders = []
    message = None
    for name, filt in (("lo-shown", LO_SHOWN), ("lo-formulas", LO_FORMULAS)):
        folder = os.path.join(workdir, name)
        os.makedirs(folder, exist_ok=True)
        command = ["soffice", "-env:UserInstallation=file://" + profile, "--headless", "--norestore",
                   "--convert-to", filt, "--outdir", folder] + files
        status, _, err = run(command, SOFFICE_TIMEOUT)
        if status != 0:
            message = "soffice %s failed (%s): %s" % (name, status, err.strip()[:300])
        folders.append(folder)
    return folders[0], folders[1], message


def lo_grid(folder, xls, sheet_name):
    stem = os.path.splitext(os.path.basename(xls))[0]
    path = os.path.join(folder, "%s-%s.csv" % (stem, sheet_name))
    if not os.path.exists(path):
        return None
    return read_csv(path)


# ---- One workbook against the oracles ----------------------------------------------------


def check_oracles(report, label, xls, kelp, xbook, gnm, lo_shown, lo_formulas):
    names_kelp = [s["name"] for s in kelp.sheets]
    names_xlrd = [s.name for s in xbook.sheets]
    if names_kelp != names_xlrd:
        report.add(label, "xlrd", "sheets", "sheet names", " / ".join(names_kelp), " / ".join(names_xlrd))
    for sheet in kelp.sheets:
        name = sheet["name"]
        xsheet = next((s for s in xbook.sheets if s.name == name), None)
        if xsheet is None:
            continue
        if sheet["hidden"] != (xsheet.visibility == 1):
            report.add(label, "xlrd", "sheets", name + " visibility", "hidden" if sheet["hidden"] else "shown",
                       ["visible", "hidden", "very hidden"][xsheet.visibility])
        rows, cols = sheet["rows"], sheet["cols"]
        newlines = xsheet.newlines()
        grids = {}
        for mode in ("shown", "formulas", "raw"):
            grid = split_cat(kelp.cat[(name, mode)], rows, cols, newlines)
            if grid is None:
                report.add(label, "kelp", "run", name, "cat output does not split into %d rows of %d cells" %
                           (rows, cols), mode)
                grid = [line.split("\t") for line in kelp.cat[(name, mode)].split("\n")]
            grids[mode] = grid
        compare_values(report, label, name, grids["raw"], xsheet, xbook.datemode, rows, cols)
        xindex = xbook.sheets.index(xsheet)
        if gnm is not None:
            if xindex < len(gnm["preserve"]):
                compare_shown(report, label, "gnumeric", name, grids["shown"], grids["raw"],
                              gnm["preserve"][xindex], xsheet, rows, cols)
                compare_raw(report, label, name, grids["raw"], gnm["raw"][xindex], xsheet, xbook.datemode, rows, cols)
            else:
                report.add(label, "gnumeric", "sheets", name, "a sheet", "no CSV for it")
        shown = lo_grid(lo_shown, xls, name)
        formulas = lo_grid(lo_formulas, xls, name)
        if shown is None or formulas is None:
            if rows:
                report.add(label, "libreoffice", "sheets", name, "a sheet", "no CSV for it")
            continue
        compare_shown(report, label, "libreoffice", name, grids["shown"], grids["raw"], shown, xsheet, rows, cols)
        compare_formulas(report, label, name, grids["formulas"], formulas, rows, cols)


# ---- The round trip of an export ---------------------------------------------------------


def through_code_page(text, codepage):
    """Rule 8: what a text becomes in an Excel 95 file of that code page."""
    try:
        codec = codecs.lookup("cp%d" % codepage)
    except (LookupError, TypeError):
        return text
    return text.encode(codec.name, "replace").decode(codec.name)


def cut_fields(text, limit=255):
    """Rule 8b: every tab-separated field of every line cut to `limit` characters."""
    return "\n".join("\t".join(field[:limit] for field in line.split("\t")) for line in text.split("\n"))


def compare_round_trip(report, label, source, out, export_type, codepage):
    expected_type = {7: "type: Excel 97", 6: "type: Excel 95"}[export_type]
    out_lines = out.info.split("\n")
    if out_lines[0] != expected_type:
        report.add(label, "round-trip", "info", "type", expected_type, out_lines[0])
    source_info = source.info.split("\n")[1:]
    if export_type == 6:
        source_info = [through_code_page(line, codepage) for line in source_info]
    for line, a, b in line_differences(source_info, out_lines[1:]):
        report.add(label, "round-trip", "info", "info line %d" % (line + 2), a, b)
    out_names = [s["name"] for s in out.sheets]
    for sheet in source.sheets:
        name = sheet["name"]
        if export_type == 6:
            name6 = through_code_page(name, codepage)
        else:
            name6 = name
        if name6 not in out_names:
            continue  # already in the info difference
        for mode in ("shown", "formulas", "raw"):
            before = source.cat[(name, mode)]
            after = out.cat[(name6, mode)]
            if export_type == 6:
                before = cut_fields(through_code_page(before, codepage))
            for line, a, b in line_differences(before.split("\n"), after.split("\n")):
                report.add(label, "round-trip", "cat " + mode, "%s line %d" % (name, line + 1), a, b)


def line_differences(before, after):
    """(index in `before`, its line, the line `after` has instead) for each line that differs;
    None where one side has no line."""
    found = []
    matcher = difflib.SequenceMatcher(a=before, b=after, autojunk=False)
    for tag, a1, a2, b1, b2 in matcher.get_opcodes():
        if tag == "equal":
            continue
        for k in range(max(a2 - a1, b2 - b1)):
            found.append((min(a1 + k, len(before)), before[a1 + k] if a1 + k < a2 else None,
                          after[b1 + k] if b1 + k < b2 else None))
    return found


def check_streams(report, label, path, export_type):
    wanted = {7: "Workbook", 6: "Book"}[export_type]
    status, out, err = run(["gsf", "list", path], 60)
    if status != 0:
        report.add(label, "gsf", "streams", "-", wanted, "gsf list failed: %s" % err.strip())
        return
    streams = []
    for line in out.split("\n")[1:]:
        fields = line.split(None, 2)
        if len(fields) == 3 and fields[0] == "f":
            streams.append(fields[2])
    if streams != [wanted]:
        report.add(label, "gsf", "streams", "-", wanted, " ".join(streams))


# ---- Main --------------------------------------------------------------------------------


def missing_programs(exporting):
    missing = []
    if xlrd is None:
        missing.append("the Python module xlrd (Debian: python3-xlrd; run with /usr/bin/python3)")
    if shutil.which("ssconvert") is None:
        missing.append("ssconvert (Debian: gnumeric)")
    if shutil.which("soffice") is None:
        missing.append("soffice (Debian: libreoffice-calc)")
    if exporting and shutil.which("gsf") is None:
        missing.append("gsf (Debian: libgsf-bin)")
    return missing


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--kelpcli", required=True)
    parser.add_argument("--keep", help="keep every intermediate file in this folder")
    parser.add_argument("--export", type=int, action="append", choices=(6, 7),
                        help="check kelpcli's export of each FILE to this Excel type (7 or 6)")
    parser.add_argument("--known", help="a file of differences already explained; only others fail the run")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args(argv)
    started = time.time()

    missing = missing_programs(bool(args.export))
    if missing:
        print("excel_oracles: skipped, missing: " + "; ".join(missing))
        return SKIP
    kelpcli = os.path.abspath(args.kelpcli)
    if not os.access(kelpcli, os.X_OK):
        print("excel_oracles: %s is not an executable kelpcli" % args.kelpcli, file=sys.stderr)
        return 2
    for path in args.files:
        if not os.path.isfile(path):
            print("excel_oracles: no file %s" % path, file=sys.stderr)
            return 2
        if not args.export and not path.lower().endswith(".xls"):
            print("excel_oracles: %s is not an .xls; give --export 7 or --export 6" % path, file=sys.stderr)
            return 2

    if args.keep:
        workdir = os.path.abspath(args.keep)
        os.makedirs(workdir, exist_ok=True)
        cleanup = None
    else:
        cleanup = tempfile.TemporaryDirectory(prefix="excel_oracles.")
        workdir = cleanup.name
    report = Report()

    # Each workbook to check gets its own name in the work folder, as LibreOffice names its
    # CSV files after the workbook.
    jobs = []  # (label, xls path in workdir, source path or None, export type)
    for index, path in enumerate(args.files):
        stem = "%02d_%s" % (index, re.sub(r"[^A-Za-z0-9_]", "_", os.path.splitext(os.path.basename(path))[0]))
        if args.export:
            for export_type in args.export:
                out = os.path.join(workdir, "%s_type%d.xls" % (stem, export_type))
                label = "%s as type %d" % (os.path.basename(path), export_type)
                command = [kelpcli, "convert", os.path.abspath(path), out, "--type", str(export_type)]
                status, _, err = run(command, KELP_TIMEOUT, env=kelp_env())
                if status != 0 or not os.path.exists(out):
                    report.add(label, "kelp", "run", "-", "kelpcli convert failed (%s): %s" % (status, err.strip()), "")
                    continue
                jobs.append((label, out, path, export_type))
        else:
            copy = os.path.join(workdir, stem + ".xls")
            shutil.copyfile(path, copy)
            jobs.append((os.path.basename(path), copy, None, None))

    if jobs:
        lo_shown, lo_formulas, message = run_soffice([job[1] for job in jobs], workdir)
        if message:
            report.add("-", "libreoffice", "run", "-", "", message)
    sources = {}
    for label, xls, source, export_type in jobs:
        kelp = read_kelp(kelpcli, xls)
        if kelp.error:
            report.add(label, "kelp", "run", "-", kelp.error, "")
            continue
        try:
            xbook = XlrdBook(xls)
        except Exception as e:  # xlrd raises many kinds of exception on a file it cannot read
            report.add(label, "xlrd", "run", "-", "", "xlrd cannot read it: %s" % e)
            xbook = None
        if source is not None:
            check_streams(report, label, xls, export_type)
            if source not in sources:
                sources[source] = read_kelp(kelpcli, source)
            if sources[source].error:
                report.add(label, "kelp", "run", "-", "reading %s: %s" % (source, sources[source].error), "")
            else:
                codepage = xbook.codepage if xbook and xbook.codepage else 1252
                compare_round_trip(report, label, sources[source], kelp, export_type, codepage)
        if xbook is None:
            continue
        outdir = os.path.join(workdir, os.path.splitext(os.path.basename(xls))[0] + "-gnumeric")
        os.makedirs(outdir, exist_ok=True)
        gnm = run_gnumeric(report, label, xls, outdir)
        check_oracles(report, label, xls, kelp, xbook, gnm, lo_shown, lo_formulas)

    elapsed = time.time() - started
    print("excel_oracles: %d workbooks checked in %.1f s, %d differences" % (len(jobs), elapsed, len(report.lines)))
    for (tool, kind), count in sorted(report.counts.items()):
        print("  %-14s %-14s %d" % (tool, kind, count))
    if cleanup is not None:
        cleanup.cleanup()
    if not args.known:
        return 1 if report.lines else 0
    known = read_known(args.known)
    unexplained = [line for line in report.lines if not any(matches(line, entry) for entry in known)]
    unused = [entry for entry in known if not any(matches(line, entry) for line in report.lines)]
    print("excel_oracles: %d of the differences are explained in %s, %d are not"
          % (len(report.lines) - len(unexplained), args.known, len(unexplained)))
    for line in unexplained:
        print("  not explained: " + line)
    for entry in unused:
        print("  explained but no longer seen: " + " ... ".join(entry))
    return 1 if unexplained else 0


def read_known(path):
    """The explained differences: one per line, fragments of a difference line joined by
    " ... " that must appear in it in that order; "#" lines say why."""
    entries = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.strip() and not line.startswith("#"):
                entries.append(line.split(" ... "))
    return entries


def matches(line, fragments):
    at = 0
    for fragment in fragments:
        found = line.find(fragment, at)
        if found < 0:
            return False
        at = found + len(fragment)
    return True


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
