// Time points of the system, steady and ROS clocks (ROS time is system time here).
#include <chrono>
#include <stdexcept>

#include "rclcpp/clock.hpp"
#include "rclcpp/time.hpp"

namespace rclcpp {
namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000LL;

}  // namespace

Time::Time(int32_t seconds, uint32_t nanoseconds, rcl_clock_type_t clock_type)
    : rcl_time_{0, clock_type} {
  if (seconds < 0) {
    throw std::runtime_error("cannot store a negative time point in rclcpp::Time");
  }
  rcl_time_.nanoseconds = static_cast<int64_t>(seconds) * kNanosecondsPerSecond + nanoseconds;
}

Time::Time(int64_t nanoseconds, rcl_clock_type_t clock_type) : rcl_time_{nanoseconds, clock_type} {
  if (nanoseconds < 0) {
    throw std::runtime_error("cannot store a negative time point in rclcpp::Time");
  }
}

Time::Time(const builtin_interfaces::msg::Time & time_msg, rcl_clock_type_t clock_type)
    : Time(time_msg.sec, time_msg.nanosec, clock_type) {}

Time::Time(const rcl_time_point_t & time_point) : rcl_time_(time_point) {}

Time::operator builtin_interfaces::msg::Time() const {
  builtin_interfaces::msg::Time message;
  message.sec = static_cast<int32_t>(rcl_time_.nanoseconds / kNanosecondsPerSecond);
  message.nanosec = static_cast<uint32_t>(rcl_time_.nanoseconds % kNanosecondsPerSecond);
  return message;
}

Time & Time::operator=(const builtin_interfaces::msg::Time & time_msg) {
  *this = Time(time_msg);
  return *this;
}

rcl_time_point_value_t Time::nanoseconds() const { return rcl_time_.nanoseconds; }

double Time::seconds() const {
  return std::chrono::duration<double>(std::chrono::nanoseconds(nanoseconds())).count();
}

rcl_clock_type_t Time::get_clock_type() const { return rcl_time_.clock_type; }

Clock::Clock(rcl_clock_type_t clock_type) : clock_type_(clock_type) {}

Time Clock::now() {
  const auto since_epoch = clock_type_ == RCL_STEADY_TIME
                               ? std::chrono::steady_clock::now().time_since_epoch()
                               : std::chrono::system_clock::now().time_since_epoch();
  return Time(
      std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count(), clock_type_);
}

rcl_clock_type_t Clock::get_clock_type() const { return clock_type_; }

}  // namespace rclcpp
