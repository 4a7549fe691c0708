#!/usr/bin/env bash
# The staging copy of the 64-bit host-instance DLL under Wine (chunks of 1025 bytes, a progress
# update and a message pass after each) against a plain copy of the same file in the same Wine
# prefix, measured in the same run.  Needs the native build (it cross-builds the DLL).
#   bench/wine_staging_copy.sh [MIB]        default 32 MiB
set -euo pipefail
cd "$(dirname "$0")/.."
exec tests/wine/wine.sh copy-speed build/native/mingw-x86_64 "${1:-32}"
