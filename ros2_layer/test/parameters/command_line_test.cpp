#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "command_line.hpp"
#include "rclcpp/exceptions.hpp"

namespace ros2_layer::test {
namespace {

using rclcpp::exceptions::RCLInvalidROSArgsError;
using rclcpp::exceptions::UnknownROSArgsError;

rclcpp::ParameterValue valueOf(const std::string & rule) {
  const ParsedArguments parsed = parseCommandLine({"--ros-args", "-p", rule});
  EXPECT_EQ(parsed.parameter_overrides.size(), 1u);
  return parsed.parameter_overrides.at(0).value;
}

TEST(CommandLine, ParameterValuesAreTypedAsRclTypesYaml) {
  EXPECT_EQ(valueOf("a:=0.3"), rclcpp::ParameterValue(0.3));
  EXPECT_EQ(valueOf("a:=3"), rclcpp::ParameterValue(int64_t{3}));
  EXPECT_EQ(valueOf("a:=-7"), rclcpp::ParameterValue(int64_t{-7}));
  EXPECT_EQ(valueOf("a:=0x10"), rclcpp::ParameterValue(int64_t{16}));
  EXPECT_EQ(valueOf("a:=1e3"), rclcpp::ParameterValue(1000.0));
  EXPECT_EQ(valueOf("a:=true"), rclcpp::ParameterValue(true));
  EXPECT_EQ(valueOf("a:=off"), rclcpp::ParameterValue(false));
  EXPECT_EQ(valueOf("a:=/joy"), rclcpp::ParameterValue("/joy"));
  EXPECT_EQ(valueOf("a:='3'"), rclcpp::ParameterValue("3"));
  EXPECT_EQ(valueOf("a:=\"true\""), rclcpp::ParameterValue("true"));
  EXPECT_EQ(valueOf("a:=~"), rclcpp::ParameterValue("~"));
  EXPECT_EQ(valueOf("a:=[1, 2]"), rclcpp::ParameterValue(std::vector<int64_t>{1, 2}));
  EXPECT_EQ(valueOf("a:=[1.0, 2.5]"), rclcpp::ParameterValue(std::vector<double>{1.0, 2.5}));
  EXPECT_EQ(valueOf("a:=[true, no]"), rclcpp::ParameterValue(std::vector<bool>{true, false}));
  EXPECT_EQ(valueOf("a:=['a', b]"), rclcpp::ParameterValue(std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(std::isinf(valueOf("a:=-.inf").get<double>()));
}

TEST(CommandLine, ParameterRulesKeepTheirNameAndNodePrefix) {
  const ParsedArguments parsed = parseCommandLine(
      {"--ros-args", "-p", "joy_topic:=/joy", "--param", "teleop:gains.linear:=2.0"});
  ASSERT_EQ(parsed.parameter_overrides.size(), 2u);
  EXPECT_EQ(parsed.parameter_overrides[0].node, "/**");
  EXPECT_EQ(parsed.parameter_overrides[0].name, "joy_topic");
  EXPECT_EQ(parsed.parameter_overrides[1].node, "teleop");
  EXPECT_EQ(parsed.parameter_overrides[1].name, "gains.linear");
  EXPECT_EQ(parsed.parameter_overrides[1].value, rclcpp::ParameterValue(2.0));
}

TEST(CommandLine, ProgramArgumentsAreKeptAndDoubleDashEndsRosArguments) {
  const ParsedArguments parsed = parseCommandLine(
      {"--verbose", "--ros-args", "-p", "a:=1", "--", "-p", "b", "--ros-args", "-r", "x:=y"});
  EXPECT_EQ(
      parsed.unparsed_arguments, (std::vector<std::string>{"program", "--verbose", "-p", "b"}));
  ASSERT_EQ(parsed.parameter_overrides.size(), 1u);
  EXPECT_EQ(parsed.parameter_overrides[0].name, "a");
  ASSERT_EQ(parsed.remaps.size(), 1u);
  EXPECT_EQ(parsed.remaps[0].from, "x");
}

TEST(CommandLine, BareRemapOutsideRosArgumentsIsStillARemap) {
  const ParsedArguments parsed = parseCommandLine({"joy:=gamepad", "plain"});
  ASSERT_EQ(parsed.remaps.size(), 1u);
  EXPECT_EQ(parsed.remaps[0].to, "gamepad");
  EXPECT_EQ(parsed.unparsed_arguments, (std::vector<std::string>{"program", "plain"}));
}

TEST(CommandLine, LoggingAndEnclaveFlagsAreAcceptedAndIgnored) {
  const ParsedArguments parsed = parseCommandLine(
      {"--ros-args", "--log-level", "debug", "--log-level", "teleop:=WARN", "--disable-stdout-logs",
       "--enable-rosout-logs", "--log-config-file", "log.cfg", "-e", "/enclave"});
  EXPECT_TRUE(parsed.remaps.empty());
  EXPECT_TRUE(parsed.parameter_overrides.empty());
  EXPECT_EQ(parsed.unparsed_arguments, (std::vector<std::string>{"program"}));
}

TEST(CommandLine, MalformedRulesRaiseAnErrorNamingTheArgument) {
  const std::vector<std::vector<std::string>> malformed = {
      {"-p", "scale"},
      {"-p", "scale:="},
      {"-p", "scale:=[1.0, 2]"},
      {"-p", "scale:={a: 1}"},
      {"-p", "*:=1"},
      {"--param", "9lives:=1"},
      {"-r", "joy"},
      {"-r", "joy:=pad:=x"},
      {"-r", "joy:=/pad/"},
      {"-r", "/a/*:=b"},
      {"-r", "a:=\\1"},
      {"--remap", "__ns:=relative"},
      {"-r", "__node:=/absolute"},
      {"-r", "my__topic:=x"},
      {"--params-file", "/nonexistent/params.yaml"},
      {"--log-level", "loud"},
  };
  for (const auto & rule : malformed) {
    const std::string message = errorOf<RCLInvalidROSArgsError>({"--ros-args", rule[0], rule[1]});
    EXPECT_EQ(message.rfind("failed to initialize rcl: ", 0), 0u) << message;
    EXPECT_NE(message.find("'" + rule[0] + " " + rule[1] + "'"), std::string::npos) << message;
  }
}

TEST(CommandLine, FlagWithoutItsValueRaisesAnErrorNamingTheFlag) {
  for (const std::string flag :
       {"-p", "--param", "-r", "--remap", "--params-file", "--log-level"}) {
    const std::string message = errorOf<RCLInvalidROSArgsError>({"--ros-args", flag});
    EXPECT_NE(message.find("trailing " + flag + " flag"), std::string::npos) << message;
  }
}

TEST(CommandLine, UnknownFlagsInsideRosArgumentsAreListedTogether) {
  EXPECT_EQ(
      errorOf<UnknownROSArgsError>({"--ros-args", "--foo", "-p", "a:=1", "bar", "--", "--baz"}),
      "found unknown ROS arguments: '--foo', 'bar'");
}

TEST(CommandLine, MalformedRuleWinsOverUnknownFlags) {
  // rcl stops at the first malformed rule; unknown flags are only reported after a clean parse.
  EXPECT_NE(
      errorOf<RCLInvalidROSArgsError>({"--ros-args", "--foo", "-r", "bad"}).find("'-r bad'"),
      std::string::npos);
}

}  // namespace
}  // namespace ros2_layer::test
