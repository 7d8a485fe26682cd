// The grab and emergency-stop workers: each request runs on a detached thread of its own, so a
// slow or absent arm never holds up the joystick; teardown ends their waits at once and waits
// until none of them is left.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "action_msgs/msg/goal_status.hpp"
#include "logging/global_logger.hpp"
#include "tavrin_arm_teleop/teleop_node_impl.hpp"

namespace tavrin_arm_teleop {

namespace {

using namespace std::chrono_literals;
using GoalStatus = action_msgs::msg::GoalStatus;

constexpr auto kActionServerWait = 3s;
constexpr auto kServiceWait = 2s;
constexpr auto kEstopAnswerWait = 3s;
// A server accepts or rejects a goal as soon as it reads it: a response this late was lost.
constexpr auto kGoalResponseWait = 3s;
// How often a running goal is checked with its server. A server restarted under the same name
// answers for the action while the old one's lease has not lapsed, and knows nothing of the
// goal: the check must tell within a second or two, so that the operator's next press counts.
constexpr auto kGoalCheckPeriod = 500ms;
// How often a wait looks at what it waits for; teardown ends a wait at once.
constexpr auto kWaitPollPeriod = 20ms;

// Process-wide, like the dispatcher's state: one emergency-stop request at a time per process.
std::atomic<bool> estop_inprogress{false};

template <typename Future>
bool isReady(const Future & future) {
  return future.wait_for(0s) == std::future_status::ready;
}

}  // namespace

void TeleopNode::Impl::joySendArmGrabAction() {
  if (arm_grab_inprogress_) {
    LOG_INFO("ArmTaskDecision goal inprogress, skip!");
    return;
  }
  arm_grab_inprogress_ = true;
  LOG_INFO("ArmTaskDecision goal start...");
  uint64_t goal = 0;
  {
    std::lock_guard<std::mutex> lock(task_mutex_);
    goal = awaited_grab_goal_ = ++grab_goals_admitted_;
  }
  if (!startWorker([this, goal] { runArmGrabTask(goal); })) {
    claimGrab(goal);
    clearArmGrab();
  }
}

void TeleopNode::Impl::joyRequestArmEstop(bool data) {
  if (estop_inprogress) {
    LOG_INFO("service request for /robot/estop_service inprogress, please wait...");
    return;
  }
  estop_inprogress = true;
  if (!startWorker([this, data] { runArmEstop(data); })) {
    estop_inprogress = false;
  }
}

template <typename Work>
bool TeleopNode::Impl::startWorker(Work work) {
  {
    std::lock_guard<std::mutex> lock(task_mutex_);
    ++running_workers_;
  }
  try {
    std::thread([this, work] {
      work();
      finishWorker();
    }).detach();
    return true;
  } catch (const std::system_error & error) {
    finishWorker();
    LOG_INFO("Failed to start a request thread: {}", error.what());
    return false;
  }
}

void TeleopNode::Impl::finishWorker() {
  // Notified under the lock: once teardown sees zero, this thread touches the Impl no more.
  std::lock_guard<std::mutex> lock(task_mutex_);
  --running_workers_;
  task_cv_.notify_all();
}

bool TeleopNode::Impl::stopping() const { return exit_flag_ || !rclcpp::ok(); }

bool TeleopNode::Impl::waitFor(
    std::chrono::steady_clock::duration timeout, const std::function<bool()> & done) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    const auto now = std::chrono::steady_clock::now();
    if (stopping() || now >= deadline) {
      return false;
    }
    // Teardown notifies under this lock: a node unloaded mid-request must not wait for it.
    std::unique_lock<std::mutex> lock(task_mutex_);
    task_cv_.wait_until(
        lock, std::min(deadline, now + kWaitPollPeriod), [this] { return exit_flag_.load(); });
  }
  return true;
}

void TeleopNode::Impl::runArmGrabTask(uint64_t goal) {
  LOG_INFO("Wait for ArmTaskDecision server...");
  try {
    if (!waitFor(
            kActionServerWait, [this] { return arm_task_client_->action_server_is_ready(); })) {
      claimGrab(goal);
      clearArmGrab();
      LOG_INFO("Action server not available after waiting");
      return;
    }
    LOG_INFO("Send goal to ArmTaskDecision!");
    followGrabGoal(goal, sendGrabGoal(goal));
  } catch (const std::exception & error) {
    if (claimGrab(goal)) {
      clearArmGrab();
    }
    LOG_INFO("ArmTaskDecision goal abandoned: {}", error.what());
    return;
  }
  if (!stopping()) {
    LOG_INFO("ArmTaskDecision goal finished!");
  }
}

std::shared_future<std::shared_ptr<ArmTaskGoalHandle>> TeleopNode::Impl::sendGrabGoal(
    uint64_t goal) {
  ArmTaskDecision::Goal task;
  task.task_type = 1;
  // Each answer carries the number of the goal it is about.
  rclcpp_action::Client<ArmTaskDecision>::SendGoalOptions options;
  options.goal_response_callback =
      std::bind(&Impl::armGrabGoalRespCb, this, goal, std::placeholders::_1);
  options.feedback_callback =
      std::bind(&Impl::armGrabFeedbackCb, this, goal, std::placeholders::_1, std::placeholders::_2);
  options.result_callback = std::bind(&Impl::armGrabResultCb, this, goal, std::placeholders::_1);
  return arm_task_client_->async_send_goal(task, options);
}

void TeleopNode::Impl::followGrabGoal(
    uint64_t goal, const std::shared_future<std::shared_ptr<ArmTaskGoalHandle>> & accepted) {
  const auto response_deadline = std::chrono::steady_clock::now() + kGoalResponseWait;
  std::optional<rclcpp::Client<ArmTaskResultService>::FutureAndRequestId> check;
  while (!waitFor(kGoalCheckPeriod, [this, goal] { return !isAwaitedGrab(goal); })) {
    if (stopping()) {
      break;
    }
    if (!isReady(accepted)) {
      if (std::chrono::steady_clock::now() >= response_deadline) {
        giveUpGrab(goal, "ArmTaskDecision goal response lost, stop waiting for it");
      }
      continue;
    }
    std::shared_ptr<ArmTaskGoalHandle> goal_handle;
    try {
      goal_handle = accepted.get();
    } catch (const std::exception &) {
      giveUpGrab(goal, "ArmTaskDecision goal dropped by the client, stop waiting for it");
      continue;
    }
    if (goal_handle) {  // a rejection is the goal-response callback's to report
      checkGrabGoal(goal, *goal_handle, check);
    }
  }
  if (check) {
    arm_task_check_client_->remove_pending_request(*check);
  }
}

void TeleopNode::Impl::checkGrabGoal(
    uint64_t goal, const ArmTaskGoalHandle & goal_handle,
    std::optional<rclcpp::Client<ArmTaskResultService>::FutureAndRequestId> & check) {
  if (!arm_task_client_->action_server_is_ready()) {
    giveUpGrab(goal, "ArmTaskDecision server lost, stop waiting for the result");
    return;
  }
  if (check && isReady(*check)) {
    const auto answer = check->get();
    check.reset();
    if (answer->status == GoalStatus::STATUS_UNKNOWN) {
      giveUpGrab(
          goal, "ArmTaskDecision server no longer knows the goal, stop waiting for the result");
      return;
    }
    // The server has the result, so the one it sent the goal's own request was lost.
    ArmTaskGoalHandle::WrappedResult result;
    result.goal_id = goal_handle.get_goal_id();
    result.code = static_cast<rclcpp_action::ResultCode>(answer->status);
    result.result = std::make_shared<ArmTaskDecision::Result>(answer->result);
    armGrabResultCb(goal, result);
    return;
  }
  // A server that still runs the goal holds the request until the goal ends; the next check
  // asks again, since the server that holds this one may be gone.
  if (check) {
    arm_task_check_client_->remove_pending_request(*check);
  }
  auto request = std::make_shared<ArmTaskResultService::Request>();
  request->goal_id.uuid = goal_handle.get_goal_id();
  check.emplace(arm_task_check_client_->async_send_request(request));
}

bool TeleopNode::Impl::isAwaitedGrab(uint64_t goal) {
  std::lock_guard<std::mutex> lock(task_mutex_);
  return awaited_grab_goal_ == goal;
}

bool TeleopNode::Impl::claimGrab(uint64_t goal) {
  // The first answer that ends the goal claims it; any other answer about it comes too late.
  std::lock_guard<std::mutex> lock(task_mutex_);
  if (awaited_grab_goal_ != goal) {
    return false;
  }
  awaited_grab_goal_ = 0;
  return true;
}

void TeleopNode::Impl::giveUpGrab(uint64_t goal, const char * reason) {
  if (claimGrab(goal)) {
    LOG_INFO("{}", reason);
    clearArmGrab();
  }
}

void TeleopNode::Impl::clearArmGrab() { arm_grab_inprogress_ = false; }

void TeleopNode::Impl::armGrabGoalRespCb(
    uint64_t goal, const std::shared_ptr<ArmTaskGoalHandle> & goal_handle) {
  if (goal_handle) {
    // The flag is already set; setting it here again could resurrect a task given up on.
    if (isAwaitedGrab(goal)) {
      LOG_INFO("Goal accepted by server, waiting for result");
    }
  } else if (claimGrab(goal)) {
    LOG_INFO("Goal was rejected by server");
    clearArmGrab();
  }
}

void TeleopNode::Impl::armGrabFeedbackCb(
    uint64_t goal, std::shared_ptr<ArmTaskGoalHandle> /*goal_handle*/,
    std::shared_ptr<const ArmTaskDecision::Feedback> feedback) {
  if (isAwaitedGrab(goal)) {
    LOG_INFO("ArmTaskDecision run_stage: {}", feedback->run_stage);
  }
}

void TeleopNode::Impl::armGrabResultCb(
    uint64_t goal, const ArmTaskGoalHandle::WrappedResult & result) {
  if (!claimGrab(goal)) {
    return;
  }
  switch (result.code) {
    case rclcpp_action::ResultCode::SUCCEEDED:
      LOG_INFO(
          "status: {}, status_code: {}, errmsg: {}", result.result->status,
          result.result->status_code, result.result->errmsg);
      break;
    case rclcpp_action::ResultCode::CANCELED:
      LOG_INFO("ArmTaskDecision Goal was canceled");
      break;
    case rclcpp_action::ResultCode::ABORTED:
      LOG_INFO("ArmTaskDecision Goal was aborted");
      break;
    default:
      LOG_INFO("ArmTaskDecision Unknown result code");
      break;
  }
  clearArmGrab();
}

void TeleopNode::Impl::runArmEstop(bool data) {
  // The button is freed before the outcome is logged: a press that follows the line must start
  // a new request, not be told that this one is still in progress.
  auto request = std::make_shared<std_srvs::srv::SetBool::Request>();
  request->data = data;
  try {
    if (!waitFor(kServiceWait, [this] { return estop_client_->service_is_ready(); })) {
      estop_inprogress = false;
      if (stopping()) {
        LOG_INFO("Interrupted while waiting for the /robot/estop_service service. Exiting.");
      } else {
        LOG_INFO("service /robot/estop_service not available, return...");
      }
      return;
    }
    auto answer = estop_client_->async_send_request(request);
    if (waitFor(kEstopAnswerWait, [&answer] { return isReady(answer); })) {
      const auto response = answer.get();
      estop_inprogress = false;
      LOG_INFO("result: {}, message: {}", response->success, response->message);
      return;
    }
    // Neither request may stay pending for ever: a node runs for days beside services that
    // never answer.
    estop_client_->remove_pending_request(answer);
    estop_client_->remove_pending_request(estop_client_->async_send_request(request));
    estop_inprogress = false;
    LOG_INFO("Failed to call service /robot/estop_service");
  } catch (const std::exception & error) {
    estop_inprogress = false;
    LOG_INFO("service /robot/estop_service request failed: {}", error.what());
  }
}

}  // namespace tavrin_arm_teleop
