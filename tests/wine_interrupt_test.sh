#!/bin/sh
# Ctrl-C during a conversion, under Wine, which turns SIGINT into the
# console's Ctrl-C event: the temporary file goes and the old output stays.
#   wine_interrupt_test.sh TARNWICK_EXE WINEPREFIX SOURCE_DIR
set -eu
exe=$1
WINEPREFIX=$2
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG
# Polls, 10 ms apart, for the temporary file to appear.
polls=1000

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
python3 "$3/bench/make_plist.py" 20000 "$dir/in.plist" >/dev/null
echo old >"$dir/out.xml"
/usr/lib/wine/wine64 "$exe" -c "$dir/in.plist" "$dir/out.xml" </dev/null >/dev/null &
pid=$!
i=0
until ls -A "$dir" | grep '^\.tarnwick-' >/dev/null; do
  i=$((i + 1))
  if [ $i -ge $polls ]; then
    echo "no temporary file appeared"
    kill $pid
    exit 1
  fi
  sleep 0.01
done
kill -INT $pid
wait $pid || true
left=$(ls -A "$dir" | tr '\n' ' ')
[ "$left" = "in.plist out.xml " ] || { echo "left in the directory: $left"; exit 1; }
[ "$(cat "$dir/out.xml")" = old ] || { echo "the old output was replaced"; exit 1; }
echo "temporary file removed, old output kept"
