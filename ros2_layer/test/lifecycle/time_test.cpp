// The stamp of a sample: clock time converted to a message.
#include <gtest/gtest.h>

#include <chrono>

#include "rclcpp/clock.hpp"
#include "rclcpp/time.hpp"

namespace {

using namespace std::chrono_literals;

TEST(TimeConversion, TimeMessageRoundTripKeepsNanoseconds) {
  const rclcpp::Time time(1700000000, 123456789, RCL_ROS_TIME);
  const builtin_interfaces::msg::Time message = time;

  EXPECT_EQ(message.sec, 1700000000);
  EXPECT_EQ(message.nanosec, 123456789u);
  EXPECT_EQ(rclcpp::Time(message).nanoseconds(), time.nanoseconds());
}

TEST(TimeConversion, RosClockFollowsTheSystemClock) {
  rclcpp::Clock clock(RCL_ROS_TIME);
  const auto system = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::system_clock::now().time_since_epoch());

  const rclcpp::Time now = clock.now();

  EXPECT_EQ(now.get_clock_type(), RCL_ROS_TIME);
  EXPECT_LT(std::abs(now.nanoseconds() - system.count()), std::chrono::nanoseconds(60s).count());
}

}  // namespace
