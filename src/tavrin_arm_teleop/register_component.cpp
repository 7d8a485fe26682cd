// Lets a component container load the node: ros2 component load ... tavrin_arm_teleop::TeleopNode
#include "rclcpp_components/register_node_macro.hpp"
#include "tavrin_arm_teleop/teleop_node.hpp"

RCLCPP_COMPONENTS_REGISTER_NODE(tavrin_arm_teleop::TeleopNode)
