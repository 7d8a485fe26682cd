// Options of a node: its own command-line arguments and parameter overrides, and the settings
// of rclcpp::NodeOptions that have an effect here.
#pragma once

#include <string>
#include <vector>

#include "rclcpp/context.hpp"
#include "rclcpp/parameter.hpp"

namespace rclcpp {

/// Options of a node.
class NodeOptions {
public:
  /// The defaults: the global default context, global arguments used, no overrides.
  NodeOptions();
  virtual ~NodeOptions() = default;
  NodeOptions(const NodeOptions & other) = default;
  NodeOptions & operator=(const NodeOptions & other) = default;

  /// The context of the node.
  rclcpp::Context::SharedPtr context() const;
  /// Sets the context of the node.
  NodeOptions & context(rclcpp::Context::SharedPtr context);

  /// The node's own ROS arguments, such as {"--ros-args", "-r", "__node:=other"}.
  const std::vector<std::string> & arguments() const;
  /// Sets the node's own ROS arguments.
  NodeOptions & arguments(const std::vector<std::string> & arguments);

  /// Parameter values that replace declared defaults; they win over command-line overrides.
  std::vector<rclcpp::Parameter> & parameter_overrides();
  /// Parameter values that replace declared defaults.
  const std::vector<rclcpp::Parameter> & parameter_overrides() const;
  /// Sets the parameter overrides.
  NodeOptions & parameter_overrides(const std::vector<rclcpp::Parameter> & parameter_overrides);
  /// Adds one parameter override.
  template <typename ParameterT>
  NodeOptions & append_parameter_override(const std::string & name, const ParameterT & value) {
    this->parameter_overrides().emplace_back(name, rclcpp::ParameterValue(value));
    return *this;
  }

  /// Whether the arguments given to rclcpp::init apply to this node.
  bool use_global_arguments() const;
  /// Sets whether the arguments given to rclcpp::init apply to this node.
  NodeOptions & use_global_arguments(bool use_global_arguments);

  /// Whether the node offers the parameter services.
  bool start_parameter_services() const;
  /// Sets whether the node offers the parameter services (true by default).
  NodeOptions & start_parameter_services(bool start_parameter_services);

private:
  rclcpp::Context::SharedPtr context_;
  std::vector<std::string> arguments_;
  std::vector<rclcpp::Parameter> parameter_overrides_;
  bool use_global_arguments_ = true;
  bool start_parameter_services_ = true;
};

}  // namespace rclcpp
