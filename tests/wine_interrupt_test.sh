#!/bin/sh
# Ctrl-C during a conversion, under Wine, which turns SIGINT into the
# console's Ctrl-C event: the temporary file goes, the old output stays, and
# the process ends with STATUS_CONTROL_C_EXIT (0xC000013A), of which the
# exit status Wine hands on keeps the low byte, 58.
#   wine_interrupt_test.sh TARNWICK_EXE WINEPREFIX SOURCE_DIR WINE_LOADER
set -eu
exe=$1
WINEPREFIX=$2
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG
wine=$4
# The low byte of STATUS_CONTROL_C_EXIT.
control_c_status=58
# Polls, 10 ms apart, for the temporary file to appear.
polls=1000

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
python3 "$3/bench/make_plist.py" 20000 "$dir/in.plist" >/dev/null
echo old >"$dir/out.xml"
"$wine" "$exe" -c "$dir/in.plist" "$dir/out.xml" </dev/null >/dev/null &
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
status=0
wait $pid || status=$?
left=$(ls -A "$dir" | tr '\n' ' ')
[ "$left" = "in.plist out.xml " ] || { echo "left in the directory: $left"; exit 1; }
[ "$(cat "$dir/out.xml")" = old ] || { echo "the old output was replaced"; exit 1; }
[ $status -eq $control_c_status ] || { echo "exit status $status, not $control_c_status"; exit 1; }
echo "temporary file removed, old output kept, exit status $status"
