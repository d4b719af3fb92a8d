#!/usr/bin/env bash
# The test command: installs what is missing, builds, and runs every test suite
# with CTest; then the layer's suites under AddressSanitizer/LeakSanitizer and
# the envelope fuzzer for a bounded time.
#   scripts/test.sh            everything
#   TERSIFY_QUICK=1 scripts/test.sh   the CTest run only
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh

build_dir=${TERSIFY_BUILD_DIR:-$root/build}
jobs=$(nproc 2>/dev/null || echo 2)
ctest --test-dir "$build_dir" --output-on-failure -j "$jobs" --timeout 900

if [ "${TERSIFY_QUICK:-0}" != "1" ]; then
  [ -x scripts/sanitize.sh ] && bash scripts/sanitize.sh
  [ -x scripts/fuzz.sh ] && bash scripts/fuzz.sh
fi
echo "scripts/test.sh: all tests passed"
