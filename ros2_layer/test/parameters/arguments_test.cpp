// The command line as rcl reads it: parameter rules and their YAML typing, params files,
// remapping rules, and the errors that name what is wrong.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "arguments.hpp"
#include "rclcpp/exceptions.hpp"

namespace ros2_layer::test {
namespace {

using rclcpp::ParameterValue;
using rclcpp::exceptions::RCLInvalidROSArgsError;
using Overrides = std::map<std::string, ParameterValue>;
using Arguments = std::vector<std::string>;

/// Parses "program" followed by the given arguments.
ParsedArguments parse(const Arguments & arguments) {
  std::vector<const char *> argv = {"program"};
  for (const std::string & argument : arguments) {
    argv.push_back(argument.c_str());
  }
  return parseArguments(static_cast<int>(argv.size()), argv.data());
}

/// The what() of the exception E that parsing raises.
template <typename E = RCLInvalidROSArgsError>
std::string errorOf(const Arguments & arguments) {
  try {
    parse(arguments);
  } catch (const E & error) {
    return error.what();
  }
  return "<no exception>";
}

TEST(CommandLine, ParameterValuesAreTypedAsRclTypesYaml) {
  for (const auto & [text, value] : std::vector<std::pair<std::string, ParameterValue>>{
           {"0.3", ParameterValue(0.3)},
           {"3", ParameterValue(int64_t{3})},
           {"-7", ParameterValue(int64_t{-7})},
           {"0x10", ParameterValue(int64_t{16})},
           {"1e3", ParameterValue(1000.0)},
           {"true", ParameterValue(true)},
           {"off", ParameterValue(false)},
           {"/joy", ParameterValue("/joy")},
           {"'3'", ParameterValue("3")},
           {"\"true\"", ParameterValue("true")},
           {"~", ParameterValue("~")},
           {"[1, 2]", ParameterValue(std::vector<int64_t>{1, 2})},
           {"[1.0, 2.5]", ParameterValue(std::vector<double>{1.0, 2.5})},
           {"[true, no]", ParameterValue(std::vector<bool>{true, false})},
           {"['a', b]", ParameterValue(std::vector<std::string>{"a", "b"})},
       }) {
    const auto overrides = parse({"--ros-args", "-p", "a:=" + text}).parameter_overrides;
    ASSERT_EQ(overrides.size(), 1u) << text;
    EXPECT_EQ(overrides[0].value, value) << text;
  }
  EXPECT_TRUE(std::isinf(
      parse({"--ros-args", "-p", "a:=-.inf"}).parameter_overrides.at(0).value.get<double>()));
}

TEST(CommandLine, RulesKeepTheirNodePrefixAndProgramArgumentsAreKept) {
  const ParsedArguments parsed = parse(
      {"--verbose", "--ros-args", "-p", "joy_topic:=/joy", "--param", "teleop:g.l:=2.0", "--", "-p",
       "b", "--ros-args", "-r", "x:=y", "--", "joy:=gamepad", "plain"});
  ASSERT_EQ(parsed.parameter_overrides.size(), 2u);
  EXPECT_EQ(parsed.parameter_overrides[0].node, "/**");
  EXPECT_EQ(parsed.parameter_overrides[0].name, "joy_topic");
  EXPECT_EQ(parsed.parameter_overrides[1].node, "teleop");
  EXPECT_EQ(parsed.parameter_overrides[1].name, "g.l");
  EXPECT_EQ(parsed.parameter_overrides[1].value, ParameterValue(2.0));
  // A bare remap outside the ROS arguments is still a remap.
  ASSERT_EQ(parsed.remaps.size(), 2u);
  EXPECT_EQ(parsed.remaps[0].from, "x");
  EXPECT_EQ(parsed.remaps[1].to, "gamepad");
  EXPECT_EQ(parsed.unparsed_arguments, (Arguments{"program", "--verbose", "-p", "b", "plain"}));

  const ParsedArguments ignored = parse(
      {"--ros-args", "--log-level", "debug", "--log-level", "teleop:=WARN", "--disable-stdout-logs",
       "--enable-rosout-logs", "--log-config-file", "log.cfg", "-e", "/enclave"});
  EXPECT_TRUE(ignored.remaps.empty());
  EXPECT_TRUE(ignored.parameter_overrides.empty());
  EXPECT_EQ(ignored.unparsed_arguments, (Arguments{"program"}));
}

TEST(CommandLine, MalformedRulesAndFlagsRaiseAnErrorNamingThem) {
  for (const auto & [flag, rule] : std::vector<std::pair<std::string, std::string>>{
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
           {"--log-level", "loud"},
           {"--params-file", "/nonexistent/params.yaml"},
       }) {
    const std::string message = errorOf({"--ros-args", flag, rule});
    EXPECT_EQ(message.rfind("failed to initialize rcl: ", 0), 0u) << message;
    EXPECT_NE(message.find("'" + flag + " " + rule + "'"), std::string::npos) << message;
  }
  for (const std::string flag :
       {"-p", "--param", "-r", "--remap", "--params-file", "--log-level"}) {
    const std::string message = errorOf({"--ros-args", flag});
    EXPECT_NE(message.find("trailing " + flag + " flag"), std::string::npos) << message;
  }
  EXPECT_EQ(
      errorOf<rclcpp::exceptions::UnknownROSArgsError>(
          {"--ros-args", "--foo", "-p", "a:=1", "bar", "--", "--baz"}),
      "found unknown ROS arguments: '--foo', 'bar'");
  // rcl stops at the first malformed rule; unknown flags are only reported after a clean parse.
  EXPECT_NE(errorOf({"--ros-args", "--foo", "-r", "bad"}).find("'-r bad'"), std::string::npos);
}

TEST(Remapping, RulesMatchInOrderExpandAgainstTheNamespaceAndKeepToTheirNodeAndKind) {
  Arguments arguments = {"--ros-args"};
  for (const char * rule :
       {"joy:=/gamepad", "/joy:=/other", "rob:=pad", "~/state:=status", "/abs:=~/private",
        "driver:x:=/driver_x", "teleop:x:=/teleop_x", "rostopic://y:=/topic_y",
        "rosservice://y:=/service_y", "other:__node:=ignored", "teleop:__node:=driver",
        "__name:=fallback", "driver:__ns:=/arm", "__ns:=/elsewhere/"}) {
    arguments.insert(arguments.end(), {"-r", rule});
  }
  const auto rules = parse(arguments).remaps;
  struct Case {
    const char * name;
    const char * node;
    const char * ns;
    RemapTarget target;
    const char * expected;
  };
  for (const Case & c : std::vector<Case>{
           {"/joy", "teleop", "/", RemapTarget::topic, "/gamepad"},  // the first rule wins
           {"/cmd_vel", "teleop", "/", RemapTarget::topic, "/cmd_vel"},
           {"/robot/rob", "teleop", "/robot", RemapTarget::topic, "/robot/pad"},
           {"/rob", "teleop", "/robot", RemapTarget::topic, "/rob"},
           {"/robot/teleop/state", "teleop", "/robot", RemapTarget::topic, "/robot/status"},
           {"/abs", "teleop", "/", RemapTarget::topic, "/teleop/private"},
           {"/x", "teleop", "/", RemapTarget::topic, "/teleop_x"},
           {"/x", "driver", "/", RemapTarget::topic, "/driver_x"},
           {"/x", "other", "/", RemapTarget::topic, "/x"},
           {"/y", "teleop", "/", RemapTarget::topic, "/topic_y"},
           {"/y", "teleop", "/", RemapTarget::service, "/service_y"},
           {"/teleop", "teleop", "/", RemapTarget::topic, "/teleop"},
       }) {
    EXPECT_EQ(remapName(rules, c.name, c.node, c.ns, c.target), c.expected)
        << c.name << " in " << c.node;
  }
  EXPECT_EQ(remapNodeName(rules, "teleop"), "driver");
  EXPECT_EQ(remapNodeName(rules, "monitor"), "fallback");
  // The namespace rule is matched against the node's name after its own remapping.
  EXPECT_EQ(remapNamespace(rules, "driver", "/"), "/arm");
  EXPECT_EQ(remapNamespace(rules, "monitor", "/"), "/elsewhere/");
  EXPECT_EQ(remapNamespace({}, "teleop", "/robot"), "/robot");
}

/// Params files in a scratch directory, removed with the test.
class ParamsFile : public ::testing::Test {
protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "params_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  std::string write(const std::string & name, const std::string & text) {
    const std::string path = (directory_ / name).string();
    std::ofstream(path) << text;
    return path;
  }
  /// The overrides for `node` after parsing the ROS arguments.
  static Overrides overridesFor(const Arguments & ros_arguments, const std::string & node) {
    Arguments arguments = {"--ros-args"};
    arguments.insert(arguments.end(), ros_arguments.begin(), ros_arguments.end());
    return parameterOverridesFor(parse(arguments).parameter_overrides, node);
  }

  std::filesystem::path directory_;
};

TEST_F(ParamsFile, NodeKeysAndWildcardsSelectTheParametersOfEachNodeAndLaterValuesWin) {
  const std::string path = write("teleop.yaml", R"(
teleop:
  ros__parameters:
    scale: 0.5
    axes: [1, 2]
    joy_topic: /joy
    frame: "3"
    gains:
      linear: 2.0
      angular:
        yaw: 1
/**:
  ros__parameters:
    use_sim_time: true
/robot/arm_driver:
  ros__parameters:
    arm_id: 3
robot:
  gripper:
    ros__parameters:
      arm_id: 4
/*:
  ros__parameters:
    top: 1
/robot/*:
  ros__parameters:
    in_robot: 2
)");
  const ParameterValue yes(true);
  const ParameterValue one(int64_t{1});
  const ParameterValue two(int64_t{2});
  for (const auto & [node, expected] : std::vector<std::pair<std::string, Overrides>>{
           {"/teleop",
            {{"scale", ParameterValue(0.5)},
             {"axes", ParameterValue(std::vector<int64_t>{1, 2})},
             {"joy_topic", ParameterValue("/joy")},
             {"frame", ParameterValue("3")},
             {"gains.linear", ParameterValue(2.0)},
             {"gains.angular.yaw", one},
             {"use_sim_time", yes},
             {"top", one}}},
           {"/robot/arm_driver",
            {{"arm_id", ParameterValue(int64_t{3})}, {"use_sim_time", yes}, {"in_robot", two}}},
           {"/robot/gripper",
            {{"arm_id", ParameterValue(int64_t{4})}, {"use_sim_time", yes}, {"in_robot", two}}},
           {"/robot/arm/teleop", {{"use_sim_time", yes}}},
       }) {
    EXPECT_EQ(overridesFor({"--params-file", path}, node), expected) << node;
  }

  const std::string first = write("first.yaml", "teleop:\n  ros__parameters:\n    scale: 0.5\n");
  const std::string second = write("second.yaml", "teleop:\n  ros__parameters:\n    scale: 0.8\n");
  // As rcl merges overrides: per node key, keys ordered by first appearance.
  for (const auto & [arguments, scale] : std::vector<std::pair<Arguments, double>>{
           {{"--params-file", first, "--params-file", second}, 0.8},
           {{"--params-file", first, "-p", "scale:=0.9"}, 0.9},
           {{"-p", "scale:=0.9", "--params-file", first}, 0.5},
       }) {
    EXPECT_EQ(overridesFor(arguments, "/teleop").at("scale"), ParameterValue(scale));
  }
}

TEST_F(ParamsFile, MalformedFilesRaiseAnErrorNamingTheFile) {
  int index = 0;
  for (const char * malformed : {
           "teleop: [unclosed\n",
           "teleop: 3\n",
           "ros__parameters:\n  scale: 1\n",
           "teleop:\n  ros__parameters:\n    axes: [1.0, 2]\n",
           "teleop:\n  ros__parameters:\n    scale:\n",
           "teleop:\n  ros__parameters:\n    axes: []\n",
           "bad-name:\n  ros__parameters:\n    scale: 1\n",
           "teleop:\n  ros__parameters: 3\n",
       }) {
    const std::string path = write("bad" + std::to_string(index++) + ".yaml", malformed);
    const std::string message = errorOf({"--ros-args", "--params-file", path});
    EXPECT_NE(message.find("'--params-file " + path + "'"), std::string::npos)
        << malformed << " gave: " << message;
  }
}

}  // namespace
}  // namespace ros2_layer::test
