// A named parameter value, with the same interface as rclcpp's Parameter.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

#include "rcl_interfaces/msg/parameter_value.hpp"
#include "rclcpp/exceptions.hpp"
#include "rclcpp/parameter_value.hpp"

namespace rclcpp {

class Parameter;

namespace parameter_detail {

/// Reads a parameter as T; Parameter and ParameterValue read the parameter itself.
template <typename T>
decltype(auto) value_as(const Parameter & parameter);

}  // namespace parameter_detail

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

  /// True when the names and the values are equal.
  bool operator==(const Parameter & rhs) const;

  /// True when the names or the values differ.
  bool operator!=(const Parameter & rhs) const;

  /// The type of the value.
  ParameterType get_type() const;

  /// The name of the type of the value ("double", ...).
  std::string get_type_name() const;

  /// The name of the parameter.
  const std::string & get_name() const;

  /// The value as an rcl_interfaces message.
  rcl_interfaces::msg::ParameterValue get_value_message() const;

  /// The value.
  const rclcpp::ParameterValue & get_parameter_value() const;

  /// The value as a ParameterType; throws ParameterTypeException on another type.
  template <ParameterType ParamT>
  decltype(auto) get_value() const {
    return value_.get<ParamT>();
  }

  /// The value as a C++ type; throws exceptions::InvalidParameterTypeException naming the
  /// parameter on another type.
  template <typename T>
  decltype(auto) get_value() const;

  /// The value as text.
  std::string value_to_string() const;

private:
  std::string name_;
  ParameterValue value_;
};

namespace parameter_detail {

template <typename T>
decltype(auto) value_as(const Parameter & parameter) {
  if constexpr (std::is_same_v<T, ParameterValue>) {
    return ParameterValue(parameter.get_parameter_value());
  } else if constexpr (std::is_same_v<T, Parameter>) {
    return static_cast<const Parameter &>(parameter);
  } else {
    return parameter.get_parameter_value().get<T>();
  }
}

}  // namespace parameter_detail

template <typename T>
decltype(auto) Parameter::get_value() const {
  try {
    return parameter_detail::value_as<T>(*this);
  } catch (const ParameterTypeException & ex) {
    throw exceptions::InvalidParameterTypeException(name_, ex.what());
  }
}

}  // namespace rclcpp
