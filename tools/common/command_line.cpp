#include "command_line.hpp"

#include <stdexcept>
#include <string_view>

namespace tavrin_tools {

CommandLine splitCommandLine(int argc, char ** argv) {
  CommandLine line;
  bool in_ros_arguments = false;
  int index = 0;
  for (; index < argc; ++index) {
    const std::string_view argument = argv[index];
    if (argument == "--ros-args") {
      in_ros_arguments = true;
    } else if (argument == "--") {
      if (!in_ros_arguments) {
        break;
      }
      in_ros_arguments = false;
    } else if (!in_ros_arguments) {
      line.options.emplace_back(argument);
    }
    line.ros_argv.push_back(argv[index]);
  }
  for (++index; index < argc; ++index) {
    line.program.emplace_back(argv[index]);
  }
  return line;
}

const std::string & optionValue(const std::vector<std::string> & options, size_t & index) {
  if (index + 1 >= options.size()) {
    throw std::invalid_argument(options[index] + " needs a value");
  }
  return options[++index];
}

}  // namespace tavrin_tools
