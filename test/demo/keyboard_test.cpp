// The keyboard controller at a real terminal (tmux): keys become sensor_msgs/Joy samples, and
// the node it starts follows them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "child_process.hpp"
#include "rclcpp/rclcpp.hpp"
#include "robot_peer.hpp"
#include "sensor_msgs/msg/joy.hpp"
#include "tmux_session.hpp"

namespace tavrin_test {
namespace {

using namespace std::chrono_literals;
using Joy = sensor_msgs::msg::Joy;

/// Listens on /joy and keeps the latest sample, taking in what arrived as it waits.
struct JoyListener {
  JoyListener() { executor.add_node(node); }

  /// Waits until the latest sample, with the controller's whole layout, satisfies `condition`.
  bool waitFor(
      const std::function<bool(const Joy &)> & condition, std::chrono::milliseconds timeout = 10s) {
    return waitUntil(
        [&] {
          executor.spin_some();
          return latest && latest->axes.size() >= 6 && latest->buttons.size() >= 10 &&
                 condition(*latest);
        },
        timeout);
  }

  std::optional<Joy> latest;
  rclcpp::Node::SharedPtr node = std::make_shared<rclcpp::Node>("joy_listener");
  rclcpp::SubscriptionBase::SharedPtr subscription = node->create_subscription<Joy>(
      "/joy", rclcpp::QoS(10), [this](std::shared_ptr<const Joy> sample) { latest = *sample; });
  rclcpp::executors::SingleThreadedExecutor executor;
};

TEST(KeyboardController, KeysAtATerminalBecomeJoySamples) {
  JoyListener joy;
  TmuxSession terminal(std::string(TAVRIN_KEYBOARD_CONTROLLER) + " --output topic");
  ASSERT_TRUE(terminal.waitForScreen("Tavrin keyboard controller -> /joy")) << terminal.screen();
  ASSERT_TRUE(joy.waitFor(
      [](const Joy & s) { return s.axes[1] == 0.0f && s.axes[2] == 1.0f && s.axes[5] == 1.0f; }));

  terminal.sendKeys({"w"});
  EXPECT_TRUE(joy.waitFor([](const Joy & s) { return s.axes[1] == 0.5f; }))
      << "w: left stick half up";
  terminal.sendKeys({"w", "a"});
  EXPECT_TRUE(joy.waitFor([](const Joy & s) { return s.axes[1] == 1.0f && s.axes[0] == 0.5f; }))
      << "w a: left stick up, half left";
  terminal.sendKeys({"e"});
  EXPECT_TRUE(joy.waitFor([](const Joy & s) { return s.axes[2] == 0.0f; }))
      << "e: left trigger half pulled";

  terminal.sendKeys({"3"});
  EXPECT_TRUE(joy.waitFor([](const Joy & s) { return s.buttons[3] == 1; })) << "3: button 3 tapped";
  EXPECT_TRUE(joy.waitFor([](const Joy & s) { return s.buttons[3] == 0; }))
      << "the tap ends by itself";

  terminal.sendKeys({"#"});
  EXPECT_TRUE(joy.waitFor([](const Joy & s) { return s.buttons[3] == 1; })) << "#: button 3 held";
  std::this_thread::sleep_for(600ms);
  EXPECT_TRUE(joy.waitFor([](const Joy & s) { return s.buttons[3] == 1; }, 0ms)) << "still held";
  EXPECT_TRUE(terminal.waitForScreen("pressed: 3")) << terminal.screen();

  terminal.sendKeys({"Space"});
  EXPECT_TRUE(joy.waitFor([](const Joy & s) {
    return s.axes[0] == 0.0f && s.axes[1] == 0.0f && s.axes[2] == 1.0f && s.buttons[3] == 0;
  })) << "space: everything at rest";

  terminal.sendKeys({"Escape"});
  EXPECT_TRUE(waitUntil([&] { return !terminal.running(); }, 10s)) << "Esc quits";
}

TEST(KeyboardController, DrivesTheNodeItStarts) {
  RobotPeer robot(armTaskServer(ArmTaskBehaviour::kSucceed));
  const std::string node_log =
      testing::TempDir() + "keyboard_node_" + std::to_string(::getpid()) + ".log";
  TmuxSession terminal(
      std::string(TAVRIN_KEYBOARD_CONTROLLER) + " --node-log " + node_log + " -- " +
      TAVRIN_NODE_EXECUTABLE);
  ASSERT_TRUE(terminal.waitForScreen("Tavrin keyboard controller -> ")) << terminal.screen();
  ASSERT_TRUE(robot.waitForTwists(1, 30s)) << "the node sends motion commands";

  const auto twistWith = [&](auto condition) {
    return waitUntil([&] {
      const auto twists = robot.twists();
      return !twists.empty() && condition(twists.back());
    });
  };
  terminal.sendKeys({"a"});
  EXPECT_TRUE(twistWith([](const auto & t) { return std::abs(t.linear.x - 0.5) < 1e-3; }))
      << "a: linear x +0.5";
  terminal.sendKeys({"o"});
  EXPECT_TRUE(twistWith([](const auto & t) { return std::abs(t.angular.z - 0.5) < 1e-3; }))
      << "o: right trigger half pulled, angular z +0.5";
  terminal.sendKeys({"1"});
  EXPECT_TRUE(waitUntil([&] { return robot.receivedGoals().size() == 1; }, 10s))
      << "1: the grab goal";

  terminal.sendKeys({"Escape"});
  EXPECT_TRUE(waitUntil([&] { return !terminal.running(); }, 30s))
      << "Esc stops the node and quits";
  std::remove(node_log.c_str());
}

}  // namespace
}  // namespace tavrin_test
