#!/usr/bin/env bash
# `make deb-check`: the Debian package as an operator station gets it. Into a clean Debian 12
# root (debootstrap, from the archive this machine's apt uses; made once and kept under CACHE),
# `apt-get install ./FILE.deb`; then the demo session, plain and secured, with the installed
# programs on a loopback of its own; then the service in a booted copy of the root; then a
# purge, after which the root must hold exactly the files it held before.
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

# Everything in the root but what changes by itself: caches, logs, apt's lists and records of
# what was installed automatically, backups.
files() {
  (cd "$root" && find . -xdev \( -path ./proc -o -path ./sys -o -path ./dev -o -path ./tmp \
    -o -path ./run -o -path ./var/cache -o -path ./var/log -o -path ./var/lib/apt/lists \
    -o -path ./var/lib/apt/extended_states -o -name '*-old' -o -path './etc/*-' \) -prune \
    -o -print | sort)
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

# The unit, as installed, under its own restrictions: a copy of the root booted with
# systemd-nspawn on a network of its own runs the service, secured with Enforce and reading
# /joy, beside a demo robot and a scripted controller; then stops it.
echo "deb-check: the service under its restrictions, in a booted copy of the root"
booted=$cache/booted
rm -rf "$booted"
cp -a "$root" "$booted"
mkdir -p "$booted/etc/tavrin-arm-teleop"
sed 's|joy_dev: .*|joy_dev: /joy|' "$booted/usr/share/tavrin-arm-teleop/teleop.yaml" \
  > "$booted/etc/tavrin-arm-teleop/joy.yaml"
root=$booted in_root -- env ROS_DOMAIN_ID=220 tavrin_make_keystore /etc/tavrin-arm-teleop/keystore \
  > /dev/null
security="ROS_SECURITY_ENABLE=true ROS_SECURITY_STRATEGY=Enforce"
cat > "$booted/etc/default/tavrin-arm-teleop" <<SETTINGS
ROS_LOCALHOST_ONLY=1
ROS_DOMAIN_ID=220
TAVRIN_PARAMS=/etc/tavrin-arm-teleop/joy.yaml
TAVRIN_KEYSTORE=/etc/tavrin-arm-teleop/keystore
ROS_SECURITY_ENCLAVE_OVERRIDE=/tavrin/teleop_node
ROS_SECURITY_ENABLE=true
ROS_SECURITY_STRATEGY=Enforce
SETTINGS
cat > "$booted/usr/local/sbin/unit-check" <<CHECK
#!/bin/sh
exec > /unit-check.log 2>&1
export ROS_LOCALHOST_ONLY=1 ROS_DOMAIN_ID=220 $security
export ROS_SECURITY_KEYSTORE=/etc/tavrin-arm-teleop/keystore
systemctl start tavrin-arm-teleop
tavrin_demo_robot --plain --ros-args --enclave /tavrin/demo_robot > /robot.log 2>&1 &
robot=\$!
tavrin_virtual_controller --output topic --ros-args --enclave /tavrin/virtual_controller
echo "controller status \$?"
systemctl show -p ActiveState -p User tavrin-arm-teleop
kill \$robot
systemctl stop tavrin-arm-teleop
systemctl show -p Result -p ExecMainStatus tavrin-arm-teleop
journalctl -b -t spdlog --no-pager -o cat
journalctl -b -u tavrin-arm-teleop --no-pager -o cat | grep -E 'security directory|Deactivated'
systemctl poweroff
CHECK
chmod +x "$booted/usr/local/sbin/unit-check"
cat > "$booted/etc/systemd/system/unit-check.service" <<UNIT
[Unit]
After=multi-user.target
[Service]
Type=oneshot
ExecStart=/usr/local/sbin/unit-check
UNIT
ln -s /etc/systemd/system/unit-check.service "$booted/etc/systemd/system/multi-user.target.wants/"
timeout 300 systemd-nspawn -q --register=no --keep-unit --private-network -D "$booted" -b \
  > "$cache/boot.log" 2>&1 || true
for expected in "controller status 0" "ActiveState=active" "Result=success" "ExecMainStatus=0" \
  "Arm emergency stop button press" "ArmTaskDecision goal finished!" \
  "Found security directory: /run/tavrin-arm-teleop/keystore/enclaves/tavrin/teleop_node"; do
  grep -qF "$expected" "$booted/unit-check.log" ||
    { cat "$booted/unit-check.log"; echo "deb-check: the service: no \"$expected\""; exit 1; }
done
grep -qF "e-stop    request data=true: arm stopped" "$booted/robot.log" ||
  { cat "$booted/robot.log"; echo "deb-check: the robot saw no emergency stop"; exit 1; }

echo "deb-check: apt-get purge --autoremove tavrin-arm-teleop"
in_root -- env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq --autoremove \
  tavrin-arm-teleop > "$cache/purge.log"
files > "$cache/after.txt"
if ! diff "$cache/before.txt" "$cache/after.txt"; then
  echo "deb-check: the purge left the files above (> left, < gone)"
  exit 1
fi
echo "deb-check: passed; installed, ran the demo twice and the service, purged without a trace"
