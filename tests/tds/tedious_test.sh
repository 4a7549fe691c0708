#!/usr/bin/env bash
# The npm tedious client against the listener (run under with_listener.sh): installs the pinned
# tedious from tedious/package-lock.json into INSTALL_DIR once, then runs tedious/session.js.
# Usage: tedious_test.sh INSTALL_DIR SAMPLE_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
install_dir=$1
export FINPREP_SAMPLE_DIR=$2
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "SKIPPED: node and npm (Debian nodejs, npm) are not installed"
  exit 77
fi

mkdir -p "$install_dir"
if ! cmp -s "$here/tedious/package-lock.json" "$install_dir/package-lock.json" ||
  [ ! -d "$install_dir/node_modules/tedious" ]; then
  cp "$here/tedious/package.json" "$here/tedious/package-lock.json" "$install_dir/"
  if ! (cd "$install_dir" && timeout 300 npm ci --no-audit --no-fund --loglevel=error); then
    rm -f "$install_dir/package-lock.json"
    echo "SKIPPED: tedious could not be installed with npm"
    exit 77
  fi
fi
NODE_PATH="$install_dir/node_modules" exec node "$here/tedious/session.js"
