#!/usr/bin/env bash
# Makes the Debian package on one new root (deps.sh, a Release build with Debian's hardening flags, cpack), checks it
# there with `lintian --pedantic` (any error or warning fails; the info and pedantic tags are printed), and installs
# it on a second new root that gets nothing else but Xvfb and xdotool, where the installed generator writes a level
# and the installed viewer shows it. Catches a package that only works on the machine that built it: a library left
# out of its dependencies, a file that is not installed, a path into the build tree; and one Debian would refuse.
set -eu
export FRESH_ROOT_ONLY=1
ci=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /var/tmp/velmora-package-XXXXXX)
trap 'rm -rf "$work"' EXIT

FRESH_ROOT_EXPORT=$work "$ci/fresh-root.sh" './deps.sh >/dev/null &&
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all &&
  CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DVELMORA_BENCH=OFF >/dev/null &&
  cmake --build build-release -j"$(nproc)" >/dev/null &&
  (cd build-release && cpack -G DEB) && mkdir -p /root/export && cp build-release/velmora-viewer_*.deb /root/export/ &&
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends lintian >/dev/null &&
  { lintian --pedantic --display-info --fail-on error,warning build-release/velmora-viewer_*.deb \
      >/root/export/lintian.txt 2>&1; echo $? >/root/export/lintian-status; }'
package=$(ls "$work"/velmora-viewer_*.deb 2>/dev/null) || exit 0  # no new root here: fresh-root.sh said so
echo "package-check: made $(basename "$package")"
echo "package-check: lintian --pedantic says:"
sed 's/^/  /' "$work/lintian.txt"
if [ "$(cat "$work/lintian-status")" != 0 ] || grep -q '^[EW]: ' "$work/lintian.txt"; then
  echo "package-check: lintian found errors or warnings"
  exit 1
fi

FRESH_ROOT_BRING=$package FRESH_ROOT_EXPORT=$work/view "$ci/fresh-root.sh" "apt-get update -qq &&
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends /root/$(basename "$package") \
    xvfb xauth xdotool >/dev/null &&
  tests/package/view-installed.sh /root/export &&
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends imagemagick >/dev/null &&
  mean=\$(identify -format '%[fx:int(255*mean)]' /root/export/shot0.jpg) && echo \"screenshot mean \$mean\" &&
  [ \"\$mean\" -gt 2 ]"
