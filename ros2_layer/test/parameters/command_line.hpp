// Builds argv arrays for the command-line tests.
#pragma once

#include <string>
#include <vector>

#include "arguments.hpp"

namespace ros2_layer::test {

/// Parses "program" followed by the given arguments.
inline ParsedArguments parseCommandLine(const std::vector<std::string> & arguments) {
  std::vector<const char *> argv = {"program"};
  for (const std::string & argument : arguments) {
    argv.push_back(argument.c_str());
  }
  return parseArguments(static_cast<int>(argv.size()), argv.data());
}

/// The what() of the exception E that parsing raises; fails the test if there is none.
template <typename E>
std::string errorOf(const std::vector<std::string> & arguments) {
  try {
    parseCommandLine(arguments);
  } catch (const E & error) {
    return error.what();
  }
  return "<no exception>";
}

}  // namespace ros2_layer::test
