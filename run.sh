#!/usr/bin/env bash
# Builds the viewer and shows the demo level in out/demo (generated with its textures when missing). With a
# display the viewer opens its window; without one it renders on a virtual display and saves a screenshot
# (tools/demo.sh says how).
set -eu
cd "$(dirname "$0")"
./deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target velmora-viewer velmora-levelgen >/dev/null

exec tools/demo.sh build out/demo "$@"
