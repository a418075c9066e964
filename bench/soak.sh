#!/usr/bin/env bash
# Soak run of the real viewer: the demo level under a virtual display of its own for SECONDS (default 600) with the
# lights animated, while keys are pressed and held, the mouse dragged and the window resized at random through
# xdotool. The viewer's resident memory is sampled every 10 s. Fails (exit 1) when the viewer dies, or when the
# memory it holds at the end (the median of the last minute's samples) exceeds the first minute's maximum by more
# than 5% (at least 4 MB). Single samples swing by some 10 MB with resizes, screenshots and shader reloads and come
# back down, so a lone peak is listed but not judged; a leak raises the whole last minute. The first minute goes
# through every action once and samples the memory while the window has its largest size. Each sample is listed
# with the window's size at that moment. Run on demand; not part of the test run.
#
# Use: bench/soak.sh [SECONDS]
set -eu
. "$(dirname "$0")/bench-lib.sh"
duration=${1:-600}
case $duration in
  '' | *[!0-9]*) echo "use: bench/soak.sh [SECONDS]" >&2; exit 2 ;;
esac

bench_build_targets velmora-viewer velmora-levelgen
level=$(bench_make_level soak)
work=$(mktemp -d)  # the viewer's working directory: screenshots and shader dumps land here
cp -r "$level"/. "$work"/
cd "$work"

viewer=""
cleanup() {
  set +e
  if [ -n "$viewer" ]; then
    kill "$viewer" 2>/dev/null
    wait "$viewer" 2>/dev/null
  fi
  bench_stop_xvfb
  cd /
  rm -rf "$work"
}
trap cleanup EXIT
bench_start_xvfb
"$bench_build/app/velmora-viewer" >viewer.log 2>&1 &
viewer=$!
window=$(bench_find_window "$viewer") || { echo "soak: the viewer's window did not appear"; tail -n 5 viewer.log; exit 1; }
xdotool windowfocus --sync "$window"

max_width=1024
max_height=768
actions=0
start=$EPOCHSECONDS
next_sample=0
samples_t=()
samples_kb=()
samples_size=()

pause() { sleep "0.$((RANDOM % 8 + 2))"; }
tap() { xdotool key "$1" 2>/dev/null || true; }
hold() {
  xdotool keydown "$1" 2>/dev/null || true
  pause
  xdotool keyup "$1" 2>/dev/null || true
}
drag() {
  local x=$((RANDOM % 600 + 100)) y=$((RANDOM % 400 + 100)) _
  xdotool mousemove --window "$window" "$x" "$y" mousedown 1 2>/dev/null || true
  for _ in 1 2 3 4 5; do
    xdotool mousemove_relative -- $((RANDOM % 81 - 40)) $((RANDOM % 61 - 30)) 2>/dev/null || true
    sleep 0.05
  done
  xdotool mouseup 1 2>/dev/null || true
}
resize() { xdotool windowsize "$window" "$1" "$2" 2>/dev/null || true; }

random_action() {
  local roll=$((RANDOM % 100)) keys=(r u t j k l p n)
  if [ "$roll" -lt 30 ]; then
    tap "${keys[RANDOM % ${#keys[@]}]}"
  elif [ "$roll" -lt 36 ]; then
    # Animation off for a moment, then on again: the lights stay animated for most of the run.
    tap space
    sleep "$((RANDOM % 3 + 1))"
    tap space
  elif [ "$roll" -lt 66 ]; then
    local moves=(w a s d f c)
    hold "${moves[RANDOM % ${#moves[@]}]}"
  elif [ "$roll" -lt 92 ]; then
    drag
  elif [ "$roll" -lt 96 ]; then
    resize $((RANDOM % (max_width - 319) + 320)) $((RANDOM % (max_height - 239) + 240))
  else
    resize 800 600
  fi
}

# Every action once, each toggle back to where it started, the largest window size included.
warm_up() {
  resize "$max_width" "$max_height"
  sleep 3
  sample
  resize 800 600
  local key
  for key in k k j j t t l l l p n u r; do
    tap "$key"
    pause
  done
  tap space
  sleep 1
  tap space
  for key in w a s d f c; do hold "$key"; done
  drag
}

sample() {
  samples_t+=($((EPOCHSECONDS - start)))
  samples_kb+=("$(bench_rss_kb "$viewer" VmRSS)")
  samples_size+=("$(xdotool getwindowgeometry "$window" 2>/dev/null | awk '/Geometry:/ { print $2 }')")
}

mb() { awk -v kb="$1" 'BEGIN { printf "%.1f", kb / 1024 }'; }
alive() { kill -0 "$viewer" 2>/dev/null; }

sample
next_sample=$((start + 10))
warm_up
actions=$((actions + 1))
while alive && [ $((EPOCHSECONDS - start)) -lt "$duration" ]; do
  if [ "$EPOCHSECONDS" -ge "$next_sample" ]; then
    sample
    next_sample=$((next_sample + 10))
  fi
  random_action
  actions=$((actions + 1))
  pause
done
died=0
if alive; then
  sample
  peak_kb=$(bench_rss_kb "$viewer" VmHWM)
else
  died=1
  peak_kb=0
fi
shots=$(ls shot*.jpg 2>/dev/null | wc -l)

first_max=0
later_max=0
end=$((EPOCHSECONDS - start))
last_minute=()
echo "| time (s) | RSS (MB) | window |"
echo "|---:|---:|---|"
for i in "${!samples_t[@]}"; do
  printf '| %d | %s | %s |\n' "${samples_t[i]}" "$(mb "${samples_kb[i]}")" "${samples_size[i]}"
  if [ "${samples_t[i]}" -le 60 ]; then
    [ "${samples_kb[i]}" -gt "$first_max" ] && first_max=${samples_kb[i]}
  else
    [ "${samples_kb[i]}" -gt "$later_max" ] && later_max=${samples_kb[i]}
    [ "${samples_t[i]}" -ge $((end - 60)) ] && last_minute+=("${samples_kb[i]}")
  fi
done
end_kb=$(printf '%s\n' "${last_minute[@]}" | sort -n | awk '{ v[NR] = $1 } END { print NR ? v[int((NR + 1) / 2)] : 0 }')
tolerance=$((first_max / 20))
[ "$tolerance" -lt 4096 ] && tolerance=4096
limit=$((first_max + tolerance))
echo
echo "soak: $end s, ${#samples_t[@]} samples, $actions action groups, $shots screenshots saved"
printf 'soak: first-minute max %s MB; last-minute median %s MB (limit %s MB); highest later sample %s MB; VmHWM %s MB\n' \
  "$(mb "$first_max")" "$(mb "$end_kb")" "$(mb "$limit")" "$(mb "$later_max")" "$(mb "$peak_kb")"
if [ "$died" -eq 1 ]; then
  echo "soak: FAIL, the viewer died; its last lines:"
  tail -n 5 viewer.log
  exit 1
fi
if [ "$end_kb" -gt "$limit" ]; then
  echo "soak: FAIL, memory grew after the first minute"
  exit 1
fi
echo "soak: PASS, the viewer ran throughout and ended within the first minute's maximum + tolerance"
