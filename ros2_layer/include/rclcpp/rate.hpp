// Loop rates: sleep so that a loop runs at a fixed frequency.
#pragma once

#include <chrono>
#include <memory>
#include <thread>

#include "rclcpp/macros.hpp"
#include "rclcpp/utilities.hpp"

namespace rclcpp {

/// Sleeps so that successive sleep() calls are one period apart.
template <class Clock = std::chrono::high_resolution_clock>
class GenericRate {
public:
  RCLCPP_SMART_PTR_DEFINITIONS(GenericRate)

  /// A rate of `rate` hertz.
  explicit GenericRate(double rate)
      : GenericRate(std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::chrono::duration<double>(1.0 / rate))) {}
  /// A rate of one `period`.
  explicit GenericRate(std::chrono::nanoseconds period)
      : period_(period), last_interval_(Clock::now()) {}

  /// Sleeps until one period after the previous wake-up; false when the loop fell behind.
  virtual bool sleep() {
    auto now = Clock::now();
    auto next_interval = last_interval_ + period_;
    if (now < last_interval_) {
      // The clock went backwards: start over from now.
      next_interval = now + period_;
    }
    auto time_to_sleep = next_interval - now;
    last_interval_ += period_;
    if (time_to_sleep <= std::chrono::seconds(0)) {
      if (now > next_interval + period_) {
        last_interval_ = now + period_;
      }
      return false;
    }
    rclcpp::sleep_for(time_to_sleep);
    return true;
  }

  /// Whether the clock is steady.
  virtual bool is_steady() const { return Clock::is_steady; }
  /// Starts the next period now.
  virtual void reset() { last_interval_ = Clock::now(); }
  /// The period.
  std::chrono::nanoseconds period() const { return period_; }

private:
  RCLCPP_DISABLE_COPY(GenericRate)

  std::chrono::nanoseconds period_;
  using ClockDurationNano = std::chrono::duration<typename Clock::rep, std::nano>;
  std::chrono::time_point<Clock, ClockDurationNano> last_interval_;
};

using Rate = GenericRate<std::chrono::system_clock>;
using WallRate = GenericRate<std::chrono::steady_clock>;

}  // namespace rclcpp
