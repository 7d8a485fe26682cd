// A node's life: names as rcl resolves them, the stamp clock, and what happens at and after
// shutdown (spin and waits for servers return, publishing is dropped, re-init works).
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "layer_fixture.hpp"
#include "rclcpp/clock.hpp"
#include "rclcpp/time.hpp"
#include "rclcpp_action/rclcpp_action.hpp"
#include "std_msgs/msg/string.hpp"
#include "std_srvs/srv/set_bool.hpp"
#include "tavrin_protocol/action/arm_task_decision.hpp"

namespace {

using std_msgs::msg::String;
using std_srvs::srv::SetBool;

class Naming : public test_support::LayerTest {};

TEST_F(Naming, RelativePrivateAndAbsoluteNamesResolveAgainstTheNamespace) {
  auto node = std::make_shared<rclcpp::Node>("teleop", "arm");

  EXPECT_STREQ(node->get_fully_qualified_name(), "/arm/teleop");
  EXPECT_STREQ(node->create_publisher<String>("status", 1)->get_topic_name(), "/arm/status");
  EXPECT_STREQ(node->create_publisher<String>("~/state", 1)->get_topic_name(), "/arm/teleop/state");
  EXPECT_STREQ(node->create_publisher<String>("/joy", 1)->get_topic_name(), "/joy");
  EXPECT_STREQ(node->create_client<SetBool>("{node}/stop")->get_service_name(), "/arm/teleop/stop");
}

TEST_F(Naming, NodeArgumentsRemapNamesAndOverrideParametersAsOptionsDo) {
  rclcpp::NodeOptions options;
  options.arguments(
      {"--ros-args", "-r", "__node:=driver", "-r", "__ns:=/left", "-r", "cmd:=/arm/cmd", "-r",
       "stop:=emergency_stop", "-p", "speed_scale:=0.5", "-p", "topic:=/joy2"});
  options.append_parameter_override("axes", std::vector<int64_t>{3, 4});
  auto node = std::make_shared<rclcpp::Node>("teleop", options);

  EXPECT_STREQ(node->get_fully_qualified_name(), "/left/driver");
  EXPECT_STREQ(node->create_publisher<String>("cmd", 1)->get_topic_name(), "/arm/cmd");
  EXPECT_STREQ(node->create_client<SetBool>("stop")->get_service_name(), "/left/emergency_stop");
  EXPECT_DOUBLE_EQ(node->declare_parameter("speed_scale", 1.0), 0.5);
  EXPECT_EQ(node->declare_parameter("topic", std::string("/joy")), "/joy2");
  EXPECT_EQ(
      node->declare_parameter("axes", std::vector<int64_t>{0, 1}), (std::vector<int64_t>{3, 4}));
  EXPECT_EQ(node->declare_parameter("enabled", true), true);
}

TEST_F(Naming, InvalidNamesRaiseTheirTypedErrors) {
  auto node = std::make_shared<rclcpp::Node>("teleop");
  auto ignore = [](std::shared_ptr<String>) {};
  for (const auto & [topic, index] :
       {std::pair{"cmd vel", 3u}, {"/double//slash", 8u}, {"7up", 0u}, {"a/~b", 2u}}) {
    try {
      node->create_subscription<String>(topic, 1, ignore);
      ADD_FAILURE() << topic;
    } catch (const rclcpp::exceptions::InvalidTopicNameError & error) {
      EXPECT_EQ(error.invalid_index, index) << topic;  // where the message points
      EXPECT_EQ(error.name, topic);
    }
  }
  EXPECT_THROW(
      node->create_publisher<String>("has space", 1), rclcpp::exceptions::InvalidTopicNameError);
  EXPECT_THROW(node->create_client<SetBool>("stop!"), rclcpp::exceptions::InvalidServiceNameError);
  EXPECT_THROW(
      node->create_service<SetBool>(
          "trailing/",
          [](std::shared_ptr<SetBool::Request>, std::shared_ptr<SetBool::Response>) {}),
      rclcpp::exceptions::InvalidServiceNameError);
  EXPECT_THROW(rclcpp::Node("bad-name"), rclcpp::exceptions::InvalidNodeNameError);
  EXPECT_THROW(rclcpp::Node("fine", "/bad ns"), rclcpp::exceptions::InvalidNamespaceError);
}

using namespace std::chrono_literals;

TEST(TimeConversion, TimeMessageKeepsNanosecondsAndTheRosClockFollowsTheSystemClock) {
  const rclcpp::Time time(1700000000, 123456789, RCL_ROS_TIME);
  const builtin_interfaces::msg::Time message = time;
  EXPECT_EQ(message.sec, 1700000000);
  EXPECT_EQ(message.nanosec, 123456789u);
  EXPECT_EQ(rclcpp::Time(message).nanoseconds(), time.nanoseconds());

  const auto system = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  const rclcpp::Time now = rclcpp::Clock(RCL_ROS_TIME).now();
  EXPECT_EQ(now.get_clock_type(), RCL_ROS_TIME);
  EXPECT_LT(std::abs(now.nanoseconds() - system.count()), std::chrono::nanoseconds(60s).count());
}

class Shutdown : public test_support::LayerTest {};

TEST_F(Shutdown, EndsSpinAndWaitsForServersDropsPublishingRefusesClientsAndAllowsInitAgain) {
  auto node = std::make_shared<rclcpp::Node>("spinner");
  auto publisher = node->create_publisher<String>("chatter", 10);
  auto subscription =
      node->create_subscription<String>("chatter", 10, [](std::shared_ptr<String>) {});
  auto client = node->create_client<SetBool>("nobody_offers_this");
  auto action_client = rclcpp_action::create_client<tavrin_protocol::action::ArmTaskDecision>(
      node, "/action_test/nobody_serves_this");
  auto service_waited =
      std::async(std::launch::async, [&] { return client->wait_for_service(60s); });
  auto action_waited = std::async(std::launch::async, [&] {
    return action_client->wait_for_action_server(std::chrono::nanoseconds(-1));  // no limit
  });
  // The callback stays registered with the default context for later tests: it owns its flag.
  auto called = std::make_shared<bool>(false);
  rclcpp::on_shutdown([called] { *called = true; });
  std::thread stopper([&] {
    EXPECT_EQ(service_waited.wait_for(200ms), std::future_status::timeout);
    EXPECT_EQ(action_waited.wait_for(0s), std::future_status::timeout);
    EXPECT_TRUE(rclcpp::shutdown());
  });

  rclcpp::spin(node);

  stopper.join();
  for (auto * waited : {&service_waited, &action_waited}) {
    ASSERT_EQ(waited->wait_for(20s), std::future_status::ready);
    EXPECT_FALSE(waited->get());
  }
  EXPECT_FALSE(rclcpp::ok());
  EXPECT_TRUE(*called);
  EXPECT_EQ(
      rclcpp::contexts::get_global_default_context()->shutdown_reason(),
      "user called rclcpp::shutdown()");
  EXPECT_FALSE(rclcpp::shutdown());
  EXPECT_NO_THROW(publisher->publish(String()));
  EXPECT_NO_THROW(publisher->publish(std::make_unique<String>()));
  try {
    node->create_client<SetBool>("toggle");
    FAIL() << "expected RCLError";
  } catch (const rclcpp::exceptions::RCLError & error) {
    EXPECT_EQ(std::string(error.what()).rfind("could not create client", 0), 0u) << error.what();
  }

  // Initialised again, the library gives a working context.
  const char * argv[] = {"test"};
  rclcpp::init(1, argv);
  auto second = std::make_shared<rclcpp::Node>("second_life");
  bool received = false;
  auto loop = second->create_subscription<String>(
      "loop", 10, [&](std::shared_ptr<String>) { received = true; });
  auto loop_publisher = second->create_publisher<String>("loop", 10);
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(second);
  EXPECT_TRUE(test_support::spinUntil(
      executor, [&] { return received; }, 60s, [&] { loop_publisher->publish(String()); }));
  EXPECT_THROW(rclcpp::init(1, argv), rclcpp::ContextAlreadyInitialized);
}

}  // namespace
