// CPU time the node uses while a connected controller sits idle: the reader hands the
// unchanged state over every 10 ms and each hand-over publishes one motion command.
//
// Run: build/default/bench/reader_idle_cpu_bench [seconds, default 10]
// The figure is utime + stime of the node process from /proc/<pid>/stat over the window, as a
// share of one core; the per-thread scheduler run times (/proc/<pid>/task/*/schedstat) show
// where it goes at nanosecond resolution. Then, over a window of the same length, the floor:
// a process that does only what a hand-over cannot avoid, waiting 10 ms in select on an idle
// pseudo-terminal and writing one raw Cyclone DDS sample, a hundred times a second.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "device_node.hpp"
#include "geometry_msgs/msg/twist.hpp"
#include "raw_dds.hpp"
#include "rclcpp/rclcpp.hpp"

extern char ** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct ThreadTimes {
  std::string name;
  long ticks = 0;        // utime + stime in clock ticks
  long long run_ns = 0;  // time on a CPU as the scheduler counts it
};

std::string readFile(const std::string & path) {
  std::ifstream file(path);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// utime and stime are fields 14 and 15; the name in parentheses may hold spaces.
long statTicks(const std::string & stat) {
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  long utime = 0;
  long stime = 0;
  for (int index = 3; fields >> field; ++index) {
    if (index == 14) {
      utime = std::stol(field);
    } else if (index == 15) {
      stime = std::stol(field);
      break;
    }
  }
  return utime + stime;
}

long processTicks(pid_t pid) {
  return statTicks(readFile("/proc/" + std::to_string(pid) + "/stat"));
}

std::map<int, ThreadTimes> threadTimes(pid_t pid) {
  std::map<int, ThreadTimes> threads;
  const std::string task_dir = "/proc/" + std::to_string(pid) + "/task/";
  for (const auto & entry : std::filesystem::directory_iterator(task_dir)) {
    const std::string dir = entry.path().string();
    const std::string stat = readFile(dir + "/stat");
    if (stat.empty()) {
      continue;
    }
    ThreadTimes times;
    times.name = readFile(dir + "/comm");
    times.name.erase(times.name.find_last_not_of('\n') + 1);
    times.ticks = statTicks(stat);
    std::istringstream(readFile(dir + "/schedstat")) >> times.run_ns;
    threads[std::stoi(entry.path().filename().string())] = times;
  }
  return threads;
}

struct CpuUse {
  double share = 0.0;  // utime + stime over the window, of one core
  long ticks = 0;
  double seconds = 0.0;
  std::map<int, ThreadTimes> threads;  // run time within the window
};

// CPU time of `pid` over a window that starts now and lasts `seconds`.
CpuUse measureCpu(pid_t pid, int seconds) {
  const long ticks_before = processTicks(pid);
  const auto threads_before = threadTimes(pid);
  const auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  CpuUse use;
  use.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  use.ticks = processTicks(pid) - ticks_before;
  use.share = use.ticks / static_cast<double>(::sysconf(_SC_CLK_TCK)) / use.seconds;
  use.threads = threadTimes(pid);
  for (auto & [tid, times] : use.threads) {
    const auto before = threads_before.find(tid);
    times.run_ns -= before == threads_before.end() ? 0 : before->second.run_ns;
  }
  return use;
}

void printCpu(const char * what, const CpuUse & use, long events) {
  std::printf(
      "%s: %ld ticks = %.3f%% of one core over %.2f s (resolution %.2f%%)\n", what, use.ticks,
      100.0 * use.share, use.seconds,
      100.0 / static_cast<double>(::sysconf(_SC_CLK_TCK)) / use.seconds);
  long long total_ns = 0;
  for (const auto & [tid, times] : use.threads) {
    total_ns += times.run_ns;
    if (times.run_ns > 0) {
      std::printf(
          "  %-16s tid %-7d %8.3f%%  %7.1f us per hand-over\n", times.name.c_str(), tid,
          100.0 * times.run_ns / 1e9 / use.seconds, events > 0 ? times.run_ns / 1e3 / events : 0.0);
    }
  }
  std::printf(
      "  all threads (scheduler): %.3f%% of one core\n", 100.0 * total_ns / 1e9 / use.seconds);
}

constexpr int kRawDomain = 232;

// The floor: select on an idle terminal for 10 ms, then one raw DDS write, for ever.
int runFloor() {
  tavrin_bench::RawDomain dds(kRawDomain);
  const dds_entity_t writer = dds.createWriter();
  tavrin_bench::RawDomain::waitForReader(writer);
  tavrin_tools::JoystickStandIn idle;
  idle.plugTerminal();
  const int device = ::open(idle.linkPath().c_str(), O_RDONLY);
  for (uint32_t sequence = 0;; ++sequence) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(device, &readable);
    timeval timeout{0, 10000};
    if (::select(device + 1, &readable, nullptr, nullptr, &timeout) == 0) {
      const tavrin_bench::Ping ping{tavrin_bench::monotonicNs(), sequence};
      dds_write(writer, &ping);
    }
  }
}

// Runs the floor process next to a reader that takes its samples; returns its CPU use.
CpuUse measureFloor(int seconds, long & samples) {
  tavrin_bench::RawDomain dds(kRawDomain);
  const dds_entity_t reader = dds.createReader();
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  std::vector<char *> argv{
      const_cast<char *>(self.c_str()), const_cast<char *>("--floor"), nullptr};
  pid_t pid = -1;
  if (::posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    return {};
  }
  std::atomic<bool> stop{false};
  std::atomic<long> taken{0};
  std::thread taker([&] {
    tavrin_bench::Ping ping{};
    void * buffers[1] = {&ping};
    dds_sample_info_t info{};
    while (!stop) {
      while (dds_take(reader, buffers, &info, 1, 1) > 0) {
        ++taken;
      }
      std::this_thread::sleep_for(20ms);
    }
  });
  std::this_thread::sleep_for(3s);  // past start-up and discovery
  const long taken_before = taken;
  const CpuUse use = measureCpu(pid, seconds);
  samples = taken - taken_before;
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  stop = true;
  taker.join();
  return use;
}

}  // namespace

int main(int argc, char ** argv) {
  if (argc > 1 && std::string(argv[1]) == "--floor") {
    return runFloor();
  }
  const int seconds = argc > 1 ? std::stoi(argv[1]) : 10;
  tavrin_bench::useLoopbackDomain(232);
  rclcpp::init(argc, argv);
  tavrin_tools::JoystickStandIn controller;
  controller.plugTerminal(tavrin_tools::initialBurst(12, 8));
  tavrin_bench::DeviceNode node(controller, "/tmp/tavrin_bench_idle_cpu.log");

  auto listener = std::make_shared<rclcpp::Node>("idle_cpu_bench");
  std::atomic<long> twists{0};
  auto subscription = listener->create_subscription<geometry_msgs::msg::Twist>(
      "/robot/teleop_mov_topic", rclcpp::QoS(100),
      [&twists](std::shared_ptr<const geometry_msgs::msg::Twist>) { ++twists; });
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(listener);
  std::thread spinner([&executor] { executor.spin(); });

  const auto give_up = Clock::now() + 60s;
  while (twists < 200 && Clock::now() < give_up) {
    std::this_thread::sleep_for(50ms);
  }
  if (twists < 200) {
    std::fprintf(stderr, "no motion commands from the node; see /tmp/tavrin_bench_idle_cpu.log\n");
    executor.cancel();
    spinner.join();
    rclcpp::shutdown();
    return 1;
  }
  std::this_thread::sleep_for(2s);  // past start-up and discovery
  const long twists_before = twists;
  const CpuUse node_use = measureCpu(node.pid(), seconds);
  const long received = twists - twists_before;
  const int status = node.stop();
  executor.cancel();
  spinner.join();
  rclcpp::shutdown();

  long samples = 0;
  const CpuUse floor_use = measureFloor(seconds, samples);

  std::printf(
      "node: %ld motion commands received (%.1f/s)\n", received, received / node_use.seconds);
  printCpu("node CPU (utime+stime)", node_use, received);
  std::printf("floor: %ld raw samples received (%.1f/s)\n", samples, samples / floor_use.seconds);
  printCpu("floor CPU (utime+stime)", floor_use, samples);
  std::printf(
      "node / floor: %.2f; node target < 1%% of one core: %s\n",
      floor_use.share > 0 ? node_use.share / floor_use.share : 0.0,
      node_use.share < 0.01 ? "met" : "NOT met");
  std::printf("node exit status %d\n", status);
  return node_use.share < 0.01 ? 0 : 2;
}
