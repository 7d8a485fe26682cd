// Creating an action client on a node.
#pragma once

#include <memory>
#include <string>

#include "rclcpp/node.hpp"
#include "rclcpp_action/client.hpp"
#include "rclcpp_action/options.hpp"

namespace rclcpp_action {

/// Creates an action client of `name` on the node, which may be given as a raw or shared
/// pointer to rclcpp::Node or to a class derived from it. Its callbacks run on the executor
/// that spins the node; `group` is the node's default group when nullptr.
template <typename ActionT, typename NodeT>
typename Client<ActionT>::SharedPtr create_client(
    NodeT node, const std::string & name, rclcpp::CallbackGroup::SharedPtr group = nullptr,
    const rcl_action_client_options_t & options = rcl_action_client_get_default_options()) {
  return detail::make_client<ActionT>(*node, name, std::move(group), options);
}

}  // namespace rclcpp_action
