#!/usr/bin/env bash
# Builds and installs the interface packages into one prefix, in dependency order,
# the way colcon would on a ROS 2 machine. Re-running it only rebuilds what changed.
set -euo pipefail
prefix=$(mkdir -p "$1" && cd "$1" && pwd)
work="$prefix/../interfaces_build"
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
packages=(builtin_interfaces unique_identifier_msgs rcl_interfaces std_msgs geometry_msgs
  sensor_msgs std_srvs action_msgs rmw_dds_common)
for package in "${packages[@]}" tavrin_protocol; do
  source_dir="$here/$package"
  [ "$package" = tavrin_protocol ] && source_dir="$top/tavrin_protocol"
  log="$work/$package.log"
  mkdir -p "$work"
  if ! { [ -f "$work/$package/CMakeCache.txt" ] ||
         cmake -S "$source_dir" -B "$work/$package" -DCMAKE_INSTALL_PREFIX="$prefix" \
           -DCMAKE_PREFIX_PATH="$prefix" -DPython3_EXECUTABLE=/usr/bin/python3 \
           -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo > "$log" 2>&1; } ||
     ! cmake --build "$work/$package" -j"$(nproc)" >> "$log" 2>&1 ||
     ! cmake --install "$work/$package" >> "$log" 2>&1; then
    echo "interface package $package failed to build; its log:" >&2
    tail -40 "$log" >&2
    exit 1
  fi
done
