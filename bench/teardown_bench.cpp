// How long the node takes to end after SIGINT or SIGTERM, in device mode in each state of its
// joystick reader, next to topic mode, where no reader runs. The difference is what the
// reader's stop adds; the rest is the process's own teardown (DDS entities, the participant).
// Last, how long a component container takes to unload the node while a grab runs on the robot
// and an e-stop request waits for an answer that never comes.
//
// Run: build/default/bench/teardown_bench [runs per case, default 5; at least 20 for unloading]
// Each signal figure is signal-to-exit wall time as the parent sees it (waitpid), median and
// worst; the unload figure is the time the node's destruction takes once it is out of the
// container's executor, as the container's unload request has it.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "joystick_rig.hpp"
#include "rclcpp/rclcpp.hpp"
#include "robot_peer.hpp"
#include "tavrin_arm_teleop/teleop_node.hpp"
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

constexpr int kUnloadRuns = 20;

/// The node loaded into this process as a container loads it, left with a grab running and an
/// e-stop unanswered, then unloaded; the milliseconds its destruction took, or a negative
/// number when the requests never reached the robot.
double millisecondsToUnload() {
  tavrin_test::PeerOptions servers =
      tavrin_test::armTaskServer(tavrin_test::ArmTaskBehaviour::kRunForever);
  servers.estop = tavrin_test::EstopBehaviour::kSilent;
  tavrin_test::RobotPeer peer(servers);
  rclcpp::NodeOptions options;
  options.append_parameter_override("joy_dev", std::string("/joy"));
  auto node = std::make_shared<tavrin_arm_teleop::TeleopNode>(options);
  rclcpp::executors::SingleThreadedExecutor container;
  container.add_node(node);
  std::thread spinner([&] { container.spin(); });
  // Grab and e-stop pressed together, the stick held forward.
  const bool reached =
      peer.waitForTeleopNode() && peer.sendJoy({1, 0, 1, 0, 0, 1}, {0, 1, 0, 0, 1, 0, 0, 0}) &&
      tavrin_test::waitUntil([&] {
        return peer.receivedGoals().size() == 1 && peer.estopRequestValues().size() == 1;
      });
  container.remove_node(node);
  const auto unloading = Clock::now();
  node.reset();
  const double took = std::chrono::duration<double, std::milli>(Clock::now() - unloading).count();
  container.cancel();
  spinner.join();
  return reached ? took : -1.0;
}

}  // namespace

int main(int argc, char ** argv) {
  setenv("ROS_LOCALHOST_ONLY", "1", 1);
  setenv("ROS_DOMAIN_ID", "228", 0);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  rclcpp::init(argc, argv);
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
  // The node now runs in this process: its log would bury the table.
  setenv("SPDLOG_STDOUT", "false", 1);
  setenv("SPDLOG_SYSTEMD", "false", 1);
  setenv("SPDLOG_LEVEL", "info", 1);
  std::vector<double> times;
  int unreached = 0;
  for (int run = 0; run < std::max(runs, kUnloadRuns); ++run) {
    const double took = millisecondsToUnload();
    if (took < 0) {
      ++unreached;
    } else {
      times.push_back(took);
    }
  }
  std::sort(times.begin(), times.end());
  if (!times.empty()) {
    std::printf(
        "%-30s %-8s %10.1f %10.1f   (%zu runs; goal under 200 ms)\n", "mid-grab, e-stop unanswered",
        "unload", times[times.size() / 2], times.back(), times.size());
  }
  if (unreached > 0) {
    std::printf(
        "%d unload runs left out: the grab or the e-stop never reached the robot\n", unreached);
  }
  rclcpp::shutdown();
  return 0;
}
