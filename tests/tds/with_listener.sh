#!/usr/bin/env bash
# Runs a command against `finprep-emu serve` on a free port of 127.0.0.1 over a fresh data folder,
# and stops the listener afterwards whatever happens (it also stops by itself if this script is
# killed).  The command finds TDS_PORT, TDS_PASSWORD and TDS_DATA in its environment.  Its exit
# code is passed on; on a failure the listener's log follows.
# Usage: with_listener.sh FINPREP_EMU COMMAND [ARGS...]
set -euo pipefail
emu=$1
shift
work=$(mktemp -d "${TMPDIR:-/tmp}/finprep-tds-XXXXXX")
pid=
cleanup() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

export TDS_PASSWORD="Emu;Pass'1"
"$emu" serve "$work/data" --port 0 --password "$TDS_PASSWORD" --exit-with-parent \
  >"$work/listener.out" 2>"$work/listener.log" &
pid=$!
port=
for _ in $(seq 1 100); do
  port=$(sed -n 's/.* on 127\.0\.0\.1:\([0-9]*\),.*/\1/p' "$work/listener.out")
  [ -n "$port" ] && break
  if ! kill -0 "$pid" 2>/dev/null; then
    cat "$work/listener.log" >&2
    exit 1
  fi
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "the listener did not start" >&2
  exit 1
fi
export TDS_PORT=$port TDS_DATA=$work/data

rc=0
"$@" || rc=$?
if [ "$rc" -ne 0 ] && [ "$rc" -ne 77 ]; then
  echo "--- listener log"
  cat "$work/listener.log"
fi
exit "$rc"
