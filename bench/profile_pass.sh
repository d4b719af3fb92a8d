#!/usr/bin/env bash
# Where the time of a pass goes: each mode of tersify (compress and decompress,
# default and /BATCH=500, on SQLite and through the TDS test server) under
# `perf record` on a fresh copy of the same report-like table, then the
# entries that take the most samples, by library and function (own time), and
# by function with what it calls (whole time). Wall and CPU seconds are printed
# beside them: time off the CPU (waiting for a commit to reach the disk, for the
# server) takes no samples.
#
#   bench/profile_pass.sh [--build DIR] [--rows N] [--size BYTES] [--top K] [--no-tds] [--keep DIR]
#
# Needs the build (tool/tersify, bench/bench_baseline, bench/bench_measure,
# tests/support/tds_server/tds-test-server) and perf (Debian package
# linux-perf). --keep DIR keeps the perf.data files there.
set -euo pipefail

build=build rows=1000 size=40960 top=14 tds=1 keep=
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --rows) rows=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --top) top=$2; shift 2 ;;
    --no-tds) tds=0; shift ;;
    --keep) keep=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--rows N] [--size BYTES] [--top K] [--no-tds] [--keep DIR]" >&2; exit 2 ;;
  esac
done

. "$(dirname "$0")/pass_bench_common.sh"
bench_setup profile
command -v perf > /dev/null || { echo "missing perf (Debian package linux-perf)" >&2; exit 2; }
[ "$tds" = 1 ] && [ ! -x "$server" ] && tds=0

[ -n "$keep" ] && mkdir -p "$keep"

"$baseline" make "$work/plain.db" --rows "$rows" --size "$size"
cp "$work/plain.db" "$work/packed.db"
"$baseline" compress "$work/packed.db" --transaction > /dev/null

# profile NAME TEMPLATE ARGUMENTS...: tersify with ARGUMENTS under perf, on a
# fresh copy of TEMPLATE.db (none for "-": the server has its copy open)
profile() {
  local name=$1 template=$2
  shift 2
  if [ "$template" != - ]; then
    fresh_copy "$template"
  fi
  local data=$work/$name.data
  [ -n "$keep" ] && data=$keep/$name.data
  "$measure" "$work/time.txt" \
    perf record -q -F 499 --call-graph dwarf,16384 -o "$data" -- "$tersify" "$@" > "$work/out.txt" 2> "$work/err.txt" ||
    { echo "$name failed:" >&2; cat "$work/out.txt" "$work/err.txt" >&2; exit 1; }
  grep -q "^Command completed successfully" "$work/out.txt" || { echo "$name did not complete" >&2; cat "$work/out.txt" >&2; exit 1; }
  echo
  echo "== $name: $(awk '{ v[$1] = $2 } END { printf "wall %.2f s, CPU %.2f s (user %.2f, system %.2f)",
    v["wall"], v["user"] + v["system"], v["user"], v["system"] }' "$work/time.txt")"
  # (head leaves early: the reports' pipes are not to end the script)
  echo "-- own time, by library"
  { perf report -i "$data" --stdio --no-children --sort dso -g none --percent-limit 0.5 2> /dev/null |
      grep -E '^ +[0-9]' | head -n "$top"; } || true
  echo "-- own time, by library and function"
  { perf report -i "$data" --stdio --no-children --sort dso,sym -g none --percent-limit 0.5 2> /dev/null |
      grep -E '^ +[0-9]' | head -n "$top"; } || true
  echo "-- whole time (with callees), by function"
  { perf report -i "$data" --stdio --children --sort sym -g none --percent-limit 3 2> /dev/null |
      grep -E '^ +[0-9]' | grep -v -E '_start|libc_start|main$|RunFromCommandLine|RecompressTable' |
      head -n "$top"; } || true
}

echo "data: $rows rows of $size bytes (report-like); perf at 499 Hz, DWARF call graphs"
profile sqlite-compress plain /c /GUI=0 /IP=sqlite "/DB=$db"
profile sqlite-batch500-compress plain /c /GUI=0 /IP=sqlite "/DB=$db" /BATCH=500
profile sqlite-decompress packed /d /GUI=0 /IP=sqlite "/DB=$db"
profile sqlite-batch500-decompress packed /d /GUI=0 /IP=sqlite "/DB=$db" /BATCH=500
if [ "$tds" = 1 ]; then
  for mode in "compress plain /c" "batch500-compress plain /c /BATCH=500" \
              "decompress packed /d" "batch500-decompress packed /d /BATCH=500"; do
    set -- $mode
    name=$1 template=$2
    shift 2
    start_server "$template"
    profile "tds-$name" - "$1" /GUI=0 "/IP=127.0.0.1,$port" /DB=bench /U=bench /P=Bench1 "${@:2}"
    stop_server
  done
fi
