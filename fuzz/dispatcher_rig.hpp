// The real node, in the fuzzer's own process, taking samples from "/joy" and sending its motion
// commands to a listener beside it: both fuzzers of joystick input drive its dispatcher this way.
#ifndef TAVRIN_FUZZ__DISPATCHER_RIG_HPP_
#define TAVRIN_FUZZ__DISPATCHER_RIG_HPP_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "geometry_msgs/msg/twist.hpp"
#include "rclcpp/rclcpp.hpp"
#include "sensor_msgs/msg/joy.hpp"
#include "tavrin_arm_teleop/teleop_node.hpp"

namespace tavrin_fuzz {

/// The six components of a motion command, in the order of the axis remap table.
using Motion = std::vector<double>;

/// The node on "/joy" with the given remap tables, and a peer that feeds and listens to it.
class DispatcherRig {
public:
  /// Starts the node, the only one the process may have. The grab and emergency-stop buttons are mapped to nothing: their
  /// requests would start workers that wait for an arm this process does not have.
  DispatcherRig(const std::vector<int64_t> & joy_axis, std::vector<int64_t> joy_btns);
  ~DispatcherRig();

  DispatcherRig(const DispatcherRig &) = delete;
  DispatcherRig & operator=(const DispatcherRig &) = delete;

  /// Sends `sample` to the node and returns the motion command it answers with; aborts when no
  /// command comes.
  Motion dispatch(const sensor_msgs::msg::Joy & sample);

private:
  std::shared_ptr<tavrin_arm_teleop::TeleopNode> node_;
  std::shared_ptr<rclcpp::Node> peer_;
  rclcpp::Publisher<sensor_msgs::msg::Joy>::SharedPtr joy_pub_;
  rclcpp::Subscription<geometry_msgs::msg::Twist>::SharedPtr motion_sub_;
  rclcpp::executors::SingleThreadedExecutor executor_;
  std::vector<Motion> received_;
};

/// Sets up the process once: quiet logging, rclcpp. Call from LLVMFuzzerInitialize.
void initializeProcess();

/// Stops the fuzzer with a crash report when a property does not hold.
void require(bool holds, const char * property);

}  // namespace tavrin_fuzz

#endif  // TAVRIN_FUZZ__DISPATCHER_RIG_HPP_
