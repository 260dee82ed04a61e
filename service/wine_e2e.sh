#!/usr/bin/env bash
# End-to-end run of the Windows build as a real service under Wine: the demo's
# Wine form (-i, started by the Service Control Manager, cycles against the
# native web farm through WinINet, -k, -u), then checks of what it left: the
# registry in the 32-bit view only, the log beside the program, every planted
# log on the web farm or on disk. The first update check is due an hour of
# virtual time after the metadata load, so the run takes 100 cycles. Run by ./dev test with WINEPREFIX set.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
: "${WINEPREFIX:?WINEPREFIX must name a ready prefix}"
OUT=$ROOT/build/win64/wine_e2e.out
if [ -z "${CHECK_ONLY:-}" ]; then
  DEMO_CYCLES=${DEMO_CYCLES:-100} "$ROOT/webfarm/demo.sh" --wine >"$OUT" 2>&1 || { cat "$OUT"; exit 1; }
fi

FAILS=0
check() {  # description, command...
  local what=$1; shift
  if "$@" >/dev/null 2>&1; then echo "ok   $what"; else echo "FAIL $what"; FAILS=$((FAILS + 1)); fi
}
C=$WINEPREFIX/drive_c
LOG="$C/Program Files/Inkora Updater/InkoraUpdater.log"
TOGO="$C/ProgramData/Quorvex/Inkora/Customer Improvement/togo"
RECEIVED=$ROOT/build/demo-wine/farm/received
SK='HKLM\SOFTWARE\Quorvex\InkoraUpdater'
PK='HKLM\SOFTWARE\Quorvex\Inkora'
query() { wine reg query "$1" /v "$2" "/reg:$3" 2>/dev/null | tr -d '\r' | grep -q "$4"; }

check "installed by -i" grep -q "Install()-Service InkoraUpdater installed" "$LOG"
check "ran its cycles as a service" grep -q "Sleeping for timeout period:  60 seconds" "$LOG"
check "stopped by the manager on -k" grep -q "ServiceControlHandler()-SERVICE_CONTROL_STOP" "$LOG"
check "removed by -u" grep -q "UnInstall()-Service InkoraUpdater removed" "$LOG"
check "the service is gone from the manager" bash -c "! grep -q RUNNING '$ROOT/build/demo-wine/sc-query-after-remove.txt'"
check "one service process ran, the one -s started" test "$(grep -c 'ExecuteSubProcess()----START---' "$LOG")" -eq 1
check "MetadataVer in the 32-bit view" query "$SK" MetadataVer 32 "1-0-7"
check "MetadataVer absent from the 64-bit view" bash -c "! wine reg query '$SK' /v MetadataVer /reg:64 >/dev/null 2>&1"
check "NextVersion from the newer metadata" query "$PK" NextVersion 32 "1.0.10"
check "LastCheck written" query "$SK" LastCheck 32 "LastCheck"
check "an update check was posted" grep -q "CClientInfo::UpdateCheck()----END---" "$LOG"
check "usage log sent and kept as .old" test -f "$TOGO/usage-0002.old" -a ! -f "$TOGO/usage-0002.jlog"
check "crash log sent and deleted" test ! -f "$TOGO/crash-0001.err" -a ! -f "$TOGO/crash-0001.old"
check "the farm holds the crash log" grep -rqs "access violation" "$RECEIVED"
check "the farm holds the usage log" grep -rqs '"events":\["print"\]' "$RECEIVED"
check "installer log sent without CR, LF or tab" grep -rqs "Install startedstep 1 okInstall finished" "$RECEIVED"
check "symbol file refreshed to 2.0" grep -q 'version="2.0"' "$C/users/Alice/AppData/Roaming/Quorvex/Inkora/xml_symbols.xml"
[ $FAILS -eq 0 ] || { echo "--- demo output"; cat "$OUT"; echo "--- log tail"; tail -n 40 "$LOG"; exit 1; }
echo "wine end-to-end: all checks passed"
