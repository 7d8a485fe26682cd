// The real tavrin_arm_teleop_node executable, run as a child process, and a test fixture of it
// reading "/joy" beside a robot peer.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "robot_peer.hpp"

namespace tavrin_test {

using tavrin_tools::ChildProcess;
using tavrin_tools::waitUntil;

#if defined(__SANITIZE_THREAD__)
/// ThreadSanitizer pauses a second before a process exits (its atexit_sleep_ms).
constexpr std::chrono::milliseconds kSanitizerExitPause{1000};
#else
constexpr std::chrono::milliseconds kSanitizerExitPause{0};
#endif

/// Starts the node with ROS arguments; its log goes to the console at info level unless the
/// environment given says otherwise.
class TeleopProcess : public ChildProcess {
public:
  explicit TeleopProcess(
      const std::vector<std::string> & ros_arguments = {},
      const std::vector<std::string> & environment = {});

  /// Waits for the last startup line (the highest button remap line) of a default table.
  bool waitForStartup(std::chrono::milliseconds timeout = std::chrono::seconds(30));
};

/// A test of the node on "/joy" beside a robot peer; the node is stopped at the end of the test,
/// and its output shown when the test failed.
class JoyTopicTest : public testing::Test {
protected:
  void start(const PeerOptions & servers = {}, std::vector<std::string> ros_arguments = {});
  void TearDown() override;

  std::unique_ptr<RobotPeer> peer_;
  std::unique_ptr<TeleopProcess> node_;
};

/// `first`, then `then`.
std::vector<std::string> joined(
    std::vector<std::string> first, const std::vector<std::string> & then);

/// The lines the program itself wrote: without the middleware's own diagnostics, such as the
/// note of Cyclone DDS under real ROS 2 that loopback has no multicast.
std::vector<std::string> ownLines(const ChildProcess & process);

/// The log lines of a process output without their "NNN [INFO] " prefix.
std::vector<std::string> logBodies(const std::vector<std::string> & lines);

/// The first `count` log lines of the node's output without their prefix.
std::vector<std::string> firstBodies(const ChildProcess & node, size_t count);

/// The configuration the node logs first: its device, then its axis and button tables.
std::vector<std::string> startupLines(
    const std::string & joy_dev, const std::vector<int> & axes, const std::vector<int> & buttons);

}  // namespace tavrin_test
