#!/usr/bin/env bash
# Runs "$@" under a fresh Xvfb display of its own and stops the server afterwards.
# The display number is chosen by the server (-displayfd), so parallel runs never collide.
set -u
fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fifo" 2>/dev/null &
xvfb_pid=$!
read -r -t 20 display_number <"$fifo"
rm -f "$fifo"
if [ -z "${display_number:-}" ]; then
  echo "with-xvfb: Xvfb did not start" >&2
  kill "$xvfb_pid" 2>/dev/null
  exit 1
fi
trap 'kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null' EXIT
export DISPLAY=":$display_number"
# Everything run here talks to the GL driver, whose allocations live in a module that is unloaded at exit:
# LeakSanitizer cannot attribute (or suppress) them, so leak checking is left to the tests that need no display.
# Address and undefined-behaviour checks stay on.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
"$@"
