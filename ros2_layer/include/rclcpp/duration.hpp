// A signed span of time in nanoseconds, convertible to and from std::chrono and messages.
#pragma once

#include <chrono>
#include <cstdint>

#include "builtin_interfaces/msg/duration.hpp"
#include "rcl/time.h"
#include "rmw/time.h"

namespace rclcpp {

/// A signed span of time in nanoseconds.
class Duration {
public:
  /// Seconds plus nanoseconds.
  Duration(int32_t seconds, uint32_t nanoseconds);
  /// Any std::chrono duration.
  explicit Duration(std::chrono::nanoseconds nanoseconds);
  /// Any std::chrono duration.
  template <class Rep, class Period>
  Duration(const std::chrono::duration<Rep, Period> & duration)  // NOLINT(runtime/explicit)
      : Duration(std::chrono::duration_cast<std::chrono::nanoseconds>(duration)) {}
  /// The duration of a message.
  Duration(const builtin_interfaces::msg::Duration & duration_msg);  // NOLINT(runtime/explicit)
  /// The duration of an rcl duration.
  explicit Duration(const rcl_duration_t & duration);
  Duration(const Duration & rhs) = default;
  virtual ~Duration() = default;

  /// The duration as a message (seconds rounded towards negative infinity).
  operator builtin_interfaces::msg::Duration() const;

  Duration & operator=(const Duration & rhs) = default;
  /// Assigns the duration of a message.
  Duration & operator=(const builtin_interfaces::msg::Duration & duration_msg);

  bool operator==(const rclcpp::Duration & rhs) const;
  bool operator!=(const rclcpp::Duration & rhs) const;
  bool operator<(const rclcpp::Duration & rhs) const;
  bool operator<=(const rclcpp::Duration & rhs) const;
  bool operator>=(const rclcpp::Duration & rhs) const;
  bool operator>(const rclcpp::Duration & rhs) const;
  /// Sum; throws std::overflow_error when it does not fit.
  Duration operator+(const rclcpp::Duration & rhs) const;
  /// Difference; throws std::overflow_error when it does not fit.
  Duration operator-(const rclcpp::Duration & rhs) const;
  /// Scaled duration; throws std::overflow_error when it does not fit.
  Duration operator*(double scale) const;

  /// The longest representable duration.
  static Duration max();
  /// A duration of fractional seconds.
  static Duration from_seconds(double seconds);
  /// A duration of nanoseconds.
  static Duration from_nanoseconds(rcl_duration_value_t nanoseconds);
  /// The duration of a middleware time.
  static Duration from_rmw_time(rmw_time_t duration);

  /// The duration in nanoseconds.
  rcl_duration_value_t nanoseconds() const;
  /// The duration in seconds.
  double seconds() const;
  /// The duration as a std::chrono duration.
  template <class DurationT>
  DurationT to_chrono() const {
    return std::chrono::duration_cast<DurationT>(std::chrono::nanoseconds(this->nanoseconds()));
  }
  /// The duration as a middleware time; negative durations become zero.
  rmw_time_t to_rmw_time() const;

private:
  Duration() = default;
  rcl_duration_t rcl_duration_{0};
};

}  // namespace rclcpp
