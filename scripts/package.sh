#!/usr/bin/env bash
# Builds the Debian packages of tersify with CPack, in their own build folder
# (the tested RelWithDebInfo build, hardened, stripped when packed; no tests or
# benchmarks), and lists what they hold:
#   build-package/tersify_<version>_<arch>.deb       the console program, without Qt
#   build-package/tersify-gui_<version>_<arch>.deb   the program with its window (when Qt is there)
# <version> is the VERSION file's; bump it, with a packaging/changelog entry,
# for each release, so that installing a newer package upgrades an older one.
# The Maintainer field is TERSIFY_MAINTAINER ("Name <address>"), else
# "$DEBFULLNAME <$DEBEMAIL>" when both are set, else the signer of the
# changelog's latest entry.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

bash "$root/scripts/setup.sh" --deps

version=$(head -n 1 "$root/VERSION")
maintainer=${TERSIFY_MAINTAINER:-}
if [ -z "$maintainer" ] && [ -n "${DEBFULLNAME:-}" ] && [ -n "${DEBEMAIL:-}" ]; then
  maintainer="$DEBFULLNAME <$DEBEMAIL>"
fi
maintainer_arg=()
[ -n "$maintainer" ] && maintainer_arg=("-DTERSIFY_MAINTAINER=$maintainer")

build_dir=${TERSIFY_PACKAGE_BUILD_DIR:-$root/build-package}
launcher=()
command -v ccache >/dev/null 2>&1 &&
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTERSIFY_WERROR=ON \
  -DTERSIFY_HARDENING=ON -DTERSIFY_TESTS=OFF -DTERSIFY_BENCH=OFF "${launcher[@]}" "${maintainer_arg[@]}" >/dev/null
cmake --build "$build_dir" --target tersify tersify-console tersify_man_page
(cd "$build_dir" && cpack -G DEB >/dev/null)

for deb in "$build_dir"/tersify_"$version"_*.deb "$build_dir"/tersify-gui_"$version"_*.deb; do
  [ -e "$deb" ] || continue
  echo "$deb"
  dpkg-deb --info "$deb"
  dpkg-deb --contents "$deb"
done
