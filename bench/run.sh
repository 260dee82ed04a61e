#!/usr/bin/env bash
# Every benchmark of the Linux build, then one report: bench/REPORT.md (a table
# of figures with the peer or bound and the ratio beside each) and
# bench/throughput.svg (envelope and JSON throughput against text size).
#   bench/run.sh [build dir]      (./dev bench builds build/default first)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build/default}
OUT=$BUILD/bench-results
mkdir -p "$OUT"
for b in bench_json bench_envelope bench_signature bench_cycle bench_upload; do
  [ -x "$BUILD/bench/$b" ] || { echo "missing $BUILD/bench/$b (build the default preset)" >&2; exit 1; }
done
export INKORA_WEBFARM="$BUILD/webfarm/inkora_webfarm"
for b in bench_json bench_envelope bench_signature bench_cycle bench_upload; do
  echo "== $b" >&2
  "$BUILD/bench/$b" --benchmark_out="$OUT/$b.json" --benchmark_out_format=json | tee "$OUT/$b.txt"
done
echo "== idle service" >&2
IDLE_SECONDS=${IDLE_SECONDS:-20} bench/idle.sh "$BUILD" | tee "$OUT/idle.txt"
python3 bench/report.py "$OUT" bench/REPORT.md bench/throughput.svg
echo "report: bench/REPORT.md, chart: bench/throughput.svg" >&2
