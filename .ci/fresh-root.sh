#!/usr/bin/env bash
# Runs the README's two commands (`./run.sh` with no display, then `./test.sh`) in a minimal Debian root made from
# nothing, on a clean clone of this commit in /root, as root.
#
# Why: the development machines and CI's machine keep every package anyone ever installed, so a green run there
# cannot see a package that deps.sh forgets or a path that only works in one place. A new root has only Debian's
# minimal base; whatever the build, the run and the tests need must come from the project's own scripts.
#
# The bare root (debootstrap --variant=minbase of this machine's Debian release, from its configured mirror) is made
# once and kept in /var/tmp/velmora-ci/base; each run works on a copy, removed at the end. Where no such root can be
# made (not root, no mirror reachable, mounting not permitted) it says so in one line and runs the commands here.
#
#   .ci/fresh-root.sh [COMMAND]   COMMAND (bash, run in the clone) instead of the README's two commands
#   FRESH_ROOT_BRING=FILE         copies FILE into /root of the new root first
#   FRESH_ROOT_EXPORT=DIR         copies what the command left in /root/export of the new root into DIR
#   FRESH_ROOT_ONLY=1             where no new root can be made, skips the command (it would change this machine)
set -eu
project=$(cd "$(dirname "$0")/.." && pwd)
top=/var/tmp/velmora-ci
base=$top/base
commands=${1:-'env -u DISPLAY ./run.sh && ./test.sh'}

plain_run() {
  if [ -n "${FRESH_ROOT_ONLY:-}" ]; then
    echo "fresh-root: $1; skipped, as it needs a new root: $commands"
    exit 0
  fi
  echo "fresh-root: $1; running the commands on this machine instead"
  cd "$project"
  exec bash -c "$commands"
}

[ "$(id -u)" -eq 0 ] || plain_run "not root, so no chroot"

# The first mirror that apt on this machine is configured with, in either sources format.
mirror() {
  { sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null
    sed -n 's/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*\) .*/\2/p' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null
  } | grep -v -e security -e '^$' | head -n 1
}

mkdir -p "$top"
if [ ! -f "$base/.ready" ]; then
  suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$suite" ] || plain_run "this machine names no Debian release"
  if ! command -v debootstrap >/dev/null; then
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap; } >"$top/install.log" 2>&1 ||
      plain_run "debootstrap cannot be installed (see $top/install.log)"
  fi
  echo "fresh-root: making a minimal Debian $suite root in $base (once per machine)"
  rm -rf "$base"
  debootstrap --variant=minbase --include=git,ca-certificates "$suite" "$base" $(mirror) >"$top/base.log" 2>&1 ||
    plain_run "debootstrap failed (see $top/base.log)"
  cp /etc/resolv.conf "$base/etc/resolv.conf"
  touch "$base/.ready"
fi

root=$(mktemp -d "$top/root-XXXXXX")
cleanup() {
  umount "$root/dev/pts" "$root/dev" "$root/proc" 2>/dev/null || true
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT
cp -a "$base/." "$root/"
if ! mount -t proc proc "$root/proc" || ! mount --bind /dev "$root/dev"; then
  cleanup
  trap - EXIT
  plain_run "mounting is not permitted here"
fi
mount --bind /dev/pts "$root/dev/pts" 2>/dev/null || true
git clone -q "$project" "$root/root/VelmoraViewer"
[ -z "${FRESH_ROOT_BRING:-}" ] || cp "$FRESH_ROOT_BRING" "$root/root/"
echo "fresh-root: clean clone of $(git -C "$project" rev-parse --short HEAD) in /root/VelmoraViewer of a new Debian root"
start=$(date +%s)
chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  LANG=C.UTF-8 CI="${CI:-}" bash -c "cd /root/VelmoraViewer && $commands"
echo "fresh-root: passed in the new root in $(( $(date +%s) - start )) s: $commands"
if [ -n "${FRESH_ROOT_EXPORT:-}" ] && [ -d "$root/root/export" ]; then
  mkdir -p "$FRESH_ROOT_EXPORT"
  cp -a "$root/root/export/." "$FRESH_ROOT_EXPORT/"
fi
