#!/usr/bin/env python3
"""Tests of the independent Pocket Excel encoder and decoder against each other and against hand-made bytes."""

import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # keep the source tree clean
import pxl  # noqa: E402

FIXTURES = os.path.join(HERE, "fixtures")


def read(name):
    with open(os.path.join(FIXTURES, name), "rb") as f:
        return f.read()


class Fixtures(unittest.TestCase):
    def test_committed_fixtures_are_what_make_writes(self):
        with tempfile.TemporaryDirectory() as folder:
            pxl.make(folder)
            made = sorted(os.listdir(folder))
            committed = sorted(n for n in os.listdir(FIXTURES) if n.endswith((".pxl", ".json")))
            self.assertEqual(made, committed)
            for name in made:
                with open(os.path.join(folder, name), "rb") as f:
                    self.assertEqual(f.read(), read(name), name + " is stale: run pxl.py make fixtures")

    def test_refused_fixtures_give_their_kind_of_error(self):
        expected = {"version1.pxl": "version", "not_bof.pxl": "notbof",
                    "unknown_record.pxl": "unknown", "encrypted.pxl": "filepass"}
        kelp_errors = {"version": 46, "notbof": 13, "unknown": 13, "filepass": 38}
        for name, (_, _, error) in pxl.fixtures().items():
            if name in expected:
                with self.assertRaises(pxl.PxlError) as caught:
                    pxl.dump(read(name))
                self.assertEqual(caught.exception.kind, expected[name], name)
                self.assertEqual(error, kelp_errors[expected[name]], name)
            else:
                self.assertIsNone(error, name)
                pxl.dump(read(name))

    def test_bof_version_256_is_the_lowest_accepted(self):
        self.assertEqual(pxl.dump(read("version256.pxl"))["version"], 256)
        data = bytearray(read("version256.pxl"))
        data[1:3] = struct.pack("<H", 255)
        self.assertEqual(bytes(data), read("version1.pxl"))

    def test_every_shorter_prefix_is_truncated(self):
        for name in ("truncate.pxl", "all_records.pxl", "tasks.pxl"):
            data = read(name)
            pxl.dump(data)
            for length in range(len(data)):
                with self.assertRaises(pxl.PxlError, msg="%s cut at %d" % (name, length)) as caught:
                    pxl.dump(data[:length])
                self.assertEqual(caught.exception.kind, "truncated", "%s cut at %d: %s"
                                 % (name, length, caught.exception))


class RoundTrips(unittest.TestCase):
    def good_fixtures(self):
        return [name for name, (_, _, error) in sorted(pxl.fixtures().items()) if error is None]

    def test_records_give_back_every_byte(self):
        for name in sorted(pxl.fixtures()):
            data = read(name)
            try:
                records = pxl.decode_records(data)
            except pxl.PxlError:
                # A refused file still splits into records after its first problem is removed.
                continue
            self.assertEqual(pxl.encode_records(records), data, name)

    def test_the_dump_builds_the_same_workbook(self):
        for name in self.good_fixtures():
            data = read(name)
            described = pxl.dump(data)
            rebuilt = pxl.build(json.loads(json.dumps(described)))
            self.assertEqual(pxl.dump(rebuilt), described, name)
            if name != "all_records.pxl":  # the only one with the ignored types 37 and 85
                self.assertEqual(rebuilt, data, name)

    def test_all_records_holds_every_type_of_the_table(self):
        types = {rec["type"] for rec in pxl.decode_records(read("all_records.pxl"))}
        self.assertEqual(types, set(pxl.FIXED_SIZES) - {pxl.FILEPASS})
        cells = pxl.dump(read("all_records.pxl"))["sheets"][0]["cells"]
        results = {cells[at]["result"]["kind"] for at in cells if cells[at]["kind"] == "formula"}
        self.assertEqual(results, {"number", "text", "bool", "error", "empty"})
        kinds = {cell["kind"] for cell in cells.values()}
        self.assertEqual(kinds, {"blank", "number", "text", "bool", "error", "formula"})

    def test_json_description_builds_through_the_command_line(self):
        with tempfile.TemporaryDirectory() as folder:
            source = os.path.join(folder, "book.json")
            target = os.path.join(folder, "book.pxl")
            with open(source, "w") as f:
                json.dump(pxl.dump(read("zoom75.pxl")), f)
            subprocess.run([sys.executable, os.path.join(HERE, "pxl.py"), "build", source, target], check=True)
            with open(target, "rb") as f:
                self.assertEqual(f.read(), read("zoom75.pxl"))


class Layouts(unittest.TestCase):
    """Bytes assembled by hand from the written layouts, set against the encoder and decoder."""

    def test_cell_and_sheet_records(self):
        cases = [
            (dict(type=pxl.BLANK, row=2, col=3, style=4), "01 0200 03 0400"),
            (dict(type=pxl.LABEL, row=0, col=1, style=0, text="h\u00e9"), "04 0000 01 0000 0200 6800 e900"),
            (dict(type=pxl.BOOLERR, row=1, col=0, style=0, value=0x2A, is_error=1), "05 0100 00 0000 2a 01"),
            (dict(type=pxl.ROW, row=5, height=255, flags=0xA2, style=2), "08 0500 ff00 a200 0200"),
            (dict(type=pxl.COLINFO, first=3, last=4, width=1280, style=0, flags=1), "7d 0300 0400 0005 0000 01"),
            (dict(type=pxl.WINDOW2, options=0x011E, top=1, left=2), "3e 1e01 0100 02"),
            (dict(type=pxl.PANE, cols=2, rows=1, top=1, left=2, active=0), "41 0200 0100 0100 0200 00"),
            (dict(type=pxl.SELECTION, active_row=2, active_col=1, first_row=1, last_row=3, first_col=1,
                  last_col=2), "1d 0200 01 0100 0300 01 02"),
            (dict(type=pxl.BOUNDSHEET, visibility=1, sheet_name="Ab"), "85 01 02 4100 6200"),
            (dict(type=pxl.FORMAT, code="0%"), "1e 02 3000 2500"),
            (dict(type=pxl.SCL, numerator=75, denominator=100), "a0 4b00 6400"),
            (dict(type=pxl.NAME, options=1, sheet=2, text="N", tokens="1e0500"), "18 0100 01 0300 0200 4e00 1e0500"),
        ]
        for rec, text in cases:
            expected = bytes.fromhex(text.replace(" ", ""))
            self.assertEqual(pxl.encode_record(rec), expected, rec)
            decoded = pxl.decode_records(bytes([pxl.BOF, 0x0E, 0x01, 5, 0]) + expected)[1]
            self.assertEqual(pxl.encode_record(decoded), expected)

    def test_xf_from_a_style(self):
        rec = pxl._xf_record({"font": 1, "format": 233, "alignment": 2, "borders": {"top": True, "right": True},
                              "fill_color": 13, "locked": True})
        self.assertEqual(pxl.encode_record(rec).hex(),
                         "e0" "0100" "e900" "ffffffff" "02" "00" "1209" "ff00" "0500" "38f8f838" "0000")
        self.assertEqual(pxl._xf_record({"fill_color": 56})["fill"], 255)

    def test_formula_results(self):
        def formula(result):
            rec = pxl._cell_records("B2", {"kind": "formula", "tokens": [["int", 1]], "result": result})
            return b"".join(pxl.encode_record(r) for r in rec).hex()
        head = "06 0100 01 0000".replace(" ", "")
        self.assertEqual(formula({"kind": "number", "value": 1.5}), head + "000000000000f83f" "00" "0300" "1e0100")
        self.assertEqual(formula({"kind": "text", "value": "ab"}),
                         head + "000000000000ffff" "00" "0300" "1e0100" "07" "0200" "61006200")
        self.assertEqual(formula({"kind": "bool", "value": True}), head + "010001000000ffff" "00" "0300" "1e0100")
        self.assertEqual(formula({"kind": "error", "value": "#DIV/0!"}), head + "020007000000ffff" "00" "0300" "1e0100")
        self.assertEqual(formula({"kind": "empty"}), head + "030000000000ffff" "00" "0300" "1e0100")

    def test_tokens(self):
        cases = [
            ([["ref", "A1"]], "24 00c0 00"),
            ([["ref", "$B$3", "V"]], "44 0200 01"),
            ([["ref", "C$2"]], "24 0140 02"),
            ([["area", "$A1:B$16384"]], "25 0080 ff7f 00 01"),
            ([["refn", "R[-1]C[2]"]], "2c ffff 02"),
            ([["ref3d", 1, 2, "$A$1"]], "3a 0100 0200 0000 00"),
            ([["area3d", 0, 0, "A1:B2"]], "3b 0000 0000 00c0 01c0 00 01"),
            ([["str", "a\"b"]], "17 03 6100 2200 6200"),
            ([["name", 2]], "23 0200 0000"),
            ([["int", 7], ["num", 0.5], ["add"]], "1e 0700 1f 000000000000e03f 03"),
            ([["bool", True], ["err", "#N/A"]], "1d 01 1c 2a"),
            ([["int", 1], ["funcvar", "SUM", 1, "V"]], "1e 0100 42 01 0400"),
            ([["func", "PI", "V"]], "41 1300"),
            ([["ref", "A1"], ["attr", "sum"]], "24 00c0 00 19 10 0000"),
            # IF(TRUE,1,2): tAttrIf jumps 7 to the false branch, the first tAttrGoto 10 to just
            # behind tFuncVar(IF) less 1, the second 3.
            ([["IF", [["bool", True]], [["int", 1]], [["int", 2]]]],
             "1d 01 19 02 0700 1e 0100 19 08 0a00 1e 0200 19 08 0300 42 03 0100"),
        ]
        for tokens, text in cases:
            data = bytes.fromhex(text.replace(" ", ""))
            self.assertEqual(pxl.encode_tokens(tokens), data, tokens)
            if tokens[0][0] != "IF":
                self.assertEqual(pxl.decode_tokens(data), tokens)
        with self.assertRaises(pxl.TokenError):
            pxl.encode_tokens([["ref", "A16385"]])

    def test_formula_text(self):
        names = ["Sheet1", "Income", "Hidden Sheet"]
        cases = [
            ([["ref", "A1"], ["ref", "$B$2"], ["add"], ["paren"], ["int", 2], ["mul"]], "=(A1+$B$2)*2"),
            ([["num", 2.5], ["uminus"], ["int", 2], ["power"], ["ref", "C3"], ["percent"], ["sub"]], "=-2.5^2-C3%"),
            ([["area3d", 0, 1, "A1:B2"], ["funcvar", "SUM", 1]], "=SUM(Sheet1:Income!A1:B2)"),
            ([["ref3d", 2, 2, "B1"], ["func", "ISBLANK"]], "=ISBLANK('Hidden Sheet'!B1)"),
            ([["IF", [["ref", "A1"]], [["str", "R"]], [["missarg"]]]], '=IF(A1,"R",)'),
            ([["name", 1], ["refn", "R[1]C[-1]"], ["mul"]], "=Total*B4"),
            ([["err", "#DIV/0!"], ["bool", False], ["concat"]], "=#DIV/0!&FALSE"),
        ]
        for tokens, text in cases:
            data = pxl.encode_tokens(tokens)
            self.assertEqual(pxl.tokens_text(pxl.decode_tokens(data), names, ["Total"], (2, 2)), text)
        with self.assertRaises(pxl.TokenError):
            pxl.tokens_text([["int", 1], ["int", 2]])
        with self.assertRaises(pxl.TokenError):
            pxl.tokens_text([["add"]])

    def test_a_token_kelp_does_not_know_leaves_the_formula_without_text(self):
        # tExp (0x01) has no Pocket Excel form: the cell keeps its value, the file still reads.
        book = pxl.dump(read("minimal.pxl"))
        book["sheets"][0]["cells"]["C1"] = {"kind": "formula", "tokens_hex": "01000000", "style": 0,
                                            "result": {"kind": "number", "value": 5.0}}
        cell = pxl.dump(pxl.build(book))["sheets"][0]["cells"]["C1"]
        self.assertIsNone(cell["formula"])
        self.assertIn("0x01", cell["token_error"])
        self.assertEqual(cell["result"]["value"], 5.0)


class Workbook(unittest.TestCase):
    def test_tasks_travel_in_the_data_sheet(self):
        book = pxl.dump(read("tasks.pxl"))
        self.assertEqual(book["tasks"], pxl.TASKS)
        data = book["sheets"][-1]
        self.assertTrue(data["data_sheet"])
        self.assertEqual(data["cells"]["A1"]["value"], pxl.DATA_SHEET_HEADING)
        long_task = pxl.TASKS[-1]["text"]
        self.assertGreater(len(long_task), 250)
        self.assertEqual(data["cells"]["F8"]["value"], long_task[:250])
        self.assertEqual(data["cells"]["F9"]["value"], long_task[250:])
        self.assertNotIn("F10", data["cells"])
        self.assertEqual([data["cells"][at]["value"] for at in ("B5", "B6", "B7", "B8")], ["m.", "tt", "e.", "m."])

    def test_view_records(self):
        sheets = pxl.dump(read("panes.pxl"))["sheets"]
        self.assertEqual([(s["pane"]["rows"], s["pane"]["cols"], s["pane"]["applied"]) for s in sheets],
                         [(1, 2, True), (3, 0, True), (0, 1, True), (1, 1, False)])
        zoom = pxl.dump(read("zoom75.pxl"))
        self.assertEqual((zoom["active_sheet"], [s["zoom"] for s in zoom["sheets"]]), (1, [100, 75]))
        book = pxl.dump(read("all_records.pxl"))
        self.assertEqual(book["sheets"][0]["selection"], {"active": "B3", "range": "B2:B4"})
        self.assertEqual([s["visibility"] for s in book["sheets"]], [0, 0, 1])
        self.assertEqual([n["name"] for n in book["names"] if not n["builtin"]], ["Sales", "Rate", "Secret"])
        self.assertEqual([f["number"] for f in book["formats"]], [233, 234, 235, 236])

    def test_formula_cells_of_all_records(self):
        book = pxl.dump(read("all_records.pxl"))
        first, income = book["sheets"][0]["cells"], book["sheets"][1]["cells"]
        self.assertEqual(first["C7"]["formula"], '=IF(A5,"yes","no")')
        self.assertEqual(first["C7"]["result"], {"kind": "text", "value": "yes"})
        self.assertEqual(first["D7"]["formula"], "=-2.5^2+(SUM(Sales)/100)*B2%")
        self.assertEqual(first["B7"]["flags"], 1)
        self.assertEqual(income["A4"]["formula"], "=AND(Rate,ISBLANK('Hidden Sheet'!B1))")
        self.assertEqual(income["A6"]["formula"], "=SUM(Sheet1:Income!B2)")
        self.assertEqual(book["names"][0]["formula"], "=Sheet1!$B$2:$B$4")

    def test_dump_command(self):
        script = os.path.join(HERE, "pxl.py")
        messages = {"version1.pxl": "below 256", "not_bof.pxl": "not BOF", "unknown_record.pxl": "unknown record type 200",
                    "encrypted.pxl": "FILEPASS"}
        for name, words in messages.items():
            done = subprocess.run([sys.executable, script, "dump", os.path.join(FIXTURES, name)],
                                  capture_output=True, text=True)
            self.assertEqual(done.returncode, 1, name)
            self.assertTrue(done.stderr.startswith("error: ") and words in done.stderr, done.stderr)
        with tempfile.TemporaryDirectory() as folder:
            cut = os.path.join(folder, "cut.pxl")
            with open(cut, "wb") as f:
                f.write(read("minimal.pxl")[:-3])
            done = subprocess.run([sys.executable, script, "dump", cut], capture_output=True, text=True)
            self.assertEqual(done.returncode, 1)
            self.assertIn("error: truncated", done.stderr)
        done = subprocess.run([sys.executable, script, "dump", os.path.join(FIXTURES, "minimal.pxl")],
                              capture_output=True, text=True, check=True)
        self.assertEqual(json.loads(done.stdout)["sheets"][0]["cells"]["A1"]["value"], "Hello")


if __name__ == "__main__":
    unittest.main()
