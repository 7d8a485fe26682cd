// ParameterValue and Parameter: typed values kept in their message form, so that converting to
// and from rcl_interfaces messages is a copy.
#include "rclcpp/parameter_value.hpp"

#include <string>
#include <vector>

#include "rclcpp/parameter.hpp"

namespace rclcpp {
namespace {

using ParameterTypeMessage = rcl_interfaces::msg::ParameterType;

}  // namespace

std::string to_string(ParameterType type) {
  switch (type) {
    case PARAMETER_NOT_SET:
      return "not set";
    case PARAMETER_BOOL:
      return "bool";
    case PARAMETER_INTEGER:
      return "integer";
    case PARAMETER_DOUBLE:
      return "double";
    case PARAMETER_STRING:
      return "string";
    case PARAMETER_BYTE_ARRAY:
      return "byte_array";
    case PARAMETER_BOOL_ARRAY:
      return "bool_array";
    case PARAMETER_INTEGER_ARRAY:
      return "integer_array";
    case PARAMETER_DOUBLE_ARRAY:
      return "double_array";
    case PARAMETER_STRING_ARRAY:
      return "string_array";
  }
  return "unknown type";
}

std::ostream & operator<<(std::ostream & os, ParameterType type) { return os << to_string(type); }

ParameterValue::ParameterValue() { value_.type = ParameterTypeMessage::PARAMETER_NOT_SET; }

ParameterValue::ParameterValue(const rcl_interfaces::msg::ParameterValue & value) : value_(value) {
  if (value.type > ParameterTypeMessage::PARAMETER_STRING_ARRAY) {
    throw std::runtime_error("Unknown type: " + std::to_string(value.type));
  }
}

ParameterValue::ParameterValue(const bool bool_value) {
  value_.type = ParameterTypeMessage::PARAMETER_BOOL;
  value_.bool_value = bool_value;
}

ParameterValue::ParameterValue(const int int_value)
    : ParameterValue(static_cast<int64_t>(int_value)) {}

ParameterValue::ParameterValue(const int64_t int_value) {
  value_.type = ParameterTypeMessage::PARAMETER_INTEGER;
  value_.integer_value = int_value;
}

ParameterValue::ParameterValue(const float double_value)
    : ParameterValue(static_cast<double>(double_value)) {}

ParameterValue::ParameterValue(const double double_value) {
  value_.type = ParameterTypeMessage::PARAMETER_DOUBLE;
  value_.double_value = double_value;
}

ParameterValue::ParameterValue(const std::string & string_value) {
  value_.type = ParameterTypeMessage::PARAMETER_STRING;
  value_.string_value = string_value;
}

ParameterValue::ParameterValue(const char * string_value)
    : ParameterValue(std::string(string_value)) {}

ParameterValue::ParameterValue(const std::vector<uint8_t> & byte_array_value) {
  value_.type = ParameterTypeMessage::PARAMETER_BYTE_ARRAY;
  value_.byte_array_value = byte_array_value;
}

ParameterValue::ParameterValue(const std::vector<bool> & bool_array_value) {
  value_.type = ParameterTypeMessage::PARAMETER_BOOL_ARRAY;
  value_.bool_array_value = bool_array_value;
}

ParameterValue::ParameterValue(const std::vector<int> & int_array_value) {
  value_.type = ParameterTypeMessage::PARAMETER_INTEGER_ARRAY;
  value_.integer_array_value.assign(int_array_value.begin(), int_array_value.end());
}

ParameterValue::ParameterValue(const std::vector<int64_t> & int_array_value) {
  value_.type = ParameterTypeMessage::PARAMETER_INTEGER_ARRAY;
  value_.integer_array_value = int_array_value;
}

ParameterValue::ParameterValue(const std::vector<float> & double_array_value) {
  value_.type = ParameterTypeMessage::PARAMETER_DOUBLE_ARRAY;
  value_.double_array_value.assign(double_array_value.begin(), double_array_value.end());
}

ParameterValue::ParameterValue(const std::vector<double> & double_array_value) {
  value_.type = ParameterTypeMessage::PARAMETER_DOUBLE_ARRAY;
  value_.double_array_value = double_array_value;
}

ParameterValue::ParameterValue(const std::vector<std::string> & string_array_value) {
  value_.type = ParameterTypeMessage::PARAMETER_STRING_ARRAY;
  value_.string_array_value = string_array_value;
}

ParameterType ParameterValue::get_type() const { return static_cast<ParameterType>(value_.type); }

rcl_interfaces::msg::ParameterValue ParameterValue::to_value_msg() const { return value_; }

bool ParameterValue::operator==(const ParameterValue & rhs) const { return value_ == rhs.value_; }

bool ParameterValue::operator!=(const ParameterValue & rhs) const { return !(*this == rhs); }

Parameter::Parameter() = default;

Parameter::Parameter(const std::string & name) : name_(name) {}

Parameter::Parameter(const std::string & name, const ParameterValue & value)
    : name_(name), value_(value) {}

const std::string & Parameter::get_name() const { return name_; }

const ParameterValue & Parameter::get_parameter_value() const { return value_; }

}  // namespace rclcpp
