#!/usr/bin/env bash
# The main job on the embedded demo database: installs what is missing, builds,
# creates demo/reports.db when it is missing (the application's catalogue tables
# and tqz_reports with a few hundred report definitions), then runs a compress
# pass and a decompress pass over tqz_reports.acReportData and prints both
# summary lines.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh >/dev/null

build_dir=${TERSIFY_BUILD_DIR:-$root/build}
database=${TERSIFY_DEMO_DB:-$root/demo/reports.db}
mkdir -p "$(dirname "$database")"
if [ ! -f "$database" ]; then
  "$build_dir/bench/tersify-demo-db" "$database"
fi

"$build_dir/tool/tersify" /c /GUI=0 /IP=sqlite "/DB=$database"
"$build_dir/tool/tersify" /d /GUI=0 /IP=sqlite "/DB=$database"
