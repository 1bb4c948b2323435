#!/bin/sh
# The C++ consumer linked against tarnwick.dll, under Wine: it converts the
# corpus on several threads at once to what tarnwick.exe writes.
#   wine_library_test.sh CONSUMER_EXE TARNWICK_EXE WINEPREFIX SOURCE_DIR CORPUS_DIR
set -eu
WINEPREFIX=$3
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/expected" "$dir/got"
files=$(find "$5" -maxdepth 1 -type f ! -name '*.md' | sort)
. "$4/tests/library_expected.sh"
expect_outcomes "$dir/expected" "$files" /usr/lib/wine/wine64 "$2"
# shellcheck disable=SC2086
/usr/lib/wine/wine64 "$1" "$dir/got" $files </dev/null || { echo "the consumer failed"; exit 1; }
diff -r "$dir/expected" "$dir/got" >/dev/null || { diff -rq "$dir/expected" "$dir/got"; exit 1; }
echo "$(echo $files | wc -w) files: the DLL's consumer matches tarnwick.exe"
