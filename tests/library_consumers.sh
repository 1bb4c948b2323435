#!/bin/sh
# Installs a build into a scratch prefix and checks libtarnwick from outside
# the tree: the shared library exports the C interface alone under its
# SONAME; a C89 program built with pkg-config and a C++ program built with
# find_package convert every corpus file (the C++ one on several threads at
# once) to the bytes the command line writes, or fail with its reason.
#
# Usage: library_consumers.sh BUILD_DIR SOURCE_DIR CORPUS_DIR [FLAGS]
# FLAGS go to both compilers and linkers (the build's sanitizers).
set -eu
build=$1
source=$2
corpus=$3
flags=${4:-}
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT

fail() {
  echo "library_consumers: $*" >&2
  exit 1
}

cmake --install "$build" --prefix "$work/usr" >/dev/null
lib=$work/usr/lib
exports=$(nm -D --defined-only "$lib/libtarnwick.so" | awk '{print $3}' | sort | tr '\n' ' ')
[ "$exports" = "tarnwick_convert tarnwick_convert_to_buffer tarnwick_free tarnwick_version " ] ||
  fail "libtarnwick.so exports: $exports"
readelf -d "$lib/libtarnwick.so" | grep -q 'SONAME.*\[libtarnwick\.so\.0\]' || fail "no SONAME libtarnwick.so.0"

export PKG_CONFIG_PATH="$lib/pkgconfig"
# shellcheck disable=SC2086,SC2046
cc -std=c89 -pedantic -Wall -Wextra -Werror $flags "$source/tests/consumer/consumer.c" \
  $(pkg-config --cflags --libs tarnwick) -Wl,-rpath,"$(pkg-config --variable=libdir tarnwick)" \
  -o "$work/consumer_c" || fail "the C program does not build with pkg-config"
cmake -S "$source/tests/consumer" -B "$work/cpp" -DCMAKE_PREFIX_PATH="$work/usr" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$work/cmake.log" 2>&1 &&
  cmake --build "$work/cpp" >>"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log"; fail "the C++ program does not build with find_package"; }

# What the command line writes for each file, in the consumers' form. A
# file of 6 MB joins the corpus so that conversions on all threads split it.
mkdir "$work/expected" "$work/c" "$work/cpp-out" "$work/large"
python3 -c "
import plistlib, sys
records = [{'name': 'record %d' % i, 'n': i, 'r': i / 7, 'tags': ['t%d' % (i % 97), 'u%d' % i]}
           for i in range(60000)]
sys.stdout.buffer.write(plistlib.dumps(records, fmt=plistlib.FMT_BINARY))" >"$work/large/records.bplist"
files="$(find "$corpus" -maxdepth 2 -type f ! -name '*.md' | sort) $work/large/records.bplist"
. "$source/tests/library_expected.sh"
expect_outcomes "$work/expected" "$files" "$build/tarnwick"
# shellcheck disable=SC2086
"$work/consumer_c" "$work/c" $files || fail "the C program failed"
# shellcheck disable=SC2086
"$work/cpp/consumer_cpp" "$work/cpp-out" $files || fail "the C++ program failed"
diff -r "$work/expected" "$work/c" >/dev/null || fail "the C program differs: $(diff -rq "$work/expected" "$work/c")"
diff -r "$work/expected" "$work/cpp-out" >/dev/null ||
  fail "the C++ program differs: $(diff -rq "$work/expected" "$work/cpp-out")"
echo "$(echo $files | wc -w) files: the C and C++ programs match the command line"
