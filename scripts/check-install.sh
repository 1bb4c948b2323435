#!/usr/bin/env bash
# Checks what a build installs and packages: `cmake --install` into a staging
# folder must leave bin/tarnwick and share/man/man1/tarnwick.1, the manual
# page must render, and the installed program must print the version set in
# CMakeLists.txt and convert the example as the built one does. The library,
# its header, pkg-config and CMake files must be there, and the Python module
# must convert the example as the program does, and the Debian copyright
# file must be there. When the build names a
# browser page (TARNWICK_WEB_PAGE), it must be there as
# share/doc/tarnwick/tarnwick.html. cpack must make a .deb holding all of them.
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

# Files of libtarnwick under the prefix.
library_files="lib/libtarnwick.so.0 lib/libtarnwick.so lib/libtarnwick.a include/tarnwick.h
  lib/pkgconfig/tarnwick.pc lib/cmake/tarnwick/tarnwickConfig.cmake"
if grep -Eq '^TARNWICK_WEB_PAGE:FILEPATH=.+' "$build/CMakeCache.txt"; then
  library_files+=" share/doc/tarnwick/tarnwick.html"
fi

# check_python PYTHON [PYTHON_DIR]: the module, from PYTHON_DIR or else from
# where PYTHON looks by itself, converts the example as the built program
# does, with the library installed with it.
check_python() {
  PYTHONPATH=${2:-} "$1" -c "
import sys, tarnwick
sys.stdout.buffer.write(tarnwick.to_xml(open('$example', 'rb').read()))" >"$stage/python.xml" ||
    fail "the Python module in ${2:-the path of $1} does not convert $example"
  cmp -s "$stage/python.xml" "$stage/built.xml" || fail "the Python module converts $example differently"
  echo "the Python module in ${2:-the path of $1} converts $example"
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
for f in bin/tarnwick share/man/man1/tarnwick.1 share/doc/tarnwick/copyright $library_files; do
  [ -f "$stage/usr/$f" ] || fail "cmake --install left no $f"
done
check_program "$stage/usr/bin/tarnwick"
module=$(find "$stage/usr/lib" -name tarnwick.py)
[ -n "$module" ] || fail "cmake --install left no tarnwick.py under lib/"
check_python python3 "$(dirname "$module")"
page=$(MANWIDTH=80 man -l "$stage/usr/share/man/man1/tarnwick.1" 2>"$stage/man.err")
[ ! -s "$stage/man.err" ] || fail "man -l warns: $(cat "$stage/man.err")"
grep -q "EXIT STATUS" <<<"$page" || fail "man -l rendered no EXIT STATUS section"
grep -q "Tarnwick v$version" <<<"$page" || fail "the manual page names another version"
# Every option of the synopsis starts a paragraph of its own under OPTIONS,
# its name at the paragraph tags' indent, not run into the text before it.
options=$(sed -n '/^SYNOPSIS/,/^DESCRIPTION/s/^ *tarnwick \([^ ]*\).*/\1/p' <<<"$page")
option_text=$(sed -n '/^OPTIONS/,/^EXIT STATUS/p' <<<"$page")
[ "$(wc -w <<<"$options")" -ge 5 ] || fail "the manual page's synopsis shows the options: $options"
for option in $options; do
  # The verbs' grammars, -[d][k][s][c|j] and -[d][s]b, are told by their
  # letters' paragraphs.
  [[ "$option" == *"["* ]] && continue
  grep -Eq "^ {7}$option( |\$)" <<<"$option_text" ||
    fail "the manual page's OPTIONS gives $option no paragraph of its own"
done
echo "man -l renders tarnwick.1 ($(wc -l <<<"$page") lines)"

rm -f "$build"/tarnwick_*.deb
(cd "$build" && cpack -G DEB >"$stage/cpack.log") || { cat "$stage/cpack.log"; fail "cpack failed"; }
deb=$(ls "$build"/tarnwick_*.deb)
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$deb is not version $version"
# The description names every document tarnwick writes.
description=$(dpkg-deb -f "$deb" Description)
for format in XML JSON "keyed archives"; do
  grep -q "$format" <<<"$description" || fail "the description of $deb does not name $format"
done
contents=$(dpkg-deb -c "$deb")
for f in bin/tarnwick share/man/man1/tarnwick.1 share/doc/tarnwick/copyright $library_files lib/python3/dist-packages/tarnwick.py; do
  grep -Eq " ./usr/$f( -> .*)?\$" <<<"$contents" || fail "$deb holds no /usr/$f"
done
echo "$deb holds tarnwick, its manual page, libtarnwick and the Python module"

if $dpkg_too; then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" dpkg -i "$deb" >/dev/null
  trap '"${sudo[@]}" dpkg -P tarnwick >/dev/null; rm -rf "$stage"' EXIT
  [ "$(dpkg-query -W -f='${Version}' tarnwick)" = "$version" ] || fail "dpkg installed another version"
  check_program /usr/bin/tarnwick
  check_python /usr/bin/python3  # Debian's own
fi
