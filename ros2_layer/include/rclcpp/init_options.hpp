// Options of rclcpp::init.
#pragma once

namespace rclcpp {

/// Options of rclcpp::init and Context::init.
class InitOptions {
public:
  /// Shut the context down on SIGINT and SIGTERM (when the handlers are installed).
  bool shutdown_on_signal = true;

  InitOptions() = default;
  virtual ~InitOptions() = default;
};

}  // namespace rclcpp
