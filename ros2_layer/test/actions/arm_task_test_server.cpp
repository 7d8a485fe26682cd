// An ArmTaskDecision server for the action tests, run as its own process:
//   arm_task_test_server ACTION_NAME BEHAVIOUR
// BEHAVIOUR: succeed (feedback 1, 2, 3, then a result describing the goal received),
// reject, abort, cancel (waits for a cancel request, then ends canceled), slow (succeeds
// after 1.5 s without feedback). Goals run on threads of their own, as a robot's server does.
#include <chrono>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "rclcpp/rclcpp.hpp"
#include "rclcpp_action/rclcpp_action.hpp"
#include "tavrin_protocol/action/arm_task_decision.hpp"

namespace {

using ArmTaskDecision = tavrin_protocol::action::ArmTaskDecision;
using GoalHandle = rclcpp_action::ServerGoalHandle<ArmTaskDecision>;

std::string describe(const ArmTaskDecision::Goal & goal) {
  std::ostringstream text;
  text << "arm_id=" << goal.arm_id << " task_type=" << goal.task_type
       << " speed_scale=" << goal.speed_scale << " w=" << goal.object_pose.orientation.w << ","
       << goal.place_pose.orientation.w << "," << goal.approach_pose.orientation.w
       << " x=" << goal.object_pose.position.x << " size_z=" << goal.object_size.z;
  return text.str();
}

std::shared_ptr<ArmTaskDecision::Result> result(bool status, int code, std::string errmsg) {
  auto result = std::make_shared<ArmTaskDecision::Result>();
  result->status = status;
  result->status_code = code;
  result->errmsg = std::move(errmsg);
  return result;
}

void run(const std::shared_ptr<GoalHandle> & goal_handle, const std::string & behaviour) {
  using namespace std::chrono_literals;
  if (behaviour == "succeed") {
    // A head start for the goal response, which the client must see before any feedback.
    std::this_thread::sleep_for(300ms);
    for (int stage = 1; stage <= 3; ++stage) {
      auto feedback = std::make_shared<ArmTaskDecision::Feedback>();
      feedback->run_stage = stage;
      goal_handle->publish_feedback(feedback);
      std::this_thread::sleep_for(100ms);
    }
    goal_handle->succeed(result(true, 7, describe(*goal_handle->get_goal())));
  } else if (behaviour == "abort") {
    goal_handle->abort(result(false, -3, "gripper blocked"));
  } else if (behaviour == "cancel") {
    while (!goal_handle->is_canceling() && rclcpp::ok()) {
      std::this_thread::sleep_for(10ms);
    }
    if (goal_handle->is_canceling()) {
      goal_handle->canceled(result(false, 5, "stopped on request"));
    }
  } else if (behaviour == "slow") {
    std::this_thread::sleep_for(1500ms);
    goal_handle->succeed(result(true, 1, "done late"));
  }
}

}  // namespace

int main(int argc, char ** argv) {
  rclcpp::init(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s ACTION_NAME BEHAVIOUR\n", argv[0]);
    return 2;
  }
  const std::string action_name = argv[1];
  const std::string behaviour = argv[2];
  auto node = std::make_shared<rclcpp::Node>("arm_task_test_server");
  std::vector<std::thread> goal_threads;
  auto server = rclcpp_action::create_server<ArmTaskDecision>(
      node, action_name,
      [&](const rclcpp_action::GoalUUID &, std::shared_ptr<const ArmTaskDecision::Goal>) {
        return behaviour == "reject" ? rclcpp_action::GoalResponse::REJECT
                                     : rclcpp_action::GoalResponse::ACCEPT_AND_EXECUTE;
      },
      [](std::shared_ptr<GoalHandle>) { return rclcpp_action::CancelResponse::ACCEPT; },
      [&](std::shared_ptr<GoalHandle> goal_handle) {
        goal_threads.emplace_back(run, goal_handle, behaviour);
      });
  rclcpp::spin(node);
  for (auto & thread : goal_threads) {
    thread.join();
  }
  rclcpp::shutdown();
  return 0;
}
