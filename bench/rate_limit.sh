#!/usr/bin/env bash
# /MAXRATE= held against the clock: a compress pass over a table of about
# RATE x SECONDS MB, on SQLite and through the TDS test server, timed from
# start to end. Prints the rate each pass read at (the column's stored bytes
# over the pass's seconds, 1 MB = 1,048,576 bytes) and whether it lies within
# 20 % of /MAXRATE=; exits with 1 when one does not.
#
#   bench/rate_limit.sh [--build DIR] [--rate MB] [--seconds S] [--size BYTES] [--no-tds]
#
# Needs only the build (tool/tersify, bench/bench_baseline, bench/bench_measure,
# tests/support/tds_server/tds-test-server), bash and awk.
set -euo pipefail

build=build rate=2 seconds=5 size=40960 tds=1
usage() {
  echo "usage: $0 [--build DIR] [--rate MB] [--seconds S] [--size BYTES] [--no-tds]" >&2
  exit 2
}
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --rate) rate=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --no-tds) tds=0; shift ;;
    *) usage ;;
  esac
done

. "$(dirname "$0")/pass_bench_common.sh"
bench_setup rate
if [ "$tds" = 1 ] && [ ! -x "$server" ]; then
  echo "(no $server: the TDS part is left out)" >&2
  tds=0
fi

rows=$(awk -v r="$rate" -v s="$seconds" -v z="$size" 'BEGIN { n = int(r * s * 1048576 / z + 0.5); print (n < 1 ? 1 : n) }')
"$baseline" make "$work/rate.db" --rows "$rows" --size "$size"
bytes=$((rows * size))
failed=0

# check NAME START END: the rate of a pass that read $bytes from START to END (seconds).
check() {
  awk -v name="$1" -v b="$bytes" -v t0="$2" -v t1="$3" -v limit="$rate" 'BEGIN {
    seconds = t1 - t0; got = b / 1048576 / seconds; off = 100 * (got - limit) / limit
    verdict = (off <= 20 && off >= -20) ? "within 20 %" : "OUTSIDE 20 %"
    printf "%-8s %8.2f MB in %6.2f s: %6.2f MB/s at /MAXRATE=%s (%+.1f %%) %s\n", name, b / 1048576, seconds, got, limit, off, verdict
    exit (verdict == "within 20 %") ? 0 : 1 }' || failed=1
}

# pass NAME SWITCH...: a timed compress pass at the rate, checked.
pass() {
  local name=$1 start end
  shift
  start=$(date +%s.%N)
  "$tersify" /c /GUI=0 "$@" "/MAXRATE=$rate" > "$work/out.txt" 2> "$work/err.txt" || true
  end=$(date +%s.%N)
  if ! grep -q "^Command completed successfully, $rows records processed" "$work/out.txt"; then
    echo "$name: the pass did not complete" >&2
    cat "$work/out.txt" "$work/err.txt" >&2
    failed=1
    return
  fi
  check "$name" "$start" "$end"
}

fresh_copy rate
pass sqlite /IP=sqlite "/DB=$db"

if [ "$tds" = 1 ]; then
  start_server rate
  pass odbc "/IP=127.0.0.1,$port" /DB=bench /U=bench /P=Bench1
  stop_server
fi
exit "$failed"
