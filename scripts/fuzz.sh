#!/usr/bin/env bash
# Fuzzes the blob envelope: builds the libFuzzer target with clang in its own
# build directory (AddressSanitizer and UndefinedBehaviorSanitizer on), writes a
# seed corpus of valid envelopes, and runs the fuzzer for a bounded time.
# Ends non-zero on a crash, a leak or a wrong result (the input is kept in the
# build directory's fuzz-artifacts/).
#   scripts/fuzz.sh [seconds]     default 25, or TERSIFY_FUZZ_SECONDS
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-${TERSIFY_FUZZ_SECONDS:-25}}
build=${TERSIFY_FUZZ_BUILD_DIR:-$root/build-fuzz}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTERSIFY_FUZZ=ON -DTERSIFY_TESTS=OFF -DTERSIFY_BENCH=OFF >/dev/null
cmake --build "$build" --target tersify_fuzz_blob tersify_fuzz_seeds -j2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/fuzz/tersify_fuzz_seeds" "$work/corpus"
mkdir -p "$build/fuzz-artifacts"
"$build/fuzz/tersify_fuzz_blob" "$work/corpus" \
  -max_total_time="$seconds" -max_len=8192 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$build/fuzz-artifacts/"
echo "fuzz: no crash, no leak in ${seconds}s"
