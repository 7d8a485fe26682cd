// How an action server decides which goals a cancel request reaches, and the goal lifecycle.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <tuple>
#include <vector>

#include "rclcpp_action/goal_table.hpp"

namespace {

using rclcpp_action::GoalInfo;
using rclcpp_action::GoalStatus;
using rclcpp_action::detail::GoalEvent;
using rclcpp_action::detail::GoalTable;
using CancelResponse = action_msgs::srv::CancelGoal::Response;

GoalInfo goal(uint8_t id, int32_t accepted_at_second) {
  GoalInfo info;
  info.goal_id.uuid[0] = id;
  info.stamp.sec = accepted_at_second;
  return info;
}

TEST(CancelSelection, ByIdByStampOrEveryActiveGoalOrSaysWhyNot) {
  GoalTable table{std::chrono::minutes(15)};
  table.add(goal(1, 10));
  table.add(goal(2, 20))->apply(GoalEvent::kExecute);
  auto ended = table.add(goal(3, 30));
  ended->apply(GoalEvent::kExecute);
  ended->apply(GoalEvent::kSucceed);
  table.add(goal(4, 40));
  // A stamp selects the active goals accepted at or before it, plus the goal it names.
  for (const auto & [request, code, selected] :
       std::vector<std::tuple<GoalInfo, int8_t, std::vector<uint8_t>>>{
           {goal(2, 0), CancelResponse::ERROR_NONE, {2}},
           {goal(3, 0), CancelResponse::ERROR_GOAL_TERMINATED, {}},
           {goal(9, 0), CancelResponse::ERROR_UNKNOWN_GOAL_ID, {}},
           {goal(0, 30), CancelResponse::ERROR_NONE, {1, 2}},
           {goal(4, 20), CancelResponse::ERROR_NONE, {1, 2, 4}},
           {goal(0, 0), CancelResponse::ERROR_NONE, {1, 2, 4}},
       }) {
    const CancelResponse response = table.select_for_cancel(request);
    std::vector<uint8_t> ids;
    for (const GoalInfo & info : response.goals_canceling) {
      ids.push_back(info.goal_id.uuid[0]);
    }
    EXPECT_EQ(response.return_code, code);
    EXPECT_EQ(ids, selected);
  }
}

TEST(GoalState, FollowsTheActionLifecycleOnly) {
  rclcpp_action::detail::GoalState state;
  EXPECT_FALSE(state.apply(GoalEvent::kSucceed));  // accepted goals must execute first
  EXPECT_TRUE(state.apply(GoalEvent::kExecute));
  EXPECT_FALSE(state.apply(GoalEvent::kCanceled));  // only a canceling goal ends canceled
  EXPECT_TRUE(state.apply(GoalEvent::kCancelGoal));
  EXPECT_TRUE(state.apply(GoalEvent::kAbort));  // a canceling goal may still abort
  EXPECT_EQ(state.status(), GoalStatus::STATUS_ABORTED);
  EXPECT_FALSE(state.end_as_canceled());
}

TEST(GoalTableResults, RequestBeforeTheEndIsAnsweredWhenTheResultIsStored) {
  GoalTable table{std::chrono::minutes(15)};
  table.add(goal(1, 10));
  rmw_request_id_t early{};
  early.sequence_number = 41;

  EXPECT_EQ(
      table.find_result(goal(1, 0).goal_id.uuid, early).outcome,
      rclcpp_action::detail::ResultLookup::Outcome::kWaiting);
  auto waiting = table.store_result(goal(1, 0).goal_id.uuid, std::make_shared<int>(7));

  ASSERT_EQ(waiting.size(), 1u);
  EXPECT_EQ(waiting[0].sequence_number, 41);
  table.expire_results(std::chrono::steady_clock::now() + std::chrono::minutes(16));
  EXPECT_EQ(
      table.find_result(goal(1, 0).goal_id.uuid, early).outcome,
      rclcpp_action::detail::ResultLookup::Outcome::kUnknownGoal);
}

}  // namespace
