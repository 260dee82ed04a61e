#!/usr/bin/env bash
# Idle cost of the service process (Linux build, fast-forwarded): CPU time,
# resident memory and wake-ups over a stretch of cycles in which no check is
# due. Two runs: debug logging on (every cycle is counted in the log) and off
# (as installed).
#   bench/idle.sh [build dir]    IDLE_SECONDS (default 20), IDLE_FACTOR (default 600),
#                                IDLE_QUIET_SECONDS (default 10)
# Wake-ups are context switches of every thread (/proc/PID/task/*/status,
# voluntary and not) over the run after its first second. A fast-forwarded run
# shortens the sleeps but not a timer of the host, so a third run without fast
# forward, short enough that no cycle ends in it, measures the wake-ups that
# come with time alone; a real minute is those for 60 s plus one cycle's.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build/default}
BIN="$BUILD/service/InkoraUpdater.bin"
HIVE="$BUILD/settings/inkora_hive"
RUN_SECONDS=${IDLE_SECONDS:-20}
FACTOR=${IDLE_FACTOR:-600}
QUIET_SECONDS=${IDLE_QUIET_SECONDS:-10}
for f in "$BIN" "$HIVE"; do [ -x "$f" ] || { echo "missing $f (build first)" >&2; exit 1; }; done
TICKS=$(getconf CLK_TCK)

switches() {  # pid -> context switches of all its threads so far
  cat /proc/"$1"/task/*/status 2>/dev/null | awk '/ctxt_switches/ {n += $2} END {print n + 0}'
}

run_once() {  # debug factor seconds -> prints "cycles cpu_ms rss_kb hwm_kb wakeups window_s"
  local debug=$1 factor=$2 seconds=$3 root
  root=$(mktemp -d /tmp/inkora-idle.XXXXXX)
  mkdir -p "$root/bin" "$root/units"
  cp "$BIN" "$root/bin/InkoraUpdater.bin"
  local now; now=$(printf '%x' "$(date +%s)")
  "$HIVE" "$root" set-dword service debug "$debug"
  "$HIVE" "$root" set-dword service FastForward "$factor"
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
  sleep 1  # start-up is not idling
  local before; before=$(switches "$pid")
  sleep "$(( seconds - 1 ))"
  local after; after=$(switches "$pid")
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
    cycles=$(( seconds * factor / 60 ))
  fi
  echo "$cycles $(( (utime + stime) * 1000 / TICKS )) $rss $hwm $(( after - before )) $(( seconds - 1 ))"
  rm -rf "$root"
}

# Wake-ups that come with time alone: no fast forward, and no cycle ends
# before the first 60 s sleep does.
read -r _ _ _ _ quiet quiet_window < <(run_once 0 1 "$QUIET_SECONDS")
printf '%-10s %8s %10s %12s %10s %10s %12s %12s\n' "debug log" cycles "CPU ms" "CPU us/cycle" "RSS KiB" "peak KiB" \
  "wakes/cycle" "wakes/min"
for debug in 1 0; do
  read -r cycles cpu rss hwm wakes window < <(run_once "$debug" "$FACTOR" "$RUN_SECONDS")
  per=$(( cycles > 0 ? cpu * 1000 / cycles : 0 ))
  # The window holds about window/run of the cycles; the time-only wake-ups
  # of the window are taken off before dividing.
  read -r per_cycle per_minute < <(awk -v w="$wakes" -v c="$cycles" -v win="$window" -v run="$RUN_SECONDS" \
    -v q="$quiet" -v qw="$quiet_window" 'BEGIN {
      rate = q / qw; cw = c * win / run; pc = cw > 0 ? (w - rate * win) / cw : 0; if (pc < 0) pc = 0
      printf "%.1f %.1f\n", pc, rate * 60 + pc }')
  printf '%-10s %8s %10s %12s %10s %10s %12s %12s\n' "$([ "$debug" = 1 ] && echo on || echo off)" "$cycles" "$cpu" \
    "$per" "$rss" "$hwm" "$per_cycle" "$per_minute"
  last_cycle=$per_cycle last_minute=$per_minute
done
echo "($RUN_SECONDS s of real time per run, FastForward $FACTOR: one 60 s cycle sleeps $(( 60000 / FACTOR )) ms;"
echo " without fast forward: $quiet wake-ups in $quiet_window s between cycles)"
echo "wake-ups per idle minute: $last_minute (one cycle's: $last_cycle)"
