// One-way latency of a geometry_msgs/Twist from a publisher process to a subscriber process,
// through the bundled rclcpp layer and, side by side in the same run, through plain Cyclone DDS
// with the same QoS and an equivalent struct of six doubles.
//
//   ros2_layer_latency_bench [samples-per-round] [rounds]
//
// The program is the publisher; it starts itself as the subscriber for each round, alternating
// the two paths. Both processes read CLOCK_MONOTONIC, which all processes share, so the
// subscriber can subtract the send time carried in the message. DDS stays on loopback.
#include <dds/dds.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "child_process.hpp"
#include "geometry_msgs/msg/twist.hpp"
#include "raw_dds.hpp"
#include "rclcpp/rclcpp.hpp"

namespace {

using namespace std::chrono_literals;

constexpr const char * kLayerTopic = "bench_twist";
constexpr const char * kRawTopic = "bench_twist_raw";
constexpr auto kPublishPeriod = 1ms;
constexpr int kWarmUpSamples = 200;

// The roles of the fields: linear.x carries the send time, linear.y marks the end of a round,
// linear.z marks a measured (not warm-up) sample.
constexpr double kEndMarker = -1.0;
constexpr double kMeasured = 1.0;

double nowNanoseconds() {
  return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count());
}

/// The plain-DDS counterpart of a Twist: six doubles, described without IDL.
struct RawTwist {
  double linear_x, linear_y, linear_z, angular_x, angular_y, angular_z;
};

/// The serialisation program of RawTwist: six plain 8-byte floating-point fields.
constexpr uint32_t kDoubleField =
    static_cast<uint32_t>(DDS_OP_ADR) | static_cast<uint32_t>(DDS_OP_TYPE_8BY) | DDS_OP_FLAG_FP;
const uint32_t kRawTwistOps[] = {
    kDoubleField,
    offsetof(RawTwist, linear_x),
    kDoubleField,
    offsetof(RawTwist, linear_y),
    kDoubleField,
    offsetof(RawTwist, linear_z),
    kDoubleField,
    offsetof(RawTwist, angular_x),
    kDoubleField,
    offsetof(RawTwist, angular_y),
    kDoubleField,
    offsetof(RawTwist, angular_z),
    static_cast<uint32_t>(DDS_OP_RTS)};

const dds_topic_descriptor_t kRawTwistDescriptor = {
    sizeof(RawTwist),
    alignof(RawTwist),
    DDS_TOPIC_FIXED_SIZE,
    0u,
    "bench::RawTwist",
    nullptr,
    7u,
    kRawTwistOps,
    "",
    {nullptr, 0},
    {nullptr, 0},
    0u};

/// A plain Cyclone participant on the loopback-only domain of this run, with the QoS of a ROS 2
/// depth of 10.
struct RawEndpoints : tavrin_bench::RawDomain {
  RawEndpoints()
      : RawDomain(std::atoi(std::getenv("ROS_DOMAIN_ID")), kRawTwistDescriptor, kRawTopic) {}
};

void printLatencies(const std::vector<double> & latencies) {
  for (double latency : latencies) {
    std::printf("%.0f\n", latency);
  }
  std::printf("done\n");
  std::fflush(stdout);
}

int subscribeLayer(int argc, char ** argv) {
  rclcpp::init(argc, argv);
  auto node = std::make_shared<rclcpp::Node>("bench_subscriber");
  std::vector<double> latencies;
  auto subscription = node->create_subscription<geometry_msgs::msg::Twist>(
      kLayerTopic, rclcpp::QoS(10), [&](std::shared_ptr<geometry_msgs::msg::Twist> twist) {
        const double received = nowNanoseconds();
        if (twist->linear.y == kEndMarker) {
          rclcpp::shutdown();
        } else if (twist->linear.z == kMeasured) {
          latencies.push_back(received - twist->linear.x);
        }
      });
  std::printf("ready\n");
  std::fflush(stdout);
  rclcpp::spin(node);
  printLatencies(latencies);
  return 0;
}

int subscribeRaw() {
  RawEndpoints raw;
  const dds_entity_t reader = raw.createReader();
  const dds_entity_t condition = dds_create_readcondition(reader, DDS_ANY_STATE);
  const dds_entity_t waitset = dds_create_waitset(raw.participant());
  dds_waitset_attach(waitset, condition, 0);
  std::printf("ready\n");
  std::fflush(stdout);
  std::vector<double> latencies;
  while (true) {
    dds_waitset_wait(waitset, nullptr, 0, DDS_INFINITY);
    RawTwist twist{};
    void * samples[1] = {&twist};
    dds_sample_info_t info;
    while (dds_take(reader, samples, &info, 1, 1) == 1) {
      const double received = nowNanoseconds();
      if (!info.valid_data) {
        continue;
      }
      if (twist.linear_y == kEndMarker) {
        printLatencies(latencies);
        return 0;
      }
      if (twist.linear_z == kMeasured) {
        latencies.push_back(received - twist.linear_x);
      }
    }
  }
}

/// The subscriber process of one round, whose output is its latencies.
class Subscriber : public tavrin_tools::ChildProcess {
public:
  Subscriber(const char * program, const char * kind)
      : ChildProcess({program, "subscribe", kind}) {}

  bool ready() { return waitForOutput("ready\n", 60s); }

  /// The latencies the subscriber printed at the end of the round.
  std::vector<double> latencies() {
    waitForOutput("done\n", std::chrono::hours(1));
    std::vector<double> values;
    bool after_ready = false;
    for (const auto & text : lines()) {
      if (text == "done") {
        break;
      }
      if (after_ready) {
        values.push_back(std::strtod(text.c_str(), nullptr));
      }
      after_ready = after_ready || text == "ready";
    }
    return values;
  }
};

/// Sends warm-up samples, then `samples` measured ones one period apart, then the end marker.
template <typename Publish>
void publishRound(int samples, Publish && publish) {
  for (int i = 0; i < kWarmUpSamples + samples; ++i) {
    publish(nowNanoseconds(), 0.0, i < kWarmUpSamples ? 0.0 : kMeasured);
    std::this_thread::sleep_for(kPublishPeriod);
  }
  // The end marker must not overtake the last samples; it is reliable and follows them.
  publish(nowNanoseconds(), kEndMarker, 0.0);
}

std::vector<double> layerRound(const char * program, int samples, rclcpp::Node & node) {
  Subscriber subscriber(program, "layer");
  if (!subscriber.ready()) {
    return {};
  }
  auto publisher = node.create_publisher<geometry_msgs::msg::Twist>(kLayerTopic, rclcpp::QoS(10));
  while (publisher->get_subscription_count() == 0) {
    std::this_thread::sleep_for(10ms);
  }
  publishRound(samples, [&](double sent, double end, double measured) {
    geometry_msgs::msg::Twist twist;
    twist.linear.y = end;
    twist.linear.z = measured;
    twist.linear.x = sent;
    publisher->publish(twist);
  });
  return subscriber.latencies();
}

std::vector<double> rawRound(const char * program, int samples, RawEndpoints & raw) {
  Subscriber subscriber(program, "raw");
  if (!subscriber.ready()) {
    return {};
  }
  const dds_entity_t writer = raw.createWriter();
  tavrin_bench::RawDomain::waitForReader(writer);
  publishRound(samples, [&](double sent, double end, double measured) {
    RawTwist twist{};
    twist.linear_y = end;
    twist.linear_z = measured;
    twist.linear_x = sent;
    dds_write(writer, &twist);
  });
  auto latencies = subscriber.latencies();
  dds_delete(writer);
  return latencies;
}

double percentile(std::vector<double> values, double fraction) {
  if (values.empty()) {
    return 0.0;
  }
  std::sort(values.begin(), values.end());
  const auto index = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1));
  return values[index];
}

void report(const char * label, const std::vector<double> & latencies) {
  std::printf(
      "%-22s %6zu samples  median %7.1f us  p99 %7.1f us\n", label, latencies.size(),
      percentile(latencies, 0.5) / 1e3, percentile(latencies, 0.99) / 1e3);
}

int drive(const char * program, int samples, int rounds) {
  const char * argv[] = {program};
  rclcpp::init(1, argv);
  auto node = std::make_shared<rclcpp::Node>("bench_publisher");
  RawEndpoints raw;
  std::vector<double> layer_latencies;
  std::vector<double> raw_latencies;
  for (int round = 0; round < rounds; ++round) {
    // Alternate which path goes first, so that neither profits from a warmer machine.
    auto run_layer = [&] {
      auto values = layerRound(program, samples, *node);
      layer_latencies.insert(layer_latencies.end(), values.begin(), values.end());
    };
    auto run_raw = [&] {
      auto values = rawRound(program, samples, raw);
      raw_latencies.insert(raw_latencies.end(), values.begin(), values.end());
    };
    if (round % 2 == 0) {
      run_raw();
      run_layer();
    } else {
      run_layer();
      run_raw();
    }
  }
  std::printf(
      "one-way latency, geometry_msgs/Twist, publisher process -> subscriber process, loopback\n");
  report("plain Cyclone DDS", raw_latencies);
  report("bundled rclcpp layer", layer_latencies);
  const double raw_median = percentile(raw_latencies, 0.5);
  const double raw_p99 = percentile(raw_latencies, 0.99);
  std::printf(
      "layer / plain: median %.2f  p99 %.2f\n",
      raw_median > 0 ? percentile(layer_latencies, 0.5) / raw_median : 0.0,
      raw_p99 > 0 ? percentile(layer_latencies, 0.99) / raw_p99 : 0.0);
  rclcpp::shutdown();
  return 0;
}

}  // namespace

int main(int argc, char ** argv) {
  // A benchmark keeps DDS on loopback, on a domain of its own unless told otherwise.
  setenv("ROS_LOCALHOST_ONLY", "1", 1);
  setenv("ROS_DOMAIN_ID", "231", 0);
  if (argc >= 3 && std::strcmp(argv[1], "subscribe") == 0) {
    return std::strcmp(argv[2], "raw") == 0 ? subscribeRaw() : subscribeLayer(1, argv);
  }
  const int samples = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 4;
  return drive(argv[0], samples, rounds);
}
