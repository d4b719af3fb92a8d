#!/usr/bin/env bash
# The pass through ODBC (FreeTDS) and the TDS test server, with the server
# made to look far away by bench/tds_relay: at 0, 1 and 5 ms of added round
# trip (--rtt "0 1 5"), /BATCH=500 and the default mode side by side with the
# loop a DBA would write (bench_baseline odbc-compress: one update per row,
# each its own request) in the same run. Each run gets a fresh copy of the
# table and a relay of its own. Prints, per data set and series, the wall
# seconds (median of the rounds), rows a second, the client's requests per
# row (as the relay counted them) and the ratio to the same series at 0 ms,
# then the targets.
#
#   bench/network_pass.sh [--build DIR] [--repeat K] [--rtt "MS MS ..."] [--quick]
#                         [--trace DIR]
#
# --quick: one round and the small data set only. --trace: the relay writes
# each run's client messages, one line each with its time and text, to
# DIR/DATA-SERIES-RTT-ROUND.trace (where the round trips go). Needs the build
# (tool/tersify, bench/bench_baseline, bench/bench_measure, bench/tds_relay,
# tests/support/tds_server/tds-test-server), bash, awk and sort.
set -euo pipefail

build=build repeat=2 rtts="0 1 5" quick=0 trace_dir=
usage() {
  echo "usage: $0 [--build DIR] [--repeat K] [--rtt \"MS MS ...\"] [--quick] [--trace DIR]" >&2
  exit 2
}
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --repeat) repeat=$2; shift 2 ;;
    --rtt) rtts=$2; shift 2 ;;
    --quick) quick=1 repeat=1; shift ;;
    --trace) trace_dir=$(mkdir -p "$2" && cd "$2" && pwd); shift 2 ;;
    *) usage ;;
  esac
done

. "$(dirname "$0")/pass_bench_common.sh"
bench_setup network
relay=$build/bench/tds_relay
for program in "$relay" "$server"; do
  [ -x "$program" ] || { echo "missing $program: build it first" >&2; exit 2; }
done
relay_pid=
network_cleanup() {
  if [ -n "$relay_pid" ]; then kill "$relay_pid" 2>/dev/null || true; wait "$relay_pid" 2>/dev/null || true; fi
  bench_cleanup
}
trap network_cleanup EXIT

results=$work/results.txt
: > "$results"

# start_relay RTT [TRACE]: a relay to the running server; sets $relay_port
start_relay() {
  rm -f "$work/relay.log" "$work/relay-stats"
  local trace=()
  [ -z "${2:-}" ] || trace=(--trace "$2")
  "$relay" --target-port "$port" --rtt-ms "$1" --stats-file "$work/relay-stats" "${trace[@]}" 2> "$work/relay.log" &
  relay_pid=$!
  relay_port=
  for _ in $(seq 200); do
    relay_port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/relay.log")
    [ -n "$relay_port" ] && return 0
    sleep 0.05
  done
  echo "the relay did not start" >&2
  cat "$work/relay.log" >&2
  exit 1
}

stop_relay() {
  kill -TERM "$relay_pid"
  wait "$relay_pid" || true
  relay_pid=
  requests=$(awk '$1 == "requests" { print $2 }' "$work/relay-stats")
}

# one DATA RTT SERIES COMMAND...: the command against a fresh server behind a
# fresh relay; "@PORT" in the command stands for the relay's port
one() {
  local data=$1 rtt=$2 series=$3
  shift 3
  start_server "$data"
  start_relay "$rtt" "${trace_dir:+$trace_dir/$data-$series-$rtt-$round.trace}"
  local args=() a
  for a in "$@"; do args+=("${a//@PORT/$relay_port}"); done
  if ! "$measure" "$work/time.txt" "${args[@]}" > "$work/out.txt" 2> "$work/err.txt"; then
    echo "$series at $rtt ms failed:" >&2
    cat "$work/out.txt" "$work/err.txt" >&2
    exit 1
  fi
  if [ "$1" = "$tersify" ] && ! grep -q "^Command completed successfully" "$work/out.txt"; then
    echo "$series at $rtt ms did not complete:" >&2
    cat "$work/out.txt" >&2
    exit 1
  fi
  stop_relay
  stop_server
  local seconds
  seconds=$(awk '$1 == "wall" { printf "%.3f", $2 }' "$work/time.txt")
  echo "$data $series $rtt $seconds $requests" >> "$results"
}

rows_of() { awk -v d="$1" '$1 == d { print $2 }' "$work/datasets"; }

# data set NAME ROWS MIN MAX
: > "$work/datasets"
dataset() {
  "$baseline" make "$work/$1.db" --rows "$2" --min-size "$3" --size "$4"
  echo "$1 $2 $3 $4" >> "$work/datasets"
}
dataset small 2000 2048 8192
[ "$quick" = 1 ] || dataset large 600 5120 61440

echo "load average $(awk '{ print $1, $2, $3 }' /proc/loadavg); rounds: $repeat; added round trips (ms): $rtts"
for ((round = 1; round <= repeat; round++)); do
  while read -r data n lo hi; do
    for rtt in $rtts; do
      tds=(/GUI=0 "/IP=127.0.0.1,@PORT" /DB=bench /U=bench /P=Bench1)
      one "$data" "$rtt" batch500 "$tersify" /c "${tds[@]}" /BATCH=500
      [ "$data" = small ] || continue
      one "$data" "$rtt" default "$tersify" /c "${tds[@]}"
      one "$data" "$rtt" baseline-per-row "$baseline" odbc-compress --server "127.0.0.1,@PORT" \
        --database bench --user bench --password Bench1
    done
  done < "$work/datasets"
done

median() {
  sort -g | awk '{ v[n++] = $1 } END { if (n == 0) exit 1; print n % 2 ? v[(n - 1) / 2] : (v[n / 2 - 1] + v[n / 2]) / 2 }'
}
cell() { awk -v d="$1" -v s="$2" -v r="$3" -v f="$4" '$1 == d && $2 == s && $3 == r { print $f }' "$results" | median; }

echo
printf '  %-34s %6s %9s %9s %10s %9s\n' "" "rtt ms" seconds "rows/s" "req/row" "x 0 ms"
first_rtt=${rtts%% *}
while read -r data n lo hi; do
  for series in batch500 default baseline-per-row; do
    base=$(cell "$data" "$series" "$first_rtt" 4) || continue
    for rtt in $rtts; do
      s=$(cell "$data" "$series" "$rtt" 4) || continue
      q=$(cell "$data" "$series" "$rtt" 5)
      awk -v who="$data ($n x $lo-$hi B) $series" -v rtt="$rtt" -v s="$s" -v q="$q" -v n="$n" -v b="$base" \
        'BEGIN { printf "  %-34s %6s %9.3f %9.0f %10.3f %8.2fx\n", who, rtt, s, n / s, q / n, s / b }'
    done
  done
done < "$work/datasets"

# target DATA SERIES RTT LIMIT TEXT: the ratio of RTT to 0 ms at most LIMIT
target() {
  local base s
  base=$(cell "$1" "$2" 0 4) || return 0
  s=$(cell "$1" "$2" "$3" 4) || return 0
  awk -v t="$5" -v r="$(awk -v a="$s" -v b="$base" 'BEGIN { print a / b }')" -v limit="$4" \
    'BEGIN { printf "  %-58s %6.2fx  <= %.2fx  %s\n", t, r, limit, (r <= limit ? "met" : "NOT MET") }'
}
echo
echo "targets"
target small batch500 5 1.5 "2,000 x 2-8 KB, /BATCH=500, 5 ms vs 0 ms"
target small default 5 2.5 "2,000 x 2-8 KB, default mode, 5 ms vs 0 ms"
target large batch500 5 1.5 "600 x 5-60 KB, /BATCH=500, 5 ms vs 0 ms"
q=$(cell small batch500 0 5) || q=
if [ -n "$q" ]; then
  awk -v q="$q" -v n="$(rows_of small)" 'BEGIN { printf "  %-58s %6.3f  <= 0.10   %s\n",
    "requests per row, /BATCH=500", q / n, (q / n <= 0.1 ? "met" : "NOT MET") }'
fi
for series in batch500 default; do
  b=$(cell small baseline-per-row 0 4) || continue
  s=$(cell small "$series" 0 4) || continue
  awk -v t="2,000 x 2-8 KB at 0 ms, $series vs the per-row loop (faster by)" -v r="$(awk -v a="$b" -v c="$s" 'BEGIN { print a / c }')" \
    'BEGIN { printf "  %-58s %6.2fx\n", t, r }'
done
