#!/usr/bin/env bash
# Checks what a build installs and packages: `cmake --install` into a staging
# folder must leave bin/tarnwick and share/man/man1/tarnwick.1, the manual
# page must render, and the installed program must print the version set in
# CMakeLists.txt and convert the example as the built one does. cpack must
# make a .deb holding the same two files.
#
# Usage: scripts/check-install.sh [--dpkg] BUILD_DIR
# With --dpkg the .deb is also installed with dpkg -i (as root or through
# sudo), checked the same way from /usr/bin, and removed again: CI does this.
set -euo pipefail
cd "$(dirname "$0")/.."

dpkg_too=false
if [ "${1:-}" = --dpkg ]; then
  dpkg_too=true
  shift
fi
build=${1:?usage: scripts/check-install.sh [--dpkg] BUILD_DIR}
version=$(sed -n 's/^project(tarnwick VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
example=examples/example.plist
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

fail() {
  echo "check-install: $*" >&2
  exit 1
}

# check_program PROGRAM: the version line and the example's document.
check_program() {
  local about
  about=$("$1" -about | sed -n 1p | tr -d '\r')
  [ "$about" = "Tarnwick v$version" ] || fail "$1 -about printed '$about', not 'Tarnwick v$version'"
  "$1" -c "$example" '' >"$stage/installed.xml" || fail "$1 did not convert $example"
  "$build/tarnwick" -c "$example" '' >"$stage/built.xml"
  cmp -s "$stage/installed.xml" "$stage/built.xml" || fail "$1 converts $example differently"
  echo "$1: prints Tarnwick v$version, converts $example"
}

cmake --install "$build" --prefix "$stage/usr" >/dev/null
for f in bin/tarnwick share/man/man1/tarnwick.1; do
  [ -f "$stage/usr/$f" ] || fail "cmake --install left no $f"
done
check_program "$stage/usr/bin/tarnwick"
page=$(MANWIDTH=80 man -l "$stage/usr/share/man/man1/tarnwick.1" 2>"$stage/man.err")
[ ! -s "$stage/man.err" ] || fail "man -l warns: $(cat "$stage/man.err")"
grep -q "EXIT STATUS" <<<"$page" || fail "man -l rendered no EXIT STATUS section"
grep -q "Tarnwick v$version" <<<"$page" || fail "the manual page names another version"
echo "man -l renders tarnwick.1 ($(wc -l <<<"$page") lines)"

rm -f "$build"/tarnwick_*.deb
(cd "$build" && cpack -G DEB >"$stage/cpack.log") || { cat "$stage/cpack.log"; fail "cpack failed"; }
deb=$(ls "$build"/tarnwick_*.deb)
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$deb is not version $version"
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/tarnwick ./usr/share/man/man1/tarnwick.1; do
  grep -q " $f\$" <<<"$contents" || fail "$deb holds no $f"
done
echo "$deb holds tarnwick and its manual page"

if $dpkg_too; then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" dpkg -i "$deb" >/dev/null
  trap '"${sudo[@]}" dpkg -r tarnwick >/dev/null; rm -rf "$stage"' EXIT
  [ "$(dpkg-query -W -f='${Version}' tarnwick)" = "$version" ] || fail "dpkg installed another version"
  check_program /usr/bin/tarnwick
fi
