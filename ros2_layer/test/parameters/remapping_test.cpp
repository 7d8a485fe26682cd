#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.hpp"

namespace ros2_layer::test {
namespace {

std::vector<RemapRule> rulesOf(const std::vector<std::string> & remaps) {
  std::vector<std::string> arguments = {"--ros-args"};
  for (const std::string & remap : remaps) {
    arguments.insert(arguments.end(), {"-r", remap});
  }
  return parseCommandLine(arguments).remaps;
}

TEST(Remapping, FirstMatchingRuleWins) {
  const auto rules = rulesOf({"joy:=/gamepad", "/joy:=/other"});
  EXPECT_EQ(remapName(rules, "/joy", "teleop", "/"), "/gamepad");
  EXPECT_EQ(remapName(rules, "/cmd_vel", "teleop", "/"), "/cmd_vel");
}

TEST(Remapping, RuleSidesExpandAgainstTheNodeNamespace) {
  const auto rules = rulesOf({"joy:=pad", "~/state:=status", "/abs:=~/private"});
  EXPECT_EQ(remapName(rules, "/robot/joy", "teleop", "/robot"), "/robot/pad");
  EXPECT_EQ(remapName(rules, "/joy", "teleop", "/robot"), "/joy");
  EXPECT_EQ(remapName(rules, "/robot/teleop/state", "teleop", "/robot"), "/robot/status");
  EXPECT_EQ(remapName(rules, "/abs", "teleop", "/"), "/teleop/private");
}

TEST(Remapping, NodeScopedRulesApplyOnlyToTheirNode) {
  const auto rules = rulesOf({"driver:joy:=/driver_joy", "teleop:joy:=/teleop_joy"});
  EXPECT_EQ(remapName(rules, "/joy", "teleop", "/"), "/teleop_joy");
  EXPECT_EQ(remapName(rules, "/joy", "driver", "/"), "/driver_joy");
  EXPECT_EQ(remapName(rules, "/joy", "other", "/"), "/joy");
}

TEST(Remapping, UrlPrefixedRulesApplyToTheirKindOfName) {
  const auto rules = rulesOf({"rostopic://joy:=/topic_joy", "rosservice://joy:=/service_joy"});
  EXPECT_EQ(remapName(rules, "/joy", "teleop", "/", RemapTarget::topic), "/topic_joy");
  EXPECT_EQ(remapName(rules, "/joy", "teleop", "/", RemapTarget::service), "/service_joy");
}

TEST(Remapping, NodeNameAndNamespaceRules) {
  const auto rules = rulesOf(
      {"other:__node:=ignored", "teleop:__node:=driver", "__name:=fallback", "driver:__ns:=/arm",
       "__ns:=/elsewhere/"});
  EXPECT_EQ(remapNodeName(rules, "teleop"), "driver");
  EXPECT_EQ(remapNodeName(rules, "monitor"), "fallback");
  // The namespace rule is matched against the node's name after its own remapping.
  EXPECT_EQ(remapNamespace(rules, "driver", "/"), "/arm");
  EXPECT_EQ(remapNamespace(rules, "monitor", "/"), "/elsewhere/");
  EXPECT_EQ(remapNamespace({}, "teleop", "/robot"), "/robot");
  EXPECT_EQ(remapName(rules, "/teleop", "teleop", "/"), "/teleop");
}

}  // namespace
}  // namespace ros2_layer::test
