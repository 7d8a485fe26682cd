// The node reading a stand-in controller: it runs in a mount namespace of its own whose
// /dev/input/js0 links to the stand-in's device.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "geometry_msgs/msg/twist.hpp"
#include "joystick_stand_in.hpp"
#include "robot_peer.hpp"
#include "teleop_process.hpp"

namespace tavrin_test {

using tavrin_tools::joyEvent;
using tavrin_tools::JoystickStandIn;

/// What the node logs when it has opened its device.
inline const std::string kOpened = "joyOpen: Unknown, ret = ";

/// The stick pushed fully forward, as a motion command.
inline bool movesForward(const geometry_msgs::msg::Twist & twist) { return twist.linear.x == -1.0; }

/// The node in device mode, reading `device_path` (under /dev/input) of a private mount
/// namespace, a link to the stand-in.
class DeviceNode : public ChildProcess {
public:
  /// `launcher` goes before the command line (such as `ip netns exec NAME`); `environment` as
  /// for ChildProcess.
  DeviceNode(
      const JoystickStandIn & device, const std::vector<std::string> & ros_arguments = {},
      const std::string & device_path = "/dev/input/js0",
      const std::vector<std::string> & launcher = {},
      const std::vector<std::string> & environment = {});
};

/// Skips every test of its program where the node cannot have a private /dev/input, saying why.
class PrivateDevicesOrSkip : public testing::Environment {
public:
  void SetUp() override;
};

/// Empty where the node can have a private /dev/input, else why it cannot.
const std::string & whyNoPrivateDevices();

/// Waits until the node's motion publisher is matched with `peer`, and a moment more for the
/// node's writers to match the peer's readers in turn.
bool waitForNode(RobotPeer & peer);

/// The index of the first motion command at or after index `from` that satisfies `match`.
std::optional<size_t> waitForTwist(
    const RobotPeer & peer, size_t from,
    const std::function<bool(const geometry_msgs::msg::Twist &)> & match,
    std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace tavrin_test
