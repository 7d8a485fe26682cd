#include "rclcpp_action/types.hpp"

#include <chrono>
#include <sstream>

#include "rclcpp/exceptions.hpp"

namespace rclcpp_action {

std::string to_string(const GoalUUID & goal_id) {
  // Unpadded like rclcpp's, so that goal ids in our logs read the same as a Humble node's.
  std::stringstream stream;
  stream << std::hex;
  for (uint8_t byte : goal_id) {
    stream << static_cast<int>(byte);
  }
  return stream.str();
}

namespace detail {

namespace {
constexpr int kActionNameInvalid = 2000;  // RCL_RET_ACTION_NAME_INVALID
}  // namespace

void check_action_name(const std::string & action_name, const char * what) {
  if (action_name.empty()) {
    throw rclcpp::exceptions::RCLError(kActionNameInvalid, "invalid empty action name", what);
  }
}

builtin_interfaces::msg::Time stamp_now() {
  const int64_t nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count();
  builtin_interfaces::msg::Time stamp;
  stamp.sec = static_cast<int32_t>(nanoseconds / 1'000'000'000);
  stamp.nanosec = static_cast<uint32_t>(nanoseconds % 1'000'000'000);
  return stamp;
}

}  // namespace detail

}  // namespace rclcpp_action
