#!/usr/bin/env bash
# Idle cost of the service process (Linux build, fast-forwarded): CPU time and
# resident memory over a stretch of cycles in which no check is due, and the
# cost of one cycle. Two runs: debug logging on (every cycle is counted in the
# log) and off (as installed).
#   bench/idle.sh [build dir]          IDLE_SECONDS (default 20), IDLE_FACTOR (default 600)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build/default}
BIN="$BUILD/service/InkoraUpdater.bin"
HIVE="$BUILD/settings/inkora_hive"
RUN_SECONDS=${IDLE_SECONDS:-20}
FACTOR=${IDLE_FACTOR:-600}
for f in "$BIN" "$HIVE"; do [ -x "$f" ] || { echo "missing $f (build first)" >&2; exit 1; }; done
TICKS=$(getconf CLK_TCK)

run_once() {  # debug -> prints "cycles cpu_ms rss_kb hwm_kb"
  local debug=$1 root
  root=$(mktemp -d /tmp/inkora-idle.XXXXXX)
  mkdir -p "$root/bin" "$root/units"
  cp "$BIN" "$root/bin/InkoraUpdater.bin"
  local now; now=$(printf '%x' "$(date +%s)")
  "$HIVE" "$root" set-dword service debug "$debug"
  "$HIVE" "$root" set-dword service FastForward "$FACTOR"
  # Metadata present, checked just now, a day between checks: nothing is due.
  "$HIVE" "$root" set-sz service MetadataVer 1-0-7
  "$HIVE" "$root" set-sz service LastCheck "$now"
  "$HIVE" "$root" set-sz service UpdateFreq 24
  "$HIVE" "$root" set-sz service UpdateCheckUrl http://127.0.0.1:9/uc
  "$HIVE" "$root" set-sz service PostInstUrl http://127.0.0.1:9/puc
  "$HIVE" "$root" set-sz service ProductionHost 127.0.0.1:9
  "$HIVE" "$root" set-sz product ComputerID "{8E2B5C4A-1D3F-4A6B-9C8D-7E6F5A4B3C2D}"
  INKORA_ROOT="$root" INKORA_UNIT_DIR="$root/units" "$root/bin/InkoraUpdater.bin" &
  local pid=$!
  sleep "$RUN_SECONDS"
  local stat utime stime rss hwm
  stat=$(cut -d' ' -f14,15 < "/proc/$pid/stat")
  utime=${stat% *}; stime=${stat#* }
  rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")
  hwm=$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status")
  kill -TERM "$pid"; wait "$pid" || true
  local cycles=0
  if [ -f "$root/bin/InkoraUpdater.log" ]; then
    cycles=$(grep -c "Sleeping for timeout period" "$root/bin/InkoraUpdater.log" || true)
  else
    # Without the log: the cycles the sleeps allow (an upper bound).
    cycles=$(( RUN_SECONDS * FACTOR / 60 ))
  fi
  echo "$cycles $(( (utime + stime) * 1000 / TICKS )) $rss $hwm"
  rm -rf "$root"
}

printf '%-10s %8s %10s %12s %10s %10s\n' "debug log" cycles "CPU ms" "CPU us/cycle" "RSS KiB" "peak KiB"
for debug in 1 0; do
  read -r cycles cpu rss hwm < <(run_once "$debug")
  per=$(( cycles > 0 ? cpu * 1000 / cycles : 0 ))
  printf '%-10s %8s %10s %12s %10s %10s\n' "$([ "$debug" = 1 ] && echo on || echo off)" "$cycles" "$cpu" "$per" "$rss" "$hwm"
done
echo "($RUN_SECONDS s of real time per run, FastForward $FACTOR: one 60 s cycle sleeps $(( 60000 / FACTOR )) ms)"
