#include "log_line.hpp"

#include <chrono>
#include <cstdio>

namespace ros2_layer {

void logLine(const char * severity, const std::string & text) {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
  std::fprintf(
      stderr, "[%s] [%lld.%09lld] [rclcpp]: %s\n", severity,
      static_cast<long long>(nanoseconds / 1000000000LL),
      static_cast<long long>(nanoseconds % 1000000000LL), text.c_str());
}

}  // namespace ros2_layer
