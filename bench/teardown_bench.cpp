// How long the node takes to end after SIGINT or SIGTERM, in device mode in each state of its
// joystick reader, next to topic mode, where no reader runs. The difference is what the
// reader's stop adds; the rest is the process's own teardown (DDS entities, the participant).
//
// Run: build/default/bench/teardown_bench [runs per case, default 5]
// Each figure is signal-to-exit wall time as the parent sees it (waitpid), median and worst.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "joystick_rig.hpp"
#include "teleop_process.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using tavrin_test::ChildProcess;

enum class Case { kTopicMode, kRetryWait, kConnected, kSilentDevice, kReopenWait };

const char * describe(Case state) {
  switch (state) {
    case Case::kTopicMode:
      return "topic mode (no reader)";
    case Case::kRetryWait:
      return "device missing (retry wait)";
    case Case::kConnected:
      return "device connected";
    case Case::kSilentDevice:
      return "FIFO without writer";
    case Case::kReopenWait:
      return "device ended (reopen wait)";
  }
  return "";
}

/// Starts the node in `state` and returns it once the state is reached.
std::unique_ptr<ChildProcess> nodeIn(Case state, tavrin_test::JoystickStandIn & device) {
  if (state == Case::kTopicMode) {
    auto node = std::make_unique<tavrin_test::TeleopProcess>(
        std::vector<std::string>{"-p", "joy_dev:=/joy"});
    node->waitForStartup();
    std::this_thread::sleep_for(300ms);  // spinning: the last startup line comes before it
    return node;
  }
  if (state == Case::kConnected) {
    device.plugTerminal();
  } else if (state == Case::kSilentDevice) {
    device.plugFifo();
  } else if (state == Case::kReopenWait) {
    device.plugFile("/dev/null");
  }
  auto node = std::make_unique<tavrin_test::DeviceNode>(device);
  node->waitForOutput(state == Case::kRetryWait ? "open failed" : "joyOpen");
  if (state == Case::kConnected || state == Case::kSilentDevice) {
    std::this_thread::sleep_for(300ms);
  }
  return node;
}

double millisecondsToExit(ChildProcess & node, int signal_number) {
  const auto signalled = Clock::now();
  node.sendSignal(signal_number);
  node.waitForExit(20s);
  return std::chrono::duration<double, std::milli>(Clock::now() - signalled).count();
}

}  // namespace

int main(int argc, char ** argv) {
  setenv("ROS_LOCALHOST_ONLY", "1", 1);
  setenv("ROS_DOMAIN_ID", "228", 0);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  std::printf("%-30s %-8s %10s %10s\n", "reader state", "signal", "median ms", "worst ms");
  for (const Case state :
       {Case::kTopicMode, Case::kRetryWait, Case::kConnected, Case::kSilentDevice,
        Case::kReopenWait}) {
    for (const int signal_number : {SIGINT, SIGTERM}) {
      std::vector<double> times;
      for (int run = 0; run < runs; ++run) {
        tavrin_test::JoystickStandIn device;
        auto node = nodeIn(state, device);
        times.push_back(millisecondsToExit(*node, signal_number));
      }
      std::sort(times.begin(), times.end());
      std::printf(
          "%-30s %-8s %10.1f %10.1f\n", describe(state),
          signal_number == SIGINT ? "SIGINT" : "SIGTERM", times[times.size() / 2], times.back());
    }
  }
  return 0;
}
