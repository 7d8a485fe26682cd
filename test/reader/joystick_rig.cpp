#include "joystick_rig.hpp"

#include <thread>

namespace tavrin_test {

using namespace std::chrono_literals;

DeviceNode::DeviceNode(
    const JoystickStandIn & device, const std::vector<std::string> & ros_arguments,
    const std::string & device_path, const std::vector<std::string> & launcher,
    const std::vector<std::string> & environment)
    : ChildProcess(
          joined(
              launcher, tavrin_tools::deviceNodeCommand(
                            device, TAVRIN_NODE_EXECUTABLE, ros_arguments, device_path)),
          tavrin_tools::nodeLogEnvironment(environment)) {}

void PrivateDevicesOrSkip::SetUp() {
  if (!whyNoPrivateDevices().empty()) {
    GTEST_SKIP() << whyNoPrivateDevices();
  }
}

const std::string & whyNoPrivateDevices() {
  // The node's own command line, with a program that only ends for the node.
  static const std::string why = [] {
    std::string failure;
    try {
      JoystickStandIn device;
      ChildProcess probe(tavrin_tools::deviceNodeCommand(device, "true"));
      const auto status = probe.waitForExit();
      if (!status || *status != 0) {
        failure = probe.output();
      }
    } catch (const std::exception & error) {
      failure = error.what();
    }
    failure.erase(failure.find_last_not_of('\n') + 1);
    return failure.empty() ? failure : "no private /dev/input here: " + failure;
  }();
  return why;
}

bool waitForNode(RobotPeer & peer) {
  const bool matched = peer.waitForMotionPublisher();
  std::this_thread::sleep_for(500ms);
  return matched;
}

std::optional<size_t> waitForTwist(
    const RobotPeer & peer, size_t from,
    const std::function<bool(const geometry_msgs::msg::Twist &)> & match,
    std::chrono::milliseconds timeout) {
  std::optional<size_t> found;
  waitUntil(
      [&] {
        const auto twists = peer.twists();
        for (; from < twists.size() && !found; ++from) {
          if (match(twists[from])) {
            found = from;
          }
        }
        return found.has_value();
      },
      timeout);
  return found;
}

}  // namespace tavrin_test
