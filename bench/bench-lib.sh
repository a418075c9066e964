# Shared by run-benchmarks.sh and soak.sh (sourced): the benchmarks' own Release build folder, generated levels
# and private virtual displays. Callers use `set -eu`.

bench_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bench_build=$bench_root/build-bench

# Configures the Release build in build-bench/ and builds the given targets.
bench_build_targets() {
  cmake -S "$bench_root" -B "$bench_build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$bench_build" -j"$(nproc)" --target "$@" >/dev/null
}

# bench_make_level NAME [generator options...]: writes a fresh level with its images into build-bench/levels/NAME,
# copies the shader files beside it and prints the directory.
bench_make_level() {
  local dir=$bench_build/levels/$1
  shift
  rm -rf "$dir"
  "$bench_build/tools/velmora-levelgen" --out "$dir" "$@" >/dev/null
  cp "$bench_root"/data/*.cg "$dir/"
  echo "$dir"
}

# Starts an Xvfb of its own (1280x1024) and exports DISPLAY; the server's pid goes to bench_xvfb_pid.
bench_xvfb_pid=""
bench_start_xvfb() {
  local fifo number=""
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fifo" 2>/dev/null &
  bench_xvfb_pid=$!
  read -r -t 20 number <"$fifo" || true
  rm -f "$fifo"
  if [ -z "$number" ]; then
    echo "the virtual display did not start" >&2
    return 1
  fi
  export DISPLAY=":$number"
}

bench_stop_xvfb() {
  if [ -n "$bench_xvfb_pid" ]; then
    kill "$bench_xvfb_pid" 2>/dev/null || true
    wait "$bench_xvfb_pid" 2>/dev/null || true
    bench_xvfb_pid=""
  fi
}

# bench_find_window PID: prints the id of the viewer's mapped window once it is visible (polled every 10 ms,
# for at most 120 s); fails when the process ends first.
bench_find_window() {
  local window="" _
  for _ in $(seq 12000); do
    window=$(xdotool search --onlyvisible --name '^VelmoraViewer$' 2>/dev/null | tail -n 1 || true)
    if [ -n "$window" ]; then
      echo "$window"
      return 0
    fi
    kill -0 "$1" 2>/dev/null || return 1
    sleep 0.01
  done
  return 1
}

# bench_rss_kb PID FIELD: the process's VmRSS or VmHWM in kB.
bench_rss_kb() {
  awk -v field="$2:" '$1 == field { print $2 }' "/proc/$1/status"
}

# The median of the numbers on standard input, one a line.
median() {
  sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# calc EXPRESSION [FORMAT]: floating-point arithmetic.
calc() {
  awk "BEGIN { printf \"${2:-%.3f}\", $1 }"
}

# bench_wait_for_file FILE PID: waits (at most 300 s) for FILE; fails when the process ends first.
bench_wait_for_file() {
  local _
  for _ in $(seq 30000); do
    [ -e "$1" ] && return 0
    kill -0 "$2" 2>/dev/null || return 1
    sleep 0.01
  done
  return 1
}

# bench_startup_once VIEWER DIR LOG [LAUNCHER...]: one start-up of the real viewer (through LAUNCHER, such as
# `taskset -c 0`) to its first frame, on its own virtual display, in the level's directory; its output goes to LOG.
# Prints "<init s> <first frame s> <screenshot s> <VmHWM kB>". At the moment its window is mapped (before start-up
# has finished) two u presses are sent: the main loop handles the input that waits for it before it draws, so both
# screenshots are saved back to back right after start-up, and the interval between them is the cost of one
# screenshot. As soon as the second file exists a third u is sent; the viewer is drawing its first frame then and
# saves that screenshot after the frame. So
#   first frame on screen = (third screenshot's time - launch) - one screenshot's cost.
bench_startup_once() {
  local program=$1 dir=$2 log=$3 viewer window launch shot0 shot1 shot2 hwm
  shift 3
  rm -f "$dir"/shot*.jpg
  bench_start_xvfb
  cd "$dir"
  launch=$EPOCHREALTIME
  "$@" "$program" >>"$log" 2>&1 &
  viewer=$!
  window=$(bench_find_window "$viewer") || { echo "bench: the viewer's window did not appear" >&2; exit 1; }
  xdotool windowfocus --sync "$window" key u u
  bench_wait_for_file shot0.jpg "$viewer" && shot0=$EPOCHREALTIME
  bench_wait_for_file shot1.jpg "$viewer" && shot1=$EPOCHREALTIME
  xdotool key u
  bench_wait_for_file shot2.jpg "$viewer" && shot2=$EPOCHREALTIME
  hwm=$(bench_rss_kb "$viewer" VmHWM)
  kill "$viewer"
  wait "$viewer" 2>/dev/null || true
  bench_stop_xvfb
  # The timing screenshots are not the level's: a level directory given by the caller is left as it was.
  rm -f shot0.jpg shot1.jpg shot2.jpg
  cd "$bench_root"
  echo "startup run of $program in $dir: window mapped, shots at $shot0 $shot1 $shot2, launch $launch" >>"$log"
  calc "$shot0 - $launch - ($shot1 - $shot0)" "%.4f "
  calc "$shot2 - $launch - ($shot1 - $shot0)" "%.4f "
  calc "$shot1 - $shot0" "%.4f "
  echo "$hwm"
}
