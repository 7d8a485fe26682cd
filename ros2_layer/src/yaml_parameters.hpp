// Parameter values and params files in YAML, typed the way rcl's YAML parser types them.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "arguments.hpp"
#include "rclcpp/parameter_value.hpp"

namespace ros2_layer {

/// Why one command-line rule or file could not be read; the caller adds which argument.
class RuleError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

/// Types the value side of a `-p name:=value` rule: a scalar or a flow sequence of scalars of
/// one type. Throws RuleError.
rclcpp::ParameterValue parseYamlParameterValue(const std::string & yaml_text);

/// Reads a params file into overrides in file order. Throws RuleError.
std::vector<ParameterOverride> readParamsFile(const std::string & path);

}  // namespace ros2_layer
