#!/usr/bin/env bash
# Builds the Debian package of tersify with CPack, in its own build folder
# (Release, no tests or benchmarks), and lists what it holds.
#   scripts/package.sh     -> build-package/tersify_<version>_<arch>.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

bash "$root/scripts/setup.sh" --deps

build_dir=${TERSIFY_PACKAGE_BUILD_DIR:-$root/build-package}
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTERSIFY_WERROR=ON \
  -DTERSIFY_TESTS=OFF -DTERSIFY_BENCH=OFF >/dev/null
cmake --build "$build_dir" --target tersify tersify_man_page
(cd "$build_dir" && cpack -G DEB >/dev/null)

deb=$(ls -t "$build_dir"/tersify_*.deb | head -n 1)
echo "$deb"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
