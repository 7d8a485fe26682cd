// The client's view of one accepted goal: its id, status and result.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>

#include "action_msgs/msg/goal_status.hpp"
#include "rclcpp_action/exceptions.hpp"
#include "rclcpp_action/types.hpp"

namespace rclcpp_action {

/// How a goal ended, as the server reported it.
enum class ResultCode : int8_t {
  UNKNOWN = action_msgs::msg::GoalStatus::STATUS_UNKNOWN,
  SUCCEEDED = action_msgs::msg::GoalStatus::STATUS_SUCCEEDED,
  CANCELED = action_msgs::msg::GoalStatus::STATUS_CANCELED,
  ABORTED = action_msgs::msg::GoalStatus::STATUS_ABORTED
};

template <typename ActionT>
class Client;

/// Follows one goal that a server accepted; created by the Client, never by its user.
template <typename ActionT>
class ClientGoalHandle {
public:
  using SharedPtr = std::shared_ptr<ClientGoalHandle>;
  using ConstSharedPtr = std::shared_ptr<const ClientGoalHandle>;
  using WeakPtr = std::weak_ptr<ClientGoalHandle>;
  using UniquePtr = std::unique_ptr<ClientGoalHandle>;

  /// How the goal ended and the result that the server sent with it.
  struct WrappedResult {
    /// The id of the goal.
    GoalUUID goal_id;
    /// Whether the goal succeeded, was canceled or was aborted.
    ResultCode code;
    /// The result fields of the action.
    typename ActionT::Result::SharedPtr result;
  };

  using Feedback = typename ActionT::Feedback;
  using Result = typename ActionT::Result;
  using FeedbackCallback = std::function<void(
      typename ClientGoalHandle<ActionT>::SharedPtr, const std::shared_ptr<const Feedback>)>;
  using ResultCallback = std::function<void(const WrappedResult & result)>;

  ClientGoalHandle(const ClientGoalHandle &) = delete;
  ClientGoalHandle & operator=(const ClientGoalHandle &) = delete;
  virtual ~ClientGoalHandle();

  /// The id of the goal.
  const GoalUUID & get_goal_id() const;

  /// The last status that the server published for the goal, one of GoalStatus::STATUS_*.
  int8_t get_status();

  /// True when feedback for the goal reaches a callback.
  bool is_feedback_aware();

  /// True when the client has asked the server for the goal's result.
  bool is_result_aware();

private:
  friend class Client<ActionT>;

  ClientGoalHandle(
      const GoalInfo & info, FeedbackCallback feedback_callback, ResultCallback result_callback);

  void set_feedback_callback(FeedbackCallback callback);
  void set_result_callback(ResultCallback callback);
  void call_feedback_callback(
      typename ClientGoalHandle<ActionT>::SharedPtr shared_this,
      typename std::shared_ptr<const Feedback> feedback_message);

  /// A future for the result; throws UnawareGoalHandleError when no result was asked for.
  std::shared_future<WrappedResult> async_get_result();

  /// Marks the result as asked for; returns the previous awareness.
  bool set_result_awareness(bool awareness);

  void set_status(int8_t status);
  void set_result(const WrappedResult & wrapped_result);

  /// Fails the result future with `ex`, for a goal whose result will never arrive.
  void invalidate(const exceptions::UnawareGoalHandleError & ex);

  /// The error that invalidate() stored, or nullptr.
  std::exception_ptr invalidation() const;

  GoalInfo info_;
  std::exception_ptr invalidate_exception_{nullptr};
  bool is_result_aware_{false};
  bool has_result_{false};
  std::promise<WrappedResult> result_promise_;
  std::shared_future<WrappedResult> result_future_;
  FeedbackCallback feedback_callback_{nullptr};
  ResultCallback result_callback_{nullptr};
  int8_t status_{GoalStatus::STATUS_ACCEPTED};
  mutable std::mutex handle_mutex_;
};

}  // namespace rclcpp_action

#include "rclcpp_action/client_goal_handle_impl.hpp"  // IWYU pragma: export
