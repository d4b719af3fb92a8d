#!/usr/bin/env bash
# The console program for 64-bit Windows, cross-built on Debian 12 with
# mingw-w64, and its suites run under Wine.
#   scripts/windows.sh             install what is missing, build build-windows/
#   scripts/windows.sh --test      ... then run the suites under Wine
#   scripts/windows.sh --package   ... then make build-windows/tersify-windows-x64.zip
# Idempotent; installing needs root. TERSIFY_WINDOWS_BUILD_DIR moves the build
# folder, TERSIFY_WINDOWS_JOBS sets the build's parallel jobs (default 2).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

do_test=0
do_package=0
for arg in "$@"; do
  case "$arg" in
    --test) do_test=1 ;;
    --package) do_package=1 ;;
    *) echo "usage: scripts/windows.sh [--test] [--package]" >&2; exit 2 ;;
  esac
done

build_dir=${TERSIFY_WINDOWS_BUILD_DIR:-$root/build-windows}
jobs=${TERSIFY_WINDOWS_JOBS:-2}
third_party=$build_dir/third_party
say() { echo "windows.sh: $*"; }

# --- Packages ---------------------------------------------------------------
packages=(
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
  wine wine64
  googletest
  cmake ninja-build dpkg-dev tcl make gcc zip xz-utils
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# apt-get source needs deb-src entries; Debian 12's image has only deb ones.
have_deb_src() {
  grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/
}
need_sources=0
[ -f "$third_party/sqlite/sqlite3.c" ] || need_sources=1
[ -f "$third_party/libdeflate/libdeflate.h" ] || need_sources=1

if [ ${#missing[@]} -gt 0 ] || { [ $need_sources = 1 ] && ! have_deb_src; }; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "windows.sh: missing packages (${missing[*]}) or source entries; run as root" >&2
    exit 1
  fi
  if [ $need_sources = 1 ] && ! have_deb_src; then
    say "adding deb-src entries for Debian's sources"
    cat > /etc/apt/sources.list.d/tersify-deb-src.sources <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    say "installing ${missing[*]}"
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
fi

# --- Sources of SQLite and libdeflate (Debian's, the host's versions) ---------
# apt-get source SOURCE[=VERSION] into a scratch folder; the host's version of
# the binary package when that is still in the archive, else the archive's.
fetch_source() {
  local source=$1 binary=$2 into=$3 version
  version=$(dpkg-query -W -f='${source:Version}' "$binary" 2>/dev/null || true)
  rm -rf "$into" && mkdir -p "$into"
  ( cd "$into" &&
    { { [ -n "$version" ] && apt-get source -qq "$source=$version" >/dev/null 2>&1; } ||
      apt-get source -qq "$source" >/dev/null 2>&1; } ) || {
    echo "windows.sh: apt-get source $source failed" >&2
    exit 1
  }
}

mkdir -p "$third_party"
if [ ! -f "$third_party/sqlite/sqlite3.c" ]; then
  say "making the SQLite amalgamation from Debian's source package"
  fetch_source sqlite3 libsqlite3-0 "$third_party/sqlite-src"
  src=$(find "$third_party/sqlite-src" -maxdepth 1 -mindepth 1 -type d -name 'sqlite3-*' | head -1)
  mkdir -p "$third_party/sqlite-src/build"
  ( cd "$third_party/sqlite-src/build" && nice -n 10 "$src/configure" >/dev/null &&
    nice -n 10 make -s sqlite3.c >/dev/null )
  mkdir -p "$third_party/sqlite"
  cp "$third_party/sqlite-src/build/sqlite3.c" "$third_party/sqlite-src/build/sqlite3.h" "$third_party/sqlite/"
  cp "$src/LICENSE.md" "$third_party/sqlite/LICENSE.md"
  cp "$src/debian/copyright" "$third_party/sqlite/copyright"
  rm -rf "$third_party/sqlite-src"
fi
if [ ! -f "$third_party/libdeflate/libdeflate.h" ]; then
  say "fetching libdeflate from Debian's source package"
  fetch_source libdeflate libdeflate0 "$third_party/libdeflate-src"
  src=$(find "$third_party/libdeflate-src" -maxdepth 1 -mindepth 1 -type d -name 'libdeflate-*' | head -1)
  rm -rf "$third_party/libdeflate" && mv "$src" "$third_party/libdeflate"
  rm -rf "$third_party/libdeflate-src"
fi

# --- Build --------------------------------------------------------------------
windows_targets=(tersify tersify_rtl_tests data_test tersify_blob_tests log_test)
say "building in $build_dir"
# -O2 as the Linux build: at -O3 GCC 12 warns falsely (-Wrestrict) inside std::string.
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTERSIFY_WERROR=ON \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DTERSIFY_SQLITE_SOURCE_DIR="$third_party/sqlite" \
  -DTERSIFY_LIBDEFLATE_SOURCE_DIR="$third_party/libdeflate" >/dev/null
nice -n 10 cmake --build "$build_dir" -j "$jobs" --target "${windows_targets[@]}"
say "built $build_dir/tool/tersify.exe"

# --- Tests under Wine -----------------------------------------------------------
if [ $do_test = 1 ]; then
  export WINEPREFIX=$build_dir/wine-prefix WINEARCH=win64 WINEDEBUG=-all
  # No Mono or Gecko: the console program needs neither, and their installers
  # would wait for a click.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    say "making the Wine prefix"
    timeout 300 wineboot -i >/dev/null 2>&1 || true
    # The registry reaches the disk when the server that wineboot started ends.
    timeout 120 wineserver -w || true
  fi
  [ -f "$WINEPREFIX/system.reg" ] || { echo "windows.sh: the Wine prefix could not be made" >&2; exit 1; }
  # One Wine server for every run: two Wine processes started at once with no
  # server running can fail or hang.
  wineserver -p
  trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
  # Wine's own processes (services.exe, winedevice.exe, explorer.exe,
  # rpcss.exe, ...) start with the server's first program and keep its
  # standard error for as long as they live. Started here, they hold
  # /dev/null rather than a suite's log or a test's pipe (a reader that waits
  # for the pipe's end would wait for them), and no test's first run waits
  # for them to come up.
  timeout 120 wine cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 || true

  # The end-to-end suite is a Linux program that runs tersify.exe under Wine,
  # against SQLite files and the TDS test server; it comes from the Linux build.
  linux_build=${TERSIFY_BUILD_DIR:-$root/build}
  if [ ! -f "$linux_build/build.ninja" ]; then
    cmake -S "$root" -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTERSIFY_WERROR=ON >/dev/null
  fi
  nice -n 10 cmake --build "$linux_build" -j "$jobs" --target tersify_wine_tests tersify tds-test-server

  total_passed=0
  total_failed=0
  total_skipped=0
  failed_suites=()
  # Runs one suite with a time limit and judges it by GoogleTest's summary:
  # under Wine a crashed program may still end with exit code 0.
  run_suite() {
    local name=$1 limit=$2
    shift 2
    local log=$build_dir/test-logs/$name.log
    mkdir -p "$build_dir/test-logs"
    local start=$SECONDS rc=0
    timeout -k 10 "$limit" "$@" >"$log" 2>&1 </dev/null || rc=$?
    local ran passed failed skipped
    ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p' "$log" | tail -1)
    passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p' "$log" | tail -1)
    failed=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\?, listed below:.*/\1/p' "$log" | tail -1)
    # A test may skip itself where Windows lacks what it needs (python3 for
    # a JSON parser): counted and shown, not failed.
    skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\?, listed below:.*/\1/p' "$log" | tail -1)
    passed=${passed:-0}
    failed=${failed:-0}
    skipped=${skipped:-0}
    local verdict=ok
    if [ -z "$ran" ]; then
      verdict="no summary (exit $rc$([ $rc = 124 ] && echo ', timed out'))"
      failed=$((failed + 1))
    elif [ "$failed" != 0 ] || [ $((passed + skipped)) != "$ran" ] || { [ $rc != 0 ] && [ "$failed" = 0 ]; }; then
      [ "$failed" = 0 ] && failed=1
      verdict="failed (exit $rc)"
    fi
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    total_skipped=$((total_skipped + skipped))
    printf 'windows.sh: %-22s %4s passed, %s skipped, %s failed, %3ss  %s\n' "$name" "$passed" "$skipped" \
      "$failed" $((SECONDS - start)) "$verdict"
    if [ "$verdict" != ok ]; then
      failed_suites+=("$name")
      grep -E '^\[  FAILED  \]|Failure|error' "$log" | head -20 || true
      echo "windows.sh: the whole output is in $log"
    fi
  }

  run_suite rtl 300 wine "$build_dir/tests/rtl/tersify_rtl_tests.exe"
  run_suite data 300 wine "$build_dir/tests/data/data_test.exe"
  run_suite blob 600 wine "$build_dir/tests/blob/tersify_blob_tests.exe"
  run_suite log 300 wine "$build_dir/tests/log/log_test.exe"
  TERSIFY_WINDOWS_EXE="$build_dir/tool/tersify.exe" \
    TERSIFY_LINUX_EXE="$linux_build/tool/tersify" \
    run_suite console-under-wine 900 "$linux_build/tests/windows/tersify_wine_tests"

  echo "windows: $total_passed passed, $total_skipped skipped, $total_failed failed"
  if [ ${#failed_suites[@]} -gt 0 ]; then
    echo "windows.sh: failed suites: ${failed_suites[*]}" >&2
    exit 1
  fi
fi

# --- Package --------------------------------------------------------------------
if [ $do_package = 1 ]; then
  stage=$build_dir/package/tersify-windows-x64
  rm -rf "$build_dir/package" && mkdir -p "$stage/licences"
  cp "$build_dir/tool/tersify.exe" "$stage/"
  cp "$root/README.md" "$stage/README.md"
  cp /usr/share/doc/libz-mingw-w64-dev/copyright "$stage/licences/zlib.txt"
  cp "$third_party/sqlite/LICENSE.md" "$stage/licences/sqlite.txt"
  cat "$third_party/sqlite/copyright" >> "$stage/licences/sqlite.txt"
  cp "$third_party/libdeflate/COPYING" "$stage/licences/libdeflate.txt"
  cp /usr/share/doc/mingw-w64-common/copyright "$stage/licences/mingw-w64-runtime.txt" 2>/dev/null || true
  rm -f "$build_dir/tersify-windows-x64.zip"
  ( cd "$build_dir/package" && zip -qr "$build_dir/tersify-windows-x64.zip" tersify-windows-x64 )
  say "packaged $build_dir/tersify-windows-x64.zip"
fi
