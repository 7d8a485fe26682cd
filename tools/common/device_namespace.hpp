// A joystick device path that exists only for this process and the programs it starts.
#pragma once

#include <string>

namespace tavrin_tools {

/// Makes `device_path` (such as /dev/input/js0) a symbolic link to `target`, seen only by this
/// process and the processes it starts afterwards: the process moves into a private mount
/// namespace and mounts a tmpfs over the device's folder, so the host's devices stay untouched
/// and hidden. Call it while the process has a single thread. Returns an empty string on
/// success, else the reason (no right to unshare or mount, say).
std::string linkDeviceInPrivateNamespace(
    const std::string & device_path, const std::string & target);

}  // namespace tavrin_tools
