#!/usr/bin/python3
"""Writes desktop_reference.tsv: formulas of the functions desktop workbooks commonly
hold (Choose, Text, Search, Datedif, Vdb, the working days, the *Ifs ...) on ordinary and
edge cases, with the values Gnumeric gives, for DesktopFunctionsTest.

Run: /usr/bin/python3 tests/functions/data/make_desktop_reference.py > tests/functions/data/desktop_reference.tsv

The cases go into a CSV with the data block below in A1:D6 and one formula a row in
column F; `ssconvert --recalc cases.csv out.csv` (Gnumeric, run as a black box)
computes them. Datedif's units are written in lower case, the only case Gnumeric
reads (Kelp reads either). Cases where Kelp follows Excel rather than Gnumeric are left
out: Ispmt of period 0 and an unknown Weeknum type (#NUM! in Excel). A number case is wrapped in N() for the oracle so that a date result comes
back as its serial. Made on 8 December 2026 with Gnumeric 1.12.55.
"""
import csv
import os
import subprocess
import sys
import tempfile

# The data block the formulas read; the test puts the same cells in its sheet.
# Column A: numbers, a text and a blank; B: labels; C: even numbers; D: holidays.
DATA = [
    ["1", "x", "2", "45292"],
    ["2", "y", "4", "45306"],
    ["3", "x", "6", "45306"],
    ["x", "y", "8", ""],
    ["", "x", "10", ""],
    ["10", "z", "12", ""],
]

# Cases where Kelp gives Excel's documented result rather than Gnumeric's: the value
# printed is Excel's, with Gnumeric's in a comment line above it.
EXCEL = {
    "=Db(1000000,100000,6,7)": ("!!Num", "a0"),  # a period past the life
    "=Ispmt(0.1,1,0,100)": ("!!Div0", "a0"),
    "=Networkdays(Date(2024,1,31),Date(2024,1,1))": ("-23.0", "r1e-9"),  # negative when reversed
}

# (kind, formula): kind n compares numbers (within 1e-9 relative), t texts exactly.
CASES = [
    ("t", '=Choose(2,"a","b","c")'),
    ("n", "=Choose(1.9,10,20)"),
    ("n", "=Choose(0,10,20)"),
    ("n", "=Choose(3,10,20)"),
    ("n", "=Choose(2,1/0,7)"),
    ("n", "=Sum(Choose(2,A1:A3,C1:C3))"),
    ("t", '=Text(1234.567,"#,##0.00")'),
    ("t", '=Text(0.256,"0.0%")'),
    ("t", '=Text(-3.5,"0")'),
    ("t", '=Text("abc","0.00")'),
    ("t", '=Text(Date(2024,3,9),"yyyy-mm-dd")'),
    ("t", "=Dollar(1234.567)"),
    ("t", "=Dollar(-1234.567,1)"),
    ("t", "=Dollar(1250,-2)"),
    ("n", '=Search("b","ABCB")'),
    ("n", '=Search("b","ABCB",3)'),
    ("n", '=Search("c?e","abcdefg")'),
    ("n", '=Search("*d","abcdefg")'),
    ("n", '=Search("~*","a*b")'),
    ("n", '=Search("z","abc")'),
    ("n", '=Search("a","abc",0)'),
    ("n", '=Search("a","abc",4)'),
    ("n", "=Days360(Date(2024,1,31),Date(2024,3,31))"),
    ("n", "=Days360(Date(2024,1,30),Date(2024,3,31))"),
    ("n", "=Days360(Date(2024,1,15),Date(2024,3,31))"),
    ("n", "=Days360(Date(2024,2,29),Date(2024,3,31))"),
    ("n", "=Days360(Date(2024,1,31),Date(2024,3,31),TRUE)"),
    ("n", "=Days360(Date(2024,3,31),Date(2024,1,1))"),
    ("n", '=Datedif(Date(2020,1,15),Date(2024,3,10),"y")'),
    ("n", '=Datedif(Date(2020,1,15),Date(2024,3,10),"m")'),
    ("n", '=Datedif(Date(2020,1,15),Date(2024,3,10),"d")'),
    ("n", '=Datedif(Date(2020,1,15),Date(2024,3,10),"ym")'),
    ("n", '=Datedif(Date(2020,1,15),Date(2024,3,10),"md")'),
    ("n", '=Datedif(Date(2020,1,15),Date(2024,3,10),"yd")'),
    ("n", '=Datedif(Date(2024,3,10),Date(2020,1,15),"d")'),
    ("n", '=Datedif(Date(2020,1,15),Date(2024,3,10),"q")'),
    ("t", "=Roman(1999)"),
    ("t", "=Roman(3999)"),
    ("t", "=Roman(0)"),
    ("n", "=Roman(4000)"),
    ("n", "=Roman(-1)"),
    ("n", "=Vdb(2400,300,10,0,1)"),
    ("n", "=Vdb(2400,300,10,0,0.875)"),
    ("n", "=Vdb(2400,300,10,6,10)"),
    ("n", "=Vdb(2400,300,10,6,10,1.5)"),
    ("n", "=Vdb(2400,300,10,6,10,2,TRUE)"),
    ("n", "=Vdb(2400,300,10,0,10)"),
    ("n", "=Vdb(2400,300,10,3,2)"),
    ("n", "=Db(1000000,100000,6,1,7)"),
    ("n", "=Db(1000000,100000,6,2,7)"),
    ("n", "=Db(1000000,100000,6,7,7)"),
    ("n", "=Db(1000000,100000,6,6)"),
    ("n", "=Db(1000000,100000,6,7)"),
    ("n", "=Db(0,0,6,1)"),
    ("n", "=ErrorType(1/0)"),
    ("n", "=ErrorType(NA())"),
    ("n", "=ErrorType(Sqrt(-1))"),
    ("n", '=ErrorType("a"+1)'),
    ("n", "=ErrorType(5)"),
    ("n", "=Quartile(C1:C6,0)"),
    ("n", "=Quartile(C1:C6,1)"),
    ("n", "=Quartile(C1:C6,3)"),
    ("n", "=Quartile(A1:A6,2)"),
    ("n", "=Quartile(C1:C6,5)"),
    ("n", "=Quartile(B1:B6,1)"),
    ("n", "=Ttest(A1:A3,C1:C3,2,1)"),
    ("n", "=Ttest(A1:A3,C1:C6,1,2)"),
    ("n", "=Ttest(A1:A3,C1:C6,2,3)"),
    ("n", "=Ttest(A1:A3,C1:C6,2,1)"),
    ("n", "=Ttest(A1:A3,C1:C3,3,1)"),
    ("n", "=Ispmt(0.1,1,3,8000000)"),
    ("n", "=Ispmt(0.1,1,0,100)"),
    ("n", "=Edate(Date(2024,1,31),1)"),
    ("n", "=Edate(Date(2024,3,31),-13)"),
    ("n", "=Edate(Date(2024,1,15),0.9)"),
    ("n", "=Eomonth(Date(2024,1,15),1)"),
    ("n", "=Eomonth(Date(2024,1,15),-2)"),
    ("n", "=Eomonth(Date(2023,12,31),14)"),
    ("n", "=Networkdays(Date(2024,1,1),Date(2024,1,31))"),
    ("n", "=Networkdays(Date(2024,1,31),Date(2024,1,1))"),
    ("n", "=Networkdays(Date(2024,1,1),Date(2024,1,31),D1:D3)"),
    ("n", "=Networkdays(Date(2024,1,6),Date(2024,1,7))"),
    ("n", "=Workday(Date(2024,1,5),1)"),
    ("n", "=Workday(Date(2024,1,8),-1)"),
    ("n", "=Workday(Date(2023,12,29),10,D1:D3)"),
    ("n", "=Workday(Date(2024,1,6),0)"),
    ("n", "=Weeknum(Date(2024,3,9))"),
    ("n", "=Weeknum(Date(2024,3,9),2)"),
    ("n", "=Weeknum(Date(2023,1,1))"),
    ("n", "=Weeknum(Date(2023,1,1),2)"),
    ("n", "=Weeknum(Date(2024,12,31))"),
    ("n", "=Yearfrac(Date(2024,1,1),Date(2024,7,1))"),
    ("n", "=Yearfrac(Date(2024,1,1),Date(2024,7,1),1)"),
    ("n", "=Yearfrac(Date(2023,6,1),Date(2024,3,1),1)"),
    ("n", "=Yearfrac(Date(2021,6,1),Date(2024,3,1),1)"),
    ("n", "=Yearfrac(Date(2024,1,1),Date(2024,7,1),2)"),
    ("n", "=Yearfrac(Date(2024,1,1),Date(2024,7,1),3)"),
    ("n", "=Yearfrac(Date(2024,1,31),Date(2024,7,31),4)"),
    ("n", "=Yearfrac(Date(2024,2,29),Date(2025,2,28),0)"),
    ("n", "=Yearfrac(Date(2024,7,1),Date(2024,1,1))"),
    ("n", "=Yearfrac(Date(2024,1,1),Date(2024,7,1),5)"),
    ("n", "=Mround(10,3)"),
    ("n", "=Mround(-10,-3)"),
    ("n", "=Mround(1.5,0.5)"),
    ("n", "=Mround(5,-2)"),
    ("n", "=Mround(5,0)"),
    ("n", "=Mround(7.5,5)"),
    ("n", "=Gcd(12,18)"),
    ("n", "=Gcd(12.7,18)"),
    ("n", "=Gcd(C1:C6)"),
    ("n", "=Gcd(0,4)"),
    ("n", "=Gcd(-4,2)"),
    ("n", "=Lcm(4,6)"),
    ("n", "=Lcm(C1:C6)"),
    ("n", "=Lcm(1,5)"),
    ("n", "=Lcm(-4,2)"),
    ("n", "=Quotient(7,2)"),
    ("n", "=Quotient(-7,2)"),
    ("n", "=Quotient(7,0)"),
    ("t", '=IfError(1/0,"z")'),
    ("n", "=IfError(5,7)"),
    ("n", "=IfError(NA(),A1)"),
    ("n", '=IfError("a"+1,Sum(C1:C6))'),
    ("n", '=CountIfs(B1:B6,"x")'),
    ("n", '=CountIfs(B1:B6,"x",A1:A6,">1")'),
    ("n", '=CountIfs(A1:A6,"")'),
    ("n", '=CountIfs(A1:A6,"<>x",C1:C6,">=6")'),
    ("n", '=CountIfs(B1:B6,"x",A1:A5,">1")'),
    ("n", '=CountIfs(B1:B6,"?")'),
    ("n", '=SumIfs(C1:C6,B1:B6,"x")'),
    ("n", '=SumIfs(C1:C6,B1:B6,"x",A1:A6,"<3")'),
    ("n", '=SumIfs(A1:A6,B1:B6,"<>x")'),
    ("n", '=SumIfs(C1:C6,B1:B6,"nothing")'),
    ("n", '=SumIfs(C1:C5,B1:B6,"x")'),
    ("n", '=AverageIf(B1:B6,"x",C1:C6)'),
    ("n", '=AverageIf(C1:C6,">5")'),
    ("n", '=AverageIf(B1:B6,"nothing",C1:C6)'),
    ("n", '=AverageIf(B1:B6,"y",A1:A6)'),
    ("n", '=AverageIfs(C1:C6,B1:B6,"x",A1:A6,">=2")'),
    ("n", '=AverageIfs(C1:C6,B1:B6,"q")'),
]

ERRORS = {"#DIV/0!": "!!Div0", "#VALUE!": "!!Val", "#NUM!": "!!Num", "#N/A": "!!NA",
          "#NAME?": "!!Name", "#REF!": "!!Ref", "#NULL!": "!!Null"}


def oracle(formula, kind):
    formula = formula.replace("ErrorType(", "ERROR.TYPE(")  # Gnumeric's name of it
    return "=N(" + formula[1:] + ")" if kind == "n" else formula


def main():
    with tempfile.TemporaryDirectory() as folder:
        cases = os.path.join(folder, "cases.csv")
        out = os.path.join(folder, "out.csv")
        with open(cases, "w", newline="") as f:
            w = csv.writer(f, quoting=csv.QUOTE_ALL)
            for row in range(len(CASES)):
                data = DATA[row] if row < len(DATA) else ["", "", "", ""]
                w.writerow(data + ["", oracle(CASES[row][1], CASES[row][0])])
        subprocess.run(["ssconvert", "--recalc", cases, out], check=True, capture_output=True)
        with open(out, newline="") as f:
            values = [row[5] if len(row) > 5 else "" for row in csv.reader(f)]
    print("# Reference values of the functions desktop workbooks hold: formula, expected value,")
    print("# tolerance (r: relative, t: the text exactly). Values from Gnumeric 1.12.55, by:")
    print("#   /usr/bin/python3 tests/functions/data/make_desktop_reference.py > tests/functions/data/desktop_reference.tsv")
    print("# The formulas read A1:D6 = " + "; ".join(",".join(r) for r in DATA))
    for (kind, formula), value in zip(CASES, values):
        if formula in EXCEL:
            print(f"# Gnumeric gives {value} for the next; Kelp follows Excel")
            print(f"{formula}\t{EXCEL[formula][0]}\t{EXCEL[formula][1]}")
        elif value in ERRORS:
            print(f"{formula}\t{ERRORS[value]}\ta0")
        elif kind == "t":
            print(f"{formula}\t{value}\tt")
        else:
            print(f"{formula}\t{float(value)!r}\tr1e-9")


if __name__ == "__main__":
    main()
