// A peer in a process of its own, secured or not by its environment and ROS arguments:
// publishes one stick position on "/joy" every 50 ms and prints "motion received" for each of
// the teleop node's motion commands that reaches it.
//
//   tavrin_test_joy_peer AXIS [--ros-args ...]     (AXIS at 0.5, the others at rest)
#include <atomic>
#include <chrono>
#include <exception>
#include <iostream>
#include <string>
#include <thread>

#include "geometry_msgs/msg/twist.hpp"
#include "rclcpp/rclcpp.hpp"
#include "sensor_msgs/msg/joy.hpp"

int main(int argc, char ** argv) {
  try {
    rclcpp::init(argc, argv);
    // It runs in other programs' enclaves, which grant no parameter services of this name.
    auto node = std::make_shared<rclcpp::Node>(
        "joy_peer", rclcpp::NodeOptions().start_parameter_services(false));
    auto motion = node->create_subscription<geometry_msgs::msg::Twist>(
        "/robot/teleop_mov_topic", rclcpp::QoS(10),
        [](std::shared_ptr<const geometry_msgs::msg::Twist>) {
          std::cout << "motion received" << std::endl;
        });
    auto joy = node->create_publisher<sensor_msgs::msg::Joy>("/joy", rclcpp::QoS(10));
    sensor_msgs::msg::Joy sample;
    sample.axes = {0, 0, 1, 0, 0, 1};  // triggers rest at +1
    sample.axes.at(std::stoul(argc > 1 ? argv[1] : "0")) = 0.5F;
    sample.buttons.assign(8, 0);
    std::cout << "publishing" << std::endl;
    rclcpp::executors::SingleThreadedExecutor executor;
    executor.add_node(node);
    while (rclcpp::ok()) {
      joy->publish(sample);
      executor.spin_some();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  } catch (const std::exception & error) {
    std::cerr << "joy_peer: " << error.what() << std::endl;
    rclcpp::shutdown();
    return 1;
  }
  rclcpp::shutdown();
  return 0;
}
