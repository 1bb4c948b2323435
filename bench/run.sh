#!/usr/bin/env bash
# The speed and memory benchmark: converts the same generated binary plists
# with tarnwick, libplist's plistutil and Python's plistlib in one run and
# prints median wall times, peak resident memory, tarnwick's ratios against
# each peer and against copying its output, -b against the peers' binary
# writers on the same file's XML, its scaling from N to 4N records,
# its cost on huge single objects, and the hot-path micro-benchmarks.
#
# Usage: bench/run.sh
# Environment: RUNS (timed runs per command, default 5), N (records in the
# main file, default 100000), SMALL_RUNS (runs per command on the small file,
# default 1000), TARNWICK_BENCH_BUILD (build directory, default
# build-bench at the top of the tree), BASELINE (a tarnwick program whose
# instruction counts the build's are compared with), ONLY (a list of the sections
# "sorted", "folders", "binary" and "instructions" to run alone, after the build and the records file). Generated inputs are cached in
# bench/out/ and remade when make_plist.py changes.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
out=$here/out
build=${TARNWICK_BENCH_BUILD:-$root/build-bench}
runs=${RUNS:-5}
n=${N:-100000}
n4=$((4 * n))
small_runs=${SMALL_RUNS:-1000}
# The small file's runs alternate between the two programs in this many
# rounds, so a change in the machine's load weighs on both alike.
small_rounds=10
mib=1048576

# ---- tools -----------------------------------------------------------------

# The peers and measuring tools, installed when missing (Debian packages).
. "$root/scripts/lib/packages.sh"
install_missing() {
  need_packages "${build_packages[@]}" python3 libplist-utils hyperfine time libbenchmark-dev valgrind
}

build_release() {
  if ! cmake -S "$root" -B "$build" -DTARNWICK_MODE=release -DCMAKE_BUILD_TYPE=Release \
    -DTARNWICK_BENCH=ON -DTARNWICK_TESTS=OFF >"$out/build.log" 2>&1 ||
    ! cmake --build "$build" -j2 --target tarnwick tarnwick_shared hot_bench >>"$out/build.log" 2>&1; then
    cat "$out/build.log"
    echo "build failed" >&2
    exit 1
  fi
}

# ---- inputs ----------------------------------------------------------------

# Empties the cache when the generator changed since the files were made.
check_cache() {
  local stamp
  stamp=$(sha256sum "$here/make_plist.py" | cut -d' ' -f1)
  if [ "$(cat "$out/generator.sha256" 2>/dev/null)" != "$stamp" ]; then
    rm -f "$out"/*.plist
    echo "$stamp" >"$out/generator.sha256"
  fi
}

# make FILE ARGS...: runs the generator with ARGS unless FILE is cached.
make_input() {
  local file=$1
  shift
  if [ ! -s "$file" ]; then
    echo "generating $(basename "$file") ..."
    python3 "$here/make_plist.py" "$@" "$file.part"
    mv "$file.part" "$file"
  fi
}

# The plistlib binary peer: load the XML property list, dump it as binary.
write_binary_peer() {
  cat >"$out/binary_peer.py" <<'EOF'
import plistlib, sys
with open(sys.argv[1], "rb") as f:
    value = plistlib.load(f)
with open(sys.argv[2], "wb") as f:
    plistlib.dump(value, f, fmt=plistlib.FMT_BINARY, sort_keys=False)
EOF
}

# The plistlib peer: load the binary plist, dump it as XML.
write_plistlib_peer() {
  cat >"$out/plistlib_peer.py" <<'EOF'
import plistlib, sys
with open(sys.argv[1], "rb") as f:
    value = plistlib.load(f)
with open(sys.argv[2], "wb") as f:
    plistlib.dump(value, f, fmt=plistlib.FMT_XML)
EOF
  # The JSON peer: plistlib.load and json.dump in one process, with the
  # conversions json lacks (data, dates, UIDs) given as `default`.
  cat >"$out/json_peer.py" <<'EOF'
import base64, datetime, json, plistlib, sys
def default(v):
    if isinstance(v, bytes):
        return base64.b64encode(v).decode()
    if isinstance(v, datetime.datetime):
        return v.isoformat() + "Z"
    if isinstance(v, plistlib.UID):
        return {"CF$UID": v.data}
    raise TypeError(type(v))
with open(sys.argv[1], "rb") as f:
    value = plistlib.load(f)
with open(sys.argv[2], "w") as f:
    json.dump(value, f, indent=2, default=default, ensure_ascii=False)
EOF
}

# ---- measuring -------------------------------------------------------------

declare -A median cpu rss

# timed KEY PREPARE CMD...: peak RSS (KiB) from one run under /usr/bin/time -v,
# which also warms the caches, then the median wall time (s) and the mean CPU
# time, user plus system (s), of $runs runs by hyperfine, each after the
# shell command PREPARE.
timed() {
  local key=$1 prepare=$2
  shift 2
  /usr/bin/time -v -o "$out/time.txt" "$@" >/dev/null
  rss[$key]=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$out/time.txt")
  hyperfine -N --style none --runs "$runs" --prepare "$prepare" \
    --export-json "$out/hyperfine.json" "$(printf '%q ' "$@")" >/dev/null 2>>"$out/hyperfine.log"
  read -r "median[$key]" "cpu[$key]" < <(python3 -c '
import json, sys
r = json.load(open(sys.argv[1]))["results"][0]
print(r["median"], r["user"] + r["system"])' "$out/hyperfine.json")
}

# measure KEY TARGET CMD...: timed, with TARGET, the file CMD writes, removed
# before every run so each tool creates its output afresh.
measure() {
  local key=$1 target=$2
  shift 2
  rm -f "$target"
  timed "$key" "rm -f $(printf '%q' "$target")" "$@"
}

# measure_alternating KEY1 KEY2 OUTPUTS RUNS ROUNDS WARMUP -- CMD1 -- CMD2:
# the median wall time (s) of each command over RUNS runs, process start
# included, run in ROUNDS alternating rounds after WARMUP runs each, so that a
# change in the machine's load weighs on both alike. OUTPUTS, the files the
# commands write, are removed before every run, as for the large files.
measure_alternating() {
  local k1=$1 k2=$2 outputs=$3 per=$(($4 / $5)) rounds=$5 warmup=$6 round
  shift 7
  local cmd1=() cmd2=()
  while [ "$1" != -- ]; do cmd1+=("$1"); shift; done
  shift
  cmd2=("$@")
  rm -f "$out"/alternating-*.json
  for ((round = 0; round < rounds; round++)); do
    hyperfine -N --style none --warmup "$warmup" --runs "$per" --prepare "rm -f $outputs" \
      --export-json "$out/alternating-$round.json" \
      "$(printf '%q ' "${cmd1[@]}")" "$(printf '%q ' "${cmd2[@]}")" >/dev/null 2>>"$out/hyperfine.log"
  done
  medians_of "$k1" "$k2" "$out"/alternating-*.json
}

# medians_of KEY1 KEY2 JSON...: the median of the first and of the second
# command's times over all the hyperfine exports JSON.
medians_of() {
  local k1=$1 k2=$2
  shift 2
  read -r "median[$k1]" "median[$k2]" < <(python3 -c '
import json, statistics, sys
times = [[], []]
for path in sys.argv[1:]:
    for i, r in enumerate(json.load(open(path))["results"]):
        times[i] += r["times"]
print(statistics.median(times[0]), statistics.median(times[1]))' "$@")
}

# measure_new_and_replacing KEY_NEW KEY_REPLACE TARGET CMD...: the median wall
# time (s) of CMD writing TARGET anew and of CMD replacing it, over $runs
# alternating rounds, so that a change in the machine's load weighs on both
# alike. Before a replacing run TARGET is CMD's own earlier output, already on
# the disk, as an existing output is; before a new run it is removed. Both
# preparations end with sync, so that no run waits for their writes.
# tarnwick flushes the new data to disk before it replaces a file.
measure_new_and_replacing() {
  local kn=$1 kr=$2 target=$3 round cmd
  shift 3
  cmd=$(printf '%q ' "$@")
  "$@" >/dev/null
  cp "$target" "$target.old"
  rm -f "$out"/replacing-*.json
  for ((round = 0; round < runs; round++)); do
    hyperfine -N --style none --runs 2 \
      --prepare "sh -c 'rm -f \"\$0\" && sync' $(printf '%q' "$target")" "$cmd" \
      --prepare "sh -c 'cp \"\$0.old\" \"\$0\" && sync' $(printf '%q' "$target")" "$cmd" \
      --export-json "$out/replacing-$round.json" >/dev/null 2>>"$out/hyperfine.log"
  done
  rm -f "$target" "$target.old"
  medians_of "$kn" "$kr" "$out"/replacing-*.json
}

# Arithmetic and formatting on decimals.
calc() { awk "BEGIN { printf \"$1\", $2 }"; }
size_of() { stat -c %s "$1"; }
mib_of() { calc "%.1f" "$1 / $mib"; }
verdict() { awk "BEGIN { print ($1) ? \"met\" : \"MISSED\" }"; }

missed=()
# target LABEL VALUE GOAL CONDITION: prints one target line and records misses.
target() {
  local v
  v=$(verdict "$4")
  printf '  %-38s %10s   target %-22s %s\n' "$1" "$2" "$3" "$v"
  [ "$v" = met ] || missed+=("$1")
}

row() { printf '  %-38s %9s %9s %12s %12s\n' "$@"; }
mib_row() { # KEY LABEL BYTES: one timed command with its figures
  row "$2" "$(calc %.3f "${median[$1]}")" "$(calc %.3f "${cpu[$1]}")" \
    "$(calc %.1f "${rss[$1]} / 1024")" "$(calc %.4f "${median[$1]} * $mib / $3")"
}

# ---- sorted keys and folders -----------------------------------------------------

# -s against -c on the records file, alternating.
bench_sorted() {
  echo
  echo "== sorted keys: tarnwick -s against -c on the records file, alternating =="
  measure_alternating sort_s sort_c "$(printf '%q ' "$out/tw-s.xml" "$out/tw-c.xml")" \
    "$((2 * runs))" 2 1 -- "$tw" -s "$records" "$out/tw-s.xml" -- "$tw" -c "$records" "$out/tw-c.xml"
  measure sort_rss "$out/tw-s.xml" "$tw" -s "$records" "$out/tw-s.xml"
  rm -f "$out"/tw-s.xml "$out"/tw-c.xml
  row "command" "wall s" "" "peak RSS MiB" ""
  row "tarnwick -s IN OUT" "$(calc %.3f "${median[sort_s]}")" "" "$(calc %.1f "${rss[sort_rss]} / 1024")" ""
  row "tarnwick -c IN OUT" "$(calc %.3f "${median[sort_c]}")" "" "" ""
  target "-s wall time / -c's" "$(calc %.3f "${median[sort_s]} / ${median[sort_c]}")" \
    "<= 1.3 (alternating)" "${median[sort_s]} <= 1.3 * ${median[sort_c]}"
}

# A folder of FOLDER_FILES small plists (the corpus's files under 8 KiB
# copied over and over into nested folders): tarnwick -dc on all processors and on one,
# against a shell loop of tarnwick -c per file.
bench_folders() {
  local files=${FOLDER_FILES:-10000} tree=$out/folder-tree one_cpu
  if [ "$(cat "$tree.count" 2>/dev/null)" != "$files small" ]; then
    rm -rf "$tree"
    python3 - "$root/tests/corpus/binary" "$tree" "$files" <<'EOF2'
import os, shutil, sys
corpus, tree, files = sys.argv[1], sys.argv[2], int(sys.argv[3])
plists = sorted(os.path.join(corpus, f) for f in os.listdir(corpus)
                if os.path.isfile(os.path.join(corpus, f)) and os.path.getsize(os.path.join(corpus, f)) < 8192)
for i in range(files):
    folder = os.path.join(tree, "%02d" % (i % 40), "%02d" % (i // 40 % 25))
    os.makedirs(folder, exist_ok=True)
    shutil.copy(plists[i % len(plists)], os.path.join(folder, "%05d-%s" % (i, os.path.basename(plists[i % len(plists)]))))
EOF2
    echo "$files small" >"$tree.count"
  fi
  cat >"$out/folder-loop.sh" <<'EOF2'
# The shell loop the manual page used to show: one process per file.
tw=$1 tree=$2 dest=$3
mkdir -p "$dest"
i=0
find "$tree" -type f | while read -r f; do
  i=$((i + 1))
  "$tw" -c "$f" "$dest/$i.xml" >/dev/null || true
done
EOF2
  one_cpu=$(python3 -c 'import os; print(min(os.sched_getaffinity(0)))')
  # Every run writes its outputs afresh; the last run's are moved aside, not
  # deleted, and all are deleted once the section is done. ext4 without a
  # journal looks at each inode freed in the last minutes (up to five) one by
  # one when it makes a file, and skips it: a run right after deleting 10,000
  # files would time that search rather than the conversion.
  rm -rf "$out"/folder-loop "$out"/folder-loop.[0-9]* "$out"/folder-out "$out"/folder-out.[0-9]*
  local aside="sh -c 'mv \"\$0\" \"\$0.\$(date +%s%N)\" 2>/dev/null; true'"
  local saved=$runs
  runs=1
  timed loop "$aside $(printf '%q' "$out/folder-loop")" sh "$out/folder-loop.sh" "$tw" "$tree" "$out/folder-loop"
  runs=$saved
  timed dir_all "$aside $(printf '%q' "$out/folder-out")" "$tw" -dc "$tree" "$out/folder-out"
  timed dir_one "$aside $(printf '%q' "$out/folder-out")" taskset -c "$one_cpu" "$tw" -dc "$tree" "$out/folder-out"
  rm -rf "$out"/folder-loop "$out"/folder-loop.[0-9]* "$out"/folder-out "$out"/folder-out.[0-9]*
  echo
  echo "== a folder of $files small plists ($(du -sm "$tree" | cut -f1) MiB, 1,000 folders), process start included =="
  row "command" "wall s" "cpu s" "peak RSS MiB" "ms per file"
  for k in loop dir_one dir_all; do
    local label
    case $k in
      loop) label="shell loop of tarnwick -c (1 run)" ;;
      dir_one) label="tarnwick -dc, 1 thread (taskset)" ;;
      dir_all) label="tarnwick -dc, $(nproc) threads" ;;
    esac
    row "$label" "$(calc %.3f "${median[$k]}")" "$(calc %.3f "${cpu[$k]}")" \
      "$(calc %.1f "${rss[$k]} / 1024")" "$(calc %.3f "${median[$k]} * 1000 / $files")"
  done
  target "shell loop / -dc" "$(calc %.1f "${median[loop]} / ${median[dir_all]}")" ">= 10" \
    "${median[loop]} >= 10 * ${median[dir_all]}"
  printf '  %-38s %10s   (no target)\n' "-dc 1 thread / $(nproc) threads" \
    "$(calc %.2f "${median[dir_one]} / ${median[dir_all]}")"
  target "-dc peak RSS MiB" "$(calc %.1f "${rss[dir_all]} / 1024")" "<= 32" "${rss[dir_all]} <= 32768"
}

# Instruction counts (callgrind) on the records file for -c, -j and -k,
# against the program BASELINE (say, a release build of main); skipped when
# BASELINE is not given.
bench_instructions() {
  echo
  if [ -z "${BASELINE:-}" ]; then
    echo "== instruction counts: skipped (set BASELINE to a program to compare with) =="
    return
  fi
  echo "== instruction counts (callgrind, one thread) on the $n-record file, against $BASELINE =="
  "$here/instructions.sh" "$BASELINE" "$tw" "$records" || missed+=("instructions")
}

# -b of the records file's XML against plistutil -f bin and plistlib's
# load + dump, with the speed and memory targets.
bench_binary() {
  echo
  echo "== binary output: tarnwick -b against plistutil -f bin and plistlib, the records file's XML =="
  local records_xml=$out/records-$n.xml runs_saved bin_size xml_size
  "$tw" -c "$records" "$records_xml"
  measure bin_tw "$out/tw.bplist" "$tw" -b "$records_xml" "$out/tw.bplist"
  bin_size=$(size_of "$out/tw.bplist")
  # The peers take minutes on this file: timed on two runs.
  runs_saved=$runs
  runs=2
  measure bin_pu "$out/pu.bplist" plistutil -i "$records_xml" -f bin -o "$out/pu.bplist"
  measure bin_py "$out/py.bplist" python3 "$out/binary_peer.py" "$records_xml" "$out/py.bplist"
  runs=$runs_saved
  xml_size=$(size_of "$records_xml")
  rm -f "$out"/tw.bplist "$out"/pu.bplist "$out"/py.bplist "$records_xml"
  echo "  $(mib_of "$xml_size") MiB of XML in; tarnwick writes $(mib_of "$bin_size") MiB"
  row "command" "wall s" "cpu s" "peak RSS MiB" ""
  row "tarnwick -b IN OUT" "$(calc %.3f "${median[bin_tw]}")" "$(calc %.3f "${cpu[bin_tw]}")" \
    "$(calc %.1f "${rss[bin_tw]} / 1024")" ""
  row "plistutil -i IN -f bin -o OUT" "$(calc %.3f "${median[bin_pu]}")" "$(calc %.3f "${cpu[bin_pu]}")" \
    "$(calc %.1f "${rss[bin_pu]} / 1024")" ""
  row "python3 plistlib load + dump binary" "$(calc %.3f "${median[bin_py]}")" \
    "$(calc %.3f "${cpu[bin_py]}")" "$(calc %.1f "${rss[bin_py]} / 1024")" ""
  target "plistutil wall time / -b's" "$(calc %.1f "${median[bin_pu]} / ${median[bin_tw]}")" ">= 5" \
    "${median[bin_pu]} >= 5 * ${median[bin_tw]}"
  target "plistlib wall time / -b's" "$(calc %.1f "${median[bin_py]} / ${median[bin_tw]}")" ">= 20" \
    "${median[bin_py]} >= 20 * ${median[bin_tw]}"
  target "-b peak RSS / plistutil's" "$(calc %.3f "${rss[bin_tw]} / ${rss[bin_pu]}")" "<= 0.5" \
    "${rss[bin_tw]} <= 0.5 * ${rss[bin_pu]}"
}

# ---- the run ---------------------------------------------------------------

mkdir -p "$out"
install_missing
build_release
check_cache
write_plistlib_peer
write_binary_peer
tw=$build/tarnwick
: >"$out/hyperfine.log"

records=$out/records-$n.plist
records4=$out/records-$n4.plist
make_input "$records" "$n"
if [ -n "${ONLY:-}" ]; then
  for section in $ONLY; do "bench_$section"; done
  ((${#missed[@]} == 0)) || echo "targets missed (${#missed[@]}): $(printf '%s; ' "${missed[@]}")"
  exit 0
fi
make_input "$records4" "$n4"
huge_files=(int-n15-x1 real-n15-x1 int-n13-x1024 int-n15-x1024 real-n13-x1024 real-n15-x1024
  string-64m string-256m data-64m data-256m)
make_input "$out/int-n15-x1.plist" huge-int 15 1
make_input "$out/real-n15-x1.plist" huge-real 15 1
make_input "$out/int-n13-x1024.plist" huge-int 13 1024
make_input "$out/int-n15-x1024.plist" huge-int 15 1024
make_input "$out/real-n13-x1024.plist" huge-real 13 1024
make_input "$out/real-n15-x1024.plist" huge-real 15 1024
make_input "$out/string-64m.plist" huge-string 64
make_input "$out/string-256m.plist" huge-string 256
make_input "$out/data-64m.plist" huge-data 64
make_input "$out/data-256m.plist" huge-data 256

echo
echo "== tarnwick benchmark, $(date -u '+%Y-%m-%d %H:%M UTC') =="
echo "  cores (nproc): $(nproc); CPU: $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo)"
echo "  load average at start: $(cut -d' ' -f1-3 /proc/loadavg) (other work on the machine adds noise)"
echo "  $(hyperfine --version), $(plistutil --version 2>&1 | sed -n 1p)," \
  "Python $(python3 -c 'import platform; print(platform.python_version())'), $(cp --version | sed -n 1p)"
echo "  wall: median of $runs runs (hyperfine); cpu: mean user+system; peak RSS: /usr/bin/time -v"

in_size=$(size_of "$records")
tw_out=$out/tarnwick.xml
measure tarnwick "$tw_out" "$tw" -c "$records" "$tw_out"
tw_out_size=$(size_of "$tw_out")
mv "$tw_out" "$out/copy-source.xml"
measure cp "$out/copy.xml" cp --reflink=never "$out/copy-source.xml" "$out/copy.xml"
measure dd "$out/copy.xml" dd if="$out/copy-source.xml" of="$out/copy.xml" bs=1M status=none
measure plistutil "$out/plistutil.xml" plistutil -i "$records" -f xml -o "$out/plistutil.xml"
measure plistlib "$out/plistlib.xml" python3 "$out/plistlib_peer.py" "$records" "$out/plistlib.xml"
rm -f "$out"/copy-source.xml "$out"/copy.xml "$out"/plistutil.xml "$out"/plistlib.xml

echo
echo "== $n records: $(mib_of "$in_size") MiB in, tarnwick writes $(mib_of "$tw_out_size") MiB =="
row "command" "wall s" "cpu s" "peak RSS MiB" "RSS / input"
show() { # KEY LABEL
  row "$2" "$(calc %.3f "${median[$1]}")" "$(calc %.3f "${cpu[$1]}")" \
    "$(calc %.1f "${rss[$1]} / 1024")" "$(calc %.2fx "${rss[$1]} * 1024 / $in_size")"
}
show tarnwick "tarnwick -c IN OUT"
show plistutil "plistutil -i IN -f xml -o OUT"
show plistlib "python3 plistlib load + dump XML"
show cp "cp of tarnwick's output"
show dd "dd bs=1M of the same (info)"
echo "  (cp --reflink=never copies inside the kernel; dd shows a read/write copy)"

echo
echo "== tarnwick against the peers, same run =="
t=${median[tarnwick]}
target "wall time / plistutil's" "$(calc %.3f "$t / ${median[plistutil]}")" "<= 0.125 (1/8)" \
  "$t <= ${median[plistutil]} / 8"
target "wall time / cp of output size" "$(calc %.2f "$t / ${median[cp]}")" "<= 2" \
  "$t <= 2 * ${median[cp]}"
printf '  %-38s %10s   (no target)\n' "wall time / plistlib's" "$(calc %.3f "$t / ${median[plistlib]}")"
printf '  %-38s %10s   (no target)\n' "wall time / dd of output size" "$(calc %.2f "$t / ${median[dd]}")"
limit_kib=$(calc %.0f "$in_size / 1024 + 32 * 1024")
target "peak RSS MiB" "$(calc %.1f "${rss[tarnwick]} / 1024")" \
  "<= input+32 = $(calc %.1f "$limit_kib / 1024")" "${rss[tarnwick]} <= $limit_kib"
printf '  %-38s %10s   (no target)\n' "peak RSS / plistutil's" \
  "$(calc %.3f "${rss[tarnwick]} / ${rss[plistutil]}")"

small=$root/examples/example.plist
measure_alternating small_tw small_pu "$(printf '%q ' "$out/small-tw.xml" "$out/small-pu.xml")" \
  "$small_runs" "$small_rounds" 20 -- "$tw" -c "$small" "$out/small-tw.xml" \
  -- plistutil -i "$small" -f xml -o "$out/small-pu.xml"
rm -f "$out"/small-tw.xml "$out"/small-pu.xml
echo
echo "== small file: examples/example.plist ($(size_of "$small") bytes), process start included =="
echo "  median of $small_runs runs each, alternating in $small_rounds rounds (hyperfine)"
row "command" "wall ms" "" "" ""
row "tarnwick -c IN OUT" "$(calc %.3f "${median[small_tw]} * 1000")" "" "" ""
row "plistutil -i IN -f xml -o OUT" "$(calc %.3f "${median[small_pu]} * 1000")" "" "" ""
target "small file: wall time / plistutil's" "$(calc %.3f "${median[small_tw]} / ${median[small_pu]}")" \
  "<= 0.7" "${median[small_tw]} <= 0.7 * ${median[small_pu]}"

echo
echo "== replacing an existing output (its data flushed to disk first) against a new output =="
example=$root/examples/example.plist
measure_new_and_replacing new_small replace_small "$tw_out" "$tw" -c "$example" "$tw_out"
measure_new_and_replacing new_records replace_records "$tw_out" "$tw" -c "$records" "$tw_out"
row "output" "new s" "replace s" "replace/new" ""
row "example.plist ($(size_of "$example") bytes)" "$(calc %.4f "${median[new_small]}")" \
  "$(calc %.4f "${median[replace_small]}")" \
  "$(calc %.2f "${median[replace_small]} / ${median[new_small]}")" ""
row "$n records ($(mib_of "$tw_out_size") MiB out)" "$(calc %.3f "${median[new_records]}")" \
  "$(calc %.3f "${median[replace_records]}")" \
  "$(calc %.2f "${median[replace_records]} / ${median[new_records]}")" ""
target "replacing / new output, $n records" \
  "$(calc %.2f "${median[replace_records]} / ${median[new_records]}")" "<= 1.2" \
  "${median[replace_records]} <= 1.2 * ${median[new_records]}"
echo "  (the data goes to the disk while the document is written; replacing also"
echo "  waits for the rest of it and removes the old file, which a new file does not)"

echo
echo "== JSON: tarnwick -j against -c on the records file, and against plistlib + json.dump =="
measure_alternating json_j json_c "$(printf '%q ' "$out/tw.json" "$out/tw-c.xml")" \
  "$((2 * runs))" 2 1 -- "$tw" -j "$records" "$out/tw.json" -- "$tw" -c "$records" "$out/tw-c.xml"
measure json_tw "$out/tw.json" "$tw" -j "$records" "$out/tw.json"
json_size=$(size_of "$out/tw.json")
# The peer takes minutes on the records file: timed on two runs.
runs_saved=$runs
runs=2
measure json_py "$out/py.json" python3 "$out/json_peer.py" "$records" "$out/py.json"
runs=$runs_saved
rm -f "$out"/tw.json "$out"/tw-c.xml "$out"/py.json
echo "  -j and -c: median of $((2 * runs)) runs each, alternating in 2 rounds;" \
  "tarnwick writes $(mib_of "$json_size") MiB of JSON"
show json_tw "tarnwick -j IN OUT"
show json_py "python3 plistlib load + json.dump"
target "-j wall time / -c's" "$(calc %.3f "${median[json_j]} / ${median[json_c]}")" "<= 1 (alternating)" \
  "${median[json_j]} <= ${median[json_c]}"
target "plistlib+json wall time / -j's" "$(calc %.1f "${median[json_py]} / ${median[json_tw]}")" \
  ">= 10" "${median[json_py]} >= 10 * ${median[json_tw]}"
target "-j peak RSS MiB" "$(calc %.1f "${rss[json_tw]} / 1024")" \
  "<= input+32 = $(calc %.1f "$limit_kib / 1024")" "${rss[json_tw]} <= $limit_kib"

echo
echo "== keyed archive: tarnwick -k against -c on the same archive of $n records =="
archive=$out/archive-$n.plist
make_input "$archive" archive "$n"
measure_alternating keyed_k keyed_c "$(printf '%q ' "$out/tw-k.xml" "$out/tw-c.xml")" \
  "$((2 * runs))" 2 1 -- "$tw" -k "$archive" "$out/tw-k.xml" -- "$tw" -c "$archive" "$out/tw-c.xml"
measure keyed_tw "$out/tw-k.xml" "$tw" -k "$archive" "$out/tw-k.xml"
keyed_size=$(size_of "$out/tw-k.xml")
measure keyed_c_rss "$out/tw-c.xml" "$tw" -c "$archive" "$out/tw-c.xml"
rm -f "$out"/tw-k.xml "$out"/tw-c.xml
archive_size=$(size_of "$archive")
echo "  $(mib_of "$archive_size") MiB in; -k writes $(mib_of "$keyed_size") MiB; -k and -c: median of" \
  "$((2 * runs)) runs each, alternating in 2 rounds"
row "command" "wall s" "cpu s" "peak RSS MiB" ""
row "tarnwick -k IN OUT" "$(calc %.3f "${median[keyed_tw]}")" "$(calc %.3f "${cpu[keyed_tw]}")" \
  "$(calc %.1f "${rss[keyed_tw]} / 1024")" ""
row "tarnwick -c IN OUT" "$(calc %.3f "${median[keyed_c_rss]}")" \
  "$(calc %.3f "${cpu[keyed_c_rss]}")" "$(calc %.1f "${rss[keyed_c_rss]} / 1024")" ""
target "-k wall time / -c's" "$(calc %.3f "${median[keyed_k]} / ${median[keyed_c]}")" \
  "<= 1.5 (alternating)" "${median[keyed_k]} <= 1.5 * ${median[keyed_c]}"
archive_limit_kib=$(calc %.0f "$archive_size / 1024 + 32 * 1024")
target "-k peak RSS MiB" "$(calc %.1f "${rss[keyed_tw]} / 1024")" \
  "<= input+32 = $(calc %.1f "$archive_limit_kib / 1024")" "${rss[keyed_tw]} <= $archive_limit_kib"

bench_sorted
bench_folders
bench_instructions

bench_binary

echo
echo "== compiled nibs (tests/corpus): tarnwick -k against -c, alternating, $small_runs runs each =="
row "nib" "-k ms" "-c ms" "-k / -c" "-k MiB / -c MiB"
for nib in "$root"/tests/corpus/binary/*.nib; do
  name=$(basename "$nib")
  measure_alternating nib_k nib_c "$(printf '%q ' "$out/nib-k.xml" "$out/nib-c.xml")" \
    "$small_runs" "$small_rounds" 5 -- "$tw" -k "$nib" "$out/nib-k.xml" -- "$tw" -c "$nib" "$out/nib-c.xml"
  "$tw" -k "$nib" "$out/nib-k.xml"
  "$tw" -c "$nib" "$out/nib-c.xml"
  row "$name" "$(calc %.2f "${median[nib_k]} * 1000")" "$(calc %.2f "${median[nib_c]} * 1000")" \
    "$(calc %.2f "${median[nib_k]} / ${median[nib_c]}")" \
    "$(calc %.2f "$(size_of "$out/nib-k.xml") / $(size_of "$out/nib-c.xml")")"
  target "-k wall time / -c's on $name" "$(calc %.3f "${median[nib_k]} / ${median[nib_c]}")" \
    "<= 1.5 (alternating)" "${median[nib_k]} <= 1.5 * ${median[nib_c]}"
done
rm -f "$out"/nib-k.xml "$out"/nib-c.xml

echo
echo "== scaling: $n and $n4 records, measured back to back =="
measure n1 "$tw_out" "$tw" -c "$records" "$tw_out"
measure n4 "$tw_out" "$tw" -c "$records4" "$tw_out"
rm -f "$tw_out"
row "input" "wall s" "cpu s" "peak RSS MiB" "wall s/MiB"
mib_row n1 "$n records ($(mib_of "$in_size") MiB)" "$in_size"
mib_row n4 "$n4 records ($(mib_of "$(size_of "$records4")") MiB)" "$(size_of "$records4")"
target "wall time 4N / N" "$(calc %.2f "${median[n4]} / ${median[n1]}")" "<= 4.5" \
  "${median[n4]} <= 4.5 * ${median[n1]}"
printf '  %-38s %10s   (no target)\n' "cpu time 4N / N" "$(calc %.2f "${cpu[n4]} / ${cpu[n1]}")"

echo
echo "== all processors against one (taskset -c), alternating; median of $((2 * runs)) runs each =="
if [ "$(nproc)" -lt 2 ]; then
  echo "  (one processor: nothing to compare)"
else
  # Files whose one large array is written many times over, the case where
  # splitting it across threads again and again could cost more than it saves.
  shared_files=(shared-256x255x255 shared-40000x1x50 shared-30000x1x100)
  for name in "${shared_files[@]}"; do
    IFS=x read -r elements outer inner <<<"${name#shared-}"
    make_input "$out/$name.plist" shared "$elements" "$outer" "$inner"
  done
  one_cpu=$(python3 -c 'import os; print(min(os.sched_getaffinity(0)))')
  row "input" "one s" "all s" "all / one" ""
  for name in "records-$n" "${shared_files[@]}"; do
    measure_alternating "one-$name" "all-$name" "$(printf '%q' "$tw_out")" \
      $((2 * runs)) "$runs" 1 -- taskset -c "$one_cpu" "$tw" -c "$out/$name.plist" "$tw_out" \
      -- "$tw" -c "$out/$name.plist" "$tw_out"
    rm -f "$tw_out"
    one=${median[one-$name]} all=${median[all-$name]}
    row "$name ($(mib_of "$(size_of "$out/$name.plist")") MiB)" "$(calc %.3f "$one")" \
      "$(calc %.3f "$all")" "$(calc %.3f "$all / $one")" ""
    target "all processors / one, $name" "$(calc %.3f "$all / $one")" "<= 1.05" "$all <= 1.05 * $one"
  done
  echo "  (shared-EXMxN: an array of E strings written M*N times, in a file of just over 4 MiB;"
  echo "   each visit of the 256-string array writes too little to be split, so its ratio"
  echo "   shows only the machine's noise between a pinned and an unpinned process)"
fi

echo
echo "== huge objects (n15: 32,768-byte values, n13: 8,192-byte; x1: one object, x1024: an array) =="
row "input" "wall s" "cpu s" "peak RSS MiB" "wall s/MiB"
for name in "${huge_files[@]}"; do
  measure "$name" "$tw_out" "$tw" -c "$out/$name.plist" "$tw_out"
  rm -f "$tw_out"
  size=$(size_of "$out/$name.plist")
  mib_row "$name" "$name ($(calc %.2f "$size / $mib") MiB)" "$size"
done
echo "  (one 32 KiB object costs little more than starting the process; linear cost means"
echo "   4x the bytes take at most 4.5x the time)"
linear() { # LABEL SMALL BIG
  target "$1" "$(calc %.2f "${median[$3]} / ${median[$2]}")" "<= 4.5" \
    "${median[$3]} <= 4.5 * ${median[$2]}"
}
linear "int: 1024 x 32768 B / 1024 x 8192 B" int-n13-x1024 int-n15-x1024
linear "real: 1024 x 32768 B / 1024 x 8192 B" real-n13-x1024 real-n15-x1024
linear "string: 256 MiB / 64 MiB" string-64m string-256m
linear "data: 256 MiB / 64 MiB" data-64m data-256m
for name in string-256m data-256m; do
  limit=$(calc %.0f "$(size_of "$out/$name.plist") / 1024 + 32 * 1024")
  target "peak RSS MiB, $name" "$(calc %.1f "${rss[$name]} / 1024")" \
    "<= input+32 = $(calc %.1f "$limit / 1024")" "${rss[$name]} <= $limit"
done

# The Python module over libtarnwick against plistlib, each in one python3
# process: reading the records file into Python values (tarnwick.loads, which
# gives plistlib's values, and to_json + json.loads, against plistlib.loads)
# and writing its XML.
cat >"$out/python_peer.py" <<'EOF'
import json, plistlib, sys
sys.path.insert(0, sys.argv[1])  # the build folder: the module beside the library
import tarnwick
what, data = sys.argv[2], open(sys.argv[3], "rb").read()
if what == "loads":
    tarnwick.loads(data)
elif what == "json":
    json.loads(tarnwick.to_json(data))
elif what == "plistlib":
    plistlib.loads(data)
elif what == "xml":
    tarnwick.to_xml(data)
elif what == "plistlib-xml":
    plistlib.dumps(plistlib.loads(data))
EOF
py_timed() { # KEY WHAT: python_peer.py WHAT on the records file, timed
  timed "$1" true python3 "$out/python_peer.py" "$build" "$2" "$records"
}
py_show() { # KEY LABEL
  row "$2" "$(calc %.3f "${median[$1]}")" "$(calc %.3f "${cpu[$1]}")" \
    "$(calc %.1f "${rss[$1]} / 1024")" ""
}
echo
echo "== Python: the tarnwick module (libtarnwick) against plistlib, $n records =="
row "command" "wall s" "cpu s" "peak RSS MiB" ""
if python3 "$out/python_peer.py" "$build" json "$small" 2>/dev/null; then
  py_timed py_loads loads
  py_timed py_json json
  py_timed py_plistlib plistlib
  py_show py_loads "tarnwick.loads(data)"
  py_show py_json "json.loads(tarnwick.to_json(data))"
  py_show py_plistlib "plistlib.loads(data)"
  target "tarnwick.loads / plistlib.loads" "$(calc %.3f "${median[py_loads]} / ${median[py_plistlib]}")" \
    "<= 1" "${median[py_loads]} <= ${median[py_plistlib]}"
  printf '  %-38s %10s   (no target)\n' "to_json + json.loads / plistlib.loads" \
    "$(calc %.3f "${median[py_json]} / ${median[py_plistlib]}")"
else
  echo "  (this library has no JSON format yet: to_json + json.loads not measured)"
fi
py_timed py_xml xml
py_timed py_plistlib_xml plistlib-xml
py_show py_xml "tarnwick.to_xml(data)"
py_show py_plistlib_xml "plistlib.dumps(plistlib.loads(data))"
printf '  %-38s %10s   (no target)\n' "to_xml / plistlib loads + dumps" \
  "$(calc %.3f "${median[py_xml]} / ${median[py_plistlib_xml]}")"

echo
echo "== micro-benchmarks of the hot paths (Google Benchmark) =="
"$build/bench/hot_bench" --benchmark_min_time=0.2 2>&1

echo
if ((${#missed[@]})); then
  echo "targets missed (${#missed[@]}): $(printf '%s; ' "${missed[@]}")"
else
  echo "all targets met"
fi
