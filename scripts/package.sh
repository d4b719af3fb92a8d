#!/usr/bin/env bash
# Builds the Debian package of tersify with CPack, in its own build folder
# (the tested RelWithDebInfo build, stripped when packed; no tests or
# benchmarks), and lists what it holds.
#   scripts/package.sh     -> build-package/tersify_<version>_<arch>.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

bash "$root/scripts/setup.sh" --deps

build_dir=${TERSIFY_PACKAGE_BUILD_DIR:-$root/build-package}
launcher=()
command -v ccache >/dev/null 2>&1 &&
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTERSIFY_WERROR=ON \
  -DTERSIFY_TESTS=OFF -DTERSIFY_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build_dir" --target tersify tersify_man_page
(cd "$build_dir" && cpack -G DEB >/dev/null)

deb=$(ls -t "$build_dir"/tersify_*.deb | head -n 1)
echo "$deb"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
