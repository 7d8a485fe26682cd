// Time points and durations with rclcpp's overflow and clock-type checks.
#include <chrono>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <thread>

#include "context_state.hpp"
#include "rclcpp/clock.hpp"
#include "rclcpp/duration.hpp"
#include "rclcpp/time.hpp"

namespace rclcpp {
namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000LL;

int64_t checkedAdd(int64_t left, int64_t right) {
  int64_t sum = 0;
  if (__builtin_add_overflow(left, right, &sum)) {
    throw std::overflow_error("addition leads to int64_t overflow");
  }
  return sum;
}

int64_t checkedSubtract(int64_t left, int64_t right) {
  int64_t difference = 0;
  if (__builtin_sub_overflow(left, right, &difference)) {
    throw std::overflow_error("subtraction leads to int64_t overflow");
  }
  return difference;
}

void requireSameClock(const Time & left, const Time & right) {
  if (left.get_clock_type() != right.get_clock_type()) {
    throw std::runtime_error("can't compare times with different time sources");
  }
}

}  // namespace

Duration::Duration(int32_t seconds, uint32_t nanoseconds) {
  rcl_duration_.nanoseconds =
      static_cast<int64_t>(seconds) * kNanosecondsPerSecond + static_cast<int64_t>(nanoseconds);
}

Duration::Duration(std::chrono::nanoseconds nanoseconds) {
  rcl_duration_.nanoseconds = nanoseconds.count();
}

Duration::Duration(const builtin_interfaces::msg::Duration & duration_msg)
    : Duration(duration_msg.sec, duration_msg.nanosec) {}

Duration::Duration(const rcl_duration_t & duration) : rcl_duration_(duration) {}

Duration::operator builtin_interfaces::msg::Duration() const {
  builtin_interfaces::msg::Duration message;
  const int64_t nanoseconds = rcl_duration_.nanoseconds;
  int64_t seconds = nanoseconds / kNanosecondsPerSecond;
  int64_t remainder = nanoseconds % kNanosecondsPerSecond;
  if (remainder < 0) {
    seconds -= 1;
    remainder += kNanosecondsPerSecond;
  }
  if (seconds > std::numeric_limits<int32_t>::max()) {
    message.sec = std::numeric_limits<int32_t>::max();
    message.nanosec = std::numeric_limits<uint32_t>::max();
  } else if (seconds < std::numeric_limits<int32_t>::min()) {
    message.sec = std::numeric_limits<int32_t>::min();
    message.nanosec = 0;
  } else {
    message.sec = static_cast<int32_t>(seconds);
    message.nanosec = static_cast<uint32_t>(remainder);
  }
  return message;
}

Duration & Duration::operator=(const builtin_interfaces::msg::Duration & duration_msg) {
  *this = Duration(duration_msg);
  return *this;
}

bool Duration::operator==(const Duration & rhs) const { return nanoseconds() == rhs.nanoseconds(); }
bool Duration::operator!=(const Duration & rhs) const { return nanoseconds() != rhs.nanoseconds(); }
bool Duration::operator<(const Duration & rhs) const { return nanoseconds() < rhs.nanoseconds(); }
bool Duration::operator<=(const Duration & rhs) const { return nanoseconds() <= rhs.nanoseconds(); }
bool Duration::operator>=(const Duration & rhs) const { return nanoseconds() >= rhs.nanoseconds(); }
bool Duration::operator>(const Duration & rhs) const { return nanoseconds() > rhs.nanoseconds(); }

Duration Duration::operator+(const Duration & rhs) const {
  return from_nanoseconds(checkedAdd(nanoseconds(), rhs.nanoseconds()));
}

Duration Duration::operator-(const Duration & rhs) const {
  return from_nanoseconds(checkedSubtract(nanoseconds(), rhs.nanoseconds()));
}

Duration Duration::operator*(double scale) const {
  if (!std::isfinite(scale)) {
    throw std::runtime_error("abnormal scale in rclcpp::Duration");
  }
  const long double scaled = static_cast<long double>(nanoseconds()) * scale;
  if (scaled > static_cast<long double>(std::numeric_limits<int64_t>::max()) ||
      scaled < static_cast<long double>(std::numeric_limits<int64_t>::min())) {
    throw std::overflow_error("duration scaling leads to int64_t overflow");
  }
  return from_nanoseconds(static_cast<int64_t>(scaled));
}

Duration Duration::max() { return Duration(std::numeric_limits<int32_t>::max(), 999999999); }

Duration Duration::from_seconds(double seconds) {
  return from_nanoseconds(static_cast<int64_t>(seconds * 1e9));
}

Duration Duration::from_nanoseconds(rcl_duration_value_t nanoseconds) {
  Duration duration;
  duration.rcl_duration_.nanoseconds = nanoseconds;
  return duration;
}

Duration Duration::from_rmw_time(rmw_time_t duration) {
  const rmw_time_t infinite = RMW_DURATION_INFINITE;
  if (duration.sec >= infinite.sec) {
    return from_nanoseconds(std::numeric_limits<int64_t>::max());
  }
  return from_nanoseconds(
      static_cast<int64_t>(duration.sec) * kNanosecondsPerSecond +
      static_cast<int64_t>(duration.nsec));
}

rcl_duration_value_t Duration::nanoseconds() const { return rcl_duration_.nanoseconds; }

double Duration::seconds() const {
  return std::chrono::duration<double>(std::chrono::nanoseconds(nanoseconds())).count();
}

rmw_time_t Duration::to_rmw_time() const {
  if (nanoseconds() < 0) {
    return rmw_time_t{0, 0};
  }
  return rmw_time_t{
      static_cast<uint64_t>(nanoseconds() / kNanosecondsPerSecond),
      static_cast<uint64_t>(nanoseconds() % kNanosecondsPerSecond)};
}

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

bool Time::operator==(const Time & rhs) const {
  requireSameClock(*this, rhs);
  return nanoseconds() == rhs.nanoseconds();
}
bool Time::operator!=(const Time & rhs) const { return !(*this == rhs); }
bool Time::operator<(const Time & rhs) const {
  requireSameClock(*this, rhs);
  return nanoseconds() < rhs.nanoseconds();
}
bool Time::operator<=(const Time & rhs) const {
  requireSameClock(*this, rhs);
  return nanoseconds() <= rhs.nanoseconds();
}
bool Time::operator>=(const Time & rhs) const {
  requireSameClock(*this, rhs);
  return nanoseconds() >= rhs.nanoseconds();
}
bool Time::operator>(const Time & rhs) const {
  requireSameClock(*this, rhs);
  return nanoseconds() > rhs.nanoseconds();
}

Time Time::operator+(const Duration & rhs) const {
  return Time(checkedAdd(nanoseconds(), rhs.nanoseconds()), get_clock_type());
}

Duration Time::operator-(const Time & rhs) const {
  requireSameClock(*this, rhs);
  return Duration::from_nanoseconds(checkedSubtract(nanoseconds(), rhs.nanoseconds()));
}

Time Time::operator-(const Duration & rhs) const {
  return Time(checkedSubtract(nanoseconds(), rhs.nanoseconds()), get_clock_type());
}

Time & Time::operator+=(const Duration & rhs) {
  *this = *this + rhs;
  return *this;
}

Time & Time::operator-=(const Duration & rhs) {
  *this = *this - rhs;
  return *this;
}

rcl_time_point_value_t Time::nanoseconds() const { return rcl_time_.nanoseconds; }

Time Time::max() { return Time(std::numeric_limits<int32_t>::max(), 999999999); }

double Time::seconds() const {
  return std::chrono::duration<double>(std::chrono::nanoseconds(nanoseconds())).count();
}

rcl_clock_type_t Time::get_clock_type() const { return rcl_time_.clock_type; }

Time operator+(const Duration & lhs, const Time & rhs) { return rhs + lhs; }

Clock::Clock(rcl_clock_type_t clock_type) : clock_type_(clock_type) {}

Time Clock::now() {
  const auto since_epoch = clock_type_ == RCL_STEADY_TIME
                               ? std::chrono::steady_clock::now().time_since_epoch()
                               : std::chrono::system_clock::now().time_since_epoch();
  return Time(
      std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count(), clock_type_);
}

bool Clock::sleep_until(Time until, Context::SharedPtr context) {
  if (until.get_clock_type() != clock_type_) {
    throw std::runtime_error("until's clock type does not match this clock's type");
  }
  while (context && context->is_valid()) {
    const Duration left = until - now();
    if (left.nanoseconds() <= 0) {
      return true;
    }
    context->sleep_for(std::chrono::nanoseconds(left.nanoseconds()));
  }
  return false;
}

bool Clock::sleep_for(Duration rel_time, Context::SharedPtr context) {
  return sleep_until(now() + rel_time, std::move(context));
}

bool Clock::ros_time_is_active() { return false; }

rcl_clock_type_t Clock::get_clock_type() const { return clock_type_; }

}  // namespace rclcpp
