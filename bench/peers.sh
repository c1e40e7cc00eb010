#!/bin/bash
# Times whole `kelpcli convert` processes beside Gnumeric's ssconvert (and LibreOffice headless
# for the first conversion, when it is installed) on the same inputs, alternating the programs,
# RUNS runs each after one untimed warm-up, and prints the medians, the peak resident memory
# from /usr/bin/time -v and the ratios. Not run by CI: the figures depend on the machine.
# Usage: bench/peers.sh [KELPCLI]   (default build/bench/cli/kelpcli; RUNS=5 in the environment)
set -euo pipefail
# EPOCHREALTIME takes the locale's decimal mark; the measuring below wants a point.
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
kelpcli=${1:-$here/../build/bench/cli/kelpcli}
runs=${RUNS:-5}

if ! command -v ssconvert >/dev/null 2>&1; then
  echo "peers.sh: skipped, ssconvert (Gnumeric) is not installed; apt-get install gnumeric to compare"
  exit 0
fi
if [ ! -x /usr/bin/time ]; then
  echo "peers.sh: skipped, /usr/bin/time is missing (apt-get install time); it gives the peak memory"
  exit 0
fi
if [ ! -x "$kelpcli" ]; then
  echo "peers.sh: no kelpcli at $kelpcli; build it in Release first (make bench)" >&2
  exit 1
fi
office=$(command -v soffice || command -v libreoffice || true)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The inputs: the LibreOffice workbook (made again only when missing, which needs LibreOffice),
# a CSV of 65,000 rows, and the .xls Kelp writes from that CSV.
xls=$here/data/bench_20000x5.xls
if [ ! -f "$xls" ]; then
  [ -n "$office" ] || { echo "peers.sh: $xls is missing and LibreOffice is not installed to make it" >&2; exit 1; }
  sh "$here/data/make_bench_xls.sh"
fi
csv=$work/bench_65000x5.csv
python3 "$here/data/make_bench_csv.py" "$csv" 65000
csvxls=$work/bench_65000x5.xls
"$kelpcli" convert "$csv" "$csvxls" >/dev/null

# Runs one command; prints "MICROSECONDS KILOBYTES". The time is bash's own clock around
# the process alone: `date` and /usr/bin/time are processes too, and on a virtual machine
# the two cost more than a small conversion (about 16 ms here), which blurred the ratio.
# So the peak memory comes from a second run of the same command under /usr/bin/time -v.
measure() {
  local start end
  start=$EPOCHREALTIME
  "$@" >/dev/null 2>"$work/stderr.txt" || {
    echo "peers.sh: failed: $*" >&2; cat "$work/stderr.txt" >&2; exit 1; }
  end=$EPOCHREALTIME
  /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt"
  kb=$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$work/time.txt")
  echo "$(( ${end/./} - ${start/./} )) $kb"
}

# Median of the numbers on standard input, one a line.
median() {
  sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# compare NAME KELP-COMMAND... -- PEER-COMMAND... [-- OFFICE-COMMAND...]
compare() {
  name=$1; shift
  : > "$work/k"; : > "$work/s"; : > "$work/o"
  local -a k=() s=() o=()
  local which=k
  for arg in "$@"; do
    if [ "$arg" = "--" ]; then
      case $which in k) which=s ;; s) which=o ;; esac
    else
      case $which in k) k+=("$arg") ;; s) s+=("$arg") ;; o) o+=("$arg") ;; esac
    fi
  done
  for ((i = 0; i <= runs; i++)); do
    line=$(measure "${k[@]}"); [ $i -eq 0 ] || echo "$line" >> "$work/k"
    line=$(measure "${s[@]}"); [ $i -eq 0 ] || echo "$line" >> "$work/s"
    if [ ${#o[@]} -gt 0 ]; then line=$(measure "${o[@]}"); [ $i -eq 0 ] || echo "$line" >> "$work/o"; fi
  done
  kt=$(cut -d' ' -f1 "$work/k" | median); km=$(cut -d' ' -f2 "$work/k" | median)
  st=$(cut -d' ' -f1 "$work/s" | median); sm=$(cut -d' ' -f2 "$work/s" | median)
  awk -v n="$name" -v kt="$kt" -v km="$km" -v st="$st" -v sm="$sm" 'BEGIN {
    printf "| %s | %.3f s, %.1f MB | %.3f s, %.1f MB | %.1fx | %.2f |\n",
      n, kt / 1e6, km / 1024, st / 1e6, sm / 1024, st / kt, km / sm }'
  if [ -s "$work/o" ]; then
    ot=$(cut -d' ' -f1 "$work/o" | median); om=$(cut -d' ' -f2 "$work/o" | median)
    awk -v kt="$kt" -v km="$km" -v ot="$ot" -v om="$om" 'BEGIN {
      printf "| the same, LibreOffice headless instead of ssconvert | %.3f s, %.1f MB | %.3f s, %.1f MB | %.1fx | %.2f |\n",
        kt / 1e6, km / 1024, ot / 1e6, om / 1024, ot / kt, km / om }'
  fi
}

# Both programs must have written the whole sheet, or the times mean nothing.
same_rows() {
  a=$(wc -l < "$1"); b=$(wc -l < "$2")
  [ "$a" -eq "$b" ] || echo "peers.sh: warning: $1 has $a lines, $2 has $b" >&2
}

echo "kelpcli: $kelpcli; $(ssconvert --version 2>&1 | head -n 1); $runs runs each, alternating; medians"
echo
echo "| conversion | kelpcli | ssconvert | time ratio | memory ratio |"
echo "|---|---|---|---|---|"
officecmd=()
[ -z "$office" ] || officecmd=(-- "$office" "-env:UserInstallation=file://$work/profile" --headless --convert-to csv --outdir "$work/lo" "$xls")
compare "20,000 x 5 BIFF8 from LibreOffice (60,000 formulas) -> CSV" \
  "$kelpcli" convert "$xls" "$work/k1.csv" -- ssconvert --recalc "$xls" "$work/s1.csv" "${officecmd[@]}"
same_rows "$work/k1.csv" "$work/s1.csv"
compare "the same -> .xls" \
  "$kelpcli" convert "$xls" "$work/k2.xls" -- ssconvert "$xls" "$work/s2.xls"
compare "CSV of 65,000 x 5 -> .xls" \
  "$kelpcli" convert "$csv" "$work/k3.xls" -- ssconvert "$csv" "$work/s3.xls"
compare "that .xls (written by Kelp) -> CSV" \
  "$kelpcli" convert "$csvxls" "$work/k4.csv" -- ssconvert "$csvxls" "$work/s4.csv"
same_rows "$work/k4.csv" "$work/s4.csv"
[ -n "$office" ] || echo "(LibreOffice is not installed: no LibreOffice row)"
echo "time ratio: ssconvert's median over kelpcli's (target 10x); memory ratio: kelpcli's peak over ssconvert's (target 0.50)"
