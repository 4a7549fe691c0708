#!/usr/bin/env bash
# Static checks of the shipped 32-bit DLLs, read with objdump:
#   - the export table holds exactly DoIt, at ordinal 1;
#   - DoIt returns with `ret $0x14` (__stdcall, 20 bytes of arguments);
#   - the host-instance DLL imports WriteLog from hostcore.dll; the local-server DLL imports
#     nothing from hostcore.dll or dbfinder.dll;
#   - neither imports a MinGW runtime DLL (libstdc++, libgcc, winpthread), nor any DLL that is
#     not part of Windows (hostcore.dll aside).
#
# Usage: scripts/check-dlls.sh [i686-build-dir]   (default: build/mingw-i686)
# Exits 0 when every check passes, 1 when one fails, 77 (skipped) when the tools are missing.
set -uo pipefail

build=${1:-build/mingw-i686}
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}

if ! command -v "$objdump" >/dev/null 2>&1; then
  echo "SKIPPED: $objdump not found (Debian: binutils-mingw-w64-i686); the DLLs cannot be checked"
  exit 77
fi

# DLLs that every Windows has; the DLLs may import these and nothing else (hostcore.dll aside).
system_dlls="advapi32.dll comctl32.dll gdi32.dll kernel32.dll msvcrt.dll odbc32.dll ole32.dll
oleaut32.dll user32.dll"

failures=0
pass() { echo "ok   $1"; }
fail() {
  echo "FAIL $1"
  failures=$((failures + 1))
}

# Prints "<ordinal> <rva> <name>" for every named export.
exports() {
  awk '
    /^Export Address Table -- Ordinal Base/ { base = $NF; in_eat = 1; next }
    /^\[Ordinal\/Name Pointer\] Table/ { in_names = 1; next }
    /^[[:space:]]*$/ { in_eat = 0; in_names = 0; next }
    in_eat && /\+base\[/ {
      line = $0
      sub(/^[^[]*\[ */, "", line); index_ = line + 0
      sub(/^[^[]*\[ */, "", line); ordinal[index_] = line + 0
      rva[index_] = $(NF - 2)
      next
    }
    in_names && /^[[:space:]]*\[/ {
      line = $0
      sub(/^[^[]*\[ */, "", line); index_ = line + 0
      name = $NF
      ord = (index_ in ordinal) ? ordinal[index_] : base + index_
      print ord, rva[index_], name
    }
  ' <<<"$1"
}

# Prints "<dll> <function>" for every import, the DLL name in lower case.
imports() {
  awk '
    /DLL Name:/ { dll = tolower($NF); print dll, "-"; next }
    /^[[:space:]]*$/ { dll = ""; next }
    dll != "" && /^[[:space:]]+[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+[^[:space:]]+$/ {
      print dll, $NF
    }
  ' <<<"$1"
}

check_dll() {
  local edition=$1 dll=$build/$1/finprep.dll
  if [ ! -f "$dll" ]; then
    fail "$edition: $dll does not exist"
    return
  fi
  local headers
  headers=$("$objdump" -p "$dll") || {
    fail "$edition: objdump cannot read $dll"
    return
  }

  # Exports: exactly DoIt at ordinal 1.
  local export_list
  export_list=$(exports "$headers")
  if [ "$(wc -l <<<"$export_list")" -eq 1 ] && [ "$(awk '{print $1, $3}' <<<"$export_list")" = "1 DoIt" ]; then
    pass "$edition: exports exactly DoIt at ordinal 1"
  else
    fail "$edition: exports are not exactly DoIt at ordinal 1: ${export_list:-none}"
  fi

  # DoIt's first return removes 20 bytes of arguments.
  local image_base rva start ret
  image_base=$(awk '/^ImageBase/ { print $2; exit }' <<<"$headers")
  rva=$(awk '$3 == "DoIt" { print $2; exit }' <<<"$export_list")
  if [ -n "$image_base" ] && [ -n "$rva" ]; then
    start=$((0x$image_base + 0x$rva))
    ret=$("$objdump" -d --start-address=$start --stop-address=$((start + 8192)) "$dll" |
      grep -m1 -E $'\tret' | sed -E 's/.*\t(ret[^<]*)/\1/; s/[[:space:]]+$//')
    if [[ "$ret" =~ ^ret[[:space:]]+\$0x14$ ]]; then
      pass "$edition: DoIt returns with ret \$0x14"
    else
      fail "$edition: DoIt returns with '${ret:-no ret found}', not ret \$0x14"
    fi
  else
    fail "$edition: cannot locate DoIt's code"
  fi

  # Imports.
  local import_list dlls unexpected
  import_list=$(imports "$headers")
  dlls=$(awk '{print $1}' <<<"$import_list" | sort -u)
  if grep -qE '^(libstdc\+\+|libgcc|libwinpthread)' <<<"$dlls"; then
    fail "$edition: imports a MinGW runtime DLL: $(grep -E '^(libstdc|libgcc|libwinpthread)' <<<"$dlls" | tr '\n' ' ')"
  else
    pass "$edition: imports no libstdc++, libgcc or winpthread DLL"
  fi
  unexpected=""
  for d in $dlls; do
    [ "$d" = "hostcore.dll" ] && continue
    grep -qw -- "$d" <<<"$system_dlls" || unexpected="$unexpected $d"
  done
  if [ -z "$unexpected" ]; then
    pass "$edition: imports system DLLs only (besides hostcore.dll)"
  else
    fail "$edition: imports DLLs that are not part of Windows:$unexpected"
  fi
  if grep -q '^dbfinder.dll ' <<<"$import_list"; then
    fail "$edition: imports from dbfinder.dll (it is loaded at run time)"
  else
    pass "$edition: imports nothing from dbfinder.dll"
  fi

  if [ "$edition" = host ]; then
    if grep -q '^hostcore.dll WriteLog$' <<<"$import_list"; then
      pass "host: imports WriteLog from hostcore.dll"
    else
      fail "host: does not import WriteLog from hostcore.dll"
    fi
  else
    if grep -q '^hostcore.dll ' <<<"$import_list"; then
      fail "local: imports from hostcore.dll"
    else
      pass "local: imports nothing from hostcore.dll"
    fi
  fi
}

check_dll host
check_dll local

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all DLL checks passed"
