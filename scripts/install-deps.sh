#!/usr/bin/env bash
# Installs the Debian packages that building and testing finprep need (root, or sudo).
# Does nothing when they are all present already.
set -euo pipefail

packages=(
  # native build, tests and formatting
  cmake ninja-build g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev clang-format
  # emulator and terminal runner
  libsqlite3-dev libcli11-dev
  # the Windows DLLs and their tests under Wine
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine64 fonts-wine xvfb imagemagick fonts-wqy-zenhei fonts-wqy-microhei x11-utils xdotool
  # ODBC and TDS clients
  unixodbc unixodbc-dev odbcinst tdsodbc freetds-bin
  # a driver for the ODBC unit tests (stands in for "SQL Server")
  libsqliteodbc
)

# The tedious client's tests need Node.js 18.17 or later with npm.  A machine that already has
# its own Node.js (with its npm) keeps it; Debian's nodejs and npm come only where there is none.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  packages+=(nodejs npm)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
# With the recommended packages, as on the machines these scripts were written on: Wine draws
# and reaches ODBC through libraries it only recommends.
$sudo apt-get install -y -q "${missing[@]}"
