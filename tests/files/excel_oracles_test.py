#!/usr/bin/env python3
"""Tests of the rules by which excel_oracles.py tells agreement from difference."""

# Runs with any python3 (standard library only); the oracle programs are not needed.

import contextlib
import io
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import excel_oracles as oracles  # noqa: E402


class FormulaRulesTest(unittest.TestCase):
    def test_same_formula_in_the_two_syntaxes(self):
        same = [
            ("=-A2^2+50%", "=(-A2)^2+50%", "Sheet1"),
            ("=Sheet2!A1", "=$Sheet2.A1", "Sheet1"),
            ("=B1+Sheet2!$A$1", "=B1+$Sheet2.$A$1", "Sheet1"),
            ("=Sum(Sheet1:Sheet3!A1)", "=SUM($Sheet1.A1:$Sheet3.A1)", "Sheet1"),
            ("=Sum(Sheet1:Sheet3!A1:A1)", "=SUM($Sheet1.A1:$Sheet3.A1)", "Sheet2"),
            ("=Average(A1:A5,10,Sheet2!A1:A3)", "=AVERAGE(A1:A5,10,$Sheet2.A1:A3)", "Sheet1"),
            ("=And(true,A1=1,Not(false))", "=AND(TRUE(),A1=1,NOT(FALSE()))", "Sheet1"),
            ("=Sum((A1:A2,A5))", "=SUM((A1:A2~A5))", "Sheet1"),
            ("='My Sheet'!A1&\"x\"", "=$'My Sheet'.A1&\"x\"", "Sheet1"),
            ("=!!NA", "=NA()", "Sheet1"),
            ("=!!Ref+1", "=#REF!+1", "Sheet1"),
            ("=Sheet1!A1", "=A1", "Sheet1"),
            ("=VLookup(5,A1:B20,2,0)", "=VLOOKUP(5, A1:B20, 2, 0)", "Sheet1"),
            ("=Rate*A10", "=RATE*A10", "Sheet1"),
        ]
        for kelp, other, sheet in same:
            self.assertTrue(oracles.formulas_agree(kelp, other, sheet), (kelp, other))

    def test_different_formulas_stay_different(self):
        different = [
            ("=1+2*3", "=(1+2)*3"),
            ("=1-2-3", "=1-(2-3)"),
            ("=2^3^2", "=2^(3^2)"),
            ("=2*3^2", "=(2*3)^2"),
            ("=A1=B1&C1", "=(A1=B1)&C1"),
            ("=-A1%", "=(-A1)%+0"),
            ("=-A2^2", "=-(A2^2)"),
            ("=Sum(A1:A2)", "=SUM(A1:A3)"),
            ("=$A$1", "=A1"),
            ("=A$1", "=$A1"),
            ("=Sheet2!A1", "=$Sheet3.A1"),
            ("=Sheet2!A1", "=A1"),
            ("=Sum(Sheet1:Sheet3!A1)", "=SUM($Sheet1.A1:$Sheet2.A1)"),
            ("=Sum(A1:A2,A5)", "=SUM((A1:A2~A5))"),
            ("=\"a\"&\"b\"", "=\"a\"&\"B\""),
            ("=!!Ref", "=NA()"),
            ("=If(A1,1,2)", "=IF(A1,2,1)"),
            ("=Sum(A1)", "=COUNT(A1)"),
            ("=1", "=--1"),
            ("=Not(false)", "=NOT(0)"),
        ]
        for kelp, other in different:
            self.assertFalse(oracles.formulas_agree(kelp, other, "Sheet1"), (kelp, other))

    def test_constants_that_libreoffice_holds_as_formulas(self):
        self.assertTrue(oracles.formulas_agree("true", "=TRUE()", "S"))
        self.assertTrue(oracles.formulas_agree("!!Div0", "=", "S"))
        self.assertTrue(oracles.formulas_agree("!!NA", "=NA()", "S"))
        self.assertFalse(oracles.formulas_agree("false", "=TRUE()", "S"))
        self.assertFalse(oracles.formulas_agree("!!Div0", "=NA()", "S"))
        # A formula that Kelp lost is a difference, whatever its value.
        self.assertFalse(oracles.formulas_agree("b", '=CHOOSE(2,"a","b")', "S"))
        self.assertFalse(oracles.formulas_agree("=A1", "5", "S"))


class DisplayRulesTest(unittest.TestCase):
    def test_general_numbers(self):
        agree = [
            ("1.234567890123e12", "1234567890123"),
            ("1.234567890123e12", "1.2346E+12"),
            ("-536870912", "-5.37E+08"),
            ("69.444444444444", "69.4444444444444"),
            ("69.444444444444", "69.44444444"),
            ("1e-6", "0.000001"),
            ("1e300", "1E+300"),
        ]
        for kelp, other in agree:
            self.assertTrue(oracles.general_agrees(kelp, other), (kelp, other))
        differ = [
            ("3", "3.14159"),  # Kelp would drop digits the other shows
            ("1", "1.4"),
            ("69.44", "69.4444444444444"),
            ("3.14158", "3.14159"),
            ("2", "3"),
            ("1.2347E+12", "1234567890123"),
            ("12", "1.2E+01x"),
        ]
        for kelp, other in differ:
            self.assertFalse(oracles.general_agrees(kelp, other), (kelp, other))

    def test_kinds_of_cells(self):
        agree = oracles.shown_agree
        self.assertTrue(agree("gnumeric", "!!Div0", "#DIV/0!", "error", True))
        self.assertFalse(agree("gnumeric", "!!Div0", "#N/A", "error", True))
        self.assertTrue(agree("libreoffice", "!!Num", "Err:502", "error", True))
        self.assertFalse(agree("gnumeric", "!!Num", "Err:502", "error", True))
        self.assertFalse(agree("libreoffice", "5", "Err:502", "number", True))
        self.assertTrue(agree("libreoffice", "true", "1", "boolean", True))
        self.assertFalse(agree("libreoffice", "true", "0", "boolean", True))
        self.assertTrue(agree("gnumeric", "false", "FALSE", "boolean", True))
        self.assertTrue(agree("gnumeric", "-12.5%", "\u221212.5%", "number", False))
        self.assertFalse(agree("gnumeric", "-12.5%", "\u221212.5%", "text", False))
        self.assertFalse(agree("libreoffice", "-12.5%", "\u221212.5%", "number", False))
        self.assertTrue(agree("gnumeric", "1,234.50", " \u200a  1,234.50 ", "number", False))
        self.assertTrue(agree("gnumeric", "(1,234.50)", " \u200a\u200a(1,234.50)", "number", False))
        self.assertFalse(agree("gnumeric", " padded ", "padded", "text", True))
        # Under a format other than General the texts must be the same.
        self.assertFalse(agree("libreoffice", "123456789", "1.23E+08", "number", False))
        self.assertTrue(agree("libreoffice", "123456789", "1.23E+08", "number", True))


class ValueRulesTest(unittest.TestCase):
    def test_kelp_raw_texts(self):
        self.assertEqual(oracles.kelp_raw_value("2/29/24"), ("date", 45351.0))
        self.assertEqual(oracles.kelp_raw_value("3/1/1900"), ("date", 61.0))
        self.assertEqual(oracles.kelp_raw_value("12/31/99"), ("date", 36525.0))
        self.assertEqual(oracles.kelp_raw_value("1/1/00"), ("date", 36526.0))
        kind, value = oracles.kelp_raw_value("7/14/24 13:45:00")
        self.assertEqual(kind, "date")
        self.assertAlmostEqual(value, 45487.572916666664, places=9)
        kind, value = oracles.kelp_raw_value("13:45:30")
        self.assertAlmostEqual(value, 0.5732638888888889, places=12)
        self.assertEqual(oracles.kelp_raw_value("1.5e-300"), ("number", 1.5e-300))
        self.assertEqual(oracles.kelp_raw_value("!!Val"), ("error", "#VALUE!"))
        self.assertEqual(oracles.kelp_raw_value("true"), ("boolean", True))
        self.assertEqual(oracles.kelp_raw_value("2/30/24"), ("text", "2/30/24"))
        self.assertEqual(oracles.kelp_raw_value("Hello"), ("text", "Hello"))

    def test_recalculated_values(self):
        agree = oracles.raw_values_agree
        self.assertTrue(agree("3.14159", "3.1415899999999998826", 0, "number"))
        self.assertFalse(agree("3.14158", "3.1415899999999998826", 0, "number"))
        self.assertTrue(agree("2/29/24", "45351", 0, "date"))
        self.assertFalse(agree("2/28/24", "45351", 0, "date"))
        # A 1904 file's date cell is 1462 days less than Kelp's serial; a number is not moved.
        self.assertTrue(agree("2/29/24", "43889", 1, "date"))
        self.assertTrue(agree("2/28/20", "43889", 1, "number"))
        self.assertTrue(agree("", "", 0, "blank"))
        self.assertFalse(agree("", "0", 0, "number"))
        self.assertTrue(agree("!!Div0", "#DIV/0!", 0, "error"))
        self.assertFalse(agree("00123", "123", 0, "text"))


class KelpOutputTest(unittest.TestCase):
    def test_rows_with_line_breaks(self):
        text = "a\tb\nc\tline one\nline two\nd\te\n"
        self.assertEqual(oracles.split_cat(text, 3, 2, [0, 1, 0]),
                         [["a", "b"], ["c", "line one\nline two"], ["d", "e"]])
        # Where the break is in a row's first cell, the hint from the file decides.
        text = "a\tb\nfirst\nsecond\tc\n"
        self.assertEqual(oracles.split_cat(text, 2, 2, [0, 1]), [["a", "b"], ["first\nsecond", "c"]])
        text = "a\tb\nc\n\td\n"
        self.assertEqual(oracles.split_cat(text, 2, 2, [1, 0]), [["a", "b\nc"], ["", "d"]])
        self.assertEqual(oracles.split_cat(text, 2, 2, [0, 1]), [["a", "b"], ["c\n", "d"]])
        self.assertIsNone(oracles.split_cat("a\tb\tc\n", 1, 2, [0]))
        self.assertEqual(oracles.split_cat("", 0, 0, []), [])

    def test_round_trip_reports_changed_lines(self):
        def book(info, cats):
            b = oracles.KelpBook()
            b.info = info
            b.sheets = [{"name": "S", "hidden": False, "rows": 2, "cols": 2}]
            b.cat = cats
            return b
        cats = {("S", "shown"): "a\tZürich 😀\n1\t2\n", ("S", "formulas"): "a\tZürich 😀\n1\t=A2+1\n",
                ("S", "raw"): "a\tZürich 😀\n1\t2\n"}
        source = book("type: Kelp\nsheets: 1\n  S (active): A1:B2\n", cats)
        same = book("type: Excel 97\nsheets: 1\n  S (active): A1:B2\n", dict(cats))
        report = oracles.Report()
        with contextlib.redirect_stdout(io.StringIO()):
            oracles.compare_round_trip(report, "f", source, same, 7, 1252)
        self.assertEqual(report.lines, [])

        # In an Excel 95 file of code page 1252 the emoji can only come back as "?".
        excel95 = {key: text.replace("😀", "?") for key, text in cats.items()}
        excel95[("S", "formulas")] = "a\tZürich ?\n1\t2\n"
        out = book("type: Excel 95\nsheets: 1\n  S (active): A1:B2\n", excel95)
        with contextlib.redirect_stdout(io.StringIO()):
            oracles.compare_round_trip(report, "f", source, out, 6, 1252)
        self.assertEqual(report.counts, {("round-trip", "cat formulas"): 1})
        self.assertIn('S line 2: kelp "1\\t=A2+1" | round-trip "1\\t2"', report.lines[0])

        report = oracles.Report()
        with contextlib.redirect_stdout(io.StringIO()):
            oracles.compare_round_trip(report, "f", source, out, 7, 1252)
        self.assertEqual(report.counts[("round-trip", "info")], 1)  # the type line
        self.assertEqual(report.counts[("round-trip", "cat shown")], 1)

    def test_excel95_fields_are_compared_cut_to_255_characters(self):
        line = "short\t" + "x" * 300 + "\t" + "y" * 255
        self.assertEqual(oracles.cut_fields(line + "\n" + line),
                         "\n".join(["short\t" + "x" * 255 + "\t" + "y" * 255] * 2))

    def test_explained_differences_match_their_fragments_in_order(self):
        line = 'a.xls as type 7: xlrd: Cells!I7: kelp "" | xlrd "0.0"  [value]'
        self.assertTrue(oracles.matches(line, ['Cells!I7: kelp ""', '"0']))
        self.assertFalse(oracles.matches(line, ['"0', 'Cells!I7']))
        self.assertFalse(oracles.matches(line, ['Cells!I8']))

    def test_long_texts_are_cut_at_their_difference(self):
        a = "x" * 500 + "A" + "y" * 100
        b = "x" * 500 + "B" + "y" * 100
        left, right = oracles.clip(a, b)
        self.assertEqual(left, '(601 characters, from 480) "%s"' % ("x" * 20 + "A" + "y" * 39))
        self.assertEqual(right, '(601 characters, from 480) "%s"' % ("x" * 20 + "B" + "y" * 39))


if __name__ == "__main__":
    unittest.main()
