#!/usr/bin/python3
"""Writes what xlrd reads from each .xls fixture as <fixture>.json, the expected values for Kelp's reader."""

# Usage: xlrd_dump.py FILE.xls...   (writes FILE.json beside each FILE.xls)
# Run it with Debian's /usr/bin/python3, where python3-xlrd is installed.
#
# Layout of the JSON (keys sorted, two-space indent, one line per cell and per name, UTF-8):
#   biff_version  xlrd's BIFF version: 50 for Excel 95, 80 for Excel 97-2003
#   codepage      the CODEPAGE record's value (1200 means UTF-16 strings)
#   datemode      0 for the 1900 date system, 1 for 1904
#   names         defined names in file order: name, scope (-1 = workbook, else sheet index),
#                 hidden, builtin, formula (xlrd's decompiled text, or null when it gives none),
#                 tokens (the NAME record's formula bytes in hex)
#   sheets        in file order: name, visibility (0 visible, 1 hidden, 2 very hidden),
#                 frozen (panes frozen), split ([rows above, columns left] of the split),
#                 zoom (percent in the normal view), merged ([first row, last row + 1,
#                 first column, last column + 1], zero-based, sorted) and cells
#   cells         row-major; only cells xlrd reports as not empty (blank formatted cells
#                 included): row, col (zero-based), type, value, xf, format, font
#   type          number, date (a number whose format is a date format), text, boolean,
#                 error or blank
#   value         numbers as the exact float (JSON number, Python repr); text as a string;
#                 booleans as true/false; errors as Excel's code (0x07 #DIV/0! = 7, ...);
#                 blank as null. Errors also carry error_text; dates also carry date, the
#                 [year, month, day, hour, minute, second] xlrd derives in the file's datemode
#   format        the number format string of the cell's XF
#   font          italic, height (twips), weight, name and colour_index of the XF's font,
#                 and bold, meaning a weight of 700 or more (writers leave the old bold bit clear)

import json
import sys

import xlrd

TYPE_NAMES = {
    xlrd.XL_CELL_NUMBER: "number",
    xlrd.XL_CELL_DATE: "date",
    xlrd.XL_CELL_TEXT: "text",
    xlrd.XL_CELL_BOOLEAN: "boolean",
    xlrd.XL_CELL_ERROR: "error",
    xlrd.XL_CELL_BLANK: "blank",
}


def font_of(book, xf):
    font = book.font_list[xf.font_index]
    return {
        "bold": font.weight >= 700,
        "italic": bool(font.italic),
        "height": font.height,
        "weight": font.weight,
        "name": font.name,
        "colour_index": font.colour_index,
    }


def format_of(book, xf):
    fmt = book.format_map.get(xf.format_key)
    return fmt.format_str if fmt is not None else None


def cell_entry(book, sheet, row, col):
    cell = sheet.cell(row, col)
    kind = TYPE_NAMES[cell.ctype]
    entry = {"row": row, "col": col, "type": kind, "xf": cell.xf_index}
    if kind in ("number", "date"):
        entry["value"] = float(cell.value)
    elif kind == "text":
        entry["value"] = cell.value
    elif kind == "boolean":
        entry["value"] = bool(cell.value)
    elif kind == "error":
        entry["value"] = cell.value
        entry["error_text"] = xlrd.error_text_from_code.get(cell.value, "?")
    else:
        entry["value"] = None
    if kind == "date":
        try:
            entry["date"] = list(xlrd.xldate_as_tuple(cell.value, book.datemode))
        except xlrd.xldate.XLDateError:
            entry["date"] = None
    if cell.xf_index is not None:
        xf = book.xf_list[cell.xf_index]
        entry["format"] = format_of(book, xf)
        entry["font"] = font_of(book, xf)
    return entry


def sheet_entry(book, sheet):
    cells = []
    for row in range(sheet.nrows):
        for col in range(sheet.row_len(row)):
            if sheet.cell_type(row, col) != xlrd.XL_CELL_EMPTY:
                cells.append(cell_entry(book, sheet, row, col))
    return {
        "name": sheet.name,
        "visibility": sheet.visibility,
        "frozen": bool(sheet.panes_are_frozen),
        "split": [sheet.horz_split_pos, sheet.vert_split_pos],
        "zoom": sheet.cooked_normal_view_mag_factor,
        "merged": sorted(list(m) for m in sheet.merged_cells),
        "cells": cells,
    }


def name_entry(name):
    result = getattr(name, "result", None)
    formula = getattr(result, "text", None) if result is not None else None
    return {
        "name": name.name,
        "scope": name.scope,
        "hidden": bool(name.hidden),
        "builtin": bool(name.builtin),
        "formula": formula if formula else None,
        "tokens": name.raw_formula.hex(),
    }


def dump(path):
    book = xlrd.open_workbook(path, formatting_info=True, on_demand=False)
    return {
        "biff_version": book.biff_version,
        "codepage": book.codepage,
        "datemode": book.datemode,
        "names": [name_entry(n) for n in book.name_obj_list],
        "sheets": [sheet_entry(book, s) for s in book.sheets()],
    }


def to_json(value, indent=""):
    """Indented JSON with keys sorted, except that each cell and each name takes one line."""
    inner = indent + "  "
    if isinstance(value, dict) and "row" not in value and "tokens" not in value:
        items = ['%s%s: %s' % (inner, json.dumps(k), to_json(value[k], inner)) for k in sorted(value)]
        return "{\n" + ",\n".join(items) + "\n" + indent + "}" if items else "{}"
    if isinstance(value, list) and value and isinstance(value[0], dict):
        items = [inner + to_json(v, inner) for v in value]
        return "[\n" + ",\n".join(items) + "\n" + indent + "]"
    return json.dumps(value, sort_keys=True, ensure_ascii=False)


def main(paths):
    for path in paths:
        text = to_json(dump(path))
        stem = path[:-4] if path.endswith(".xls") else path
        with open(stem + ".json", "w", encoding="utf-8") as out:
            out.write(text + "\n")


if __name__ == "__main__":
    main(sys.argv[1:])
