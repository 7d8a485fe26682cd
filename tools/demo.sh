#!/usr/bin/env bash
# The demo behind `make demo`: the real tavrin_arm_teleop_node between a scripted virtual
# controller and a demo robot, for about 15 seconds, on loopback only.
#
#   tools/demo.sh [BUILD_DIR]        (default build/default; `make demo` builds it first)
#   tavrin_demo                      (installed: the programs beside it)
#
# On a terminal the robot's view is redrawn in place and the controller's narration and the
# node's log go to BUILD_DIR/demo/ (installed: DEMO_LOG_DIR, or a fresh folder under /tmp);
# elsewhere (CI) everything is printed as plain lines.
# Environment: DEMO_INPUT=auto|device|topic (how the controller reaches the node, default auto),
# DEMO_DOMAIN_ID (default 220; at most 230 with DEMO_SECURE), DEMO_SECURE=1 (ROS 2 security enforced, each program in its own
# enclave of a fresh keystore made by tools/make_keystore.sh).
set -euo pipefail

if [ "${1:-}" = --help ]; then
  sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'
  exit 0
fi

here=$(cd "$(dirname "$0")" && pwd)
if [ $# -eq 0 ] && [ -x "$here/tavrin_arm_teleop_node" ]; then
  tools=$here
  node="$here/tavrin_arm_teleop_node"
  make_keystore="$here/tavrin_make_keystore"
  log_dir=${DEMO_LOG_DIR:-$(mktemp -d -t tavrin_demo.XXXXXX)}
else
  build_dir=${1:-build/default}
  tools="$build_dir/tools"
  node="$build_dir/tavrin_arm_teleop_node"
  make_keystore="$here/make_keystore.sh"
  log_dir="$build_dir/demo"
fi
for program in "$node" "$tools/tavrin_demo_robot" "$tools/tavrin_virtual_controller"; do
  if [ ! -x "$program" ]; then
    echo "demo: $program is missing; run \`make demo\` (or \`make build\`) first" >&2
    exit 1
  fi
done

# The demo's DDS traffic never leaves this machine, and a domain of its own keeps it apart
# from any ROS 2 system here: a robot on the same machine and domain would obey the demo.
export ROS_LOCALHOST_ONLY=1
export ROS_DOMAIN_ID=${DEMO_DOMAIN_ID:-220}
# A shell's CYCLONEDDS_URI (an interface or peers for a robot) would pick loopback a second time.
if [ -n "${CYCLONEDDS_URI:-}" ]; then
  echo "demo: ignoring CYCLONEDDS_URI from the shell: the demo stays on loopback"
  unset CYCLONEDDS_URI
fi
export SPDLOG_STDOUT=true SPDLOG_SYSTEMD=false SPDLOG_LEVEL=info

mkdir -p "$log_dir"
narration="$log_dir/controller.log"
node_log="$log_dir/teleop_node.log"
: > "$narration"
: > "$node_log"

live=false
if [ -t 1 ] && [ "${TERM:-dumb}" != dumb ]; then
  live=true
fi

# enclave PROGRAM: the ROS arguments that put a program in its enclave, when secured. The
# demo's security comes from DEMO_SECURE alone, never from the shell's settings.
unset ROS_SECURITY_ENABLE ROS_SECURITY_STRATEGY ROS_SECURITY_KEYSTORE ROS_SECURITY_ENCLAVE_OVERRIDE
enclave() { :; }
if [ "${DEMO_SECURE:-0}" = 1 ]; then
  export ROS_SECURITY_KEYSTORE="$log_dir/keystore"
  rm -rf "$ROS_SECURITY_KEYSTORE"
  "$make_keystore" "$ROS_SECURITY_KEYSTORE"
  export ROS_SECURITY_ENABLE=true ROS_SECURITY_STRATEGY=Enforce
  enclave() { echo --ros-args --enclave "/tavrin/$1" --; }
fi

robot_pid=
controller_pid=
# SIGTERM, not SIGINT: programs started with "&" by a script ignore SIGINT.
stop_children() {
  for pid in $controller_pid $robot_pid; do
    kill -TERM "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
}
trap stop_children EXIT

echo "demo: tavrin_arm_teleop_node, a virtual controller and a demo robot on loopback" \
  "(ROS_DOMAIN_ID=$ROS_DOMAIN_ID)${ROS_SECURITY_KEYSTORE:+, secured with $ROS_SECURITY_KEYSTORE}," \
  "about 15 s"

controller=("$tools/tavrin_virtual_controller" --output "${DEMO_INPUT:-auto}"
  --node-log "$node_log" $(enclave virtual_controller) -- "$node" $(enclave teleop_node))
robot=("$tools/tavrin_demo_robot" $(enclave demo_robot))
if $live; then
  "${controller[@]}" > "$narration" 2>&1 &
  controller_pid=$!
  # The controller says first how it reaches the node; show that before the robot's view.
  for _ in $(seq 100); do
    grep -q '^controller input:' "$narration" && break
    kill -0 "$controller_pid" 2>/dev/null || break
    sleep 0.1
  done
  grep '^controller input:' "$narration" | sed 's/^controller //' || true
  "${robot[@]}" --live --follow "$narration" &
  robot_pid=$!
else
  "${robot[@]}" --plain &
  robot_pid=$!
  "${controller[@]}" &
  controller_pid=$!
fi

controller_status=0
wait "$controller_pid" || controller_status=$?
controller_pid=
# The robot has seen everything once the node has stopped; give the last line a moment.
sleep 0.3
kill -TERM "$robot_pid"
robot_status=0
wait "$robot_pid" || robot_status=$?
robot_pid=

if $live; then
  grep -E '^controller (node ended|session|the node|no demo robot|failed)' "$narration" \
    | sed 's/^controller /demo: /' || true
  echo "demo: the controller's narration is in $narration, the node's log in $node_log"
else
  echo "--- the node's log ($node_log)"
  cat "$node_log"
  echo "---"
fi

if [ "$controller_status" -ne 0 ] || [ "$robot_status" -ne 0 ]; then
  echo "demo: failed (controller $controller_status, robot $robot_status)"
  exit 1
fi
echo "demo: done, everything shut down cleanly"
