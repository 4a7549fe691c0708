#!/usr/bin/env bash
# The 64-bit finprep.dll of each edition, loaded by a test host under Wine and Xvfb.
#
#   wine.sh setup    RUN_DIR MINGW_DIR        start Xvfb, make a fresh prefix, keep a wineserver
#   wine.sh case     RUN_DIR MINGW_DIR NAME   run one case: host.staging_fails runs the function
#                                             case_host_staging_fails below, and so on
#   wine.sh teardown RUN_DIR                  end what setup started, remove the prefix
#   wine.sh screenshot MINGW_DIR OUT.png      picture of the progress dialog during a copy
#   wine.sh chooser-screenshot MINGW_DIR OUT.png   picture of the backup-set chooser with three
#                                             sets (both make and remove their own run folder)
#   wine.sh copy-speed MINGW_DIR [MIB]        the staging copy's speed against a plain copy
#
# MINGW_DIR is the x86_64 MinGW build: host/finprep.dll, local/finprep.dll and wine-tests/ (the
# test host, the watcher, the test service and the doubles of hostcore.dll and dbfinder.dll).
# Everything goes into RUN_DIR; the processes that setup starts are recorded there, and teardown
# ends those and nothing else.  Exit codes: 0 passed, 1 failed, 77 skipped (no Wine, no Xvfb or
# no x86_64 build).
#
# The cases host.server_* run against the emulator's TDS listener, reached through odbc32,
# unixODBC and FreeTDS.  They take from the environment FINPREP_EMU (finprep-emu),
# FINPREP_SAMPLES (the folder of the sample backups) and FINPREP_FREETDS_ODBC_DRIVER
# (libtdsodbc.so); the first two default to the native build that holds MINGW_DIR, the driver to
# Debian's.  Without them those cases are skipped.
set -uo pipefail

SKIP=77
WINE=${FINPREP_WINE:-/usr/lib/wine/wine64}
WINESERVER=${FINPREP_WINESERVER:-/usr/lib/wine/wineserver64}
XVFB=${FINPREP_XVFB:-Xvfb}
CASE_TIMEOUT=120

say() { printf '%s\n' "$*"; }

# ---- Processes: recorded with their start time, so a recycled pid is never ended ----

start_time() { [ -r "/proc/$1/stat" ] && awk '{print $22}' "/proc/$1/stat" 2>/dev/null; }

# True while the process runs (a zombie counts as ended).
alive() {
  local pid=$1 started=$2 state
  [ -n "$pid" ] && [ "$(start_time "$pid")" = "$started" ] || return 1
  state=$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null)
  [ -n "$state" ] && [ "$state" != Z ]
}

# end PID START: TERM, then KILL after five seconds; only if it is still the recorded process.
end_process() {
  local pid=$1 started=$2 i
  alive "$pid" "$started" || return 0
  kill -TERM "$pid" 2>/dev/null
  for i in $(seq 50); do
    alive "$pid" "$started" || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null
}

# ---- The environment every Wine process of a run gets ----

use_run() {
  RUN=$1
  STATE=$RUN/state
  export WINEPREFIX=$RUN/prefix WINEDEBUG=-all WINEARCH=win64
  # No Mono or Gecko installer prompts while the prefix is made.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export HOME=$RUN/home XDG_CACHE_HOME=$RUN/cache XDG_CONFIG_HOME=$RUN/config
  # An empty ODBC configuration: no driver is registered, so connections fail at once.
  export ODBCSYSINI=$RUN/odbc ODBCINI=$RUN/odbc/odbc.ini
  if [ -r "$STATE" ]; then
    # shellcheck disable=SC1090
    . "$STATE"
    # The wineserver makes its socket folder in TMPDIR: one of the run's own, kept short.
    export DISPLAY=$display TMPDIR=$wine_tmp
  fi
}

# A Linux path as the Windows programs see it, on the drive Z: that maps the root.
winpath() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }

missing_tools() {
  [ -x "$WINE" ] || { say "$WINE not found (Debian: wine64)"; return 0; }
  [ -x "$WINESERVER" ] || { say "$WINESERVER not found (Debian: wine64)"; return 0; }
  command -v "$XVFB" >/dev/null 2>&1 || { say "$XVFB not found (Debian: xvfb)"; return 0; }
  return 1
}

# ---- setup / teardown ----

# Skips (with the reason) when Wine, Xvfb or the x86_64 build is missing.
check_prerequisites() {
  local mingw=$1 reason
  if reason=$(missing_tools); then
    say "SKIPPED: $reason"
    return $SKIP
  fi
  if [ -z "$mingw" ] || [ ! -f "$mingw/wine-tests/testhost.exe" ] ||
    [ ! -f "$mingw/host/finprep.dll" ] || [ ! -f "$mingw/local/finprep.dll" ]; then
    say "SKIPPED: the x86_64 DLLs and test programs were not built (MinGW-w64 x86_64 missing," \
      "or FINPREP_CROSS_BUILDS is OFF)"
    return $SKIP
  fi
}

setup() {
  check_prerequisites "${2:-}" || return
  case $1 in
    /?*) ;;
    *)
      say "FAIL: the run folder must be an absolute path below the root, not '$1'"
      return 1
      ;;
  esac
  [ -r "$1/state" ] && teardown "$1" >/dev/null
  use_run "$1"
  rm -rf "$RUN" && mkdir -p "$RUN"/{home,cache,config,odbc,cases,prefix}
  : >"$RUN/odbc/odbcinst.ini"
  : >"$RUN/odbc/odbc.ini"

  # Xvfb picks a free display and writes its number to fd 3.
  "$XVFB" -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$RUN/display" \
    >"$RUN/xvfb.log" 2>&1 </dev/null &
  local xvfb_pid=$! i
  for i in $(seq 100); do
    [ -s "$RUN/display" ] && break
    sleep 0.1
  done
  if [ ! -s "$RUN/display" ]; then
    say "Xvfb did not start:"
    cat "$RUN/xvfb.log"
    kill "$xvfb_pid" 2>/dev/null
    return 1
  fi
  {
    echo "display=:$(head -n1 "$RUN/display")"
    echo "xvfb_pid=$xvfb_pid"
    echo "xvfb_start=$(start_time "$xvfb_pid")"
    echo "wine_tmp=$(mktemp -d /tmp/finprep-wineserver.XXXXXX)"
  } >"$STATE"
  use_run "$RUN"

  start_wineserver

  local began=$SECONDS
  if ! "$WINE" wineboot -u >"$RUN/wineboot.log" 2>&1 </dev/null; then
    say "wineboot failed:"
    cat "$RUN/wineboot.log"
    return 1
  fi
  # The dialogs ask for 宋体 (and the system for Tahoma and MS Shell Dlg); the font that Wine would
  # pick for them has no Latin letters.  Micro Hei is smoothed at every size; Zen Hei asks for
  # unsmoothed glyphs at the dialogs' sizes, which lose strokes, so it is only the fallback.
  # All programs share one 1024x768 desktop window, which draws captions and is what the
  # screenshots show.  regedit reads UTF-16, so that the Chinese font name survives.
  local font="WenQuanYi Zen Hei"
  fc-list 2>/dev/null | grep "WenQuanYi Micro Hei" >/dev/null && font="WenQuanYi Micro Hei"
  printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
    '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
    "\"宋体\"=\"$font\"" "\"SimSun\"=\"$font\"" "\"Tahoma\"=\"$font\"" \
    "\"MS Shell Dlg\"=\"$font\"" '' \
    '[HKEY_CURRENT_USER\Control Panel\Desktop]' '"FontSmoothing"="2"' \
    '"FontSmoothingType"=dword:00000001' '"FontSmoothingGamma"=dword:00000578' '' \
    '[HKEY_CURRENT_USER\Software\Wine\Explorer]' '"Desktop"="Default"' '' \
    '[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]' '"Default"="1024x768"' |
    iconv -f UTF-8 -t UTF-16 >"$RUN/setup.reg"
  # The symbols of the title-bar buttons come from Wine's own Marlett, which this prefix's font
  # folder lacks (the buttons would show letters).
  local marlett
  for marlett in /usr/share/wine/fonts/marlett.ttf /usr/share/wine/wine/fonts/marlett.ttf; do
    [ -f "$marlett" ] && ln -sf "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/" && break
  done
  if ! "$WINE" regedit /S "$(winpath "$RUN/setup.reg")" >"$RUN/regedit.log" 2>&1 </dev/null; then
    say "regedit failed:"
    cat "$RUN/regedit.log"
    return 1
  fi
  # The desktop that wineboot started has no virtual screen: start over with the settings.
  stop_wineserver
  start_wineserver
  say "Wine prefix ready in $((SECONDS - began)) s on display $DISPLAY ($RUN)"
}

# A persistent wineserver: programs start fast, and services outlive the programs.
start_wineserver() {
  "$WINESERVER" -f -p >>"$RUN/wineserver.log" 2>&1 </dev/null &
  local pid=$!
  grep -v '^wineserver_' "$STATE" >"$STATE.new"
  {
    echo "wineserver_pid=$pid"
    echo "wineserver_start=$(start_time "$pid")"
  } >>"$STATE.new"
  mv "$STATE.new" "$STATE"
  use_run "$RUN"
}

# wineserver -k ends the processes of this prefix only, then the server itself.
stop_wineserver() {
  alive "${wineserver_pid:-}" "${wineserver_start:-}" || return 0
  "$WINESERVER" -k >/dev/null 2>&1 </dev/null
  local i
  for i in $(seq 50); do
    alive "$wineserver_pid" "$wineserver_start" || break
    sleep 0.1
  done
  end_process "$wineserver_pid" "$wineserver_start"
}

teardown() {
  use_run "$1"
  [ -r "$STATE" ] || return 0
  stop_wineserver
  end_process "${xvfb_pid:-}" "${xvfb_start:-}"
  # The server's socket folder: in the run's TMPDIR, or where a Wine that ignores TMPDIR puts
  # it, named after the prefix's device and inode.
  case ${wine_tmp:-} in
    /tmp/finprep-wineserver.*) rm -rf "$wine_tmp" ;;
  esac
  if [ -d "$WINEPREFIX" ]; then
    local dev ino
    read -r dev ino < <(stat -c '%d %i' "$WINEPREFIX")
    rm -rf "/tmp/.wine-$(id -u)/server-$(printf '%x-%x' "$dev" "$ino")"
  fi
  rm -rf "$WINEPREFIX" "$HOME" "$XDG_CACHE_HOME" "$XDG_CONFIG_HOME" "$STATE"
  say "Wine run ended: Xvfb, wineserver and the prefix are gone; case folders stay in $RUN/cases"
}

# ---- Running one case ----

failures=0
fail() {
  say "FAIL: $*"
  failures=$((failures + 1))
}

# place FILE... DIR: hard links into DIR where the file system allows, copies elsewhere.
place() {
  local dir=${*: -1} file
  for file in "${@:1:$#-1}"; do
    ln -f "$file" "$dir" 2>/dev/null || cp "$file" "$dir"
  done
}

# Sets up the case folder: CASE/host/ holds the test host and the edition's finprep.dll; the
# host-instance edition gets hostcore.dll beside it and, unless told "none", the dbfinder.dll
# variant in auxsys\app\.  CASE/base/TempLateTemp/ is the work folder.
make_case() {
  local edition=$1 dbfinder=${2:-both}
  CASE=$RUN/cases/$NAME
  rm -rf "$CASE" && mkdir -p "$CASE/host" "$CASE/base/TempLateTemp"
  place "$TOOLS/testhost.exe" "$MINGW/$edition/finprep.dll" "$CASE/host/"
  if [ "$edition" = host ]; then
    place "$TOOLS/hostcore.dll" "$CASE/host/"
    if [ "$dbfinder" != none ]; then
      mkdir -p "$CASE/host/auxsys/app"
      place "$TOOLS/dbfinder/$dbfinder/dbfinder.dll" "$CASE/host/auxsys/app/"
    fi
  fi
  export FINPREP_TEST_DIR
  FINPREP_TEST_DIR=$(winpath "$CASE")
  BASE=$(winpath "$CASE/base")'\'
  STAGED=$CASE/base/TempLateTemp/$([ "$edition" = host ] && echo xy.temp || echo vorira8x.temp)
}

# A backup file of SIZE bytes of random data.
make_backup() {
  BACKUP=$CASE/backup.bak
  head -c "$1" /dev/urandom >"$BACKUP"
}

# run_host [--close-dialog] [--tick N,N...] HOST_ARGS...: runs the test host while the watcher
# looks on (and closes the dialog, or ticks the chooser's rows and presses Enter); their outputs
# land in CASE/host.out and CASE/watch.out.
run_host() {
  local watch_args=()
  while true; do
    case ${1:-} in
      --close-dialog) watch_args+=("$1") && shift ;;
      --tick) watch_args+=("$1" "$2") && shift 2 ;;
      *) break ;;
    esac
  done
  local ready=$CASE/watch.ready stop=$CASE/watch.stop i
  rm -f "$ready" "$stop"
  timeout $((CASE_TIMEOUT + 30)) "$WINE" "$TOOLS/uiwatch.exe" "$(winpath "$ready")" \
    "$(winpath "$stop")" "${watch_args[@]}" >"$CASE/watch.out" 2>"$CASE/watch.err" </dev/null &
  local watcher=$!
  for i in $(seq 200); do
    [ -e "$ready" ] && break
    sleep 0.05
  done
  [ -e "$ready" ] || fail "the watcher did not start"
  timeout "$CASE_TIMEOUT" "$WINE" "$CASE/host/testhost.exe" "$@" \
    >"$CASE/host.out" 2>"$CASE/host.err" </dev/null
  local rc=$?
  : >"$stop"
  wait "$watcher"
  [ "$rc" -eq 0 ] || fail "the test host ended with exit code $rc"
}

service() {
  "$WINE" "$TOOLS/testservice.exe" "$@" </dev/null 2>>"$CASE/service.err"
}

# expect_lines FILE WHAT LINE...: the lines of FILE match the given lines, one for one; "*"
# matches any text.
expect_lines() {
  local file=$1 what=$2
  shift 2
  local -a want=("$@") got=()
  [ -r "$file" ] && mapfile -t got <"$file"
  local ok=1 i pattern
  [ ${#want[@]} -eq ${#got[@]} ] || ok=0
  for ((i = 0; ok && i < ${#want[@]}; i++)); do
    pattern=${want[i]//\\/\\\\}
    pattern=${pattern//\?/\\?}
    pattern=${pattern//\[/\\[}
    # shellcheck disable=SC2053
    [[ ${got[i]} == $pattern ]] || ok=0
  done
  if [ "$ok" -eq 0 ]; then
    fail "$what"
    say "  expected:"
    [ ${#want[@]} -gt 0 ] && printf '    %s\n' "${want[@]}"
    say "  got:"
    [ ${#got[@]} -gt 0 ] && printf '    %s\n' "${got[@]}"
  fi
}

# What the host reports after each run (one result per run): the result, then its window
# enabled and active again, no window of the plug-in left, and dbfinder.dll released.
expect_host() {
  local lines=("loaded finprep.dll at *" "DoIt found by name and at ordinal 1") n=0 result
  for result in "$@"; do
    n=$((n + 1))
    lines+=("run $n result: $result" "run $n host window: enabled active"
      "run $n plug-in windows left: 0" "run $n dbfinder.dll: released")
  done
  expect_lines "$CASE/host.out" "what the host got back" "${lines[@]}"
}

# Host-log lines: each carries the module handle the host loaded finprep.dll at, and level 3.
expect_log() {
  local handle message lines=()
  handle=$(sed -n 's/^loaded finprep.dll at //p' "$CASE/host.out")
  for message in "$@"; do
    lines+=("$handle"$'\t'"3"$'\t'"$message")
  done
  expect_lines "$CASE/hostlog.txt" "the host log" "${lines[@]}"
}

# What the watcher saw: the dialogs' owners and labels, the message boxes it answered.
expect_screen() { expect_lines "$CASE/watch.out" "what the screen showed" "$@"; }

show_outputs() {
  local f
  for f in host.out host.err watch.out watch.err hostlog.txt calls.txt service.err listener.log \
    query.err; do
    [ -s "$CASE/$f" ] || continue
    say "--- $f"
    cat "$CASE/$f"
  done
}

# ---- The cases ----

DIALOG_OWNER="dialog owner: finprep test host, disabled"
BOX_OWNER="box owner: finprep test host, disabled"
FIRST_LABEL="label: 数据源预处理请稍候..."
RESTORE_LABEL="label: 还原数据库文件......"

# Connection strings of servers that cannot be reached (no ODBC driver is registered).
LOGIN="Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;Initial Catalog=master"
FIRST_SERVER="$LOGIN;Password=first;Data Source=FIRST\\NOWHERE"
SECOND_SERVER="$LOGIN;Password=second;Data Source=SECOND\\NOWHERE"

# The backup file is missing: the copy cannot start.
case_host_staging_fails() {
  make_case host
  run_host "$BASE" "$(winpath "$CASE/missing.bak")" ""
  expect_host 0
  expect_log "数据预处理出现异常！Cannot open file \"$(winpath "$CASE/missing.bak")\". *"
  expect_screen "$DIALOG_OWNER" "$FIRST_LABEL"
  [ ! -e "$CASE/calls.txt" ] || fail "dbfinder.dll was loaded"
}

case_local_staging_fails() {
  make_case local
  run_host "$BASE" "$(winpath "$CASE/missing.bak")" ""
  expect_host 0
  expect_screen "$DIALOG_OWNER" "$FIRST_LABEL" \
    "box 错误: 数据预处理出现异常！Cannot open file \"$(winpath "$CASE/missing.bak")\". *" \
    "$BOX_OWNER"
}

# The close button is pressed before the dialog's one-second timer starts the steps.
case_host_closed_before_timer() {
  make_case host
  make_backup 4096
  run_host --close-dialog "$BASE" "$(winpath "$BACKUP")" ""
  expect_host 0
  expect_screen "$DIALOG_OWNER" "$FIRST_LABEL" "closed the dialog"
  [ -z "$(ls -A "$CASE/base/TempLateTemp")" ] || fail "the work folder is not empty"
  [ ! -e "$CASE/hostlog.txt" ] || fail "the host log was written"
  [ ! -e "$CASE/calls.txt" ] || fail "dbfinder.dll was loaded"
}

# No auxsys\app\dbfinder.dll: the plug-in says so, then the run ends as aborted.
case_host_dbfinder_missing() {
  make_case host none
  make_backup 100000
  run_host "$BASE" "$(winpath "$BACKUP")" ""
  expect_host 0
  expect_log "数据预处理出现异常！Operation aborted"
  expect_screen "$DIALOG_OWNER" "$FIRST_LABEL" "$RESTORE_LABEL" \
    "box finprep: 调用dbfinder.dll文件失败！" "$BOX_OWNER"
  cmp -s "$BACKUP" "$STAGED" || fail "the staged copy differs from the backup file"
}

# Neither string from dbfinder.dll reaches a server.  VARIANT is the dbfinder.dll build, the
# rest the exports expected to be called, in order.
second_connect_fails() {
  local variant=$1
  shift
  make_case host "$variant"
  make_backup 4096
  printf 'GetSqlHinstance=%s\nShowSqlinstance=%s\n' "$FIRST_SERVER" "$SECOND_SERVER" \
    >"$CASE/dbfinder.txt"
  run_host "$BASE" "$(winpath "$BACKUP")" ""
  expect_host 0
  expect_log "数据预处理出现异常！*"
  expect_lines "$CASE/calls.txt" "the calls of dbfinder.dll" load "$@" unload
  # The restore step's label lasts only as long as the two failing connects, too short to be
  # seen for sure; no box may come up.
  expect_lines <(grep -v '^label: ' "$CASE/watch.out") "what the screen showed" "$DIALOG_OWNER"
}
case_host_second_connect_fails() { second_connect_fails both GetSqlHinstance ShowSqlinstance; }
case_host_second_connect_fails_without_GetSqlHinstance() {
  second_connect_fails no-GetSqlHinstance ShowSqlinstance
}
case_host_second_connect_fails_without_ShowSqlinstance() {
  second_connect_fails no-ShowSqlinstance GetSqlHinstance
}

# Two calls from one host, each with a main window of its own: each dialog is owned by the
# window of its call, and each window is enabled and active again afterwards.
case_host_owner_window() {
  make_case host
  run_host --runs 2 "$BASE" "$(winpath "$CASE/missing.bak")" ""
  expect_host 0 0
  local line="数据预处理出现异常！Cannot open file \"$(winpath "$CASE/missing.bak")\". *"
  expect_log "$line" "$line"
  expect_screen "$DIALOG_OWNER" "$FIRST_LABEL" \
    "dialog owner: finprep test host 2, disabled" "$FIRST_LABEL"
}

# Local-server edition with the "MSSQLServer" service in the given state; run_case removes the
# service afterwards.
with_service() {
  make_case local
  make_backup 4096
  SERVICE_USED=1
  case $1 in
    absent) service remove ;;
    running) service install 0 && service start ;;
    stopped) service install 1500 ;;  # start pending for 1.5 s once started
    disabled) service install 0 disabled ;;
    start-pending) service install 60000 && service start --no-wait ;;
    paused) service install 0 && service start && service pause ;;
  esac || fail "the service could not be put in state $1"
  run_host "$BASE" "$(winpath "$BACKUP")" ""
  expect_host 0
}

# After a successful check the restore cannot reach a server (no ODBC driver is registered):
# the listing fails, and the run ends with the error of reading its closed result.
RESTORE_FAILS=(
  "$RESTORE_LABEL"
  "box 警告: SQL=RESTORE HEADERONLY From Disk='*\\TempLateTemp\\vorira8x.temp'不能执行"
  "$BOX_OWNER"
  "box 错误: 数据预处理出现异常！*"
  "$BOX_OWNER"
)

case_local_service_running() {
  with_service running
  expect_screen "$DIALOG_OWNER" "$FIRST_LABEL" "label: SQL SERVER数据库已经启动..." \
    "${RESTORE_FAILS[@]}"
}

case_local_service_stopped() {
  with_service stopped
  expect_screen "$DIALOG_OWNER" "$FIRST_LABEL" "label: 正在启动SQL SERVER数据库..." \
    "label: SQL SERVER数据库启动成功..." "${RESTORE_FAILS[@]}"
  expect_lines <(service state) "the service after the call" "state 4"
}

case_local_service_disabled() {
  with_service disabled
  expect_screen "$DIALOG_OWNER" "$FIRST_LABEL" "label: 正在启动SQL SERVER数据库..."
  expect_lines <(service state) "the service after the call" "state 1"
}

case_local_service_absent() {
  with_service absent
  expect_screen "$DIALOG_OWNER" "$FIRST_LABEL" \
    "box 错误: 此模板需要MsSqlServer2K 你的计算机上没有安装Sqlserver2K.." "$BOX_OWNER"
}

# Started by someone else a moment ago: the plug-in does not wait for it.
case_local_service_start_pending() {
  with_service start-pending
  expect_screen "$DIALOG_OWNER" "$FIRST_LABEL"
  expect_lines <(service state) "the service after the call" "state 2"
}

case_local_service_paused() {
  with_service paused
  expect_screen "$DIALOG_OWNER" "$FIRST_LABEL"
}


# ---- Cases with a server: the emulator's TDS listener, through odbc32, unixODBC and FreeTDS ----

SERVER_PASSWORD="Wine;Pass'1"

# Finds finprep-emu and the sample backups of the native build, and FreeTDS's ODBC driver.
# Returns 1 with SKIPPED set when one of them is missing.
server_tools() {
  local native
  native=$(cd "$(dirname "$MINGW")" && pwd)
  FINPREP_EMU=${FINPREP_EMU:-$native/emulator/finprep-emu}
  FINPREP_SAMPLES=${FINPREP_SAMPLES:-$native/emulator/samples}
  FINPREP_FREETDS_ODBC_DRIVER=${FINPREP_FREETDS_ODBC_DRIVER:-/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so}
  if [ ! -x "$FINPREP_EMU" ] || [ ! -f "$FINPREP_SAMPLES/sample-one.bak" ]; then
    SKIPPED="finprep-emu or the sample backups were not built ($FINPREP_EMU)"
    return 1
  fi
  if [ ! -f "$FINPREP_FREETDS_ODBC_DRIVER" ]; then
    SKIPPED="FreeTDS's ODBC driver $FINPREP_FREETDS_ODBC_DRIVER is not installed (Debian: tdsodbc)"
    return 1
  fi
}

# Starts `finprep-emu serve` over CASE/data on a free port, and registers FreeTDS as the ODBC
# driver "SQL Server" for the Wine processes of the case (odbc32 hands their calls to unixODBC),
# so that the OLE DB strings of dbfinder.dll connect unchanged.  Sets SERVER, the string for the
# server's master, and SERVER_RESULT, the one the host gets back for VORIRA.
start_server() {
  server_tools || return
  mkdir -p "$CASE/odbc"
  printf '[SQL Server]\nDescription=FreeTDS\nDriver=%s\n' "$FINPREP_FREETDS_ODBC_DRIVER" \
    >"$CASE/odbc/odbcinst.ini"
  : >"$CASE/odbc/odbc.ini"
  export ODBCSYSINI=$CASE/odbc ODBCINI=$CASE/odbc/odbc.ini
  "$FINPREP_EMU" serve "$CASE/data" --port 0 --password "$SERVER_PASSWORD" --exit-with-parent \
    >"$CASE/listener.out" 2>"$CASE/listener.log" </dev/null &
  LISTENER=$!
  local port="" i
  for i in $(seq 100); do
    port=$(sed -n 's/.* on 127\.0\.0\.1:\([0-9]*\),.*/\1/p' "$CASE/listener.out")
    [ -n "$port" ] && break
    kill -0 "$LISTENER" 2>/dev/null || break
    sleep 0.1
  done
  if [ -z "$port" ]; then
    fail "the listener did not start"
    stop_server
    return 1
  fi
  SERVER="$LOGIN;Password=\"$SERVER_PASSWORD\";Data Source=127.0.0.1,$port"
  SERVER_RESULT=${SERVER/master/vorira}
}

# Stops the listener, so that its data folder can be read.
stop_server() {
  [ -n "${LISTENER:-}" ] || return 0
  kill "$LISTENER" 2>/dev/null
  wait "$LISTENER" 2>/dev/null
  LISTENER=""
}

# vorira SQL: the rows a statement gives on VORIRA in the listener's data folder, tab-separated.
vorira() {
  "$FINPREP_EMU" query "$CASE/data" VORIRA "$1" 2>>"$CASE/query.err" | tail -n +2
}

# The restored set is the one marked by the account MARKER (code, tab, name).
expect_marker() {
  expect_lines <(vorira "select AccCode, accName from km where AccCode like '999%'") \
    "the marker account of the restored set" "$1"
}

# A backup of the samples' sets: make_sets FILE DB:SCRIPT:FILES...
make_sets() {
  local out=$1 set args=()
  shift
  for set in "$@"; do
    IFS=: read -r db script files <<<"$set"
    args+=(--set "$db" "$FINPREP_SAMPLES/$script" --files "$files")
  done
  "$FINPREP_EMU" backup "$out" "${args[@]}" >/dev/null 2>>"$CASE/query.err" ||
    fail "finprep-emu could not build $out"
}

SERVER_SCREEN=("$DIALOG_OWNER" "$FIRST_LABEL" "$RESTORE_LABEL")

# A whole run: the host gets the string for VORIRA, which holds the views and the item tables
# with the rows of the backup's one set; the staged copy is gone and nothing is reported.
case_host_server_run() {
  make_case host
  start_server || return
  printf 'GetSqlHinstance=%s\n' "$SERVER" >"$CASE/dbfinder.txt"
  run_host "$BASE" "$(winpath "$FINPREP_SAMPLES/sample-one.bak")" ""
  stop_server
  expect_host "$SERVER_RESULT"
  expect_lines "$CASE/calls.txt" "the calls of dbfinder.dll" load GetSqlHinstance unload
  expect_screen "${SERVER_SCREEN[@]}"
  [ ! -e "$CASE/hostlog.txt" ] || fail "the host log was written"
  [ ! -e "$STAGED" ] || fail "the staged copy is left"
  local object counts=()
  for object in km BAL pz aidInfo aidBal aidVour; do
    counts+=("$object $(vorira "select count(*) from $object")")
  done
  expect_lines <(printf '%s\n' "${counts[@]}") "the rows of the views and item tables in VORIRA" \
    "km 7" "BAL 4" "pz 8" "aidInfo 8" "aidBal 3" "aidVour 6"
  expect_marker $'9991\t账套2021'
}

# Three sets whose logical file names differ: the user ticks set 1, then set 3 (which unticks
# 1), and presses Enter; the restore takes set 3 with its own files.
case_host_server_chooser() {
  make_case host
  start_server || return
  make_sets "$CASE/three.bak" CW2021:set1.sql:A_Data:D,A_Log:L CW2022:set2.sql:B_Data:D,B_Log:L \
    CW2023:set3.sql:C_Data:D,C_Log:L
  printf 'GetSqlHinstance=%s\n' "$SERVER" >"$CASE/dbfinder.txt"
  run_host --tick 1,3 "$BASE" "$(winpath "$CASE/three.bak")" ""
  stop_server
  expect_host "$SERVER_RESULT"
  expect_screen "${SERVER_SCREEN[@]}" "chooser owner: 财务备份预处理, disabled" \
    "chooser row: 1 CW2021" "chooser row: 2 CW2022" "chooser row: 3 CW2023" \
    "clicked the box of 1, ticked: 1" "clicked the box of 3, ticked: 3" "pressed Enter"
  [ ! -e "$CASE/hostlog.txt" ] || fail "the host log was written"
  [ ! -e "$STAGED" ] || fail "the staged copy is left"
  expect_marker $'9993\t账套2023'
}

# The work folder's vorira.mdf belongs to another database, a copy restored there earlier under
# another name: the server will not overwrite it.  The log gets the plug-in's words followed by
# the server's text, the host gets "0", the staged copy is gone and the other database is intact.
case_host_server_restore_fails() {
  make_case host
  server_tools || return
  local backup work
  backup=$(winpath "$FINPREP_SAMPLES/sample-one.bak")
  work=$(winpath "$CASE/base/TempLateTemp")
  "$FINPREP_EMU" query "$CASE/data" master "restore database OLDCOPY from disk='$backup' with
    move 'CW_Data' to '$work\\vorira.mdf', move 'CW_Log' to '$work\\oldcopy.ldf'" \
    >/dev/null 2>"$CASE/oldcopy.err" ||
    fail "OLDCOPY could not be restored into the work folder: $(cat "$CASE/oldcopy.err")"
  start_server || return
  printf 'GetSqlHinstance=%s\n' "$SERVER" >"$CASE/dbfinder.txt"
  run_host "$BASE" "$(winpath "$FINPREP_SAMPLES/sample-one.bak")" ""
  stop_server
  expect_host 0
  # The server's messages in order, joined by line breaks (which the double writes as \n).
  local mdf="$work\\vorira.mdf" text
  text="The file '$mdf' cannot be overwritten.  It is being used by database 'OLDCOPY'."
  text+="\\nFile 'CW_Data' cannot be restored to '$mdf'. Use WITH MOVE to identify a valid"
  text+=" location for the file."
  text+="\\nProblems were identified while planning for the RESTORE statement. Previous messages"
  text+=" provide details."
  text+="\\nRESTORE DATABASE is terminating abnormally."
  expect_log "不能还原数据库，创建失败$text"
  expect_screen "${SERVER_SCREEN[@]}"
  expect_lines "$CASE/calls.txt" "the calls of dbfinder.dll" load GetSqlHinstance unload
  [ ! -e "$STAGED" ] || fail "the staged copy is left"
  expect_lines <("$FINPREP_EMU" query "$CASE/data" OLDCOPY \
    "select AccCode from t_Account where AccCode like '999%'" 2>>"$CASE/query.err") \
    "OLDCOPY after the run" AccCode 9991
}

# The first string's password is refused: the string from ShowSqlinstance connects, and the run
# succeeds with it.
case_host_server_second_string() {
  make_case host
  start_server || return
  printf 'GetSqlHinstance=%s\nShowSqlinstance=%s\n' \
    "${SERVER/Password=\"$SERVER_PASSWORD\"/Password=wrong}" "$SERVER" >"$CASE/dbfinder.txt"
  run_host "$BASE" "$(winpath "$FINPREP_SAMPLES/sample-one.bak")" ""
  stop_server
  expect_host "$SERVER_RESULT"
  expect_lines "$CASE/calls.txt" "the calls of dbfinder.dll" \
    load GetSqlHinstance ShowSqlinstance unload
  grep -q "login of 'sa' refused" "$CASE/listener.log" ||
    fail "the listener did not refuse the first login"
  [ ! -e "$CASE/hostlog.txt" ] || fail "the host log was written"
  expect_marker $'9991\t账套2021'
}

run_case() {
  use_run "$1"
  MINGW=$2
  NAME=$3
  TOOLS=$MINGW/wine-tests
  check_prerequisites "$MINGW" || return
  if [ ! -r "$STATE" ]; then
    say "FAIL: the Wine run in $RUN is not set up (run the wine.setup test first)"
    return 1
  fi
  local function=case_${NAME//./_}
  if ! declare -F "$function" >/dev/null; then
    say "FAIL: no case named $NAME"
    return 1
  fi
  SERVICE_USED=0
  SKIPPED=""
  LISTENER=""
  "$function"
  stop_server
  if [ -n "$SKIPPED" ]; then
    say "SKIPPED: $SKIPPED"
    return $SKIP
  fi
  if [ "$SERVICE_USED" -eq 1 ] && ! service remove >/dev/null; then
    fail "the service could not be removed"
  fi
  show_outputs
  if [ "$failures" -gt 0 ]; then
    say "$NAME: $failures check(s) failed"
    return 1
  fi
  say "$NAME: passed"
}

# ---- Screenshots ----

# in_screenshot_run MINGW_DIR FUNCTION ARGS...: runs the function in a Wine run of its own (made
# and removed here), with CASE set up for the host-instance edition.
in_screenshot_run() {
  local mingw=$1 function=$2 run rc
  shift 2
  check_prerequisites "$mingw" || return
  run=$(mktemp -d "${TMPDIR:-/tmp}/finprep-wine.XXXXXX")
  if ! setup "$run" "$mingw"; then
    teardown "$run" >/dev/null
    rm -rf "$run"
    return 1
  fi
  use_run "$run"
  MINGW=$mingw TOOLS=$mingw/wine-tests NAME=screenshot LISTENER=""
  make_case host
  "$function" "$@"
  rc=$?
  stop_server
  teardown "$run" >/dev/null
  rm -rf "$run"
  return $rc
}

# The progress dialog during the copy.
progress_picture() {
  local out=$1
  # The copy goes in 1 KiB steps with a repaint after each: under Wine a file of this size
  # keeps the dialog up long enough to catch the bar on its way.
  local size=$((32 << 20)) host i
  BACKUP=$CASE/backup.bak
  truncate -s $size "$BACKUP"
  "$WINE" "$CASE/host/testhost.exe" "$BASE" "$(winpath "$BACKUP")" "" >"$CASE/host.out" 2>&1 &
  host=$!
  local ok=1
  for i in $(seq 1200); do
    [ -s "$STAGED" ] && [ "$(stat -c %s "$STAGED")" -gt $((size * 45 / 100)) ] && break
    sleep 0.1
  done
  [ "$i" -lt 1200 ] || { say "the copy did not get half way in two minutes"; ok=0; }
  # The dialog is centred on the 1024x768 desktop; the picture is the middle of it.
  [ "$ok" -eq 1 ] && { /usr/bin/import -display "$DISPLAY" -window root \
    -crop 480x240+272+264 +repage "$out" || ok=0; }
  kill "$host" 2>/dev/null
  wait "$host" 2>/dev/null
  [ "$ok" -eq 1 ]
}

# The chooser over the progress dialog, with the three sets of the samples and set 2 ticked,
# on the emulator's TDS listener.
chooser_picture() {
  local out=$1
  if ! start_server; then
    say "${SKIPPED:-the listener did not start}"
    return 1
  fi
  printf 'GetSqlHinstance=%s\n' "$SERVER" >"$CASE/dbfinder.txt"
  local ready=$CASE/watch.ready stop=$CASE/watch.stop enter=$CASE/enter watcher host i ok=1
  timeout $((CASE_TIMEOUT + 30)) "$WINE" "$TOOLS/uiwatch.exe" "$(winpath "$ready")" \
    "$(winpath "$stop")" --tick 2 --before-enter "$(winpath "$enter")" >"$CASE/watch.out" 2>&1 \
    </dev/null &
  watcher=$!
  for i in $(seq 200); do
    [ -e "$ready" ] && break
    sleep 0.05
  done
  timeout "$CASE_TIMEOUT" "$WINE" "$CASE/host/testhost.exe" "$BASE" \
    "$(winpath "$FINPREP_SAMPLES/sample.bak")" "" >"$CASE/host.out" 2>&1 </dev/null &
  host=$!
  for i in $(seq 600); do
    grep -q '^waiting before Enter' "$CASE/watch.out" && break
    sleep 0.1
  done
  if [ "$i" -eq 600 ]; then
    say "the chooser did not come up in a minute:"
    cat "$CASE/watch.out" "$CASE/host.out"
    ok=0
  fi
  # Time for the ticked row to be drawn.
  sleep 1
  [ "$ok" -eq 1 ] && { /usr/bin/import -display "$DISPLAY" -window root \
    -crop 400x280+312+244 +repage "$out" || ok=0; }
  : >"$enter"
  wait "$host"
  : >"$stop"
  wait "$watcher"
  [ "$ok" -eq 1 ]
}

screenshot() {
  in_screenshot_run "$1" progress_picture "$2" && say "wrote $2"
}

# The staging copy of the host-instance DLL under Wine against a plain file copy (Wine's
# CopyFileW through cmd's copy) of the same file in the same prefix, in MiB/s and as a ratio.
copy_speed() {
  local mib=$1 size=$(($1 << 20)) host i t0="" t1="" b0 b1
  BACKUP=$CASE/backup.bak
  head -c "$size" /dev/urandom >"$BACKUP"
  b0=$(date +%s.%N)
  "$WINE" cmd /c copy /y "$(winpath "$BACKUP")" "$(winpath "$CASE/plain.copy")" >/dev/null 2>&1
  b1=$(date +%s.%N)
  cmp -s "$BACKUP" "$CASE/plain.copy" || { say "the plain copy differs from its source"; return 1; }
  "$WINE" "$CASE/host/testhost.exe" "$BASE" "$(winpath "$BACKUP")" "" >"$CASE/host.out" 2>&1 &
  host=$!
  for i in $(seq 30000); do
    [ -z "$t0" ] && [ -e "$STAGED" ] && t0=$(date +%s.%N)
    if [ -n "$t0" ] && [ "$(stat -c %s "$STAGED" 2>/dev/null || echo 0)" -ge "$size" ]; then
      t1=$(date +%s.%N)
      break
    fi
    sleep 0.02
  done
  kill "$host" 2>/dev/null
  wait "$host" 2>/dev/null
  [ -n "$t1" ] || { say "the staging copy did not finish in ten minutes"; return 1; }
  awk -v mib="$mib" -v b0="$b0" -v b1="$b1" -v t0="$t0" -v t1="$t1" 'BEGIN {
    plain = b1 - b0; staged = t1 - t0
    printf "%d MiB: plain copy %.2f s (%.1f MiB/s), staging copy %.2f s (%.1f MiB/s), ratio %.1f\n",
      mib, plain, mib / plain, staged, mib / staged, staged / plain
  }'
}

chooser_screenshot() {
  in_screenshot_run "$1" chooser_picture "$2" && say "wrote $2"
}

case ${1:-} in
  setup) setup "$2" "${3:-}" ;;
  teardown) teardown "$2" ;;
  case) run_case "$2" "$3" "$4" ;;
  screenshot) screenshot "$2" "$3" ;;
  copy-speed) in_screenshot_run "$2" copy_speed "${3:-32}" ;;
  chooser-screenshot) chooser_screenshot "$2" "$3" ;;
  *)
    say "usage: $0 setup RUN_DIR MINGW_DIR | case RUN_DIR MINGW_DIR NAME | teardown RUN_DIR" \
      "| screenshot MINGW_DIR OUT.png | chooser-screenshot MINGW_DIR OUT.png" \
      "| copy-speed MINGW_DIR [MIB]"
    exit 2
    ;;
esac
