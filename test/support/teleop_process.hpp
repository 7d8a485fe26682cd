// The real tavrin_arm_teleop_node executable, run as a child process.
#pragma once

#include <string>
#include <vector>

#include "child_process.hpp"

namespace tavrin_test {

/// Starts the node with ROS arguments; its log goes to the console at info level unless the
/// environment given says otherwise.
class TeleopProcess : public ChildProcess {
public:
  explicit TeleopProcess(
      const std::vector<std::string> & ros_arguments = {},
      const std::vector<std::string> & environment = {});

  /// Waits for the last startup line (the highest button remap line) of a default table.
  bool waitForStartup(std::chrono::milliseconds timeout = std::chrono::seconds(30));

  /// Sends SIGINT and returns whether the process then exited normally with status 0.
  bool interruptAndExitCleanly(std::chrono::milliseconds timeout = std::chrono::seconds(20));
};

/// The lines the program itself wrote: without the middleware's own diagnostics, such as the
/// note of Cyclone DDS under real ROS 2 that loopback has no multicast.
std::vector<std::string> ownLines(const ChildProcess & process);

/// The log lines of a process output without their "NNN [INFO] " prefix.
std::vector<std::string> logBodies(const std::vector<std::string> & lines);

}  // namespace tavrin_test
