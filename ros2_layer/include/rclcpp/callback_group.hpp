// Callback groups, which endpoint factories take as an argument. The single-threaded executor
// of this layer runs every callback on its own thread, so no group is ever created here: the
// argument is always the node's default, nullptr.
#pragma once

#include "rclcpp/macros.hpp"

namespace rclcpp {

/// A group of callbacks of one node.
class CallbackGroup {
public:
  RCLCPP_SMART_PTR_DEFINITIONS(CallbackGroup)
};

}  // namespace rclcpp
