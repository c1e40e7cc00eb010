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
expect "compile errors keep the other lines" $'error 1: Unexpected end of formula at 2\n3\nerror 29: Unknown name at 0' 1 -- \
  eval "=1+" "=1+2" "=Nope(1)"
expect "entries typed as a user would" $'0.5\ntrue\nhello\n-5' 0 -- eval "50%" "TRUE" "'hello" "-5"
expect "standard input, one entry per line" $'2\n6' 0 -- eval - <<< $'=1+1\n=2*3'
expect "locale with a decimal comma" $'2,5\n1,5' 0 -- eval --locale de_DE "=1,5+1" "1,5"
expect "number format 4 shows currency" $'$1,234.50\n($1,234.50)' 0 -- eval --format 4 "1234.5" "-1234.5"
expect "unknown locale is a usage error" "" 2 -- eval --locale xx_YY "1"
expect "a bad cell name is a usage error" "" 2 -- eval --at ZZ99 "1"
expect "eval without entries is a usage error" "" 2 -- eval

echo "$passes passed, $failures failed"
[[ $failures -eq 0 ]]
