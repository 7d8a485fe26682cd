// The parameters of one node: declaration with defaults and overrides, and what the parameter
// services read and set, as rclcpp does it.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "rcl_interfaces/msg/list_parameters_result.hpp"
#include "rcl_interfaces/msg/parameter_descriptor.hpp"
#include "rcl_interfaces/msg/set_parameters_result.hpp"
#include "rclcpp/parameter.hpp"
#include "rclcpp/parameter_value.hpp"

namespace ros2_layer {

/// The declared parameters of one node and the overrides given to it; thread-safe.
class ParameterStore {
public:
  /// Starts with no parameters declared and these overrides (see parameterOverridesFor).
  explicit ParameterStore(std::map<std::string, rclcpp::ParameterValue> overrides = {});

  /// Declares a parameter; an override (unless ignored) replaces the default, and the value is
  /// returned. Throws InvalidParametersException (empty name), ParameterAlreadyDeclaredException,
  /// InvalidParameterTypeException (an override whose type differs from the default's, unless
  /// descriptor.dynamic_typing; or a statically typed parameter with a PARAMETER_NOT_SET
  /// default) and InvalidParameterValueException (outside the descriptor's range).
  const rclcpp::ParameterValue & declare(
      const std::string & name, const rclcpp::ParameterValue & default_value,
      const rcl_interfaces::msg::ParameterDescriptor & descriptor, bool ignore_override);

  /// Declares by type only (no default). Without an override the parameter is declared with
  /// no value and the returned value is PARAMETER_NOT_SET, as in rclcpp: the templated
  /// Node::declare_parameter<T>(name) then raises UninitializedStaticallyTypedParameterException.
  /// Throws std::invalid_argument for PARAMETER_NOT_SET or a descriptor with dynamic_typing,
  /// and InvalidParameterTypeException for an override of another type.
  const rclcpp::ParameterValue & declare(
      const std::string & name, rclcpp::ParameterType type,
      const rcl_interfaces::msg::ParameterDescriptor & descriptor, bool ignore_override);

  /// The values of the named parameters, in order; nullopt when one is not declared.
  std::optional<std::vector<rcl_interfaces::msg::ParameterValue>> values(
      const std::vector<std::string> & names) const;
  /// The types of the named parameters' values; nullopt when one is not declared.
  std::optional<std::vector<uint8_t>> types(const std::vector<std::string> & names) const;
  /// The descriptors of the named parameters; nullopt when one is not declared.
  std::optional<std::vector<rcl_interfaces::msg::ParameterDescriptor>> describe(
      const std::vector<std::string> & names) const;
  /// The declared names under `prefixes` (all when empty) at most `depth` dot-separated levels
  /// below them (0: any depth), and the prefixes of the names returned.
  rcl_interfaces::msg::ListParametersResult list(
      const std::vector<std::string> & prefixes, uint64_t depth) const;
  /// Sets all of the parameters or none, refusing with rclcpp's reason a read-only parameter,
  /// a value of another type or outside the range, and an empty name; PARAMETER_NOT_SET
  /// undeclares a dynamically typed parameter. Throws
  /// ParameterNotDeclaredException for a parameter never declared.
  rcl_interfaces::msg::SetParametersResult set(const std::vector<rclcpp::Parameter> & parameters);

private:
  struct Declared {
    rclcpp::ParameterValue value;
    rcl_interfaces::msg::ParameterDescriptor descriptor;
  };

  const rclcpp::ParameterValue & declareLocked(
      const std::string & name, rclcpp::ParameterType type,
      const rclcpp::ParameterValue & default_value,
      rcl_interfaces::msg::ParameterDescriptor descriptor, bool ignore_override);

  mutable std::mutex mutex_;
  const std::map<std::string, rclcpp::ParameterValue> overrides_;
  std::map<std::string, Declared> declared_;
};

}  // namespace ros2_layer
