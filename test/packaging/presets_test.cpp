// The parameter files shipped in config/ as the node reads them with --params-file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "robot_peer.hpp"
#include "teleop_process.hpp"

namespace tavrin_test {
namespace {

/// The node's first log lines with these ROS arguments, once it is fully up: a SIGINT while it
/// still creates its endpoints would end it abnormally, which is not what is tested here.
std::vector<std::string> startupWith(
    const std::vector<std::string> & ros_arguments, bool topic_mode) {
  RobotPeer peer;
  TeleopProcess node(ros_arguments);
  EXPECT_TRUE(node.waitForStartup()) << node.output();
  EXPECT_TRUE(topic_mode ? peer.waitForTeleopNode() : node.waitForOutput("joyDataThread started"))
      << node.output();
  auto bodies = firstBodies(node, 15);
  EXPECT_TRUE(node.interruptAndExitCleanly());
  return bodies;
}

std::string configFile(const std::string & name) {
  return std::string(TAVRIN_CONFIG_DIR) + "/" + name;
}

TEST(ParameterFiles, DefaultFileGivesTheNodeItsDefaults) {
  EXPECT_EQ(
      startupWith({"--params-file", configFile("teleop.yaml")}, false),
      startupLines("/dev/input/js0", {0, 1, 2, 3, 4, 5}, {0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST(ParameterFiles, ControllerPresetsRemapAxesAndButtons) {
  const std::vector<std::pair<std::string, std::vector<int>>> presets{
      {"xbox.yaml", {4, 0, 2, 3, 1, 5, 6, 7}},
      {"playstation.yaml", {4, 0, 3, 2, 1, 5, 8, 9}},
  };
  for (const auto & [file, buttons] : presets) {
    // A command-line parameter given after the file wins over it.
    EXPECT_EQ(
        startupWith({"--params-file", configFile(file), "-p", "joy_dev:=/joy"}, true),
        startupLines("/joy", {1, 0, 2, 3, 4, 5}, buttons))
        << file;
  }
}

}  // namespace
}  // namespace tavrin_test
