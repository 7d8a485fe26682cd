// A keep-last reader behind a burst sees only the last sample, and every subscription callback
// form that rclcpp accepts gets everything published from another thread while the executor spins.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "layer_fixture.hpp"
#include "sensor_msgs/msg/joy.hpp"
#include "std_msgs/msg/string.hpp"

namespace {

using namespace std::chrono_literals;
using std_msgs::msg::String;
using Strings = std::vector<std::string>;

// The other QoS settings are checked on the wire by the conformance test, where DDS takes over.
using QosAsCreated = test_support::LayerTest;

TEST_F(QosAsCreated, KeepLastOneReaderBehindABurstSeesOnlyTheLast) {
  auto source = std::make_shared<rclcpp::Node>("source");
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
  auto publisher = source->create_publisher<String>("burst", rclcpp::QoS(50).reliable());
  ASSERT_TRUE(tavrin_tools::waitUntil([&] { return publisher->get_subscription_count() == 2; }));
  for (int i = 1; i <= 20; ++i) {
    String message;
    message.data = std::to_string(i);
    publisher->publish(message);
  }
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

using sensor_msgs::msg::Joy;

class Callbacks : public test_support::LayerTest {};

/// A member callback bound with std::bind, as nodes commonly register their joystick handler.
class JoyHandler {
public:
  void joyTeleopProc(std::shared_ptr<Joy> joy) { record(buttons, *joy); }
  void record(std::vector<int32_t> & into, const Joy & joy) {
    into.push_back(joy.buttons.at(0));
    ++delivered;
  }
  std::vector<int32_t> buttons;
  std::atomic<size_t> delivered{0};
};

TEST_F(Callbacks, EveryCallbackFormGetsEveryMessagePublishedFromAnotherThreadWhileSpinning) {
  auto node = std::make_shared<rclcpp::Node>("forms");
  constexpr int kCount = 200;
  const auto qos = rclcpp::QoS(kCount).reliable();
  // Written by the spinning thread, read after it has ended.
  JoyHandler handler;
  std::vector<int32_t> from_const_shared;
  std::vector<int32_t> from_reference;
  std::vector<int32_t> from_unique;
  std::vector<std::shared_ptr<void>> keep{
      node->create_subscription<Joy>(
          "joy", qos, std::bind(&JoyHandler::joyTeleopProc, &handler, std::placeholders::_1)),
      node->create_subscription<Joy>(
          "joy", qos,
          [&](std::shared_ptr<const Joy> joy) { handler.record(from_const_shared, *joy); }),
      node->create_subscription<Joy>(
          "joy", qos, [&](const Joy & joy) { handler.record(from_reference, joy); }),
      node->create_subscription<Joy>(
          "joy", qos, [&](std::unique_ptr<Joy> joy) { handler.record(from_unique, *joy); }),
  };
  auto publisher = node->create_publisher<Joy>("joy", qos);
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  std::thread spinner([&] { executor.spin(); });
  EXPECT_TRUE(tavrin_tools::waitUntil([&] { return publisher->get_subscription_count() == 4; }));

  std::thread joystick([&] {
    for (int32_t i = 0; i < kCount; ++i) {
      Joy joy;
      joy.buttons = {i};
      publisher->publish(joy);
    }
  });
  joystick.join();
  tavrin_tools::waitUntil([&] { return handler.delivered.load() == 4 * kCount; }, 60s);
  executor.cancel();
  spinner.join();

  std::vector<int32_t> in_order(kCount);
  std::iota(in_order.begin(), in_order.end(), 0);
  for (const auto * received :
       {&handler.buttons, &from_const_shared, &from_reference, &from_unique}) {
    EXPECT_EQ(*received, in_order);
  }
}

}  // namespace
