// Where a virtual controller's gamepad goes: a joystick device the node reads, or /joy.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "gamepad.hpp"
#include "joystick_stand_in.hpp"
#include "rclcpp/rclcpp.hpp"
#include "sensor_msgs/msg/joy.hpp"

namespace tavrin_tools {

/// How a virtual controller reaches the node: through a joystick device path or /joy.
class JoystickOutput {
public:
  virtual ~JoystickOutput() = default;

  /// Passes a new gamepad state on.
  virtual void send(const GamepadState & state) = 0;
  /// Called often while nothing changes; keeps the node supplied where it needs it.
  virtual void idle(const GamepadState & state) = 0;
  /// The "joy_dev" value that makes the node read this output.
  virtual std::string joyDev() const = 0;
  /// One sentence for the operator: what the node reads and how.
  virtual std::string description() const = 0;
};

/// A pseudo-terminal behind a /dev/input/js path in this process's private mount namespace;
/// the node must be started by this process (or a child of it) to see the path.
class DeviceOutput : public JoystickOutput {
public:
  /// Tries to set the device up; on failure returns null and says why in `why_not`.
  /// Call it before the process starts any thread (before rclcpp::init).
  static std::unique_ptr<DeviceOutput> create(
      const std::string & device_path, double deadzone, std::string & why_not);

  void send(const GamepadState & state) override;
  void idle(const GamepadState & state) override;
  std::string joyDev() const override { return device_path_; }
  std::string description() const override;
  /// False once a write found the device's buffer full: nobody reads it.
  bool beingRead() const { return being_read_; }

private:
  DeviceOutput(std::string device_path, double deadzone);
  /// Milliseconds since the device was plugged in, as a driver stamps its events.
  uint32_t eventTime() const;

  std::string device_path_;
  double deadzone_;
  JoystickStandIn device_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  GamepadState sent_;
  bool being_read_ = true;
};

/// sensor_msgs/Joy samples on /joy, repeated while idle as a joystick driver node does.
class TopicOutput : public JoystickOutput {
public:
  explicit TopicOutput(const rclcpp::Node::SharedPtr & node, std::string why_not_device = {});

  void send(const GamepadState & state) override;
  void idle(const GamepadState & state) override;
  std::string joyDev() const override { return "/joy"; }
  std::string description() const override;
  /// True once a subscriber (the node in topic mode) listens on /joy.
  bool heard() const { return publisher_->get_subscription_count() > 0; }

private:
  rclcpp::Node::SharedPtr node_;
  rclcpp::Publisher<sensor_msgs::msg::Joy>::SharedPtr publisher_;
  std::string why_not_device_;
  std::chrono::steady_clock::time_point last_sent_;
};

}  // namespace tavrin_tools
