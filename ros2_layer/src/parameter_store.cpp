// Parameter declaration as rclcpp's node parameters do it, without parameter services or
// events: the value is the override unless it is ignored, else the default, and it must fit
// the descriptor's type and range.
#include "parameter_store.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

#include "rclcpp/exceptions.hpp"

namespace ros2_layer {
namespace {

using rcl_interfaces::msg::ParameterDescriptor;

/// Equal within a hundred units in the last place, so that range ends and steps written in
/// decimal still match the values they mean.
bool nearlyEqual(double a, double b) {
  return std::abs(a - b) <= std::numeric_limits<double>::epsilon() * std::abs(a + b) * 100.0;
}

bool fitsIntegerRange(const ParameterDescriptor & descriptor, int64_t value) {
  const auto & range = descriptor.integer_range.front();
  if (value == range.from_value || value == range.to_value) {
    return true;
  }
  if (value < range.from_value || value > range.to_value) {
    return false;
  }
  return range.step == 0 || (value - range.from_value) % static_cast<int64_t>(range.step) == 0;
}

bool fitsFloatingPointRange(const ParameterDescriptor & descriptor, double value) {
  const auto & range = descriptor.floating_point_range.front();
  if (nearlyEqual(value, range.from_value) || nearlyEqual(value, range.to_value)) {
    return true;
  }
  if (value < range.from_value || value > range.to_value) {
    return false;
  }
  if (range.step == 0.0) {
    return true;
  }
  const double steps = std::round((value - range.from_value) / range.step);
  return nearlyEqual(value, range.from_value + steps * range.step);
}

void checkType(
    const std::string & name, const ParameterDescriptor & descriptor,
    const rclcpp::ParameterValue & value) {
  const auto declared_type = static_cast<rclcpp::ParameterType>(descriptor.type);
  if (descriptor.dynamic_typing || declared_type == value.get_type()) {
    return;
  }
  throw rclcpp::exceptions::InvalidParameterTypeException(
      name, "Wrong parameter type, parameter {" + name + "} is of type {" +
                rclcpp::to_string(declared_type) + "}, setting it to {" +
                rclcpp::to_string(value.get_type()) + "} is not allowed.");
}

void checkRange(
    const std::string & name, const ParameterDescriptor & descriptor,
    const rclcpp::ParameterValue & value) {
  const char * violated = nullptr;
  if (!descriptor.integer_range.empty() && value.get_type() == rclcpp::PARAMETER_INTEGER) {
    violated = fitsIntegerRange(descriptor, value.get<int64_t>()) ? nullptr : "integer";
  } else if (
      !descriptor.floating_point_range.empty() && value.get_type() == rclcpp::PARAMETER_DOUBLE) {
    violated = fitsFloatingPointRange(descriptor, value.get<double>()) ? nullptr : "floating point";
  }
  if (violated != nullptr) {
    throw rclcpp::exceptions::InvalidParameterValueException(
        "parameter '" + name + "' could not be set: Parameter {" + descriptor.name +
        "} doesn't comply with " + violated + " range.");
  }
}

}  // namespace

ParameterStore::ParameterStore(std::map<std::string, rclcpp::ParameterValue> overrides)
    : overrides_(std::move(overrides)) {}

const rclcpp::ParameterValue & ParameterStore::declare(
    const std::string & name, const rclcpp::ParameterValue & default_value,
    const ParameterDescriptor & descriptor, bool ignore_override) {
  std::lock_guard<std::mutex> lock(mutex_);
  return declareLocked(name, rclcpp::PARAMETER_NOT_SET, default_value, descriptor, ignore_override);
}

const rclcpp::ParameterValue & ParameterStore::declare(
    const std::string & name, rclcpp::ParameterType type, const ParameterDescriptor & descriptor,
    bool ignore_override) {
  if (type == rclcpp::PARAMETER_NOT_SET) {
    throw std::invalid_argument(
        "declare_parameter(): the provided parameter type cannot be rclcpp::PARAMETER_NOT_SET");
  }
  if (descriptor.dynamic_typing) {
    throw std::invalid_argument(
        "declare_parameter(): cannot declare parameter of specific type and pass descriptor"
        "with `dynamic_typing=true`");
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return declareLocked(name, type, rclcpp::ParameterValue(), descriptor, ignore_override);
}

const rclcpp::ParameterValue & ParameterStore::declareLocked(
    const std::string & name, rclcpp::ParameterType type,
    const rclcpp::ParameterValue & default_value, ParameterDescriptor descriptor,
    bool ignore_override) {
  if (name.empty()) {
    throw rclcpp::exceptions::InvalidParametersException("parameter name must not be empty");
  }
  if (declared_.count(name) != 0) {
    throw rclcpp::exceptions::ParameterAlreadyDeclaredException(
        "parameter '" + name + "' has already been declared");
  }
  if (!descriptor.dynamic_typing) {
    type = type == rclcpp::PARAMETER_NOT_SET ? default_value.get_type() : type;
    if (type == rclcpp::PARAMETER_NOT_SET) {
      throw rclcpp::exceptions::InvalidParameterTypeException(
          name, "cannot declare a statically typed parameter with an uninitialized value");
    }
    descriptor.type = type;
  }
  const auto override_entry = overrides_.find(name);
  const rclcpp::ParameterValue & initial_value =
      !ignore_override && override_entry != overrides_.end() ? override_entry->second
                                                             : default_value;
  descriptor.name = descriptor.name.empty() ? name : descriptor.name;
  if (initial_value.get_type() != rclcpp::PARAMETER_NOT_SET) {
    checkType(name, descriptor, initial_value);
    checkRange(name, descriptor, initial_value);
    descriptor.type = initial_value.get_type();
  } else if (descriptor.dynamic_typing) {
    descriptor.type = rclcpp::PARAMETER_NOT_SET;
  }
  descriptor.name = name;
  return declared_.insert_or_assign(name, Declared{initial_value, std::move(descriptor)})
      .first->second.value;
}

}  // namespace ros2_layer
