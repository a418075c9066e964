#!/usr/bin/env bash
# Start-up of two viewer builds on one level, in alternating pairs: launch to the first frame on screen, the peak
# memory (VmHWM) at the first frame, and whether the console lines and the first frame's screenshot are the same.
#
#   bench/startup-pairs.sh OURS THEIRS LEVEL_DIR RUNS [CPUS]
#
# OURS and THEIRS are viewer binaries; LEVEL_DIR holds out.txt, its images and the shader files (it is linked into
# a scratch directory, so screenshots land there). With CPUS the viewers run under `taskset -c CPUS`. Prints one
# line per run and the medians with their ratio. The timing is the one of run-benchmarks.sh: two u presses as soon as
# the window maps give the cost of a screenshot, a third one after them the first frame.
set -eu
source "$(dirname "$0")/bench-lib.sh"
[ $# -ge 4 ] || { echo "usage: $0 OURS THEIRS LEVEL_DIR RUNS [CPUS]" >&2; exit 2; }
ours=$1 theirs=$2 level=$(cd "$3" && pwd) runs=$4 cpus=${5:-}
scratch=$(mktemp -d)
trap 'bench_stop_xvfb; rm -rf "$scratch"' EXIT
for f in "$level"/*; do ln -s "$f" "$scratch/"; done

once() {  # once VIEWER TAG: prints "<first frame s> <VmHWM kB>"; console to TAG.out, first frame to TAG.jpg
  local viewer launch pid window shot0 shot1 shot2 hwm
  viewer=$1
  rm -f "$scratch"/shot*.jpg
  bench_start_xvfb
  launch=$EPOCHREALTIME
  (cd "$scratch" && exec ${cpus:+taskset -c "$cpus"} "$viewer" >"$scratch/$2.out" 2>/dev/null) &
  pid=$!
  window=$(bench_find_window "$pid") || { echo "the viewer's window did not appear" >&2; exit 1; }
  xdotool windowfocus --sync "$window" key u u
  bench_wait_for_file "$scratch/shot0.jpg" "$pid" && shot0=$EPOCHREALTIME
  bench_wait_for_file "$scratch/shot1.jpg" "$pid" && shot1=$EPOCHREALTIME
  xdotool key u
  bench_wait_for_file "$scratch/shot2.jpg" "$pid" && shot2=$EPOCHREALTIME
  hwm=$(bench_rss_kb "$pid" VmHWM)
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  bench_stop_xvfb
  mv "$scratch/shot2.jpg" "$scratch/$2.jpg"
  awk "BEGIN { printf \"%.3f %s\n\", $shot2 - $launch - ($shot1 - $shot0), $hwm }"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

for i in $(seq "$runs"); do
  echo "theirs $i $(once "$theirs" theirs$i)"
  echo "ours   $i $(once "$ours" ours$i)"
  cmp -s "$scratch/theirs$i.out" "$scratch/ours$i.out" && echo "run $i: console lines same" ||
    echo "run $i: console lines DIFFER"
  cmp -s "$scratch/theirs$i.jpg" "$scratch/ours$i.jpg" && echo "run $i: first frame same" ||
    echo "run $i: first frame DIFFERS"
done | tee "$scratch/runs"
for side in theirs ours; do
  t=$(awk -v s=$side '$1 == s { print $3 }' "$scratch/runs" | median)
  m=$(awk -v s=$side '$1 == s { print $4 }' "$scratch/runs" | median)
  echo "median $side: first frame $t s, VmHWM $((m / 1024)) MB"
  eval "${side}_t=$t ${side}_m=$m"
done
awk "BEGIN { printf \"ours sooner by %.2fx; VmHWM ours/theirs %.2f\n\", $theirs_t / $ours_t, $ours_m / $theirs_m }"
