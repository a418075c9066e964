#!/usr/bin/env bash
# Shows the demo level: generates it and its textures into DEMO_DIR when missing, copies the shader files there and
# starts the viewer from BUILD_DIR in it. With a display the viewer opens its window. Without one (no DISPLAY) it
# renders for a few seconds on a virtual display, saves a screenshot with the u key, prints the screenshot's path
# and stops everything it started.
# Usage: tools/demo.sh BUILD_DIR DEMO_DIR [viewer arguments]
set -eu
screenshot=no
if [ "${1:-}" = --screenshot ]; then
  screenshot=yes
  shift
fi
[ $# -ge 2 ] || { echo "usage: $0 BUILD_DIR DEMO_DIR [viewer arguments]" >&2; exit 2; }
build=$(cd "$1" && pwd)
mkdir -p "$2"
demo=$(cd "$2" && pwd)
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
data=$root/data

if [ ! -f "$demo/out.txt" ]; then
  "$build/tools/velmora-levelgen" --out "$demo"
fi
# The viewer reads its shader files from the working directory; always use the current ones.
cp "$data"/*.cg "$demo/"
cd "$demo"
if [ "$screenshot" = no ]; then
  if [ -n "${DISPLAY:-}" ]; then
    exec "$build/app/velmora-viewer" "$@"
  fi
  # No display: run again on a virtual one of its own, which goes away with this script.
  exec "$root/tests/with-xvfb.sh" "$root/tools/demo.sh" --screenshot "$build" "$demo" "$@"
fi

viewer=""
cleanup() {
  set +e
  if [ -n "$viewer" ]; then kill "$viewer" 2>/dev/null; wait "$viewer" 2>/dev/null; fi
}
trap cleanup EXIT

before=$(ls shot*.jpg 2>/dev/null || true)
"$build/app/velmora-viewer" "$@" &
viewer=$!
window=""
for _ in $(seq 100); do
  window=$(xdotool search --onlyvisible --name '^VelmoraViewer$' 2>/dev/null | tail -n 1 || true)
  [ -n "$window" ] && break
  kill -0 "$viewer" 2>/dev/null || { echo "demo: the viewer stopped" >&2; exit 1; }
  sleep 0.1
done
[ -n "$window" ] || { echo "demo: the viewer's window did not appear" >&2; exit 1; }
# A key that arrives before the first frame is drawn saves an empty (black) frame: start-up takes longer on a busy
# machine or in a sanitizer build, so a black screenshot is dropped and the key pressed again.
sleep 3
shot=""
for _ in $(seq 30); do
  xdotool windowfocus --sync "$window" key u
  shot=""
  for _ in $(seq 100); do
    shot=$(comm -13 <(echo "$before") <(ls shot*.jpg 2>/dev/null) | head -n 1)
    [ -n "$shot" ] && break
    sleep 0.1
  done
  [ -n "$shot" ] || { echo "demo: no screenshot was saved" >&2; exit 1; }
  sleep 0.5
  mean=$(convert "$shot" -format '%[fx:int(255*mean)]' info: 2>/dev/null || echo 0)
  [ "$mean" -gt 2 ] && break
  rm -f "$shot"
  shot=""
  sleep 1
done
[ -n "$shot" ] || { echo "demo: every screenshot was black" >&2; exit 1; }
echo "Screenshot: $demo/$shot"
