#!/usr/bin/env bash
# FreeTDS's tsql against the listener (run under with_listener.sh), scripted through its standard
# input, with TDS 7.4 and 7.1: a login, rows of several types, a failing statement with its error
# number; then a wrong password refused.
set -uo pipefail
if ! command -v tsql >/dev/null; then
  echo "SKIPPED: tsql (Debian freetds-bin) is not installed"
  exit 77
fi

failures=0
expect() {  # expect WHAT FILE TEXT: TEXT is a line of FILE
  if ! grep -qxF -- "$3" "$2"; then
    echo "FAIL ($1): no line '$3' in:"
    cat "$2"
    failures=$((failures + 1))
  fi
}
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
tab=$'\t'

session() {  # session TDSVER PASSWORD: the script on stdin
  TDSVER=$1 timeout 30 tsql -o q -H 127.0.0.1 -p "$TDS_PORT" -U sa -P "$2" -D master \
    >"$out" 2>"$err"
}

for version in 7.4 7.1; do
  table="t_${version/./_}"
  session "$version" "$TDS_PASSWORD" <<SQL
SELECT CAST(1 AS int) AS n, N'现金' AS name, CAST(-12.5 AS money) AS amount, NULL AS nothing, CAST(1.5 AS float) AS f
go
CREATE TABLE $table (id int PRIMARY KEY, name varchar(10))
INSERT INTO $table VALUES (1, 'a'), (2, '中')
go
SELECT id, name FROM $table ORDER BY id
go
SELECT * FROM nope
go
exit
SQL
  echo "rc=$?" >>"$out"
  expect "$version rows" "$out" "n${tab}name${tab}amount${tab}nothing${tab}f"
  expect "$version rows" "$out" "1${tab}现金${tab}-12.5000${tab}NULL${tab}1.5"
  expect "$version table" "$out" "2${tab}中"
  expect "$version error" "$err" "Msg 208 (severity 16, state 1) from FINPREP-EMU Line 1:"
  expect "$version error" "$err" "${tab}\"Invalid object name 'nope'.\""
  expect "$version exit" "$out" "rc=0"
done

echo "SELECT 1" | session 7.4 "not the password"
echo "rc=$?" >>"$out"
expect "wrong password" "$err" "Msg 18456 (severity 14, state 1) from FINPREP-EMU Line 1:"
expect "wrong password" "$err" "${tab}\"Login failed for user 'sa'.\""
expect "wrong password" "$out" "rc=1"

if [ "$failures" -ne 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo "tsql: every check passed"
