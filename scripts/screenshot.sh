#!/usr/bin/env bash
# Pictures of the main window on the demo database: positioned as after
# start-up on tqz_reports.acReportData with key acReport (OUT), in the middle
# of a compress pass (OUT with -pass; the pass runs on a copy of the database
# and is cancelled), and after an estimate of that column (OUT with -estimate).
#   scripts/screenshot.sh [OUT.png] [SEARCH]     default OUT: demo/window.png
# SEARCH, when given, is typed into the Tables box first. Runs on a virtual X
# server (xvfb-run, installed when missing and run as root); without one it
# falls back to Qt's offscreen platform.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh --deps >/dev/null
if ! command -v xvfb-run >/dev/null 2>&1 && [ "$(id -u)" -eq 0 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends xvfb xauth >/dev/null
fi

build_dir=${TERSIFY_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTERSIFY_WERROR=ON >/dev/null
cmake --build "$build_dir" --target tersify-screenshot tersify-demo-db >/dev/null

database=${TERSIFY_DEMO_DB:-$root/demo/reports.db}
mkdir -p "$(dirname "$database")"
[ -f "$database" ] || "$build_dir/bench/tersify-demo-db" "$database"

out=${1:-$root/demo/window.png}
exe="$build_dir/tool/gui/tersify-screenshot"
take() {
  if command -v xvfb-run >/dev/null 2>&1; then
    xvfb-run -a -s "-screen 0 1024x768x24" "$exe" "$@"
  else
    QT_QPA_PLATFORM=offscreen "$exe" "$@"
  fi
}
shot=("$database" "$out")
[ $# -ge 2 ] && shot+=("$2")
take "${shot[@]}"
take --pass "$database" "${out%.png}-pass.png"
take --estimate "$database" "${out%.png}-estimate.png"
echo "$out"
echo "${out%.png}-pass.png"
echo "${out%.png}-estimate.png"
