// Heap allocations per hand-over in the node's joystick reader and dispatcher, and in the
// publish that hands each command to the middleware: the client layer's and Cyclone's apart.
//
// Run: build/default/bench/handover_alloc_bench [steady|edges] [device|joy]
//   steady (default): stick movements, the trigger-reverse button and a button without a role,
//     the traffic of normal driving; every event passes the reader and the dispatcher.
//   edges: also space and control I/O buttons, whose edges log a line or publish a command.
//   device (default): the node reads a stand-in controller; joy: the same samples reach it as
//     sensor_msgs/Joy on "/joy", and its executor thread is the one counted.
// The node runs with handover_alloc_counter preloaded (see there for how the reader thread and
// the window are found). Each allocation of that thread is reported with its call stack,
// resolved here with addr2line: inside Cyclone's write calls, stacks through the client layer
// are its serialiser and the rest is Cyclone's; outside them, stacks that pass through the
// client layer's Publisher::publish are its publish, those through the node's own functions
// belong to the reader and the dispatcher, and the rest to the executor taking "/joy".
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device_node.hpp"
#include "geometry_msgs/msg/twist.hpp"
#include "rclcpp/rclcpp.hpp"
#include "sensor_msgs/msg/joy.hpp"

namespace {

using namespace std::chrono_literals;
using tavrin_tools::joyEvent;

constexpr char kReportPath[] = "/tmp/tavrin_bench_handover_alloc.report";

struct Report {
  long window_writes = 0;
  long hand_overs = 0;  // writes of the busiest writer: every hand-over publishes a motion command
  long inside_write = 0;
  long outside_write = 0;
  struct Site {
    long count = 0;
    bool inside_write = false;
    std::vector<std::string> frames;
  };
  std::vector<Site> sites;
};

Report readReport() {
  Report report;
  std::ifstream file(kReportPath);
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (key == "window_writes") {
      words >> report.window_writes;
    } else if (key == "writer") {
      long handle = 0;
      long writes = 0;
      words >> handle >> writes;
      report.hand_overs = std::max(report.hand_overs, writes);
    } else if (key == "allocations_inside_write") {
      words >> report.inside_write;
    } else if (key == "allocations_outside_write") {
      words >> report.outside_write;
    } else if (key == "site" || key == "write_site") {
      Report::Site site{0, key == "write_site", {}};
      words >> site.count;
      for (std::string frame; words >> frame;) {
        site.frames.push_back(frame);
      }
      report.sites.push_back(site);
    }
  }
  return report;
}

// "module+0xoffset" -> the function names (inlined ones included), innermost first.
std::vector<std::string> symbolize(const std::string & frame) {
  const auto plus = frame.rfind('+');
  if (plus == std::string::npos || frame.front() == '?') {
    return {frame};
  }
  // A return address points after its call: look one byte back to stay inside it.
  const unsigned long offset = std::stoul(frame.substr(plus + 1), nullptr, 16) - 1;
  char offset_text[32];
  std::snprintf(offset_text, sizeof(offset_text), "0x%lx", offset);
  const std::string command =
      "addr2line -f -C -i -e '" + frame.substr(0, plus) + "' " + offset_text + " 2>/dev/null";
  std::vector<std::string> names;
  std::unique_ptr<FILE, int (*)(FILE *)> pipe(::popen(command.c_str(), "r"), ::pclose);
  char buffer[4096];
  for (int line = 0; pipe && std::fgets(buffer, sizeof(buffer), pipe.get()) != nullptr; ++line) {
    std::string text(buffer);
    text.erase(text.find_last_not_of('\n') + 1);
    if (line % 2 == 0) {
      names.push_back(text.size() > 110 ? text.substr(0, 110) + "..." : text);
    }
  }
  return names.empty() ? std::vector<std::string>{frame} : names;
}

// The next events of the scenario: one stick moves on every step, buttons change now and then.
std::vector<js_event> scenarioStep(long step, bool edges) {
  const auto value = static_cast<int16_t>((step * 7919) % 65535 - 32767);
  std::vector<js_event> events{joyEvent(JS_EVENT_AXIS, static_cast<uint8_t>(step % 8), value)};
  const bool pressed = step / 8 % 2 == 0;
  if (step % 8 == 0) {
    events.push_back(joyEvent(JS_EVENT_BUTTON, 0, pressed));  // trigger reverse
  } else if (step % 8 == 4) {
    events.push_back(joyEvent(JS_EVENT_BUTTON, 5, pressed));  // no role
  } else if (edges && step % 8 == 2) {
    events.push_back(joyEvent(JS_EVENT_BUTTON, step / 16 % 2 == 0 ? 6 : 7, pressed));  // space
  } else if (edges && step % 8 == 6) {
    events.push_back(joyEvent(JS_EVENT_BUTTON, step / 16 % 2 == 0 ? 3 : 2, pressed));  // I/O
  }
  return events;
}

// The same steps as "/joy" samples: axes in [-1, 1], buttons 0 or 1.
void applyStep(const std::vector<js_event> & events, sensor_msgs::msg::Joy & sample) {
  for (const js_event & event : events) {
    if (event.type == JS_EVENT_AXIS) {
      sample.axes[event.number] = static_cast<float>(event.value) / 32767.0f;
    } else {
      sample.buttons[event.number] = event.value;
    }
  }
}

bool passesThrough(const std::vector<std::string> & functions, const char * name) {
  return std::any_of(functions.begin(), functions.end(), [name](const std::string & function) {
    return function.find(name) != std::string::npos;
  });
}

}  // namespace

int main(int argc, char ** argv) {
  const std::string scenario = argc > 1 ? argv[1] : "steady";
  const bool joy_mode = argc > 2 && std::string(argv[2]) == "joy";
  tavrin_bench::useLoopbackDomain(231);
  rclcpp::init(argc, argv);
  ::unlink(kReportPath);

  // A subscriber makes the node's writes real deliveries, as on the robot.
  auto listener = std::make_shared<rclcpp::Node>("handover_alloc_bench");
  std::atomic<long> twists{0};
  auto subscription = listener->create_subscription<geometry_msgs::msg::Twist>(
      "/robot/teleop_mov_topic", rclcpp::QoS(100),
      [&twists](std::shared_ptr<const geometry_msgs::msg::Twist>) { ++twists; });
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(listener);
  std::thread spinner([&executor] { executor.spin(); });

  auto joy_publisher = listener->create_publisher<sensor_msgs::msg::Joy>("/joy", rclcpp::QoS(10));
  sensor_msgs::msg::Joy joy_sample;
  joy_sample.axes.resize(8);
  joy_sample.buttons.resize(12);

  tavrin_tools::JoystickStandIn controller;
  controller.plugTerminal(tavrin_tools::initialBurst(12, 8));
  tavrin_bench::DeviceNode node(
      controller, "/tmp/tavrin_bench_handover_alloc.log",
      {std::string("LD_PRELOAD=") + TAVRIN_ALLOC_COUNTER, "TAVRIN_ALLOC_WARMUP=300",
       "TAVRIN_ALLOC_WINDOW=3000", std::string("TAVRIN_ALLOC_REPORT=") + kReportPath,
       std::string("TAVRIN_ALLOC_THREAD=") + (joy_mode ? "take" : "reader")},
      joy_mode ? std::vector<std::string>{"-p", "joy_dev:=/joy"} : std::vector<std::string>{});
  const auto give_up = std::chrono::steady_clock::now() + 180s;
  for (long step = 0; ::access(kReportPath, F_OK) != 0; ++step) {
    if (std::chrono::steady_clock::now() > give_up) {
      std::fprintf(stderr, "no report; see /tmp/tavrin_bench_handover_alloc.log\n");
      return 1;
    }
    const auto events = scenarioStep(step, scenario == "edges");
    if (joy_mode) {
      applyStep(events, joy_sample);
      joy_publisher->publish(joy_sample);
    } else {
      controller.send(events);
    }
    std::this_thread::sleep_for(4ms);
  }
  std::this_thread::sleep_for(200ms);  // the report is written whole before the node goes on
  const int status = node.stop();
  executor.cancel();
  spinner.join();
  rclcpp::shutdown();

  const Report report = readReport();
  long in_serialiser = 0;
  long in_cyclone = 0;
  long in_publish = 0;
  long in_executor = 0;
  long in_reader = 0;
  long in_logging = 0;  // part of in_reader: a log line of the dispatcher
  long in_ctrl_io = 0;  // part of in_reader: a control I/O command message
  std::printf(
      "scenario %s, %s mode: %ld writes on the %s thread, %ld hand-overs\n", scenario.c_str(),
      joy_mode ? "/joy" : "device", report.window_writes, joy_mode ? "executor" : "reader",
      report.hand_overs);
  for (const auto & [count, inside_write, frames] : report.sites) {
    std::vector<std::string> functions;
    for (const auto & frame : frames) {
      for (const auto & name : symbolize(frame)) {
        functions.push_back(name);
      }
    }
    const char * where = nullptr;
    if (inside_write) {
      // Innermost first: the layer's serialiser is called back below Cyclone's write entry,
      // while every write also passes through the layer's Writer above it.
      const auto entry = std::find_if(functions.begin(), functions.end(), [](const auto & name) {
        return name.find("dds_write") != std::string::npos ||
               name.find("dds_forwardcdr") != std::string::npos;
      });
      const bool layer = passesThrough({functions.begin(), entry}, "ros2_layer::");
      (layer ? in_serialiser : in_cyclone) += count;
      where = layer ? "client layer serialiser, inside dds_write" : "Cyclone, inside dds_write";
    } else if (passesThrough(functions, "rclcpp::Publisher<")) {
      in_publish += count;
      where = "client layer publish";
    } else if (passesThrough(functions, "TeleopNode::Impl::")) {
      in_reader += count;
      where = "READER/DISPATCHER";
      // A log call formats its text with fmt::format, then logInfo adds the line prefix.
      if (passesThrough(functions, "logInfo") || passesThrough(functions, "vformat")) {
        in_logging += count;
      } else if (passesThrough(functions, "publishControlIo")) {
        in_ctrl_io += count;
      }
    } else {
      in_executor += count;
      where = "executor and take";
    }
    std::printf("\n%ld allocation(s), %s:\n", count, where);
    for (size_t i = 0; i < functions.size() && i < 14; ++i) {
      std::printf("    %s\n", functions[i].c_str());
    }
  }
  const double hand_overs = std::max<long>(report.hand_overs, 1);
  std::printf("\nallocations per hand-over:\n");
  std::printf(
      "  reader and dispatcher:                  %.4f (%ld)  target 0\n", in_reader / hand_overs,
      in_reader);
  std::printf(
      "    of which log lines: %ld, control I/O messages: %ld, other: %ld\n", in_logging,
      in_ctrl_io, in_reader - in_logging - in_ctrl_io);
  std::printf(
      "  client layer publish, outside the write: %.4f (%ld)\n", in_publish / hand_overs,
      in_publish);
  std::printf(
      "  inside dds_write: %.4f (%ld), client layer serialiser %.4f (%ld), Cyclone %.4f (%ld)\n",
      report.inside_write / hand_overs, report.inside_write, in_serialiser / hand_overs,
      in_serialiser, in_cyclone / hand_overs, in_cyclone);
  if (joy_mode) {
    std::printf(
        "  executor and take of \"/joy\":         %.4f (%ld)\n", in_executor / hand_overs,
        in_executor);
  }
  std::printf("node exit status %d\n", status);
  return in_reader == 0 ? 0 : 2;
}
