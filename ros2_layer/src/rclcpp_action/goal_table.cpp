#include "rclcpp_action/goal_table.hpp"

#include <algorithm>
#include <iterator>
#include <limits>
#include <utility>

namespace rclcpp_action::detail {

namespace {

struct Transition {
  int8_t from;
  GoalEvent event;
  int8_t to;
};

// The goal state machine of rcl_action: every transition that is not listed is refused.
constexpr Transition kTransitions[] = {
    {GoalStatus::STATUS_ACCEPTED, GoalEvent::kExecute, GoalStatus::STATUS_EXECUTING},
    {GoalStatus::STATUS_ACCEPTED, GoalEvent::kCancelGoal, GoalStatus::STATUS_CANCELING},
    {GoalStatus::STATUS_EXECUTING, GoalEvent::kCancelGoal, GoalStatus::STATUS_CANCELING},
    {GoalStatus::STATUS_EXECUTING, GoalEvent::kSucceed, GoalStatus::STATUS_SUCCEEDED},
    {GoalStatus::STATUS_EXECUTING, GoalEvent::kAbort, GoalStatus::STATUS_ABORTED},
    {GoalStatus::STATUS_CANCELING, GoalEvent::kSucceed, GoalStatus::STATUS_SUCCEEDED},
    {GoalStatus::STATUS_CANCELING, GoalEvent::kAbort, GoalStatus::STATUS_ABORTED},
    {GoalStatus::STATUS_CANCELING, GoalEvent::kCanceled, GoalStatus::STATUS_CANCELED},
};

int64_t to_nanoseconds(const builtin_interfaces::msg::Time & stamp) {
  return int64_t{stamp.sec} * 1'000'000'000 + stamp.nanosec;
}

bool is_zero(const GoalUUID & id) {
  return std::all_of(id.begin(), id.end(), [](uint8_t byte) { return byte == 0; });
}

bool is_cancelable(int8_t status) {
  return status == GoalStatus::STATUS_ACCEPTED || status == GoalStatus::STATUS_EXECUTING;
}

}  // namespace

bool is_active_status(int8_t status) {
  return is_cancelable(status) || status == GoalStatus::STATUS_CANCELING;
}

int8_t GoalState::status() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

bool GoalState::apply(GoalEvent event) {
  std::lock_guard<std::mutex> lock(mutex_);
  return apply_locked(event);
}

bool GoalState::end_as_canceled() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (is_cancelable(status_)) {
    apply_locked(GoalEvent::kCancelGoal);
  }
  return apply_locked(GoalEvent::kCanceled);
}

bool GoalState::apply_locked(GoalEvent event) {
  for (const Transition & transition : kTransitions) {
    if (transition.from == status_ && transition.event == event) {
      status_ = transition.to;
      return true;
    }
  }
  return false;
}

GoalTable::GoalTable(std::chrono::nanoseconds result_timeout) : result_timeout_(result_timeout) {}

std::shared_ptr<GoalState> GoalTable::add(const GoalInfo & info) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (find_locked(info.goal_id.uuid) != nullptr) {
    return nullptr;
  }
  auto state = std::make_shared<GoalState>();
  entries_.push_back(Entry{info, state, nullptr, {}, {}});
  return state;
}

action_msgs::msg::GoalStatusArray GoalTable::status_array() const {
  std::lock_guard<std::mutex> lock(mutex_);
  action_msgs::msg::GoalStatusArray array;
  array.status_list.reserve(entries_.size());
  for (const Entry & entry : entries_) {
    GoalStatus status;
    status.goal_info = entry.info;
    status.status = entry.state->status();
    array.status_list.push_back(status);
  }
  return array;
}

action_msgs::srv::CancelGoal::Response GoalTable::select_for_cancel(
    const GoalInfo & request) const {
  using Response = action_msgs::srv::CancelGoal::Response;
  const GoalUUID & requested_id = request.goal_id.uuid;
  int64_t requested_stamp = to_nanoseconds(request.stamp);
  std::lock_guard<std::mutex> lock(mutex_);
  Response response;
  if (!is_zero(requested_id) && requested_stamp == 0) {
    auto entry = std::find_if(entries_.begin(), entries_.end(), [&](const Entry & candidate) {
      return candidate.info.goal_id.uuid == requested_id;
    });
    if (entry == entries_.end()) {
      response.return_code = Response::ERROR_UNKNOWN_GOAL_ID;
    } else if (!is_cancelable(entry->state->status())) {
      response.return_code = Response::ERROR_GOAL_TERMINATED;
    } else {
      response.return_code = Response::ERROR_NONE;
      response.goals_canceling.push_back(entry->info);
    }
    return response;
  }
  if (is_zero(requested_id) && requested_stamp == 0) {
    requested_stamp = std::numeric_limits<int64_t>::max();
  }
  response.return_code = Response::ERROR_NONE;
  for (const Entry & entry : entries_) {
    bool selected = to_nanoseconds(entry.info.stamp) <= requested_stamp ||
                    entry.info.goal_id.uuid == requested_id;
    if (selected && is_cancelable(entry.state->status())) {
      response.goals_canceling.push_back(entry.info);
    }
  }
  return response;
}

std::vector<rmw_request_id_t> GoalTable::store_result(
    const GoalUUID & id, std::shared_ptr<void> result) {
  std::lock_guard<std::mutex> lock(mutex_);
  Entry * entry = find_locked(id);
  if (entry == nullptr) {
    return {};
  }
  entry->result = std::move(result);
  entry->ended_at = std::chrono::steady_clock::now();
  return std::exchange(entry->waiting_requests, {});
}

ResultLookup GoalTable::find_result(const GoalUUID & id, const rmw_request_id_t & request) {
  std::lock_guard<std::mutex> lock(mutex_);
  Entry * entry = find_locked(id);
  if (entry == nullptr) {
    return {ResultLookup::Outcome::kUnknownGoal, nullptr};
  }
  if (entry->result) {
    return {ResultLookup::Outcome::kReady, entry->result};
  }
  entry->waiting_requests.push_back(request);
  return {ResultLookup::Outcome::kWaiting, nullptr};
}

void GoalTable::expire_results(std::chrono::steady_clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(entries_, [&](const Entry & entry) {
    return entry.result && now - entry.ended_at > result_timeout_;
  });
}

GoalTable::Entry * GoalTable::find_locked(const GoalUUID & id) {
  auto entry = std::find_if(entries_.begin(), entries_.end(), [&](const Entry & candidate) {
    return candidate.info.goal_id.uuid == id;
  });
  return entry == entries_.end() ? nullptr : &*entry;
}

}  // namespace rclcpp_action::detail
