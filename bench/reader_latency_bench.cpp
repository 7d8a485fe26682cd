// Latency from a button press written into the controller device to the command it causes,
// received by a subscriber in another process, beside the one-way latency of raw Cyclone DDS
// between two processes measured in the same run.
//
// Run: build/default/bench/reader_latency_bench [presses, default 2000]
// Raw DDS: a child process writes samples stamped with CLOCK_MONOTONIC, this process takes
// them from a waitset and subtracts the stamp (same clock, same machine). Node: this process
// writes a joint-space button press into the stand-in device (a FIFO, which wakes its reader
// directly as a joystick device does) and waits for the space selection on
// "/robot/teleop_space_exchange_topic"; then it releases the button and waits 2 to 6 ms so that
// presses fall on every phase of the reader's 10 ms hand-over period. Device hop: the same
// write into a FIFO of this process, read by a thread waiting in select, which is the part of
// the node's path that raw DDS does not have. The three take turns in four rounds while the
// node runs, so that a change of machine load weighs on all of them alike.
#include <fcntl.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

// A pause of 2 to 6 ms between samples, the same sequence for every measurement.
class Pauses {
public:
  void next() { std::this_thread::sleep_for(std::chrono::microseconds(pause_us_(random_))); }

private:
  std::mt19937 random_{7};
  std::uniform_int_distribution<int> pause_us_{2000, 6000};
};

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

// From a write into a FIFO to the moment a thread waiting in select has read the record.
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
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(read_end, &readable);
      timeval timeout{1, 0};
      js_event event{};
      if (::select(read_end + 1, &readable, nullptr, nullptr, &timeout) > 0 &&
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

// Receives the node's space selections and tells when the next one arrived.
class SpaceListener {
public:
  SpaceListener() : node_(std::make_shared<rclcpp::Node>("reader_latency_bench")) {
    space_sub_ = node_->create_subscription<std_msgs::msg::Bool>(
        "/robot/teleop_space_exchange_topic", rclcpp::QoS(10),
        [this](std::shared_ptr<const std_msgs::msg::Bool>) {
          const auto now = Clock::now();
          std::lock_guard<std::mutex> lock(mutex_);
          received_ = now;
          changed_.notify_all();
        });
    twist_sub_ = node_->create_subscription<geometry_msgs::msg::Twist>(
        "/robot/teleop_mov_topic", rclcpp::QoS(10),
        [this](std::shared_ptr<const geometry_msgs::msg::Twist>) { ++twists_; });
    executor_.add_node(node_);
    spinner_ = std::thread([this] { executor_.spin(); });
  }
  ~SpaceListener() {
    executor_.cancel();
    spinner_.join();
  }

  bool waitForNode() {
    const auto give_up = Clock::now() + 60s;
    while (twists_ < 100 && Clock::now() < give_up) {
      std::this_thread::sleep_for(20ms);
    }
    std::this_thread::sleep_for(1s);
    return twists_ >= 100;
  }

  void expect() {
    std::lock_guard<std::mutex> lock(mutex_);
    received_.reset();
  }

  std::optional<Clock::time_point> await(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, timeout, [this] { return received_.has_value(); });
    return received_;
  }

private:
  rclcpp::Node::SharedPtr node_;
  rclcpp::executors::SingleThreadedExecutor executor_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<Clock::time_point> received_;
  std::atomic<long> twists_{0};
  rclcpp::Subscription<std_msgs::msg::Bool>::SharedPtr space_sub_;
  rclcpp::Subscription<geometry_msgs::msg::Twist>::SharedPtr twist_sub_;
  std::thread spinner_;
};

// The node on a FIFO controller, and presses measured through it.
class NodePath {
public:
  NodePath()
      : controller_(pluggedFifo()), node_(*controller_, "/tmp/tavrin_bench_reader_latency.log") {}

  bool start() {
    if (!listener_.waitForNode()) {
      return false;
    }
    controller_->openFifoWriter();
    controller_->send(tavrin_tools::initialBurst(12, 8));
    return true;
  }

  // Press-to-command latencies in microseconds; `lost` counts presses with no command.
  void measure(int presses, std::vector<double> & latencies, int & lost) {
    for (int i = 0; i < presses; ++i) {
      listener_.expect();
      const auto pressed = Clock::now();
      controller_->send({tavrin_tools::joyEvent(JS_EVENT_BUTTON, kJointSpaceButton, 1)});
      const auto received = listener_.await(1s);
      if (received) {
        latencies.push_back(std::chrono::duration<double, std::micro>(*received - pressed).count());
      } else {
        ++lost;
      }
      controller_->send({tavrin_tools::joyEvent(JS_EVENT_BUTTON, kJointSpaceButton, 0)});
      pauses_.next();
    }
  }

private:
  // A FIFO: a write wakes the reader directly, as a joystick device does.
  static std::unique_ptr<tavrin_tools::JoystickStandIn> pluggedFifo() {
    auto controller = std::make_unique<tavrin_tools::JoystickStandIn>();
    controller->plugFifo();
    return controller;
  }

  std::unique_ptr<tavrin_tools::JoystickStandIn> controller_;
  tavrin_bench::DeviceNode node_;
  SpaceListener listener_;
  Pauses pauses_;
};

double percentile(std::vector<double> values, double fraction) {
  if (values.empty()) {
    return 0.0;
  }
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(fraction * (values.size() - 1))];
}

void printRow(const char * what, const std::vector<double> & latencies) {
  std::printf(
      "%-44s n=%5zu  median %8.1f us  p90 %8.1f us  p99 %8.1f us  min %7.1f us\n", what,
      latencies.size(), percentile(latencies, 0.5), percentile(latencies, 0.9),
      percentile(latencies, 0.99), percentile(latencies, 0.0));
}

}  // namespace

int main(int argc, char ** argv) {
  if (argc > 2 && std::string(argv[1]) == "--raw-writer") {
    return runRawWriter(std::stoi(argv[2]));
  }
  const int presses = argc > 1 ? std::stoi(argv[1]) : 2000;
  constexpr int kRounds = 4;
  tavrin_bench::useLoopbackDomain(kNodeDomain);
  rclcpp::init(argc, argv);
  std::vector<double> raw;
  std::vector<double> hop;
  std::vector<double> node;
  int lost = 0;
  {
    NodePath node_path;
    if (!node_path.start()) {
      std::fprintf(stderr, "no motion commands; see /tmp/tavrin_bench_reader_latency.log\n");
      return 1;
    }
    // Rounds of each path in turn, so that a change of machine load weighs on all of them.
    for (int round = 0; round < kRounds; ++round) {
      const auto raw_round = measureRaw(presses / kRounds);
      raw.insert(raw.end(), raw_round.begin(), raw_round.end());
      const auto hop_round = measureDeviceHop(presses / kRounds);
      hop.insert(hop.end(), hop_round.begin(), hop_round.end());
      node_path.measure(presses / kRounds, node, lost);
      printRow(("round " + std::to_string(round + 1) + ": raw").c_str(), raw_round);
    }
  }
  rclcpp::shutdown();

  printRow("raw Cyclone DDS one-way", raw);
  printRow("device hop (FIFO write -> select, read)", hop);
  printRow("button press -> space command (node)", node);
  std::printf("presses without a command: %d\n", lost);
  const double raw_median = std::max(percentile(raw, 0.5), 1e-9);
  std::printf(
      "median ratio node / raw: %.2f (target <= 1.5)\n", percentile(node, 0.5) / raw_median);
  std::printf(
      "median ratio (node - device hop) / raw: %.2f\n",
      (percentile(node, 0.5) - percentile(hop, 0.5)) / raw_median);
  return node.empty() || raw.empty() ? 1 : 0;
}
