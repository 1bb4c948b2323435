#!/bin/sh
# libtarnwick from outside the tree, installed into a scratch prefix: the
# shared library exports the C interface alone under its SONAME, the static
# one defines no name outside the engine and the interface; a C89 program
# built with pkg-config, a C++ one built with find_package (four conversions
# at once) and the C program linked against the static library convert the
# corpus and a few more files as the command line does.
# Usage: library_consumers.sh BUILD_DIR SOURCE_DIR CORPUS_DIR [FLAGS]
# FLAGS go to both compilers (the build's sanitizers).
set -eu
build=$1 source=$2 flags=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "library_consumers: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/usr" >/dev/null
so=$work/usr/lib/libtarnwick.so
exports=$(nm -D --defined-only "$so" | awk '{print $3}' | sort | tr '\n' ' ')
[ "$exports" = "tarnwick_convert tarnwick_convert_to_buffer tarnwick_free tarnwick_version " ] ||
  fail "libtarnwick.so exports: $exports"
readelf -d "$so" | grep -q 'SONAME.*\[libtarnwick\.so\.0\]' || fail "no SONAME libtarnwick.so.0"
# The static library holds the engine (in namespace bplist) and the C
# interface alone: no other name a host program could define too (item 18 of
# the outside trial: the command line's RemoveTempAndRaise, BinaryToXML and
# BinaryToJSON). Weak definitions (templates, inline functions) cannot clash.
strays=$(nm -g --defined-only "$work/usr/lib/libtarnwick.a" |
  awk 'NF == 3 && $2 ~ /^[TDBRC]$/ && $3 !~ /^(tarnwick_|_ZN6bplist|_ZNK6bplist|_ZT[VIS]N6bplist)/ {print $3}')
[ -z "$strays" ] || fail "libtarnwick.a defines names outside the engine and the C interface: $strays"

export PKG_CONFIG_PATH="$work/usr/lib/pkgconfig"
# shellcheck disable=SC2086,SC2046
cc -std=c89 -pedantic -Wall -Wextra -Werror $flags "$source/tests/consumer/consumer.c" \
  $(pkg-config --cflags --libs tarnwick) -Wl,-rpath,"$(pkg-config --variable=libdir tarnwick)" \
  -o "$work/consumer_c" || fail "the C program does not build with pkg-config"
{ cmake -S "$source/tests/consumer" -B "$work/cpp" -DCMAKE_PREFIX_PATH="$work/usr" \
  -DCMAKE_CXX_FLAGS="$flags" && cmake --build "$work/cpp"; } >"$work/log" 2>&1 ||
  { cat "$work/log"; fail "the C++ program does not build with find_package"; }
# The C program against libtarnwick.a: from a C-only CMake project, and
# (where the build has no sanitizer, which cannot link fully static) with
# pkg-config --static, whose Libs.private name the C++ runtime.
{ cmake -S "$source/tests/consumer/static-c" -B "$work/static-c" -DCMAKE_PREFIX_PATH="$work/usr" \
  -DCMAKE_C_FLAGS="$flags" && cmake --build "$work/static-c"; } >"$work/log" 2>&1 ||
  { cat "$work/log"; fail "a C-only CMake project does not link tarnwick::tarnwick_static"; }
static_programs="static-c/consumer_static"
if [ -z "$flags" ]; then
  # shellcheck disable=SC2046
  cc -static "$source/tests/consumer/consumer.c" $(pkg-config --static --cflags --libs tarnwick) \
    -o "$work/consumer_pc_static" >"$work/log" 2>&1 ||
    { cat "$work/log"; fail "the C program does not link with pkg-config --static"; }
  static_programs="$static_programs consumer_pc_static"
fi

mkdir "$work/expected" "$work/c" "$work/cpp-out" "$work/large"
# Beside the corpus: a file of 4.8 MB, split on all threads; a text file; and
# a file whose top object, a null, cannot be written.
python3 -c "
import plistlib, sys
records = [{'name': 'record %d' % i, 'n': i, 'r': i / 7, 'tags': ['t%d' % (i % 97)]}
           for i in range(55000)]
open(sys.argv[1] + '/records', 'wb').write(plistlib.dumps(records, fmt=plistlib.FMT_BINARY))
open(sys.argv[1] + '/text', 'wb').write(b'not a property list')
trailer = bytes(6) + bytes([1, 1]) + (1).to_bytes(8, 'big') + bytes(8) + (9).to_bytes(8, 'big')
open(sys.argv[1] + '/null-top', 'wb').write(b'bplist00' + bytes([0, 8]) + trailer)" "$work/large"
files="$(find "$3" "$work/large" -maxdepth 2 -type f ! -name '*.md' | sort)"
. "$source/tests/library_expected.sh"
# The C program in every format, against the command line's verb for it.
for format in 1:-j 2:-k 3:-kj; do
  rm -rf "$work/expected" "$work/c" && mkdir "$work/expected" "$work/c"
  VERB=${format#*:} expect_outcomes "$work/expected" "$files" "$build/tarnwick"
  for f in $files; do "$work/consumer_c" "$f" "${format%:*}" >"$work/c/$(basename "$f")"; done
  diff -rq "$work/expected" "$work/c" || fail "the C program differs from tarnwick ${format#*:}"
done
rm -rf "$work/expected" "$work/c" && mkdir "$work/expected" "$work/c"
expect_outcomes "$work/expected" "$files" "$build/tarnwick"
for f in $files; do "$work/consumer_c" "$f" >"$work/c/$(basename "$f")"; done
for program in $static_programs; do
  mkdir "$work/$program.out"
  for f in $files; do "$work/$program" "$f" >"$work/$program.out/$(basename "$f")"; done
  diff -rq "$work/expected" "$work/$program.out" || fail "the static $program differs"
done
# shellcheck disable=SC2086
"$work/cpp/consumer_cpp" "$work/cpp-out" $files || fail "the C++ program's conversions disagree"
for program in c cpp-out; do
  diff -rq "$work/expected" "$work/$program" || fail "the $program program differs"
done
echo "$(echo $files | wc -w) files: the C and C++ programs match the command line"
