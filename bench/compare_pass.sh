#!/usr/bin/env bash
# The pass of tersify side by side with the loop a DBA would write
# (bench_baseline: sqlite3 C API, compress2 level 6, one UPDATE per row, in
# autocommit and in one transaction), compressing and decompressing the same
# report-like table (bench_pass's data) on fresh copies, several times over;
# prints the median seconds and peak memory of each and the ratios. Then the
# tool through the TDS test server (FreeTDS's ODBC driver), with the requests
# the server received per row.
#
#   bench/compare_pass.sh [--build DIR] [--rows N] [--size BYTES] [--repeat K] [--no-tds]
#
# Needs only the build (tool/tersify, bench/bench_baseline,
# tests/support/tds_server/tds-test-server), bash, awk and /usr/bin/time.
# /BATCH=500 is passed to one tersify run of each direction; a tool that does
# not know the switch ignores it, and the run is then the default one again.
set -euo pipefail

build=build rows=2000 size=40960 repeat=3 tds=1
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --rows) rows=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --repeat) repeat=$2; shift 2 ;;
    --no-tds) tds=0; shift ;;
    *) echo "usage: $0 [--build DIR] [--rows N] [--size BYTES] [--repeat K] [--no-tds]" >&2; exit 2 ;;
  esac
done

tersify=$build/tool/tersify
baseline=$build/bench/bench_baseline
server=$build/tests/support/tds_server/tds-test-server
for program in "$tersify" "$baseline"; do
  [ -x "$program" ] || { echo "missing $program: build it first" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "missing /usr/bin/time (Debian package time)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tersify-compare-XXXXXX")
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "data: $rows rows of $size bytes (report-like), $repeat runs each"
"$baseline" make "$work/plain.db" --rows "$rows" --size "$size"
cp "$work/plain.db" "$work/packed.db"
"$baseline" compress "$work/packed.db" --transaction > /dev/null

# m:ss.cc or h:mm:ss -> seconds
seconds() { awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; printf "%.3f", s }'; }

# run NAME TEMPLATE COMMAND... : the command on a fresh copy of TEMPLATE.db at $work/run.db
run() {
  local name=$1 template=$2
  shift 2
  cp "$work/$template.db" "$work/run.db"
  rm -f "$work/run.db-journal"
  if ! /usr/bin/time -v -o "$work/time.txt" "$@" > "$work/out.txt" 2> "$work/err.txt"; then
    echo "$name failed:" >&2
    cat "$work/out.txt" "$work/err.txt" >&2
    exit 1
  fi
  if [ "${name#tersify}" != "$name" ] && ! grep -q "^Command completed successfully" "$work/out.txt"; then
    echo "$name did not complete:" >&2
    cat "$work/out.txt" >&2
    exit 1
  fi
  local elapsed rss
  elapsed=$(awk -F': ' '/Elapsed \(wall clock\)/ { print $2 }' "$work/time.txt" | seconds)
  rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
  echo "$name $elapsed $rss" >> "$work/results.txt"
}

: > "$work/results.txt"
db=$work/run.db
for ((i = 1; i <= repeat; i++)); do
  run baseline-autocommit-compress plain "$baseline" compress "$db"
  run baseline-transaction-compress plain "$baseline" compress "$db" --transaction
  run tersify-compress plain "$tersify" /c /GUI=0 /IP=sqlite "/DB=$db"
  run tersify-batch500-compress plain "$tersify" /c /GUI=0 /IP=sqlite "/DB=$db" /BATCH=500
  run baseline-autocommit-decompress packed "$baseline" decompress "$db"
  run baseline-transaction-decompress packed "$baseline" decompress "$db" --transaction
  run tersify-decompress packed "$tersify" /d /GUI=0 /IP=sqlite "/DB=$db"
  run tersify-batch500-decompress packed "$tersify" /d /GUI=0 /IP=sqlite "/DB=$db" /BATCH=500
done

# median NAME FIELD (2 = seconds, 3 = peak KiB)
median() {
  awk -v name="$1" -v field="$2" '$1 == name { print $field }' "$work/results.txt" | sort -g |
    awk '{ v[n++] = $1 } END { if (n == 0) exit 1; print n % 2 ? v[(n - 1) / 2] : (v[n / 2 - 1] + v[n / 2]) / 2 }'
}

report() {
  local direction=$1 base_auto base_tx
  base_auto=$(median "baseline-autocommit-$direction" 2)
  base_tx=$(median "baseline-transaction-$direction" 2)
  echo
  echo "$direction (median of $repeat; ratio = seconds / baseline's)"
  printf '  %-22s %9s %9s %12s %14s\n' "" seconds "peak MB" "/ autocommit" "/ transaction"
  for who in baseline-autocommit baseline-transaction tersify tersify-batch500; do
    local s k
    s=$(median "$who-$direction" 2)
    k=$(median "$who-$direction" 3)
    awk -v who="$who" -v s="$s" -v k="$k" -v a="$base_auto" -v t="$base_tx" \
      'BEGIN { printf "  %-22s %9.3f %9.1f %12.2f %14.2f\n", who, s, k / 1024, s / a, s / t }'
  done
}
report compress
report decompress

if [ "$tds" = 1 ]; then
  if [ ! -x "$server" ]; then
    echo; echo "(no $server: the TDS part is left out)"
    exit 0
  fi
  echo
  echo "through the TDS test server (FreeTDS ODBC), one run each"
  printf '  %-30s %9s %9s %14s\n' "" seconds "peak MB" "requests/row"
  tds_run() {
    local name=$1 template=$2 command=$3
    shift 3
    cp "$work/$template.db" "$work/run.db"
    rm -f "$work/stats" "$work/server.log"
    "$server" --port 0 --database-file "$work/run.db" --database bench --user bench \
      --password Bench1 --stats-file "$work/stats" 2> "$work/server.log" &
    server_pid=$!
    local port=
    for _ in $(seq 100); do
      port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/server.log")
      [ -n "$port" ] && break
      sleep 0.05
    done
    [ -n "$port" ] || { echo "the TDS test server did not start" >&2; cat "$work/server.log" >&2; exit 1; }
    if ! /usr/bin/time -v -o "$work/time.txt" "$tersify" "$command" /GUI=0 "/IP=127.0.0.1,$port" \
        /DB=bench /U=bench /P=Bench1 "$@" > "$work/out.txt" 2> "$work/err.txt" ||
       ! grep -q "^Command completed successfully" "$work/out.txt"; then
      echo "$name failed:" >&2; cat "$work/out.txt" "$work/err.txt" >&2; exit 1
    fi
    kill -TERM "$server_pid"; wait "$server_pid" || true; server_pid=
    local elapsed rss requests
    elapsed=$(awk -F': ' '/Elapsed \(wall clock\)/ { print $2 }' "$work/time.txt" | seconds)
    rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
    requests=$(awk '$1 == "requests" { print $2 }' "$work/stats")
    awk -v who="$name" -v s="$elapsed" -v k="$rss" -v r="$requests" -v n="$rows" \
      'BEGIN { printf "  %-30s %9.3f %9.1f %14.2f\n", who, s, k / 1024, r / n }'
  }
  tds_run tersify-compress plain /c
  tds_run tersify-batch500-compress plain /c /BATCH=500
  tds_run tersify-decompress packed /d
  tds_run tersify-batch500-decompress packed /d /BATCH=500
fi
