// Names as rcl resolves them: expansion, remapping, validation errors; parameters as the
// command line and node options override them.
#include <gtest/gtest.h>

#include <string>

#include "layer_fixture.hpp"
#include "std_msgs/msg/string.hpp"
#include "std_srvs/srv/set_bool.hpp"

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

TEST_F(Naming, NodeArgumentsRemapNodeNamespaceTopicsAndServices) {
  rclcpp::NodeOptions options;
  options.arguments(
      {"--ros-args", "-r", "__node:=driver", "-r", "__ns:=/left", "-r", "cmd:=/arm/cmd", "-r",
       "stop:=emergency_stop"});
  auto node = std::make_shared<rclcpp::Node>("teleop", options);

  EXPECT_STREQ(node->get_fully_qualified_name(), "/left/driver");
  EXPECT_STREQ(node->create_publisher<String>("cmd", 1)->get_topic_name(), "/arm/cmd");
  EXPECT_STREQ(node->create_client<SetBool>("stop")->get_service_name(), "/left/emergency_stop");
}

TEST_F(Naming, InvalidNamesRaiseTheirTypedErrors) {
  auto node = std::make_shared<rclcpp::Node>("teleop");
  auto ignore = [](std::shared_ptr<String>) {};
  EXPECT_THROW(
      node->create_publisher<String>("has space", 1), rclcpp::exceptions::InvalidTopicNameError);
  EXPECT_THROW(
      node->create_publisher<String>("/double//slash", 1),
      rclcpp::exceptions::InvalidTopicNameError);
  EXPECT_THROW(
      node->create_subscription<String>("7up", 1, ignore),
      rclcpp::exceptions::InvalidTopicNameError);
  EXPECT_THROW(
      node->create_subscription<String>("a/~b", 1, ignore),
      rclcpp::exceptions::InvalidTopicNameError);
  EXPECT_THROW(node->create_client<SetBool>("stop!"), rclcpp::exceptions::InvalidServiceNameError);
  EXPECT_THROW(
      node->create_service<SetBool>(
          "trailing/",
          [](std::shared_ptr<SetBool::Request>, std::shared_ptr<SetBool::Response>) {}),
      rclcpp::exceptions::InvalidServiceNameError);
  EXPECT_THROW(rclcpp::Node("bad-name"), rclcpp::exceptions::InvalidNodeNameError);
  EXPECT_THROW(rclcpp::Node("fine", "/bad ns"), rclcpp::exceptions::InvalidNamespaceError);
}

TEST_F(Naming, InvalidTopicErrorPointsAtTheOffendingCharacter) {
  auto node = std::make_shared<rclcpp::Node>("teleop");
  try {
    node->create_publisher<String>("cmd vel", 1);
    FAIL() << "expected InvalidTopicNameError";
  } catch (const rclcpp::exceptions::InvalidTopicNameError & error) {
    EXPECT_EQ(error.invalid_index, 3u);
    EXPECT_EQ(error.name, "cmd vel");
  }
}

TEST_F(Naming, ParametersTakeOverridesFromNodeArgumentsAndOptions) {
  rclcpp::NodeOptions options;
  options.arguments({"--ros-args", "-p", "speed_scale:=0.5", "-p", "topic:=/joy2"});
  options.append_parameter_override("axes", std::vector<int64_t>{3, 4});
  auto node = std::make_shared<rclcpp::Node>("teleop", options);

  EXPECT_DOUBLE_EQ(node->declare_parameter("speed_scale", 1.0), 0.5);
  EXPECT_EQ(node->declare_parameter("topic", std::string("/joy")), "/joy2");
  EXPECT_EQ(
      node->declare_parameter("axes", std::vector<int64_t>{0, 1}), (std::vector<int64_t>{3, 4}));
  EXPECT_EQ(node->declare_parameter("enabled", true), true);
}

}  // namespace
