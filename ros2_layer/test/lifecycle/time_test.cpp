// Time and duration conversions at the edges where rclcpp rounds.
#include <gtest/gtest.h>

#include <chrono>

#include "rclcpp/clock.hpp"
#include "rclcpp/duration.hpp"
#include "rclcpp/time.hpp"

namespace {

using namespace std::chrono_literals;

TEST(TimeConversion, NegativeDurationMessageRoundsSecondsDown) {
  const builtin_interfaces::msg::Duration message = rclcpp::Duration(-1500ms);

  EXPECT_EQ(message.sec, -2);
  EXPECT_EQ(message.nanosec, 500000000u);
  EXPECT_EQ(rclcpp::Duration(message).nanoseconds(), -1500000000);
}

TEST(TimeConversion, TimeMessageRoundTripKeepsNanosecondsAndArithmeticChecksClocks) {
  const rclcpp::Time time(1700000000, 123456789, RCL_ROS_TIME);
  const builtin_interfaces::msg::Time message = time;

  EXPECT_EQ(message.sec, 1700000000);
  EXPECT_EQ(message.nanosec, 123456789u);
  EXPECT_EQ(rclcpp::Time(message), time);
  EXPECT_EQ((time + rclcpp::Duration(2s)).seconds(), time.seconds() + 2.0);
  EXPECT_THROW((void)(time - rclcpp::Time(0, 0, RCL_STEADY_TIME)), std::runtime_error);
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
