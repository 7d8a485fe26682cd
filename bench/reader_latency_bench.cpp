// Latency from a stick movement written into the controller device to the motion command it
// causes, received by a subscriber in another process, at axis windows of 0, 1 and 10 ms, beside
// the physical limit measured in the same run: the device hop alone plus the one-way latency of
// raw Cyclone DDS between two processes. A button press and the space selection it causes are
// measured too (with the default window; buttons never wait for it).
//
// Run (DDS on a private loopback):
//   unshare -n sh -c 'ip link set lo up && build/default/bench/reader_latency_bench [--busy] [N]'
// N events per path (default 400), in four rounds; --busy keeps two busy loops running for the
// whole run (a loaded machine). The load average is printed at the start and the end.
//
// Raw DDS: a child process writes samples stamped with CLOCK_MONOTONIC, this process takes them
// from a waitset and subtracts the stamp (same clock, same machine). Device hop: a write into a
// FIFO of this process, read by a thread waiting in poll, which is the part of the node's path
// that raw DDS does not have. Node: this process writes a full stick deflection, alternately
// one way and the other, into the stand-in device (a FIFO, which wakes its reader directly as a
// joystick device does) and waits for the command carrying it on "/robot/teleop_mov_topic";
// then it waits 2 to 6 ms so that events fall on every phase of the reader's 10 ms idle period.
// Each round measures every path in turn, a node started afresh for each window, so that a
// change of machine load weighs on all of them alike.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "device_node.hpp"
#include "geometry_msgs/msg/twist.hpp"
#include "raw_dds.hpp"
#include "rclcpp/rclcpp.hpp"
#include "std_msgs/msg/bool.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using tavrin_bench::monotonicNs;

constexpr int kNodeDomain = 231;
constexpr int kRawDomain = 232;
constexpr uint8_t kJointSpaceButton = 6;
constexpr int kRounds = 4;
constexpr int kWindowsMs[] = {0, 1, 10};
constexpr int kButtonWindowMs = 10;

// A pause of 2 to 6 ms between samples, the same sequence for every measurement.
class Pauses {
public:
  void next() { std::this_thread::sleep_for(std::chrono::microseconds(pause_us_(random_))); }

private:
  std::mt19937 random_{7};
  std::uniform_int_distribution<int> pause_us_{2000, 6000};
};

std::string loadAverage() {
  std::ifstream file("/proc/loadavg");
  std::string one, five, fifteen;
  file >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

int runRawWriter(int count) {
  tavrin_bench::RawDomain dds(kRawDomain);
  const dds_entity_t writer = dds.createWriter();
  tavrin_bench::RawDomain::waitForReader(writer);
  std::this_thread::sleep_for(500ms);
  Pauses pauses;
  for (int i = 0; i < count; ++i) {
    const tavrin_bench::Ping ping{monotonicNs(), static_cast<uint32_t>(i)};
    dds_write(writer, &ping);
    pauses.next();
  }
  std::this_thread::sleep_for(1s);
  return 0;
}

// Raw one-way latencies in microseconds, measured from a writer child process.
std::vector<double> measureRaw(int count) {
  tavrin_bench::RawDomain dds(kRawDomain);
  const dds_entity_t reader = dds.createReader();
  dds_set_status_mask(reader, DDS_DATA_AVAILABLE_STATUS);
  const dds_entity_t waitset = dds_create_waitset(DDS_CYCLONEDDS_HANDLE);
  dds_waitset_attach(waitset, reader, reader);
  const std::string command = std::filesystem::read_symlink("/proc/self/exe").string() +
                              " --raw-writer " + std::to_string(count);
  std::thread writer([command] { static_cast<void>(std::system(command.c_str())); });
  std::vector<double> latencies;
  const auto give_up = Clock::now() + 60s + std::chrono::milliseconds(10 * count);
  while (static_cast<int>(latencies.size()) < count && Clock::now() < give_up) {
    if (dds_waitset_wait(waitset, nullptr, 0, DDS_SECS(1)) <= 0) {
      continue;
    }
    tavrin_bench::Ping ping{};
    void * samples[1] = {&ping};
    dds_sample_info_t info{};
    while (dds_take(reader, samples, &info, 1, 1) > 0) {
      const int64_t received = monotonicNs();
      if (info.valid_data) {
        latencies.push_back((received - ping.sent_ns) / 1e3);
      }
    }
  }
  writer.join();
  dds_delete(waitset);
  return latencies;
}

// From a write into a FIFO to the moment a thread waiting in poll, as the node's reader does,
// has read the record.
std::vector<double> measureDeviceHop(int count) {
  char directory[] = "/tmp/tavrin_bench_hop_XXXXXX";
  if (::mkdtemp(directory) == nullptr) {
    return {};
  }
  const std::string fifo = std::string(directory) + "/fifo";
  ::mkfifo(fifo.c_str(), 0600);
  const int read_end = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  const int write_end = ::open(fifo.c_str(), O_WRONLY);
  ::fcntl(read_end, F_SETFL, ::fcntl(read_end, F_GETFL) & ~O_NONBLOCK);
  std::atomic<int64_t> read_ns{0};
  std::thread reader([&] {
    for (int i = 0; i < count; ++i) {
      pollfd readable{read_end, POLLIN, 0};
      const timespec timeout{1, 0};
      js_event event{};
      if (::ppoll(&readable, 1, &timeout, nullptr) > 0 &&
          ::read(read_end, &event, sizeof(event)) == sizeof(event)) {
        read_ns = monotonicNs();
      }
    }
  });
  std::vector<double> latencies;
  Pauses pauses;
  for (int i = 0; i < count; ++i) {
    read_ns = 0;
    const js_event event = tavrin_tools::joyEvent(JS_EVENT_BUTTON, kJointSpaceButton, 1);
    const int64_t written = monotonicNs();
    if (::write(write_end, &event, sizeof(event)) != sizeof(event)) {
      break;
    }
    // Sleeping, not spinning: a busy writer would keep the reader's CPU awake.
    pauses.next();
    while (read_ns == 0) {
      std::this_thread::sleep_for(1ms);
    }
    latencies.push_back((read_ns - written) / 1e3);
  }
  reader.join();
  ::close(write_end);
  ::close(read_end);
  ::unlink(fifo.c_str());
  ::rmdir(directory);
  return latencies;
}

// Receives the node's commands and tells when the awaited one arrived: a motion command with a
// given linear.x, or a space selection.
class Listener {
public:
  Listener() : node_(std::make_shared<rclcpp::Node>("reader_latency_bench")) {
    space_sub_ = node_->create_subscription<std_msgs::msg::Bool>(
        "/robot/teleop_space_exchange_topic", rclcpp::QoS(10),
        [this](std::shared_ptr<const std_msgs::msg::Bool>) { arrived(std::nullopt); });
    twist_sub_ = node_->create_subscription<geometry_msgs::msg::Twist>(
        "/robot/teleop_mov_topic", rclcpp::QoS(10),
        [this](std::shared_ptr<const geometry_msgs::msg::Twist> twist) {
          ++twists_;
          arrived(twist->linear.x);
        });
    executor_.add_node(node_);
    spinner_ = std::thread([this] { executor_.spin(); });
  }
  ~Listener() {
    executor_.cancel();
    spinner_.join();
  }

  // A node has started: true once it has sent commands for half a second.
  bool waitForNode() {
    const long before = twists_;
    const auto give_up = Clock::now() + 60s;
    while (twists_ - before < 50 && Clock::now() < give_up) {
      std::this_thread::sleep_for(20ms);
    }
    std::this_thread::sleep_for(300ms);
    return twists_ - before >= 50;
  }

  // Awaits a motion command with this linear.x, or with none a space selection.
  void expect(std::optional<double> linear_x) {
    std::lock_guard<std::mutex> lock(mutex_);
    awaited_linear_x_ = linear_x;
    received_.reset();
  }

  std::optional<Clock::time_point> await(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, timeout, [this] { return received_.has_value(); });
    return received_;
  }

private:
  // A motion command's linear.x, or none for a space selection.
  void arrived(std::optional<double> linear_x) {
    const auto now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    if (linear_x == awaited_linear_x_ && !received_) {
      received_ = now;
      changed_.notify_all();
    }
  }

  rclcpp::Node::SharedPtr node_;
  rclcpp::executors::SingleThreadedExecutor executor_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<double> awaited_linear_x_;
  std::optional<Clock::time_point> received_;
  std::atomic<long> twists_{0};
  rclcpp::Subscription<std_msgs::msg::Bool>::SharedPtr space_sub_;
  rclcpp::Subscription<geometry_msgs::msg::Twist>::SharedPtr twist_sub_;
  std::thread spinner_;
};

// Write-to-command latencies of one path, in microseconds, and the writes with no command.
struct Measured {
  std::vector<double> latencies;
  int lost = 0;
};

// The node with one axis window on a FIFO controller, and events measured through it.
class NodePath {
public:
  NodePath(Listener & listener, int window_ms)
      : listener_(listener)
      , controller_(pluggedFifo())
      , node_(
            *controller_, "/tmp/tavrin_bench_reader_latency.log", {},
            {"-p", "coalesce_interval_ms:=" + std::to_string(window_ms)}) {}

  bool start() {
    if (!listener_.waitForNode()) {
      return false;
    }
    controller_->openFifoWriter();
    controller_->send(tavrin_tools::initialBurst(12, 8));
    return true;
  }

  // Full deflections of the stick, one way and back: each changes linear.x between -1 and 1.
  void measureStick(int count, Measured & measured) {
    for (int i = 0; i < count; ++i) {
      const bool forward = i % 2 == 0;
      measure(
          {tavrin_tools::joyEvent(JS_EVENT_AXIS, 0, forward ? -32767 : 32767)},
          forward ? 1.0 : -1.0, measured);
      pauses_.next();
    }
  }

  // Joint-space presses, each released before the next.
  void measureButton(int count, Measured & measured) {
    for (int i = 0; i < count; ++i) {
      measure(
          {tavrin_tools::joyEvent(JS_EVENT_BUTTON, kJointSpaceButton, 1)}, std::nullopt, measured);
      controller_->send({tavrin_tools::joyEvent(JS_EVENT_BUTTON, kJointSpaceButton, 0)});
      pauses_.next();
    }
  }

private:
  void measure(
      const std::vector<js_event> & events, std::optional<double> linear_x, Measured & measured) {
    listener_.expect(linear_x);
    const auto written = Clock::now();
    controller_->send(events);
    const auto received = listener_.await(1s);
    if (received) {
      measured.latencies.push_back(
          std::chrono::duration<double, std::micro>(*received - written).count());
    } else {
      ++measured.lost;
    }
  }

  // A FIFO: a write wakes the reader directly, as a joystick device does.
  static std::unique_ptr<tavrin_tools::JoystickStandIn> pluggedFifo() {
    auto controller = std::make_unique<tavrin_tools::JoystickStandIn>();
    controller->plugFifo();
    return controller;
  }

  Listener & listener_;
  std::unique_ptr<tavrin_tools::JoystickStandIn> controller_;
  tavrin_bench::DeviceNode node_;
  Pauses pauses_;
};

double percentile(std::vector<double> values, double fraction) {
  if (values.empty()) {
    return 0.0;
  }
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(fraction * (values.size() - 1))];
}

void printRow(const std::string & what, const std::vector<double> & latencies, int lost = 0) {
  std::printf(
      "%-40s n=%5zu  median %8.1f us  p90 %8.1f us  p99 %8.1f us  min %7.1f us  lost %d\n",
      what.c_str(), latencies.size(), percentile(latencies, 0.5), percentile(latencies, 0.9),
      percentile(latencies, 0.99), percentile(latencies, 0.0), lost);
}

}  // namespace

int main(int argc, char ** argv) {
  if (argc > 2 && std::string(argv[1]) == "--raw-writer") {
    return runRawWriter(std::stoi(argv[2]));
  }
  int next_argument = 1;
  const bool busy = argc > next_argument && std::string(argv[next_argument]) == "--busy";
  next_argument += busy ? 1 : 0;
  const int events = argc > next_argument ? std::stoi(argv[next_argument]) : 400;
  const int per_round = std::max(events / kRounds, 1);
  tavrin_bench::useLoopbackDomain(kNodeDomain);
  rclcpp::init(argc, argv);
  // Two loops that never sleep, one for each core of the machine this was written on.
  std::vector<std::unique_ptr<tavrin_tools::ChildProcess>> busy_loops;
  for (int i = 0; busy && i < 2; ++i) {
    busy_loops.push_back(std::make_unique<tavrin_tools::ChildProcess>(
        std::vector<std::string>{"sh", "-c", "while :; do :; done"}));
  }
  std::printf(
      "%s machine%s; load average at start: %s\n", busy ? "loaded" : "unloaded",
      busy ? " (two busy loops)" : "", loadAverage().c_str());
  Measured raw;
  Measured hop;
  std::map<int, Measured> stick;
  Measured button;
  {
    Listener listener;
    // Rounds of each path in turn, so that a change of machine load weighs on all of them.
    for (int round = 0; round < kRounds; ++round) {
      const auto raw_round = measureRaw(per_round);
      raw.latencies.insert(raw.latencies.end(), raw_round.begin(), raw_round.end());
      raw.lost += per_round - static_cast<int>(raw_round.size());
      const auto hop_round = measureDeviceHop(per_round);
      hop.latencies.insert(hop.latencies.end(), hop_round.begin(), hop_round.end());
      for (const int window_ms : kWindowsMs) {
        NodePath node(listener, window_ms);
        if (!node.start()) {
          std::fprintf(stderr, "no motion commands; see /tmp/tavrin_bench_reader_latency.log\n");
          return 1;
        }
        node.measureStick(per_round, stick[window_ms]);
        if (window_ms == kButtonWindowMs) {
          node.measureButton(per_round, button);
        }
      }
      std::printf(
          "round %d of %d done, load average %s\n", round + 1, kRounds, loadAverage().c_str());
    }
  }
  rclcpp::shutdown();
  busy_loops.clear();

  std::printf("\n");
  printRow("raw Cyclone DDS one-way", raw.latencies, raw.lost);
  printRow("device hop (FIFO write -> poll, read)", hop.latencies);
  const double limit = percentile(hop.latencies, 0.5) + percentile(raw.latencies, 0.5);
  std::printf(
      "%-40s median %8.1f us  (p99 sum %.1f us)\n", "limit: device hop + raw DDS", limit,
      percentile(hop.latencies, 0.99) + percentile(raw.latencies, 0.99));
  for (const int window_ms : kWindowsMs) {
    printRow(
        "stick -> motion command, window " + std::to_string(window_ms) + " ms",
        stick[window_ms].latencies, stick[window_ms].lost);
  }
  printRow(
      "button -> space command, window " + std::to_string(kButtonWindowMs) + " ms",
      button.latencies, button.lost);
  const double window_0 = percentile(stick[0].latencies, 0.5);
  const double window_1 = percentile(stick[1].latencies, 0.5);
  std::printf(
      "window 0 median / limit: %.2f (goal <= 1.3); window 1 median: %.1f us (goal <= 1500)\n",
      window_0 / std::max(limit, 1e-9), window_1);
  std::printf("load average at end: %s\n", loadAverage().c_str());
  const bool complete = !raw.latencies.empty() && !stick[0].latencies.empty() &&
                        !stick[1].latencies.empty() && !stick[10].latencies.empty();
  return complete ? 0 : 1;
}
