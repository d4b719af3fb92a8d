#!/usr/bin/env bash
# The pass of tersify against the loop a DBA would write (bench_baseline:
# sqlite3 C API, compress2 level 6, one UPDATE per row, in autocommit and in
# one transaction) and against one core's plain zlib over the same bytes, on
# fresh copies of the same report-like table, run in turn (baseline, tool,
# baseline, tool, ...) for several rounds. Prints per series the median, the
# fastest and the slowest run (how noisy the machine was), and per target the
# median of the ratios of the pairs run next to each other, with the limit and
# whether it is met. Then the tool through the TDS test server (FreeTDS's ODBC
# driver) against the same loop written with plain ODBC (bench_baseline
# odbc-compress|odbc-decompress) on the same server, each run over a fresh
# copy served anew, and, labelled apart, against the SQLite baseline run
# directly (so that the server's and the network's cost count against the
# tool); with the requests the server counted per row for the tool and for
# the ODBC loop. Last, the peak resident memory of the tool on large values in
# both directions on both providers.
#
#   bench/compare_pass.sh [--build DIR] [--rows N] [--size BYTES] [--repeat K]
#                         [--tds-repeat K] [--no-tds] [--no-memory] [--no-speed]
#
# --no-speed leaves out the timed rounds, their series and their targets: only
# the peak memory table is made (memory figures barely vary between runs, so
# they need no rounds).
#
# Needs only the build (tool/tersify, bench/bench_baseline,
# bench/bench_measure, tests/support/tds_server/tds-test-server), bash, awk
# and sort.
set -euo pipefail

build=build rows=2000 size=40960 repeat=4 tds_repeat=2 tds=1 memory=1 speed=1
usage() {
  echo "usage: $0 [--build DIR] [--rows N] [--size BYTES] [--repeat K] [--tds-repeat K] [--no-tds] [--no-memory] [--no-speed]" >&2
  exit 2
}
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --rows) rows=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --repeat) repeat=$2; shift 2 ;;
    --tds-repeat) tds_repeat=$2; shift 2 ;;
    --no-tds) tds=0; shift ;;
    --no-memory) memory=0; shift ;;
    --no-speed) speed=0; shift ;;
    *) usage ;;
  esac
done

. "$(dirname "$0")/pass_bench_common.sh"
bench_setup compare
if [ "$tds" = 1 ] && [ ! -x "$server" ]; then
  echo "(no $server: the TDS parts are left out)" >&2
  tds=0
fi

results=$work/results.txt
: > "$results"

# make NAME ROWS SIZE: NAME.db (plain values) and NAME-packed.db (the same, compressed)
make_tables() {
  "$baseline" make "$work/$1.db" --rows "$2" --size "$3"
  cp "$work/$1.db" "$work/$1-packed.db"
  "$baseline" compress "$work/$1-packed.db" --transaction > /dev/null
}

# timed NAME COMMAND...: runs the command under bench_measure and sets
# $elapsed (wall seconds), $cpu (user + system seconds) and $rss (peak KiB); a
# tersify run must say it completed
timed() {
  local name=$1
  shift
  if ! "$measure" "$work/time.txt" "$@" > "$work/out.txt" 2> "$work/err.txt"; then
    echo "$name failed:" >&2
    cat "$work/out.txt" "$work/err.txt" >&2
    exit 1
  fi
  if [ "$1" = "$tersify" ] && ! grep -q "^Command completed successfully" "$work/out.txt"; then
    echo "$name did not complete:" >&2
    cat "$work/out.txt" >&2
    exit 1
  fi
  elapsed=$(awk '$1 == "wall" { printf "%.3f", $2 }' "$work/time.txt")
  rss=$(awk '$1 == "peak_kib" { print $2 }' "$work/time.txt")
  cpu=$(awk '$1 == "user" || $1 == "system" { s += $2 } END { printf "%.3f", s }' "$work/time.txt")
}

# record ROUND NAME SECONDS KIB [REQUESTS [CPU-SECONDS]]
record() { echo "$1 $2 $3 $4 ${5:--} ${6:--}" >> "$results"; }

# run ROUND NAME TEMPLATE COMMAND...: the command on a fresh copy of TEMPLATE.db
run() {
  local round=$1 name=$2 template=$3
  shift 3
  fresh_copy "$template"
  timed "$name" "$@"
  record "$round" "$name" "$elapsed" "$rss" - "$cpu"
}

# codec ROUND NAME TEMPLATE: one core's zlib over TEMPLATE.db's values (codec time only)
codec() {
  local round=$1 name=$2 template=$3 out
  out=$("$baseline" zlib "$work/$template.db")
  local s
  s=$(awk '{ print $4 }' <<< "$out")
  record "$round" "$name" "$s" 0 - "$s"
}

# serve TEMPLATE: the TDS test server over a fresh copy of TEMPLATE.db,
# counting requests; sets $port
serve() {
  rm -f "$work/stats"
  start_server "$1" --stats-file "$work/stats"
}

# record_served ROUND NAME: stops the server and records the run just timed
# with the requests the server counted
record_served() {
  stop_server
  record "$1" "$2" "$elapsed" "$rss" "$(awk '$1 == "requests" { print $2 }' "$work/stats")" "$cpu"
}

# tds_run ROUND NAME TEMPLATE COMMAND [SWITCH...]: tersify through the TDS test server
tds_run() {
  local round=$1 name=$2 template=$3 command=$4
  shift 4
  serve "$template"
  timed "$name" "$tersify" "$command" /GUI=0 "/IP=127.0.0.1,$port" /DB=bench /U=bench /P=Bench1 "$@"
  record_served "$round" "$name"
}

# tds_baseline ROUND NAME TEMPLATE DIRECTION [--transaction]: the DBA's loop
# through ODBC against the TDS test server
tds_baseline() {
  local round=$1 name=$2 template=$3 direction=$4
  shift 4
  serve "$template"
  timed "$name" "$baseline" "odbc-$direction" --server "127.0.0.1,$port" --database bench \
    --user bench --password Bench1 "$@"
  record_served "$round" "$name"
}

# values NAME FIELD: the field (3 seconds, 4 peak KiB, 5 requests, 6 CPU
# seconds) of every run of NAME
values() { awk -v name="$1" -v field="$2" '$2 == name { print $field }' "$results"; }

median() {
  sort -g | awk '{ v[n++] = $1 } END { if (n == 0) exit 1; print n % 2 ? v[(n - 1) / 2] : (v[n / 2 - 1] + v[n / 2]) / 2 }'
}

# ratios NUMERATOR DENOMINATOR: NUMERATOR's seconds / DENOMINATOR's, one a round
ratios() {
  awk -v a="$1" -v b="$2" '$2 == a { x[$1] = $3 } $2 == b { y[$1] = $3 }
    END { for (r in x) if (r in y && y[r] > 0) print x[r] / y[r] }' "$results"
}

series_line() {
  local name=$1 s lo hi k c
  s=$(values "$name" 3 | median)
  lo=$(values "$name" 3 | sort -g | head -1)
  hi=$(values "$name" 3 | sort -g | tail -1)
  k=$(values "$name" 4 | median)
  c=$(values "$name" 6 | median)
  awk -v who="$name" -v s="$s" -v lo="$lo" -v hi="$hi" -v k="$k" -v c="$c" \
    'BEGIN { printf "  %-36s %8.3f %8.3f %8.3f %7.0f%% %8s %8.1f\n", who, s, lo, hi, (hi - lo) / s * 100,
             c == "-" ? "-" : sprintf("%.3f", c), k / 1024 }'
}

# target TEXT NUMERATOR DENOMINATOR LIMIT: the median of the per-round ratios
# (NUMERATOR's seconds / DENOMINATOR's, so > 1 means DENOMINATOR is faster)
target() {
  local text=$1 r lo hi
  r=$(ratios "$2" "$3" | median) || return 0
  lo=$(ratios "$2" "$3" | sort -g | head -1)
  hi=$(ratios "$2" "$3" | sort -g | tail -1)
  awk -v t="$text" -v r="$r" -v lo="$lo" -v hi="$hi" -v limit="$4" \
    'BEGIN { printf "  %-58s %6.2fx  (%.2f-%.2f)  >= %.2fx  %s\n", t, r, lo, hi, limit, (r >= limit ? "met" : "NOT MET") }'
}

load() { awk '{ print $1, $2, $3 }' /proc/loadavg; }

if [ "$speed" = 1 ]; then
  echo "data: $rows rows of $size bytes (report-like), $repeat rounds; load average $(load)"
  make_tables speed "$rows" "$size"

  for ((i = 1; i <= repeat; i++)); do
    for direction in compress decompress; do
      template=speed switch=/c
      [ "$direction" = decompress ] && template=speed-packed switch=/d
      run "$i" "baseline-autocommit-$direction" "$template" "$baseline" "$direction" "$db"
      run "$i" "tersify-$direction" "$template" "$tersify" "$switch" /GUI=0 /IP=sqlite "/DB=$db"
      run "$i" "baseline-transaction-$direction" "$template" "$baseline" "$direction" "$db" --transaction
      run "$i" "tersify-batch500-$direction" "$template" "$tersify" "$switch" /GUI=0 /IP=sqlite "/DB=$db" /BATCH=500
      codec "$i" "zlib-one-core-$direction" "$template"
    done
  done

  # Through the TDS test server each run of the tool is paired with the ODBC
  # baseline on the same server and with the SQLite baseline, both run just
  # before it (rounds t1, t2, ...).
  if [ "$tds" = 1 ]; then
    for ((i = 1; i <= tds_repeat; i++)); do
      for direction in compress decompress; do
        template=speed switch=/c
        [ "$direction" = decompress ] && template=speed-packed switch=/d
        run "t$i" "baseline-autocommit-$direction" "$template" "$baseline" "$direction" "$db"
        tds_baseline "t$i" "tds-baseline-autocommit-$direction" "$template" "$direction"
        tds_run "t$i" "tds-tersify-$direction" "$template" "$switch"
        run "t$i" "baseline-transaction-$direction" "$template" "$baseline" "$direction" "$db" --transaction
        tds_baseline "t$i" "tds-baseline-transaction-$direction" "$template" "$direction" --transaction
        tds_run "t$i" "tds-tersify-batch500-$direction" "$template" "$switch" /BATCH=500
      done
    done
  fi

  echo
  echo "series (wall seconds: median, fastest, slowest, spread; CPU seconds (user + system) and peak MB: medians)"
  printf '  %-36s %8s %8s %8s %8s %8s %8s\n' "" median fastest slowest spread CPU "peak MB"
  for direction in compress decompress; do
    for who in baseline-autocommit tersify baseline-transaction tersify-batch500 zlib-one-core; do
      series_line "$who-$direction"
    done
    if [ "$tds" = 1 ]; then
      for who in tds-baseline-autocommit tds-tersify tds-baseline-transaction tds-tersify-batch500; do
        series_line "$who-$direction"
      done
    fi
  done

  echo
  echo "targets (median of the ratios of the pairs run in turn, with their range)"
  target "compress, default vs baseline autocommit" baseline-autocommit-compress tersify-compress 1.3
  target "compress, /BATCH=500 vs baseline one transaction" baseline-transaction-compress tersify-batch500-compress 2
  target "compress, /BATCH=500 vs one core's zlib level 6" zlib-one-core-compress tersify-batch500-compress 1.4
  target "decompress, default vs baseline autocommit" baseline-autocommit-decompress tersify-decompress 1.05
  target "decompress, /BATCH=500 vs baseline one transaction" baseline-transaction-decompress tersify-batch500-decompress 1.5

  if [ "$tds" = 1 ]; then
    echo
    echo "through the TDS test server, against the ODBC baseline on the same server (each run paired with the one before it)"
    target "compress, default vs ODBC baseline autocommit" tds-baseline-autocommit-compress tds-tersify-compress 1.3
    target "compress, /BATCH=500 vs ODBC baseline one transaction" tds-baseline-transaction-compress tds-tersify-batch500-compress 2
    target "decompress, default vs ODBC baseline autocommit" tds-baseline-autocommit-decompress tds-tersify-decompress 1.05
    target "decompress, /BATCH=500 vs ODBC baseline one transaction" tds-baseline-transaction-decompress tds-tersify-batch500-decompress 1.5
    echo
    echo "through the TDS test server, against the SQLite baseline run directly (the server's and the network's cost count against the tool)"
    target "compress, default vs SQLite baseline autocommit" baseline-autocommit-compress tds-tersify-compress 1.3
    target "compress, /BATCH=500 vs SQLite baseline one transaction" baseline-transaction-compress tds-tersify-batch500-compress 2
    target "decompress, default vs SQLite baseline autocommit" baseline-autocommit-decompress tds-tersify-decompress 1.05
    target "decompress, /BATCH=500 vs SQLite baseline one transaction" baseline-transaction-decompress tds-tersify-batch500-decompress 1.5
    echo
    echo "requests the TDS test server counted"
    for who in tds-tersify-compress tds-baseline-autocommit-compress tds-tersify-batch500-compress \
               tds-baseline-transaction-compress tds-tersify-decompress tds-baseline-autocommit-decompress \
               tds-tersify-batch500-decompress tds-baseline-transaction-decompress; do
      requests=$(values "$who" 5 | median)
      awk -v who="$who" -v q="$requests" -v n="$rows" \
        'BEGIN { printf "  %-58s %6d requests, %.2f a row\n", who, q, q / n }'
    done
    requests=$(values tds-tersify-compress 5 | median)
    awk -v q="$requests" -v n="$rows" 'BEGIN { printf "  %-58s %6.2f  <= 1.10   %s\n",
      "requests per row, compress in the default mode", q / n, (q / n <= 1.1 ? "met" : "NOT MET") }'
    requests=$(values tds-tersify-decompress 5 | median)
    awk -v q="$requests" -v n="$rows" 'BEGIN { printf "  %-58s %6.2f  <= 1.10   %s\n",
      "requests per row, decompress in the default mode", q / n, (q / n <= 1.1 ? "met" : "NOT MET") }'
  fi
fi

if [ "$memory" = 1 ]; then
  echo
  echo "peak resident memory of tersify (limit 96 MB + 2 x the largest value)"
  printf '  %-34s %8s %10s %10s %8s\n' "" seconds "peak MB" "limit MB" ""
  memory_case() {
    local name=$1 count=$2 bytes=$3
    make_tables "$name" "$count" "$bytes"
    local limit
    limit=$(awk -v b="$bytes" 'BEGIN { print 96 * 1024 + 2 * b / 1024 }')
    for direction in compress decompress; do
      local template=$name switch=/c
      [ "$direction" = decompress ] && template=$name-packed switch=/d
      run memory "sqlite-$name-$direction" "$template" "$tersify" "$switch" /GUI=0 /IP=sqlite "/DB=$db"
      series_memory "sqlite-$name-$direction" "$limit"
      if [ "$tds" = 1 ]; then
        tds_run memory "tds-$name-$direction" "$template" "$switch"
        series_memory "tds-$name-$direction" "$limit"
      fi
    done
    rm -f "$work/$name.db" "$work/$name-packed.db"
  }
  series_memory() {
    awk -v who="$1" -v s="$elapsed" -v k="$rss" -v l="$2" \
      'BEGIN { printf "  %-34s %8.3f %10.1f %10.1f %8s\n", who, s, k / 1024, l / 1024, (k <= l ? "met" : "NOT MET") }'
  }
  memory_case 300x1MB 300 1048576
  memory_case 1x64MB 1 67108864
  memory_case 1x300MB 1 314572800
fi
echo
echo "load average at the end: $(load)"
