// Creating an action server on a node.
#pragma once

#include <memory>
#include <string>

#include "rclcpp/node.hpp"
#include "rclcpp_action/options.hpp"
#include "rclcpp_action/server.hpp"

namespace rclcpp_action {

/// Creates an action server of `name` on the node (a raw or shared pointer to rclcpp::Node or
/// a class derived from it). The callbacks run on the executor that spins the node and must
/// not block; `group` is the node's default group when nullptr.
template <typename ActionT, typename NodeT>
typename Server<ActionT>::SharedPtr create_server(
    NodeT node, const std::string & name, typename Server<ActionT>::GoalCallback handle_goal,
    typename Server<ActionT>::CancelCallback handle_cancel,
    typename Server<ActionT>::AcceptedCallback handle_accepted,
    const rcl_action_server_options_t & options = rcl_action_server_get_default_options(),
    rclcpp::CallbackGroup::SharedPtr group = nullptr) {
  return detail::make_server<ActionT>(
      *node, name, std::move(handle_goal), std::move(handle_cancel), std::move(handle_accepted),
      options, std::move(group));
}

}  // namespace rclcpp_action
