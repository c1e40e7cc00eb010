#!/usr/bin/env python3
"""Tests of the rules and comparisons check_kelp.py judges Kelp by, on files and texts made here."""

import copy
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # keep the source tree clean
import check_kelp as ck  # noqa: E402
import pxl  # noqa: E402


def kelp_like(book):
    """The records of a workbook as Kelp's writer lays it out: a ROW before each row's cells."""
    book = copy.deepcopy(book)
    for sheet in book["sheets"]:
        rows = {r["row"] for r in sheet.get("rows", [])}
        for at in sheet["cells"]:
            row = pxl.parse_a1(at)[0]
            if row not in rows:
                sheet.setdefault("rows", []).append({"row": row, "height": 255, "flags": 0, "style": 0})
                rows.add(row)
    return pxl.build_records(book)


def frozen_book():
    book = pxl.dump(ck.fixture_bytes("panes.pxl"))
    book["sheets"] = book["sheets"][:3]  # the fourth has a PANE that Kelp would not write
    return book


def tasks_book():
    return pxl.dump(ck.fixture_bytes("tasks.pxl"))


def problems(records, sheets=("Both", "Rows", "Columns"), tasks=False, zoom=100, active=0):
    return ck.rule_problems(pxl.decode_records(pxl.encode_records(records)), list(sheets), tasks, zoom, active)


class Rules(unittest.TestCase):
    def test_a_file_laid_out_as_written_passes(self):
        self.assertEqual(problems(kelp_like(frozen_book())), [])
        self.assertEqual(problems(kelp_like(tasks_book()), ["Sheet1"], True), [])
        zoomed = pxl.dump(ck.fixture_bytes("zoom75.pxl"))
        self.assertEqual(problems(kelp_like(zoomed), ["First", "Zoomed"], False, 75, 1), [])

    def test_each_broken_rule_is_found(self):
        base = kelp_like(frozen_book())

        def broken(change, **expect):
            records = copy.deepcopy(base)
            change(records)
            return problems(records, **expect)

        def index(records, rtype, nth=0):
            return [k for k, rec in enumerate(records) if rec["type"] == rtype][nth]

        def set_field(rtype, **fields):
            return lambda records: records[index(records, rtype)].update(fields)

        cases = {
            "SCL at zoom 100": lambda r: r.insert(3, dict(type=pxl.SCL, numerator=100, denominator=100)),
            "COUNTRY 0,0": set_field(pxl.COUNTRY, first=0),
            "WINDOW1 options 0": set_field(pxl.WINDOW1, options=0),
            "WINDOW1 on another sheet": set_field(pxl.WINDOW1, active=2),
            "no CODEPAGE": lambda r: r.pop(index(r, pxl.CODEPAGE)),
            "FONT after the XF": lambda r: r.insert(index(r, pxl.XF) + 1, r.pop(index(r, pxl.FONT))),
            "XF marker without its border bit": lambda r: r[index(r, pxl.XF)]["markers"].__setitem__(0, 0x38),
            "XF bytes 12-13 not 255": set_field(pxl.XF, word12=0),
            "XF of a font that is not there": set_field(pxl.XF, font=3),
            "sheet BOF version 256": lambda r: r[index(r, pxl.BOF, 1)].update(version=256),
            "no PANE after a frozen WINDOW2": lambda r: r.pop(index(r, pxl.PANE)),
            "PANE before SELECTION": lambda r: r.insert(index(r, pxl.SELECTION), r.pop(index(r, pxl.PANE))),
            "a cell before its ROW": lambda r: r.insert(index(r, pxl.ROW), r.pop(index(r, pxl.ROW) + 1)),
            "type 37 in a sheet": lambda r: r.insert(index(r, pxl.BOF, 1) + 1, dict(type=pxl.ROWDEFAULT, data="00000000")),
            "a BOUNDSHEET too many": lambda r: r.insert(index(r, pxl.EOF), dict(type=pxl.BOUNDSHEET, sheet_name="X")),
            "a cell of a style that is not there": lambda r: r[index(r, pxl.NUMBER)].update(style=9),
            "records after the last EOF": lambda r: r.append(dict(type=pxl.EOF)),
        }
        for what, change in cases.items():
            self.assertNotEqual(broken(change), [], what)
        self.assertNotEqual(problems(base, zoom=75), [], "no SCL for zoom 75")
        self.assertNotEqual(problems(base, tasks=True), [], "no data sheet for the tasks")

    def test_formula_results_and_strings(self):
        book = frozen_book()
        book["sheets"][0]["cells"]["F1"] = {"kind": "formula", "tokens": [["str", "x"]], "style": 0,
                                            "result": {"kind": "text", "value": "x"}}
        records = kelp_like(book)
        self.assertEqual(problems(records), [])
        without_string = [r for r in records if r["type"] != pxl.STRING]
        self.assertNotEqual(problems(without_string), [])
        odd = copy.deepcopy(records)
        formula = next(r for r in odd if r["type"] == pxl.FORMULA)
        formula["result"] = "000001000000ffff"  # a text result with a stray byte
        self.assertNotEqual(problems(odd), [])
        formula["result"] = "000000000000ffff"
        formula["flags"] = 2
        self.assertNotEqual(problems(odd), [])


class Comparisons(unittest.TestCase):
    def test_formula_texts_that_mean_the_same(self):
        same = [("=Sum(B4:D4)", "=SUM(B4:D4)"), ('=If(A1,"yes","no")', '=IF(A1, "yes", "no")'),
                ("='Hidden Sheet'!B1", "='HIDDEN SHEET'!b1"), ("=Sheet1:Income!B2", "='Sheet1:Income'!B2"),
                ("=1/0+!!Div0", "=1/0+#DIV/0!"), ("=IsNA(!!NA)", "=ISNA(#N/A)"), ("=1E+20", "=1e20"),
                ("=0.5", "=.5"), ('="a""b"', '="a""b"'), ("=A1<>B1", "=A1 <> B1")]
        for a, b in same:
            self.assertEqual(ck.formula_key(a), ck.formula_key(b), (a, b))
        different = [("=A1+B1", "=A1-B1"), ("=$A$1", "=A1"), ('="a"', '="A"'), ("=A1<>B1", "=A1<B1"),
                     ("=Sum(A1:A3)", "=Sum(A1:A4)"), ("=1/0+!!Div0", "=1/0+#N/A"), ("=2.5", "=2.50001"),
                     ("=(A1+B1)*2", "=A1+B1*2"), ("='My Sheet'!A1", "=MySheet!A1")]
        for a, b in different:
            self.assertNotEqual(ck.formula_key(a), ck.formula_key(b), (a, b))

    def test_raw_values(self):
        number = {"kind": "number", "value": 0.608791666666666667, "style": 0}
        self.assertTrue(ck.raw_matches(number, "0.60879166666667"))
        self.assertFalse(ck.raw_matches(number, "0.6087916666"))
        date = {"kind": "number", "value": 46037.0, "style": 0}
        self.assertTrue(ck.raw_matches(date, "1/15/26"))
        self.assertTrue(ck.raw_matches(date, "1/15/2026"))
        self.assertFalse(ck.raw_matches(date, "1/16/26"))
        self.assertTrue(ck.raw_matches({"kind": "number", "value": 0.5625, "style": 0}, "13:30:00"))
        self.assertTrue(ck.raw_matches({"kind": "number", "value": 38354.5, "style": 0}, "1/2/2005 12:00 PM"))
        self.assertTrue(ck.raw_matches({"kind": "number", "value": 1.0, "style": 0}, "12/31/1899"))
        self.assertTrue(ck.raw_matches({"kind": "bool", "value": True, "style": 0}, "true"))
        self.assertFalse(ck.raw_matches({"kind": "bool", "value": True, "style": 0}, "1"))
        self.assertTrue(ck.raw_matches({"kind": "error", "value": "#DIV/0!", "style": 0}, "!!Div0"))
        self.assertFalse(ck.raw_matches({"kind": "error", "value": "#DIV/0!", "style": 0}, "!!NA"))
        formula = {"kind": "formula", "result": {"kind": "text", "value": "Rent & Food"}, "style": 0}
        self.assertTrue(ck.raw_matches(formula, "Rent & Food"))
        self.assertTrue(ck.raw_matches({"kind": "formula", "result": {"kind": "empty", "value": ""}}, ""))
        self.assertTrue(ck.raw_matches({"kind": "blank", "style": 3}, ""))

    def test_grids(self):
        cells = pxl.dump(ck.fixture_bytes("minimal.pxl"))["sheets"][0]["cells"]
        self.assertEqual(ck.compare_cells(cells, ck.grid("Hello\t42\n"), False), [])
        self.assertEqual(len(ck.compare_cells(cells, ck.grid("Hello\t43\n"), False)), 1)
        self.assertEqual(len(ck.compare_cells(cells, ck.grid("Hello\t42\n\tx\n"), False)), 1)
        self.assertEqual(len(ck.compare_cells(cells, ck.grid("Hello\t=40+2\n"), True)), 1)
        cells["B1"] = {"kind": "formula", "formula": "=SUM(A2:A3)", "result": {"kind": "number", "value": 42.0}}
        self.assertEqual(ck.compare_cells(cells, ck.grid("Hello\t=Sum(A2:A3)\n"), True), [])
        self.assertEqual(len(ck.compare_cells(cells, ck.grid("Hello\t42\n"), True)), 1)

    def test_info(self):
        text = ("type: Pocket Excel\nsheets: 3\n  Budget (active): A1:E14\n  Income (hidden): A1:B4\n"
                "  Notes: empty\nvalues: 57\nformulas: 14\nnames: 1\n  NetIncome =Income!$B$4\ntasks: 2\n"
                "  Hello\n  Long\n")
        info = ck.parse_info(text)
        self.assertEqual(info, {"type": "Pocket Excel", "sheets": ["Budget", "Income", "Notes"], "active": 0,
                                "hidden": [1], "names": {"NetIncome": "=Income!$B$4"}, "tasks": ["Hello", "Long"]})

    def test_what_kelp_keeps(self):
        book = pxl.dump(ck.fixture_bytes("all_records.pxl"))
        self.assertEqual(ck.differences(ck.kept(book), ck.kept(copy.deepcopy(book))), [])
        # The same styles in another order, with Kelp's longer format codes, are the same.
        moved = copy.deepcopy(book)
        moved["formats"] = [{"number": 233 + k, "code": code} for k, code in
                            enumerate(["0.00;\\-0.00", "#,##0;\\-#,##0", "0%;\\-0%", "d/m/yyyy"])]
        moved["xfs"].append(moved["xfs"][2])
        for sheet in moved["sheets"]:
            for cell in sheet["cells"].values():
                if cell["style"] == 2:
                    cell["style"] = len(moved["xfs"]) - 1
        self.assertEqual(ck.differences(ck.kept(book), ck.kept(moved)), [])
        changes = {
            "a font": lambda b: b["fonts"][1].update(height=260),
            "a format": lambda b: b["formats"][0].update(code="0.000"),
            "a border": lambda b: b["xfs"][1].update(decoded=dict(b["xfs"][1]["decoded"], alignment=3)),
            "a value": lambda b: b["sheets"][0]["cells"]["B2"].update(value=951.0),
            "a formula": lambda b: b["sheets"][1]["cells"]["A2"].update(formula="=Sheet1!B2*Income!B1"),
            "a frozen pane": lambda b: b["sheets"][0]["pane"].update(applied=False),
            "a row height": lambda b: b["sheets"][0]["rows"][0].update(height=301),
            "a hidden column": lambda b: b["sheets"][0]["colinfo"][1].update(flags=0),
            "the selection": lambda b: b["sheets"][0]["selection"].update(active="B4"),
            "a name": lambda b: b["names"][0].update(formula="=Sheet1!$B$2:$B$5"),
            "the zoom": lambda b: b["sheets"][0].update(zoom=100),
            "a hidden sheet": lambda b: b["sheets"][2].update(visibility=0),
        }
        for what, change in changes.items():
            other = copy.deepcopy(book)
            change(other)
            self.assertNotEqual(ck.differences(ck.kept(book), ck.kept(other)), [], what)


if __name__ == "__main__":
    unittest.main()
