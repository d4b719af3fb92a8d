#!/usr/bin/env bash
# The Debian packages as a DBA gets them: built with CPack from this build
# tree, checked with lintian (no error, no hardening hint), installed with dpkg
# into a scratch root that has its own package database (the machine's is never
# touched), upgraded there by a newer build, and the installed console binary
# run without a display on a demo database, a compress pass and a decompress pass.
#   package_test.sh BUILD_DIR DEMO_DB_GENERATOR
set -euo pipefail
build_dir=$1
make_demo_db=$2
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tersify-package-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }

version=$(head -n 1 "$source_dir/VERSION")
arch=$(dpkg --print-architecture)
pack() {  # pack OUTPUT_DIR [cpack arguments...]
  local out=$1
  shift
  cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$out" "$@" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
}
pack "$scratch/package"
deb=$scratch/package/tersify_${version}_${arch}.deb
gui_deb=$scratch/package/tersify-gui_${version}_${arch}.deb
[ -f "$deb" ] || fail "no $(basename "$deb"): $(ls "$scratch/package")"

# The version is the VERSION file's, and the changelog has its entry.
[ "$(dpkg-deb --field "$deb" Version)" = "$version" ] || fail "the package's version is not VERSION's $version"
dpkg-deb -x "$deb" "$scratch/unpacked"
top=$(zcat "$scratch/unpacked/usr/share/doc/tersify/changelog.gz" | head -n 1)
[[ $top == "tersify ($version) "* ]] || fail "the changelog's latest entry is not $version: $top"

# The console package: the ODBC driver and the libraries its binary needs, and no Qt.
depends=$(dpkg-deb --field "$deb" Depends)
[[ $depends == *tdsodbc* ]] || fail "Depends lacks tdsodbc: $depends"
[[ $depends == *libodbc* ]] || fail "Depends lacks the ODBC library computed from the binary: $depends"
[[ $depends == *libsqlite3* ]] || fail "Depends lacks SQLite computed from the binary: $depends"
[[ $depends != *qt6* ]] || fail "the console package depends on Qt: $depends"
! readelf -d "$scratch/unpacked/usr/bin/tersify" | grep -qi 'NEEDED.*Qt' || fail "the console binary links Qt"
maintainer=$(dpkg-deb --field "$deb" Maintainer)
[[ $maintainer =~ ^[^\<]+\ \<[^@\>]+@[^@\>]+\.[^@\>]+\>$ ]] || fail "the maintainer is no name and address: $maintainer"

contents=$(dpkg-deb --contents "$deb" | awk '{print $6}')
for path in ./usr/bin/tersify ./usr/share/man/man1/tersify.1.gz ./usr/share/doc/tersify/README.md \
  ./usr/share/doc/tersify/copyright ./usr/share/doc/tersify/changelog.gz; do
  grep -qx "$path" <<<"$contents" || fail "$path is missing from the package"
done
! grep -q tds-test-server <<<"$contents" || fail "the test server is in the package"
grep -q "^tersify - " "$scratch/unpacked/usr/share/doc/tersify/copyright" || fail "the copyright file is not the tool's"

# The window's package, when the build has Qt: its own binary, needing Qt.
debs=("$deb")
if [ -f "$gui_deb" ]; then
  debs+=("$gui_deb")
  [[ $(dpkg-deb --field "$gui_deb" Depends) == *libqt6widgets6* ]] || fail "tersify-gui does not depend on Qt"
  gui_contents=$(dpkg-deb --contents "$gui_deb")
  grep -q '\./usr/bin/tersify-gui -> ' <<<"$gui_contents" || fail "tersify-gui has no bin/tersify-gui"
fi

# lintian: no error, and every hardening flag in place (its hardening tags are
# of the informational kind, hence -I).
lintian -I --tag-display-limit 0 "${debs[@]}" >"$scratch/lintian.log" 2>&1 || true
if grep -E '^E: |hardening-' "$scratch/lintian.log" >&2; then
  fail "lintian reports the lines above"
fi

# Installed into a scratch root with its own, empty package database: the
# libraries of the machine are not registered there, hence --force-depends.
root=$scratch/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
: >"$root/var/lib/dpkg/status"
: >"$root/var/lib/dpkg/available"
install_deb() {
  dpkg --root="$root" --log="$scratch/dpkg.log" --force-depends --force-not-root -i "$1" >"$scratch/dpkg.out" 2>&1 ||
    { cat "$scratch/dpkg.out" >&2; fail "dpkg -i $(basename "$1") failed"; }
}
installed_version() { dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Version}' tersify; }
install_deb "$deb"
[ "$(installed_version)" = "$version" ] || fail "tersify $version is not installed"

# A newer build upgrades it, and its files replace the installed ones.
newer="$version+1"
dpkg --compare-versions "$newer" gt "$version" || fail "$newer does not sort after $version"
pack "$scratch/newer" -R "$newer"
echo "not the program" >"$root/usr/bin/tersify"
install_deb "$scratch/newer/tersify_${newer}_${arch}.deb"
[ "$(installed_version)" = "$newer" ] || fail "the newer build did not upgrade tersify $version"
grep -q "over ($version)" "$scratch/dpkg.out" || fail "dpkg did not upgrade: $(cat "$scratch/dpkg.out")"
cmp -s "$root/usr/bin/tersify" "$scratch/unpacked/usr/bin/tersify" || fail "the upgrade left the old binary"

# The installed console program runs both passes without a display.
"$make_demo_db" "$scratch/demo.db" 40 >/dev/null
run() {
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 120 \
    "$root/usr/bin/tersify" "$@" /GUI=0 /IP=sqlite "/DB=$scratch/demo.db" </dev/null 2>"$scratch/err"
}
summary='^Command completed successfully, [0-9]+ records processed, [0-9]+ records skipped$'
out=$(run /c) || fail "the compress pass failed: $out"
[[ $out =~ $summary ]] || fail "unexpected output: $out"
[[ $out != *" 0 records processed"* ]] || fail "the compress pass rewrote nothing: $out"
# The savings line, and on it the advice on getting the freed pages back.
grep -q "^tqz_reports.acReportData on $scratch/demo.db: .* % smaller; $scratch/demo.db keeps .* VACUUM" "$scratch/err" ||
  fail "no savings line after the compress pass: $(cat "$scratch/err")"
out=$(run /d) || fail "the decompress pass failed: $out"
[[ $out =~ $summary ]] || fail "unexpected output: $out"
zcat "$root/usr/share/man/man1/tersify.1.gz" | grep -q '^\.SH "EXIT STATUS"' || fail "the man page is not the tool's"
echo "package test: $(basename "$deb") passed lintian, installed, upgraded to $newer and ran both passes"
