#include "teleop_process.hpp"

#include <algorithm>
#include <iostream>
#include <regex>
#include <utility>

#include "joystick_stand_in.hpp"

namespace tavrin_test {

std::vector<std::string> joined(
    std::vector<std::string> first, const std::vector<std::string> & then) {
  first.insert(first.end(), then.begin(), then.end());
  return first;
}

TeleopProcess::TeleopProcess(
    const std::vector<std::string> & ros_arguments, const std::vector<std::string> & environment)
    : ChildProcess(
          joined({TAVRIN_NODE_EXECUTABLE, "--ros-args"}, ros_arguments),
          tavrin_tools::nodeLogEnvironment(environment)) {}

bool TeleopProcess::waitForStartup(std::chrono::milliseconds timeout) {
  return waitForOutput("[INFO] Joy buttons remap7: ", timeout);
}

void JoyTopicTest::start(const PeerOptions & servers, std::vector<std::string> ros_arguments) {
  peer_ = std::make_unique<RobotPeer>(servers);
  ros_arguments.insert(ros_arguments.begin(), {"-p", "joy_dev:=/joy"});
  node_ = std::make_unique<TeleopProcess>(ros_arguments);
  ASSERT_TRUE(node_->waitForStartup());
  ASSERT_TRUE(peer_->waitForTeleopNode());
}

void JoyTopicTest::TearDown() {
  if (node_) {
    EXPECT_TRUE(node_->interruptAndExitCleanly());
    if (HasFailure()) {
      std::cerr << "node output:\n" << node_->output();
    }
  }
  node_.reset();
  peer_.reset();
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

std::vector<std::string> firstBodies(const ChildProcess & node, size_t count) {
  auto bodies = logBodies(node.lines());
  bodies.resize(std::min(bodies.size(), count));
  return bodies;
}

std::vector<std::string> startupLines(
    const std::string & joy_dev, const std::vector<int> & axes, const std::vector<int> & buttons) {
  std::vector<std::string> lines{
      "joy_dev: " + joy_dev + ", arm_task_center_action: /tavrinpro_action/arm_task"};
  for (size_t i = 0; i < axes.size(); ++i) {
    lines.push_back("Joy axes remap" + std::to_string(i) + ": " + std::to_string(axes[i]));
  }
  for (size_t i = 0; i < buttons.size(); ++i) {
    lines.push_back("Joy buttons remap" + std::to_string(i) + ": " + std::to_string(buttons[i]));
  }
  return lines;
}

}  // namespace tavrin_test
