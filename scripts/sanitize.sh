#!/usr/bin/env bash
# The database layer's suites (and the client and dataset suites beneath it,
# when they exist) built with AddressSanitizer and UndefinedBehaviorSanitizer
# and run with LeakSanitizer on. Exits non-zero when a suite fails or any
# sanitizer reports anything.
#   scripts/sanitize.sh                      configure, build and run
#   TERSIFY_ASAN_BUILD_DIR=dir scripts/sanitize.sh   another build directory
#   TERSIFY_JOBS=n                           parallel build jobs (default 2)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${TERSIFY_ASAN_BUILD_DIR:-$root/build-asan}
jobs=${TERSIFY_JOBS:-2}

cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DTERSIFY_SANITIZE=ON -DTERSIFY_BENCH=OFF >/dev/null

# The suites this tree has: db_test always, client_test and data_test when present.
available=$(cmake --build "$build_dir" --target help | sed -n 's/^\([a-z_]*_test\):.*/\1/p')
suites=()
for suite in data_test client_test db_test; do
  if grep -qx "$suite" <<<"$available"; then suites+=("$suite"); fi
done
if [ ${#suites[@]} -eq 0 ]; then
  echo "sanitize.sh: no suite to run (db_test is missing from the build)" >&2
  exit 1
fi
cmake --build "$build_dir" -j "$jobs" --target "${suites[@]}"

# Leaks of the ODBC driver manager and of FreeTDS's driver are theirs, not ours.
lsan_options="print_suppressions=0"
if [ -f "$root/scripts/lsan.supp" ]; then lsan_options+=":suppressions=$root/scripts/lsan.supp"; fi
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:strict_init_order=1:detect_stack_use_after_return=1"
export LSAN_OPTIONS="$lsan_options"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

log_dir=$(mktemp -d)
trap 'rm -rf "$log_dir"' EXIT
failed=0
for suite in "${suites[@]}"; do
  binary=$(find "$build_dir/tests" -type f -name "$suite" -perm -u+x | head -n 1)
  echo "sanitize.sh: running $suite"
  status=0
  "$binary" --gtest_brief=1 2>&1 | tee "$log_dir/$suite.log" || status=$?
  # A report in a process that still exits 0 (a child, a recovered check) counts as well.
  if [ "$status" -ne 0 ] ||
     grep -qE 'ERROR: (Address|Leak)Sanitizer|runtime error:|WARNING: .*Sanitizer' "$log_dir/$suite.log"; then
    echo "sanitize.sh: $suite FAILED (exit status $status)" >&2
    failed=1
  fi
done
[ "$failed" -eq 0 ] || exit 1
echo "sanitize.sh: ${suites[*]} clean"
