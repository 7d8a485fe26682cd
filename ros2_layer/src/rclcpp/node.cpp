#include "rclcpp/node.hpp"

#include "node_state.hpp"
#include "parameter_services.hpp"
#include "parameter_store.hpp"

namespace rclcpp {

namespace node_interfaces {

NodeBaseInterface::NodeBaseInterface(std::shared_ptr<ros2_layer::NodeState> state)
    : state_(std::move(state)) {}

const char * NodeBaseInterface::get_name() const { return state_->name().c_str(); }

const char * NodeBaseInterface::get_namespace() const { return state_->nodeNamespace().c_str(); }

const char * NodeBaseInterface::get_fully_qualified_name() const {
  return state_->fullyQualifiedName().c_str();
}

rclcpp::Context::SharedPtr NodeBaseInterface::get_context() { return state_->context(); }

std::atomic_bool & NodeBaseInterface::get_associated_with_executor_atomic() {
  return state_->associatedWithExecutor();
}

const std::shared_ptr<ros2_layer::NodeState> & NodeBaseInterface::layer_state() const {
  return state_;
}

}  // namespace node_interfaces

Node::Node(const std::string & node_name, const NodeOptions & options)
    : Node(node_name, "", options) {}

Node::Node(
    const std::string & node_name, const std::string & namespace_, const NodeOptions & options)
    : options_(options)
    , base_(std::make_shared<node_interfaces::NodeBaseInterface>(
          std::make_shared<ros2_layer::NodeState>(node_name, namespace_, options)))
    , parameters_(std::make_shared<ros2_layer::ParameterStore>(layer_state()->parameterOverrides()))
    , clock_(std::make_shared<rclcpp::Clock>(RCL_ROS_TIME)) {
  if (options_.start_parameter_services()) {
    parameter_services_ = ros2_layer::createParameterServices(*this, parameters_);
  }
}

Node::~Node() = default;

const char * Node::get_name() const { return base_->get_name(); }

const char * Node::get_namespace() const { return base_->get_namespace(); }

const char * Node::get_fully_qualified_name() const { return base_->get_fully_qualified_name(); }

const rclcpp::ParameterValue & Node::declare_parameter(
    const std::string & name, const rclcpp::ParameterValue & default_value,
    const rcl_interfaces::msg::ParameterDescriptor & parameter_descriptor, bool ignore_override) {
  return parameters_->declare(name, default_value, parameter_descriptor, ignore_override);
}

const rclcpp::ParameterValue & Node::declare_parameter(
    const std::string & name, rclcpp::ParameterType type,
    const rcl_interfaces::msg::ParameterDescriptor & parameter_descriptor, bool ignore_override) {
  return parameters_->declare(name, type, parameter_descriptor, ignore_override);
}

rclcpp::Clock::SharedPtr Node::get_clock() { return clock_; }

rclcpp::Clock::ConstSharedPtr Node::get_clock() const { return clock_; }

rclcpp::node_interfaces::NodeBaseInterface::SharedPtr Node::get_node_base_interface() {
  return base_;
}

const std::shared_ptr<ros2_layer::NodeState> & Node::layer_state() const {
  return base_->layer_state();
}

void Node::add_waitable(const std::shared_ptr<ros2_layer::Waitable> & waitable) {
  layer_state()->addWaitable(waitable);
}

}  // namespace rclcpp
