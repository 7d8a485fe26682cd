#include "robot_peer.hpp"

#include <algorithm>
#include <utility>

#include "child_process.hpp"

namespace tavrin_test {

using namespace std::chrono_literals;

bool isStill(const geometry_msgs::msg::Twist & twist) {
  return twist.linear.x == 0.0 && twist.linear.y == 0.0 && twist.linear.z == 0.0 &&
         twist.angular.x == 0.0 && twist.angular.y == 0.0 && twist.angular.z == 0.0;
}

PeerOptions armTaskServer(ArmTaskBehaviour behaviour) { return {.arm_task = behaviour}; }

PeerOptions estopServer(EstopBehaviour behaviour) { return {.estop = behaviour}; }

RobotPeer::RobotPeer(const PeerOptions & options)
    // Tests may run several peers at once: parameter services of one name would collide.
    : node_(std::make_shared<rclcpp::Node>(
          "robot_peer", rclcpp::NodeOptions().start_parameter_services(false))) {
  // Servers first: discovery announces our endpoints in the order they were made, so once
  // waitForTeleopNode() has seen the node answer our "/joy" writer, the node knows our servers'
  // reply writers too, and no first answer of theirs is dropped.
  if (options.estop) {
    createEstopService(options);
  }
  if (options.arm_task) {
    createArmTaskServer(options);
  }
  createRecorders();
  canceller_ = rclcpp_action::create_client<ArmTaskDecision>(node_, options.arm_task_action);
  executor_.add_node(node_);
  spinner_ = std::thread([this] { executor_.spin(); });
}

RobotPeer::~RobotPeer() {
  stopping_ = true;
  executor_.cancel();
  spinner_.join();
  for (auto & thread : task_threads_) {
    thread.join();
  }
}

template <typename Message, typename Record>
rclcpp::SubscriptionBase::SharedPtr RobotPeer::recorder(const std::string & topic, Record record) {
  return node_->create_subscription<Message>(
      topic, rclcpp::QoS(100), [this, record](std::shared_ptr<const Message> message) {
        std::lock_guard<std::mutex> lock(mutex_);
        record(*message);
      });
}

void RobotPeer::createRecorders() {
  using std_msgs::msg::Bool;
  joy_pub_ = node_->create_publisher<sensor_msgs::msg::Joy>("/joy", rclcpp::QoS(10));
  const auto stop_or_recover = [this](const auto &) { ++stop_and_recover_; };
  subscriptions_ = {
      recorder<Bool>(
          "/robot/teleop_space_exchange_topic",
          [this](const Bool & message) { spaces_.push_back(message.data); }),
      recorder<std_msgs::msg::Int32MultiArray>(
          "/robot/ctrl_io_topic", [this](const auto & message) { ctrl_io_.push_back(message); }),
      recorder<std_msgs::msg::String>("/robot/stop_topic", stop_or_recover),
      recorder<Bool>("/robot/recover_topic", stop_or_recover)};
  // Last: the node learns of our readers in the order we create them, so once a motion command
  // reaches this one, the node's writers know the other recorders too.
  motion_recorder_ = recorder<geometry_msgs::msg::Twist>(
      "/robot/teleop_mov_topic", [this](const auto & message) { twists_.push_back(message); });
}

void RobotPeer::createEstopService(const PeerOptions & options) {
  using SetBool = std_srvs::srv::SetBool;
  estop_service_ = node_->create_service<SetBool>(
      "/robot/estop_service",
      [this, answer = *options.estop == EstopBehaviour::kAnswer](
          std::shared_ptr<rmw_request_id_t> id, std::shared_ptr<SetBool::Request> request) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          estop_times_.push_back(std::chrono::steady_clock::now());
          estop_values_.push_back(request->data);
        }
        SetBool::Response response;
        response.success = true;
        response.message = "ok";
        if (answer) {
          estop_service_->send_response(*id, response);
        }
      });
}

void RobotPeer::createArmTaskServer(const PeerOptions & options) {
  using GoalHandle = rclcpp_action::ServerGoalHandle<ArmTaskDecision>;
  arm_task_behaviour_ = *options.arm_task;
  arm_task_server_ = rclcpp_action::create_server<ArmTaskDecision>(
      node_, options.arm_task_action,
      [this](const rclcpp_action::GoalUUID &, std::shared_ptr<const ArmTaskDecision::Goal> goal) {
        std::unique_lock<std::mutex> lock(mutex_);
        goals_.push_back(*goal);
        if (arm_task_behaviour_ == ArmTaskBehaviour::kAcceptLate && goals_.size() == 1) {
          lock.unlock();
          std::this_thread::sleep_for(4s);
        }
        return arm_task_behaviour_ == ArmTaskBehaviour::kReject
                   ? rclcpp_action::GoalResponse::REJECT
                   : rclcpp_action::GoalResponse::ACCEPT_AND_EXECUTE;
      },
      [](std::shared_ptr<GoalHandle>) { return rclcpp_action::CancelResponse::ACCEPT; },
      [this](std::shared_ptr<GoalHandle> goal_handle) {
        std::lock_guard<std::mutex> lock(mutex_);
        task_threads_.emplace_back([this, goal_handle] { executeArmTask(goal_handle); });
      });
}

void RobotPeer::executeArmTask(
    const std::shared_ptr<rclcpp_action::ServerGoalHandle<ArmTaskDecision>> & goal_handle) {
  auto result = std::make_shared<ArmTaskDecision::Result>();
  switch (arm_task_behaviour_) {
    case ArmTaskBehaviour::kSucceed:
    case ArmTaskBehaviour::kAcceptLate:
      // Humble's action client drops feedback that it takes before the goal response, and a
      // stage sent at once can arrive with the response: an arm needs a moment to start anyway.
      std::this_thread::sleep_for(500ms);
      for (int32_t stage = 1; stage <= 3; ++stage) {
        auto feedback = std::make_shared<ArmTaskDecision::Feedback>();
        feedback->run_stage = stage;
        goal_handle->publish_feedback(feedback);
        std::this_thread::sleep_for(50ms);
      }
      result->status = false;
      result->status_code = 3;
      result->errmsg = "x";
      goal_handle->succeed(result);
      return;
    case ArmTaskBehaviour::kAbort:
      goal_handle->abort(result);
      return;
    case ArmTaskBehaviour::kCancelWhenAsked:
      waitUntil([&] { return goal_handle->is_canceling() || stopping_; }, 60s);
      if (goal_handle->is_canceling()) {
        goal_handle->canceled(result);
      }
      return;
    case ArmTaskBehaviour::kRunForever:
    case ArmTaskBehaviour::kReject:
      waitUntil([&] { return stopping_.load(); }, std::chrono::hours(1));
      return;
  }
}

bool RobotPeer::waitForTeleopNode(std::chrono::milliseconds timeout) {
  // The node answers a probe within milliseconds; one unanswered for this long was lost.
  constexpr std::chrono::milliseconds kProbeAnswerWait = 2s;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  if (!waitUntil([this] { return joy_pub_->get_subscription_count() > 0; }, timeout) ||
      !waitForMotionPublisher(timeout)) {
    return false;
  }
  // Those counts are our side of each match only. Until the node has discovered our "/joy"
  // writer and our motion recorder as well, DDS drops what crosses the half-made match, and the
  // test's first press or the command it causes is lost for good. So we probe with an empty
  // sample (no motion, no button) until a motion command comes back.
  const size_t before = twists().size();
  size_t probes = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    publishJoy({}, {});
    ++probes;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (waitForTwists(before + 1, std::min(kProbeAnswerWait, left))) {
      if (probes > 1) {
        // A probe taken for lost may still be answered: let that land before anyone counts.
        waitForTwists(before + probes, kProbeAnswerWait);
      }
      return true;
    }
  }
  return false;
}

bool RobotPeer::waitForMotionPublisher(std::chrono::milliseconds timeout) {
  return waitUntil([this] { return motion_recorder_->get_publisher_count() > 0; }, timeout);
}

void RobotPeer::publishJoy(std::vector<float> axes, std::vector<int32_t> buttons) {
  sensor_msgs::msg::Joy msg;
  msg.header.stamp = node_->get_clock()->now();
  msg.axes = std::move(axes);
  msg.buttons = std::move(buttons);
  joy_pub_->publish(msg);
}

bool RobotPeer::sendJoy(std::vector<float> axes, std::vector<int32_t> buttons) {
  const size_t before = twists().size();
  publishJoy(std::move(axes), std::move(buttons));
  return waitForTwists(before + 1);
}

bool RobotPeer::waitForTwists(size_t count, std::chrono::milliseconds timeout) {
  return waitUntil([&] { return twists().size() >= count; }, timeout);
}

std::vector<std::vector<int32_t>> RobotPeer::ctrlIo() const {
  std::vector<std::vector<int32_t>> data;
  for (const auto & msg : ctrlIoMessages()) {
    data.push_back(msg.data);
  }
  return data;
}

void RobotPeer::cancelAllArmTasks() {
  canceller_->wait_for_action_server(10s);
  canceller_->async_cancel_all_goals();
}

}  // namespace tavrin_test
