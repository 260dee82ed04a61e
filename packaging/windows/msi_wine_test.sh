#!/usr/bin/env bash
# The Windows installer package under Wine: msiexec /i installs the program and
# registers and starts the service, which then makes its first call to a web
# farm of its own; a package of a higher version installs over it, replacing
# the program and keeping the settings; msiexec /x removes service and program
# folder and keeps the settings. Run by ./dev's Windows suite, or by hand:
#   WINEPREFIX=ready-prefix packaging/windows/msi_wine_test.sh
# WIN_BUILD (default build/win64) holds the program and the package CMake made
# from it (target inkora_msi); FARM_BIN (default the ASan tree's) is the farm.
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$(pwd)
: "${WINEPREFIX:?WINEPREFIX must name a ready prefix}"
export WINEDEBUG=-all WINEARCH=win64
WIN_BUILD=${WIN_BUILD:-$ROOT/build/win64}
FARM_BIN=${FARM_BIN:-$ROOT/build/asan/webfarm/inkora_webfarm}
WORK=${WORK:-$ROOT/build/msi-wine}
VERSION=$(sed -n 's/^project(InkoraUpdater VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
WIN_PROGRAM=$WIN_BUILD/service/InkoraUpdater.exe
MSI=$WIN_BUILD/InkoraUpdater-$VERSION-x64.msi
for f in "$WIN_PROGRAM" "$MSI" "$FARM_BIN"; do [ -f "$f" ] || { echo "missing $f" >&2; exit 1; }; done
rm -rf "$WORK"; mkdir -p "$WORK/farm"
# The newer package: the third field up (the fourth does not count), and a
# program that differs in its bytes, so its replacing the old one shows.
IFS=. read -r major minor build _ <<<"$VERSION"
NEXT=$major.$minor.$((build + 1)).0
cp "$WIN_PROGRAM" "$WORK/next.exe"
printf 'next' >> "$WORK/next.exe"  # data past the image: still the same program
"$ROOT/packaging/windows/make_msi.sh" "$NEXT" "$WORK/next.exe" "$WORK/InkoraUpdater-$NEXT-x64.msi"

"$FARM_BIN" --state "$WORK/farm" >"$WORK/farm.out" 2>&1 &
FARM_PID=$!
cleanup() {
  kill "$FARM_PID" 2>/dev/null || true
  wineserver -k 2>/dev/null || true  # ends the service with the server
}
trap cleanup EXIT
for _ in $(seq 100); do grep -q "listening on" "$WORK/farm.out" 2>/dev/null && break; sleep 0.1; done
BASE=$(grep -o 'http://127.0.0.1:[0-9]*' "$WORK/farm.out" | head -n1)
[ -n "$BASE" ] || { echo "the web farm did not start: $(cat "$WORK/farm.out")" >&2; exit 1; }

FAILS=0
check() {  # description, command...
  local what=$1; shift
  if "$@" >/dev/null 2>&1; then echo "ok   $what"; else echo "FAIL $what"; FAILS=$((FAILS + 1)); fi
}
APP="$WINEPREFIX/drive_c/Program Files/Inkora Updater"
LOG="$APP/InkoraUpdater.log"
SK='HKLM\SOFTWARE\Quorvex\InkoraUpdater'
SVC='HKLM\System\CurrentControlSet\Services\InkoraUpdater'
UNINSTALL='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
value() {  # key value [view]: the data of a value, or a failure
  # Asked up to three times: a query under load once came back empty.
  local i
  for i in 1 2 3; do
    wine reg query "$1" /v "$2" ${3:+/reg:$3} 2>/dev/null | tr -d '\r' |
      awk -v n="$2" '$1==n {sub(/^ *[^ ]+ +[^ ]+ +/, ""); print; f=1} END {exit !f}' && return 0
    sleep 1
  done
  return 1
}
is() { [ "$(value "$1" "$2" "${4:-}")" = "$3" ]; }  # key value expected [view]
products() {  # the uninstall entries of the package, one key a line
  wine reg query "$UNINSTALL" /s 2>/dev/null | tr -d '\r' |
    awk '/^HKEY/ {k=$0} $1=="DisplayName" && /Inkora Updater/ {print k}'
}
running() { wine sc query InkoraUpdater 2>/dev/null | tr -d '\r' | grep -q 'STATE.*RUNNING'; }
msiexec() {  # /i or /x, package, step: silent; its log and Wine's output in WORK
  wine msiexec "$1" "$(winepath -w "$2")" /qn /l*v "$(winepath -w "$WORK/$3.log")" 2>"$WORK/$3.trace"
}
first_calls() { find "$WORK/farm/received" -name '*first_call*' 2>/dev/null | wc -l; }
wait_for() {  # seconds, command...: true once the command holds
  local n=$(( $1 * 10 )); shift
  for _ in $(seq "$n"); do "$@" && return 0; sleep 0.1; done
  return 1
}

# One server for the whole run: Wine counts a service as a system process, and
# a server that ended after a command would take the service with it.
wineserver -k 2>/dev/null || true
wineserver -p
# Nothing left from an earlier run: no package, no service, settings for the farm.
for key in $(products); do wine msiexec /x "${key##*\\}" /qn >/dev/null 2>&1 || true; done
wine sc stop InkoraUpdater >/dev/null 2>&1 || true
wine sc delete InkoraUpdater >/dev/null 2>&1 || true
rm -rf "$APP"
wine reg delete "$SK" /f /reg:32 >/dev/null 2>&1 || true
for v in "ProductionHost REG_SZ ${BASE#http://}" "debug REG_DWORD 1" "FastForward REG_DWORD 600"; do
  read -r name type data <<<"$v"
  wine reg add "$SK" /v "$name" /t "$type" /d "$data" /f /reg:32 >/dev/null 2>&1
done

# --- install ------------------------------------------------------------------
# Process traces show the command line the failure actions go out with, and sc
# reports a service it cannot open or actions it cannot parse on its channel.
WINEDEBUG=+process,warn+sc,trace+sc check "msiexec /i succeeded" msiexec /i "$MSI" install
check "msiexec /i installed the program" test -f "$APP/InkoraUpdater.exe"
check "one product registered" test "$(products | grep -c .)" -eq 1
check "registered as $VERSION" is "$(products | head -n1)" DisplayVersion "$VERSION"
image=$(value "$SVC" ImagePath || true)
check "the service names the installed program" \
  test "${image//\"/}" = 'C:\Program Files\Inkora Updater\InkoraUpdater.exe'
if [ "$image" = '"C:\Program Files\Inkora Updater\InkoraUpdater.exe"' ]; then
  echo "ok   its path is quoted"
else
  echo "note Wine's installer writes the service path unquoted: $image"
fi
check "automatic start" is "$SVC" Start 0x2
check "own process, interactive, as -i makes it" is "$SVC" Type 0x110
check "runs as LocalSystem" is "$SVC" ObjectName LocalSystem
check "display name" is "$SVC" DisplayName "Inkora Updater"
check "description" is "$SVC" Description \
  "Updates your Inkora software to ensure that you always have the latest features."
check "failure actions handed to the manager's tool" grep -q \
  'cmdline L"C:\\\\windows\\\\system32\\\\sc.exe failure InkoraUpdater reset= 86400 actions= restart/60000/restart/60000/restart/60000//0"' \
  "$WORK/install.trace"
check "and taken once the service existed" bash -c "! grep -q ':sc:' '$WORK/install.trace'"
check "the service started at install" wait_for 10 running
check "and made its first call to the web farm" wait_for 20 test "$(first_calls)" -ge 1
starts() { grep -c 'ExecuteSubProcess()----START---' "$LOG" 2>/dev/null || true; }
check "one service process so far" test "$(starts)" -eq 1

# --- upgrade --------------------------------------------------------------------
echo "diagnostic history before the upgrade" >> "$LOG"
check "msiexec /i of the newer package succeeded" msiexec /i "$WORK/InkoraUpdater-$NEXT-x64.msi" upgrade
check "it replaced the older: one product" test "$(products | grep -c .)" -eq 1
check "registered as $NEXT" is "$(products | head -n1)" DisplayVersion "$NEXT"
check "the program replaced" cmp -s "$WORK/next.exe" "$APP/InkoraUpdater.exe"
check "the service runs again" wait_for 10 running
check "restarted once, by the upgrade" wait_for 10 test "$(starts)" -eq 2
check "the diagnostic log kept" grep -q "diagnostic history before the upgrade" "$LOG"
check "settings kept by the upgrade" is "$SK" ProductionHost "${BASE#http://}" 32

# --- uninstall ------------------------------------------------------------------
check "msiexec /x succeeded" msiexec /x "$WORK/InkoraUpdater-$NEXT-x64.msi" remove
check "the service is gone" bash -c "! wine reg query '$SVC' >/dev/null 2>&1"
check "the manager knows it no more" bash -c "! wine sc query InkoraUpdater 2>/dev/null | grep -q STATE"
check "the program folder is gone" test ! -e "$APP"
check "no product registered" test -z "$(products)"
check "settings kept by the uninstall" is "$SK" ProductionHost "${BASE#http://}" 32
check "and the service's own" is "$SK" debug 0x1 32

wine reg delete "$SK" /f /reg:32 >/dev/null 2>&1 || true  # the suites after this one start clean
[ $FAILS -eq 0 ] || { echo "--- logs in $WORK"; tail -n 20 "$LOG" 2>/dev/null || true; exit 1; }
echo "msi under Wine: all checks passed"
