#!/usr/bin/env bash
# Pictures of the main window on the demo database: positioned as after
# start-up on tqz_reports.acReportData with key acReport (OUT), in the middle
# of a compress pass (OUT with -pass; the pass runs on a copy of the database
# and is cancelled), after an estimate of that column (OUT with -estimate) and
# the question before a pass (OUT with -confirm; answered no). Each is taken on
# a screen of 1024x768, where the window opens at its own size, and again on
# one of 1440x900, where it fills the screen (OUT with -1440x900 before the
# other endings).
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
# take SCREEN ARGS...: one picture on a virtual screen of that size.
take() {
  local screen=$1
  shift
  if command -v xvfb-run >/dev/null 2>&1; then
    xvfb-run -a -s "-screen 0 ${screen}x24" "$exe" "$@"
  else
    QT_QPA_PLATFORM=offscreen "$exe" "$@"
  fi
}
search=()
[ $# -ge 2 ] && search+=("$2")
# At 1024x768 the window opens at its own size; at 1440x900 it fills the screen.
for screen in 1024x768 1440x900; do
  size=()
  [ "$screen" = 1024x768 ] || size=(--size="$screen")
  base=${out%.png}
  [ "$screen" = 1024x768 ] || base="$base-$screen"
  take "$screen" "${size[@]}" "$database" "$base.png" "${search[@]}"
  take "$screen" "${size[@]}" --pass "$database" "$base-pass.png"
  take "$screen" "${size[@]}" --estimate "$database" "$base-estimate.png"
  take "$screen" "${size[@]}" --confirm "$database" "$base-confirm.png"
  for picture in "$base.png" "$base-pass.png" "$base-estimate.png" "$base-confirm.png"; do
    echo "$picture"
  done
done
