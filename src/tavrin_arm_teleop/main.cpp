// The node as a program of its own.
#include <exception>
#include <iostream>
#include <memory>
#include <utility>

#include "rclcpp/rclcpp.hpp"
#include "tavrin_arm_teleop/teleop_node.hpp"

int main(int argc, char ** argv) {
  // A refusal to start (security settings, arguments) is one line for the operator and a
  // failure status, not an abort with a core dump.
  try {
    rclcpp::init(argc, argv);
    {
      rclcpp::NodeOptions options;
      auto node = std::make_unique<tavrin_arm_teleop::TeleopNode>(options);
      std::shared_ptr<tavrin_arm_teleop::TeleopNode> shared_node = std::move(node);
      rclcpp::spin(shared_node);
    }
  } catch (const std::exception & error) {
    std::cerr << "tavrin_arm_teleop_node: " << error.what() << std::endl;
    rclcpp::shutdown();
    return 1;
  }
  rclcpp::shutdown();
  return 0;
}
