#!/usr/bin/env bash
# The demo: installs what is missing, builds the optimised tree (without the Windows DLLs), runs
# the plug-in once with the terminal runner on the sample backup into a temporary folder, and
# shows the connection string and the first rows of the view pz, read back from the emulator.
#
#   scripts/demo.sh                   the three-set sample, set 2 ticked in the chooser
#   scripts/demo.sh --edition local   further options go to `finprep run` (--set among them)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release -DFINPREP_CROSS_BUILDS=OFF >/dev/null
cmake --build --preset release --target finprep finprep-emu emulator_samples

bin=build/release
base=$(mktemp -d "${TMPDIR:-/tmp}/finprep-demo-XXXXXX")
args=("$bin/emulator/samples/sample.bak" --base "$base" "$@")
case " $* " in
  *" --set "*) ;;
  *) args+=(--set 2) ;;
esac
echo
echo "finprep run ${args[*]}"
status=0
connection=$("$bin/cli/finprep" run "${args[@]}") || status=$?

echo
echo "connection string: $connection"
if [ "$status" -ne 0 ]; then
  echo "the run failed (exit code $status)"
  exit "$status"
fi
echo
echo "first rows of pz:"
"$bin/emulator/finprep-emu" query "$base/.finprep-emulator" VORIRA \
  "select top 5 AccCode, AccName, VouNumName, Period, accNO, Abstract, DebitMoney, CreditMoney,
          xmdm, xmmc from pz order by Period, accNO, AccCode, xmdm"
echo
echo "VORIRA stays in $base; read it with:"
echo "  $bin/emulator/finprep-emu query $base/.finprep-emulator VORIRA \"select * from km\""
