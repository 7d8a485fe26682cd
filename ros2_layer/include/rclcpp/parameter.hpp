// A named parameter value, with the same interface as rclcpp's Parameter.
#pragma once

#include <string>

#include "rclcpp/parameter_value.hpp"

namespace rclcpp {

/// A parameter: a name and a ParameterValue.
class Parameter {
public:
  /// Constructs an unnamed parameter whose value is not set.
  Parameter();

  /// Constructs a named parameter whose value is not set.
  explicit Parameter(const std::string & name);

  /// Constructs a named parameter with a value.
  Parameter(const std::string & name, const ParameterValue & value);

  /// Constructs a named parameter from anything a ParameterValue can be made of.
  template <typename ValueTypeT>
  Parameter(const std::string & name, ValueTypeT value) : Parameter(name, ParameterValue(value)) {}

  /// The name of the parameter.
  const std::string & get_name() const;

  /// The value.
  const rclcpp::ParameterValue & get_parameter_value() const;

private:
  std::string name_;
  ParameterValue value_;
};

}  // namespace rclcpp
