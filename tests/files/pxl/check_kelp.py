#!/usr/bin/env python3
"""Black-box checks of kelpcli's Pocket Excel reading and writing against the independent codec in pxl.py."""

# Usage: check_kelp.py KELPCLI [--keep DIR] [--only WORD]...
#
# Kelp is only run, never read: what it must show comes from pxl.py's decoding of the
# fixtures in fixtures/, and what it writes is decoded by pxl.py again.
#   codec.*     the fixtures are what `pxl.py make` writes, and every one survives
#               bytes -> records -> bytes and dump -> build -> dump
#   read.*      each good fixture: `kelpcli info`, `cat --raw`, `cat --formulas` and
#               `cat --sheet` of every sheet show what the decoder says; its view (panes,
#               zoom, widths, heights, hidden sheets) as Kelp's .xls of it tells xlrd
#   refuse.*    each bad fixture fails with its error's message
#   truncate    every shorter prefix of truncate.pxl fails cleanly or opens: no crash,
#               no sanitizer report, no hang
#   write.*     `kelpcli convert` of examples/sample.kp, of a workbook made by kelpcli and
#               of each good fixture to .pxl follows the record rules and holds the cells
#               `kelpcli cat --raw` and `--formulas` show for the source; the view matches
#               what Kelp's .xls of the same source holds (read by xlrd)
#   roundtrip.* fixture -> Kelp -> .pxl decodes to the fixture's own decode, for what Kelp keeps
#   cross.*     .kp -> .pxl -> .xls read by xlrd equals .kp -> .xls read by xlrd
# xlrd is Debian's python3-xlrd, run through /usr/bin/python3; without it the checks that
# need it are skipped with a message. Output: "ok NAME", "FAIL NAME: why" (with details
# below it) and "skip NAME: why"; the exit status is 1 when a check failed, else 0.

import copy
import datetime
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # keep the source tree clean
import pxl  # noqa: E402

SOURCE_ROOT = os.path.abspath(os.path.join(HERE, "..", "..", ".."))
FIXTURES = os.path.join(HERE, "fixtures")
XLRD_PYTHON = "/usr/bin/python3"

KELP_ERRORS = {
    13: "File read error",
    38: "File is password protected",
    46: "File open error: Kelp can't open files in PXL 1.0 format.",
}
KELP_ERROR_NAMES = {"#NULL!": "!!Null", "#DIV/0!": "!!Div0", "#VALUE!": "!!Val", "#REF!": "!!Ref",
                    "#NAME?": "!!Name", "#NUM!": "!!Num", "#N/A": "!!NA"}
SANITIZER_WORDS = ("AddressSanitizer", "UndefinedBehaviorSanitizer", "LeakSanitizer", "runtime error:",
                   "Segmentation fault", "Aborted")


def fixture_bytes(name):
    with open(os.path.join(FIXTURES, name), "rb") as f:
        return f.read()


class Failed(Exception):
    def __init__(self, message, details=()):
        super().__init__(message)
        self.details = list(details)


class Skipped(Exception):
    pass


class Kelp:
    def __init__(self, path, folder):
        self.path = path
        self.folder = folder
        self.count = 0

    def run(self, *args, timeout=120):
        self.count += 1
        try:
            done = subprocess.run([self.path] + [str(a) for a in args], capture_output=True,
                                  timeout=timeout, cwd=self.folder, stdin=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            raise Failed("kelpcli %s did not end within %d s" % (" ".join(map(str, args)), timeout))
        done.stdout = done.stdout.decode("utf-8", errors="replace")
        done.stderr = done.stderr.decode("utf-8", errors="replace")
        crashed = done.returncode < 0 or any(word in done.stderr for word in SANITIZER_WORDS)
        if crashed:
            raise Failed("kelpcli %s crashed (status %d)" % (" ".join(map(str, args)), done.returncode),
                         done.stderr.strip().splitlines()[:12])
        return done

    def ok(self, *args):
        done = self.run(*args)
        if done.returncode != 0:
            raise Failed("kelpcli %s exited %d: %s" % (" ".join(map(str, args)), done.returncode,
                                                      done.stderr.strip()[:300]))
        return done


# ---------------------------------------------------------------------------------------
# What kelpcli shows, as data

def grid(text):
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    return {pxl.a1(r, c): field for r, line in enumerate(lines) for c, field in enumerate(line.split("\t"))}


def parse_info(text):
    """kelpcli info: file type, sheets (names, the active one, the hidden ones), names
    {name: formula}, tasks [names]."""
    info = {"type": None, "sheets": [], "active": None, "hidden": [], "names": {}, "tasks": []}
    section = None
    for line in text.split("\n"):
        if not line.startswith("  "):
            section, _, rest = line.partition(": ")
            if section == "type":
                info["type"] = rest
            continue
        item = line[2:]
        if section == "sheets":
            name, _, used = item.rpartition(": ")
            if name.endswith(" (hidden)"):
                name = name[:-len(" (hidden)")]
                info["hidden"].append(len(info["sheets"]))
            if name.endswith(" (active)"):
                name = name[:-len(" (active)")]
                info["active"] = len(info["sheets"])
            info["sheets"].append(name)
        elif section == "names":
            name, _, formula = item.partition(" ")
            info["names"][name] = formula
        elif section == "tasks":
            info["tasks"].append(item)
    return info


def serial_from_text(text):
    """A date or time as Kelp's --raw writes it (m/d/yy[yy] and/or h:mm[:ss] [AM|PM]) to a serial."""
    m = re.fullmatch(r"\s*(?:(\d{1,2})/(\d{1,2})/(\d{2}|\d{4}))?\s*(?:(\d{1,2}):(\d{2})(?::(\d{2}))?\s*([AaPp][Mm])?)?\s*", text)
    if not m or not (m.group(1) or m.group(4)):
        return None
    serial = 0.0
    if m.group(1):
        year = int(m.group(3))
        if len(m.group(3)) == 2:
            year += 2000 if year < 30 else 1900
        try:
            day = datetime.date(year, int(m.group(1)), int(m.group(2)))
        except ValueError:
            return None
        serial = float((day - datetime.date(1899, 12, 30)).days)
    if m.group(4):
        hour = int(m.group(4)) % 12 if m.group(7) else int(m.group(4))
        if m.group(7) and m.group(7).lower() == "pm":
            hour += 12
        serial += (hour * 3600 + int(m.group(5)) * 60 + int(m.group(6) or 0)) / 86400.0
    return serial


def close(a, b):
    return a == b or abs(a - b) <= 1e-12 * max(abs(a), abs(b)) or abs(a - b) < 1e-300


def value_of(cell):
    """(kind, value) of a decoded cell, formulas by their cached result."""
    if cell["kind"] == "formula":
        result = cell["result"]
        kind = {"empty": "text"}.get(result["kind"], result["kind"])
        return kind, result["value"] if result["value"] is not None else ""
    if cell["kind"] == "blank":
        return "text", ""
    return cell["kind"], cell["value"]


def raw_matches(cell, shown):
    kind, value = value_of(cell)
    if kind == "number":
        try:
            return close(float(shown), value)
        except ValueError:
            serial = serial_from_text(shown)
            return serial is not None and abs(serial - value) < 0.5 / 86400
    if kind == "text":
        return shown == value
    if kind == "bool":
        return shown == ("true" if value else "false")
    if kind == "error":
        return shown == KELP_ERROR_NAMES.get(value, value)
    return False


ERROR_LITERALS = sorted(list(KELP_ERROR_NAMES) + list(KELP_ERROR_NAMES.values()), key=len, reverse=True)


def formula_key(text):
    """Tokens of a formula text with the differences of spelling taken out: case, spaces,
    quotes around sheet names, Kelp's !!-names of errors, the writing of numbers."""
    out = []
    text = text[1:] if text.startswith("=") else text
    i = 0
    while i < len(text):
        ch = text[i]
        error = next((e for e in ERROR_LITERALS if text[i:i + len(e)].lower() == e.lower()), None)
        if error:
            inverse = {v: k for k, v in KELP_ERROR_NAMES.items()}
            out.append(("e", inverse.get(error, error)))
            i += len(error)
        elif ch.isspace():
            i += 1
        elif ch == '"':
            j = i + 1
            value = ""
            while j < len(text):
                if text[j] == '"':
                    if text[j + 1:j + 2] == '"':
                        value += '"'
                        j += 2
                        continue
                    break
                value += text[j]
                j += 1
            out.append(("s", value))
            i = j + 1
        elif ch == "'":
            j = i + 1
            value = ""
            while j < len(text):
                if text[j] == "'":
                    if text[j + 1:j + 2] == "'":
                        value += "'"
                        j += 2
                        continue
                    break
                value += text[j]
                j += 1
            for k, part in enumerate(value.split(":")):
                if k:
                    out.append(("p", ":"))
                out.append(("w", part.upper()))
            i = j + 1
        elif ch.isdigit() or (ch == "." and text[i + 1:i + 2].isdigit()):
            m = re.match(r"\d*\.?\d*(?:[eE][+-]?\d+)?", text[i:])
            out.append(("n", float(m.group(0))))
            i += len(m.group(0))
        elif ch.isalpha() or ch in "_$\\":
            m = re.match(r"[A-Za-z0-9_.$\\]+", text[i:])
            out.append(("w", m.group(0).upper()))
            i += len(m.group(0))
        else:
            two = text[i:i + 2]
            token = two if two in ("<=", ">=", "<>") else ch
            out.append(("p", token))
            i += len(token)
    return out


def compare_cells(cells, shown, formulas):
    """Differences between decoded cells and a `kelpcli cat` grid (--raw or --formulas)."""
    problems = []
    for at in sorted(set(cells) | set(shown), key=lambda a: pxl.parse_a1(a)[:2]):
        cell = cells.get(at)
        text = shown.get(at, "")
        if cell is None:
            if text != "":
                problems.append("%s: kelp shows %r where the file has no cell" % (at, text))
            continue
        if formulas:
            if cell["kind"] == "formula" and cell.get("formula"):
                if not text.startswith("=") or formula_key(text) != formula_key(cell["formula"]):
                    problems.append("%s: kelp shows %r, the file holds %r" % (at, text, cell["formula"]))
            elif text.startswith("=") and not (cell["kind"] == "text" and cell["value"].startswith("=")):
                problems.append("%s: kelp shows the formula %r where the file holds a %s" % (at, text, cell["kind"]))
        elif not raw_matches(cell, text):
            problems.append("%s: kelp shows %r, the file holds %s %r" % ((at, text) + value_of(cell)))
    return problems


# ---------------------------------------------------------------------------------------
# xlrd, through Debian's python3

XLRD_SCRIPT = r"""
import json, sys, xlrd
book = xlrd.open_workbook(sys.argv[1], formatting_info=True)
out = []
for s in book.sheets():
    cells = {}
    for r in range(s.nrows):
        for c in range(s.ncols):
            cell = s.cell(r, c)
            if cell.ctype != xlrd.XL_CELL_EMPTY:
                cells["%d,%d" % (r, c)] = [cell.ctype, cell.value]
    out.append({"name": s.name, "visibility": s.visibility,
                "frozen": [s.horz_split_pos, s.vert_split_pos] if s.panes_are_frozen else None,
                "zoom": s.scl_mag_factor,
                "cols": {str(k): [v.width, v.hidden] for k, v in s.colinfo_map.items()},
                "rows": {str(k): [v.height, v.hidden] for k, v in s.rowinfo_map.items()},
                "cells": cells})
json.dump(out, sys.stdout)
"""


def have_xlrd():
    if not os.path.exists(XLRD_PYTHON):
        return False
    return subprocess.run([XLRD_PYTHON, "-c", "import xlrd"], capture_output=True).returncode == 0


def read_xls(path):
    done = subprocess.run([XLRD_PYTHON, "-c", XLRD_SCRIPT, path], capture_output=True, text=True, timeout=120)
    if done.returncode != 0:
        raise Failed("xlrd cannot read %s" % os.path.basename(path), done.stderr.strip().splitlines()[-3:])
    sheets = json.loads(done.stdout)
    for sheet in sheets:
        sheet["cells"] = {pxl.a1(*map(int, k.split(","))): v for k, v in sheet["cells"].items()}
        sheet["cols"] = {int(k): v for k, v in sheet["cols"].items()}
        sheet["rows"] = {int(k): v for k, v in sheet["rows"].items()}
    return sheets


XL_TEXT, XL_NUMBER, XL_DATE, XL_BOOLEAN, XL_ERROR, XL_BLANK = 1, 2, 3, 4, 5, 6


def xls_matches(cell, entry):
    kind, value = value_of(cell)
    ctype, xvalue = entry
    if kind == "number":
        return ctype in (XL_NUMBER, XL_DATE) and close(xvalue, value)
    if kind == "text":
        return (ctype == XL_TEXT and xvalue == value) or (value == "" and ctype == XL_BLANK)
    if kind == "bool":
        return ctype == XL_BOOLEAN and bool(xvalue) == value
    if kind == "error":
        return ctype == XL_ERROR and xvalue == pxl.error_code(value)
    return False


def column_map(sheet):
    out = {}
    for info in sheet["colinfo"]:
        for col in range(info["first"], min(info["last"], 255) + 1):
            out[col] = [info["width"], info["flags"] & 1]
    return out


def compare_view_with_xls(book, xls, active):
    """What a decoded .pxl holds of the view, against xlrd's reading of an .xls."""
    problems = []
    sheets = [s for s in book["sheets"] if not s.get("data_sheet")]
    # In an .xls the tasks travel in an ordinary sheet of that name.
    xls = [s for s in xls if s["name"] != pxl.DATA_SHEET]
    if [s["name"] for s in sheets] != [s["name"] for s in xls]:
        return ["sheets: pxl %r, xls %r" % ([s["name"] for s in sheets], [s["name"] for s in xls])]
    for index, (sheet, other) in enumerate(zip(sheets, xls)):
        name = sheet["name"]
        if sheet["visibility"] != other["visibility"]:
            problems.append("%s: visibility pxl %d, xls %d" % (name, sheet["visibility"], other["visibility"]))
        pane = sheet.get("pane")
        frozen = [pane["rows"], pane["cols"]] if pane and pane["applied"] else None
        if frozen != other["frozen"]:
            problems.append("%s: frozen rows, columns pxl %s, xls %s" % (name, frozen, other["frozen"]))
        if index == active and sheet["zoom"] != other["zoom"]:
            problems.append("%s: zoom pxl %s, xls %s" % (name, sheet["zoom"], other["zoom"]))
        cols = column_map(sheet)
        if cols != other["cols"]:
            problems.append("%s: columns (width, hidden) pxl %s, xls %s" % (name, cols, other["cols"]))
        rows = {r["row"]: [r["height"], (r["flags"] >> 5) & 1] for r in sheet["rows"]}
        special = lambda table: {k: v for k, v in table.items() if v[1] or v[0] != 255}  # noqa: E731
        if special(rows) != special(other["rows"]):
            problems.append("%s: rows (height, hidden) pxl %s, xls %s" % (name, special(rows), special(other["rows"])))
        for at in sorted(set(sheet["cells"]) | set(other["cells"]), key=lambda a: pxl.parse_a1(a)[:2]):
            cell, entry = sheet["cells"].get(at), other["cells"].get(at)
            if cell is None or entry is None:
                if cell and cell["kind"] == "blank" or entry and entry[0] == XL_BLANK:
                    continue
                problems.append("%s!%s: only in the %s" % (name, at, "pxl" if entry is None else "xls"))
            elif not xls_matches(cell, entry):
                problems.append("%s!%s: pxl %s %r, xls %r" % ((name, at) + value_of(cell) + (entry,)))
    return problems


def book_from_xls(sheets, active):
    """A workbook description for pxl.build holding what xlrd read of an .xls."""
    kinds = {XL_TEXT: "text", XL_NUMBER: "number", XL_DATE: "number", XL_BOOLEAN: "bool", XL_BLANK: "blank"}
    book = {"version": 270, "codepage": 1252, "country": [1, 1], "window1": {"options": 31, "active": active},
            "fonts": [{"height": 200, "name": "Tahoma"}], "xfs": [{"font": 0, "format": 0}], "sheets": []}
    if sheets[active]["zoom"] != 100:
        book["scl"] = [sheets[active]["zoom"], 100]
    for sheet in sheets:
        cells = {}
        for at, (ctype, value) in sheet["cells"].items():
            if ctype == XL_ERROR:
                cells[at] = {"kind": "error", "value": pxl.error_text(value), "style": 0}
            else:
                cells[at] = {"kind": kinds[ctype], "value": bool(value) if ctype == XL_BOOLEAN else value, "style": 0}
        colinfo = []
        for col in sorted(sheet["cols"]):
            width, hidden = sheet["cols"][col]
            last = colinfo[-1] if colinfo else None
            if last and last["last"] == col - 1 and (last["width"], last["flags"]) == (width, hidden):
                last["last"] = col
            else:
                colinfo.append({"first": col, "last": col, "width": width, "style": 0, "flags": hidden})
        rows = [{"row": r, "height": h, "flags": (0x20 if hidden else 0) | (0x40 if h != 255 else 0), "style": 0}
                for r, (h, hidden) in sorted(sheet["rows"].items())]
        entry = {"name": sheet["name"], "visibility": sheet["visibility"], "cells": cells, "colinfo": colinfo,
                 "rows": rows, "window2": {"options": 0x16, "top": 0, "left": 0},
                 "selection": {"active": "A1", "range": "A1:A1"}}
        if sheet["frozen"]:
            rows_frozen, cols_frozen = sheet["frozen"]
            entry["window2"] = {"options": 0x16 | 0x0108, "top": rows_frozen, "left": cols_frozen}
            entry["pane"] = {"rows": rows_frozen, "cols": cols_frozen, "top": rows_frozen, "left": cols_frozen,
                             "active": 0}
        book["sheets"].append(entry)
    return book


# ---------------------------------------------------------------------------------------
# The rules Kelp's writer follows

GLOBAL_ORDER = re.compile(r"BOF CODEPAGE COUNTRY (SCL )?(NAME )*WINDOW1 (FONT )*(FORMAT )*(XF )*(BOUNDSHEET )*EOF ")
CELL_TYPES = {pxl.BLANK, pxl.NUMBER, pxl.LABEL, pxl.BOOLERR, pxl.FORMULA}


def rule_problems(records, sheets, has_tasks, zoom, active):
    """Record rules of Kelp's .pxl: the globals in their order with their fixed values, one
    BOUNDSHEET per sheet, each sheet BOF 270/16 ... EOF with its records in order."""
    problems = []
    names = [rec["name"] for rec in records]
    first = records[0]
    if (first["version"], first["substream"]) != (270, 5):
        problems.append("first BOF is %d/%d, not 270/5" % (first["version"], first["substream"]))
    end = names.index("EOF")
    globals_text = " ".join(names[:end + 1]) + " "
    if not GLOBAL_ORDER.fullmatch(globals_text):
        problems.append("globals out of order: " + globals_text.strip())
    for rec in records[:end]:
        t = rec["type"]
        if t == pxl.COUNTRY and (rec["first"], rec["second"]) != (1, 1):
            problems.append("COUNTRY %d,%d, not 1,1" % (rec["first"], rec["second"]))
        if t == pxl.WINDOW1 and (rec["options"], rec["active"]) != (31, active):
            problems.append("WINDOW1 options %d active %d, not 31 and %d" % (rec["options"], rec["active"], active))
        if t == pxl.SCL and (zoom == 100 or (rec["numerator"], rec["denominator"]) != (zoom, 100)):
            problems.append("SCL %d/%d for an active sheet at zoom %d" % (rec["numerator"], rec["denominator"], zoom))
        if t == pxl.NAME and rec["options"] & ~0x0001:
            problems.append("NAME %r with options 0x%04X" % (rec["text"], rec["options"]))
        if t == pxl.XF:
            fixed = (rec["fixed"], rec["byte9"], rec["word12"], rec["tail"])
            if fixed != (0xFFFFFFFF, 0, 255, 0):
                problems.append("XF at %d: fixed fields %s" % (rec["offset"], fixed))
            markers = [0x38 if rec["align"] & bit else 0xF8 for bit in (0x100, 0x200, 0x400, 0x800)]
            if rec["markers"] != markers or rec["align"] & 0xF000 or rec["protection"] & ~6:
                problems.append("XF at %d: border markers %s for align 0x%04X, protection %d"
                                % (rec["offset"], rec["markers"], rec["align"], rec["protection"]))
    if zoom != 100 and "SCL" not in names[:end]:
        problems.append("no SCL for an active sheet at zoom %d" % zoom)
    bound = [rec["sheet_name"] for rec in records[:end] if rec["type"] == pxl.BOUNDSHEET]
    expected = list(sheets) + ([pxl.DATA_SHEET] if has_tasks else [])
    if bound != expected:
        problems.append("BOUNDSHEETs %r, expected %r" % (bound, expected))
    xf_count = names[:end].count("XF")
    font_count = names[:end].count("FONT")
    format_count = names[:end].count("FORMAT")
    for rec in records[:end]:
        if rec["type"] == pxl.XF and (rec["font"] >= font_count or
                                       not (rec["format"] == 0 or 233 <= rec["format"] < 233 + format_count)):
            problems.append("XF at %d: font %d of %d, format %d of %d"
                            % (rec["offset"], rec["font"], font_count, rec["format"], format_count))
    # Sheets: BOF COLINFO* (ROW cells*)* WINDOW2 SELECTION PANE? EOF
    i = end + 1
    for sheet in bound:
        rec = records[i] if i < len(records) else None
        if rec is None or rec["type"] != pxl.BOF or (rec["version"], rec["substream"]) != (270, 16):
            problems.append("%s: does not start with BOF 270/16" % sheet)
            return problems
        i += 1
        stage = "colinfo"
        row = None
        last_cell = None
        window2 = None
        while i < len(records) and records[i]["type"] != pxl.EOF:
            rec = records[i]
            t = rec["type"]
            where = "%s: %s at %d" % (sheet, rec["name"], rec["offset"])
            if "style" in rec and rec["style"] >= xf_count and (t != pxl.ROW or rec["flags"] & 0x80):
                problems.append("%s: style %d of %d XFs" % (where, rec["style"], xf_count))
            if t == pxl.COLINFO:
                if stage != "colinfo":
                    problems.append(where + ": after the rows")
            elif t == pxl.ROW:
                if stage not in ("colinfo", "rows") or (row is not None and rec["row"] <= row):
                    problems.append(where + ": out of order")
                stage, row = "rows", rec["row"]
                if rec["flags"] & ~(0x07 | 0x20 | 0x40 | 0x80):
                    problems.append("%s: flags 0x%04X" % (where, rec["flags"]))
            elif t in CELL_TYPES:
                if sheet == pxl.DATA_SHEET and stage == "colinfo":
                    stage = "rows"  # the data sheet's task rows need no ROW records
                elif stage != "rows" or (rec["row"] != row and sheet != pxl.DATA_SHEET):
                    problems.append("%s (%s) does not follow its ROW" % (where, pxl.a1(rec["row"], rec["col"])))
                if last_cell is not None and (rec["row"], rec["col"]) <= last_cell:
                    problems.append(where + ": cells out of order")
                last_cell = (rec["row"], rec["col"])
                if t == pxl.FORMULA:
                    raw = bytes.fromhex(rec["result"])
                    result = pxl.decode_result(raw)
                    if pxl.encode_result(result) != raw or rec["flags"] & ~1:
                        problems.append("%s: cached result %s, flags %d" % (where, rec["result"], rec["flags"]))
                    text_result = result["kind"] == "text"
                    following = records[i + 1] if i + 1 < len(records) else None
                    if text_result != (following is not None and following["type"] == pxl.STRING):
                        problems.append("%s: text result and STRING record disagree" % where)
            elif t == pxl.STRING:
                if records[i - 1]["type"] != pxl.FORMULA:
                    problems.append(where + ": follows no FORMULA")
            elif t == pxl.WINDOW2:
                if stage in ("window2", "selection", "pane"):
                    problems.append(where + ": twice")
                stage, window2 = "window2", rec
            elif t == pxl.SELECTION:
                if stage != "window2":
                    problems.append(where + ": not right after WINDOW2")
                stage = "selection"
            elif t == pxl.PANE:
                if stage != "selection":
                    problems.append(where + ": not right after SELECTION")
                if window2 is None or window2["options"] & 0x0108 != 0x0108:
                    problems.append(where + ": its WINDOW2 lacks 0x0108")
                if rec["rows"] == 0 and rec["cols"] == 0:
                    problems.append(where + ": nothing frozen")
                stage = "pane"
            else:
                problems.append(where + ": does not belong in a sheet Kelp writes")
            i += 1
        if stage not in ("selection", "pane"):
            # The data sheet is never shown, so its view records are left free.
            if sheet != pxl.DATA_SHEET or stage not in ("colinfo", "rows"):
                problems.append("%s: ends without WINDOW2 and SELECTION" % sheet)
        elif window2["options"] & 0x0108 and stage != "pane":
            problems.append("%s: WINDOW2 says frozen (0x%04X) but no PANE follows" % (sheet, window2["options"]))
        i += 1
    if i != len(records):
        problems.append("%d records after the last sheet's EOF" % (len(records) - i))
    return problems


# ---------------------------------------------------------------------------------------
# What Kelp keeps of a workbook, for the round trip

def format_key(code):
    first = re.split(r"(?<!\\);", code)[0] if code else ""
    return first.replace("\\", "").replace('"', "").lower()


def style_of(book, index):
    if index is None or index >= len(book["xfs"]):
        return ("no XF", index)
    xf = book["xfs"][index]
    font = book["fonts"][xf["font"]] if xf["font"] < len(book["fonts"]) else None
    code = "General"
    if xf["format"]:
        number = xf["format"] - 233
        code = book["formats"][number]["code"] if 0 <= number < len(book["formats"]) else "#%d" % xf["format"]
    font_key = None if font is None else (font["height"], font["options"] & 3, font["color"], font["underline"],
                                          font["name"])
    return (font_key, format_key(code), xf["decoded"]["alignment"], tuple(sorted(xf["decoded"]["borders"].items())),
            xf["decoded"]["locked"], xf["decoded"]["hidden"], xf["decoded"]["fill_color"])


def kept(book):
    """The parts of a decoded workbook that Kelp keeps, with styles resolved to their content."""
    out = {"active": book["active_sheet"], "tasks": book["tasks"], "sheets": [],
           # A name keeps its text and definition; Kelp's names have no sheet and no hidden flag.
           "names": sorted((n["name"], None if n.get("formula") is None else tuple(formula_key(n["formula"])))
                           for n in book["names"] if not n["builtin"])}
    for index, sheet in enumerate(book["sheets"]):
        if sheet.get("data_sheet"):
            continue
        cells = {}
        for at, cell in sheet["cells"].items():
            kind, value = value_of(cell)
            formula = cell.get("formula")
            cells[at] = (cell["kind"] == "formula", kind, round(value, 9) if kind == "number" else value,
                         None if formula is None else tuple(formula_key(formula)),
                         style_of(book, cell["style"]))
        pane = sheet.get("pane")
        window2 = sheet["window2"]["decoded"] if sheet.get("window2") else {}
        rows = {}
        for r in sheet["rows"]:
            entry = {"hidden": bool(r["flags"] & 0x20)}
            if r["flags"] & 0x40:
                entry["height"] = r["height"]
            if r["flags"] & 0x80:
                entry["style"] = style_of(book, r["style"])
            if entry != {"hidden": False}:
                rows[r["row"]] = entry
        cols = {}
        for info in sheet["colinfo"]:
            for col in range(info["first"], min(info["last"], 255) + 1):
                cols[col] = (info["width"], bool(info["flags"] & 1), style_of(book, info["style"]))
        out["sheets"].append({
            "name": sheet["name"], "visibility": sheet["visibility"], "cells": cells, "rows": rows,
            "cols": cols, "zoom": sheet["zoom"] if index == book["active_sheet"] else None,
            "frozen": (pane["rows"], pane["cols"]) if pane and pane["applied"] else None,
            "view": {k: window2.get(k) for k in ("gridlines", "headers", "zeros", "top_left")},
            "selection": sheet.get("selection")})
    return out


def differences(a, b, path=""):
    if isinstance(a, dict) and isinstance(b, dict):
        out = []
        for key in sorted(set(a) | set(b), key=str):
            if key not in b:
                out.append("%s%s: only in the fixture: %r" % (path, key, a[key]))
            elif key not in a:
                out.append("%s%s: only in Kelp's file: %r" % (path, key, b[key]))
            else:
                out += differences(a[key], b[key], "%s%s." % (path, key))
        return out
    if isinstance(a, list) and isinstance(b, list) and len(a) == len(b) and a and isinstance(a[0], dict):
        out = []
        for k, (x, y) in enumerate(zip(a, b)):
            out += differences(x, y, "%s%d." % (path, k))
        return out
    return [] if a == b else ["%s fixture %r, Kelp %r" % (path.rstrip(".") or "value", a, b)]


# ---------------------------------------------------------------------------------------
# The checks

class Run:
    def __init__(self, kelpcli, folder, only):
        self.kelp = Kelp(kelpcli, folder)
        self.folder = folder
        self.only = only
        self.failed = []
        self.passed = 0
        self.skipped = 0
        self.xlrd = have_xlrd()

    def check(self, name, function, *args):
        if self.only and not any(word in name for word in self.only):
            return None
        try:
            result = function(*args)
        except Skipped as why:
            self.skipped += 1
            print("skip %s: %s" % (name, why))
            return None
        except Failed as problem:
            self.failed.append(name)
            print("FAIL %s: %s" % (name, problem))
            for line in problem.details[:25]:
                print("    " + line)
            if len(problem.details) > 25:
                print("    ... %d more" % (len(problem.details) - 25))
            return None
        self.passed += 1
        print("ok %s" % name)
        return result

    def path(self, name):
        return os.path.join(self.folder, name)

    # codec ---------------------------------------------------------------------------

    def codec_fixtures(self):
        made = os.path.join(self.folder, "made")
        pxl.make(made)
        stale = []
        for name in sorted(os.listdir(made)):
            with open(os.path.join(made, name), "rb") as f:
                if not os.path.exists(os.path.join(FIXTURES, name)) or f.read() != fixture_bytes(name):
                    stale.append(name)
        if stale:
            raise Failed("fixtures differ from what pxl.py make writes: %s" % ", ".join(stale))

    def codec_round_trip(self, name, error):
        data = fixture_bytes(name)
        if error is not None:
            try:
                pxl.dump(data)
            except pxl.PxlError:
                return
            raise Failed("the decoder accepts %s, which Kelp must refuse with error %d" % (name, error))
        records = pxl.decode_records(data)
        if pxl.encode_records(records) != data:
            raise Failed("bytes -> records -> bytes changes the file")
        book = pxl.describe(records)
        again = pxl.dump(pxl.build(json.loads(json.dumps(book))))
        problems = differences(book, again)
        if problems:
            raise Failed("dump -> build -> dump changes the workbook", problems)

    def compare_with_kelp_texts(self):
        """The comparisons themselves, on Kelp's real output: a .kp typed through kelpcli with
        the cells of all_records.pxl's first sheet must match them, and a changed value and a
        changed formula must not."""
        mirror = self.path("mirror.kp")
        if os.path.exists(mirror):
            os.remove(mirror)
        entries = {"A1": "Item", "B1": "Amount \u00e9\u20ac", "A2": "Rent", "B2": "950", "A3": "Food",
                   "B3": "410.5", "A4": "Power", "B4": "-74.25", "A5": "true", "C5": "false",
                   "A6": "=Sum(B2:B4)", "B6": '=A2&" & "&$A$3', "C6": "=B2>B3", "D6": "=1/0", "E6": '=""',
                   "A7": "38354.5", "B7": "=Int(Rand()*0)", "C7": '=If(A5,"yes","no")',
                   "E7": "=Max(Round(3.14159,2),Abs(B4))"}
        self.kelp.ok("set", mirror, *("%s=%s" % item for item in entries.items()))
        cells = pxl.dump(fixture_bytes("all_records.pxl"))["sheets"][0]["cells"]
        cells = {at: cells[at] for at in entries}
        problems = []
        for option in ("--raw", "--formulas"):
            shown = grid(self.kelp.ok("cat", mirror, option).stdout)
            shown = {at: text for at, text in shown.items() if at in entries or text}
            problems += ["same cells, %s: %s" % (option, p) for p in compare_cells(cells, shown, option == "--formulas")]
            changed = copy.deepcopy(cells)
            changed["B3"]["value"] = 410.25
            changed["A6"]["formula"] = "=SUM(B2:B3)"
            found = compare_cells(changed, shown, option == "--formulas")
            if len(found) != 1:
                problems.append("changed cells, %s: %d differences found, not 1: %s" % (option, len(found), found))
        if problems:
            raise Failed("the comparisons misjudge Kelp's texts", problems)

    def compare_with_kelp_xls(self, rich):
        """The view comparison itself, on Kelp's real .xls: a .pxl encoded here from what xlrd
        reads of Kelp's .xls of rich.kp must match it, and one with a change must not."""
        if not self.xlrd:
            raise Skipped("no xlrd for %s (install python3-xlrd)" % XLRD_PYTHON)
        if rich is None:
            raise Skipped("rich.kp was not made")
        xls = self.path("view.xls")
        self.kelp.ok("convert", rich, xls)
        sheets = read_xls(xls)
        active = parse_info(self.kelp.ok("info", rich).stdout)["active"]
        book = pxl.dump(pxl.build(book_from_xls(sheets, active)))
        problems = compare_view_with_xls(book, sheets, active)
        if not any(s["frozen"] for s in sheets) or not any(s["cols"] for s in sheets):
            problems.append("rich.kp has no frozen pane or no column information to compare")
        changes = {"the frozen rows": lambda b: b["sheets"][0]["pane"].update(rows=b["sheets"][0]["pane"]["rows"] + 1),
                   "a column width": lambda b: b["sheets"][0]["colinfo"][0].update(width=1),
                   "the zoom": lambda b: b.update(scl=[100, 100]),
                   "a value": lambda b: b["sheets"][0]["cells"]["B2"].update(value=1.0)}
        for what, change in changes.items():
            other = book_from_xls(sheets, active)
            change(other)
            if not compare_view_with_xls(pxl.dump(pxl.build(other)), sheets, active):
                problems.append("a change of %s goes unnoticed" % what)
        if problems:
            raise Failed("the view comparison misjudges Kelp's .xls", problems)

    # reading -------------------------------------------------------------------------

    def read_good(self, name):
        file = os.path.join(FIXTURES, name)
        book = pxl.dump(fixture_bytes(name))
        sheets = [s for s in book["sheets"] if not s.get("data_sheet")]
        problems = []
        info = parse_info(self.kelp.ok("info", file).stdout)
        if info["type"] != "Pocket Excel":
            problems.append("info says type %r, not 'Pocket Excel'" % info["type"])
        hidden = [k for k, s in enumerate(sheets) if s["visibility"] == 1]
        if info["hidden"] != hidden:
            problems.append("info hidden sheets %r, the file %r" % (info["hidden"], hidden))
        if info["sheets"] != [s["name"] for s in sheets]:
            problems.append("info sheets %r, the file %r" % (info["sheets"], [s["name"] for s in sheets]))
        if info["active"] != book["active_sheet"]:
            problems.append("info active sheet %r, the file %r" % (info["active"], book["active_sheet"]))
        if info["tasks"] != [t["name"] for t in book["tasks"]]:
            problems.append("info tasks %r, the file %r" % (info["tasks"], [t["name"] for t in book["tasks"]]))
        # Built-in names are dropped; hidden ones are kept and listed.
        expected_names = {n["name"]: n.get("formula") for n in book["names"] if not n["builtin"]}
        if sorted(info["names"]) != sorted(expected_names):
            problems.append("info names %r, the file %r" % (sorted(info["names"]), sorted(expected_names)))
        for name, formula in expected_names.items():
            shown = info["names"].get(name)
            if shown is not None and formula and formula_key(shown) != formula_key(formula):
                problems.append("name %s: info %r, the file %r" % (name, shown, formula))
        for index, sheet in enumerate(sheets):
            for option in ("--raw", "--formulas"):
                shown = grid(self.kelp.ok("cat", file, "--sheet", sheet["name"], option).stdout)
                problems += ["%s %s %s" % (sheet["name"], option, p)
                             for p in compare_cells(sheet["cells"], shown, option == "--formulas")]
        active = sheets[book["active_sheet"]]["name"] if book["active_sheet"] < len(sheets) else None
        default = self.kelp.ok("cat", file, "--raw").stdout
        if active is not None and default != self.kelp.ok("cat", file, "--raw", "--sheet", active).stdout:
            problems.append("cat without --sheet does not show the active sheet %r" % active)
        if problems:
            raise Failed("kelpcli shows other things than the file holds", problems)

    def read_view(self, name):
        if not self.xlrd:
            raise Skipped("no xlrd for %s (install python3-xlrd)" % XLRD_PYTHON)
        file = os.path.join(FIXTURES, name)
        book = pxl.dump(fixture_bytes(name))
        out = self.path(name[:-4] + ".read.xls")
        self.kelp.ok("convert", file, out)
        problems = compare_view_with_xls(book, read_xls(out), book["active_sheet"])
        if problems:
            raise Failed("Kelp's .xls of the fixture holds another view or other cells", problems)

    def refuse(self, name, error):
        file = os.path.join(FIXTURES, name)
        done = self.kelp.run("cat", file)
        expected = "error %d: %s" % (error, KELP_ERRORS[error])
        if done.returncode == 0 or expected not in done.stderr:
            raise Failed("expected exit 1 with %r, got exit %d, stderr %r"
                         % (expected, done.returncode, done.stderr.strip()[:300]))

    def truncate(self):
        data = fixture_bytes("truncate.pxl")
        cut = self.path("cut.pxl")
        outcomes = {"failed": 0, "opened": 0}
        problems = []
        for length in range(len(data)):
            with open(cut, "wb") as f:
                f.write(data[:length])
            try:
                done = self.kelp.run("cat", cut, "--raw", timeout=30)
            except Failed as crash:
                problems.append("cut at %d: %s" % (length, crash))
                problems += ["    " + line for line in crash.details[:6]]
                continue
            if done.returncode == 0:
                outcomes["opened"] += 1
            elif done.returncode == 1 and "error" in done.stderr:
                outcomes["failed"] += 1
            else:
                problems.append("cut at %d: exit %d, stderr %r" % (length, done.returncode, done.stderr[:200]))
        print("    %d lengths: %d refused, %d opened" % (len(data), outcomes["failed"], outcomes["opened"]))
        if problems:
            raise Failed("some cuts of truncate.pxl were not handled cleanly", problems)

    # writing -------------------------------------------------------------------------

    def make_rich_kp(self):
        """A workbook made through kelpcli: values of every kind, formulas, a frozen pane,
        zoom 75, a hidden column and row, a row height and a column width."""
        rich = self.path("rich.kp")
        if os.path.exists(rich):
            os.remove(rich)
        self.kelp.ok("set", rich, "A1=Name", "B1=Value", "C1=Date", "D1=Flag", "A2=\u00dcn\u00efcode \u20ac \u2713",
                     "B2=1234.5", "C2=1/15/2026", "D2=true", "A3=Zero", "B3=0", "C3=13:30", "D3=false",
                     "A4=Neg", "B4=-0.001", "B5==Sum(B2:B4)", "C5==B5/0", 'D5==If(D2,"yes","no")',
                     "A6==Sheet2!A1*2", "B6==NA()", "E1=50%", "E2==Max(B2:B4)", "E3==Round(Pi(),4)",
                     'E4=="a"&"""b"', "E5==-B2^2", "E6==(B2+B3)*2", "F1='0123", "F2==Len(F1)<>4",
                     "Sheet2!A1=21", "Sheet2!B1==Sheet1!B2+A1", "Sheet2!C1=text",
                     "Sheet2!A3==Sum(Sheet1:Sheet2!B2)", "Sheet3!B2=1e-5")
        self.kelp.ok("run", rich, "--select", "C1", "ColHide(true)", "-o", rich)
        self.kelp.ok("run", rich, "--select", "A4", "RowHide(true)", "-o", rich)
        self.kelp.ok("run", rich, "--select", "E1", "ColWidth(30)", "-o", rich)
        self.kelp.ok("run", rich, "--select", "B3", "FreezeTitles(true)", "Zoom(75)", "RowHeight(24)", "-o", rich)
        return rich

    def write(self, source):
        label = os.path.basename(source)
        out = self.path(label + ".pxl")
        self.kelp.ok("convert", source, out)
        with open(out, "rb") as f:
            data = f.read()
        try:
            records = pxl.decode_records(data)
            book = pxl.describe(records)
        except pxl.PxlError as problem:
            raise Failed("the decoder refuses Kelp's .pxl: %s" % problem)
        problems = ["decoder: " + w for w in book.get("warnings", [])]
        info = parse_info(self.kelp.ok("info", source).stdout)
        zoom = self.source_zoom(source, info)
        problems += rule_problems(records, info["sheets"], bool(info["tasks"]), zoom, info["active"])
        sheets = [s for s in book["sheets"] if not s.get("data_sheet")]
        if [s["name"] for s in sheets] != info["sheets"]:
            problems.append("sheets %r, the source %r" % ([s["name"] for s in sheets], info["sheets"]))
        if [t["name"] for t in book["tasks"]] != info["tasks"]:
            problems.append("tasks %r, the source %r" % ([t["name"] for t in book["tasks"]], info["tasks"]))
        written = {n["name"]: n.get("formula") for n in book["names"]}
        if sorted(written) != sorted(info["names"]):
            problems.append("names %r, the source %r" % (sorted(written), sorted(info["names"])))
        for name, shown in info["names"].items():
            if name in written and (written[name] is None or formula_key(shown) != formula_key(written[name])):
                problems.append("name %s: source %r, written %r" % (name, shown, written[name]))
        hidden = [k for k, s in enumerate(sheets) if s["visibility"] == 1]
        if hidden != info["hidden"]:
            problems.append("hidden sheets %r, the source %r" % (hidden, info["hidden"]))
        for sheet in sheets:
            for option in ("--raw", "--formulas"):
                shown = grid(self.kelp.ok("cat", source, "--sheet", sheet["name"], option).stdout)
                problems += ["%s %s %s" % (sheet["name"], option, p)
                             for p in compare_cells(sheet["cells"], shown, option == "--formulas")]
        for sheet in book["sheets"]:
            for at, cell in sheet["cells"].items():
                if cell["kind"] == "formula" and cell.get("formula") is None:
                    problems.append("%s!%s: written tokens the decoder cannot read: %s"
                                    % (sheet["name"], at, cell.get("token_error")))
        if problems:
            raise Failed("Kelp's .pxl of %s breaks the rules or holds other cells" % label, problems)
        return book

    def source_zoom(self, source, info):
        """The active sheet's zoom of a source, by asking Kelp."""
        done = self.kelp.ok("run", source, "MsgBox(Zoom())", "-o", self.path("zoom.kp"))
        return int(float(done.stdout.strip().splitlines()[-1]))

    def write_view(self, source, book):
        if not self.xlrd:
            raise Skipped("no xlrd for %s (install python3-xlrd)" % XLRD_PYTHON)
        if book is None:
            raise Skipped("writing %s failed" % os.path.basename(source))
        xls = self.path(os.path.basename(source) + ".xls")
        self.kelp.ok("convert", source, xls)
        problems = compare_view_with_xls(book, read_xls(xls), book["active_sheet"])
        if problems:
            raise Failed("Kelp's .pxl and Kelp's .xls of the same workbook differ", problems)

    def round_trip(self, name, book):
        if book is None:
            raise Skipped("writing %s failed" % name)
        source = pxl.dump(fixture_bytes(name))
        expected, written = kept(source), kept(book)
        # Rows and columns the fixture does not mention may be written with their plain
        # width or height (how Kelp stores them); only hidden ones count.
        for mine, theirs in zip(expected["sheets"], written["sheets"]):
            for key in ("rows", "cols"):
                for index in list(theirs[key]):
                    entry = theirs[key][index]
                    hidden = entry["hidden"] if key == "rows" else entry[1]
                    if index not in mine[key] and not hidden:
                        del theirs[key][index]
        problems = differences(expected, written)
        if problems:
            raise Failed("the fixture and Kelp's .pxl of it differ", problems)

    def cross(self, source):
        if not self.xlrd:
            raise Skipped("no xlrd for %s (install python3-xlrd)" % XLRD_PYTHON)
        label = os.path.basename(source)
        direct = self.path(label + ".direct.xls")
        middle = self.path(label + ".middle.pxl")
        through = self.path(label + ".through.xls")
        self.kelp.ok("convert", source, direct)
        self.kelp.ok("convert", source, middle)
        self.kelp.ok("convert", middle, through)
        a, b = read_xls(direct), read_xls(through)
        problems = differences({s["name"]: s for s in a}, {s["name"]: s for s in b})
        if problems:
            raise Failed(".kp -> .xls and .kp -> .pxl -> .xls differ (the first is 'fixture', the second 'Kelp')",
                         problems)


def main(argv):
    if not argv or argv[0].startswith("-"):
        print(__doc__.strip() + "\nusage: check_kelp.py KELPCLI [--keep DIR] [--only WORD]...", file=sys.stderr)
        return 2
    kelpcli = os.path.abspath(argv[0])
    keep = None
    only = []
    rest = argv[1:]
    while rest:
        if rest[0] == "--keep" and len(rest) > 1:
            keep = os.path.abspath(rest[1])
            rest = rest[2:]
        elif rest[0] == "--only" and len(rest) > 1:
            only.append(rest[1])
            rest = rest[2:]
        else:
            print("check_kelp.py: unknown argument %r" % rest[0], file=sys.stderr)
            return 2
    if not os.access(kelpcli, os.X_OK):
        print("check_kelp.py: %s is not a program" % kelpcli, file=sys.stderr)
        return 2
    folder = keep or tempfile.mkdtemp(prefix="kelp_pxl_")
    os.makedirs(folder, exist_ok=True)
    run = Run(kelpcli, folder, only)
    if not run.xlrd:
        print("note: %s has no xlrd (python3-xlrd): the checks through .xls are skipped" % XLRD_PYTHON)
    fixtures = pxl.fixtures()
    good = [name for name, (_, _, error) in sorted(fixtures.items()) if error is None and name != "truncate.pxl"]
    run.check("codec.fixtures", run.codec_fixtures)
    run.check("compare.kelp_texts", run.compare_with_kelp_texts)
    for name, (_, _, error) in sorted(fixtures.items()):
        run.check("codec.roundtrip." + name, run.codec_round_trip, name, error)
    for name in good:
        run.check("read." + name, run.read_good, name)
        run.check("read.view." + name, run.read_view, name)
    for name, (_, _, error) in sorted(fixtures.items()):
        if error is not None:
            run.check("refuse.%s (error %d)" % (name, error), run.refuse, name, error)
    run.check("truncate", run.truncate)
    sample = os.path.join(SOURCE_ROOT, "examples", "sample.kp")
    rich = run.check("make.rich.kp", run.make_rich_kp)
    run.check("compare.kelp_xls", run.compare_with_kelp_xls, rich)
    sources = [sample] + ([rich] if rich else [])
    for source in sources:
        book = run.check("write." + os.path.basename(source), run.write, source)
        run.check("write.view." + os.path.basename(source), run.write_view, source, book)
    for name in good:
        book = run.check("write." + name, run.write, os.path.join(FIXTURES, name))
        run.check("roundtrip." + name, run.round_trip, name, book)
    for source in sources:
        run.check("cross." + os.path.basename(source), run.cross, source)
    print("%d passed, %d failed, %d skipped (%d kelpcli runs)" % (run.passed, len(run.failed), run.skipped,
                                                                  run.kelp.count))
    if run.failed:
        print("failed: " + ", ".join(run.failed))
    if keep is None:
        shutil.rmtree(folder, ignore_errors=True)
    return 1 if run.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
