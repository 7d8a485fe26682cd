#include "rclcpp/node_options.hpp"

namespace rclcpp {

NodeOptions::NodeOptions() : context_(contexts::get_global_default_context()) {}

rclcpp::Context::SharedPtr NodeOptions::context() const { return context_; }

NodeOptions & NodeOptions::context(rclcpp::Context::SharedPtr context) {
  context_ = std::move(context);
  return *this;
}

const std::vector<std::string> & NodeOptions::arguments() const { return arguments_; }

NodeOptions & NodeOptions::arguments(const std::vector<std::string> & arguments) {
  arguments_ = arguments;
  return *this;
}

std::vector<rclcpp::Parameter> & NodeOptions::parameter_overrides() { return parameter_overrides_; }

const std::vector<rclcpp::Parameter> & NodeOptions::parameter_overrides() const {
  return parameter_overrides_;
}

NodeOptions & NodeOptions::parameter_overrides(
    const std::vector<rclcpp::Parameter> & parameter_overrides) {
  parameter_overrides_ = parameter_overrides;
  return *this;
}

bool NodeOptions::use_global_arguments() const { return use_global_arguments_; }

NodeOptions & NodeOptions::use_global_arguments(bool use_global_arguments) {
  use_global_arguments_ = use_global_arguments;
  return *this;
}

bool NodeOptions::start_parameter_services() const { return start_parameter_services_; }

NodeOptions & NodeOptions::start_parameter_services(bool start_parameter_services) {
  start_parameter_services_ = start_parameter_services;
  return *this;
}

}  // namespace rclcpp
