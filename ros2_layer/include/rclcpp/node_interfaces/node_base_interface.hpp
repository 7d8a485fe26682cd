// The identity of a node as executors and free functions see it.
#pragma once

#include <atomic>
#include <memory>

#include "rclcpp/context.hpp"
#include "rclcpp/macros.hpp"

namespace ros2_layer {
class NodeState;
}

namespace rclcpp {
namespace node_interfaces {

/// The name, namespace and context of a node; what executors take.
class NodeBaseInterface {
public:
  RCLCPP_SMART_PTR_ALIASES_ONLY(NodeBaseInterface)

  /// Wraps the internal state of a node.
  explicit NodeBaseInterface(std::shared_ptr<ros2_layer::NodeState> state);
  virtual ~NodeBaseInterface() = default;

  /// The node's name.
  const char * get_name() const;
  /// The node's namespace.
  const char * get_namespace() const;
  /// The namespace and the name: "/ns/name".
  const char * get_fully_qualified_name() const;
  /// The context the node belongs to.
  rclcpp::Context::SharedPtr get_context();
  /// Whether an executor has the node; the flag executors use to refuse a second one.
  std::atomic_bool & get_associated_with_executor_atomic();

  /// The layer's internal state of the node.
  const std::shared_ptr<ros2_layer::NodeState> & layer_state() const;

private:
  std::shared_ptr<ros2_layer::NodeState> state_;
};

}  // namespace node_interfaces
}  // namespace rclcpp
