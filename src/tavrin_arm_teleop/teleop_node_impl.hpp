// The node's private state and operations, shared by the files that each hold one of its
// concerns: startup and teardown, the joystick device reader, the command dispatcher, and the
// grab and emergency-stop workers.
#ifndef TAVRIN_ARM_TELEOP__TELEOP_NODE_IMPL_HPP_
#define TAVRIN_ARM_TELEOP__TELEOP_NODE_IMPL_HPP_

#include <linux/joystick.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
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
// The action's own result service: asked again about a running goal, the server tells whether
// it still knows the goal, and gives its result once it has one.
using ArmTaskResultService = ArmTaskDecision::Impl::GetResultService;

// An analogue trigger's axis value when it is fully released.
constexpr double kTriggerRest = 1.0;
// The axis window's bounds and its default, the window the node always had.
constexpr int64_t kDefaultCoalesceIntervalMs = 10;
constexpr int64_t kMaxCoalesceIntervalMs = 100;
// The "enable_button" value that leaves motion commands on without any button held.
constexpr int64_t kNoEnableButton = -1;

class AxisScaling;

class TeleopNode::Impl {
public:
  /// Throws std::runtime_error while another node of this kind exists in the process.
  explicit Impl(rclcpp::Node & node);
  ~Impl();

  Impl(const Impl &) = delete;
  Impl & operator=(const Impl &) = delete;

  void joyStart();
  void joyStop();

private:
  // What one open joystick device needs between two turns of its read loop.
  struct Connection {
    std::shared_ptr<sensor_msgs::msg::Joy> msg = std::make_shared<sensor_msgs::msg::Joy>();
    // The next hand-over: the end of the open axis window, or else the idle repetition.
    std::chrono::steady_clock::time_point due;
    bool window_open = false;
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

  void joyTeleopProc(std::shared_ptr<sensor_msgs::msg::Joy> msg);
  void dispatchSample(const sensor_msgs::msg::Joy & sample);
  void snapshotSample(const sensor_msgs::msg::Joy & sample);
  void applyTriggerTransform();
  void publishSpace(bool joint_space);
  void publishMotion();
  bool motionEnabled() const;
  // `last`: the node is stopping, and nothing may be published after this command.
  void publishZeroMotion(bool last);
  void evaluateControlIo(bool on_pressed, bool off_pressed);
  void publishControlIo(int state);

  void joySendArmGrabAction();
  void joyRequestArmEstop(bool data);
  template <typename Work>
  bool startWorker(Work work);
  void finishWorker();
  bool stopping() const;
  bool waitFor(std::chrono::steady_clock::duration timeout, const std::function<bool()> & done);
  void runArmGrabTask(uint64_t goal);
  std::shared_future<std::shared_ptr<ArmTaskGoalHandle>> sendGrabGoal(uint64_t goal);
  void followGrabGoal(
      uint64_t goal, const std::shared_future<std::shared_ptr<ArmTaskGoalHandle>> & accepted);
  void checkGrabGoal(
      uint64_t goal, const ArmTaskGoalHandle & goal_handle,
      std::optional<rclcpp::Client<ArmTaskResultService>::FutureAndRequestId> & check);
  bool isAwaitedGrab(uint64_t goal);
  bool claimGrab(uint64_t goal);
  void giveUpGrab(uint64_t goal, const char * reason);
  void clearArmGrab();
  void armGrabGoalRespCb(uint64_t goal, const std::shared_ptr<ArmTaskGoalHandle> & goal_handle);
  void armGrabFeedbackCb(
      uint64_t goal, std::shared_ptr<ArmTaskGoalHandle> goal_handle,
      std::shared_ptr<const ArmTaskDecision::Feedback> feedback);
  void armGrabResultCb(uint64_t goal, const ArmTaskGoalHandle::WrappedResult & result);
  void runArmEstop(bool data);

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
  // How long the axis events after a hand-over are gathered before they go out together; 0: each
  // goes out at once, as a button does.
  std::chrono::milliseconds coalesce_interval_{kDefaultCoalesceIntervalMs};
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
  // Grab goals are numbered as they are admitted; an answer about a goal counts only while that
  // goal is the awaited one, so a late answer about a goal given up on changes nothing.
  uint64_t grab_goals_admitted_ = 0;
  uint64_t awaited_grab_goal_ = 0;  // 0: none
  // Stopping sends one zero motion command, after which nothing is published: a robot that
  // keeps its last command would otherwise keep moving.
  std::mutex motion_mutex_;
  bool motion_closed_ = false;
  rclcpp::PreShutdownCallbackHandle close_motion_at_shutdown_;
  rclcpp::Subscription<sensor_msgs::msg::Joy>::SharedPtr joy_sub_;
  rclcpp::Publisher<geometry_msgs::msg::Twist>::SharedPtr teleop_mov_pub_;
  rclcpp::Publisher<std_msgs::msg::Int32MultiArray>::SharedPtr ctrl_io_pub_;
  rclcpp::Publisher<std_msgs::msg::Bool>::SharedPtr space_exchange_pub_;
  rclcpp::Publisher<std_msgs::msg::String>::SharedPtr stop_pub_;
  rclcpp::Publisher<std_msgs::msg::Bool>::SharedPtr recover_pub_;
  rclcpp::Client<std_srvs::srv::SetBool>::SharedPtr estop_client_;
  rclcpp_action::Client<ArmTaskDecision>::SharedPtr arm_task_client_;
  rclcpp::Client<ArmTaskResultService>::SharedPtr arm_task_check_client_;
};

}  // namespace tavrin_arm_teleop

#endif  // TAVRIN_ARM_TELEOP__TELEOP_NODE_IMPL_HPP_
