#!/usr/bin/env bash
# Builds the benchmarks and the viewer in build-bench/ (Release), generates the benchmark levels, runs every
# benchmark and prints one Markdown table, each figure beside its baseline measured in the same run. The table
# goes to bench/RESULTS.md too, with the machine it ran on. Programs' other output goes to build-bench/bench.log.
# Takes about 5 to 10 minutes on two cores. Benchmarks are never part of the test run.
#
# Use: bench/run-benchmarks.sh
#      VELMORA_BASELINE=DIR bench/run-benchmarks.sh   adds rows of parsing, the optimiser and start-up phases
#      against older code: DIR is a worktree of that code, built by the script beside this one.
#      BASELINE_BUILD=DIR bench/run-benchmarks.sh   adds the frame of this build against the frame of an earlier
#      one: DIR is a Release build of that code with the targets bench_frames and bench_frame_passes (copy
#      bench/app/FramePasses.cpp and its two CMake lines into it when it lacks them).
set -eu
. "$(dirname "$0")/bench-lib.sh"
cd "$bench_root"

echo "run-benchmarks: building in $bench_build" >&2
bench_build_targets velmora-viewer velmora-levelgen bench_level bench_meshopt bench_render_geometry \
  bench_startup_phases bench_frames bench_frame_passes
log=$bench_build/bench.log
rows=$bench_build/rows.md
: >"$log"
: >"$rows"
xvfb_run=$bench_root/tests/with-xvfb.sh

echo "run-benchmarks: generating levels" >&2
demo=$(bench_make_level demo)
level_10k=$(bench_make_level 10k --triangles 10000)
level_100k=$(bench_make_level 100k --triangles 100000)
level_1m=$(bench_make_level 1m --triangles 1000000)

# Runs a benchmark program; its table rows go to the table, everything it prints to the log.
table_rows() {
  "$@" 2>>"$log" | tee -a "$log" | { grep '^|' || true; } >>"$rows"
}

row() {
  printf '| %s | %s | %s | %s | %s |\n' "$@" >>"$rows"
}

echo "run-benchmarks: level parse and load" >&2
table_rows "$bench_build/bench/level/bench_level" 3 "$level_1m/out.txt"

echo "run-benchmarks: render-geometry build and optimiser" >&2
table_rows "$bench_build/bench/render/bench_render_geometry" 3 "$level_100k/out.txt" "$level_1m/out.txt"
table_rows "$bench_build/bench/meshopt/bench_meshopt" 5

# Start-up of the real viewer to its first frame (bench_startup_once in bench-lib.sh).
startup_once() {  # startup_once DIR
  bench_startup_once "$bench_build/app/velmora-viewer" "$1" "$log"
}

startup_rows() {  # startup_rows NAME DIR RUNS
  local name=$1 dir=$2 runs=$3 results init first shot hwm megabytes _
  results=$(for _ in $(seq "$runs"); do startup_once "$dir"; done)
  init=$(echo "$results" | awk '{ print $1 }' | median)
  first=$(echo "$results" | awk '{ print $2 }' | median)
  shot=$(echo "$results" | awk '{ print $3 }' | median)
  hwm=$(echo "$results" | awk '{ print $4 }' | median)
  megabytes=$(calc "$(stat -c %s "$dir/out.txt") / 1048576" "%.1f")
  row "start-up (real viewer)" "$name: launch to first frame on screen, s (median of $runs)" "$(calc "$first")" \
    "launch to end of start-up, before the first frame: $(calc "$init"); one screenshot (subtracted): $(calc "$shot")" \
    "$(calc "$first / $init" "%.2f")"
  row "start-up (real viewer)" "$name: peak RSS (VmHWM) at the first frame, MB (median of $runs)" \
    "$(calc "$hwm / 1024" "%.0f")" "level file: $megabytes" "$(calc "$hwm / 1024 / $megabytes" "%.2f") x file"
}

echo "run-benchmarks: start-up of the real viewer" >&2
startup_rows "10k-triangle level" "$level_10k" 5
startup_rows "100k-triangle level" "$level_100k" 3
startup_rows "1M-triangle level" "$level_1m" 3

# The same start-up functions in the same order, timed by phase, three runs per level.
phase_rows() {  # phase_rows NAME DIR
  local name=$1 dir=$2 runs=3 out="" total phase seconds _
  for _ in $(seq "$runs"); do
    out+=$(cd "$dir" && "$xvfb_run" "$bench_build/bench/app/bench_startup_phases" 2>>"$log" | tee -a "$log" |
      grep '^phase ')
    out+=$'\n'
  done
  total=$(echo "$out" | awk '$2 == "total" { print $3 }' | median)
  echo "$out" | awk '/^phase / { sub(/^phase /, ""); $NF = ""; sub(/ $/, ""); print }' | awk '!seen[$0]++' |
    while read -r phase; do
      [ "$phase" = total ] && continue
      seconds=$(echo "$out" | awk -v p="phase $phase " 'index($0, p) == 1 { print $NF }' | median)
      row "start-up by phase" "$name: $phase, ms (median of $runs)" "$(calc "$seconds * 1000" "%.1f")" \
        "whole start-up with the first frame: $(calc "$total * 1000" "%.1f")" "$(calc "100 * $seconds / $total" "%.1f")%"
    done
}

echo "run-benchmarks: start-up by phase" >&2
phase_rows "100k-triangle level" "$level_100k"
phase_rows "1M-triangle level" "$level_1m"

# Same-run comparison with the code before a change, when VELMORA_BASELINE names a worktree of it (for example
# `git worktree add /tmp/base-14 7940b86`). That tree's own render-geometry and start-up programs are built there;
# this tree's level program is compiled against its libraries, so both sides run the same benchmark code. The
# optimiser program is that tree's own, as the optimiser's calls took another shape (same meshes and timing). The two sides run alternately, three times each; each figure is the median of the three
# programs' medians, and the ratio is ours over the baseline's rate (baseline's time over ours for phases).
if [ -n "${VELMORA_BASELINE:-}" ]; then
  echo "run-benchmarks: baseline $VELMORA_BASELINE" >&2
  base=$(cd "$VELMORA_BASELINE" && pwd)
  cmake -S "$base" -B "$base/build-bench" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$base/build-bench" -j"$(nproc)" --target velmora_level velmora_meshopt bench_render_geometry \
    bench_startup_phases >/dev/null
  mkdir -p "$bench_build/baseline"
  c++ -O3 -DNDEBUG -std=c++17 -I"$base/level" -I"$base/app" -I"$bench_root/bench/common" \
    "$bench_root/bench/level/LevelBench.cpp" "$base/build-bench/level/libvelmora_level.a" \
    "$base/build-bench/app/libvelmora_math.a" -o "$bench_build/baseline/bench_level"
  c++ -O3 -DNDEBUG -std=c++17 -I"$base/meshopt" -I"$base/bench/common" -I"$base/tests/meshopt" \
    "$base/bench/meshopt/BenchMeshopt.cpp" "$base/build-bench/meshopt/libvelmora_meshopt.a" -lmeshoptimizer \
    -o "$bench_build/baseline/bench_meshopt"

  # versus SECTION MEASUREMENT_PATTERN OURS_COMMAND -- BASELINE_COMMAND: one row per measurement of the section
  # that matches the pattern (an awk regular expression).
  versus() {
    local section=$1 pattern=$2 ours=() theirs=() out="" side _
    shift 2
    while [ "$1" != -- ]; do ours+=("$1"); shift; done
    shift
    theirs=("$@")
    for _ in 1 2 3; do
      for side in ours theirs; do
        if [ $side = ours ]; then set -- "${ours[@]}"; else set -- "${theirs[@]}"; fi
        out+=$("$@" 2>>"$log" | tee -a "$log" | awk -F' [|] ' -v side=$side -v s="| $section" -v p="$pattern" \
          '$1 == s && $2 ~ p { v = $3; sub(/ .*/, "", v); print side "\t" $2 "\t" v }')
        out+=$'\n'
      done
    done
    echo "$out" | awk -F'\t' 'NF == 3 && !seen[$2]++ { print $2 }' | while IFS= read -r measurement; do
      local ours_value theirs_value
      ours_value=$(echo "$out" | awk -F'\t' -v m="$measurement" '$1 == "ours" && $2 == m { print $3 }' | median)
      theirs_value=$(echo "$out" | awk -F'\t' -v m="$measurement" '$1 == "theirs" && $2 == m { print $3 }' | median)
      row "against the code before (same run)" "$measurement" "$ours_value" "before: $theirs_value" \
        "$(calc "$ours_value / $theirs_value" "%.2f")x"
    done
  }

  # phase_versus NAME DIR: the parse-and-load and optimise phases of start-up, ours against the baseline's.
  phase_versus() {
    local name=$1 dir=$2 out="" side program _
    for _ in 1 2 3; do
      for side in ours theirs; do
        program=$bench_build/bench/app/bench_startup_phases
        [ $side = theirs ] && program=$base/build-bench/bench/app/bench_startup_phases
        out+=$(cd "$dir" && "$xvfb_run" "$program" 2>>"$log" | tee -a "$log" |
          awk -v side=$side '/^phase (parse and load|optimise) / {
            v = $NF; $1 = ""; $NF = ""; name = substr($0, 2); sub(/ $/, "", name); print side "\t" name "\t" v }')
        out+=$'\n'
      done
    done
    for phase in "parse and load" optimise; do
      local ours_value theirs_value
      ours_value=$(echo "$out" | awk -F'\t' -v p="$phase" '$1 == "ours" && $2 == p { print $3 * 1000 }' | median)
      theirs_value=$(echo "$out" | awk -F'\t' -v p="$phase" '$1 == "theirs" && $2 == p { print $3 * 1000 }' | median)
      row "against the code before (same run)" "$name: start-up phase $phase, ms (median of 3)" "$ours_value" \
        "before: $theirs_value" "$(calc "$theirs_value / $ours_value" "%.2f")x"
    done
  }

  versus "level parse and load" "^(read [+] parse [+] load, MB|parse [+] load of the text)" \
    "$bench_build/bench/level/bench_level" 3 "$level_1m/out.txt" -- \
    "$bench_build/baseline/bench_level" 3 "$level_1m/out.txt"
  versus "optimiser speed (synthetic)" "^M triangles/s" "$bench_build/bench/meshopt/bench_meshopt" 5 -- \
    "$bench_build/baseline/bench_meshopt" 5
  versus "render-geometry build" "^order" "$bench_build/bench/render/bench_render_geometry" 3 "$level_100k/out.txt" \
    "$level_1m/out.txt" -- "$base/build-bench/bench/render/bench_render_geometry" 3 "$level_100k/out.txt" \
    "$level_1m/out.txt"
  phase_versus "10k-triangle level" "$level_10k"
  phase_versus "100k-triangle level" "$level_100k"
  phase_versus "1M-triangle level" "$level_1m"
fi

echo "run-benchmarks: frame rate" >&2
frame_seconds=20
frames() {  # frames MODE: the result line of bench_frames
  (cd "$demo" && "$xvfb_run" "$bench_build/bench/app/bench_frames" "$frame_seconds" "$1" 2>>"$log" | tee -a "$log" |
    grep -E '^(frames|renderer) ')
}
animated=$(frames animated)
still=$(frames still)
renderer=$(echo "$still" | sed -n 's/^renderer //p')
field() { echo "$1" | awk -v k="$2" '$1 == "frames" { for (i = 1; i < NF; i++) if ($i == k) print $(i + 1) }'; }
row "frame rate, demo level, 800x600" \
  "lights animated: fps ($(field "$animated" frames) frames in $frame_seconds s; median frame $(field "$animated" median_ms) ms)" \
  "$(field "$animated" fps)" \
  "lights still: $(field "$still" fps) ($(field "$still" frames) frames; median frame $(field "$still" median_ms) ms)" \
  "$(calc "$(field "$animated" fps) / $(field "$still" fps)" "%.2f")"
row "frame rate, demo level, 800x600" "lights still: shadow faces rendered after frame 1 / after the last frame" \
  "$(field "$still" faces_first) / $(field "$still" faces_last)" \
  "lights animated: $(field "$animated" faces_first) / $(field "$animated" faces_last)" \
  "$(($(field "$still" faces_last) - $(field "$still" faces_first))) faces after frame 1 when still"

frame_notes() {
  cat <<'NOTES'
Bounded frame rows: this build against BASELINE_BUILD, the two taking turns three times. Processor time is
the time of all the process's threads (the driver rasterises on two), which the other work on a shared machine
disturbs less than wall-clock time. In a still frame at the demo level's start view the eye stands inside the
spheres of the three lights of its room, and they light nearly every visible pixel: those three passes and the
post pass are needed for an unchanged image, so the frame cannot shrink much below them. A stencil mark of
each light's sphere (a hull drawn with depth-fail counting) was measured and left out: llvmpipe skips the
shading of pixels the stencil rejects, yet the light passes cost the same (20 ms of processor time for the
second light either way), since the spheres hold almost all that their rectangles show. llvmpipe here offers
no depth bounds test.
NOTES
}

if [ -n "${BASELINE_BUILD:-}" ]; then
  echo "run-benchmarks: frame against $BASELINE_BUILD" >&2
  compare_dir=$bench_build/frame-compare
  rm -rf "$compare_dir"
  mkdir -p "$compare_dir"
  # record BUILD_NAME KEY VALUE: one figure of one run, for medians over the runs.
  record() { echo "$3" >>"$compare_dir/$1.$2"; }
  figure() { median <"$compare_dir/$1.$2"; }
  fps_run() {  # fps_run BUILD LEVEL SECONDS MODE: frames per second
    (cd "$2" && "$xvfb_run" "$1/bench/app/bench_frames" "$3" "$4" 2>>"$log" | tee -a "$log" |
      awk '$1 == "frames" { for (i = 1; i < NF; i++) if ($i == "fps") print $(i + 1) }')
  }
  passes_run() {  # passes_run BUILD LEVEL FRAMES NAME: records each pass's processor and wall ms under NAME
    local out
    out=$(cd "$2" && "$xvfb_run" "$1/bench/app/bench_frame_passes" "$3" still 2>>"$log" | tee -a "$log" | grep '^pass ')
    while read -r pass; do
      local label cpu wall
      label=$(echo "$pass" | sed 's/^pass //; s/ median_ms.*//; s/[^a-z]/_/g')
      wall=$(echo "$pass" | awk '{ print $(NF - 2) }')
      cpu=$(echo "$pass" | awk '{ print $NF }')
      record "$4" "cpu_$label" "$cpu"
      record "$4" "wall_$label" "$wall"
    done <<<"$out"
  }
  # The baseline reads the shader files of its own source tree, as older code may not compile today's: without
  # them it would draw with the fixed-function fallback and look faster than it is.
  baseline_source=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$BASELINE_BUILD/CMakeCache.txt")
  baseline_level() {  # baseline_level LEVEL: LEVEL's files linked into a directory of its own, with those shaders
    local copy
    copy=$compare_dir/levels/$(basename "$1")
    mkdir -p "$copy"
    ln -sf "$1"/out.txt "$1"/*.dds "$1"/*.tga "$1"/*.jpg "$copy/" 2>/dev/null || true
    cp "$baseline_source"/data/*.cg "$copy/"
    echo "$copy"
  }
  baseline_demo=$(baseline_level "$demo")
  baseline_1m=$(baseline_level "$level_1m")
  # The two builds take turns, three times, so that both see the same load.
  for run in 1 2 3; do
    for build in ours baseline; do
      dir=$bench_build demo_dir=$demo m1_dir=$level_1m
      [ "$build" = baseline ] && dir=$BASELINE_BUILD demo_dir=$baseline_demo m1_dir=$baseline_1m
      record "$build" demo_still "$(fps_run "$dir" "$demo_dir" 10 still)"
      record "$build" demo_animated "$(fps_run "$dir" "$demo_dir" 10 animated)"
      record "$build" m1_still "$(fps_run "$dir" "$m1_dir" 15 still)"
      passes_run "$dir" "$demo_dir" 20 "$build.demo"
      passes_run "$dir" "$m1_dir" 3 "$build.m1"
    done
  done
  for mode in still animated; do
    row "bounded frame, demo level, 800x600" "lights $mode: fps (median of 3 runs of 10 s)" \
      "$(figure ours demo_$mode)" "$(figure baseline demo_$mode)" \
      "$(calc "$(figure ours demo_$mode) / $(figure baseline demo_$mode)" "%.2f")"
  done
  row "bounded frame, 1M-triangle level, 800x600" "lights still: fps (median of 3 runs of 15 s)" \
    "$(figure ours m1_still)" "$(figure baseline m1_still)" \
    "$(calc "$(figure ours m1_still) / $(figure baseline m1_still)" "%.2f")"
  first_frame() {  # first_frame NAME KIND: shadow pass + rest of the first frame, ms
    calc "$(figure "$1" "$2_first_frame__shadow_pass") + $(figure "$1" "$2_first_frame__the_rest")" "%.0f"
  }
  for kind in wall cpu; do
    ours=$(first_frame ours.m1 $kind)
    base=$(first_frame baseline.m1 $kind)
    row "bounded frame, 1M-triangle level, 800x600" \
      "first frame (every shadow cube and the frame), ms $([ $kind = cpu ] && echo "of processor time" || echo "wall-clock") (median of 3)" \
      "$ours" "$base" "$(calc "$base / $ours" "%.2f") x sooner"
  done
  # Frame time by pass, in processor time (all threads; steadier than wall-clock time on a shared machine).
  # "rest" = main view set-up + statistics + swap (the shadow pass renders nothing in a still frame).
  for level_name in demo m1; do
    label="demo level"
    [ $level_name = m1 ] && label="1M-triangle level"
    for part in depth_pre_pass first_light all_lights post rest; do
      for build in ours baseline; do
        if [ $part = rest ]; then
          value=$(calc "$(figure $build.$level_name cpu_main_view_set_up) + $(figure $build.$level_name cpu_statistics) + $(figure $build.$level_name cpu_swap)" "%.2f")
        else
          value=$(figure $build.$level_name cpu_$part)
        fi
        eval "value_$build=\$value"
      done
      name=$(echo "$part" | tr _ ' ')
      [ "$part" = first_light ] && name="light passes: first light alone"
      [ "$part" = all_lights ] && name="light passes: all lights"
      row "frame by pass, $label, lights still" "$name, processor ms per frame (median)" \
        "$value_ours" "$value_baseline" "$(calc "$value_baseline / $value_ours" "%.2f") x less"
      [ "$part" = first_light ] && continue
      sum_ours=$(calc "${sum_ours:-0} + $value_ours" "%.2f")
      sum_baseline=$(calc "${sum_baseline:-0} + $value_baseline" "%.2f")
    done
    row "frame by pass, $label, lights still" "whole frame (the passes above but the first light alone), processor ms" \
      "$sum_ours" "$sum_baseline" "$(calc "$sum_baseline / $sum_ours" "%.2f") x less"
    unset sum_ours sum_baseline
  done
fi

table="| section | measurement | ours | baseline (same run) | ratio |
|---|---|---|---|---|
$(cat "$rows")"
echo "$table"

mesa=$(dpkg-query -W -f '${Version}' libgl1-mesa-dri 2>/dev/null || echo unknown)
results=$bench_root/bench/RESULTS.md
# The sections after the table (from the first "## " heading on) are written by hand and kept.
sections=$(sed -n '/^## /,$p' "$results" 2>/dev/null || true)
{
  echo "# Benchmark results"
  echo
  echo "Written by \`bench/run-benchmarks.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC')."
  echo
  echo "- CPU: $(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $(nproc) cores"
  echo "- Memory: $(awk '/^MemTotal/ { printf "%.1f GB", $2 / 1048576 }' /proc/meminfo)"
  echo "- GL: ${renderer:-unknown} (Mesa package $mesa), on Xvfb"
  echo "- Levels from \`velmora-levelgen\`: the default demo level and \`--triangles\` 10000, 100000 and 1000000."
  echo
  echo "Times are medians of the number of runs given in each row; ratios are against the baseline measured in"
  echo "the same run. meshopt fifo = \`meshopt_optimizeVertexCacheFifo\` (cache 24), meshopt vcache ="
  echo "\`meshopt_optimizeVertexCache\` (Debian's libmeshoptimizer), each given the batch's highest index + 1 as"
  echo "its vertex count. ACMR: misses per triangle through a 24-entry FIFO cache, over all batches together."
  echo "Weld: each corner costs one hash lookup at any size; the time per corner still grows from 100k to 1M"
  echo "triangles, presumably because the larger weld table no longer fits the caches (forming the vertices alone"
  echo "slows down too)."
  echo "Start-up of the real viewer: from launch until the screenshot that u asks for during the first frame"
  echo "exists, minus one screenshot's cost (see run-benchmarks.sh). The machine is shared and noisy."
  echo
  echo "Commands: \`bench/run-benchmarks.sh\` (this table, about 3 minutes) and \`bench/soak.sh [SECONDS]\`"
  echo "(the soak run, 600 s by default)."
  echo
  echo "$table"
  if [ -n "${BASELINE_BUILD:-}" ]; then
    echo
    frame_notes
  fi
  if [ -n "$sections" ]; then
    echo
    echo "$sections"
  fi
} >"$results.new"
mv "$results.new" "$results"
echo "run-benchmarks: written to bench/RESULTS.md" >&2
