#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "command_line.hpp"
#include "rclcpp/exceptions.hpp"

namespace ros2_layer::test {
namespace {

using Overrides = std::map<std::string, rclcpp::ParameterValue>;

/// A scratch directory for params files, removed with the test.
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

  std::filesystem::path directory_;
};

const char * const kTeleopParams = R"(
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
)";

TEST_F(ParamsFile, NodeKeysSelectTheParametersOfEachNode) {
  const std::string path = write("teleop.yaml", kTeleopParams);
  const auto overrides =
      parseCommandLine({"--ros-args", "--params-file", path}).parameter_overrides;

  EXPECT_EQ(
      parameterOverridesFor(overrides, "/teleop"),
      (Overrides{
          {"scale", rclcpp::ParameterValue(0.5)},
          {"axes", rclcpp::ParameterValue(std::vector<int64_t>{1, 2})},
          {"joy_topic", rclcpp::ParameterValue("/joy")},
          {"frame", rclcpp::ParameterValue("3")},
          {"gains.linear", rclcpp::ParameterValue(2.0)},
          {"gains.angular.yaw", rclcpp::ParameterValue(int64_t{1})},
          {"use_sim_time", rclcpp::ParameterValue(true)},
      }));
  EXPECT_EQ(
      parameterOverridesFor(overrides, "/robot/arm_driver"),
      (Overrides{
          {"arm_id", rclcpp::ParameterValue(int64_t{3})},
          {"use_sim_time", rclcpp::ParameterValue(true)}}));
  EXPECT_EQ(
      parameterOverridesFor(overrides, "/robot/gripper").at("arm_id"),
      rclcpp::ParameterValue(int64_t{4}));
  EXPECT_EQ(
      parameterOverridesFor(overrides, "/other"),
      (Overrides{{"use_sim_time", rclcpp::ParameterValue(true)}}));
}

TEST_F(ParamsFile, SingleLevelWildcardMatchesOneName) {
  const std::string path = write("wild.yaml", R"(
/*:
  ros__parameters:
    top: 1
/robot/*:
  ros__parameters:
    in_robot: 2
)");
  const auto overrides =
      parseCommandLine({"--ros-args", "--params-file", path}).parameter_overrides;
  EXPECT_EQ(parameterOverridesFor(overrides, "/teleop").count("top"), 1u);
  EXPECT_EQ(parameterOverridesFor(overrides, "/robot/teleop").count("top"), 0u);
  EXPECT_EQ(parameterOverridesFor(overrides, "/robot/teleop").count("in_robot"), 1u);
  EXPECT_EQ(parameterOverridesFor(overrides, "/robot/arm/teleop").count("in_robot"), 0u);
}

TEST_F(ParamsFile, LaterValuesForTheSameNodeKeyWin) {
  const std::string first = write("first.yaml", "teleop:\n  ros__parameters:\n    scale: 0.5\n");
  const std::string second = write("second.yaml", "teleop:\n  ros__parameters:\n    scale: 0.8\n");
  const auto overrides =
      parseCommandLine({"--ros-args", "--params-file", first, "--params-file", second})
          .parameter_overrides;
  EXPECT_EQ(parameterOverridesFor(overrides, "/teleop").at("scale"), rclcpp::ParameterValue(0.8));
}

TEST_F(ParamsFile, NodeKeysThatAppearLaterWinOverEarlierKeys) {
  // As rcl merges overrides: per node key, keys ordered by first appearance.
  const std::string path = write("teleop.yaml", "teleop:\n  ros__parameters:\n    scale: 0.5\n");
  const auto file_then_flag =
      parseCommandLine({"--ros-args", "--params-file", path, "-p", "scale:=0.9"});
  EXPECT_EQ(
      parameterOverridesFor(file_then_flag.parameter_overrides, "/teleop").at("scale"),
      rclcpp::ParameterValue(0.9));
  const auto flag_then_file =
      parseCommandLine({"--ros-args", "-p", "scale:=0.9", "--params-file", path});
  EXPECT_EQ(
      parameterOverridesFor(flag_then_file.parameter_overrides, "/teleop").at("scale"),
      rclcpp::ParameterValue(0.5));
}

TEST_F(ParamsFile, MalformedFilesRaiseAnErrorNamingTheFile) {
  const std::vector<std::string> malformed = {
      "teleop: [unclosed\n",
      "teleop: 3\n",
      "ros__parameters:\n  scale: 1\n",
      "teleop:\n  ros__parameters:\n    axes: [1.0, 2]\n",
      "teleop:\n  ros__parameters:\n    scale:\n",
      "teleop:\n  ros__parameters:\n    axes: []\n",
      "bad-name:\n  ros__parameters:\n    scale: 1\n",
      "teleop:\n  ros__parameters: 3\n",
  };
  for (size_t index = 0; index < malformed.size(); ++index) {
    const std::string path = write("bad" + std::to_string(index) + ".yaml", malformed[index]);
    const std::string message =
        errorOf<rclcpp::exceptions::RCLInvalidROSArgsError>({"--ros-args", "--params-file", path});
    EXPECT_NE(message.find("'--params-file " + path + "'"), std::string::npos)
        << malformed[index] << " gave: " << message;
  }
}

}  // namespace
}  // namespace ros2_layer::test
