// The few lines the layer itself prints, in the shape of rcutils' default console handler.
#pragma once

#include <string>

namespace ros2_layer {

/// Prints "[SEVERITY] [seconds.nanoseconds] [rclcpp]: text" on standard error, as the
/// "rclcpp" logger of a ROS 2 process does.
void logLine(const char * severity, const std::string & text);

}  // namespace ros2_layer
