// Spinning a node: spin and spin_until_future_complete on a temporary executor.
#pragma once

#include <chrono>
#include <memory>

#include "rclcpp/executor.hpp"
#include "rclcpp/executors/single_threaded_executor.hpp"
#include "rclcpp/node.hpp"
#include "rclcpp/node_interfaces/node_base_interface.hpp"

namespace rclcpp {
namespace executors {

/// Spins the node on `executor` until the future is ready, the timeout passes or shutdown.
template <typename FutureT, typename TimeRepT = int64_t, typename TimeT = std::milli>
rclcpp::FutureReturnCode spin_node_until_future_complete(
    rclcpp::Executor & executor, rclcpp::node_interfaces::NodeBaseInterface::SharedPtr node_ptr,
    const FutureT & future,
    std::chrono::duration<TimeRepT, TimeT> timeout = std::chrono::duration<TimeRepT, TimeT>(-1)) {
  executor.add_node(node_ptr);
  auto retcode = executor.spin_until_future_complete(future, timeout);
  executor.remove_node(node_ptr);
  return retcode;
}

/// Spins the node on `executor` until the future is ready, the timeout passes or shutdown.
template <
    typename NodeT = rclcpp::Node, typename FutureT, typename TimeRepT = int64_t,
    typename TimeT = std::milli>
rclcpp::FutureReturnCode spin_node_until_future_complete(
    rclcpp::Executor & executor, std::shared_ptr<NodeT> node_ptr, const FutureT & future,
    std::chrono::duration<TimeRepT, TimeT> timeout = std::chrono::duration<TimeRepT, TimeT>(-1)) {
  return rclcpp::executors::spin_node_until_future_complete(
      executor, node_ptr->get_node_base_interface(), future, timeout);
}

}  // namespace executors

/// Spins the node on a temporary executor until the future is ready, the timeout passes or
/// the context shuts down.
template <typename FutureT, typename TimeRepT = int64_t, typename TimeT = std::milli>
rclcpp::FutureReturnCode spin_until_future_complete(
    rclcpp::node_interfaces::NodeBaseInterface::SharedPtr node_ptr, const FutureT & future,
    std::chrono::duration<TimeRepT, TimeT> timeout = std::chrono::duration<TimeRepT, TimeT>(-1)) {
  rclcpp::executors::SingleThreadedExecutor executor;
  return executors::spin_node_until_future_complete<FutureT>(executor, node_ptr, future, timeout);
}

/// Spins the node on a temporary executor until the future is ready, the timeout passes or
/// the context shuts down.
template <
    typename NodeT = rclcpp::Node, typename FutureT, typename TimeRepT = int64_t,
    typename TimeT = std::milli>
rclcpp::FutureReturnCode spin_until_future_complete(
    std::shared_ptr<NodeT> node_ptr, const FutureT & future,
    std::chrono::duration<TimeRepT, TimeT> timeout = std::chrono::duration<TimeRepT, TimeT>(-1)) {
  return rclcpp::spin_until_future_complete(node_ptr->get_node_base_interface(), future, timeout);
}

/// Runs the node's callbacks on the calling thread until the context shuts down.
void spin(rclcpp::node_interfaces::NodeBaseInterface::SharedPtr node_ptr);
/// Runs the node's callbacks on the calling thread until the context shuts down.
void spin(rclcpp::Node::SharedPtr node_ptr);

}  // namespace rclcpp
