// The errors that the action client reports about goal handles.
#pragma once

#include <stdexcept>
#include <string>

namespace rclcpp_action::exceptions {

/// A goal handle that this client does not know (or no longer tracks) was passed to it.
class UnknownGoalHandleError : public std::invalid_argument {
public:
  UnknownGoalHandleError() : std::invalid_argument("Goal handle is not known to this client.") {}
};

/// The goal handle does not follow its result: none was asked for, or its client is gone.
class UnawareGoalHandleError : public std::runtime_error {
public:
  explicit UnawareGoalHandleError(
      const std::string & message = "Goal handle is not tracking the goal result.")
      : std::runtime_error(message) {}
};

}  // namespace rclcpp_action::exceptions
