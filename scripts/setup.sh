#!/usr/bin/env bash
# Installs the Debian packages the project needs (only when one is missing),
# registers FreeTDS's ODBC driver, then configures and builds.
#   scripts/setup.sh            install + configure + build (build/)
#   scripts/setup.sh --deps     install only
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  build-essential cmake ninja-build pkg-config
  zlib1g-dev libdeflate-dev libsqlite3-dev
  unixodbc unixodbc-dev tdsodbc freetds-bin
  libssl-dev openssl
  dpkg-dev file lintian
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-qpa-plugins
  xvfb xauth xdotool
  clang libclang-rt-14-dev
  linux-perf
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages (${missing[*]}); run as root to install them" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# FreeTDS registers itself on a default install; make sure of it all the same.
if command -v odbcinst >/dev/null 2>&1; then
  odbcinst -q -d -n FreeTDS >/dev/null 2>&1 || {
    if [ -f /usr/share/tdsodbc/odbcinst.ini ]; then
      odbcinst -i -d -f /usr/share/tdsodbc/odbcinst.ini >/dev/null
    fi
  }
fi

[ "${1:-}" = "--deps" ] && exit 0

build_dir=${TERSIFY_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTERSIFY_WERROR=ON >/dev/null
cmake --build "$build_dir"
