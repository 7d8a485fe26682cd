// What every virtual controller does around its gamepad: choose how to reach the node, start
// the node when asked to, see it react, and stop it at the end.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "child_process.hpp"
#include "geometry_msgs/msg/twist.hpp"
#include "joystick_output.hpp"
#include "rclcpp/rclcpp.hpp"

namespace tavrin_tools {

/// The options that the virtual controllers share.
struct ControllerOptions {
  /// "device": a pseudo-terminal behind `device`; "topic": /joy; "auto": device where possible.
  std::string output = "auto";
  std::string device = "/dev/input/js0";
  double deadzone = kDefaultDeadzone;
  /// Where the started node's output goes; empty: this program's own output.
  std::string node_log;
  /// The node to start, with its arguments ("--ros-args -p joy_dev:=..." is appended).
  std::vector<std::string> node_command;
};

/// Usage text of the shared options.
extern const char * const kControllerUsage;

/// Takes the shared option at `index` (and its value); false when it is not one of them.
/// Throws std::invalid_argument on a bad value.
bool parseControllerOption(
    const std::vector<std::string> & options, size_t & index, ControllerOptions & parsed);

/// The device output when `options` ask for it and this machine allows it. Call before
/// rclcpp::init. Throws std::runtime_error when "device" was asked for and cannot be had;
/// with "auto", says in `why_not` why the topic is used instead.
std::unique_ptr<DeviceOutput> openDeviceOutput(
    const ControllerOptions & options, std::string & why_not);

/// The node started with the output's joy_dev and watched through its motion commands.
class DrivenNode {
public:
  /// Starts `options.node_command` (if any) reading `output`, and listens to the motion
  /// commands of whatever node publishes them.
  DrivenNode(
      const rclcpp::Node::SharedPtr & node, const ControllerOptions & options,
      const JoystickOutput & output);

  /// Waits until a motion command shows that the node reads `output`, feeding it `state`
  /// meanwhile; false on timeout, shutdown or when the started node ends.
  bool waitUntilDriving(
      JoystickOutput & output, const GamepadState & state, std::chrono::milliseconds timeout);
  /// True while the started node runs (always true when none was started).
  bool running();
  /// Interrupts the started node and waits for it; its wait status, or nothing if it hung (it
  /// is then killed) or none was started.
  std::optional<int> stop(std::chrono::milliseconds timeout = std::chrono::seconds(15));
  /// The last motion command received, and how many there were.
  size_t motionCount() const { return motion_count_; }

private:
  std::unique_ptr<ChildProcess> program_;
  rclcpp::Subscription<geometry_msgs::msg::Twist>::SharedPtr motion_;
  std::atomic<size_t> motion_count_{0};
};

/// Runs a node's callbacks on a thread of its own while this object lives.
class BackgroundSpinner {
public:
  explicit BackgroundSpinner(const rclcpp::Node::SharedPtr & node);
  ~BackgroundSpinner();

  BackgroundSpinner(const BackgroundSpinner &) = delete;
  BackgroundSpinner & operator=(const BackgroundSpinner &) = delete;

private:
  rclcpp::executors::SingleThreadedExecutor executor_;
  std::thread thread_;
};

}  // namespace tavrin_tools
