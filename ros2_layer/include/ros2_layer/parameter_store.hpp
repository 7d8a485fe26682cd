// The parameters of one node: declaration with defaults and overrides, as rclcpp does it.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "rcl_interfaces/msg/parameter_descriptor.hpp"
#include "rclcpp/parameter.hpp"
#include "rclcpp/parameter_value.hpp"

namespace ros2_layer {

class ParameterStore {
public:
  explicit ParameterStore(std::map<std::string, rclcpp::ParameterValue> overrides = {});

  /// Declares a parameter; an override (unless ignored) replaces the default. Throws
  /// ParameterAlreadyDeclaredException, InvalidParameterTypeException (an override whose type
  /// differs from the default's, unless descriptor.dynamic_typing) and
  /// InvalidParameterValueException (outside the descriptor's range or an empty name).
  const rclcpp::ParameterValue & declare(
    const std::string & name, const rclcpp::ParameterValue & default_value,
    const rcl_interfaces::msg::ParameterDescriptor & descriptor, bool ignore_override);

  /// Declares by type only (no default); an override must then supply the value, else
  /// rclcpp::exceptions::NoParameterOverrideProvided is raised when the value is read.
  const rclcpp::ParameterValue & declare(
    const std::string & name, rclcpp::ParameterType type,
    const rcl_interfaces::msg::ParameterDescriptor & descriptor, bool ignore_override);

  bool has(const std::string & name) const;
  /// Throws ParameterNotDeclaredException.
  rclcpp::Parameter get(const std::string & name) const;
  bool get(const std::string & name, rclcpp::Parameter & parameter) const;
  void undeclare(const std::string & name);

private:
  mutable std::mutex mutex_;
  std::map<std::string, rclcpp::ParameterValue> overrides_;
  std::map<std::string, rclcpp::ParameterValue> values_;
  std::map<std::string, rcl_interfaces::msg::ParameterDescriptor> descriptors_;
};

}  // namespace ros2_layer
