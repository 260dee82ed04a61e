#!/usr/bin/env bash
# The main job: the updater against the bundled web farm on loopback, fast-
# forwarded, then a short report. Builds nothing (./dev demo builds first).
#   webfarm/demo.sh           Linux build: the program in the foreground, stopped by SIGTERM
#   webfarm/demo.sh --wine    Windows build as a real service under Wine (-i, running, -k, -u)
# DEMO_CYCLES (default 150) cycles of one virtual minute; DEMO_FACTOR (default 6000).
# SIGNING_KEY (./dev demo sets it): the private key the farm signs with, whose
# public half is built into the updater; the report then requires the metadata
# and the definition file to have been verified.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
WINE=0
[ "${1:-}" = "--wine" ] && WINE=1
BUILD=${BUILD:-$ROOT/build/default}
CYCLES=${DEMO_CYCLES:-150}
FACTOR=${DEMO_FACTOR:-6000}
DEMO=${DEMO_DIR:-$ROOT/build/demo$([ $WINE = 1 ] && echo -wine || true)}
FARM_BIN=$BUILD/webfarm/inkora_webfarm
HIVE_TOOL=$BUILD/settings/inkora_hive
PROGRAM=$BUILD/service/InkoraUpdater.bin
WIN_PROGRAM=${WIN_PROGRAM:-$ROOT/build/win64/service/InkoraUpdater.exe}
GUID="{8E2B5C4A-1D3F-4A6B-9C8D-7E6F5A4B3C2D}"
USERID="{11111111-2222-3333-4444-555555555555}"

say() { printf '\033[1m[demo]\033[0m %s\n' "$*" >&2; }
die() { say "$*"; exit 1; }
for f in "$FARM_BIN" "$HIVE_TOOL" "$PROGRAM"; do [ -x "$f" ] || die "missing $f (run ./dev demo, which builds first)"; done
[ $WINE = 0 ] || [ -f "$WIN_PROGRAM" ] || die "missing $WIN_PROGRAM (run ./dev demo-wine)"

rm -rf "$DEMO"
mkdir -p "$DEMO/farm" "$DEMO/root/bin"

# --- The web farm's ready state: newer metadata, a definition file, and the
# update-check answer asking for usage and crash logs. ----------------------
cat > "$DEMO/farm/metadata.json" <<JSON
{"mv_ver":"1-0-7","sv_ver":"1.0.13.0","in_ver":"1.0.10","df_ver":"2.0","uc_url":"@BASE@/Teko/uc",
 "puc_url":"@BASE@/Teko/puc","log_url":"@BASE@/Teko/usage","log_diag":"0","uc_freq":1,
 "in_url":"@BASE@/downloads/InkoraSetup-1.0.10.exe","sv_url":"@BASE@/downloads/InkoraUpdater.exe",
 "df_url":"@BASE@/Teko/definitions.xml","cr_url":"@BASE@/Teko/crash"}
JSON
cat > "$DEMO/farm/answers.json" <<JSON
{"mv_url":"@BASE@/Teko/metadata/1-0-7","upload_logs":"true","crash_logs":"true"}
JSON
printf '<symbols version="2.0">\n  <symbol name="demo"/>\n</symbols>\n' > "$DEMO/farm/definitions.xml"

SIGN=()
[ -n "${SIGNING_KEY:-}" ] && SIGN=(--signing-key "$SIGNING_KEY")
"$FARM_BIN" --state "$DEMO/farm" "${SIGN[@]}" > "$DEMO/farm.out" 2>&1 &
FARM_PID=$!
cleanup() { kill "$FARM_PID" 2>/dev/null || true; [ -n "${SERVICE_PID:-}" ] && kill -9 "$SERVICE_PID" 2>/dev/null || true; }
trap cleanup EXIT
for _ in $(seq 100); do grep -q "listening on" "$DEMO/farm.out" 2>/dev/null && break; sleep 0.1; done
BASE=$(grep -o 'http://127.0.0.1:[0-9]*' "$DEMO/farm.out" | head -n1)
[ -n "$BASE" ] || die "the web farm did not start: $(cat "$DEMO/farm.out")"
HOSTPORT=${BASE#http://}
# The farm hands out URLs on its own address. It loads its state files when
# they are written, so they go through its control call.
for f in metadata.json answers.json; do
  sed "s|@BASE@|$BASE|g" "$DEMO/farm/$f" | curl -sf --noproxy '*' -H 'Content-Type: application/json' --data-binary @- \
    "$BASE/_control/state?file=$f" >/dev/null || die "the web farm did not take $f"
done
say "web farm on $BASE (state in $DEMO/farm)"

# --- The machine as the product leaves it. -------------------------------------
plant_files() {  # common-appdata folder, users folder
  local appdata=$1 users=$2 togo="$1/Quorvex/Inkora/Customer Improvement/togo"
  rm -rf "$appdata/Quorvex" "$users/Alice"  # nothing left from an earlier run
  mkdir -p "$togo" "$users/Alice/AppData/Roaming/Quorvex/Inkora"
  printf 'CID=%s\r\nUID=%s' "{00000000-0000-0000-0000-000000000000}" "$USERID" > "$appdata/Quorvex/Inkora/Inkora.ID"
  printf '{"cid":"","uid":"","session":1,"events":["open","save"]}' > "$togo/usage-0001.jlog"
  printf '{"cid":"%s","uid":"%s","session":2,"events":["print"]}' "$GUID" "$USERID" > "$togo/usage-0002.jlog"
  printf '{"cid":"%s","uid":"%s","crash":"access violation"}' "$GUID" "$USERID" > "$togo/crash-0001.err"
  printf 'Install started\r\n\tstep 1 ok\r\nInstall finished\r\n' > "$togo/InkoraInstall_1.0.5.log"
  printf 'not an installer log' > "$togo/other.log"
  printf '<symbols version="1.0"/>\n' > "$users/Alice/AppData/Roaming/Quorvex/Inkora/xml_symbols.xml"
}

count() { local n; n=$(grep -c "$1" "$2" 2>/dev/null) || true; echo "${n:-0}"; }

report() {  # log file, togo folder, symbol file, getter command...
  local log=$1 togo=$2 symbols=$3; shift 3
  local get=("$@")
  echo
  echo "================ InkoraUpdater demo report ================"
  echo "cycles run:            $(count 'Sleeping for timeout period' "$log")"
  echo "first calls:           $(count 'Need to make first call' "$log")"
  echo "update checks:         $(count 'CClientInfo::UpdateCheck()----START---' "$log")"
  echo "settings stored:"
  local v
  for v in MetadataVer UpdateFreq LastCheck UpdateCheckUrl PostInstUrl UsgLogUrl CrashLogUrl DefinitionUrl; do
    printf '  %-16s %s\n' "$v" "$("${get[@]}" service "$v" 2>/dev/null || echo '(absent)')"
  done
  for v in NextVersion NextVersionURL ComputerID; do
    printf '  %-16s %s\n' "$v" "$("${get[@]}" product "$v" 2>/dev/null || echo '(absent)')"
  done
  local last; last=$("${get[@]}" service LastCheck 2>/dev/null || true)
  [ -n "$last" ] && printf '  %-16s %s\n' "(LastCheck is)" "$(date -u -d "@$((16#$last))" '+%Y-%m-%d %H:%M:%S UTC, virtual clock')"
  echo "files planted, and what became of each:"
  # What the run must prove; each miss is named in the verdict.
  local missed=() f name fate want
  [ "$(count 'Need to make first call' "$log")" -ge 1 ] && compgen -G "$DEMO/farm/received/*-first_call-*" >/dev/null \
    || missed+=("no first call")
  [ "$("${get[@]}" product NextVersion 2>/dev/null || true)" = 1.0.10 ] || missed+=("newer version 1.0.10 not found")
  # The four logs the farm asks for go; a file that is no installer log stays.
  for name in usage-0001.jlog usage-0002.jlog crash-0001.err InkoraInstall_1.0.5.log other.log; do
    f="$togo/$name"
    want=sent; [ "$name" = other.log ] && want=kept
    if [ -f "$f" ]; then fate=kept; printf '  %-26s still on disk (not sent, or kept for a retry)\n' "$name"
    elif [ -f "${f%.*}.old" ]; then fate=sent; printf '  %-26s sent, kept as %s\n' "$name" "$(basename "${f%.*}.old")"
    else fate=sent; printf '  %-26s sent and deleted\n' "$name"; fi
    [ "$fate" = "$want" ] || missed+=("$name $fate, not $want")
  done
  local defs; defs=$(grep -o 'version="[^"]*"' "$symbols" || echo '?')
  printf '  %-26s %s\n' "xml_symbols.xml" "$defs (definition refresh)"
  [ "$defs" = 'version="2.0"' ] || missed+=("definition file not refreshed")
  local proved="first call made, newer version 1.0.10 found, 4 planted logs sent and other.log kept, definition file refreshed to 2.0"
  if [ -n "${SIGNING_KEY:-}" ]; then
    local mv df
    mv=$(count 'LoadMetadataFromServer()-Signature of .* verified' "$log")
    df=$(count 'UpdateDefinitionFile()-Signature of .* verified' "$log")
    echo "signatures:            metadata verified $mv time(s), definition file $df time(s), $(count ')-Refused ' "$log") refused"
    [ "$mv" -ge 1 ] || missed+=("metadata not verified")
    [ "$df" -ge 1 ] || missed+=("definition file not verified")
    proved="$proved; metadata and definition file verified against the built-in key"
  else
    echo "signatures:            not checked (this build holds no vendor key)"
  fi
  local received; received=$(find "$DEMO/farm/received" -type f 2>/dev/null | wc -l)
  echo "web farm received:     $received requests, decoded, in $DEMO/farm/received/"
  echo "full log:              $log"
  echo "==========================================================="
  if [ ${#missed[@]} -eq 0 ]; then
    echo "PROVED: $proved"
  else
    local joined; joined=$(printf '%s; ' "${missed[@]}")
    echo "NOT PROVED: ${joined%; }"
    return 1
  fi
}

if [ $WINE = 0 ]; then
  R=$DEMO/root
  cp "$PROGRAM" "$R/bin/InkoraUpdater.bin"
  H() { "$HIVE_TOOL" "$R" "$@"; }
  H set-sz service ProductionHost "$HOSTPORT"
  H set-dword service FastForward "$FACTOR"
  H set-dword service debug 1
  H set-sz product ComputerID "$GUID"
  H set-sz product UserID "$USERID"
  H set-sz product CurrentVersion 1.0.5
  H set-sz product ProductNumber INK-100
  plant_files "$R/ProgramData" "$R/Users"
  say "running the service (INKORA_ROOT=$R, FastForward $FACTOR) for $CYCLES cycles"
  INKORA_ROOT=$R INKORA_UNIT_DIR=$R/units "$R/bin/InkoraUpdater.bin" &
  SERVICE_PID=$!
  LOG=$R/bin/InkoraUpdater.log
  for _ in $(seq 1200); do
    [ "$(count 'Sleeping for timeout period' "$LOG")" -ge "$CYCLES" ] && break
    kill -0 "$SERVICE_PID" 2>/dev/null || die "the service ended by itself; see $LOG"
    sleep 0.1
  done
  say "stopping it with SIGTERM"
  kill -TERM "$SERVICE_PID"
  for _ in $(seq 100); do kill -0 "$SERVICE_PID" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$SERVICE_PID" 2>/dev/null && die "the service did not end after SIGTERM"
  wait "$SERVICE_PID" || true
  SERVICE_PID=
  report "$LOG" "$R/ProgramData/Quorvex/Inkora/Customer Improvement/togo" \
    "$R/Users/Alice/AppData/Roaming/Quorvex/Inkora/xml_symbols.xml" "$HIVE_TOOL" "$R" get
  exit
fi

# --- Under Wine: the Windows build as a real service. ----------------------------
: "${WINEPREFIX:?run through ./dev demo-wine, which makes the Wine prefix}"
C=$WINEPREFIX/drive_c
APP="$C/Program Files/Inkora Updater"   # a path with blanks: the service path is quoted
mkdir -p "$APP"
cp "$WIN_PROGRAM" "$APP/InkoraUpdater.exe"
rm -f "$APP/InkoraUpdater.log"
SK='HKLM\SOFTWARE\Quorvex\InkoraUpdater'
PK='HKLM\SOFTWARE\Quorvex\Inkora'
reg_add() { wine reg add "$1" /v "$2" /t "$3" /d "$4" /f /reg:32 >/dev/null 2>&1; }
wine reg delete "$SK" /f /reg:32 >/dev/null 2>&1 || true
reg_add "$SK" ProductionHost REG_SZ "$HOSTPORT"
reg_add "$SK" FastForward REG_DWORD "$FACTOR"
reg_add "$SK" debug REG_DWORD 1
reg_add "$PK" ComputerID REG_SZ "$GUID"
reg_add "$PK" UserID REG_SZ "$USERID"
reg_add "$PK" CurrentVersion REG_SZ 1.0.5
reg_add "$PK" ProductNumber REG_SZ INK-100
plant_files "$C/ProgramData" "$C/users"
wine_get() {  # key-name value; reg query indents its "name type data" lines
  local key=$SK; [ "$1" = product ] && key=$PK
  wine reg query "$key" /v "$2" /reg:32 2>/dev/null | tr -d '\r' | awk -v n="$2" '$1==n {sub(/^ *[^ ]+ +[^ ]+ +/, ""); print; f=1} END {exit !f}'
}
# A wineserver that stays up for the whole run: Wine counts a service as a
# system process, so without one the server ends a few seconds after the last
# command word, taking the service with it, and the next command word boots a
# new server whose manager starts the auto-start service again.
wineserver -k 2>/dev/null || true
wineserver -p
say "installing (-i) and starting (-s) the service under Wine"
wine "$APP/InkoraUpdater.exe" -i
wine "$APP/InkoraUpdater.exe" -s
LOG="$APP/InkoraUpdater.log"
for _ in $(seq 1800); do
  [ "$(count 'Sleeping for timeout period' "$LOG")" -ge "$CYCLES" ] && break
  sleep 0.1
done
say "stopping (-k) and removing (-u) the service"
wine "$APP/InkoraUpdater.exe" -k
sleep 2
wine "$APP/InkoraUpdater.exe" -u
wine sc query InkoraUpdater > "$DEMO/sc-query-after-remove.txt" 2>&1 || true
wineserver -k 2>/dev/null || true
rc=0
report "$LOG" "$C/ProgramData/Quorvex/Inkora/Customer Improvement/togo" \
  "$C/users/Alice/AppData/Roaming/Quorvex/Inkora/xml_symbols.xml" wine_get || rc=$?
echo "service log lines:     $(grep -c 'Install()\|KillService()\|UnInstall()\|ServiceControlHandler()' "$LOG") (install, stop, remove, controls)"
exit $rc
