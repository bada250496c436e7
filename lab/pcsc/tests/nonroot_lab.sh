#!/usr/bin/env bash
# The lab as an ordinary user: `scripts/lab up` brings pcscd and the cards up,
# every card is seen through PC/SC, `down` stops them. Run as root, it checks
# both ways an ordinary user (nobody) gets pcscd going, each in a private
# mount namespace with a fresh /run: /run/pcscd made by root beforehand, and
# no /run/pcscd at all (pcscd then runs in a user namespace of its own).
# Run as another user, it checks that user's way on this machine.
# usage: nonroot_lab.sh <scripts/lab> <build dir>
set -euo pipefail
lab=$1 build=$2

# up, status, down in DIR as the calling user; fails on any missing card.
check() {
  local dir=$1 status
  "$lab" up "$dir" --build "$build" >/dev/null
  status=$("$lab" status "$dir")
  "$lab" down "$dir"
  for card in "rutoken 0A1B2C3D" "jacarta JC2000000001" "mskey MSK00000001" "vel vel1"; do
    if ! grep -E "state=0x[0-9A-F]*2[02] .* $card\$" <<<"$status" >/dev/null; then
      echo "no $card seen as $(id -un):" >&2
      echo "$status" >&2
      return 1
    fi
  done
  if [ -e "$dir/lab.json" ]; then
    echo "down left the lab's state behind" >&2
    return 1
  fi
  echo "lab up and down as $(id -un) in $dir: every card seen"
}

if [ "${1:-}" = --check ]; then
  # Re-entered as the ordinary user: --check <lab> <build> <dir>
  lab=$2 build=$3
  check "$4"
  exit
fi

if [ "$(id -u)" != 0 ]; then
  dir=$(mktemp -d)
  trap 'rm -rf "$dir"' EXIT
  check "$dir/lab"
  exit
fi

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
chown nobody "$dir"
chmod 700 "$dir"
self=$(readlink -f "$0")
for mode in with-ipc-dir without-ipc-dir; do
  unshare --mount --propagation private /bin/sh -c '
    mount -t tmpfs -o mode=755 tmpfs /run
    [ "$1" = with-ipc-dir ] && install -d -m 755 /run/pcscd
    exec setpriv --reuid=nobody --regid=nogroup --clear-groups --reset-env "$2" --check "$3" "$4" "$5"
  ' sh "$mode" "$self" "$lab" "$build" "$dir/$mode"
done
