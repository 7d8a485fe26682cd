// A point in time of one clock, convertible to and from builtin_interfaces messages.
#pragma once

#include <cstdint>

#include "builtin_interfaces/msg/time.hpp"
#include "rcl/time.h"

namespace rclcpp {

/// A point in time of one clock, in nanoseconds since its epoch.
class Time {
public:
  /// Seconds plus nanoseconds; throws std::runtime_error for negative seconds.
  Time(int32_t seconds, uint32_t nanoseconds, rcl_clock_type_t clock_type = RCL_SYSTEM_TIME);
  /// Nanoseconds since the epoch; throws std::runtime_error when negative.
  explicit Time(int64_t nanoseconds = 0, rcl_clock_type_t clock_type = RCL_SYSTEM_TIME);
  Time(const Time & rhs) = default;
  /// The time of a message.
  Time(  // NOLINT(runtime/explicit)
      const builtin_interfaces::msg::Time & time_msg, rcl_clock_type_t clock_type = RCL_ROS_TIME);
  /// The time of an rcl time point.
  explicit Time(const rcl_time_point_t & time_point);
  virtual ~Time() = default;

  /// The time as a message.
  operator builtin_interfaces::msg::Time() const;

  Time & operator=(const Time & rhs) = default;
  /// Assigns the time of a message (a ROS time).
  Time & operator=(const builtin_interfaces::msg::Time & time_msg);

  /// Nanoseconds since the epoch.
  rcl_time_point_value_t nanoseconds() const;
  /// Seconds since the epoch.
  double seconds() const;
  /// The clock this time belongs to.
  rcl_clock_type_t get_clock_type() const;

private:
  rcl_time_point_t rcl_time_;
};

}  // namespace rclcpp
