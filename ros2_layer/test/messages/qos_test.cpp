// Publishers and subscriptions behave as the QoS they were created with.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "geometry_msgs/msg/twist.hpp"
#include "layer_fixture.hpp"
#include "std_msgs/msg/string.hpp"

namespace {

using namespace std::chrono_literals;
using std_msgs::msg::String;
using Strings = std::vector<std::string>;

class QosAsCreated : public test_support::LayerTest {
protected:
  void SetUp() override {
    LayerTest::SetUp();
    source_ = std::make_shared<rclcpp::Node>("source");
  }
  void TearDown() override {
    source_.reset();
    LayerTest::TearDown();
  }

  void publish(const rclcpp::Publisher<String>::SharedPtr & publisher, int from, int to) {
    for (int i = from; i <= to; ++i) {
      String message;
      message.data = std::to_string(i);
      publisher->publish(message);
    }
  }

  rclcpp::Node::SharedPtr source_;
};

TEST_F(QosAsCreated, KeepLastOneReaderBehindABurstSeesOnlyTheLast) {
  auto behind = std::make_shared<rclcpp::Node>("behind");
  auto counting = std::make_shared<rclcpp::Node>("counting");
  Strings latest;
  Strings all;
  auto latest_only = behind->create_subscription<String>(
      "burst", rclcpp::QoS(1).reliable(),
      [&](std::shared_ptr<String> message) { latest.push_back(message->data); });
  auto everything = counting->create_subscription<String>(
      "burst", rclcpp::QoS(50).reliable(),
      [&](std::shared_ptr<String> message) { all.push_back(message->data); });
  auto publisher = source_->create_publisher<String>("burst", rclcpp::QoS(50).reliable());
  ASSERT_TRUE(tavrin_tools::waitUntil([&] { return publisher->get_subscription_count() == 2; }));
  publish(publisher, 1, 20);
  rclcpp::executors::SingleThreadedExecutor counting_executor;
  counting_executor.add_node(counting);
  // Both readers get each sample in the same delivery: once the last is counted, the burst is in.
  ASSERT_TRUE(test_support::spinUntil(
      counting_executor, [&] { return all.size() == 20; }, 60s));

  rclcpp::executors::SingleThreadedExecutor behind_executor;
  behind_executor.add_node(behind);
  behind_executor.spin_all(1s);

  EXPECT_EQ(latest, Strings{"20"});
}

TEST_F(QosAsCreated, LateTransientLocalSubscriberGetsTheLastDepthSamples) {
  auto history =
      source_->create_publisher<String>("history", rclcpp::QoS(3).reliable().transient_local());
  publish(history, 1, 5);
  auto node = std::make_shared<rclcpp::Node>("late");
  Strings received;
  auto subscription = node->create_subscription<String>(
      "history", rclcpp::QoS(10).reliable().transient_local(),
      [&](std::shared_ptr<String> message) { received.push_back(message->data); });
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  ASSERT_TRUE(test_support::spinUntil(
      executor, [&] { return received.size() >= 3; }, 60s));
  executor.spin_all(500ms);

  EXPECT_EQ(received, (Strings{"3", "4", "5"}));
}

TEST_F(QosAsCreated, ReliableSubscriptionDoesNotMatchABestEffortPublisher) {
  auto publisher =
      source_->create_publisher<geometry_msgs::msg::Twist>("cmd_vel", rclcpp::QoS(3).best_effort());
  auto ignore = [](std::shared_ptr<geometry_msgs::msg::Twist>) {};
  auto reliable = source_->create_subscription<geometry_msgs::msg::Twist>(
      "cmd_vel", rclcpp::QoS(3).reliable(), ignore);
  auto best_effort = source_->create_subscription<geometry_msgs::msg::Twist>(
      "cmd_vel", rclcpp::QoS(3).best_effort(), ignore);
  ASSERT_TRUE(tavrin_tools::waitUntil([&] { return best_effort->get_publisher_count() == 1; }));
  EXPECT_EQ(reliable->get_publisher_count(), 0u);
}

}  // namespace
