// The parameter files shipped in config/ as the node reads them with --params-file, and what
// the node's parameter services then report.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rcl_interfaces/srv/get_parameters.hpp"
#include "rcl_interfaces/srv/set_parameters.hpp"
#include "robot_peer.hpp"
#include "teleop_process.hpp"

namespace tavrin_test {
namespace {

using namespace std::chrono_literals;

/// Asks one of the node's parameter services as `ros2 param` does; null when it does not answer.
template <typename ServiceT>
typename ServiceT::Response::SharedPtr askNode(
    RobotPeer & peer, const std::string & service, typename ServiceT::Request request) {
  auto client = peer.node()->create_client<ServiceT>("/tavrin_arm_teleop_node/" + service);
  client->wait_for_service(20s);
  auto answer =
      client->async_send_request(std::make_shared<typename ServiceT::Request>(std::move(request)));
  return answer.wait_for(20s) == std::future_status::ready ? answer.get() : nullptr;
}

std::string configFile(const std::string & name) {
  return std::string(TAVRIN_CONFIG_DIR) + "/" + name;
}

TEST(ParameterFiles, DefaultFileGivesTheNodeItsDefaults) {
  RobotPeer peer;
  rcl_interfaces::srv::GetParameters::Request get;
  get.names = {"deadzone", "joy_dev",       "joy_axis",
               "joy_btns", "enable_button", "coalesce_interval_ms"};
  std::vector<std::vector<rcl_interfaces::msg::ParameterValue>> reported;
  for (const auto & arguments :
       {std::vector<std::string>{}, {"--params-file", configFile("teleop.yaml")}}) {
    TeleopProcess node(arguments);
    ASSERT_TRUE(node.waitForOutput("joyDataThread started")) << node.output();
    const auto values = askNode<rcl_interfaces::srv::GetParameters>(peer, "get_parameters", get);
    ASSERT_TRUE(values && values->values.size() == get.names.size()) << node.output();
    reported.push_back(values->values);
    EXPECT_TRUE(node.interruptAndExitCleanly());
  }
  EXPECT_EQ(reported[0], reported[1]);
}

TEST(ParameterFiles, ControllerPresetsRemapButtonsAndReadOnlyParametersReportThem) {
  const std::vector<std::pair<std::string, std::vector<int>>> presets{
      {"xbox.yaml", {4, 0, 2, 3, 1, 5, 6, 7}},
      {"playstation.yaml", {4, 0, 3, 2, 1, 5, 8, 9}},
  };
  for (const auto & [file, buttons] : presets) {
    RobotPeer peer;
    // A command-line parameter given after the file wins over it.
    TeleopProcess node({"--params-file", configFile(file), "-p", "joy_dev:=/joy"});
    ASSERT_TRUE(node.waitForStartup()) << node.output();
    ASSERT_TRUE(peer.waitForTeleopNode()) << node.output();
    const auto expected = startupLines("/joy", {1, 0, 2, 3, 4, 5}, buttons);
    EXPECT_EQ(firstBodies(node, expected.size()), expected) << file;

    // Read once at start, the parameters refuse a change and report what the node runs with.
    rcl_interfaces::srv::SetParameters::Request set;
    set.parameters.resize(1);
    set.parameters[0].name = "deadzone";
    set.parameters[0].value = rclcpp::ParameterValue(0.1).to_value_msg();
    const auto refused = askNode<rcl_interfaces::srv::SetParameters>(peer, "set_parameters", set);
    ASSERT_TRUE(refused && refused->results.size() == 1);
    EXPECT_EQ(
        refused->results[0].reason, "parameter 'deadzone' cannot be set because it is read-only");
    rcl_interfaces::srv::GetParameters::Request get;
    get.names = {"joy_dev", "joy_btns"};
    const auto values = askNode<rcl_interfaces::srv::GetParameters>(peer, "get_parameters", get);
    ASSERT_TRUE(values && values->values.size() == 2);
    EXPECT_EQ(rclcpp::ParameterValue(values->values[0]), rclcpp::ParameterValue("/joy"));
    EXPECT_EQ(
        rclcpp::ParameterValue(values->values[1]),
        rclcpp::ParameterValue(std::vector<int64_t>(buttons.begin(), buttons.end())));
    EXPECT_TRUE(node.interruptAndExitCleanly());
  }
}

}  // namespace
}  // namespace tavrin_test
