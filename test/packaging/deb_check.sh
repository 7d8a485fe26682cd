#!/usr/bin/env bash
# `make deb-check`: the Debian package as an operator station gets it. Into a clean Debian 12
# root (debootstrap, from the archive this machine's apt uses; made once and kept under CACHE),
# `apt-get install ./FILE.deb`; then the demo session, plain and secured, with the installed
# programs on a loopback of its own; then a purge, after which the root must hold exactly the
# files it held before.
#
#   test/packaging/deb_check.sh FILE.deb CACHE       (as root)
set -euo pipefail

deb=$(realpath "$1")
cache=$(mkdir -p "$2" && cd "$2" && pwd)
pristine=$cache/pristine
root=$cache/root
archives=$cache/apt-archives

mirror=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1)
mirror=${mirror:-$(awk '$1 == "deb" {print $2; exit}' /etc/apt/sources.list 2>/dev/null)}
if [ ! -d "$pristine" ]; then
  echo "deb-check: debootstrap bookworm from $mirror into $pristine (once)"
  rm -rf "$pristine.tmp"
  debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus,iproute2 bookworm \
    "$pristine.tmp" "$mirror" > "$cache/debootstrap.log"
  mv "$pristine.tmp" "$pristine"
fi
rm -rf "$root"
cp -a "$pristine" "$root"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mkdir -p "$archives/partial"
cp "$deb" "$root/tmp/"

# in_root [UNSHARE-OPTION...] -- COMMAND: COMMAND in the root, with /proc, /dev and the kept
# package cache mounted for its time only (in a mount namespace of its own).
in_root() {
  local options=()
  while [ "$1" != -- ]; do options+=("$1"); shift; done
  shift
  unshare --mount --propagation private --fork "${options[@]}" sh -c '
    root=$1 archives=$2; shift 2
    mount -t proc proc "$root/proc" && mount --rbind /dev "$root/dev" &&
      mount --bind "$archives" "$root/var/cache/apt/archives" &&
      exec chroot "$root" "$@"' sh "$root" "$archives" "$@"
}

# Everything in the root but what changes by itself: caches, logs, apt's lists, backups.
files() {
  (cd "$root" && find . -xdev \( -path ./proc -o -path ./sys -o -path ./dev -o -path ./tmp \
    -o -path ./run -o -path ./var/cache -o -path ./var/log -o -path ./var/lib/apt/lists \
    -o -name '*-old' \) -prune -o -print | sort)
}

in_root -- apt-get update -qq
files > "$cache/before.txt"
echo "deb-check: apt-get install ./$(basename "$deb")"
in_root -- env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "/tmp/$(basename "$deb")" \
  > "$cache/install.log"
for program in tavrin_arm_teleop_node tavrin_joy_mapping tavrin_keyboard_controller \
  tavrin_virtual_controller tavrin_demo_robot tavrin_demo tavrin_make_keystore; do
  in_root -- sh -c "command -v $program > /dev/null" || { echo "deb-check: no $program"; exit 1; }
done
in_root -- systemd-analyze verify /lib/systemd/system/tavrin-arm-teleop.service
if in_root -- systemctl is-enabled tavrin-arm-teleop.service > /dev/null 2>&1; then
  echo "deb-check: the package enabled its unit"
  exit 1
fi

for secure in 0 1; do
  echo "deb-check: the demo session with the installed programs (DEMO_SECURE=$secure)"
  in_root --net -- sh -c "ip link set lo up && DEMO_SECURE=$secure DEMO_LOG_DIR=/tmp/demo TERM=dumb \
    tavrin_demo" > "$cache/demo$secure.log" 2>&1 ||
    { tail -30 "$cache/demo$secure.log"; echo "deb-check: the demo failed"; exit 1; }
  grep -q "demo: done, everything shut down cleanly" "$cache/demo$secure.log"
done

echo "deb-check: apt-get purge --autoremove tavrin-arm-teleop"
in_root -- env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq --autoremove \
  tavrin-arm-teleop > "$cache/purge.log"
files > "$cache/after.txt"
if ! diff "$cache/before.txt" "$cache/after.txt"; then
  echo "deb-check: the purge left the files above (> left, < gone)"
  exit 1
fi
echo "deb-check: passed; installed, ran the demo twice, purged without a trace"
