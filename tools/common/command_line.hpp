// The tools' command lines: their own options, ROS arguments, and a program to start after "--".
#pragma once

#include <string>
#include <vector>

namespace tavrin_tools {

/// A tool's command line taken apart.
struct CommandLine {
  /// The tool's own arguments, argv[0] first, without ROS argument sections.
  std::vector<std::string> options;
  /// argv up to the "--" that starts `program`: what rclcpp::init should see.
  std::vector<char *> ros_argv;
  /// The program to start and its arguments, after a "--" outside any --ros-args section.
  std::vector<std::string> program;
};

/// Splits argv: "--ros-args ... [--]" sections go to rclcpp only, a later "--" starts `program`.
CommandLine splitCommandLine(int argc, char ** argv);

/// Value of the option at `index` ("--name VALUE"); throws std::invalid_argument naming the
/// option when the value is missing.
const std::string & optionValue(const std::vector<std::string> & options, size_t & index);

}  // namespace tavrin_tools
