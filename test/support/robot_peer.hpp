// The arm's side of the ROS graph for tests: it drives "/joy", records every command the teleop
// node sends and serves the emergency-stop service and the arm task action.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "child_process.hpp"
#include "geometry_msgs/msg/twist.hpp"
#include "rclcpp/rclcpp.hpp"
#include "rclcpp_action/rclcpp_action.hpp"
#include "sensor_msgs/msg/joy.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/int32_multi_array.hpp"
#include "std_msgs/msg/string.hpp"
#include "std_srvs/srv/set_bool.hpp"
#include "tavrin_protocol/action/arm_task_decision.hpp"

namespace tavrin_test {

using tavrin_tools::ChildProcess;
using tavrin_tools::waitUntil;

/// A "/joy" sample's axes with the sticks centred and both triggers released.
inline const std::vector<float> kAtRest{0, 0, 1, 0, 0, 1};
// Its buttons by their default roles: 0 trigger reverse, 1 grab, 2 I/O off, 3 I/O on,
// 4 emergency stop, 6 joint space, 7 cartesian space.
inline const std::vector<int32_t> kReleased(8, 0);
inline const std::vector<int32_t> kGrab{0, 1, 0, 0, 0, 0, 0, 0};
inline const std::vector<int32_t> kEstop{0, 0, 0, 0, 1, 0, 0, 0};

/// How the arm task server treats a goal.
// kAcceptLate: succeeds, but answers the first goal only after 4 s, past the client's wait.
enum class ArmTaskBehaviour {
  kSucceed,
  kReject,
  kAbort,
  kCancelWhenAsked,
  kRunForever,
  kAcceptLate
};

/// How the emergency-stop service treats a request.
enum class EstopBehaviour { kAnswer, kSilent };

/// Which servers the peer runs; none by default.
struct PeerOptions {
  std::optional<EstopBehaviour> estop = {};
  std::optional<ArmTaskBehaviour> arm_task = {};
  std::string arm_task_action = "/tavrinpro_action/arm_task";
};

/// A peer that serves the arm task action as told.
PeerOptions armTaskServer(ArmTaskBehaviour behaviour);
/// A peer that serves the emergency-stop service as told.
PeerOptions estopServer(EstopBehaviour behaviour);

/// All six components of the motion command are 0.0.
bool isStill(const geometry_msgs::msg::Twist & twist);

/// Records everything the teleop node publishes, calls and sends; thread-safe.
class RobotPeer {
public:
  using ArmTaskDecision = tavrin_protocol::action::ArmTaskDecision;

  explicit RobotPeer(const PeerOptions & options = {});
  ~RobotPeer();

  RobotPeer(const RobotPeer &) = delete;
  RobotPeer & operator=(const RobotPeer &) = delete;

  /// True once samples on "/joy" reach the node under test and its motion commands reach us;
  /// each check costs one motion command.
  bool waitForTeleopNode(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  /// True once the node under test publishes motion commands (device and no-input modes).
  bool waitForMotionPublisher(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  void publishJoy(std::vector<float> axes, std::vector<int32_t> buttons);
  /// Publishes a sample and waits for the motion command it causes; false on timeout.
  bool sendJoy(std::vector<float> axes, std::vector<int32_t> buttons);

  std::vector<geometry_msgs::msg::Twist> twists() const { return copy(twists_); }
  std::vector<bool> spaces() const { return copy(spaces_); }
  std::vector<std::vector<int32_t>> ctrlIo() const;
  std::vector<std_msgs::msg::Int32MultiArray> ctrlIoMessages() const { return copy(ctrl_io_); }
  size_t stopAndRecoverCount() const { return copy(stop_and_recover_); }
  bool waitForTwists(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(20));
  std::vector<std::chrono::steady_clock::time_point> estopRequestTimes() const {
    return copy(estop_times_);
  }
  std::vector<bool> estopRequestValues() const { return copy(estop_values_); }
  std::vector<ArmTaskDecision::Goal> receivedGoals() const { return copy(goals_); }
  /// Asks the server, as a second client would, to cancel every goal.
  void cancelAllArmTasks();

  rclcpp::Node::SharedPtr node() const { return node_; }

private:
  template <typename T>
  T copy(const T & recorded) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return recorded;
  }
  template <typename Message, typename Record>
  rclcpp::SubscriptionBase::SharedPtr recorder(const std::string & topic, Record record);
  void createRecorders();
  void createEstopService(const PeerOptions & options);
  void createArmTaskServer(const PeerOptions & options);
  void executeArmTask(
      const std::shared_ptr<rclcpp_action::ServerGoalHandle<ArmTaskDecision>> & goal_handle);

  rclcpp::Node::SharedPtr node_;
  rclcpp::executors::SingleThreadedExecutor executor_;
  std::thread spinner_;
  mutable std::mutex mutex_;
  std::vector<geometry_msgs::msg::Twist> twists_;
  std::vector<bool> spaces_;
  std::vector<std_msgs::msg::Int32MultiArray> ctrl_io_;
  size_t stop_and_recover_ = 0;
  std::vector<std::chrono::steady_clock::time_point> estop_times_;
  std::vector<bool> estop_values_;
  std::vector<ArmTaskDecision::Goal> goals_;
  ArmTaskBehaviour arm_task_behaviour_ = ArmTaskBehaviour::kSucceed;
  std::atomic<bool> stopping_{false};
  std::vector<std::thread> task_threads_;
  rclcpp::Publisher<sensor_msgs::msg::Joy>::SharedPtr joy_pub_;
  std::vector<rclcpp::SubscriptionBase::SharedPtr> subscriptions_;
  rclcpp::SubscriptionBase::SharedPtr motion_recorder_;
  rclcpp::Service<std_srvs::srv::SetBool>::SharedPtr estop_service_;
  rclcpp_action::Server<ArmTaskDecision>::SharedPtr arm_task_server_;
  rclcpp_action::Client<ArmTaskDecision>::SharedPtr canceller_;
};

}  // namespace tavrin_test
