// The operator's game controller drives the Tavrin arm through this node.
#ifndef TAVRIN_ARM_TELEOP__TELEOP_NODE_HPP_
#define TAVRIN_ARM_TELEOP__TELEOP_NODE_HPP_

#include <memory>

#include "rclcpp/rclcpp.hpp"

namespace tavrin_arm_teleop {

/// Turns joystick samples (from a joystick device or from "/joy") into arm motion, control
/// space, control I/O, emergency-stop and grab commands.
class TeleopNode : public rclcpp::Node {
public:
  /// Reads the parameters, creates every endpoint and starts the chosen joystick input.
  explicit TeleopNode(const rclcpp::NodeOptions & options);

  /// Stops the joystick input and the request workers before the endpoints go away.
  ~TeleopNode() override;

  TeleopNode(const TeleopNode &) = delete;
  TeleopNode & operator=(const TeleopNode &) = delete;

private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tavrin_arm_teleop

#endif  // TAVRIN_ARM_TELEOP__TELEOP_NODE_HPP_
