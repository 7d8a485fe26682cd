#include "teleop_process.hpp"

#include <signal.h>
#include <sys/wait.h>

#include <regex>
#include <utility>

namespace tavrin_test {

namespace {

std::vector<std::string> nodeCommandLine(const std::vector<std::string> & ros_arguments) {
  std::vector<std::string> argv{TAVRIN_NODE_EXECUTABLE};
  if (!ros_arguments.empty()) {
    argv.push_back("--ros-args");
    argv.insert(argv.end(), ros_arguments.begin(), ros_arguments.end());
  }
  return argv;
}

std::vector<std::string> nodeEnvironment(const std::vector<std::string> & environment) {
  std::vector<std::string> merged{
      "SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=false", "SPDLOG_LEVEL=info"};
  merged.insert(merged.end(), environment.begin(), environment.end());
  return merged;
}

}  // namespace

TeleopProcess::TeleopProcess(
    const std::vector<std::string> & ros_arguments, const std::vector<std::string> & environment)
    : ChildProcess(nodeCommandLine(ros_arguments), nodeEnvironment(environment)) {}

bool TeleopProcess::waitForStartup(std::chrono::milliseconds timeout) {
  return waitForOutput("[INFO] Joy buttons remap7: ", timeout);
}

bool TeleopProcess::interruptAndExitCleanly(std::chrono::milliseconds timeout) {
  sendSignal(SIGINT);
  const auto status = waitForExit(timeout);
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

std::vector<std::string> ownLines(const ChildProcess & process) {
  // Cyclone DDS prefixes its lines with a timestamp and the domain: "1796607222.72 [204] ...".
  static const std::regex kMiddlewareLine(R"(^[0-9]+\.[0-9]+ \[[0-9]+\] .*)");
  std::vector<std::string> lines;
  for (auto & line : process.lines()) {
    if (!std::regex_match(line, kMiddlewareLine)) {
      lines.push_back(std::move(line));
    }
  }
  return lines;
}

std::vector<std::string> logBodies(const std::vector<std::string> & lines) {
  static const std::string kTag = " [INFO] ";
  std::vector<std::string> bodies;
  for (const auto & line : lines) {
    const auto at = line.find(kTag);
    if (at == 3) {
      bodies.push_back(line.substr(at + kTag.size()));
    }
  }
  return bodies;
}

}  // namespace tavrin_test
