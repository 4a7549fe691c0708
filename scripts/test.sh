#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the native tree (with AddressSanitizer and
# UBSan), and runs CTest, which covers the unit, end-to-end, static DLL, Wine and TDS suites and
# the formatting check.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset native
cmake --build --preset native
ctest --preset native -j2 "$@"
