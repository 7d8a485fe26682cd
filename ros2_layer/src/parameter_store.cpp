// Parameters as rclcpp's node parameters keep them, without parameter events or set
// callbacks: a declared value is the override unless it is ignored, else the default, and a
// value must fit the descriptor's type and range, at declaration and when set.
#include "parameter_store.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "rcl_interfaces/srv/list_parameters.hpp"
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

/// Why `value` cannot have the descriptor's type, in rclcpp's words; empty when it can.
std::string typeReason(
    const std::string & name, const ParameterDescriptor & descriptor,
    const rclcpp::ParameterValue & value) {
  const auto declared_type = static_cast<rclcpp::ParameterType>(descriptor.type);
  if (descriptor.dynamic_typing || declared_type == value.get_type()) {
    return {};
  }
  return "Wrong parameter type, parameter {" + name + "} is of type {" +
         rclcpp::to_string(declared_type) + "}, setting it to {" +
         rclcpp::to_string(value.get_type()) + "} is not allowed.";
}

/// Why `value` is outside the descriptor's range, in rclcpp's words; empty when it is inside.
std::string rangeReason(
    const ParameterDescriptor & descriptor, const rclcpp::ParameterValue & value) {
  const char * violated = nullptr;
  if (!descriptor.integer_range.empty() && value.get_type() == rclcpp::PARAMETER_INTEGER) {
    violated = fitsIntegerRange(descriptor, value.get<int64_t>()) ? nullptr : "integer";
  } else if (
      !descriptor.floating_point_range.empty() && value.get_type() == rclcpp::PARAMETER_DOUBLE) {
    violated = fitsFloatingPointRange(descriptor, value.get<double>()) ? nullptr : "floating point";
  }
  if (violated == nullptr) {
    return {};
  }
  return "Parameter {" + descriptor.name + "} doesn't comply with " + violated + " range.";
}

/// What `project` makes of each named entry of `declared`, in order; nullopt when one is absent.
template <typename Map, typename Project>
auto lookup(const Map & declared, const std::vector<std::string> & names, Project project) {
  using Item = std::decay_t<std::invoke_result_t<Project, const typename Map::mapped_type &>>;
  std::optional<std::vector<Item>> found(std::in_place);
  for (const std::string & name : names) {
    const auto entry = declared.find(name);
    if (entry == declared.end()) {
      return std::optional<std::vector<Item>>();
    }
    found->push_back(project(entry->second));
  }
  return found;
}

constexpr char kSeparator = '.';

/// Whether a name whose part below the prefix is `below` lies within `depth` levels.
bool withinDepth(std::string_view below, uint64_t depth) {
  return depth == rcl_interfaces::srv::ListParameters::Request::DEPTH_RECURSIVE ||
         static_cast<uint64_t>(std::count(below.begin(), below.end(), kSeparator)) < depth;
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
    if (const std::string reason = typeReason(name, descriptor, initial_value); !reason.empty()) {
      throw rclcpp::exceptions::InvalidParameterTypeException(name, reason);
    }
    if (const std::string reason = rangeReason(descriptor, initial_value); !reason.empty()) {
      throw rclcpp::exceptions::InvalidParameterValueException(
          "parameter '" + name + "' could not be set: " + reason);
    }
    descriptor.type = initial_value.get_type();
  } else if (descriptor.dynamic_typing) {
    descriptor.type = rclcpp::PARAMETER_NOT_SET;
  }
  descriptor.name = name;
  return declared_.insert_or_assign(name, Declared{initial_value, std::move(descriptor)})
      .first->second.value;
}

std::optional<std::vector<rcl_interfaces::msg::ParameterValue>> ParameterStore::values(
    const std::vector<std::string> & names) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lookup(
      declared_, names, [](const Declared & entry) { return entry.value.to_value_msg(); });
}

std::optional<std::vector<uint8_t>> ParameterStore::types(
    const std::vector<std::string> & names) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lookup(declared_, names, [](const Declared & entry) {
    return static_cast<uint8_t>(entry.value.get_type());
  });
}

std::optional<std::vector<ParameterDescriptor>> ParameterStore::describe(
    const std::vector<std::string> & names) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lookup(declared_, names, [](const Declared & entry) { return entry.descriptor; });
}

rcl_interfaces::msg::ListParametersResult ParameterStore::list(
    const std::vector<std::string> & prefixes, uint64_t depth) const {
  std::lock_guard<std::mutex> lock(mutex_);
  rcl_interfaces::msg::ListParametersResult result;
  for (const auto & declared : declared_) {
    const std::string & name = declared.first;
    // As rclcpp counts it, the part below a prefix starts with its separator.
    const bool listed =
        prefixes.empty()
            ? withinDepth(name, depth)
            : std::any_of(prefixes.begin(), prefixes.end(), [&](const std::string & prefix) {
                return name == prefix ||
                       (name.starts_with(prefix + kSeparator) &&
                        withinDepth(std::string_view(name).substr(prefix.size()), depth));
              });
    if (!listed) {
      continue;
    }
    result.names.push_back(name);
    const size_t last_separator = name.rfind(kSeparator);
    if (last_separator != std::string::npos) {
      std::string prefix = name.substr(0, last_separator);
      if (std::find(result.prefixes.begin(), result.prefixes.end(), prefix) ==
          result.prefixes.end()) {
        result.prefixes.push_back(std::move(prefix));
      }
    }
  }
  return result;
}

rcl_interfaces::msg::SetParametersResult ParameterStore::set(
    const std::vector<rclcpp::Parameter> & parameters) {
  std::lock_guard<std::mutex> lock(mutex_);
  rcl_interfaces::msg::SetParametersResult result;
  result.successful = false;
  for (const rclcpp::Parameter & parameter : parameters) {
    const std::string & name = parameter.get_name();
    // rclcpp throws out of the service callback here, which would end the node.
    if (name.empty()) {
      result.reason = "parameter name must not be empty";
      return result;
    }
    const auto entry = declared_.find(name);
    if (entry == declared_.end()) {
      throw rclcpp::exceptions::ParameterNotDeclaredException(
          "parameter '" + name + "' cannot be set because it was not declared");
    }
    if (entry->second.descriptor.read_only) {
      result.reason = "parameter '" + name + "' cannot be set because it is read-only";
      return result;
    }
  }
  std::vector<std::string> undeclared;
  for (const rclcpp::Parameter & parameter : parameters) {
    const Declared & entry = declared_.at(parameter.get_name());
    if (parameter.get_parameter_value().get_type() != rclcpp::PARAMETER_NOT_SET ||
        entry.value.get_type() == rclcpp::PARAMETER_NOT_SET) {
      continue;
    }
    if (!entry.descriptor.dynamic_typing) {
      result.reason = "cannot undeclare an statically typed parameter";
      return result;
    }
    undeclared.push_back(parameter.get_name());
  }
  for (const rclcpp::Parameter & parameter : parameters) {
    const Declared & entry = declared_.at(parameter.get_name());
    result.reason =
        typeReason(parameter.get_name(), entry.descriptor, parameter.get_parameter_value());
    if (result.reason.empty()) {
      result.reason = rangeReason(entry.descriptor, parameter.get_parameter_value());
    }
    if (!result.reason.empty()) {
      return result;
    }
  }
  for (const rclcpp::Parameter & parameter : parameters) {
    Declared & entry = declared_.at(parameter.get_name());
    entry.value = parameter.get_parameter_value();
    entry.descriptor.type = entry.value.get_type();
  }
  for (const std::string & name : undeclared) {
    declared_.erase(name);
  }
  result.successful = true;
  return result;
}

}  // namespace ros2_layer
