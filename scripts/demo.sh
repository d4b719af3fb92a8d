#!/usr/bin/env bash
# The main job on the embedded demo database: installs what is missing, builds,
# creates demo/reports.db when it is missing (the application's catalogue tables
# and tqz_reports with a few hundred report definitions), then runs a compress
# pass and a decompress pass over tqz_reports.acReportData and prints both
# summary lines.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# What the script is doing goes to standard error, so that standard output
# holds the two summary lines alone.
say() { echo "demo: $*" >&2; }

# The build shows its progress (ninja's [done/total] steps) on standard error.
say "installing what is missing and building; a first build takes several minutes"
bash scripts/setup.sh >&2

build_dir=${TERSIFY_BUILD_DIR:-$root/build}
database=${TERSIFY_DEMO_DB:-$root/demo/reports.db}
mkdir -p "$(dirname "$database")"
if [ ! -f "$database" ]; then
  say "creating the demo database $database"
  "$build_dir/bench/tersify-demo-db" "$database"
fi

say "compressing tqz_reports.acReportData in $database"
"$build_dir/tool/tersify" /c /GUI=0 /IP=sqlite "/DB=$database"
say "decompressing it again"
"$build_dir/tool/tersify" /d /GUI=0 /IP=sqlite "/DB=$database"
