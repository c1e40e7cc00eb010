#!/bin/sh
# The page's tests: each key script runs in the headless backend (the reference pictures)
# and in the page in headless chromium, and the pictures must be equal; the workbook the
# page saved and offered as a download must hold the typed values.
# Usage: tests/web/run.sh NATIVE_BUILD_DIR PAGE_DIR
set -eu
native=$(realpath "$1"); page=$(realpath "$2"); here=$(dirname "$(realpath "$0")")
work=$(realpath -m "$native/../web-test"); rm -rf "$work/ref" "$work/downloads" "$work/home"
mkdir -p "$work/ref" "$work/home/Documents"
kelp="$native/app/kelp"; kelpcli="$native/cli/kelpcli"
[ -d "$work/node_modules/puppeteer-core" ] || (cd "$work" && npm install --no-audit --no-fund puppeteer-core@21)

docs="$work/home/Documents"
cp "$here/../../examples/sample.kp" "$docs/sample.kp"
(cd "$work" && "$kelpcli" set "$work/budget.kp" A1=Rent A2=Food A3=Books >/dev/null)
"$kelpcli" convert "$here/../../examples/sample.kp" "$work/sample.xls" >/dev/null
# The headless run sees the same folders and names as the page: its documents folder.
reference() {  # SCRIPT FILE
  name=$(basename "$1" .txt); mkdir -p "$work/ref/$name"
  cp "$2" "$docs/" 2>/dev/null || true
  (cd "$work/ref/$name" && HOME="$work/home" "$kelp" --headless --new-instance --keys "$1" "$docs/$(basename "$2")")
}
reference "$here/budget.txt" "$work/budget.kp"
reference "$here/open-xls.txt" "$work/sample.xls"
reference "$here/undo.txt" "$docs/sample.kp"
cp "$here/run.mjs" "$work/run.mjs"  # beside its node_modules
(cd "$work" && node run.mjs "$page" "$work" "$here/budget.txt:$work/budget.kp" \
   "$here/open-xls.txt:$work/sample.xls" "$here/undo.txt:-")
# The workbook each build downloaded, read back by the command-line tool.
for build in ${KELP_WEB_BUILDS:-threaded single}; do
  out=$("$kelpcli" cat --formulas "$work/downloads/$build/budget.kp")
  echo "$out"
  for want in Rent 950 320.5 42 '=Sum(B1:B3)'; do
    echo "$out" | grep -qF -- "$want" || { echo "FAIL the $build build's budget.kp lacks $want"; exit 1; }
  done
  echo "ok   the $build build's downloaded budget.kp holds the typed values"
done
