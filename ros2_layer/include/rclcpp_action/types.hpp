// Goal identifiers and goal status types shared by action clients and servers.
#pragma once

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "action_msgs/msg/goal_info.hpp"
#include "action_msgs/msg/goal_status.hpp"
#include "builtin_interfaces/msg/time.hpp"

namespace rclcpp_action {

/// The random 16-byte identifier of one goal, chosen by the client that sends it.
using GoalUUID = std::array<uint8_t, 16>;
using GoalStatus = action_msgs::msg::GoalStatus;
using GoalInfo = action_msgs::msg::GoalInfo;

/// The goal id in hex, one unpadded number per byte, exactly as a Humble node logs it.
std::string to_string(const GoalUUID & goal_id);

namespace detail {

/// Throws rclcpp::exceptions::RCLError, as rclcpp does, for an empty action name.
void check_action_name(const std::string & action_name, const char * what);

/// The current system time as a message stamp, as goals are stamped on acceptance.
builtin_interfaces::msg::Time stamp_now();

}  // namespace detail

}  // namespace rclcpp_action

namespace std {

/// Orders goal ids bytewise, so they can key a std::map.
template <>
struct less<rclcpp_action::GoalUUID> {
  bool operator()(const rclcpp_action::GoalUUID & lhs, const rclcpp_action::GoalUUID & rhs) const {
    return lhs < rhs;
  }
};

/// Hashes a goal id, so it can key a std::unordered_map.
template <>
struct hash<rclcpp_action::GoalUUID> {
  size_t operator()(const rclcpp_action::GoalUUID & uuid) const noexcept {
    size_t result = 0;
    for (uint8_t byte : uuid) {
      result = result * 31 + byte;
    }
    return result;
  }
};

}  // namespace std
