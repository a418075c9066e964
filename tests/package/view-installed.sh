#!/usr/bin/env bash
# Looks at an installed viewer as a level designer would: the installed generator writes a level, the installed
# viewer (found on PATH) shows it on a virtual display, u saves a screenshot. Fails when a program is missing from
# PATH, either prints a failure line, or the screenshot is not saved. The screenshot and both programs'
# output are left in OUT_DIR.
#   tests/package/view-installed.sh OUT_DIR
# Needs only the package, Xvfb and xdotool.
set -eu
out=$(mkdir -p "$1" && cd "$1" && pwd)
level=$(mktemp -d)
cd "$level"
fail() { echo "view-installed: $*"; exit 1; }

for tool in velmora-viewer velmora-levelgen velmora-order velmora-cgc; do
  command -v "$tool" >/dev/null || fail "$tool is not on PATH"
  "$tool" --help >/dev/null 2>&1 || fail "$tool --help failed"
  "$tool" --version | grep -qx "$tool (VelmoraViewer) [0-9.]*" || fail "$tool --version failed"
done
velmora-levelgen --out "$level" >"$out/levelgen.txt" 2>&1 || fail "the generator failed: $(cat "$out/levelgen.txt")"
grep -qx '[0-9]* triangles, [0-9]* lights, [0-9]* leaves, [0-9]* nodes, [0-9]* materials' "$out/levelgen.txt" ||
  fail "the generator printed: $(cat "$out/levelgen.txt")"
for shader in shader.cg ambient.cg shadow.cg post.cg; do
  [ -f "$shader" ] || fail "the generator left no $shader beside the level"
done
velmora-cgc --entry fragmain --profile fragment post.cg >/dev/null || fail "velmora-cgc cannot compile post.cg"

display=:$(( 50 + $$ % 200 ))
Xvfb "$display" -screen 0 1024x768x24 -noreset -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
viewer=""
cleanup() {
  [ -n "$viewer" ] && kill "$viewer" 2>/dev/null
  kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$level"
}
trap cleanup EXIT
export DISPLAY=$display
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

velmora-viewer >"$out/viewer.txt" 2>&1 &
viewer=$!
window=""
for _ in $(seq 200); do
  window=$(xdotool search --onlyvisible --name '^VelmoraViewer$' 2>/dev/null | tail -n 1 || true)
  [ -n "$window" ] && break
  kill -0 "$viewer" 2>/dev/null || fail "the viewer stopped: $(cat "$out/viewer.txt")"
  sleep 0.1
done
[ -n "$window" ] || fail "the viewer's window did not appear"
sleep 5
xdotool windowfocus --sync "$window" key u
for _ in $(seq 100); do [ -s shot0.jpg ] && break; sleep 0.1; done
sleep 1
[ -s shot0.jpg ] || fail "no screenshot was saved"
cp shot0.jpg "$out/"
kill "$viewer"
wait "$viewer" 2>/dev/null || true
viewer=""
# A clean start-up prints only these lines; anything else (a missing image, a shader report, a level error) fails.
clean='^(File opened|[0-9]+ nodes\.|[0-9]+ lights\.|Done loading BSP file\.|[0-9]+ triangles\.)$'
if grep -v -E "$clean" "$out/viewer.txt" | grep -q .; then
  fail "the viewer printed a failure line: $(grep -v -E "$clean" "$out/viewer.txt" | head -n 3)"
fi
echo "view-installed: the installed generator wrote a level and the installed viewer showed it ($out/shot0.jpg)"
