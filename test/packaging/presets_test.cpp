// The parameter files shipped in config/ as the node reads them with --params-file, and what
// the node's parameter services then report.
#include <gtest/gtest.h>

#include <string>
#include <utility>
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

TEST(ParameterFiles, NodeRunsWithEachShippedFileAndReportsItsParametersReadOnly) {
  // Each file with the buttons it remaps; the default file leaves the node's own table.
  const std::vector<std::pair<std::string, std::vector<int>>> files{
      {"", {}},
      {"teleop.yaml", {}},
      {"xbox.yaml", {4, 0, 2, 3, 1, 5, 6, 7}},
      {"playstation.yaml", {4, 0, 3, 2, 1, 5, 8, 9}},
  };
  RobotPeer peer;
  rcl_interfaces::srv::GetParameters::Request get;
  get.names = {"deadzone", "joy_dev",       "joy_axis",
               "joy_btns", "enable_button", "coalesce_interval_ms"};
  rcl_interfaces::srv::SetParameters::Request set;
  set.parameters.resize(1);
  set.parameters[0].name = "deadzone";
  set.parameters[0].value = rclcpp::ParameterValue(0.1).to_value_msg();
  std::vector<std::vector<rcl_interfaces::msg::ParameterValue>> reported;
  for (const auto & [file, buttons] : files) {
    SCOPED_TRACE(file);
    std::vector<std::string> arguments;
    if (!file.empty()) {
      arguments = {"--params-file", std::string(TAVRIN_CONFIG_DIR) + "/" + file};
    }
    // A command-line parameter given after a preset wins over it.
    if (!buttons.empty()) {
      arguments.insert(arguments.end(), {"-p", "joy_dev:=/joy"});
    }
    TeleopProcess node(arguments);
    ASSERT_TRUE(node.waitForStartup()) << node.output();
    // Read once at start, the parameters refuse a change and report what the node runs with.
    const auto refused = askNode<rcl_interfaces::srv::SetParameters>(peer, "set_parameters", set);
    ASSERT_TRUE(refused && refused->results.size() == 1) << node.output();
    EXPECT_EQ(
        refused->results[0].reason, "parameter 'deadzone' cannot be set because it is read-only");
    const auto values = askNode<rcl_interfaces::srv::GetParameters>(peer, "get_parameters", get);
    ASSERT_TRUE(values && values->values.size() == get.names.size()) << node.output();
    reported.push_back(values->values);
    if (!buttons.empty()) {
      EXPECT_EQ(rclcpp::ParameterValue(values->values[1]), rclcpp::ParameterValue("/joy"));
      EXPECT_EQ(
          rclcpp::ParameterValue(values->values[3]),
          rclcpp::ParameterValue(std::vector<int64_t>(buttons.begin(), buttons.end())));
    }
    EXPECT_TRUE(node.interruptAndExitCleanly());
  }
  // The default file restates the node's defaults.
  EXPECT_EQ(reported[0], reported[1]);
}

}  // namespace
}  // namespace tavrin_test
