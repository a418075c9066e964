#!/usr/bin/env bash
# Start-up against level size: launch to the first frame of the real viewer (as run-benchmarks.sh measures it) on
# the demo, 100k, 1M and 4M-triangle levels, for this build and an older one, on one core (taskset -c 0) and on
# two (taskset -c 0,1). The two builds alternate run by run (which goes first swaps every round); each figure is a
# median. Before the timed runs each build starts once per level and core count, untimed, so that both find the
# driver's and the viewer's caches warm. Writes the table (tab-separated, one row per level, core count and build)
# to bench/startup-curve.tsv and a Markdown summary with the ratios to standard output; bench/plot-startup.py draws
# bench/startup-curve.png from the table. Programs' output goes to build-bench/startup-curve.log.
#
# Use: BASELINE_VIEWER=PATH bench/startup-curve.sh
#   BASELINE_VIEWER  the older build's velmora-viewer (required)
#   VIEWER           this build's viewer; default: a Release build in build-bench/, made here
#   LEVELS_DIR       a directory with demo/, l100k/, l1m/ and l4m/ levels; default: generated into build-bench/levels
#   RUNS             timed runs per build, level and core count (default 5)
#   OUT              the table's path (default bench/startup-curve.tsv)
set -eu
. "$(dirname "$0")/bench-lib.sh"
cd "$bench_root"
: "${BASELINE_VIEWER:?must name the velmora-viewer of the older build}"
runs=${RUNS:-5}
out=${OUT:-$bench_root/bench/startup-curve.tsv}
viewer=${VIEWER:-}
if [ -z "$viewer" ] || [ -z "${LEVELS_DIR:-}" ]; then
  echo "startup-curve: building in $bench_build" >&2
  bench_build_targets velmora-viewer velmora-levelgen
  viewer=${viewer:-$bench_build/app/velmora-viewer}
fi
mkdir -p "$bench_build"
log=$bench_build/startup-curve.log
: >"$log"

# The levels, smallest first: name, directory, generator options.
names=(demo 100k 1M 4M)
if [ -n "${LEVELS_DIR:-}" ]; then
  dirs=("$LEVELS_DIR/demo" "$LEVELS_DIR/l100k" "$LEVELS_DIR/l1m" "$LEVELS_DIR/l4m")
else
  echo "startup-curve: generating levels" >&2
  dirs=("$(bench_make_level demo)" "$(bench_make_level 100k --triangles 100000)"
        "$(bench_make_level 1m --triangles 1000000)" "$(bench_make_level 4m --triangles 4000000)")
fi

printf 'level\ttriangles\tfile_mb\tcores\tbuild\tfirst_frame_s\tend_of_startup_s\truns\n' >"$out.new"
summary=""
for i in "${!names[@]}"; do
  name=${names[$i]} dir=${dirs[$i]}
  megabytes=$(calc "$(stat -L -c %s "$dir/out.txt") / 1048576" "%.1f")
  for cores in 1 2; do
    launcher=(taskset -c 0)
    [ "$cores" = 2 ] && launcher=(taskset -c 0,1)
    echo "startup-curve: $name level, $cores core(s)" >&2
    bench_startup_once "$viewer" "$dir" "$log" "${launcher[@]}" >/dev/null
    bench_startup_once "$BASELINE_VIEWER" "$dir" "$log" "${launcher[@]}" >/dev/null
    ours="" theirs=""
    for round in $(seq "$runs"); do
      order=(ours theirs)
      [ $((round % 2)) = 0 ] && order=(theirs ours)
      for side in "${order[@]}"; do
        if [ "$side" = ours ]; then
          ours+=$(bench_startup_once "$viewer" "$dir" "$log" "${launcher[@]}")$'\n'
        else
          theirs+=$(bench_startup_once "$BASELINE_VIEWER" "$dir" "$log" "${launcher[@]}")$'\n'
        fi
      done
    done
    triangles=$(grep -E '^[0-9]+ triangles\.$' "$log" | tail -n 1 | cut -d' ' -f1)
    for side in ours theirs; do
      results=$ours
      [ "$side" = theirs ] && results=$theirs
      first=$(echo "$results" | awk 'NF { print $2 }' | median)
      init=$(echo "$results" | awk 'NF { print $1 }' | median)
      build=now
      [ "$side" = theirs ] && build=before
      printf '%s\t%s\t%s\t%s\t%s\t%.4f\t%.4f\t%s\n' "$name" "$triangles" "$megabytes" "$cores" "$build" "$first" \
        "$init" "$runs" >>"$out.new"
      [ "$side" = ours ] && now_first=$first || before_first=$first
    done
    summary+="| $name | $cores | $(calc "$before_first") | $(calc "$now_first") | $(calc "$before_first / $now_first" "%.2f")x |"$'\n'
  done
done
mv "$out.new" "$out"
echo "| level | cores | before: first frame, s | now: first frame, s | sooner by |"
echo "|---|---|---|---|---|"
printf '%s' "$summary"
echo "startup-curve: table in $out (medians of $runs alternating runs)" >&2
