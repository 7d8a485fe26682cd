// The parameter files shipped in config/ as the node reads them with --params-file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "robot_peer.hpp"
#include "teleop_process.hpp"

namespace tavrin_test {
namespace {

std::vector<std::string> remapLines(
    const std::vector<int> & axes, const std::vector<int> & buttons) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < axes.size(); ++i) {
    lines.push_back("Joy axes remap" + std::to_string(i) + ": " + std::to_string(axes[i]));
  }
  for (size_t i = 0; i < buttons.size(); ++i) {
    lines.push_back("Joy buttons remap" + std::to_string(i) + ": " + std::to_string(buttons[i]));
  }
  return lines;
}

/// The node's first log lines with these ROS arguments, once it is fully up: a SIGINT while it
/// still creates its endpoints would end it abnormally, which is not what is tested here.
std::vector<std::string> startupWith(
    const std::vector<std::string> & ros_arguments, bool topic_mode) {
  RobotPeer peer;
  TeleopProcess node(ros_arguments);
  EXPECT_TRUE(node.waitForStartup()) << node.output();
  EXPECT_TRUE(topic_mode ? peer.waitForTeleopNode() : node.waitForOutput("joyDataThread started"))
      << node.output();
  auto bodies = logBodies(node.lines());
  bodies.resize(std::min<size_t>(bodies.size(), 15));
  EXPECT_TRUE(node.interruptAndExitCleanly());
  return bodies;
}

std::string configFile(const std::string & name) {
  return std::string(TAVRIN_CONFIG_DIR) + "/" + name;
}

TEST(ParameterFiles, DefaultFileGivesTheNodeItsDefaults) {
  auto expected = remapLines({0, 1, 2, 3, 4, 5}, {0, 1, 2, 3, 4, 5, 6, 7});
  expected.insert(
      expected.begin(),
      "joy_dev: /dev/input/js0, arm_task_center_action: /tavrinpro_action/arm_task");
  EXPECT_EQ(startupWith({"--params-file", configFile("teleop.yaml")}, false), expected);
}

TEST(ParameterFiles, ControllerPresetsRemapAxesAndButtons) {
  const std::vector<std::pair<std::string, std::vector<int>>> presets{
      {"xbox.yaml", {4, 0, 2, 3, 1, 5, 6, 7}},
      {"playstation.yaml", {4, 0, 3, 2, 1, 5, 8, 9}},
  };
  for (const auto & [file, buttons] : presets) {
    auto expected = remapLines({1, 0, 2, 3, 4, 5}, buttons);
    // A command-line parameter given after the file wins over it.
    expected.insert(
        expected.begin(), "joy_dev: /joy, arm_task_center_action: /tavrinpro_action/arm_task");
    EXPECT_EQ(
        startupWith({"--params-file", configFile(file), "-p", "joy_dev:=/joy"}, true), expected)
        << file;
  }
}

}  // namespace
}  // namespace tavrin_test
