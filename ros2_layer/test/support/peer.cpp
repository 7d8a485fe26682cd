// The other process of the two-process tests: it offers the endpoints that they inspect and
// call, prints "ready" and spins until it is signalled.
#include <cstdio>
#include <memory>
#include <vector>

#include "geometry_msgs/msg/twist.hpp"
#include "rclcpp/rclcpp.hpp"
#include "sensor_msgs/msg/joy.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/string.hpp"
#include "std_srvs/srv/set_bool.hpp"

using SetBool = std_srvs::srv::SetBool;

int main(int argc, char ** argv) {
  rclcpp::init(argc, argv);
  auto node = std::make_shared<rclcpp::Node>("peer");
  // "toggle" answers at once, "silent" never answers.
  const std::vector<std::shared_ptr<void>> keep{
      node->create_publisher<std_msgs::msg::String>("chatter", rclcpp::QoS(7)),
      node->create_publisher<geometry_msgs::msg::Twist>("cmd_vel", rclcpp::QoS(3).best_effort()),
      node->create_publisher<std_msgs::msg::Bool>("latched", rclcpp::QoS(2).transient_local()),
      node->create_subscription<sensor_msgs::msg::Joy>(
          "joy", rclcpp::QoS(4).best_effort(), [](std::shared_ptr<sensor_msgs::msg::Joy>) {}),
      node->create_service<SetBool>(
          "toggle",
          [](std::shared_ptr<SetBool::Request> request,
             std::shared_ptr<SetBool::Response> response) {
            response->success = !request->data;
            response->message = request->data ? "was true" : "was false";
          }),
      node->create_service<SetBool>(
          "silent", [](std::shared_ptr<rmw_request_id_t>, std::shared_ptr<SetBool::Request>) {}),
      node->create_client<SetBool>("probe"),
  };
  std::printf("ready\n");
  std::fflush(stdout);
  rclcpp::spin(node);
  rclcpp::shutdown();
  return 0;
}
