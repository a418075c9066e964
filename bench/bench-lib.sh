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
