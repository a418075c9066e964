#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the viewer need, when any is missing.
set -eu
packages=(build-essential cmake pkg-config clang libclang-rt-14-dev freeglut3-dev libglew-dev libdevil-dev
          libboost-dev libgtest-dev libgmock-dev libbenchmark-dev libmeshoptimizer-dev
          glslang-dev glslang-tools spirv-tools libspirv-cross-c-shared-dev xvfb xauth xdotool libgl1-mesa-dri
          imagemagick python3-pil file libseccomp-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
