// The node as every reader benchmark runs it: in device mode on a stand-in controller, on a
// loopback DDS domain of the benchmark's own, its output in a log file.
#pragma once

#include <string>
#include <vector>

#include "child_process.hpp"
#include "joystick_stand_in.hpp"

namespace tavrin_bench {

/// Keeps DDS on loopback in a domain of the benchmark's own, unless one is already chosen.
void useLoopbackDomain(int domain_id);

/// The node reading `controller` as /dev/input/js0 of a private mount namespace.
class DeviceNode : public tavrin_tools::ChildProcess {
public:
  DeviceNode(
      const tavrin_tools::JoystickStandIn & controller, const std::string & log_path,
      const std::vector<std::string> & environment = {},
      const std::vector<std::string> & ros_arguments = {});

  /// Sends SIGINT and returns the exit status, or -1 if the node did not exit by itself.
  int stop();
};

}  // namespace tavrin_bench
