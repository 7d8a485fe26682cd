// The node as a program of its own.
#include <memory>
#include <utility>

#include "rclcpp/rclcpp.hpp"
#include "tavrin_arm_teleop/teleop_node.hpp"

int main(int argc, char ** argv) {
  rclcpp::init(argc, argv);
  {
    rclcpp::NodeOptions options;
    auto node = std::make_unique<tavrin_arm_teleop::TeleopNode>(options);
    std::shared_ptr<tavrin_arm_teleop::TeleopNode> shared_node = std::move(node);
    rclcpp::spin(shared_node);
  }
  rclcpp::shutdown();
  return 0;
}
