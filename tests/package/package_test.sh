#!/usr/bin/env bash
# The Debian package as a DBA gets it: built with CPack from this build tree,
# unpacked with dpkg -x into a scratch root, and its binary run without a
# display on a demo database, a compress pass and a decompress pass.
#   package_test.sh BUILD_DIR DEMO_DB_GENERATOR
set -euo pipefail
build_dir=$1
make_demo_db=$2

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tersify-package-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }

cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$scratch/package" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$scratch"/package/tersify_*.deb)

depends=$(dpkg-deb --field "$deb" Depends)
[[ $depends == *tdsodbc* ]] || fail "Depends lacks tdsodbc: $depends"
[[ $depends == *libodbc* ]] || fail "Depends lacks the ODBC library computed from the binary: $depends"
[[ $depends == *libsqlite3* ]] || fail "Depends lacks SQLite computed from the binary: $depends"

contents=$(dpkg-deb --contents "$deb" | awk '{print $6}')
for path in ./usr/bin/tersify ./usr/share/man/man1/tersify.1.gz ./usr/share/doc/tersify/README.md; do
  grep -qx "$path" <<<"$contents" || fail "$path is missing from the package"
done
! grep -q tds-test-server <<<"$contents" || fail "the test server is in the package"

dpkg -x "$deb" "$scratch/root"
"$make_demo_db" "$scratch/demo.db" 40 >/dev/null

run() {
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 120 \
    "$scratch/root/usr/bin/tersify" "$@" /GUI=0 /IP=sqlite "/DB=$scratch/demo.db" </dev/null
}
summary='^Command completed successfully, [0-9]+ records processed, [0-9]+ records skipped$'
out=$(run /c) || fail "the compress pass failed: $out"
[[ $out =~ $summary ]] || fail "unexpected output: $out"
[[ $out != *" 0 records processed"* ]] || fail "the compress pass rewrote nothing: $out"
out=$(run /d) || fail "the decompress pass failed: $out"
[[ $out =~ $summary ]] || fail "unexpected output: $out"
zcat "$scratch/root/usr/share/man/man1/tersify.1.gz" | grep -q '^\.SH "EXIT STATUS"' || fail "the man page is not the tool's"
echo "package test: $(basename "$deb") unpacked and ran both passes"
