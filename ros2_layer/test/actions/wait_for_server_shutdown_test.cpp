// A thread that waits for an action server without a time limit is released by shutdown.
#include <chrono>
#include <future>
#include <memory>

#include <gtest/gtest.h>

#include "rclcpp/rclcpp.hpp"
#include "rclcpp_action/rclcpp_action.hpp"
#include "tavrin_protocol/action/arm_task_decision.hpp"

namespace {

using namespace std::chrono_literals;

TEST(ActionClientShutdown, WaitForActionServerReturnsFalseWhenTheContextShutsDown) {
  rclcpp::init(0, nullptr);
  auto node = std::make_shared<rclcpp::Node>("arm_task_waiting_client");
  auto client = rclcpp_action::create_client<tavrin_protocol::action::ArmTaskDecision>(
      node, "/action_test/nobody_serves_this");
  auto waited = std::async(std::launch::async, [&client] {
    return client->wait_for_action_server(std::chrono::nanoseconds(-1));
  });
  EXPECT_EQ(waited.wait_for(200ms), std::future_status::timeout);  // still waiting

  rclcpp::shutdown();

  ASSERT_EQ(waited.wait_for(20s), std::future_status::ready);
  EXPECT_FALSE(waited.get());
}

}  // namespace
