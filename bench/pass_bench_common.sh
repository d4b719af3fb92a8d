# Sourced by compare_pass.sh and profile_pass.sh: the programs of a build, a
# scratch folder removed on exit, fresh copies of a table, and the TDS test
# server over one.

# bench_setup NAME: with $build set, sets tersify, baseline, measure, server,
# work (a new scratch folder, removed on exit with the server) and db.
bench_setup() {
  tersify=$build/tool/tersify
  baseline=$build/bench/bench_baseline
  measure=$build/bench/bench_measure
  server=$build/tests/support/tds_server/tds-test-server
  for program in "$tersify" "$baseline" "$measure"; do
    [ -x "$program" ] || { echo "missing $program: build it first" >&2; exit 2; }
  done
  work=$(mktemp -d "${TMPDIR:-/tmp}/tersify-$1-XXXXXX")
  server_pid=
  trap bench_cleanup EXIT
  db=$work/run.db
}

bench_cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}

# fresh_copy TEMPLATE: $db becomes a copy of $work/TEMPLATE.db
fresh_copy() {
  cp "$work/$1.db" "$db"
  rm -f "$db-journal"
}

# start_server TEMPLATE [SWITCH...]: the TDS test server over a fresh copy of
# TEMPLATE.db, with the server's extra switches; sets $port.
start_server() {
  fresh_copy "$1"
  shift
  rm -f "$work/server.log"
  "$server" --port 0 --database-file "$db" --database bench --user bench \
    --password Bench1 "$@" 2> "$work/server.log" &
  server_pid=$!
  port=
  for _ in $(seq 200); do
    port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/server.log")
    [ -n "$port" ] && return 0
    sleep 0.05
  done
  echo "the TDS test server did not start" >&2
  cat "$work/server.log" >&2
  exit 1
}

stop_server() {
  kill -TERM "$server_pid"
  wait "$server_pid" || true
  server_pid=
}
