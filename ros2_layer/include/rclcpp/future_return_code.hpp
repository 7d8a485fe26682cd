// How waiting for a future ended.
#pragma once

#include <ostream>
#include <string>

namespace rclcpp {

/// How spin_until_future_complete ended.
enum class FutureReturnCode { SUCCESS, INTERRUPTED, TIMEOUT };

/// Writes the code's name.
std::ostream & operator<<(std::ostream & os, const FutureReturnCode & future_return_code);
/// The code's name with its number, as rclcpp prints it: "SUCCESS (0)".
std::string to_string(const FutureReturnCode & future_return_code);

}  // namespace rclcpp
