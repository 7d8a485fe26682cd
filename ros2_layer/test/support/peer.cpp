// The other process of the two-process tests. Each mode sets up one side of a conversation,
// prints "ready" and spins until it is signalled.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "geometry_msgs/msg/twist.hpp"
#include "rclcpp/rclcpp.hpp"
#include "sensor_msgs/msg/joy.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/string.hpp"
#include "std_srvs/srv/set_bool.hpp"

namespace {

using SetBool = std_srvs::srv::SetBool;
using Keep = std::vector<std::shared_ptr<void>>;

void announce(const char * line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

void answerToggle(
    const std::shared_ptr<SetBool::Request> request, std::shared_ptr<SetBool::Response> response) {
  response->success = !request->data;
  response->message = request->data ? "was true" : "was false";
}

/// "toggle" answers at once, "silent" never answers.
void services(rclcpp::Node & node, Keep & keep) {
  keep.push_back(node.create_service<SetBool>("toggle", answerToggle));
  keep.push_back(node.create_service<SetBool>(
      "silent", [](std::shared_ptr<rmw_request_id_t>, std::shared_ptr<SetBool::Request>) {}));
}

/// Endpoints whose names, types, QoS and user data the conformance test inspects.
void conformance(rclcpp::Node & node, Keep & keep) {
  keep.insert(
      keep.end(),
      {node.create_publisher<std_msgs::msg::String>("chatter", rclcpp::QoS(7)),
       node.create_publisher<geometry_msgs::msg::Twist>("cmd_vel", rclcpp::QoS(3).best_effort()),
       node.create_publisher<std_msgs::msg::Bool>("latched", rclcpp::QoS(2).transient_local()),
       node.create_subscription<sensor_msgs::msg::Joy>(
           "joy", rclcpp::QoS(4).best_effort(), [](std::shared_ptr<sensor_msgs::msg::Joy>) {}),
       node.create_service<SetBool>("toggle", answerToggle), node.create_client<SetBool>("probe")});
}

}  // namespace

int main(int argc, char ** argv) {
  rclcpp::init(argc, argv);
  const std::string mode = argc > 1 ? argv[1] : "";
  auto node = std::make_shared<rclcpp::Node>("peer");
  Keep keep;
  const std::map<std::string, std::function<void()>> modes = {
      {"services", [&] { services(*node, keep); }},
      {"conformance", [&] { conformance(*node, keep); }},
  };
  const auto found = modes.find(mode);
  if (found == modes.end()) {
    std::fprintf(stderr, "unknown mode '%s'\n", mode.c_str());
    return 2;
  }
  found->second();
  announce("ready");
  rclcpp::spin(node);
  rclcpp::shutdown();
  return 0;
}
