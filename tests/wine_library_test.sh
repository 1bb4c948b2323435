#!/bin/sh
# The C++ consumer linked against tarnwick.dll, under Wine: it converts the
# corpus on several threads at once to what tarnwick.exe writes. WINE_LOADER
# is the build's own (wine64 for a 64-bit build, wine for a 32-bit one): a
# 32-bit prefix cannot run a program through the 64-bit loader.
#   wine_library_test.sh CONSUMER_EXE TARNWICK_EXE WINEPREFIX SOURCE_DIR CORPUS_DIR WINE_LOADER
set -eu
WINEPREFIX=$3
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG
wine=$6
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/expected" "$dir/got"
files=$(find "$5" -maxdepth 1 -type f ! -name '*.md' | sort)
. "$4/tests/library_expected.sh"
expect_outcomes "$dir/expected" "$files" "$wine" "$2"
# shellcheck disable=SC2086
"$wine" "$1" "$dir/got" $files </dev/null || { echo "the consumer failed"; exit 1; }
diff -r "$dir/expected" "$dir/got" >/dev/null || { diff -rq "$dir/expected" "$dir/got"; exit 1; }
echo "$(echo $files | wc -w) files: the DLL's consumer matches tarnwick.exe"
