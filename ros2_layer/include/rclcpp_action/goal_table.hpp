// What an action server keeps about its goals: each goal's lifecycle, its result once it has
// ended, and the result requests that arrived before that.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "action_msgs/msg/goal_status_array.hpp"
#include "action_msgs/srv/cancel_goal.hpp"
#include "rclcpp_action/types.hpp"
#include "rmw/types.h"

namespace rclcpp_action::detail {

/// What moves a goal from one status to the next, named as rcl_action names the events.
enum class GoalEvent { kExecute, kCancelGoal, kSucceed, kAbort, kCanceled };

/// True while a goal with this status has not ended (accepted, executing or canceling).
bool is_active_status(int8_t status);

/// The status of one accepted goal, changed only along the transitions that ROS 2 allows.
/// Thread-safe: a server's own threads end goals while the executor reads their status.
class GoalState {
public:
  /// The current status, one of GoalStatus::STATUS_*.
  int8_t status() const;

  /// Applies the event; returns false and keeps the status when the status does not allow it.
  bool apply(GoalEvent event);

  /// Ends a goal that has not ended yet as canceled; returns false when it had already ended.
  bool end_as_canceled();

private:
  bool apply_locked(GoalEvent event);

  mutable std::mutex mutex_;
  int8_t status_{GoalStatus::STATUS_ACCEPTED};
};

/// What a result request finds in the table.
struct ResultLookup {
  enum class Outcome { kReady, kWaiting, kUnknownGoal };
  Outcome outcome;
  std::shared_ptr<void> result;  ///< the stored result response when kReady
};

/// The goals one action server knows, in order of acceptance, each kept until its result has
/// been available for the result timeout. Thread-safe.
class GoalTable {
public:
  /// A table that forgets an ended goal `result_timeout` after it ended.
  explicit GoalTable(std::chrono::nanoseconds result_timeout);

  /// Registers an accepted goal; returns its state, or nullptr when the id is already known.
  std::shared_ptr<GoalState> add(const GoalInfo & info);

  /// Every known goal with its current status, in order of acceptance.
  action_msgs::msg::GoalStatusArray status_array() const;

  /// The goals that a cancel request selects, with the return code, as rcl_action decides:
  /// a goal id alone selects that goal; a stamp alone selects every goal accepted at or before
  /// it; both zero select every goal; both set select the union. Ended goals are never selected.
  action_msgs::srv::CancelGoal::Response select_for_cancel(const GoalInfo & request) const;

  /// Stores the result of a goal that has ended; returns the requests that were waiting for it.
  std::vector<rmw_request_id_t> store_result(const GoalUUID & id, std::shared_ptr<void> result);

  /// The stored result, or kWaiting after remembering `request` for store_result to answer.
  ResultLookup find_result(const GoalUUID & id, const rmw_request_id_t & request);

  /// Forgets the goals whose result has been kept longer than the result timeout by `now`.
  void expire_results(std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());

private:
  struct Entry {
    GoalInfo info;
    std::shared_ptr<GoalState> state;
    std::shared_ptr<void> result;
    std::vector<rmw_request_id_t> waiting_requests;
    std::chrono::steady_clock::time_point ended_at;
  };

  Entry * find_locked(const GoalUUID & id);

  const std::chrono::nanoseconds result_timeout_;
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace rclcpp_action::detail
