// A source of the current time: system, steady or ROS time (which is system time here, as
// this layer has no simulated time).
#pragma once

#include <memory>

#include "rcl/time.h"
#include "rclcpp/macros.hpp"
#include "rclcpp/time.hpp"

namespace rclcpp {

/// A clock of one type.
class Clock {
public:
  RCLCPP_SMART_PTR_DEFINITIONS(Clock)

  /// A clock of the given type.
  explicit Clock(rcl_clock_type_t clock_type = RCL_SYSTEM_TIME);
  ~Clock() = default;

  /// The current time of this clock.
  Time now();
  /// The type of this clock.
  rcl_clock_type_t get_clock_type() const;

private:
  rcl_clock_type_t clock_type_;
};

}  // namespace rclcpp
