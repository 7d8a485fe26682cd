// The handle through which an action server's code drives one accepted goal to its end.
#pragma once

#include <functional>
#include <memory>

#include "action_msgs/msg/goal_status.hpp"
#include "rclcpp_action/types.hpp"

namespace rclcpp_action {

namespace detail {
class GoalState;
enum class GoalEvent;
}  // namespace detail

/// The type-independent part of a server goal handle: the goal's status and its transitions.
class ServerGoalHandleBase {
public:
  /// True when a cancel request for this goal has been accepted and the goal has not ended.
  bool is_canceling() const;

  /// True until the goal reaches a terminal state (succeeded, aborted or canceled).
  bool is_active() const;

  /// True only while the goal is executing.
  bool is_executing() const;

  virtual ~ServerGoalHandleBase();

protected:
  explicit ServerGoalHandleBase(std::shared_ptr<detail::GoalState> state);

  /// Apply one lifecycle event each; throw rclcpp::exceptions::RCLError when the goal's status
  /// does not allow it.
  void _abort();
  void _succeed();
  void _cancel_goal();
  void _canceled();
  void _execute();

  /// Ends the goal as canceled if it has not ended; true when it did so.
  bool try_canceling() noexcept;

private:
  void transition(detail::GoalEvent event, const char * event_name);

  std::shared_ptr<detail::GoalState> state_;
};

template <typename ActionT>
class Server;

/// Reports the progress and the end of one accepted goal; created by the Server. Every member
/// may be called from any thread.
template <typename ActionT>
class ServerGoalHandle : public ServerGoalHandleBase {
  using FeedbackMessage = typename ActionT::Impl::FeedbackMessage;
  using ResultResponse = typename ActionT::Impl::GetResultService::Response;

public:
  /// Publishes feedback about this goal to every client.
  void publish_feedback(std::shared_ptr<typename ActionT::Feedback> feedback_msg) {
    auto feedback_message = std::make_shared<FeedbackMessage>();
    feedback_message->goal_id.uuid = uuid_;
    feedback_message->feedback = *feedback_msg;
    publish_feedback_(feedback_message);
  }

  /// Ends an executing or canceling goal as aborted. Throws rclcpp::exceptions::RCLError otherwise.
  void abort(typename ActionT::Result::SharedPtr result_msg) {
    _abort();
    end_with(action_msgs::msg::GoalStatus::STATUS_ABORTED, *result_msg);
  }

  /// Ends an executing or canceling goal as succeeded. Throws rclcpp::exceptions::RCLError otherwise.
  void succeed(typename ActionT::Result::SharedPtr result_msg) {
    _succeed();
    end_with(action_msgs::msg::GoalStatus::STATUS_SUCCEEDED, *result_msg);
  }

  /// Ends a canceling goal as canceled. Throws rclcpp::exceptions::RCLError otherwise.
  void canceled(typename ActionT::Result::SharedPtr result_msg) {
    _canceled();
    end_with(action_msgs::msg::GoalStatus::STATUS_CANCELED, *result_msg);
  }

  /// Moves an accepted (deferred) goal to executing. Throws rclcpp::exceptions::RCLError otherwise.
  void execute() {
    _execute();
    on_executing_(uuid_);
  }

  /// The goal as the client sent it.
  const std::shared_ptr<const typename ActionT::Goal> get_goal() const { return goal_; }

  /// The id that the client gave the goal.
  const GoalUUID & get_goal_id() const { return uuid_; }

  /// Ends the goal as canceled when its handle is dropped before the goal ended, so that
  /// clients waiting for the result get one.
  ~ServerGoalHandle() override {
    if (try_canceling()) {
      end_with(action_msgs::msg::GoalStatus::STATUS_CANCELED, typename ActionT::Result());
    }
  }

protected:
  using TerminalCallback = std::function<void(const GoalUUID &, std::shared_ptr<void>)>;
  using ExecutingCallback = std::function<void(const GoalUUID &)>;
  using FeedbackPublisher = std::function<void(std::shared_ptr<FeedbackMessage>)>;

  ServerGoalHandle(
      std::shared_ptr<detail::GoalState> state, GoalUUID uuid,
      std::shared_ptr<const typename ActionT::Goal> goal, TerminalCallback on_terminal_state,
      ExecutingCallback on_executing, FeedbackPublisher publish_feedback)
      : ServerGoalHandleBase(std::move(state))
      , goal_(std::move(goal))
      , uuid_(uuid)
      , on_terminal_state_(std::move(on_terminal_state))
      , on_executing_(std::move(on_executing))
      , publish_feedback_(std::move(publish_feedback)) {}

  /// The goal as the client sent it.
  const std::shared_ptr<const typename ActionT::Goal> goal_;

  /// The id that the client gave the goal.
  const GoalUUID uuid_;

  friend class Server<ActionT>;

private:
  void end_with(int8_t status, const typename ActionT::Result & result) {
    auto response = std::make_shared<ResultResponse>();
    response->status = status;
    response->result = result;
    on_terminal_state_(uuid_, response);
  }

  TerminalCallback on_terminal_state_;
  ExecutingCallback on_executing_;
  FeedbackPublisher publish_feedback_;
};

}  // namespace rclcpp_action
