// Options of executors.
#pragma once

#include "rclcpp/context.hpp"

namespace rclcpp {

/// Options of an executor.
struct ExecutorOptions {
  /// The default context.
  ExecutorOptions() : context(rclcpp::contexts::get_global_default_context()) {}

  /// The context whose shutdown ends spinning.
  rclcpp::Context::SharedPtr context;
};

}  // namespace rclcpp
