#include "rclcpp_action/server_goal_handle.hpp"

#include <string>
#include <utility>

#include "rclcpp/exceptions.hpp"
#include "rclcpp_action/goal_table.hpp"

namespace rclcpp_action {

namespace {
constexpr int kGoalEventInvalid = 2301;  // RCL_RET_ACTION_GOAL_EVENT_INVALID
}  // namespace

ServerGoalHandleBase::ServerGoalHandleBase(std::shared_ptr<detail::GoalState> state)
    : state_(std::move(state)) {}

ServerGoalHandleBase::~ServerGoalHandleBase() = default;

bool ServerGoalHandleBase::is_canceling() const {
  return state_->status() == GoalStatus::STATUS_CANCELING;
}

bool ServerGoalHandleBase::is_active() const { return detail::is_active_status(state_->status()); }

bool ServerGoalHandleBase::is_executing() const {
  return state_->status() == GoalStatus::STATUS_EXECUTING;
}

void ServerGoalHandleBase::_abort() { transition(detail::GoalEvent::kAbort, "abort"); }

void ServerGoalHandleBase::_succeed() { transition(detail::GoalEvent::kSucceed, "succeed"); }

void ServerGoalHandleBase::_cancel_goal() {
  transition(detail::GoalEvent::kCancelGoal, "cancel_goal");
}

void ServerGoalHandleBase::_canceled() { transition(detail::GoalEvent::kCanceled, "canceled"); }

void ServerGoalHandleBase::_execute() { transition(detail::GoalEvent::kExecute, "execute"); }

bool ServerGoalHandleBase::try_canceling() noexcept { return state_->end_as_canceled(); }

void ServerGoalHandleBase::transition(detail::GoalEvent event, const char * event_name) {
  if (!state_->apply(event)) {
    throw rclcpp::exceptions::RCLError(
        kGoalEventInvalid,
        std::string("goal event '") + event_name + "' is not allowed in goal status " +
            std::to_string(state_->status()),
        "");
  }
}

}  // namespace rclcpp_action
