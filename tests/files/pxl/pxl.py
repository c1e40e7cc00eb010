#!/usr/bin/env python3
"""Pocket Excel (.pxl) encoder and decoder, written from the record table alone, for checking Kelp from outside."""

# Usage:
#   pxl.py dump FILE [--records]   the workbook as JSON (or its records, one dict each)
#   pxl.py build JSON OUT          a .pxl from a workbook description (the dump's own form)
#   pxl.py make DIR                writes the fixtures into DIR
#
# Two layers. Records: every record is a dict {"type": N, ...fields} that holds every byte
# of the record, so decode_records and encode_records give back the same bytes. Workbook:
# describe() turns records into the dump (sheets, cells by A1 address, formula text, view,
# names, fonts, formats, XFs, tasks), and build() turns that same form back into records.
# Standard library only, so that any python3 runs it.

import json
import math
import os
import struct
import sys


class PxlError(Exception):
    """A file this decoder refuses; kind is truncated, unknown, notbof, version, filepass or structure."""

    def __init__(self, kind, message):
        super().__init__(message)
        self.kind = kind


# Record types of the table, by number.
BLANK, NUMBER, LABEL, BOOLERR, FORMULA, STRING, ROW, BOF, EOF = 1, 3, 4, 5, 6, 7, 8, 9, 10
NAME, SELECTION, FORMAT, ROWDEFAULT, FILEPASS, FONT = 24, 29, 30, 37, 47, 49
WINDOW1, WINDOW2, PANE, CODEPAGE, COLDEFAULT, COLINFO = 61, 62, 65, 66, 85, 125
BOUNDSHEET, COUNTRY, SCL, XF = 133, 140, 160, 224

RECORD_NAMES = {
    BLANK: "BLANK", NUMBER: "NUMBER", LABEL: "LABEL", BOOLERR: "BOOLERR", FORMULA: "FORMULA",
    STRING: "STRING", ROW: "ROW", BOF: "BOF", EOF: "EOF", NAME: "NAME", SELECTION: "SELECTION",
    FORMAT: "FORMAT", ROWDEFAULT: "ROWDEFAULT", FILEPASS: "FILEPASS", FONT: "FONT",
    WINDOW1: "WINDOW1", WINDOW2: "WINDOW2", PANE: "PANE", CODEPAGE: "CODEPAGE",
    COLDEFAULT: "COLDEFAULT", COLINFO: "COLINFO", BOUNDSHEET: "BOUNDSHEET", COUNTRY: "COUNTRY",
    SCL: "SCL", XF: "XF",
}

# Fixed part of each record; variable parts follow with their own counts.
FIXED_SIZES = {
    BLANK: 5, NUMBER: 13, LABEL: 7, BOOLERR: 7, FORMULA: 16, STRING: 2, ROW: 8, BOF: 4, EOF: 0,
    NAME: 7, SELECTION: 9, FORMAT: 1, ROWDEFAULT: 4, FILEPASS: 0, FONT: 15, WINDOW1: 4,
    WINDOW2: 5, PANE: 9, CODEPAGE: 2, COLDEFAULT: 6, COLINFO: 9, BOUNDSHEET: 2, COUNTRY: 4,
    SCL: 4, XF: 22,
}

DATA_SHEET = "#KelpData#"
DATA_SHEET_HEADING = "Kelp import/export internal data - do not modify this sheet!"

ERROR_TEXTS = {0x00: "#NULL!", 0x07: "#DIV/0!", 0x0F: "#VALUE!", 0x17: "#REF!",
               0x1D: "#NAME?", 0x24: "#NUM!", 0x2A: "#N/A"}
ERROR_CODES = {text: code for code, text in ERROR_TEXTS.items()}


def error_text(code):
    return ERROR_TEXTS.get(code, "#ERR%d" % code)


def error_code(value):
    if isinstance(value, int):
        return value
    if value in ERROR_CODES:
        return ERROR_CODES[value]
    if value.startswith("#ERR"):
        return int(value[4:])
    raise ValueError("unknown error value %r" % value)


# ---------------------------------------------------------------------------------------
# Cell addresses

def col_name(col):
    text = ""
    col += 1
    while col:
        col, rest = divmod(col - 1, 26)
        text = chr(65 + rest) + text
    return text


def a1(row, col, row_abs=False, col_abs=False):
    return ("$" if col_abs else "") + col_name(col) + ("$" if row_abs else "") + str(row + 1)


def parse_a1(text):
    """'$B$3' -> (row 2, col 1, row_abs True, col_abs True)."""
    i = 0
    col_abs = text.startswith("$")
    if col_abs:
        i = 1
    col = 0
    while i < len(text) and text[i].isalpha():
        col = col * 26 + (ord(text[i].upper()) - 64)
        i += 1
    row_abs = i < len(text) and text[i] == "$"
    if row_abs:
        i += 1
    if col == 0 or not text[i:].isdigit():
        raise ValueError("not a cell address: %r" % text)
    return int(text[i:]) - 1, col - 1, row_abs, col_abs


# ---------------------------------------------------------------------------------------
# Byte reading

class Reader:
    def __init__(self, data, pos=0, end=None):
        self.data = data
        self.pos = pos
        self.end = len(data) if end is None else end

    def need(self, count, what):
        if self.pos + count > self.end:
            raise PxlError("truncated", "truncated: %s needs %d bytes at offset %d, %d left"
                           % (what, count, self.pos, self.end - self.pos))

    def take(self, count, what):
        self.need(count, what)
        chunk = self.data[self.pos:self.pos + count]
        self.pos += count
        return chunk

    def u8(self, what="u8"):
        return self.take(1, what)[0]

    def u16(self, what="u16"):
        return struct.unpack("<H", self.take(2, what))[0]

    def u32(self, what="u32"):
        return struct.unpack("<I", self.take(4, what))[0]

    def f64(self, what="double"):
        return struct.unpack("<d", self.take(8, what))[0]

    def text(self, count, what="text"):
        # Texts are UTF-16LE; the count is in 16-bit units.
        return self.take(2 * count, what).decode("utf-16-le", errors="surrogatepass")


def utf16(text):
    return text.encode("utf-16-le", errors="surrogatepass")


def units(text):
    return len(utf16(text)) // 2


# ---------------------------------------------------------------------------------------
# Records: bytes <-> dicts

def _read_record(r, rtype, offset):
    """Reads the data of one record whose type byte was just read."""
    name = RECORD_NAMES[rtype]
    r.need(FIXED_SIZES[rtype], name)
    rec = {"type": rtype, "name": name, "offset": offset}
    if rtype in (BLANK, NUMBER, LABEL, BOOLERR, FORMULA):
        rec["row"] = r.u16()
        rec["col"] = r.u8()
        rec["style"] = r.u16()
    if rtype == NUMBER:
        rec["value"] = r.f64()
    elif rtype == LABEL:
        count = r.u16()
        rec["text"] = r.text(count, "LABEL text")
    elif rtype == BOOLERR:
        rec["value"] = r.u8()
        rec["is_error"] = r.u8()
    elif rtype == FORMULA:
        # FORMULA, 16 fixed bytes: row, column, style, 8 bytes of cached result, one flags
        # byte (bit 0: recalculate always), then the u16 token length; the tokens follow.
        rec["result"] = r.take(8, "FORMULA result").hex()
        rec["flags"] = r.u8()
        length = r.u16()
        rec["tokens"] = r.take(length, "FORMULA tokens").hex()
    elif rtype == STRING:
        count = r.u16()
        rec["text"] = r.text(count, "STRING text")
    elif rtype == ROW:
        # ROW, 8 bytes: row, height in twentieths of a point, flags, style.
        rec["row"] = r.u16()
        rec["height"] = r.u16()
        rec["flags"] = r.u16()
        rec["style"] = r.u16()
    elif rtype == BOF:
        rec["version"] = r.u16()
        rec["substream"] = r.u16()
    elif rtype == NAME:
        # NAME, 7 fixed bytes: options, name length in characters, formula length in bytes,
        # sheet (0 for a workbook name, else 1-based); then the name, then the tokens.
        rec["options"] = r.u16()
        name_length = r.u8()
        formula_length = r.u16()
        rec["sheet"] = r.u16()
        rec["text"] = r.text(name_length, "NAME text")
        rec["tokens"] = r.take(formula_length, "NAME formula").hex()
    elif rtype == SELECTION:
        # SELECTION, 9 bytes: active row, active column, first row, last row, first column,
        # last column: one rectangle.
        rec["active_row"] = r.u16()
        rec["active_col"] = r.u8()
        rec["first_row"] = r.u16()
        rec["last_row"] = r.u16()
        rec["first_col"] = r.u8()
        rec["last_col"] = r.u8()
    elif rtype == FORMAT:
        count = r.u8()
        rec["code"] = r.text(count, "FORMAT code")
    elif rtype in (ROWDEFAULT, COLDEFAULT):
        rec["data"] = r.take(FIXED_SIZES[rtype], name).hex()
    elif rtype == FONT:
        rec["height"] = r.u16()
        rec["options"] = r.u16()
        rec["color"] = r.u16()
        rec["weight"] = r.u16()
        rec["unused"] = r.u16()
        rec["underline"] = r.u8()
        rec["family"] = r.u8()
        rec["charset"] = r.u8()
        rec["reserved"] = r.u8()
        count = r.u8()
        rec["font_name"] = r.text(count, "FONT name")
    elif rtype == WINDOW1:
        rec["options"] = r.u16()
        rec["active"] = r.u16()
    elif rtype == WINDOW2:
        # WINDOW2, 5 bytes: options, top row shown, left column shown (u8).
        rec["options"] = r.u16()
        rec["top"] = r.u16()
        rec["left"] = r.u8()
    elif rtype == PANE:
        # PANE, 9 bytes: frozen columns, frozen rows, first row and first column of the
        # scrolling pane, active pane (u8).
        rec["cols"] = r.u16()
        rec["rows"] = r.u16()
        rec["top"] = r.u16()
        rec["left"] = r.u16()
        rec["active"] = r.u8()
    elif rtype == CODEPAGE:
        rec["codepage"] = r.u16()
    elif rtype == COLINFO:
        # COLINFO, 9 bytes: first column, last column, width in 1/256 of the digit 0, style,
        # flags (bit 0 hidden).
        rec["first"] = r.u16()
        rec["last"] = r.u16()
        rec["width"] = r.u16()
        rec["style"] = r.u16()
        rec["flags"] = r.u8()
    elif rtype == BOUNDSHEET:
        rec["visibility"] = r.u8()
        count = r.u8()
        rec["sheet_name"] = r.text(count, "BOUNDSHEET name")
    elif rtype == COUNTRY:
        rec["first"] = r.u16()
        rec["second"] = r.u16()
    elif rtype == SCL:
        rec["numerator"] = r.u16()
        rec["denominator"] = r.u16()
    elif rtype == XF:
        rec["font"] = r.u16()
        rec["format"] = r.u16()
        rec["fixed"] = r.u32()
        rec["protection"] = r.u8()
        rec["byte9"] = r.u8()
        rec["align"] = r.u16()
        rec["word12"] = r.u16()
        rec["fill"] = r.u16()
        rec["markers"] = list(r.take(4, "XF border markers"))
        rec["tail"] = r.u16()
    return rec


def decode_records(data):
    """Every record of the file, in order. Raises PxlError for a file Kelp must refuse."""
    if not data:
        raise PxlError("truncated", "truncated: the file is empty")
    if data[0] != BOF:
        raise PxlError("notbof", "not a Pocket Excel file: the first record has type %d, not BOF (9)"
                       % data[0])
    r = Reader(data)
    records = []
    while r.pos < r.end:
        offset = r.pos
        rtype = r.u8()
        if rtype not in FIXED_SIZES:
            raise PxlError("unknown", "unknown record type %d at offset %d" % (rtype, offset))
        rec = _read_record(r, rtype, offset)
        if rtype == BOF and not records and rec["version"] < 256:
            raise PxlError("version", "first-release file: BOF version %d (0x%04X) is below 256"
                           % (rec["version"], rec["version"]))
        if rtype == FILEPASS:
            raise PxlError("filepass", "password protected: FILEPASS record at offset %d" % offset)
        records.append(rec)
    return records


def _text8(text, what):
    count = units(text)
    if count > 255:
        raise ValueError("%s longer than 255 characters" % what)
    return bytes([count]) + utf16(text)


def encode_record(rec):
    """One record dict (as decode_records gives) to its bytes."""
    if "raw" in rec:
        return bytes.fromhex(rec["raw"])
    rtype = rec["type"]
    p = bytearray([rtype])
    if rtype in (BLANK, NUMBER, LABEL, BOOLERR, FORMULA):
        p += struct.pack("<HBH", rec["row"], rec["col"], rec.get("style", 0))
    if rtype == NUMBER:
        p += struct.pack("<d", rec["value"])
    elif rtype == LABEL:
        p += struct.pack("<H", units(rec["text"])) + utf16(rec["text"])
    elif rtype == BOOLERR:
        # BOOLERR: the value byte, then the flag byte (1 = the value is an error code).
        p += struct.pack("<BB", rec["value"], rec["is_error"])
    elif rtype == FORMULA:
        # FORMULA: after row, column and style, 8 bytes of cached result, a flags byte
        # (bit 0: recalculate always, for a volatile formula; other bits 0), the u16 token
        # length closing the 16 fixed bytes, then the tokens.
        tokens = bytes.fromhex(rec["tokens"])
        p += bytes.fromhex(rec["result"]) + struct.pack("<BH", rec.get("flags", 0), len(tokens)) + tokens
    elif rtype == STRING:
        p += struct.pack("<H", units(rec["text"])) + utf16(rec["text"])
    elif rtype == ROW:
        # ROW: row, height in twentieths of a point, flags (bits 0-2 outline level, 0x20
        # hidden, 0x40 height set explicitly, 0x80 the style applies to the row), style.
        p += struct.pack("<HHHH", rec["row"], rec["height"], rec["flags"], rec.get("style", 0))
    elif rtype == BOF:
        p += struct.pack("<HH", rec["version"], rec["substream"])
    elif rtype == NAME:
        # NAME: options (0x0001 hidden, 0x0020 built-in), name length in characters, formula
        # length in bytes, sheet (0 for a workbook name, else 1-based); the name; the tokens.
        tokens = bytes.fromhex(rec["tokens"])
        p += struct.pack("<HBHH", rec.get("options", 0), units(rec["text"]), len(tokens), rec.get("sheet", 0))
        p += utf16(rec["text"]) + tokens
    elif rtype == SELECTION:
        # SELECTION: active row (u16), active column (u8), first and last row (u16), first
        # and last column (u8): one rectangle.
        p += struct.pack("<HBHHBB", rec["active_row"], rec["active_col"], rec["first_row"],
                         rec["last_row"], rec["first_col"], rec["last_col"])
    elif rtype == FORMAT:
        # FORMAT: u8 length, then the code.
        p += _text8(rec["code"], "format code")
    elif rtype in (ROWDEFAULT, COLDEFAULT):
        # Types 37 (4 bytes) and 85 (6 bytes): read and ignored; Kelp does not write them.
        data = bytes.fromhex(rec["data"])
        assert len(data) == FIXED_SIZES[rtype]
        p += data
    elif rtype == FONT:
        p += struct.pack("<HHHHHBBBB", rec["height"], rec["options"], rec["color"], rec["weight"],
                         rec.get("unused", 0), rec.get("underline", 0), rec.get("family", 0),
                         rec.get("charset", 0), rec.get("reserved", 0))
        p += _text8(rec["font_name"], "font name")
    elif rtype == WINDOW1:
        p += struct.pack("<HH", rec["options"], rec["active"])
    elif rtype == WINDOW2:
        # WINDOW2: options (0x0001 formulas shown, 0x0002 gridlines, 0x0004 headers, 0x0008
        # frozen panes, 0x0010 zero values, 0x0100 frozen without a split, written with
        # 0x0008), top row shown (u16), left column shown (u8).
        p += struct.pack("<HHB", rec["options"], rec["top"], rec["left"])
    elif rtype == PANE:
        # PANE: frozen columns, frozen rows, first row and first column of the scrolling pane
        # (u16 each), active pane (u8: 0 bottom-right, 1 top-right, 2 bottom-left, 3 top-left).
        p += struct.pack("<HHHHB", rec["cols"], rec["rows"], rec["top"], rec["left"], rec["active"])
    elif rtype == CODEPAGE:
        # CODEPAGE: u16.
        p += struct.pack("<H", rec["codepage"])
    elif rtype == COLINFO:
        # COLINFO: first and last column (u16), width in 1/256 of the digit 0's width as in
        # Excel, style, flags (u8, bit 0 hidden).
        p += struct.pack("<HHHHB", rec["first"], rec["last"], rec["width"], rec.get("style", 0), rec.get("flags", 0))
    elif rtype == BOUNDSHEET:
        # BOUNDSHEET: visibility (0 visible, 1 hidden), u8 name length, the name.
        p += bytes([rec.get("visibility", 0)]) + _text8(rec["sheet_name"], "sheet name")
    elif rtype == COUNTRY:
        # COUNTRY: two u16 (Kelp writes 1, 1).
        p += struct.pack("<HH", rec["first"], rec["second"])
    elif rtype == SCL:
        # SCL: numerator, denominator.
        p += struct.pack("<HH", rec["numerator"], rec["denominator"])
    elif rtype == XF:
        p += struct.pack("<HHIBBHHH", rec["font"], rec["format"], rec["fixed"], rec["protection"],
                         rec["byte9"], rec["align"], rec["word12"], rec["fill"])
        p += bytes(rec["markers"]) + struct.pack("<H", rec["tail"])
    elif rtype not in (BLANK, EOF, FILEPASS):
        raise ValueError("cannot encode record type %r" % rtype)
    return bytes(p)


def encode_records(records):
    return b"".join(encode_record(rec) for rec in records)


# ---------------------------------------------------------------------------------------
# Formula tokens
#
# The BIFF8 token set with these Pocket Excel differences: cell addresses in the BIFF5
# layout (u16 row with bit 15 = relative row and bit 14 = relative column, then u8 column),
# tStr with a u8 count and UTF-16LE characters and no option byte, tName as u16 1-based
# NAME number and u16 0, tRef3d/tArea3d as u16 first sheet and u16 last sheet (0-based
# BOUNDSHEET positions) then the address, and no tExp, tTbl, tArray, tMem*, tNameX.

OPERATORS = {0x03: "add", 0x04: "sub", 0x05: "mul", 0x06: "div", 0x07: "power", 0x08: "concat",
             0x09: "lt", 0x0A: "le", 0x0B: "eq", 0x0C: "ge", 0x0D: "gt", 0x0E: "ne",
             0x0F: "isect", 0x10: "union", 0x11: "range"}
OPERATOR_TEXT = {"add": "+", "sub": "-", "mul": "*", "div": "/", "power": "^", "concat": "&",
                 "lt": "<", "le": "<=", "eq": "=", "ge": ">=", "gt": ">", "ne": "<>",
                 "isect": " ", "union": ",", "range": ":"}
UNARY = {0x12: "uplus", 0x13: "uminus", 0x14: "percent", 0x15: "paren", 0x16: "missarg"}
CLASSED = {0x01: "func", 0x02: "funcvar", 0x03: "name", 0x04: "ref", 0x05: "area",
           0x0A: "referr", 0x0B: "areaerr", 0x0C: "refn", 0x0D: "arean",
           0x1A: "ref3d", 0x1B: "area3d"}
CLASS_LETTERS = {1: "R", 2: "V", 3: "A"}
ATTR_BITS = {"volatile": 0x01, "if": 0x02, "choose": 0x04, "goto": 0x08, "sum": 0x10, "space": 0x40}

# BIFF function numbers: name and fixed argument count (None = variable, tFuncVar).
FUNCTIONS = {
    0: ("COUNT", None), 1: ("IF", None), 2: ("ISNA", 1), 3: ("ISERROR", 1), 4: ("SUM", None),
    5: ("AVERAGE", None), 6: ("MIN", None), 7: ("MAX", None), 8: ("ROW", None),
    9: ("COLUMN", None), 10: ("NA", 0), 11: ("NPV", None), 12: ("STDEV", None),
    13: ("DOLLAR", None), 14: ("FIXED", None), 15: ("SIN", 1), 16: ("COS", 1), 17: ("TAN", 1),
    18: ("ATAN", 1), 19: ("PI", 0), 20: ("SQRT", 1), 21: ("EXP", 1), 22: ("LN", 1),
    23: ("LOG10", 1), 24: ("ABS", 1), 25: ("INT", 1), 26: ("SIGN", 1), 27: ("ROUND", 2),
    28: ("LOOKUP", None), 29: ("INDEX", None), 30: ("REPT", 2), 31: ("MID", 3), 32: ("LEN", 1),
    33: ("VALUE", 1), 34: ("TRUE", 0), 35: ("FALSE", 0), 36: ("AND", None), 37: ("OR", None),
    38: ("NOT", 1), 39: ("MOD", 2), 46: ("VAR", None), 48: ("TEXT", 2), 56: ("PV", None),
    57: ("FV", None), 58: ("NPER", None), 59: ("PMT", None), 60: ("RATE", None),
    61: ("MIRR", 3), 62: ("IRR", None), 63: ("RAND", 0), 64: ("MATCH", None), 65: ("DATE", 3),
    66: ("TIME", 3), 67: ("DAY", 1), 68: ("MONTH", 1), 69: ("YEAR", 1), 70: ("WEEKDAY", None),
    71: ("HOUR", 1), 72: ("MINUTE", 1), 73: ("SECOND", 1), 74: ("NOW", 0), 76: ("ROWS", 1),
    77: ("COLUMNS", 1), 82: ("SEARCH", None), 86: ("TYPE", 1), 97: ("ATAN2", 2),
    98: ("ASIN", 1), 99: ("ACOS", 1), 100: ("CHOOSE", None), 101: ("HLOOKUP", None),
    102: ("VLOOKUP", None), 109: ("LOG", None), 111: ("CHAR", 1), 112: ("LOWER", 1),
    113: ("UPPER", 1), 114: ("PROPER", 1), 115: ("LEFT", None), 116: ("RIGHT", None),
    117: ("EXACT", 2), 118: ("TRIM", 1), 119: ("REPLACE", 4), 120: ("SUBSTITUTE", None),
    121: ("CODE", 1), 124: ("FIND", None), 126: ("ISERR", 1), 127: ("ISTEXT", 1),
    128: ("ISNUMBER", 1), 129: ("ISBLANK", 1), 130: ("T", 1), 131: ("N", 1),
    140: ("DATEVALUE", 1), 141: ("TIMEVALUE", 1), 142: ("SLN", 3), 143: ("SYD", 4),
    144: ("DDB", None), 162: ("CLEAN", 1), 169: ("COUNTA", None), 183: ("PRODUCT", None),
    184: ("FACT", 1), 190: ("ISNONTEXT", 1), 193: ("STDEVP", None), 194: ("VARP", None),
    197: ("TRUNC", None), 198: ("ISLOGICAL", 1), 212: ("ROUNDUP", 2), 213: ("ROUNDDOWN", 2),
    216: ("RANK", None), 220: ("DAYS360", None), 221: ("TODAY", 0), 227: ("MEDIAN", None),
    228: ("SUMPRODUCT", None), 229: ("SINH", 1), 230: ("COSH", 1), 231: ("TANH", 1),
    261: ("ERROR.TYPE", 1), 276: ("COMBIN", 2), 279: ("EVEN", 1), 285: ("FLOOR", 2),
    288: ("CEILING", 2), 298: ("ODD", 1), 325: ("LARGE", 2), 326: ("SMALL", 2),
    336: ("CONCATENATE", None), 337: ("POWER", 2), 342: ("RADIANS", 1), 343: ("DEGREES", 1),
    345: ("SUMIF", None), 346: ("COUNTIF", 2), 347: ("COUNTBLANK", 1),
}
FUNCTION_NUMBERS = {name: number for number, (name, _) in FUNCTIONS.items()}


def function_number(func):
    if isinstance(func, int):
        return func
    return FUNCTION_NUMBERS[func.upper()]


class TokenError(Exception):
    pass


def _read_address(r):
    row_field = r.u16("address row")
    col = r.u8("address column")
    return row_field, col


def _address_text(row_field, col):
    # Bit 15 of the row marks a relative row, bit 14 a relative column; rows are 0..16383.
    return a1(row_field & 0x3FFF, col, row_abs=not row_field & 0x8000, col_abs=not row_field & 0x4000)


def _address_field(text):
    row, col, row_abs, col_abs = parse_a1(text)
    if row > 0x3FFF:
        raise TokenError("row %d is beyond 16383: no token form" % (row + 1))
    if col > 255:
        raise TokenError("column beyond IV")
    return (row | (0 if row_abs else 0x8000) | (0 if col_abs else 0x4000)), col


def _offset_text(row_field, col):
    """tRefN operands as R1C1 text: relative parts are signed offsets, as in BIFF5."""
    if row_field & 0x8000:
        offset = row_field & 0x3FFF
        if offset & 0x2000:
            offset -= 0x4000
        row_text = "R[%d]" % offset
    else:
        row_text = "R%d" % ((row_field & 0x3FFF) + 1)
    if row_field & 0x4000:
        col_text = "C[%d]" % (col - 256 if col & 0x80 else col)
    else:
        col_text = "C%d" % (col + 1)
    return row_text + col_text


def _offset_field(text):
    text = text.upper()
    c = text.index("C")
    row_part, col_part = text[1:c], text[c + 1:]
    field = 0
    if row_part.startswith("["):
        field = (int(row_part[1:-1]) & 0x3FFF) | 0x8000
    else:
        field = int(row_part) - 1
    if col_part.startswith("["):
        field |= 0x4000
        col = int(col_part[1:-1]) & 0xFF
    else:
        col = int(col_part) - 1
    return field, col


def _resolve_offset(row_field, col, base):
    """Cell address text of a tRefN operand, for a formula at base (row, col)."""
    row = row_field & 0x3FFF
    if row_field & 0x8000:
        offset = row - 0x4000 if row & 0x2000 else row
        row = (base[0] + offset) % 65536
    if row_field & 0x4000:
        col = (base[1] + (col - 256 if col & 0x80 else col)) % 256
    return a1(row, col, row_abs=not row_field & 0x8000, col_abs=not row_field & 0x4000)


def decode_tokens(data):
    """Token bytes to the token list notation (what encode_tokens takes)."""
    r = Reader(data)
    out = []
    while r.pos < r.end:
        at = r.pos
        code = r.u8("token")
        if code in OPERATORS:
            out.append([OPERATORS[code]])
        elif code in UNARY:
            out.append([UNARY[code]])
        elif code == 0x17:
            # tStr: u8 character count, then UTF-16LE characters, no option byte.
            count = r.u8("tStr count")
            out.append(["str", r.text(count, "tStr text")])
        elif code == 0x19:
            option = r.u8("tAttr option")
            if option == 0x04:
                count = r.u16("tAttrChoose count")
                out.append(["attr", "choose", [r.u16("tAttrChoose jump") for _ in range(count + 1)]])
                continue
            value = r.u16("tAttr data")
            names = [name for name, bit in ATTR_BITS.items() if bit == option]
            if names and names[0] in ("volatile", "sum"):
                out.append(["attr", names[0]] + ([value] if value else []))
            elif names:
                out.append(["attr", names[0], value])
            else:
                out.append(["attr", option, value])
        elif code == 0x1C:
            out.append(["err", error_text(r.u8("tErr"))])
        elif code == 0x1D:
            out.append(["bool", bool(r.u8("tBool"))])
        elif code == 0x1E:
            out.append(["int", r.u16("tInt")])
        elif code == 0x1F:
            out.append(["num", r.f64("tNum")])
        elif 0x20 <= code <= 0x7F and (code & 0x1F) in CLASSED:
            kind = CLASSED[code & 0x1F]
            cls = CLASS_LETTERS[code >> 5]
            if kind == "func":
                number = r.u16("tFunc index")
                token = ["func", FUNCTIONS[number][0] if number in FUNCTIONS else number]
            elif kind == "funcvar":
                argc = r.u8("tFuncVar count")
                number = r.u16("tFuncVar index")
                token = ["funcvar", FUNCTIONS[number][0] if number in FUNCTIONS and argc < 128 and number < 0x8000
                         else number, argc]
            elif kind == "name":
                # tName: u16 1-based NAME record number, then u16 0.
                token = ["name", r.u16("tName index")]
                zero = r.u16("tName reserved")
                if zero:
                    token.append({"reserved": zero})
            elif kind == "ref":
                token = ["ref", _address_text(*_read_address(r))]
            elif kind == "area":
                first_row, last_row = r.u16("tArea row"), r.u16("tArea row")
                first_col, last_col = r.u8("tArea column"), r.u8("tArea column")
                token = ["area", _address_text(first_row, first_col) + ":" + _address_text(last_row, last_col)]
            elif kind == "referr":
                token = ["referr", r.take(3, "tRefErr").hex()]
            elif kind == "areaerr":
                token = ["areaerr", r.take(6, "tAreaErr").hex()]
            elif kind == "refn":
                token = ["refn", _offset_text(*_read_address(r))]
            elif kind == "arean":
                first_row, last_row = r.u16("tAreaN row"), r.u16("tAreaN row")
                first_col, last_col = r.u8("tAreaN column"), r.u8("tAreaN column")
                token = ["arean", _offset_text(first_row, first_col) + ":" + _offset_text(last_row, last_col)]
            elif kind == "ref3d":
                first, last = r.u16("tRef3d sheet"), r.u16("tRef3d sheet")
                token = ["ref3d", first, last, _address_text(*_read_address(r))]
            else:  # area3d
                first, last = r.u16("tArea3d sheet"), r.u16("tArea3d sheet")
                first_row, last_row = r.u16("tArea3d row"), r.u16("tArea3d row")
                first_col, last_col = r.u8("tArea3d column"), r.u8("tArea3d column")
                token = ["area3d", first, last,
                         _address_text(first_row, first_col) + ":" + _address_text(last_row, last_col)]
            if cls != "R":
                token.append(cls)
            out.append(token)
        else:
            raise TokenError("unsupported token 0x%02X at byte %d" % (code, at))
    return out


def _class_bits(token, default="R"):
    letter = token[-1] if isinstance(token[-1], str) and token[-1] in ("R", "V", "A") else default
    return {"R": 0x20, "V": 0x40, "A": 0x60}[letter]


def _strip_class(token):
    if len(token) > 1 and isinstance(token[-1], str) and token[-1] in ("R", "V", "A"):
        return token[:-1]
    return token


def _expand_if(token):
    """["IF", cond, then, else?]: the tokens of IF with its tAttr jumps filled in."""
    cond, then = token[1], token[2]
    has_else = len(token) > 3
    then_bytes = encode_tokens(then)
    out = list(cond)
    if has_else:
        else_bytes = encode_tokens(token[3])
        # tAttrIf jumps from its end to the start of the false branch, past the tAttrGoto;
        # each tAttrGoto jumps to just behind tFuncVar(IF), counted minus 1.
        out.append(["attr", "if", len(then_bytes) + 4])
        out += then
        out.append(["attr", "goto", len(else_bytes) + 4 + 4 - 1])
        out += token[3]
        out.append(["attr", "goto", 3])
        out.append(["funcvar", "IF", 3, "V"])
    else:
        out.append(["attr", "if", len(then_bytes) + 4])
        out += then
        out.append(["attr", "goto", 3])
        out.append(["funcvar", "IF", 2, "V"])
    return out


def encode_tokens(tokens):
    """The token list notation to token bytes."""
    out = bytearray()
    for token in tokens:
        kind = token[0]
        inv = {v: k for k, v in OPERATORS.items()}
        if kind == "IF":
            out += encode_tokens(_expand_if(token))
        elif kind in inv:
            out.append(inv[kind])
        elif kind in ("uplus", "uminus", "percent", "paren", "missarg"):
            out.append({v: k for k, v in UNARY.items()}[kind])
        elif kind == "str":
            out += bytes([0x17]) + _text8(token[1], "formula text")
        elif kind == "attr":
            option = ATTR_BITS.get(token[1], token[1])
            if option == 0x04:
                jumps = token[2]
                out += struct.pack("<BBH", 0x19, 0x04, len(jumps) - 1)
                out += b"".join(struct.pack("<H", j) for j in jumps)
            else:
                out += struct.pack("<BBH", 0x19, option, token[2] if len(token) > 2 else 0)
        elif kind == "err":
            out += bytes([0x1C, error_code(token[1])])
        elif kind == "bool":
            out += bytes([0x1D, 1 if token[1] else 0])
        elif kind == "int":
            out += struct.pack("<BH", 0x1E, token[1])
        elif kind == "num":
            out += struct.pack("<Bd", 0x1F, token[1])
        else:
            bits = _class_bits(token)
            t = _strip_class(token)
            if kind == "func":
                out += struct.pack("<BH", bits | 0x01, function_number(t[1]))
            elif kind == "funcvar":
                out += struct.pack("<BBH", bits | 0x02, t[2], function_number(t[1]))
            elif kind == "name":
                reserved = t[2]["reserved"] if len(t) > 2 else 0
                out += struct.pack("<BHH", bits | 0x03, t[1], reserved)
            elif kind == "ref":
                out += struct.pack("<BHB", bits | 0x04, *_address_field(t[1]))
            elif kind == "area":
                (r1, c1), (r2, c2) = (_address_field(x) for x in t[1].split(":"))
                out += struct.pack("<BHHBB", bits | 0x05, r1, r2, c1, c2)
            elif kind == "referr":
                out += bytes([bits | 0x0A]) + bytes.fromhex(t[1] if len(t) > 1 else "000000")
            elif kind == "areaerr":
                out += bytes([bits | 0x0B]) + bytes.fromhex(t[1] if len(t) > 1 else "000000000000")
            elif kind == "refn":
                out += struct.pack("<BHB", bits | 0x0C, *_offset_field(t[1]))
            elif kind == "arean":
                (r1, c1), (r2, c2) = (_offset_field(x) for x in t[1].split(":"))
                out += struct.pack("<BHHBB", bits | 0x0D, r1, r2, c1, c2)
            elif kind == "ref3d":
                out += struct.pack("<BHHHB", bits | 0x1A, t[1], t[2], *_address_field(t[3]))
            elif kind == "area3d":
                (r1, c1), (r2, c2) = (_address_field(x) for x in t[3].split(":"))
                out += struct.pack("<BHHHHBB", bits | 0x1B, t[1], t[2], r1, r2, c1, c2)
            else:
                raise TokenError("unknown token kind %r" % kind)
    return bytes(out)


def number_text(value):
    if math.isfinite(value) and value == int(value) and abs(value) < 1e15:
        return str(int(value))
    return repr(value).upper()


def sheet_prefix(names, first, last):
    def known(index):
        return names[index] if 0 <= index < len(names) else "#SHEET%d" % index
    text = known(first) if first == last else known(first) + ":" + known(last)
    plain = all(ch.isalnum() or ch in "_.:" for ch in text) and not text[0].isdigit()
    return (text if plain else "'" + text.replace("'", "''") + "'") + "!"


def tokens_text(tokens, sheet_names=(), name_texts=(), base=(0, 0)):
    """Excel-style formula text (with "=") of a token list; TokenError when it cannot be shown.
    base is the formula's cell for tRefN/tAreaN offsets; a name's formula reads them from A1."""
    stack = []

    def pop(count):
        if count > len(stack):
            raise TokenError("stack underflow")
        items = stack[len(stack) - count:]
        del stack[len(stack) - count:]
        return items

    for token in tokens:
        kind = token[0]
        t = _strip_class(token) if kind in CLASSED.values() else token
        if kind in OPERATOR_TEXT:
            a, b = pop(2)
            stack.append(a + OPERATOR_TEXT[kind] + b)
        elif kind == "uplus":
            stack.append("+" + pop(1)[0])
        elif kind == "uminus":
            stack.append("-" + pop(1)[0])
        elif kind == "percent":
            stack.append(pop(1)[0] + "%")
        elif kind == "paren":
            stack.append("(" + pop(1)[0] + ")")
        elif kind == "missarg":
            stack.append("")
        elif kind == "str":
            stack.append('"' + t[1].replace('"', '""') + '"')
        elif kind == "err":
            stack.append(t[1])
        elif kind == "bool":
            stack.append("TRUE" if t[1] else "FALSE")
        elif kind in ("int", "num"):
            stack.append(number_text(float(t[1])))
        elif kind == "attr":
            if t[1] == "sum":
                stack.append("SUM(" + pop(1)[0] + ")")
            elif t[1] not in ("volatile", "if", "goto", "space", "choose"):
                raise TokenError("tAttr option %r has no text" % (t[1],))
        elif kind in ("func", "funcvar"):
            number = function_number(t[1]) if not isinstance(t[1], int) else t[1]
            if number not in FUNCTIONS:
                raise TokenError("function number %d is not known here" % number)
            name, fixed = FUNCTIONS[number]
            argc = t[2] if kind == "funcvar" else fixed
            if argc is None:
                raise TokenError("%s takes a variable number of arguments: tFunc cannot call it" % name)
            stack.append(name + "(" + ",".join(pop(argc)) + ")")
        elif kind == "name":
            index = t[1] - 1
            stack.append(name_texts[index] if 0 <= index < len(name_texts) else "#NAME%d" % t[1])
        elif kind in ("ref", "area"):
            stack.append(t[1])
        elif kind in ("referr", "areaerr"):
            stack.append("#REF!")
        elif kind in ("refn", "arean"):
            parts = [_resolve_offset(*_offset_field(part), base) for part in t[1].split(":")]
            stack.append(":".join(parts))
        elif kind in ("ref3d", "area3d"):
            stack.append(sheet_prefix(sheet_names, t[1], t[2]) + t[3])
        else:
            raise TokenError("token %r has no text" % kind)
    if len(stack) != 1:
        raise TokenError("%d operands left on the stack" % len(stack))
    return "=" + stack[0]


# ---------------------------------------------------------------------------------------
# Cached formula results
#
# A number is the IEEE double. Otherwise byte 0 is the kind (0 text with a STRING record
# after the formula, 1 logical, 2 error, 3 empty text), byte 2 the logical (0/1) or the
# Excel error code, bytes 6 and 7 are 0xFFFF and the rest 0.

def decode_result(raw):
    if raw[6:8] != b"\xff\xff":
        return {"kind": "number", "value": struct.unpack("<d", raw)[0]}
    kind = raw[0]
    if kind == 0:
        return {"kind": "text", "value": None}
    if kind == 1:
        return {"kind": "bool", "value": bool(raw[2])}
    if kind == 2:
        return {"kind": "error", "value": error_text(raw[2])}
    if kind == 3:
        return {"kind": "empty", "value": ""}
    return {"kind": "unknown", "value": raw.hex()}


def encode_result(result):
    kind = result["kind"]
    if kind == "number":
        return struct.pack("<d", result["value"])
    code, value = {"text": (0, 0), "bool": (1, 1 if result.get("value") else 0),
                   "empty": (3, 0)}.get(kind, (2, None))
    if kind == "error":
        value = error_code(result["value"])
    return bytes([code, 0, value, 0, 0, 0, 0xFF, 0xFF])


# ---------------------------------------------------------------------------------------
# Records to the workbook description

def _xf_description(rec):
    align = rec["align"]
    return {
        "font": rec["font"], "format": rec["format"], "fixed": rec["fixed"],
        "protection": rec["protection"], "byte9": rec["byte9"], "align": align,
        "word12": rec["word12"], "fill": rec["fill"], "markers": rec["markers"], "tail": rec["tail"],
        # Read back: the alignment bits are the low byte less 16, the borders bits 8 to 11,
        # the fill colour index the stored value + 8 (255 = no fill).
        "decoded": {
            "alignment": (align & 0xFF) - 16,
            "borders": {"top": bool(align & 0x100), "left": bool(align & 0x200),
                        "bottom": bool(align & 0x400), "right": bool(align & 0x800)},
            "locked": bool(rec["protection"] & 2), "hidden": bool(rec["protection"] & 4),
            "fill_color": None if rec["fill"] == 255 else rec["fill"] + 8,
        },
    }


def _font_description(rec):
    out = {k: rec[k] for k in ("height", "options", "color", "weight", "unused", "underline",
                               "family", "charset", "reserved")}
    out["name"] = rec["font_name"]
    # The colour is stored as palette index - 8.
    out["decoded"] = {"bold": bool(rec["options"] & 1), "italic": bool(rec["options"] & 2),
                      "color_index": (rec["color"] + 8) & 0xFFFF, "points": rec["height"] / 20}
    return out


def _window2_description(rec):
    options = rec["options"]
    return {"options": options, "top": rec["top"], "left": rec["left"],
            "decoded": {"formulas": bool(options & 0x01), "gridlines": bool(options & 0x02),
                        "headers": bool(options & 0x04), "frozen": bool(options & 0x08),
                        "zeros": bool(options & 0x10), "frozen_no_split": bool(options & 0x100),
                        "top_left": a1(rec["top"], rec["left"])}}


def describe(records):
    """The workbook description of a record list (the dump), checking the substream layout."""
    book = {"version": None, "codepage": None, "country": None, "scl": None, "zoom": 100,
            "window1": None, "active_sheet": 0, "names": [], "fonts": [], "formats": [],
            "xfs": [], "sheets": [], "tasks": [], "warnings": []}
    i = 0
    n = len(records)
    first = records[0]
    if first["substream"] != 5:
        raise PxlError("structure", "the first BOF has substream type %d, not 5 (workbook globals)"
                       % first["substream"])
    book["version"] = first["version"]
    i = 1
    raw_names = []
    while True:
        if i >= n:
            raise PxlError("truncated", "truncated: the file ends inside the workbook globals")
        rec = records[i]
        i += 1
        t = rec["type"]
        if t == EOF:
            break
        if t == CODEPAGE:
            book["codepage"] = rec["codepage"]
        elif t == COUNTRY:
            book["country"] = [rec["first"], rec["second"]]
        elif t == SCL:
            book["scl"] = [rec["numerator"], rec["denominator"]]
            if rec["denominator"]:
                book["zoom"] = rec["numerator"] * 100 // rec["denominator"]
        elif t == NAME:
            raw_names.append(rec)
        elif t == WINDOW1:
            book["window1"] = {"options": rec["options"], "active": rec["active"]}
            book["active_sheet"] = rec["active"]
        elif t == FONT:
            book["fonts"].append(_font_description(rec))
        elif t == FORMAT:
            # Each FORMAT takes the next format number from 233 on; XFs refer to these.
            book["formats"].append({"number": 233 + len(book["formats"]), "code": rec["code"]})
        elif t == XF:
            book["xfs"].append(_xf_description(rec))
        elif t == BOUNDSHEET:
            book["sheets"].append({"name": rec["sheet_name"], "visibility": rec["visibility"]})
        elif t in (ROWDEFAULT, COLDEFAULT):
            pass
        else:
            raise PxlError("structure", "record %s (offset %d) does not belong in the workbook globals"
                           % (rec["name"], rec["offset"]))
    sheet_names = [s["name"] for s in book["sheets"]]
    name_texts = [rec["text"] for rec in raw_names]
    for rec in raw_names:
        book["names"].append(_name_description(rec, sheet_names, name_texts))
    for sheet in book["sheets"]:
        if i >= n:
            raise PxlError("truncated", "truncated: the file ends before the substream of sheet %r"
                           % sheet["name"])
        bof = records[i]
        if bof["type"] != BOF:
            raise PxlError("structure", "sheet %r: expected BOF at offset %d, found %s"
                           % (sheet["name"], bof["offset"], bof["name"]))
        sheet["bof"] = {"version": bof["version"], "substream": bof["substream"]}
        if bof["substream"] != 16:
            book["warnings"].append("sheet %r: BOF substream type %d, not 16" % (sheet["name"], bof["substream"]))
        i = _describe_sheet(records, i + 1, sheet, sheet_names, name_texts, book["warnings"])
    if i < n:
        raise PxlError("structure", "%d records after the last sheet, from offset %d"
                       % (n - i, records[i]["offset"]))
    active = book["active_sheet"]
    for index, sheet in enumerate(book["sheets"]):
        # SCL sits in the globals and is the active sheet's zoom.
        sheet["zoom"] = book["zoom"] if index == active else 100
        if sheet["name"] == DATA_SHEET:
            sheet["data_sheet"] = True
            book["tasks"] = tasks_from_cells(sheet["cells"])
    if not book["warnings"]:
        del book["warnings"]
    return book


def _name_description(rec, sheet_names, name_texts):
    tokens_hex = rec["tokens"]
    out = {"name": rec["text"], "options": rec["options"], "sheet": rec["sheet"],
           # Options: 0x0001 hidden, 0x0020 built-in (Kelp drops built-in names).
           "hidden": bool(rec["options"] & 0x0001), "builtin": bool(rec["options"] & 0x0020)}
    _add_formula(out, tokens_hex, sheet_names, name_texts, (0, 0))
    return out


def _add_formula(out, tokens_hex, sheet_names, name_texts, base):
    try:
        tokens = decode_tokens(bytes.fromhex(tokens_hex))
        out["tokens"] = tokens
    except (TokenError, PxlError) as problem:
        out["tokens_hex"] = tokens_hex
        out["formula"] = None
        out["token_error"] = str(problem)
        return
    try:
        out["formula"] = tokens_text(tokens, sheet_names, name_texts, base)
    except TokenError as problem:
        out["formula"] = None
        out["token_error"] = str(problem)


def _describe_sheet(records, i, sheet, sheet_names, name_texts, warnings):
    cells = {}
    sheet.update({"colinfo": [], "rows": [], "cells": cells, "window2": None, "selection": None,
                  "pane": None})
    n = len(records)
    last_formula = None
    while True:
        if i >= n:
            raise PxlError("truncated", "truncated: the file ends inside sheet %r" % sheet["name"])
        rec = records[i]
        i += 1
        t = rec["type"]
        if t != STRING and last_formula is not None:
            warnings.append("%s!%s: text result without a STRING record" % (sheet["name"], last_formula["at"]))
            last_formula = None
        if t == EOF:
            break
        if t in (BLANK, NUMBER, LABEL, BOOLERR, FORMULA):
            at = a1(rec["row"], rec["col"])
            cell = {"style": rec["style"]}
            if t == BLANK:
                cell["kind"] = "blank"
            elif t == NUMBER:
                cell.update(kind="number", value=rec["value"])
            elif t == LABEL:
                cell.update(kind="text", value=rec["text"])
            elif t == BOOLERR:
                if rec["is_error"] == 1:
                    cell.update(kind="error", value=error_text(rec["value"]))
                else:
                    cell.update(kind="bool", value=bool(rec["value"]))
                    if rec["is_error"]:
                        cell["flag"] = rec["is_error"]
            else:
                raw = bytes.fromhex(rec["result"])
                result = decode_result(raw)
                cell.update(kind="formula", result=result, flags=rec["flags"])
                if encode_result(result) != raw:
                    cell["result_raw"] = raw.hex()
                _add_formula(cell, rec["tokens"], sheet_names, name_texts, (rec["row"], rec["col"]))
                if result["kind"] == "text":
                    last_formula = {"at": at, "result": result, "cell": cell}
            if at in cells:
                warnings.append("%s!%s: stored twice" % (sheet["name"], at))
            cells[at] = cell
        elif t == STRING:
            if last_formula is None:
                warnings.append("%s: STRING at offset %d follows no text formula" % (sheet["name"], rec["offset"]))
            else:
                last_formula["result"]["value"] = rec["text"]
                last_formula = None
        elif t == ROW:
            # Flags: bits 0-2 outline level, 0x20 hidden, 0x40 height set, 0x80 style applies.
            sheet["rows"].append({"row": rec["row"], "height": rec["height"], "flags": rec["flags"],
                                  "style": rec["style"],
                                  "decoded": {"row": rec["row"] + 1, "outline": rec["flags"] & 7,
                                              "hidden": bool(rec["flags"] & 0x20),
                                              "custom_height": bool(rec["flags"] & 0x40),
                                              "styled": bool(rec["flags"] & 0x80)}})
        elif t == COLINFO:
            sheet["colinfo"].append({"first": rec["first"], "last": rec["last"], "width": rec["width"],
                                     "style": rec["style"], "flags": rec["flags"],
                                     "decoded": {"columns": col_name(rec["first"]) + ":" + col_name(rec["last"])
                                                 if rec["first"] < 256 and rec["last"] < 256 else None,
                                                 "hidden": bool(rec["flags"] & 1)}})
        elif t == WINDOW2:
            sheet["window2"] = _window2_description(rec)
        elif t == PANE:
            window2 = sheet["window2"]
            # The pane counts only when the WINDOW2 before it has both 0x0008 and 0x0100.
            applied = bool(window2 and window2["options"] & 0x0108 == 0x0108)
            sheet["pane"] = {"cols": rec["cols"], "rows": rec["rows"], "top": rec["top"],
                             "left": rec["left"], "active": rec["active"], "applied": applied}
        elif t == SELECTION:
            sheet["selection"] = {"active": a1(rec["active_row"], rec["active_col"]),
                                  "range": a1(rec["first_row"], rec["first_col"]) + ":" +
                                  a1(rec["last_row"], rec["last_col"])}
        elif t in (ROWDEFAULT, COLDEFAULT):
            pass
        else:
            raise PxlError("structure", "record %s (offset %d) does not belong in sheet %r"
                           % (rec["name"], rec["offset"], sheet["name"]))
    return i


def tasks_from_cells(cells):
    """The tasks the data sheet holds: rows 0-3 are skipped, column A starts a task, B its
    kind letters, C the menu text or cell reference, F pieces of its text."""
    rows = {}
    for at, cell in cells.items():
        if cell.get("kind") != "text":
            continue
        row, col, _, _ = parse_a1(at)
        if row >= 4:
            rows.setdefault(row, {})[col] = cell["value"]
    tasks = []
    for row in sorted(rows):
        cols = rows[row]
        if 0 in cols:
            letters = cols.get(1, "")
            kind = {"m": 1, "t": 2, "e": 3}.get(letters[:1], 0)
            if letters[1:2] == "t":
                kind = 2
            tasks.append({"name": cols[0], "kind": kind, "where": cols.get(2, ""), "text": ""})
        if 5 in cols and tasks:
            tasks[-1]["text"] += cols[5]
    return tasks


def data_sheet_cells(tasks):
    """Cells of "#KelpData#" for tasks ({"name", "kind", "where", "text"}), texts cut at 250."""
    cells = {"A1": {"kind": "text", "value": DATA_SHEET_HEADING, "style": 0}}
    row = 4
    for task in tasks:
        kind = task["kind"]
        letters = {1: "m", 2: "t", 3: "e"}.get(kind, ".") + ("t" if kind == 2 else ".")
        cells[a1(row, 0)] = {"kind": "text", "value": task["name"], "style": 0}
        cells[a1(row, 1)] = {"kind": "text", "value": letters, "style": 0}
        cells[a1(row, 2)] = {"kind": "text", "value": task["where"], "style": 0}
        text = task["text"]
        pieces = [text[k:k + 250] for k in range(0, len(text), 250)] or [""]
        for piece in pieces:
            cells[a1(row, 5)] = {"kind": "text", "value": piece, "style": 0}
            row += 1
    return cells


def dump(data):
    return describe(decode_records(data))


# ---------------------------------------------------------------------------------------
# The workbook description to records

def _xf_record(xf):
    if "fixed" in xf:
        return dict(type=XF, font=xf["font"], format=xf["format"], fixed=xf["fixed"],
                    protection=xf["protection"], byte9=xf["byte9"], align=xf["align"],
                    word12=xf["word12"], fill=xf["fill"], markers=list(xf["markers"]), tail=xf["tail"])
    # A style in the record table's terms: alignment bits + 16 with the border bits, 255 at
    # bytes 12-13, fill index - 8 (255 for none), a marker 0x38 per border side, else 0xF8.
    borders = xf.get("borders", {})
    align = (xf.get("alignment", 0) & 0x7F) + 16
    markers = []
    for bit, side in ((0x100, "top"), (0x200, "left"), (0x400, "bottom"), (0x800, "right")):
        if borders.get(side):
            align |= bit
        markers.append(0x38 if borders.get(side) else 0xF8)
    fill = xf.get("fill_color")
    protection = (2 if xf.get("locked", True) else 0) | (4 if xf.get("hidden") else 0)
    return dict(type=XF, font=xf.get("font", 0), format=xf.get("format", 0), fixed=0xFFFFFFFF,
                protection=protection, byte9=0, align=align, word12=255,
                fill=255 if fill is None or (fill & 0x7F) >= 56 else (fill & 0x7F) - 8,
                markers=markers, tail=0)


def _font_record(font):
    options = font.get("options", (1 if font.get("bold") else 0) | (2 if font.get("italic") else 0))
    return dict(type=FONT, height=font.get("height", 200), options=options,
                color=font.get("color", 0), weight=font.get("weight", 700 if options & 1 else 400),
                unused=font.get("unused", 0), underline=font.get("underline", 0),
                family=font.get("family", 0), charset=font.get("charset", 0),
                reserved=font.get("reserved", 0), font_name=font.get("name", "Tahoma"))


def _formula_tokens_hex(item):
    if "tokens_hex" in item:
        return item["tokens_hex"]
    return encode_tokens(item["tokens"]).hex()


def _cell_records(at, cell):
    row, col, _, _ = parse_a1(at)
    base = dict(row=row, col=col, style=cell.get("style", 0))
    kind = cell["kind"]
    if kind == "blank":
        return [dict(base, type=BLANK)]
    if kind == "number":
        return [dict(base, type=NUMBER, value=float(cell["value"]))]
    if kind == "text":
        return [dict(base, type=LABEL, text=cell["value"])]
    if kind == "bool":
        return [dict(base, type=BOOLERR, value=1 if cell["value"] else 0, is_error=cell.get("flag", 0))]
    if kind == "error":
        return [dict(base, type=BOOLERR, value=error_code(cell["value"]), is_error=1)]
    if kind == "formula":
        result = cell.get("result", {"kind": "number", "value": 0.0})
        raw = cell["result_raw"] if "result_raw" in cell else encode_result(result).hex()
        out = [dict(base, type=FORMULA, result=raw, flags=cell.get("flags", 0),
                    tokens=_formula_tokens_hex(cell))]
        # A text result travels in a STRING record right after its formula.
        if result["kind"] == "text" and result.get("value") is not None:
            out.append(dict(type=STRING, text=result["value"]))
        return out
    raise ValueError("%s: unknown cell kind %r" % (at, kind))


def _sheet_records(sheet):
    out = [dict(type=BOF, version=sheet.get("bof", {}).get("version", 270),
                substream=sheet.get("bof", {}).get("substream", 16))]
    for info in sheet.get("colinfo", []):
        out.append(dict(type=COLINFO, first=info["first"], last=info["last"], width=info["width"],
                        style=info.get("style", 0), flags=info.get("flags", 0)))
    rows = {r["row"]: r for r in sheet.get("rows", [])}
    by_row = {}
    for at, cell in sheet.get("cells", {}).items():
        row, col, _, _ = parse_a1(at)
        by_row.setdefault(row, []).append((col, at, cell))
    for row in sorted(set(rows) | set(by_row)):
        if row in rows:
            r = rows[row]
            out.append(dict(type=ROW, row=row, height=r["height"], flags=r["flags"], style=r.get("style", 0)))
        for _, at, cell in sorted(by_row.get(row, []), key=lambda item: item[0]):
            out += _cell_records(at, cell)
    window2 = sheet.get("window2")
    if window2:
        out.append(dict(type=WINDOW2, options=window2["options"], top=window2.get("top", 0),
                        left=window2.get("left", 0)))
    selection = sheet.get("selection")
    if selection:
        arow, acol, _, _ = parse_a1(selection["active"])
        first, last = selection.get("range", selection["active"] + ":" + selection["active"]).split(":")
        frow, fcol, _, _ = parse_a1(first)
        lrow, lcol, _, _ = parse_a1(last)
        out.append(dict(type=SELECTION, active_row=arow, active_col=acol, first_row=frow,
                        last_row=lrow, first_col=fcol, last_col=lcol))
    pane = sheet.get("pane")
    if pane:
        # Active pane: 0 bottom-right, 1 top-right, 2 bottom-left, 3 top-left.
        out.append(dict(type=PANE, cols=pane["cols"], rows=pane["rows"], top=pane["top"],
                        left=pane["left"], active=pane["active"]))
    out.append(dict(type=EOF))
    return out


def build_records(book):
    """Records in the order Kelp writes them: BOF, CODEPAGE, COUNTRY, SCL, NAME, WINDOW1,
    FONT, FORMAT, XF, BOUNDSHEET, EOF; then each sheet."""
    sheets = list(book["sheets"])
    if book.get("tasks") and not any(s["name"] == DATA_SHEET for s in sheets):
        sheets.append({"name": DATA_SHEET, "visibility": 0, "cells": data_sheet_cells(book["tasks"])})
    out = [dict(type=BOF, version=book.get("version", 270), substream=5)]
    if book.get("codepage") is not None:
        out.append(dict(type=CODEPAGE, codepage=book["codepage"]))
    if book.get("country") is not None:
        out.append(dict(type=COUNTRY, first=book["country"][0], second=book["country"][1]))
    if book.get("scl"):
        out.append(dict(type=SCL, numerator=book["scl"][0], denominator=book["scl"][1]))
    for name in book.get("names", []):
        out.append(dict(type=NAME, options=name.get("options", 0), sheet=name.get("sheet", 0),
                        text=name["name"], tokens=_formula_tokens_hex(name)))
    window1 = book.get("window1")
    if window1:
        out.append(dict(type=WINDOW1, options=window1["options"], active=window1["active"]))
    out += [_font_record(font) for font in book.get("fonts", [])]
    for fmt in book.get("formats", []):
        out.append(dict(type=FORMAT, code=fmt["code"] if isinstance(fmt, dict) else fmt))
    out += [_xf_record(xf) for xf in book.get("xfs", [])]
    for sheet in sheets:
        out.append(dict(type=BOUNDSHEET, visibility=sheet.get("visibility", 0), sheet_name=sheet["name"]))
    out.append(dict(type=EOF))
    for sheet in sheets:
        out += _sheet_records(sheet)
    return out


def build(book):
    return encode_records(build_records(book))


# ---------------------------------------------------------------------------------------
# Fixtures

def standard_globals():
    """The globals of a plain one-font, one-style workbook as Kelp writes it."""
    return {"version": 270, "codepage": 1252, "country": [1, 1],
            # WINDOW1 options are 31 as written.
            "window1": {"options": 31, "active": 0},
            "fonts": [{"height": 200, "name": "Tahoma"}],
            "formats": [],
            "xfs": [{"font": 0, "format": 0}]}


def plain_view(sheet, active="A1"):
    sheet.setdefault("window2", {"options": 0x0002 | 0x0004 | 0x0010, "top": 0, "left": 0})
    sheet.setdefault("selection", {"active": active, "range": active + ":" + active})
    return sheet


def fixture_minimal():
    book = standard_globals()
    book["sheets"] = [plain_view({"name": "Sheet1", "visibility": 0, "cells": {
        "A1": {"kind": "text", "value": "Hello", "style": 0},
        "B1": {"kind": "number", "value": 42.0, "style": 0}}})]
    return build_records(book)


def fixture_all_records_book():
    book = standard_globals()
    book["scl"] = [150, 100]
    book["fonts"] = [{"height": 200, "name": "Tahoma"},
                     {"height": 240, "bold": True, "name": "Tahoma"},
                     {"height": 200, "italic": True, "color": 2, "name": "Courier New"},
                     {"height": 160, "underline": 1, "name": "Arial"}]
    book["formats"] = ["0.00", "#,##0", "0%", "d/m/yyyy"]
    book["xfs"] = [
        {"font": 0, "format": 0},
        {"font": 1, "format": 0, "alignment": 2, "borders": {"top": True, "bottom": True}},
        {"font": 0, "format": 233},
        {"font": 2, "format": 234, "fill_color": 13},
        {"font": 0, "format": 235, "borders": {"left": True, "right": True}},
        {"font": 3, "format": 236, "locked": False, "hidden": True},
    ]
    sales_total = ["area3d", 0, 0, "$B$2:$B$4"]
    book["names"] = [
        {"name": "Sales", "options": 0, "sheet": 0, "tokens": [sales_total]},
        {"name": "Rate", "options": 0, "sheet": 2, "tokens": [["ref3d", 1, 1, "$B$1"]]},
        {"name": "Secret", "options": 0x0001, "sheet": 0, "tokens": [["num", 0.25]]},
        # A built-in name (Print_Area, code 6), which Kelp drops on reading.
        {"name": "\u0006", "options": 0x0020, "sheet": 1, "tokens": [["area3d", 0, 0, "$A$1:$C$6"]]},
    ]
    book["window1"] = {"options": 31, "active": 0}
    main = {"name": "Sheet1", "visibility": 0,
            "colinfo": [{"first": 0, "last": 0, "width": 12 * 256, "style": 1, "flags": 0},
                        {"first": 3, "last": 4, "width": 5 * 256, "style": 0, "flags": 1}],
            "rows": [{"row": 0, "height": 300, "flags": 0x40, "style": 0},
                     {"row": 5, "height": 255, "flags": 0x20 | 0x80 | 0x02, "style": 2}],
            "cells": {
                "A1": {"kind": "text", "value": "Item", "style": 1},
                "B1": {"kind": "text", "value": "Amount \u00e9\u20ac", "style": 1},
                "C1": {"kind": "blank", "style": 4},
                "A2": {"kind": "text", "value": "Rent", "style": 0},
                "B2": {"kind": "number", "value": 950.0, "style": 2},
                "A3": {"kind": "text", "value": "Food", "style": 0},
                "B3": {"kind": "number", "value": 410.5, "style": 2},
                "A4": {"kind": "text", "value": "Power", "style": 0},
                "B4": {"kind": "number", "value": -74.25, "style": 3},
                "A5": {"kind": "bool", "value": True, "style": 0},
                "B5": {"kind": "error", "value": "#DIV/0!", "style": 0},
                "C5": {"kind": "bool", "value": False, "style": 0},
                "D5": {"kind": "error", "value": "#N/A", "style": 0},
                "A6": {"kind": "formula", "style": 2, "flags": 0,
                       "tokens": [["area", "B2:B4"], ["funcvar", "SUM", 1, "V"]],
                       "result": {"kind": "number", "value": 1286.25}},
                "B6": {"kind": "formula", "style": 0, "flags": 0,
                       "tokens": [["ref", "A2"], ["str", " & "], ["concat"], ["ref", "$A$3"], ["concat"]],
                       "result": {"kind": "text", "value": "Rent & Food"}},
                "C6": {"kind": "formula", "style": 0, "flags": 0,
                       "tokens": [["ref", "B2"], ["ref", "B3"], ["gt"]],
                       "result": {"kind": "bool", "value": True}},
                "D6": {"kind": "formula", "style": 0, "flags": 0,
                       "tokens": [["int", 1], ["int", 0], ["div"]],
                       "result": {"kind": "error", "value": "#DIV/0!"}},
                "E6": {"kind": "formula", "style": 0, "flags": 0,
                       "tokens": [["str", ""]],
                       "result": {"kind": "empty"}},
                "A7": {"kind": "number", "value": 38354.5, "style": 5},
            },
            "window2": {"options": 0x0002 | 0x0004 | 0x0010 | 0x0008 | 0x0100, "top": 1, "left": 1},
            "selection": {"active": "B3", "range": "B2:B4"},
            "pane": {"cols": 1, "rows": 1, "top": 1, "left": 1, "active": 0}}
    main["cells"]["B7"] = {"kind": "formula", "style": 0, "flags": 1,
                           "tokens": [["attr", "volatile"], ["func", "RAND", "V"], ["int", 0], ["mul"],
                                      ["func", "INT", "V"]],
                           "result": {"kind": "number", "value": 0.0}}
    main["cells"]["C7"] = {"kind": "formula", "style": 0, "flags": 0,
                           "tokens": [["IF", [["ref", "A5"]], [["str", "yes"]], [["str", "no"]]]],
                           "result": {"kind": "text", "value": "yes"}}
    main["cells"]["D7"] = {"kind": "formula", "style": 2, "flags": 0,
                           "tokens": [["num", 2.5], ["uminus"], ["int", 2], ["power"], ["name", 1],
                                      ["funcvar", "SUM", 1, "V"], ["int", 100], ["div"], ["paren"], ["ref", "B2"],
                                      ["percent"], ["mul"], ["add"]],
                           "result": {"kind": "number", "value": 6.25 + 12.8625 * 9.5}}
    main["cells"]["E7"] = {"kind": "formula", "style": 0, "flags": 0,
                           "tokens": [["num", 3.14159], ["int", 2], ["func", "ROUND", "V"], ["ref", "B4"],
                                      ["func", "ABS", "V"], ["funcvar", "MAX", 2, "V"]],
                           "result": {"kind": "number", "value": 74.25}}
    income = {"name": "Income", "visibility": 0, "cells": {
        "A1": {"kind": "text", "value": "Rate", "style": 0},
        "B1": {"kind": "number", "value": 0.15, "style": 4},
        "A2": {"kind": "formula", "style": 0, "flags": 0,
               "tokens": [["ref3d", 0, 0, "B2"], ["ref3d", 1, 1, "$B$1"], ["mul"]],
               "result": {"kind": "number", "value": 142.5}},
        "A3": {"kind": "formula", "style": 0, "flags": 0,
               "tokens": [["area3d", 0, 0, "B2:B3"], ["attr", "sum"], ["ref", "B1"], ["lt"], ["bool", False], ["eq"]],
               "result": {"kind": "bool", "value": True}},
        "A4": {"kind": "formula", "style": 0, "flags": 0,
               "tokens": [["name", 2], ["ref3d", 2, 2, "B1"], ["func", "ISBLANK", "V"], ["funcvar", "AND", 2, "V"]],
               "result": {"kind": "bool", "value": True}},
        "A5": {"kind": "formula", "style": 0, "flags": 0,
               "tokens": [["str", "x\"y"], ["func", "LEN", "V"], ["int", 4], ["ne"]],
               "result": {"kind": "bool", "value": True}},
        "A6": {"kind": "formula", "style": 0, "flags": 0,
               "tokens": [["ref3d", 0, 1, "B2"], ["funcvar", "SUM", 1, "V"]],
               "result": {"kind": "number", "value": 950.0}},
        "A7": {"kind": "formula", "style": 0, "flags": 0,
               "tokens": [["err", "#N/A"], ["func", "ISNA", "V"]],
               "result": {"kind": "bool", "value": True}},
    }}
    hidden = {"name": "Hidden Sheet", "visibility": 1, "cells": {
        "A1": {"kind": "text", "value": "behind the scenes", "style": 0}}}
    book["sheets"] = [plain_view(main, "B3"), plain_view(income), plain_view(hidden)]
    return book


def fixture_all_records():
    records = build_records(fixture_all_records_book())
    # Types 37 and 85 are read and ignored (Kelp does not write them): one of each in the
    # globals and in the first sheet.
    window1 = next(k for k, rec in enumerate(records) if rec["type"] == WINDOW1)
    records.insert(window1, dict(type=ROWDEFAULT, data="0000ff00"))
    sheet_bof = [k for k, rec in enumerate(records) if rec["type"] == BOF][1]
    records.insert(sheet_bof + 1, dict(type=COLDEFAULT, data="0800000000ff"))
    records.insert(sheet_bof + 1, dict(type=ROWDEFAULT, data="0000ff00"))
    return records


def fixture_panes():
    book = standard_globals()

    def sheet(name, cols, rows, active):
        cells = {a1(r, c): {"kind": "number", "value": float(r * 10 + c), "style": 0}
                 for r in range(6) for c in range(4)}
        return {"name": name, "visibility": 0, "cells": cells,
                "window2": {"options": 0x0002 | 0x0004 | 0x0010 | 0x0008 | 0x0100, "top": rows, "left": cols},
                "selection": {"active": a1(rows, cols), "range": a1(rows, cols) + ":" + a1(rows, cols)},
                "pane": {"cols": cols, "rows": rows, "top": rows, "left": cols, "active": active}}
    book["sheets"] = [sheet("Both", 2, 1, 0), sheet("Rows", 0, 3, 2), sheet("Columns", 1, 0, 1)]
    # A PANE whose WINDOW2 lacks 0x0100 does not freeze anything.
    loose = sheet("NotFrozen", 1, 1, 0)
    loose["window2"]["options"] &= ~0x0100
    book["sheets"].append(loose)
    return build_records(book)


def fixture_zoom75():
    book = standard_globals()
    book["scl"] = [75, 100]
    book["window1"] = {"options": 31, "active": 1}
    book["sheets"] = [plain_view({"name": "First", "visibility": 0, "cells": {
                          "A1": {"kind": "text", "value": "not zoomed", "style": 0}}}),
                      plain_view({"name": "Zoomed", "visibility": 0, "cells": {
                          "A1": {"kind": "text", "value": "zoomed to 75%", "style": 0},
                          "A2": {"kind": "number", "value": 75.0, "style": 0}}})]
    return build_records(book)


TASKS = [
    {"name": "Hello", "kind": 1, "where": "Say hello", "text": 'MsgBox("Hello from a menu")'},
    {"name": "Double", "kind": 2, "where": "Sheet1!B2", "text": "Set(B3, B2 * 2)"},
    {"name": "Watch", "kind": 3, "where": "Sheet1!B2", "text": "Set(B4, B2 + 1)"},
    {"name": "Long", "kind": 1, "where": "Fill a column",
     "text": "for i = 1 to 30 Set(CellRef(4, i), i * i) end " + " ".join(
         "Set(CellRef(5, %d), %d)" % (k, k) for k in range(1, 15))},
]


def fixture_tasks():
    book = standard_globals()
    book["sheets"] = [plain_view({"name": "Sheet1", "visibility": 0, "cells": {
        "A2": {"kind": "text", "value": "Input", "style": 0},
        "B2": {"kind": "number", "value": 21.0, "style": 0}}})]
    book["tasks"] = TASKS
    return build_records(book)


def fixture_truncate():
    """A small file with every record kind that has a variable part, for cutting short."""
    book = standard_globals()
    book["scl"] = [120, 100]
    book["formats"] = ["0.0"]
    book["xfs"] = [{"font": 0, "format": 0}, {"font": 0, "format": 233}]
    book["names"] = [{"name": "Two", "tokens": [["int", 2]]}]
    book["sheets"] = [plain_view({"name": "Cut", "visibility": 0,
                                  "colinfo": [{"first": 1, "last": 1, "width": 3000, "style": 0, "flags": 0}],
                                  "rows": [{"row": 1, "height": 400, "flags": 0x40, "style": 0}],
                                  "cells": {
                                      "A1": {"kind": "text", "value": "label", "style": 0},
                                      "B1": {"kind": "number", "value": 1.5, "style": 1},
                                      "A2": {"kind": "bool", "value": True, "style": 0},
                                      "B2": {"kind": "blank", "style": 1},
                                      "C2": {"kind": "formula", "tokens": [["ref", "B1"], ["name", 1], ["mul"]],
                                             "result": {"kind": "number", "value": 3.0}, "style": 0},
                                      "D2": {"kind": "formula", "tokens": [["ref", "A1"], ["str", "!"], ["concat"]],
                                             "result": {"kind": "text", "value": "label!"}, "style": 0}},
                                  "window2": {"options": 0x011E, "top": 1, "left": 0},
                                  "pane": {"cols": 0, "rows": 1, "top": 1, "left": 0, "active": 2}})]
    return build_records(book)


def with_bof_version(records, version):
    records = [dict(rec) for rec in records]
    records[0]["version"] = version
    return records


def fixtures():
    """Name -> (records, what it holds, the Kelp error it must give or None)."""
    minimal = fixture_minimal()
    sheet_bof = [k for k, rec in enumerate(minimal) if rec["type"] == BOF][1]
    unknown = list(minimal)
    unknown.insert(sheet_bof + 2, {"raw": "c8"})  # type 200, between the sheet's cells
    encrypted = list(minimal)
    encrypted.insert(1, dict(type=FILEPASS))
    not_bof = [dict(type=CODEPAGE, codepage=1252)] + minimal
    return {
        "minimal.pxl": (minimal, "one sheet, a text and a number, one font and one style", None),
        "all_records.pxl": (fixture_all_records(),
                            "every record type of the table: CODEPAGE, COUNTRY, SCL 150/100, four NAMEs "
                            "(workbook, sheet-local, hidden, built-in), types 37 and 85, WINDOW1, four FONTs, "
                            "four FORMATs, six XFs, three BOUNDSHEETs (the third hidden); COLINFO, ROW, BLANK, "
                            "NUMBER, LABEL, BOOLERR logical and error, FORMULA with number, text (+STRING), "
                            "logical, error and empty-text results, WINDOW2, SELECTION, PANE", None),
        "version256.pxl": (with_bof_version(minimal, 0x0100), "minimal.pxl with BOF version 0x0100 (accepted)", None),
        "panes.pxl": (fixture_panes(), "frozen rows and columns, rows only, columns only, and a PANE "
                      "without WINDOW2 bit 0x0100 (not frozen)", None),
        "zoom75.pxl": (fixture_zoom75(), "SCL 75/100 with the second sheet active", None),
        "tasks.pxl": (fixture_tasks(), "the data sheet \"#KelpData#\" with four tasks (menu, cell, "
                      "value-change, and one whose text spans two rows)", None),
        "truncate.pxl": (fixture_truncate(), "a small file for cutting at every length", None),
        "version1.pxl": (with_bof_version(minimal, 0x00FF), "minimal.pxl with BOF version 0x00FF: "
                         "first release", 46),
        "not_bof.pxl": (not_bof, "minimal.pxl behind a CODEPAGE record: the first byte is not BOF", 13),
        "unknown_record.pxl": (unknown, "minimal.pxl with a record of type 200 in the sheet", 13),
        "encrypted.pxl": (encrypted, "minimal.pxl with FILEPASS after the BOF", 38),
    }


def make(folder):
    os.makedirs(folder, exist_ok=True)
    for name, (records, _, _) in sorted(fixtures().items()):
        with open(os.path.join(folder, name), "wb") as out:
            out.write(encode_records(records))
        with open(os.path.join(folder, name[:-4] + ".json"), "w", encoding="utf-8") as out:
            try:
                json.dump(dump(encode_records(records)), out, indent=1, ensure_ascii=False, sort_keys=True)
            except PxlError as problem:
                json.dump({"error": problem.kind, "message": str(problem)}, out, indent=1)
            out.write("\n")


# ---------------------------------------------------------------------------------------

def _json_records(records):
    return [{k: v for k, v in rec.items()} for rec in records]


def main(argv):
    if len(argv) >= 2 and argv[0] == "dump":
        try:
            with open(argv[1], "rb") as f:
                data = f.read()
        except OSError as problem:
            print("error: cannot read %s: %s" % (argv[1], problem.strerror), file=sys.stderr)
            return 1
        try:
            records = decode_records(data)
            result = _json_records(records) if "--records" in argv[2:] else describe(records)
        except PxlError as problem:
            print("error: %s" % problem, file=sys.stderr)
            return 1
        json.dump(result, sys.stdout, indent=1, ensure_ascii=False, sort_keys=True)
        print()
        return 0
    if len(argv) == 3 and argv[0] == "build":
        with open(argv[1], encoding="utf-8") as f:
            book = json.load(f)
        with open(argv[2], "wb") as out:
            out.write(build(book))
        return 0
    if len(argv) == 2 and argv[0] == "make":
        make(argv[1])
        return 0
    print("usage: pxl.py dump FILE [--records] | build JSON OUT | make DIR", file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
