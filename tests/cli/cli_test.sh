#!/usr/bin/env bash
# Runs kelpcli as a user would and compares what it prints.
set -u
kelpcli="$1"
failures=0
passes=0

# expect NAME EXPECTED-OUTPUT EXPECTED-STATUS -- ARGS...
expect() {
  local name="$1" expected="$2" status="$3"
  shift 4
  local actual rc
  actual=$("$kelpcli" "$@" 2>/dev/null)
  rc=$?
  check "$name" "$expected" "$status" "$actual" "$rc"
}

# expect_line NAME LINE EXPECTED-OUTPUT -- ARGS...: only line LINE of the output counts.
expect_line() {
  local name="$1" line="$2" expected="$3"
  shift 4
  local actual rc
  actual=$("$kelpcli" "$@" 2>/dev/null)
  rc=$?
  check "$name" "$expected" 0 "$(printf '%s\n' "$actual" | sed -n "${line}p")" "$rc"
}

# expect_error NAME CODE -- ARGS...: fails with status 1 and "error CODE" on stderr, in
# less than a minute.
expect_error() {
  local name="$1" code="$2"
  shift 3
  local message rc
  message=$(timeout 60 "$kelpcli" "$@" 2>&1 >/dev/null)
  rc=$?
  if [[ $rc == 1 && "$message" == *"error $code:"* ]]; then
    passes=$((passes + 1))
  else
    echo "FAIL $name: status $rc (wanted 1), message: $message"
    failures=$((failures + 1))
  fi
}

# expect_same NAME FILE COPY: FILE still holds COPY's bytes.
expect_same() {
  if cmp -s "$2" "$3"; then
    passes=$((passes + 1))
  else
    echo "FAIL $1: $2 was changed"
    failures=$((failures + 1))
  fi
}

check() {
  local name="$1" expected="$2" status="$3" actual="$4" rc="$5"
  if [[ "$actual" != "$expected" || "$rc" != "$status" ]]; then
    echo "FAIL $name: status $rc (wanted $status)"
    diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") | sed 's/^/    /'
    failures=$((failures + 1))
  else
    passes=$((passes + 1))
  fi
}

expect "operators and precedence" $'4\n64\n2\n!!Div0\n7' 0 -- \
  eval "=-2^2" "=2^3^2" "=10/5" "=1/0" "=1+2*3"
expect "a date needs a separator after the second number" $'2\n1/2/05' 0 -- eval "=10/5" "=1/2/05"
expect "cells on other sheets" $'12\n10' 0 -- \
  eval --set A1=5 --set A2=7 --set Sheet2!B3==Sheet1!A1*2 "=Sum(A1:A2)" --at Sheet1!C1 "=Sheet2!B3"
expect "compile errors keep the other lines" $'error 1: Unexpected end of formula at 2\n3\nerror 29: Unknown name: Nope at 0' 1 -- \
  eval "=1+" "=1+2" "=Nope(1)"
expect "two bangs without a word are two tokens" $'error 4: Unexpected token at 0\nerror 4: Unexpected token at 0\nerror 2: Unexpected character at 0' 1 -- \
  eval "=!!" "=!!+1" "=!!Div0"
expect "True() and False() are functions" $'true\nfalse\ntrue' 0 -- eval "=True()" "=False()" "=Not(false)"
expect "a moment the display cannot show stays text" $'12/31/9999 23:59\n12/31/99' 0 -- \
  eval "12/31/9999 23:59" "12/31/9999"
expect "dates before the epoch show with their time" $'12/29/99\n12/29/99 6:00:00' 0 -- \
  eval --set A1=12/29/1899 --set "A2=12/29/1899 6:00" --at Sheet1!B1 "=A1" "=A2"
expect "entries typed as a user would" $'0.5\ntrue\nhello\n-5' 0 -- eval "50%" "TRUE" "'hello" "-5"
expect "values in a range count differently from values given directly" $'1\n7\n1\n1\n3\n3\n1\n1' 0 -- \
  eval --set A1=1 --set A2=TRUE --set "A3='5" "=Sum(Sheet1!A1:A3)" '=Sum(1,TRUE,"5")' "=Count(Sheet1!A1:A3)" \
  '=Count(1,TRUE,"5")' "=CountA(Sheet1!A1:A3)" '=CountA(1,TRUE,"5")' "=AverageA(Sheet1!A1:A2)" '=Average(1,TRUE,"5")'
expect "standard input, one entry per line" $'2\n6' 0 -- eval - <<< $'=1+1\n=2*3'
expect "plain references read the sheet --set fills" '10' 0 -- eval --set A1=5 "=A1*2"
expect "a financial, a date and a text function" $'-1073.6432460243\n6\n1St Place\n1,234,567.9' 0 -- \
  eval "=Pmt(0.05/12,360,200000)" '=Weekday(Date(2005,1,1),2)' '=Proper("1st place")' '=Fixed(1234567.891,1)'
expect "lookups and conditional sums over typed cells" $'5\n3\n\'Data\'!C2\n8\n!!Ref\n12' 0 -- \
  eval --set A1=apple --set A2=banana --set A3=cherry --set B1=3 --set B2=5 --set B3=7 \
  '=VLookup("b*",A1:B3,2,FALSE)' '=Match("cherry",A1:A3,0)' '=Address(2,3,4,TRUE,"Data")' \
  '=Sum(Indirect("B1:B"&Match("banana",A1:A3,0)))' '=Offset(A1,-1,0)' '=Sumif(B1:B3,">4")'
expect "locale with a decimal comma" $'2,5\n1,5' 0 -- eval --locale de_DE "=1,5+1" "1,5"
expect "number format 4 shows currency" $'$1,234.50\n($1,234.50)' 0 -- eval --format 4 "1234.5" "-1234.5"
expect "unknown locale is a usage error" "" 2 -- eval --locale xx_YY "1"
expect "a bad cell name is a usage error" "" 2 -- eval --at ZZ99 "1"
# Typing an entry recalculates exactly once: a formula that reads itself moves one step,
# and a sum that holds its own cell counts it once.
expect "a circular formula is evaluated once" "1" 0 -- eval --at Sheet1!J10 "=J10+1"
expect "a sum over its own cell counts it once" "6" 0 -- \
  eval --set Sheet1!A1=1 --set Sheet1!A2=2 --at Sheet1!A3 "=Sum(A1:A3)+3"
expect "eval without entries is a usage error" "" 2 -- eval

# File commands work in a scratch folder.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
expect "set makes a new workbook" "" 0 -- set "$work/a.kp" A1=Item B1=Price A2=Apple B2=1.5 A3=Pear B3=2.25 \
  A4=Total "B4==Sum(B2:B3)" "C2=50%" "C3=1/15/26"
expect "cat shows display texts under each format" \
  $'Item\tPrice\t\nApple\t1.5\t50.00%\nPear\t2.25\t1/15/26\nTotal\t3.75\t' 0 -- cat "$work/a.kp"
expect_line "cat --formulas" 4 $'Total\t=Sum(B2:B3)\t' -- cat "$work/a.kp" --formulas --sheet 1
expect "set dates that two-digit years would move" "" 0 -- set "$work/d.kp" A1=1/1/1905 "A2==1/1/1925+0" \
  "A3=12/31/9999 23:59" A4=1/1/2005
expect "cat --raw writes years that read back" $'1/1/1905\n1/1/1925\n12/31/9999 23:59\n1/1/05' 0 -- cat "$work/d.kp" --raw
expect "cat --formulas too" $'1/1/05\n=1/1/1925+0\n12/31/9999 23:59\n1/1/05' 0 -- cat "$work/d.kp" --formulas
expect "the same under day-month-year" $'1.1.1905\n=1.1.1925+0\n12/31/9999 23:59\n1.1.05' 0 -- cat "$work/d.kp" --raw --formulas --locale de_DE
expect "set on an existing file recalculates" "" 0 -- set "$work/a.kp" B2=10
expect_line "the total follows" 4 $'Total\t12.25\t' -- cat "$work/a.kp" --raw --sheet Sheet1
expect "set reads entries as people type them" "" 0 -- set "$work/typed.kp" "A1=1,234.50" 'B1=$1,234.50' "C1=(50)" \
  D1=2026-03-15 E1=15-Mar-26 "F1==Sum(A1:C1)" "G1='1,234"
expect "cat shows each in the format it suggests" $'1,234.50\t$1,234.50\t-50\t3/15/26\t15-Mar-26\t2419\t1,234' 0 -- \
  cat "$work/typed.kp"
expect "an unknown name says which" 'error 29: Unknown name: Foo at 2' 1 -- eval "=1+Foo"
expect "set -o leaves the original" "" 0 -- set "$work/a.kp" B3=1 -o "$work/b.kp"
expect "eval --book reads the workbook" $'11\n!!Val\n22' 0 -- eval --book "$work/b.kp" --at Sheet1!D9 "=B4" "=B2*A1" "=B4*2"
expect "convert to the native format" "" 0 -- convert "$work/a.kp" "$work/c.kp"
expect "info" $'type: Kelp\nsheets: 3\n  Sheet1 (active): A1:C4\n  Sheet2: empty\n  Sheet3: empty\nvalues: 10\nformulas: 1\nnames: 0\ntasks: 0' 0 -- info "$work/c.kp"
expect "a missing file fails" "" 1 -- cat "$work/missing.kp"
# 100 terms of 1e9 show as 1000000000 each: too long for formula text.
long="=1e9$(printf '+1e9%.0s' $(seq 99))"
expect "set a formula too long to show" "" 0 -- set "$work/long.kp" A1=x "B1=$long" C1=y
expect "cat --formulas shows why a formula cannot be shown" $'x\tFormula is too complex\ty' 1 -- \
  cat "$work/long.kp" --formulas
message=$("$kelpcli" cat "$work/long.kp" --formulas 2>&1 >/dev/null)
check "the reason goes to stderr too" "kelpcli: Sheet1!B1: error 22: Formula is too complex" 1 "$message" $?
# 6,600 terms compile to more than a file keeps: refused when typed, the cell as it was.
huge="=1$(printf '+1%.0s' $(seq 6600))"
expect "a cell to type over" "" 0 -- set "$work/huge.kp" A1=kept
cp "$work/huge.kp" "$work/huge-before.kp"
expect_error "a formula too long to store" 22 -- set "$work/huge.kp" "A1=$huge"
expect_same "nothing is saved" "$work/huge.kp" "$work/huge-before.kp"
expect "an entry beside it still goes in" "" 1 -- set "$work/huge.kp" "A1=$huge" B1=new
expect "and the refused cell keeps its text" $'kept\tnew' 0 -- cat "$work/huge.kp"
# dBase tables both ways: the active sheet as a list, and back as an untitled one-sheet book.
expect "a list to export" "" 0 -- set "$work/t.kp" A1=Item B1=Price C1=Due D1=Ok A2=Äpfel B2=1.5 C2=1/15/26 \
  D2=TRUE A3=Pear B3=-1234.125 D3=FALSE
expect "convert to a dBase table" "" 0 -- convert "$work/t.kp" "$work/t.dbf"
expect "the table reads back" $'ITEM\tPRICE\tDUE\tOK\nÄpfel\t1.5\t1/15/26\ttrue\nPear\t-1234.125\t\tfalse' 0 -- \
  cat "$work/t.dbf" --raw
expect_line "info names a table's own type" 1 "type: dBase" -- info "$work/t.dbf"
expect "convert a table to Kelp" "" 0 -- convert "$work/t.dbf" "$work/from-dbf.kp"
expect_line "the converted table" 3 $'Pear\t-1234.125\t\tfalse' -- cat "$work/from-dbf.kp" --raw
expect "a long heading" "" 0 -- set "$work/long-heading.kp" "A1=Quantity ordered" A2=3
message=$("$kelpcli" convert "$work/long-heading.kp" "$work/long-heading.dbf" 2>&1 >/dev/null)
check "a cut field name is a notice on stderr" \
  "kelpcli: $work/long-heading.dbf: Some headings cannot be dBase field names, so the fields were named: A as QUANTITY_O" \
  0 "$message" $?
# The sample's merged title heads column A only; every column of its list is a field still.
sample="$(dirname "$0")/../../examples/sample.kp"
message=$("$kelpcli" convert "$sample" "$work/sample.dbf" 2>&1 >/dev/null)
check "a merged title costs no column, and the made-up names and the sheets left out are named" \
  "kelpcli: $work/sample.dbf: Some headings cannot be dBase field names, so the fields were named: A as HOUSEHOLD_, B as B, C as C, D as D, E as E
kelpcli: $work/sample.dbf: A file of this type holds one sheet. Saved: Budget. Left out: Income, Notes" 0 "$message" $?
expect_line "the amounts are in the table" 3 $'Rent\t$950.00\t$950.00\t$950.00\t$2,850.00' -- cat "$work/sample.dbf"
printf 'not a table' > "$work/junk.dbf"
expect_error "a damaged table" 13 -- cat "$work/junk.dbf"
# Text files: UTF-16LE with its mark by default, UTF-8 and another separator on request.
expect "set a sheet for the text files" "" 0 -- set "$work/text.kp" A1=Item B1=Price A2=Apple B2=1.5 C2=50% \
  A3=Pear C3=1/15/26 "B4==Sum(B2:B3)" 'A5=say "hi", 日本'
expect "convert to CSV" "" 0 -- convert "$work/text.kp" "$work/t.csv"
expect_line "info names a CSV's own type" 1 "type: CSV" -- info "$work/t.csv"
check "CSV starts with the UTF-16LE mark" "fffe4900" 0 "$(head -c 4 "$work/t.csv" | od -An -tx1 | tr -d ' \n')" 0
expect "a CSV reads back" $'Item\tPrice\t\nApple\t1.5\t50.00%\nPear\t\t1/15/26\n\t1.5\t\nsay "hi", 日本\t\t' 0 -- cat "$work/t.csv"
expect "convert to UTF-8 CSV with semicolons" "" 0 -- convert "$work/text.kp" "$work/t8.csv" --encoding utf-8 --separator ';'
check "UTF-8 CSV as written" $'Item;Price\r\nApple;1.5;50.00%\r\nPear;;1/15/26\r\n;1.5\r\n"say ""hi"", 日本"\r' 0 \
  "$(cat "$work/t8.csv")" 0
expect "--separator reads it back" "" 0 -- convert "$work/t8.csv" "$work/t8.kp" --separator ';'
expect_line "a percentage is a value again" 2 $'Apple\t1.5\t0.5' -- cat "$work/t8.kp" --raw
printf '"a\tb","two\nlines",c:\\d\r\n' > "$work/esc.csv"
expect "cat escapes tabs, line breaks and backslashes" $'a\\tb\ttwo\\nlines\tc:\\\\d' 0 -- cat "$work/esc.csv"
expect "convert to tab-delimited UTF-8 text" "" 0 -- convert "$work/text.kp" "$work/t.txt" --encoding UTF-8
expect "tab-delimited text back to CSV" "" 0 -- convert "$work/t.txt" "$work/t2.csv" --encoding utf-8
check "the CSV made from text" "$(tr ';' ',' < "$work/t8.csv")" 0 "$(cat "$work/t2.csv")" 0
# One sheet goes into a text file: the others are named on stderr, and --sheet chooses it.
message=$("$kelpcli" convert "$sample" "$work/sample.csv" 2>&1 >/dev/null)
check "the sheets a CSV leaves out are named" \
  "kelpcli: $work/sample.csv: A file of this type holds one sheet. Saved: Budget. Left out: Income, Notes" 0 "$message" $?
message=$("$kelpcli" convert "$sample" "$work/income.txt" --sheet Income 2>&1 >/dev/null)
check "--sheet NAME chooses the sheet" \
  "kelpcli: $work/income.txt: A file of this type holds one sheet. Saved: Income. Left out: Budget, Notes" 0 "$message" $?
expect_line "and it is the one written" 4 $'Net income\t$2,720.00' -- cat "$work/income.txt"
expect "--sheet N counts from 1" "" 0 -- convert "$sample" "$work/notes.csv" --sheet 3
check "the third sheet" "$("$kelpcli" cat "$sample" --sheet Notes)" 0 "$("$kelpcli" cat "$work/notes.csv")" 0
expect "--sheet names a sheet there is" "" 1 -- convert "$sample" "$work/none.csv" --sheet 4
expect "--sheet is only for one-sheet types" "" 2 -- convert "$sample" "$work/none.kp" --sheet 2
expect "--separator refuses a quote" "" 2 -- convert "$work/text.kp" "$work/x.csv" --separator '"'
expect "--encoding refuses an unknown name" "" 2 -- convert "$work/text.kp" "$work/x.csv" --encoding latin1
# set keeps a text file's encoding and separator; what an import had to cut is told on
# stderr and the command still succeeds; an .xls larger than any workbook is refused unread.
printf 'Name,Qty\r\ncaf\xc3\xa9,5\r\n' > "$work/keep.csv"
expect "set on a UTF-8 CSV" "" 0 -- set "$work/keep.csv" B2=7
check "it stays UTF-8 with its commas" $'Name,Qty\r\ncafé,7\r' 0 "$(cat "$work/keep.csv")" 0
{ head -c 1200 /dev/zero | tr '\0' w; printf ',x\n'; } > "$work/long.csv"
message=$("$kelpcli" cat "$work/long.csv" 2>&1 >/dev/null)
check "a cut field is told" \
  "kelpcli: $work/long.csv: Fields longer than 1,000 characters were cut, the first in A1." 0 "$message" $?
truncate -s 3G "$work/huge.xls"
expect_error "an .xls larger than any workbook" 13 -- info "$work/huge.xls"
mv "$work/huge.xls" "$work/huge.pxl"
expect_error "a .pxl too" 13 -- info "$work/huge.pxl"
rm -f "$work/huge.pxl"
# Pocket Excel both ways: values, formulas and formats come back from a .pxl copy.
expect "convert to Pocket Excel" "" 0 -- convert "$work/a.kp" "$work/a.pxl"
expect_line "info of a Pocket Excel file" 1 "type: Pocket Excel" -- info "$work/a.pxl"
expect "convert from Pocket Excel to Kelp" "" 0 -- convert "$work/a.pxl" "$work/from-pxl.kp"
check "the values under their formats come back" "$("$kelpcli" cat "$work/a.kp")" 0 "$("$kelpcli" cat "$work/from-pxl.kp")" 0
check "and the formulas" "$("$kelpcli" cat "$work/a.kp" --formulas)" 0 "$("$kelpcli" cat "$work/from-pxl.kp" --formulas)" 0
expect_line "cat reads the .pxl itself" 4 $'Total\t=Sum(B2:B3)\t' -- cat "$work/a.pxl" --formulas
# A cell whose tokens call a task (patched into the formula 1+2) makes the file unreadable,
# so that no run of a harmless task text can start the workbook's tasks through it.
"$kelpcli" set "$work/calls.kp" "A1==1+2" >/dev/null
perl -0777 -pe 's/\x01\x00{6}\xf0\x3f\x01\x00{7}\x40\x05\x00/\x28\x00\x00\x01\x00{6}\xf0\x3f\x04\x01\x00\x09\x09\x09\x09\x00/' \
  "$work/calls.kp" > "$work/evil.kp"
check "the patch found the formula" 1 0 "$(cmp -s "$work/calls.kp" "$work/evil.kp"; echo $?)" 0
expect_error "a stored task call is refused on opening" 13 -- run "$work/evil.kp" 'Sel(B5)'
printf '\x09\xff\x00\x05\x00\x0a' > "$work/first-release.pxl"
message=$("$kelpcli" cat "$work/first-release.pxl" 2>&1 >/dev/null)
check "a first-release Pocket Excel file is refused" \
  "kelpcli: $work/first-release.pxl: error 46: File open error: Kelp can't open files in PXL 1.0 format." 1 "$message" $?
# Excel 95 and 97 files open; a formula Kelp cannot translate keeps its result, with a notice.
excel="$(dirname "$0")/../files/data/excel"
expect_line "cat of an Excel 95 file" 2 $'decimals\t3.14159\t12.34\t-0.5\t0.1\t1e300\t1.5e-300\t-98765.4321\t1e-6' -- \
  cat "$excel/gnm_cells_biff5.xls"
expect_line "info of an Excel 97 file" 1 "type: Excel 97" -- info "$excel/lo_styles_biff8.xls"
message=$("$kelpcli" eval --book "$excel/lo_formulas_biff8.xls" "=Sum(Sheet1!A1:A20)" 2>&1 >/dev/null)
check "an untranslated formula is a notice on stderr" "kelpcli: $excel/lo_formulas_biff8.xls: Not supported formula" 0 "$message" $?
expect "convert from Excel to Kelp" "" 0 -- convert "$excel/lo_formulas_biff8.xls" "$work/from-excel.kp"
expect_line "the converted workbook computes" 5 $'5\t=A5*2\t=Choose(2,"a","b","c")\t=B5+Sheet2!$A$1\tCHOOSE' -- cat "$work/from-excel.kp" --formulas
printf 'plain text' > "$work/text.xls"
expect_error "a text file named .xls" 40 -- cat "$work/text.xls"
printf 'not a workbook' > "$work/junk.kp"
expect "a foreign file fails" "" 1 -- cat "$work/junk.kp"
expect_line "cat of the sample" 10 $'Total\t$1,665.80\t$1,620.20\t$1,681.74\t$4,967.74' -- \
  cat "$(dirname "$0")/../../examples/sample.kp"
# A damaged file is refused, and nothing is saved over it. The seventh record of the
# sample, at byte 104, is a string of 12 bytes; it is made a byte longer, so that the
# rest of the file is read out of step.
# patch FILE OFFSET EXPECTED AT BYTE WHAT: writes BYTE (a printf escape) at byte AT
# once the bytes from OFFSET still read EXPECTED (od's decimal form), else fails as WHAT.
patch() {
  local file=$1 offset=$2 expected=$3 at=$4 byte=$5 what=$6
  local count
  count=$(wc -w <<< "$expected")
  if [[ "$(od -An -tu1 -j"$offset" -N"$count" "$file" | tr -s ' ')" != " $expected" ]]; then
    echo "FAIL $what"
    failures=$((failures + 1))
  fi
  printf "$byte" | dd of="$file" bs=1 seek="$at" conv=notrunc 2>/dev/null
}
sample="$(dirname "$0")/../../examples/sample.kp"
cp "$sample" "$work/damaged.kp"
patch "$work/damaged.kp" 104 "4 0 12 0" 106 '\x0d' "the sample's seventh record is no longer a 12-byte string"
cp "$work/damaged.kp" "$work/damaged.orig"
expect_error "info of a damaged file" 13 -- info "$work/damaged.kp"
expect_error "set on a damaged file" 13 -- set "$work/damaged.kp" Z99=1
expect_same "set leaves a damaged file" "$work/damaged.kp" "$work/damaged.orig"
expect_error "convert of a damaged file onto itself" 13 -- convert "$work/damaged.kp" "$work/damaged.kp"
expect_same "convert leaves a damaged file" "$work/damaged.kp" "$work/damaged.orig"
# A formula whose call is patched to a command function (SetCell, row 207) is refused
# as the file is read, so opening it cannot change a cell. At byte 60 its tokens end
# the number 7, then come unary minus and the call of row 0 (Abs) with one argument.
expect "set a formula that calls a function" "" 0 -- set "$work/call.kp" "A1==Abs(-7)"
patch "$work/call.kp" 60 "64 10 2 0 0 1 0" 63 '\xcf' "the formula's tokens are no longer at byte 60"
cp "$work/call.kp" "$work/call.orig"
expect_error "cat of a file that calls a command" 13 -- cat "$work/call.kp"
expect_error "info of a file that calls a command" 13 -- info "$work/call.kp"
expect_error "set on a file that calls a command" 13 -- set "$work/call.kp" B1=1
expect_same "the file that calls a command is left alone" "$work/call.kp" "$work/call.orig"
mkdir "$work/folder.kp"
expect_error "set on a folder" 11 -- set "$work/folder.kp" A1=1
[[ -d "$work/folder.kp" ]] && passes=$((passes + 1)) || { echo "FAIL the folder was replaced"; failures=$((failures + 1)); }
# A file nobody may write is not replaced, even for root, whom the system would let.
cp "$work/a.kp" "$work/readonly.kp"
chmod 0444 "$work/readonly.kp"
expect_error "set on a read-only file" 10 -- set "$work/readonly.kp" A1=changed
expect_same "set leaves a read-only file" "$work/readonly.kp" "$work/a.kp"
expect_line "the read-only file keeps its text" 1 $'Item\tPrice\t' -- cat "$work/readonly.kp"
# Texts up to what a file holds are taken; longer ones are refused, not cut.
longest=$(printf '%32764s' '' | tr ' ' 'k')
expect "the longest text is stored" "" 0 -- set "$work/longest.kp" "A1=$longest"
expect "and read back whole" "$longest" 0 -- cat "$work/longest.kp"
expect_error "a text one character longer" 57 -- set "$work/longest.kp" "A1=${longest}k"
expect "the stored text stays" "$longest" 0 -- cat "$work/longest.kp"
# --new-password protects the saved file, and an empty one takes the protection off.
expect "convert with a new password" "" 0 -- convert "$work/a.kp" "$work/locked.kp" --new-password Secret
expect_error "a protected file without its password" 38 -- cat "$work/locked.kp"
expect_line "opens with it" 1 $'Item\tPrice\t' -- cat "$work/locked.kp" --password Secret
expect "set takes the password off" "" 0 -- set "$work/locked.kp" --password Secret B1=Cost --new-password ""
expect_line "and it opens without one" 1 $'Item\tCost\t' -- cat "$work/locked.kp"
expect "set puts one on" "" 0 -- set "$work/locked.kp" B1=Sum --new-password Other
expect_error "the old password no longer opens it" 45 -- cat "$work/locked.kp" --password Secret
expect "a new password of 20 characters is a usage error" "" 2 -- \
  set "$work/locked.kp" A1=1 --new-password 12345678901234567890

# A file the window holds open (its lock held here by flock) reads as last saved; only
# writers are refused, with the share violation.
cp "$work/a.kp" "$work/held.kp"
cp "$work/held.kp" "$work/held.orig"
exec 8<"$work/held.kp"
flock -x 8
expect_line "cat reads a held file" 1 $'Item\tPrice\t' -- cat "$work/held.kp"
expect_line "info too" 3 "  Sheet1 (active): A1:C4" -- info "$work/held.kp"
expect "eval --book too" "12.25" 0 -- eval --book "$work/held.kp" "=Sheet1!B4"
expect "convert reads it" "" 0 -- convert "$work/held.kp" "$work/from-held.csv"
expect "a workbook beside it" "" 0 -- set "$work/refers.kp" A9=0
expect "references read it" "" 0 -- set "$work/refers.kp" "A1==[held.kp]Sheet1!B4"
expect_line "with its value" 1 "12.25" -- cat "$work/refers.kp"
expect_error "set is refused" 47 -- set "$work/held.kp" A1=x
expect_error "convert onto it is refused" 47 -- convert "$work/a.kp" "$work/held.kp"
expect_same "the held file is unchanged" "$work/held.kp" "$work/held.orig"
# A reader holds nothing: a writer goes on while another kelpcli reads.
exec 8<&-
fifo="$work/entries"
mkfifo "$fifo"
"$kelpcli" eval --book "$work/held.kp" - < "$fifo" > "$work/held.out" 2>&1 &
reader=$!
exec 8>"$fifo"
printf '=1+1\n' >&8
for _ in $(seq 50); do [[ -s "$work/held.out" ]] && break; sleep 0.1; done
expect "a file another kelpcli reads can be written" "" 0 -- set "$work/held.kp" A1=x
exec 8>&-
wait "$reader"
check "while the reader went on" "2" 0 "$(cat "$work/held.out")" 0

# A pipe is no document: nothing waits for a writer, and no pipe is replaced by a file.
mkfifo "$work/pipe.csv" "$work/pipe.kp"
expect_error "cat of a pipe" 11 -- cat "$work/pipe.csv"
expect_error "set on a pipe" 11 -- set "$work/pipe.kp" A1=1
expect_error "convert from a pipe" 11 -- convert "$work/pipe.kp" "$work/from-pipe.kp"
expect_error "convert onto a pipe" 10 -- convert "$work/a.kp" "$work/pipe.csv"
expect_error "set -o onto a pipe" 10 -- set "$work/a.kp" A1=1 -o "$work/pipe.kp"
[[ -p "$work/pipe.csv" && -p "$work/pipe.kp" && ! -e "$work/from-pipe.kp" ]] && passes=$((passes + 1)) ||
  { echo "FAIL a pipe was replaced"; failures=$((failures + 1)); }
# A file in a folder nobody may write is not replaced, and the message says why.
mkdir "$work/shut"
cp "$work/a.kp" "$work/shut/a.kp"
chmod 0555 "$work/shut"
message=$("$kelpcli" set "$work/shut/a.kp" A1=changed 2>&1)
check "set in a folder nobody may write" \
  "kelpcli: $work/shut/a.kp: error 10: File creation error: the folder $work/shut is not writable, and a save writes its new file there before it replaces the old one" \
  1 "$message" $?
chmod 0755 "$work/shut"
expect_same "the file in it is unchanged" "$work/shut/a.kp" "$work/a.kp"
# A name that is no UTF-8 (Latin-1 e acute) is saved over as the very same bytes.
mkdir "$work/latin"
cp "$work/a.kp" "$work/latin/caf"$'\xe9'".kp"
printf 'x,y\n' > "$work/latin/caf"$'\xe9'".csv"
expect "set on a Latin-1 name" "" 0 -- set "$work/latin/caf"$'\xe9'".kp" A1=latin
expect "convert it in place" "" 0 -- convert "$work/latin/caf"$'\xe9'".kp" "$work/latin/caf"$'\xe9'".kp"
expect "set on a Latin-1 text file" "" 0 -- set "$work/latin/caf"$'\xe9'".csv" A1=z
check "the folder holds the same two names" $'caf\xe9.csv\ncaf\xe9.kp' 0 "$(LC_ALL=C ls -A "$work/latin")" 0
expect_line "with the new contents" 1 $'latin\tPrice\t' -- cat "$work/latin/caf"$'\xe9'".kp"

# run: task texts on a workbook.
book="$work/tasks.kp"
expect "run creates a new workbook and prints MsgBox texts" "Sum: 10" 0 -- \
  run "$book" 'total = 0 for i = 1 to 4 total = total + i end MsgBox("Sum: " & total)'
expect_line "the new workbook was saved" 2 "sheets: 3" -- info "$book"
expect "cells for the tasks" "" 0 -- set "$book" A1=5 B2==A1*3 Sheet2!A1=7
cp "$book" "$work/tasks.copy"
expect "a task reads cells and formulas of the active sheet" $'5\n15\nhi' 0 -- \
  run "$book" 'MsgBox(A1)' 'if B2 > 10 then MsgBox(B2) end' 'MsgBox("hi")'
expect_same "a run that changes nothing saves nothing" "$book" "$work/tasks.copy"
expect "a compile error runs no text at all" 'error 20: ")" missing at 11' 1 -- \
  run "$book" 'MsgBox("first")' 'x = (A1 + 1'
expect_same "and leaves the file as it was" "$book" "$work/tasks.copy"
expect "a task from standard input" "10" 0 -- run "$book" - <<< 'MsgBox(A1 * 2)'
printf "' one more than A1\nnext = A1 + 1\r\nMsgBox(next) ' shown\n" > "$work/next.task"
expect "a task from a file, with comments and line breaks" "6" 0 -- run "$book" "@$work/next.task"
expect "a task file that is not there" "" 1 -- run "$book" "@$work/missing.task"
expect "--sheet by name" "7" 0 -- run "$book" 'MsgBox(A1)' --sheet Sheet2
expect "--sheet by number" "7" 0 -- run "$book" --sheet 2 'MsgBox(A1)'
expect "--sheet that is not there" "" 1 -- run "$book" --sheet 9 'MsgBox(A1)'
expect "--select that names no cells" "" 2 -- run "$book" --select B2:ZZ9 'MsgBox(1)'
expect "a task text is needed" "" 2 -- run "$book"
expect_same "after all of which the file is unchanged" "$book" "$work/tasks.copy"
expect "-o saves a copy" "" 0 -- run "$book" 'x = 1' -o "$work/plain.kp"
expect "--select is kept in the copy" "" 0 -- run "$book" 'x = 1' --select C3:D9 -o "$work/selected.kp"
if cmp -s "$work/plain.kp" "$work/selected.kp"; then
  echo "FAIL --select left no trace in the saved selection"
  failures=$((failures + 1))
else
  passes=$((passes + 1))
fi
expect_line "the copy holds the cells" 1 $'5\t' -- cat "$work/selected.kp"

# Whole rows and columns inserted and deleted by a task, the formulas following their cells.
moved="$work/moved.kp"
expect "cells for inserting rows" "" 0 -- set "$moved" A1=1 A2=2 A3=3 'B1==SUM(A1:A3)' C1==A3
expect "InsertCells(false) inserts as many rows as the selection spans" "" 0 -- \
  run "$moved" --select B2:B4 'InsertCells(false)'
expect "the rows moved down three and the formulas with them" $'1\t=Sum(A1:A6)\t=A6\n\t\t\n\t\t\n\t\t\n2\t\t\n3\t\t' 0 -- \
  cat "$moved" --formulas
expect "DeleteCells(true) deletes the selected column" "" 0 -- run "$moved" --select A1 'DeleteCells(true)'
expect "a formula reading a deleted cell shows !!Ref" $'=Sum(!!Ref)\t=!!Ref' 0 -- cat "$moved" --formulas
expect_line "and its value is !!Ref" 1 $'!!Ref\t!!Ref' -- cat "$moved"

# Formulas on another sheet follow the rows and columns of the sheet they read.
across="$work/across.kp"
expect "cells on two sheets" "" 0 -- set "$across" A5=5 B5=6 'Sheet2!A1==Sheet1!A5+Sheet1!B5' \
  'Sheet2!A2==SUM(Sheet1!A1:B9)' 'Sheet2!A3==Sheet1!A2'
expect "two rows inserted above the block" "" 0 -- run "$across" --select A2:A3 'InsertCells(false)'
expect "the other sheet reads the moved cells" $'=Sheet1!A7+Sheet1!B7\n=Sum(Sheet1!A1:B11)\n=Sheet1!A4' 0 -- \
  cat "$across" --sheet Sheet2 --formulas
expect "a column deleted from the block" "" 0 -- run "$across" --select A1 'DeleteCells(true)'
expect "references into the column are lost, the area shrinks" $'!!Ref\n6\n!!Ref' 0 -- cat "$across" --sheet Sheet2
expect "the rows deleted again" "" 0 -- run "$across" --select A2:A3 'DeleteCells(false)'
expect "everything reads as before the insertion, less the column" $'=!!Ref+Sheet1!A5\n=Sum(Sheet1!A1:A9)\n=!!Ref' 0 -- \
  cat "$across" --sheet Sheet2 --formulas

# A series by month from the last day of January keeps to the ends of the months.
months="$work/months.kp"
expect "a date and a number to start from" "" 0 -- set "$months" A1=1/31/2024 B1=1
expect "fill a series by month" "" 0 -- fill "$months" A1:A6 series --by month
expect "each month ends where it ends" $'1/31/24\t1\n2/29/24\t\n3/31/24\t\n4/30/24\t\n5/31/24\t\n6/30/24\t' 0 -- cat "$months"
expect "a series with a step and a stop value" "" 0 -- fill "$months" B1:B9 series --step 4 --stop 9 -o "$work/steps.kp"
expect_line "stops at the last value within the stop" 3 $'3/31/24\t9' -- cat "$work/steps.kp"
expect_line "and fills nothing past it" 4 $'4/30/24\t' -- cat "$work/steps.kp"
expect "fill refuses an unknown mode" "" 2 -- fill "$months" A1:A3 sideways

message=$("$kelpcli" run "$book" 'MsgBox("before") YesNoBox("Sure?") MsgBox("after")' 2>&1 >"$work/run.out")
status=$?
if [[ $status == 1 && "$(cat "$work/run.out")" == "before" && "$message" == *"YesNoBox: error 59: This function needs the Kelp window"* ]]; then
  passes=$((passes + 1))
else
  echo "FAIL a window-only function stops the task: status $status, out $(cat "$work/run.out"), message: $message"
  failures=$((failures + 1))
fi
for call in 'InputBox("x")' 'ListBox("a", A1:A2)' 'Chart()' 'PlaySound()' 'Beep()' 'RunApp("true")' 'FileBox("x")'; do
  message=$("$kelpcli" run "$book" "$call" 2>&1 >/dev/null)
  status=$?
  if [[ $status == 1 && "$message" == *"error 59"* ]]; then
    passes=$((passes + 1))
  else
    echo "FAIL $call needs the window: status $status, message: $message"
    failures=$((failures + 1))
  fi
done
expect_same "a failed task saves nothing" "$book" "$work/tasks.copy"

# Task functions change cells as typing would; a later failure keeps the earlier ones out.
filled="$work/filled.kp"
expect "a loop fills A1:A100 and a Sum in the same run sees it" "5050" 0 -- \
  run "$filled" 'for i = 1 to 100 Set(CellRef(1, i), i) end' 'MsgBox(Sum(A1:A100))'
expect "the filled column is saved" "5050" 0 -- eval --book "$filled" '=Sum(Sheet1!A1:A100)'
cp "$filled" "$work/filled.copy"
expect "a failing task after Set saves nothing" "" 1 -- \
  run "$filled" 'Set(A1, 1000)' 'Beep()'
expect_same "so the file keeps its first value" "$filled" "$work/filled.copy"
expect "Set keeps a cell's task" "" 0 -- run "$filled" 'Set(B1, "Go#Task:MsgBox(1)")' 'Set(B1, 7)'
expect_line "the stored text is the value and the task" 1 $'1\t7#Task:MsgBox(1)' -- cat "$filled" --formulas
expect_line "the cell shows its text alone" 1 $'1\t7' -- cat "$filled"
expect "a copy saved by a task keeps the workbook's own name" "" 0 -- \
  run "$filled" "Save(\"$work/saved-copy.kp\")"
expect "the copy opens" "5050" 0 -- eval --book "$work/saved-copy.kp" '=Sum(Sheet1!A1:A100)'

# Ctrl+C stops an endless task between statements; nothing is saved.
"$kelpcli" run "$book" 'MsgBox("going") k = 0 while 1 do k = k + 1 end' -o "$work/never.kp" \
  > "$work/spin.out" 2> "$work/spin.err" &
spinner=$!
for _ in $(seq 100); do [[ -s "$work/spin.out" ]] && break; sleep 0.1; done
kill -INT "$spinner"
stopped=0
for _ in $(seq 100); do kill -0 "$spinner" 2>/dev/null || { stopped=1; break; }; sleep 0.1; done
if [[ $stopped == 0 ]]; then kill -KILL "$spinner"; fi
wait "$spinner"
status=$?
if [[ $stopped == 1 && $status == 130 && ! -e "$work/never.kp" && "$(cat "$work/spin.err")" == *"interrupted"* ]]; then
  passes=$((passes + 1))
else
  echo "FAIL Ctrl+C stops a task: stopped $stopped, status $status, $(cat "$work/spin.err")"
  failures=$((failures + 1))
fi
expect_same "an interrupted run saves nothing" "$book" "$work/tasks.copy"

# ----- Sort: a task sorts the selection by three keys under a header row.
sorted="$work/sorted.kp"
expect "cells for sorting" "" 0 -- set "$sorted" A1=Dept B1=Name C1=Age A2=b B2=x C2=30 A3=a B3=y C3=25 \
  A4=b B4=w C4=30 A5=a B5=z C5=40 A6=b B6=v C6=20 A7=a B7=y C7=22 D1==C1 D2==C2*2
expect "Sort by department, age from the oldest, then name, under a header" "" 0 -- \
  run "$sorted" --select A1:D7 'Sort(1, true, 3, false, 2, true, true)'
expect "the rows are sorted, the header stays, formulas follow their rows" \
  $'Dept\tName\tAge\tAge\na\tz\t40\t\na\ty\t25\t\na\ty\t22\t\nb\tw\t30\t\nb\tx\t30\t60\nb\tv\t20\t' 0 -- \
  cat "$sorted"
cp "$sorted" "$work/sorted.copy"
expect "a key outside the selection gives !!Val" "true" 0 -- run "$sorted" --select A1:C7 'MsgBox(IsError(Sort(300)))'
expect_same "and changes nothing" "$sorted" "$work/sorted.copy"
expect "sortRows sorts the columns by a key row" "" 0 -- \
  run "$sorted" --select B2:C3 'Sort(1, true, 0, true, 0, true, false, false, true)' -o "$work/sorted-columns.kp"
expect_line "the columns changed places" 2 $'a\t40\tz\t' -- cat "$work/sorted-columns.kp"
# ----- end of Sort

# ----- AutoFilter. The fixture is a table filtered by "Amount > 10" and "Kind = x"; rows
# 2, 3 and 5 are hidden, and E1 sums the amounts.
filtered="$work/filtered.kp"
cp "$(dirname "$0")/../edit/data/filtered.kp" "$filtered"
expect "the filter hides the rows its criteria rule out" $'true\ntrue\nfalse' 0 -- \
  run "$filtered" 'Sel(A2) MsgBox(RowHide())' 'Sel(A3) MsgBox(RowHide())' 'Sel(A4) MsgBox(RowHide())'
expect "Sum still adds the rows the filter hides" $'37\n37' 0 -- run "$filtered" 'MsgBox(Sum(B2:B6))' 'MsgBox(E1)'
expect "a filtered workbook converts to .kp" "" 0 -- convert "$filtered" "$work/filtered-copy.kp"
expect_same "and keeps its bytes, the filter's among them" "$filtered" "$work/filtered-copy.kp"
expect "an .xls copy keeps the hidden rows" "" 0 -- convert "$filtered" "$work/filtered.xls"
expect "and the sum of all rows" $'true\n37' 0 -- run "$work/filtered.xls" 'Sel(A3) MsgBox(RowHide())' 'MsgBox(E1)'
expect "a task's change saves the workbook" "" 0 -- run "$filtered" 'Set(D1, "seen")'
expect "the saved filter turns off and shows its rows" $'true\nfalse\nfalse' 0 -- \
  run "$filtered" 'Sel(A3) MsgBox(RowHide())' 'Filter(false)' 'Sel(A2) MsgBox(RowHide())' 'Sel(A3) MsgBox(RowHide())'
expect "Filter(true) on one cell takes the table around it; off shows every row of it" $'false\ntrue' 0 -- \
  run "$filtered" 'Sel(A3) RowHide(true) Sel(A9) RowHide(true)' 'Sel(B2) Filter(true)' 'Filter(false)' \
  'Sel(A3) MsgBox(RowHide())' 'Sel(A9) MsgBox(RowHide())'
expect "Filter(true) without data around gives an error value" "true" 0 -- \
  run "$work/no-data.kp" --select C3 'MsgBox(IsError(Filter(true)))'

# ----- Data validation: an entry a rule refuses is not stored, and the file is not rewritten.
rules="$work/rules.xls"
cp "$(dirname "$0")/../edit/data/lo_validation_biff8.xls" "$rules"
message=$("$kelpcli" set "$rules" A3=11 2>&1 >/dev/null)
status=$?
if [[ $status == 1 && "$message" == *"A3=11: refused by data validation: Quantity: Whole numbers from 1 to 10 only"* ]]; then
  passes=$((passes + 1))
else
  echo "FAIL a stop rule refuses set: status $status, message: $message"
  failures=$((failures + 1))
fi
expect_same "the refused entry leaves the file byte for byte" "$rules" "$(dirname "$0")/../edit/data/lo_validation_biff8.xls"
expect "a warning rule refuses too, with nobody to confirm" "" 1 -- set "$rules" B3=Kiwi
expect_same "and changes nothing" "$rules" "$(dirname "$0")/../edit/data/lo_validation_biff8.xls"
# A custom rule reads the row of the cell typed into: C3 must exceed A3, which is 7.
ruled="$work/rules.kp"
expect "rules survive a conversion" "" 0 -- convert "$rules" "$ruled"
expect "C3 above A3 is taken" "" 0 -- set "$ruled" C3=8 A4=10
expect "C3 at or below A3 is not" "" 1 -- set "$ruled" C3=5
expect_line "so C3 keeps 8" 3 $'7\t\t8\t\tPear' -- cat "$ruled"
expect "a rule whose alert is off takes anything" "" 0 -- set "$ruled" D3=-4
expect "ClearValidation() takes the rules off the selection" "" 0 -- run "$ruled" --select C2:C4 'ClearValidation()'
expect "after which C3 takes any value" "" 0 -- set "$ruled" C3=5
expect_line "the row as typed" 3 $'7\t\t5\t-4\tPear' -- cat "$ruled"
expect "the quantity rule stays" "" 1 -- set "$ruled" A2=0.5

# ----- Clipboard: Copy and Paste from tasks, the formulas shifting with the block.
clipped="$work/clipped.kp"
expect "cells to copy" "" 0 -- set "$clipped" A1=1 B1=2 A2==A1+B1 'B2==$A$1*10'
expect "a block copied and pasted by two tasks" "" 0 -- run "$clipped" --select A1:B2 'Copy()' 'Sel(D5) Paste()'
expect_line "relative references shift, absolute ones stay" 6 $'\t\t\t=D5+E5\t=$A$1*10' -- cat "$clipped" --formulas
expect_line "and the values are pasted" 5 $'\t\t\t1\t2' -- cat "$clipped"
expect "only results come as values" "" 0 -- run "$clipped" --select A1:B2 'Copy() Sel(G1) Paste(true, true, true, false, true)'
expect_line "the copied formulas are numbers now" 2 $'=A1+B1\t=$A$1*10\t\t\t\t\t3\t10' -- cat "$clipped" --formulas
expect "a paste past the sheet's edge changes nothing" "true" 0 -- \
  run "$clipped" --select A1:B2 'Copy() Sel(IV1) MsgBox(IsError(Paste()))'

# ----- Formulas that read other workbook files, found from the referring file's folder.
ext="$work/ext"
mkdir -p "$ext/data"
cp "$(dirname "$0")/../files/data/external/ext97.xls" "$ext/data/prices.xls"
expect "a workbook for others to read" "" 0 -- set "$ext/data/source.kp" A1=5 B1=hello C1==A1*2
expect "the reading workbook, first empty" "" 0 -- set "$ext/ref.kp" A9=0
expect "formulas reading the other files" "" 0 -- set "$ext/ref.kp" 'A1==[data/source.kp]Sheet1!A1+1' \
  'B1==[data/source.kp]Sheet1!B1' 'C1==Sum([data/source.kp]Sheet1!A1:C9)' "D1=='data/[prices.xls]Prices'!B1"
cp "$ext/data/source.kp" "$work/source-copy.kp"
expect_line "cat shows the values read from them" 1 $'6\thello\t15\tshared text' -- cat "$ext/ref.kp" --links
expect_line "and the references, a folder before the brackets" 1 $'=\'data/[source.kp]Sheet1\'!A1+1\t=\'data/[source.kp]Sheet1\'!B1\t=Sum(\'data/[source.kp]Sheet1\'!A1:C9)\t=\'data/[prices.xls]Prices\'!B1' -- \
  cat "$ext/ref.kp" --formulas
expect "eval --book reads them from the book's folder" $'10\n42.5\nerror 11: File open error at 0\nerror 25: Sheet name expected at 0' 1 -- \
  eval --book "$ext/ref.kp" '=[data/source.kp]Sheet1!C1' "='data/[prices.xls]Prices'!A1" '=[nothere.kp]Sheet1!A1' \
  '=[data/source.kp]Nosheet!A1' --links
expect_same "the other file is only read" "$ext/data/source.kp" "$work/source-copy.kp"
# Without --links nothing else is read: the cells keep what the file holds, stderr says so.
expect "a new value in the other file" "" 0 -- set "$ext/data/source.kp" A1=500
message=$("$kelpcli" convert "$ext/ref.kp" "$work/reply.kp" 2>&1 >/dev/null)
check "convert without --links names the first reference" \
  "kelpcli: $ext/ref.kp: Sheet1!A1 ='data/[source.kp]Sheet1'!A1+1 reads another file; formulas that read other files keep the values this file holds (--links reads them)" \
  0 "$message" $?
expect_line "and the reply carries the old values only" 1 $'6\thello\t15\tshared text' -- cat "$work/reply.kp"
expect_line "--links reads the new one" 1 $'501\thello\t1500\tshared text' -- cat "$ext/ref.kp" --links
expect "the other file as it was" "" 0 -- set "$ext/data/source.kp" A1=5
mv "$ext/data/source.kp" "$ext/data/moved.kp"
expect_line "a file that is gone reads as !!NA" 1 $'!!NA\t!!NA\t!!NA\tshared text' -- cat "$ext/ref.kp" --links
expect "and nothing fails" $'!!NA\n1' 0 -- eval --book "$ext/ref.kp" --at Sheet1!E1 '=A1' '=1' --links

# Every task function that changes the workbook makes run save it; the selection comes first.
base="$work/changes.kp"
expect "cells for the changing tasks" "" 0 -- set "$base" A1=3 A2=1 A3=2 B1==A1*3 C1=x
changing=(
  'A1|InsertSheet("Extra")' 'A1|DeleteSheet("Sheet3")' 'A1|Zoom(150)' 'B2|FreezeTitles(true)'
  'A1|Set(D1, 9)' 'D4|CellTask("go", "MsgBox(1)")' 'A2|RowHide(true)' 'B1|ColHide(true)'
  'A1|RowHeight(600)' 'A1|ColWidth(5000)' 'A2|InsertCells(false)' 'A2|DeleteCells(true)' 'C1|Clear()'
  'A1:A3|Sort(1)' 'A1:A3|Copy() Sel(E1:E3) Paste()' 'A1:C3|Filter(true)' 'A1|GoalSeek(B1, 30, A1)'
)
for entry in "${changing[@]}"; do
  cp "$base" "$work/changed.kp"
  "$kelpcli" run "$work/changed.kp" --select "${entry%%|*}" "${entry#*|}" > /dev/null 2>&1
  rc=$?
  if [[ $rc == 0 ]] && ! cmp -s "$base" "$work/changed.kp"; then
    passes=$((passes + 1))
  else
    echo "FAIL ${entry#*|} under run: status $rc, the file was not saved with the change"
    failures=$((failures + 1))
  fi
done

# A cycle is evaluated once, as it stands, and told on stderr; the run still succeeds.
message=$("$kelpcli" eval --set A1==A1+1 "=A1" 2>&1 >"$work/cycle.out")
status=$?
if [[ $status == 0 && "$(cat "$work/cycle.out")" == "2" && "$message" == "kelpcli: Circular reference in A1" ]]; then
  passes=$((passes + 1))
else
  echo "FAIL a circular reference: status $status, output $(cat "$work/cycle.out"), message: $message"
  failures=$((failures + 1))
fi
message=$("$kelpcli" eval --set A1==B1+1 "=A1" 2>&1 >/dev/null)
check "no cycle, no notice" "" 0 "$message" 0

# Charts: a PNG of the size asked for; the cell a chart was saved to draws the same one.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{print $3*256+$4 "x" $7*256+$8}'; }
"$kelpcli" chart "$sample" A3:D9 Line Legend "Title:Household budget" -o "$work/budget.png"
check "chart draws 480x360 by default" "480x360" 0 "$(png_size "$work/budget.png")" $?
"$kelpcli" chart "$sample" A3:D9 --size 240x320 -o "$work/small.png"
check "chart --size" "240x320" 0 "$(png_size "$work/small.png")" $?
expect "chart --size needs WxH" "" 2 -- chart "$sample" A3:D9 --size 10 -o "$work/bad.png"
expect "chart needs -o" "" 2 -- chart "$sample" A3:D9
expect_error "a single cell outside any chart" 37 -- chart "$sample" B4 -o "$work/one.png"
expect_error "more than 10000 cells" 36 -- chart "$sample" A1:CV101 -o "$work/large.png"
"$kelpcli" set "$sample" 'G3=Chart#Task:Chart("Title:Jan to Mar","Pie")' -o "$work/saved.kp" > /dev/null 2>&1
"$kelpcli" chart "$work/saved.kp" --cell G3 A3:D9 -o "$work/saved.png"
"$kelpcli" chart "$sample" A3:D9 Pie "Title:Jan to Mar" -o "$work/direct.png"
expect_same "a saved chart cell draws its chart" "$work/saved.png" "$work/direct.png"
expect "a cell without a chart" "" 1 -- chart "$sample" --cell A1 A3:D9 -o "$work/none.png"

echo "$passes passed, $failures failed"
[[ $failures -eq 0 ]]
