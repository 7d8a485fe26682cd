// CPU time a running grab task adds to the node: the node spins on "/joy" with nothing to do,
// first idle, then while its grab worker waits for a task that sends no feedback.
//
// Run: build/default/bench/grab_cpu_bench [seconds per window, default 10]
// The figure is the sum of the node's per-thread scheduler run times
// (/proc/<pid>/task/*/schedstat, nanoseconds) over each window, as a share of one core.
#include <dirent.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "rclcpp/rclcpp.hpp"
#include "robot_peer.hpp"
#include "teleop_process.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Nanoseconds that every thread of the process has spent on a CPU so far.
long long runTimeNs(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  long long total = 0;
  DIR * directory = ::opendir(tasks.c_str());
  if (directory == nullptr) {
    return 0;
  }
  while (const dirent * entry = ::readdir(directory)) {
    if (entry->d_name[0] == '.') {
      continue;
    }
    std::ifstream schedstat(tasks + "/" + entry->d_name + "/schedstat");
    long long on_cpu = 0;
    if (schedstat >> on_cpu) {
      total += on_cpu;
    }
  }
  ::closedir(directory);
  return total;
}

// Share of one core the process used over the next `window`, in percent.
double cpuShare(pid_t pid, std::chrono::seconds window) {
  const long long before = runTimeNs(pid);
  const auto started = Clock::now();
  std::this_thread::sleep_for(window);
  const long long used = runTimeNs(pid) - before;
  const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - started);
  return 100.0 * static_cast<double>(used) / static_cast<double>(elapsed.count());
}

}  // namespace

int main(int argc, char ** argv) {
  const std::chrono::seconds window(argc > 1 ? std::atoi(argv[1]) : 10);
  setenv("ROS_LOCALHOST_ONLY", "1", 1);
  setenv("ROS_DOMAIN_ID", "229", 0);
  rclcpp::init(argc, argv);
  {
    tavrin_test::RobotPeer peer(
        tavrin_test::armTaskServer(tavrin_test::ArmTaskBehaviour::kRunForever));
    tavrin_test::TeleopProcess node({"-p", "joy_dev:=/joy"}, {"SPDLOG_STDOUT=false"});
    if (!peer.waitForTeleopNode()) {
      std::fprintf(stderr, "the node did not come up\n");
      return 1;
    }
    std::this_thread::sleep_for(1s);
    const double idle = cpuShare(node.pid(), window);

    const std::vector<float> at_rest{0, 0, 1, 0, 0, 1};
    peer.sendJoy(at_rest, {0, 1, 0, 0, 0, 0, 0, 0});
    peer.sendJoy(at_rest, {0, 0, 0, 0, 0, 0, 0, 0});
    if (!tavrin_test::waitUntil([&] { return !peer.receivedGoals().empty(); })) {
      std::fprintf(stderr, "the grab goal did not arrive\n");
      return 1;
    }
    std::this_thread::sleep_for(1s);
    const double running = cpuShare(node.pid(), window);

    std::printf(
        "node CPU over %lld s windows, share of one core\n",
        static_cast<long long>(window.count()));
    std::printf("  idle:                %.4f %%\n", idle);
    std::printf("  grab task running:   %.4f %%\n", running);
    std::printf("  added by the task:   %.4f %% (target < 0.1 %%)\n", running - idle);
  }
  rclcpp::shutdown();
  return 0;
}
