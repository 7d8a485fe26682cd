// The grab and emergency-stop workers: each request runs on a detached thread of its own, so a
// slow or absent arm never holds up the joystick; teardown waits until none of them is left.
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "logging/global_logger.hpp"
#include "tavrin_arm_teleop/teleop_node_impl.hpp"

namespace tavrin_arm_teleop {

namespace {

using namespace std::chrono_literals;

// A running grab task is checked against its server this often, so that a vanished server
// does not lock the grab button for ever.
constexpr auto kGrabServerCheckPeriod = 1s;
constexpr auto kEstopAnswerPollPeriod = 20ms;

// Process-wide, like the dispatcher's state: one emergency-stop request at a time per process.
std::atomic<bool> estop_inprogress{false};

}  // namespace

void TeleopNode::Impl::joySendArmGrabAction() {
  if (arm_grab_inprogress_) {
    LOG_INFO("ArmTaskDecision goal inprogress, skip!");
    return;
  }
  arm_grab_inprogress_ = true;
  LOG_INFO("ArmTaskDecision goal start...");
  if (!startWorker([this] { runArmGrabTask(); })) {
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

void TeleopNode::Impl::runArmGrabTask() {
  LOG_INFO("Wait for ArmTaskDecision server...");
  try {
    if (!arm_task_client_->wait_for_action_server(3s)) {
      clearArmGrab();
      LOG_INFO("Action server not available after waiting");
      return;
    }
    LOG_INFO("Send goal to ArmTaskDecision!");
    ArmTaskDecision::Goal goal;
    goal.task_type = 1;
    rclcpp_action::Client<ArmTaskDecision>::SendGoalOptions options;
    options.goal_response_callback =
        std::bind(&Impl::armGrabGoalRespCb, this, std::placeholders::_1);
    options.feedback_callback =
        std::bind(&Impl::armGrabFeedbackCb, this, std::placeholders::_1, std::placeholders::_2);
    options.result_callback = std::bind(&Impl::armGrabResultCb, this, std::placeholders::_1);
    arm_task_client_->async_send_goal(goal, options);
  } catch (const std::exception & error) {
    clearArmGrab();
    LOG_INFO("ArmTaskDecision goal not sent: {}", error.what());
    return;
  }
  waitForGrabEnd();
  LOG_INFO("ArmTaskDecision goal finished!");
}

void TeleopNode::Impl::waitForGrabEnd() {
  std::unique_lock<std::mutex> lock(task_mutex_);
  while (arm_grab_inprogress_ && !exit_flag_) {
    if (task_cv_.wait_for(
            lock, kGrabServerCheckPeriod, [this] { return !arm_grab_inprogress_ || exit_flag_; })) {
      return;
    }
    lock.unlock();
    const bool server_present = arm_task_client_->action_server_is_ready();
    lock.lock();
    if (!server_present && arm_grab_inprogress_) {
      // Its result will never come: free the grab button for when the server is back.
      arm_grab_inprogress_ = false;
      lock.unlock();
      LOG_INFO("ArmTaskDecision server lost, stop waiting for the result");
      return;
    }
  }
}

void TeleopNode::Impl::clearArmGrab() {
  {
    std::lock_guard<std::mutex> lock(task_mutex_);
    arm_grab_inprogress_ = false;
  }
  task_cv_.notify_all();
}

void TeleopNode::Impl::armGrabGoalRespCb(const std::shared_ptr<ArmTaskGoalHandle> & goal_handle) {
  if (goal_handle) {
    // The flag is already set; setting it here again could resurrect a task given up on.
    LOG_INFO("Goal accepted by server, waiting for result");
  } else {
    LOG_INFO("Goal was rejected by server");
    clearArmGrab();
  }
}

void TeleopNode::Impl::armGrabFeedbackCb(
    std::shared_ptr<ArmTaskGoalHandle> /*goal_handle*/,
    std::shared_ptr<const ArmTaskDecision::Feedback> feedback) {
  LOG_INFO("ArmTaskDecision run_stage: {}", feedback->run_stage);
}

void TeleopNode::Impl::armGrabResultCb(const ArmTaskGoalHandle::WrappedResult & result) {
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
    if (!estop_client_->wait_for_service(2s)) {
      estop_inprogress = false;
      if (!rclcpp::ok()) {
        LOG_INFO("Interrupted while waiting for the /robot/estop_service service. Exiting.");
      } else {
        LOG_INFO("service /robot/estop_service not available, return...");
      }
      return;
    }
    auto answer = estop_client_->async_send_request(request);
    if (awaitEstopAnswer(answer)) {
      const auto response = answer.get();
      estop_inprogress = false;
      LOG_INFO("result: {}, message: {}", response->success, response->message);
    } else {
      static_cast<void>(estop_client_->async_send_request(request));
      estop_inprogress = false;
      LOG_INFO("Failed to call service /robot/estop_service");
    }
  } catch (const std::exception & error) {
    estop_inprogress = false;
    LOG_INFO("service /robot/estop_service request failed: {}", error.what());
  }
}

bool TeleopNode::Impl::awaitEstopAnswer(
    rclcpp::Client<std_srvs::srv::SetBool>::FutureAndRequestId & answer) {
  const auto deadline = std::chrono::steady_clock::now() + 3s;
  while (rclcpp::ok() && !exit_flag_ && std::chrono::steady_clock::now() < deadline) {
    if (answer.wait_for(kEstopAnswerPollPeriod) == std::future_status::ready) {
      return true;
    }
  }
  return false;
}

}  // namespace tavrin_arm_teleop
