// The node's private state and operations, shared by the files that each hold one of its
// concerns: startup and teardown, the joystick device reader, the command dispatcher, and the
// grab and emergency-stop workers.
#ifndef TAVRIN_ARM_TELEOP__TELEOP_NODE_IMPL_HPP_
#define TAVRIN_ARM_TELEOP__TELEOP_NODE_IMPL_HPP_

#include <linux/joystick.h>
#include <sys/time.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "geometry_msgs/msg/twist.hpp"
#include "rclcpp/rclcpp.hpp"
#include "rclcpp_action/rclcpp_action.hpp"
#include "sensor_msgs/msg/joy.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/int32_multi_array.hpp"
#include "std_msgs/msg/string.hpp"
#include "std_srvs/srv/set_bool.hpp"
#include "tavrin_arm_teleop/teleop_node.hpp"
#include "tavrin_protocol/action/arm_task_decision.hpp"

namespace tavrin_arm_teleop {

using ArmTaskDecision = tavrin_protocol::action::ArmTaskDecision;
using ArmTaskGoalHandle = rclcpp_action::ClientGoalHandle<ArmTaskDecision>;

// An analogue trigger's axis value when it is fully released.
constexpr double kTriggerRest = 1.0;
// The "enable_button" value that leaves motion commands on without any button held.
constexpr int64_t kNoEnableButton = -1;

class AxisScaling;

class TeleopNode::Impl {
public:
  explicit Impl(rclcpp::Node & node) : node_(node) {}

  Impl(const Impl &) = delete;
  Impl & operator=(const Impl &) = delete;

  void joyStart();
  void joyStop();

private:
  // What one open joystick device needs between two turns of its read loop.
  struct Connection {
    std::shared_ptr<sensor_msgs::msg::Joy> msg = std::make_shared<sensor_msgs::msg::Joy>();
    timeval timeout{0, 0};
    bool timer_armed = false;
    bool hand_over_pending = false;
    js_event event{};
  };

  void declareParameters();
  void logConfiguration();
  void createEndpoints();
  void startInput();
  bool readsJoystickDevice() const;

  void joyDataThread();
  void closeDevice();
  bool waitForStopUntil(std::chrono::steady_clock::time_point deadline);
  void readConnection(Connection & connection, const AxisScaling & scaling);
  bool readEvent(Connection & connection, const AxisScaling & scaling);
  void handOver(Connection & connection);
  void handOverSoon(Connection & connection);
  static void armTimer(Connection & connection);

  void joyTeleopProc(std::shared_ptr<sensor_msgs::msg::Joy> msg);
  void snapshotSample(const sensor_msgs::msg::Joy & sample);
  void applyTriggerTransform();
  void publishSpace(bool joint_space);
  void publishMotion();
  bool motionEnabled() const;
  void publishZeroMotion();
  void evaluateControlIo(bool on_pressed, bool off_pressed);
  void publishControlIo(int state);

  void joySendArmGrabAction();
  void joyRequestArmEstop(bool data);
  template <typename Work>
  bool startWorker(Work work);
  void finishWorker();
  void runArmGrabTask();
  void waitForGrabEnd();
  void clearArmGrab();
  void armGrabGoalRespCb(const std::shared_ptr<ArmTaskGoalHandle> & goal_handle);
  void armGrabFeedbackCb(
      std::shared_ptr<ArmTaskGoalHandle> goal_handle,
      std::shared_ptr<const ArmTaskDecision::Feedback> feedback);
  void armGrabResultCb(const ArmTaskGoalHandle::WrappedResult & result);
  void runArmEstop(bool data);
  bool awaitEstopAnswer(rclcpp::Client<std_srvs::srv::SetBool>::FutureAndRequestId & answer);

  int32_t joy_fd_ = -1;
  std::atomic<bool> exit_flag_{false};
  bool joint_space_btn_pressed_ = false;
  bool cartesian_space_btn_pressed_ = false;
  bool estop_btn_pressed_ = false;
  bool grab_btn_pressed_ = false;
  std::atomic<bool> arm_grab_inprogress_{false};
  int64_t btn_arm_grab_ = 0;
  int64_t btn_arm_estop_ = 0;
  int64_t btn_trigger_reverse_ = 0;
  int64_t btn_ctrl_io_off_ = 0;
  int64_t btn_ctrl_io_on_ = 0;
  int64_t btn_joint_space_ = 0;
  int64_t btn_cartesian_space_ = 0;
  // The button that must be held for the arm to move; kNoEnableButton: motion is always on.
  int64_t enable_button_ = kNoEnableButton;
  double deadzone_ = 0.0;
  std::string joy_dev_;
  std::string arm_task_center_action_ = "/tavrinpro_action/arm_task";
  rclcpp::Node & node_;
  std::thread joy_thread_;
  std::vector<int64_t> joy_axis_{0, 1, 2, 3, 4, 5};
  std::vector<int64_t> joy_btns_{0, 1, 2, 3, 4, 5, 6, 7};
  // Request workers are detached; teardown waits on this until none of them uses the Impl.
  // The reader's pauses wait on it too, so that the stop request ends them at once.
  std::mutex task_mutex_;
  std::condition_variable task_cv_;
  int running_workers_ = 0;
  rclcpp::Subscription<sensor_msgs::msg::Joy>::SharedPtr joy_sub_;
  rclcpp::Publisher<geometry_msgs::msg::Twist>::SharedPtr teleop_mov_pub_;
  rclcpp::Publisher<std_msgs::msg::Int32MultiArray>::SharedPtr ctrl_io_pub_;
  rclcpp::Publisher<std_msgs::msg::Bool>::SharedPtr space_exchange_pub_;
  rclcpp::Publisher<std_msgs::msg::String>::SharedPtr stop_pub_;
  rclcpp::Publisher<std_msgs::msg::Bool>::SharedPtr recover_pub_;
  rclcpp::Client<std_srvs::srv::SetBool>::SharedPtr estop_client_;
  rclcpp_action::Client<ArmTaskDecision>::SharedPtr arm_task_client_;
};

}  // namespace tavrin_arm_teleop

#endif  // TAVRIN_ARM_TELEOP__TELEOP_NODE_IMPL_HPP_
