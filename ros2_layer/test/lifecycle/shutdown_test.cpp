// What happens at and after shutdown: spin returns, publishing is dropped, re-init works.
#include <memory>
#include <gtest/gtest.h>

#include <thread>

#include "layer_fixture.hpp"
#include "std_msgs/msg/string.hpp"

namespace {

using namespace std::chrono_literals;

class Shutdown : public test_support::LayerTest {};

TEST_F(Shutdown, SpinReturnsWhenAnotherThreadShutsDown) {
  auto node = std::make_shared<rclcpp::Node>("spinner");
  auto subscription = node->create_subscription<std_msgs::msg::String>(
      "anything", 10, [](std::shared_ptr<std_msgs::msg::String>) {});
  std::thread stopper([] {
    std::this_thread::sleep_for(200ms);
    rclcpp::shutdown();
  });

  rclcpp::spin(node);

  EXPECT_FALSE(rclcpp::ok());
  stopper.join();
}

TEST_F(Shutdown, PublishingAfterShutdownIsDroppedSilently) {
  auto node = std::make_shared<rclcpp::Node>("late_talker");
  auto publisher = node->create_publisher<std_msgs::msg::String>("chatter", 10);
  std_msgs::msg::String message;
  message.data = "too late";

  rclcpp::shutdown();

  EXPECT_NO_THROW(publisher->publish(message));
  EXPECT_NO_THROW(publisher->publish(std::make_unique<std_msgs::msg::String>(message)));
}

TEST_F(Shutdown, ShutdownGivesItsReasonAndRunsTheCallbacks) {
  // The callback stays registered with the default context for the later tests' shutdowns.
  auto called = std::make_shared<bool>(false);
  rclcpp::on_shutdown([called] { *called = true; });

  EXPECT_TRUE(rclcpp::shutdown());

  EXPECT_TRUE(*called);
  EXPECT_EQ(
      rclcpp::contexts::get_global_default_context()->shutdown_reason(),
      "user called rclcpp::shutdown()");
  EXPECT_FALSE(rclcpp::shutdown());
}

TEST_F(Shutdown, InitAgainAfterShutdownGivesAWorkingContext) {
  rclcpp::shutdown();
  const char * argv[] = {"test"};
  rclcpp::init(1, argv);
  auto node = std::make_shared<rclcpp::Node>("second_life");
  bool received = false;
  auto subscription = node->create_subscription<std_msgs::msg::String>(
      "loop", 10, [&](std::shared_ptr<std_msgs::msg::String>) { received = true; });
  auto publisher = node->create_publisher<std_msgs::msg::String>("loop", 10);
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);

  EXPECT_TRUE(test_support::spinUntil(
      executor, [&] { return received; }, 60s,
      [&] { publisher->publish(std_msgs::msg::String()); }));
  EXPECT_THROW(rclcpp::init(1, argv), rclcpp::ContextAlreadyInitialized);
}

}  // namespace
