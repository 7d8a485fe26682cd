// A typed parameter value with the same interface as rclcpp's, stored as its message.
#pragma once

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "rcl_interfaces/msg/parameter_type.hpp"
#include "rcl_interfaces/msg/parameter_value.hpp"

namespace rclcpp {

/// The type of a parameter value; the numbers are those of rcl_interfaces/msg/ParameterType.
enum ParameterType : uint8_t {
  PARAMETER_NOT_SET = rcl_interfaces::msg::ParameterType::PARAMETER_NOT_SET,
  PARAMETER_BOOL = rcl_interfaces::msg::ParameterType::PARAMETER_BOOL,
  PARAMETER_INTEGER = rcl_interfaces::msg::ParameterType::PARAMETER_INTEGER,
  PARAMETER_DOUBLE = rcl_interfaces::msg::ParameterType::PARAMETER_DOUBLE,
  PARAMETER_STRING = rcl_interfaces::msg::ParameterType::PARAMETER_STRING,
  PARAMETER_BYTE_ARRAY = rcl_interfaces::msg::ParameterType::PARAMETER_BYTE_ARRAY,
  PARAMETER_BOOL_ARRAY = rcl_interfaces::msg::ParameterType::PARAMETER_BOOL_ARRAY,
  PARAMETER_INTEGER_ARRAY = rcl_interfaces::msg::ParameterType::PARAMETER_INTEGER_ARRAY,
  PARAMETER_DOUBLE_ARRAY = rcl_interfaces::msg::ParameterType::PARAMETER_DOUBLE_ARRAY,
  PARAMETER_STRING_ARRAY = rcl_interfaces::msg::ParameterType::PARAMETER_STRING_ARRAY,
};

/// The human-readable name of a parameter type ("double", "integer_array", ...).
std::string to_string(ParameterType type);

/// Writes the name of a parameter type.
std::ostream & operator<<(std::ostream & os, ParameterType type);

/// Raised when a value is read as a type that it does not hold.
class ParameterTypeException : public std::runtime_error {
public:
  /// Describes the mismatch as "expected [x] got [y]".
  ParameterTypeException(ParameterType expected, ParameterType actual)
      : std::runtime_error(
            "expected [" + to_string(expected) + "] got [" + to_string(actual) + "]") {}
};

namespace parameter_value_detail {

/// Where the value of each parameter type lives in the message, and its C++ type.
template <ParameterType type>
struct Storage;

#define ROS2_LAYER_PARAMETER_STORAGE(TYPE, VALUE_TYPE, MEMBER)                          \
  template <>                                                                           \
  struct Storage<TYPE> {                                                                \
    using value_type = VALUE_TYPE;                                                      \
    static const value_type & of(const rcl_interfaces::msg::ParameterValue & message) { \
      return message.MEMBER;                                                            \
    }                                                                                   \
  };

ROS2_LAYER_PARAMETER_STORAGE(PARAMETER_BOOL, bool, bool_value)
ROS2_LAYER_PARAMETER_STORAGE(PARAMETER_INTEGER, int64_t, integer_value)
ROS2_LAYER_PARAMETER_STORAGE(PARAMETER_DOUBLE, double, double_value)
ROS2_LAYER_PARAMETER_STORAGE(PARAMETER_STRING, std::string, string_value)
ROS2_LAYER_PARAMETER_STORAGE(PARAMETER_BYTE_ARRAY, std::vector<uint8_t>, byte_array_value)
ROS2_LAYER_PARAMETER_STORAGE(PARAMETER_BOOL_ARRAY, std::vector<bool>, bool_array_value)
ROS2_LAYER_PARAMETER_STORAGE(PARAMETER_INTEGER_ARRAY, std::vector<int64_t>, integer_array_value)
ROS2_LAYER_PARAMETER_STORAGE(PARAMETER_DOUBLE_ARRAY, std::vector<double>, double_array_value)
ROS2_LAYER_PARAMETER_STORAGE(PARAMETER_STRING_ARRAY, std::vector<std::string>, string_array_value)

#undef ROS2_LAYER_PARAMETER_STORAGE

template <typename T>
inline constexpr bool always_false = false;

/// The parameter type that a C++ type is read as, as rclcpp maps them.
template <typename T>
constexpr ParameterType parameter_type_of() {
  using U = std::remove_cv_t<std::remove_reference_t<T>>;
  if constexpr (std::is_same_v<U, bool>) {
    return PARAMETER_BOOL;
  } else if constexpr (std::is_integral_v<U>) {
    return PARAMETER_INTEGER;
  } else if constexpr (std::is_floating_point_v<U>) {
    return PARAMETER_DOUBLE;
  } else if constexpr (std::is_convertible_v<U, std::string>) {
    return PARAMETER_STRING;
  } else if constexpr (std::is_same_v<U, std::vector<uint8_t>>) {
    return PARAMETER_BYTE_ARRAY;
  } else if constexpr (std::is_same_v<U, std::vector<bool>>) {
    return PARAMETER_BOOL_ARRAY;
  } else if constexpr (
      std::is_same_v<U, std::vector<int>> || std::is_same_v<U, std::vector<int64_t>>) {
    return PARAMETER_INTEGER_ARRAY;
  } else if constexpr (
      std::is_same_v<U, std::vector<float>> || std::is_same_v<U, std::vector<double>>) {
    return PARAMETER_DOUBLE_ARRAY;
  } else if constexpr (std::is_same_v<U, std::vector<std::string>>) {
    return PARAMETER_STRING_ARRAY;
  } else {
    static_assert(always_false<T>, "no parameter type holds this C++ type");
    return PARAMETER_NOT_SET;
  }
}

}  // namespace parameter_value_detail

/// A parameter value of one of the ParameterType types, or not set.
class ParameterValue {
public:
  /// Constructs a value of type PARAMETER_NOT_SET.
  ParameterValue();
  /// Constructs a value from its message; throws std::runtime_error on an unknown type.
  explicit ParameterValue(const rcl_interfaces::msg::ParameterValue & value);
  /// Constructs a PARAMETER_BOOL value.
  explicit ParameterValue(const bool bool_value);
  /// Constructs a PARAMETER_INTEGER value.
  explicit ParameterValue(const int int_value);
  /// Constructs a PARAMETER_INTEGER value.
  explicit ParameterValue(const int64_t int_value);
  /// Constructs a PARAMETER_DOUBLE value.
  explicit ParameterValue(const float double_value);
  /// Constructs a PARAMETER_DOUBLE value.
  explicit ParameterValue(const double double_value);
  /// Constructs a PARAMETER_STRING value.
  explicit ParameterValue(const std::string & string_value);
  /// Constructs a PARAMETER_STRING value.
  explicit ParameterValue(const char * string_value);
  /// Constructs a PARAMETER_BYTE_ARRAY value.
  explicit ParameterValue(const std::vector<uint8_t> & byte_array_value);
  /// Constructs a PARAMETER_BOOL_ARRAY value.
  explicit ParameterValue(const std::vector<bool> & bool_array_value);
  /// Constructs a PARAMETER_INTEGER_ARRAY value.
  explicit ParameterValue(const std::vector<int> & int_array_value);
  /// Constructs a PARAMETER_INTEGER_ARRAY value.
  explicit ParameterValue(const std::vector<int64_t> & int_array_value);
  /// Constructs a PARAMETER_DOUBLE_ARRAY value.
  explicit ParameterValue(const std::vector<float> & double_array_value);
  /// Constructs a PARAMETER_DOUBLE_ARRAY value.
  explicit ParameterValue(const std::vector<double> & double_array_value);
  /// Constructs a PARAMETER_STRING_ARRAY value.
  explicit ParameterValue(const std::vector<std::string> & string_array_value);

  /// The type of the held value.
  ParameterType get_type() const;

  /// The value as its message.
  rcl_interfaces::msg::ParameterValue to_value_msg() const;

  /// True when both hold the same type and value.
  bool operator==(const ParameterValue & rhs) const;

  /// True when the type or the value differ.
  bool operator!=(const ParameterValue & rhs) const;

  /// The value as the given ParameterType; throws ParameterTypeException on another type.
  template <ParameterType type>
  const typename parameter_value_detail::Storage<type>::value_type & get() const {
    if (get_type() != type) {
      throw ParameterTypeException(type, get_type());
    }
    return parameter_value_detail::Storage<type>::of(value_);
  }

  /// The value read as a C++ type (int64_t for integers, double for floats, vectors for
  /// arrays); throws ParameterTypeException on another type.
  template <typename T>
  decltype(auto) get() const {
    return get<parameter_value_detail::parameter_type_of<T>()>();
  }

private:
  rcl_interfaces::msg::ParameterValue value_;
};

}  // namespace rclcpp
