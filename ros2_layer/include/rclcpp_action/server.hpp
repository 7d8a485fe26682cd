// The action server: accepts goals, answers cancel and result requests, publishes status.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "rclcpp/exceptions.hpp"
#include "rclcpp/node.hpp"
#include "rclcpp/publisher.hpp"
#include "rclcpp/service.hpp"
#include "rclcpp_action/goal_table.hpp"
#include "rclcpp_action/options.hpp"
#include "rclcpp_action/qos.hpp"
#include "rclcpp_action/server_goal_handle.hpp"
#include "rclcpp_action/types.hpp"

namespace rclcpp_action {

/// The server's answer to a goal request.
enum class GoalResponse : int8_t {
  /// The goal is rejected and will not be executed.
  REJECT = 1,
  /// The goal is accepted and starts executing at once.
  ACCEPT_AND_EXECUTE = 2,
  /// The goal is accepted; the server calls execute() on its handle later.
  ACCEPT_AND_DEFER = 3,
};

/// The server's answer to a request to cancel a goal.
enum class CancelResponse : int8_t {
  /// The server will not try to cancel the goal.
  REJECT = 1,
  /// The server will try to cancel the goal and ends it with canceled() when it can.
  ACCEPT = 2,
};

template <typename ActionT>
class Server;

namespace detail {

/// Builds a server and then its entities, whose callbacks need the server's shared ownership.
template <typename ActionT>
std::shared_ptr<Server<ActionT>> make_server(
    rclcpp::Node & node, const std::string & name,
    typename Server<ActionT>::GoalCallback handle_goal,
    typename Server<ActionT>::CancelCallback handle_cancel,
    typename Server<ActionT>::AcceptedCallback handle_accepted,
    const rcl_action_server_options_t & options, rclcpp::CallbackGroup::SharedPtr group);

}  // namespace detail

/// Serves goals of one action type. The three callbacks run on the executor that spins the
/// node and must not block; goals are then driven through their ServerGoalHandle, from any
/// thread. Create it with create_server().
template <typename ActionT>
class Server : public std::enable_shared_from_this<Server<ActionT>> {
public:
  using SharedPtr = std::shared_ptr<Server>;
  using ConstSharedPtr = std::shared_ptr<const Server>;
  using WeakPtr = std::weak_ptr<Server>;
  using UniquePtr = std::unique_ptr<Server>;

  /// Decides whether to accept a goal.
  using GoalCallback =
      std::function<GoalResponse(const GoalUUID &, std::shared_ptr<const typename ActionT::Goal>)>;
  /// Decides whether to try to cancel a goal.
  using CancelCallback = std::function<CancelResponse(std::shared_ptr<ServerGoalHandle<ActionT>>)>;
  /// Receives the handle of each accepted goal.
  using AcceptedCallback = std::function<void(std::shared_ptr<ServerGoalHandle<ActionT>>)>;

  Server(const Server &) = delete;
  Server & operator=(const Server &) = delete;
  virtual ~Server() = default;

private:
  using SendGoalService = typename ActionT::Impl::SendGoalService;
  using GetResultService = typename ActionT::Impl::GetResultService;
  using CancelGoalService = typename ActionT::Impl::CancelGoalService;
  using FeedbackMessage = typename ActionT::Impl::FeedbackMessage;
  using GoalStatusMessage = typename ActionT::Impl::GoalStatusMessage;
  using GoalHandle = ServerGoalHandle<ActionT>;

  friend SharedPtr detail::make_server<ActionT>(
      rclcpp::Node &, const std::string &, GoalCallback, CancelCallback, AcceptedCallback,
      const rcl_action_server_options_t &, rclcpp::CallbackGroup::SharedPtr);

  Server(
      GoalCallback handle_goal, CancelCallback handle_cancel, AcceptedCallback handle_accepted,
      std::chrono::nanoseconds result_timeout)
      : handle_goal_(std::move(handle_goal))
      , handle_cancel_(std::move(handle_cancel))
      , handle_accepted_(std::move(handle_accepted))
      , goal_table_(result_timeout) {}

  void create_entities(
      rclcpp::Node & node, const std::string & name, const rcl_action_server_options_t & options,
      rclcpp::CallbackGroup::SharedPtr group);

  void handle_goal_request(
      rmw_request_id_t header, std::shared_ptr<typename SendGoalService::Request> request);
  void handle_cancel_request(
      rmw_request_id_t header, const typename CancelGoalService::Request & request);
  void handle_result_request(
      rmw_request_id_t header, const typename GetResultService::Request & request);

  /// Accepts a goal whose id is new; nullptr for a duplicate id, which is rejected instead.
  std::shared_ptr<detail::GoalState> accept(
      const GoalUUID & uuid, typename SendGoalService::Response & response);

  /// Hands the goal to the user's code through a new goal handle.
  void start(
      const GoalUUID & uuid, std::shared_ptr<detail::GoalState> state,
      std::shared_ptr<typename SendGoalService::Request> request);

  /// Whether the user lets the goal be canceled; moves it to canceling when so.
  bool try_cancel(const GoalUUID & uuid);

  /// Stores the result of a goal that ended and answers every client that asked for it.
  void publish_result(const GoalUUID & uuid, std::shared_ptr<void> result);
  void publish_status();

  GoalCallback handle_goal_;
  CancelCallback handle_cancel_;
  AcceptedCallback handle_accepted_;
  detail::GoalTable goal_table_;

  typename rclcpp::Service<SendGoalService>::SharedPtr goal_service_;
  typename rclcpp::Service<GetResultService>::SharedPtr result_service_;
  typename rclcpp::Service<CancelGoalService>::SharedPtr cancel_service_;
  typename rclcpp::Publisher<FeedbackMessage>::SharedPtr feedback_publisher_;
  typename rclcpp::Publisher<GoalStatusMessage>::SharedPtr status_publisher_;

  // Status arrays are taken and published under one lock, so the last one published is never
  // older than the one before it (late clients only get the last one).
  std::mutex status_mutex_;

  // Weak: the user's code owns the handles; the server needs them only to ask about cancels.
  std::unordered_map<GoalUUID, std::weak_ptr<GoalHandle>> goal_handles_;
  std::mutex goal_handles_mutex_;
};

namespace detail {

template <typename ActionT>
std::shared_ptr<Server<ActionT>> make_server(
    rclcpp::Node & node, const std::string & name,
    typename Server<ActionT>::GoalCallback handle_goal,
    typename Server<ActionT>::CancelCallback handle_cancel,
    typename Server<ActionT>::AcceptedCallback handle_accepted,
    const rcl_action_server_options_t & options, rclcpp::CallbackGroup::SharedPtr group) {
  std::shared_ptr<Server<ActionT>> server(new Server<ActionT>(
      std::move(handle_goal), std::move(handle_cancel), std::move(handle_accepted),
      std::chrono::nanoseconds(options.result_timeout.nanoseconds)));
  server->create_entities(node, name, options, std::move(group));
  return server;
}

}  // namespace detail

template <typename ActionT>
void Server<ActionT>::create_entities(
    rclcpp::Node & node, const std::string & name, const rcl_action_server_options_t & options,
    rclcpp::CallbackGroup::SharedPtr group) {
  detail::check_action_name(name, "could not create action server");
  // Callbacks hold the server weakly: one that runs after the server is gone does nothing.
  WeakPtr weak_this = this->weak_from_this();
  const std::string prefix = name + "/_action/";
  goal_service_ = node.create_service<SendGoalService>(
      prefix + "send_goal",
      [weak_this](
          std::shared_ptr<rmw_request_id_t> header,
          std::shared_ptr<typename SendGoalService::Request> request) {
        if (auto self = weak_this.lock()) {
          self->handle_goal_request(*header, std::move(request));
        }
      },
      options.goal_service_qos, group);
  result_service_ = node.create_service<GetResultService>(
      prefix + "get_result",
      [weak_this](
          std::shared_ptr<rmw_request_id_t> header,
          std::shared_ptr<typename GetResultService::Request> request) {
        if (auto self = weak_this.lock()) {
          self->handle_result_request(*header, *request);
        }
      },
      options.result_service_qos, group);
  cancel_service_ = node.create_service<CancelGoalService>(
      prefix + "cancel_goal",
      [weak_this](
          std::shared_ptr<rmw_request_id_t> header,
          std::shared_ptr<typename CancelGoalService::Request> request) {
        if (auto self = weak_this.lock()) {
          self->handle_cancel_request(*header, *request);
        }
      },
      options.cancel_service_qos, group);
  feedback_publisher_ = node.create_publisher<FeedbackMessage>(
      prefix + "feedback", detail::qos_from_profile(options.feedback_topic_qos));
  status_publisher_ = node.create_publisher<GoalStatusMessage>(
      prefix + "status", detail::qos_from_profile(options.status_topic_qos));
}

template <typename ActionT>
void Server<ActionT>::handle_goal_request(
    rmw_request_id_t header, std::shared_ptr<typename SendGoalService::Request> request) {
  goal_table_.expire_results();
  const GoalUUID uuid = request->goal_id.uuid;
  const GoalResponse decision =
      handle_goal_(uuid, std::shared_ptr<const typename ActionT::Goal>(request, &request->goal));
  typename SendGoalService::Response response;
  std::shared_ptr<detail::GoalState> state;
  if (decision != GoalResponse::REJECT) {
    state = accept(uuid, response);
  }
  // Answer first: feedback and status about a goal its client does not know yet are lost.
  goal_service_->send_response(header, response);
  if (!state) {
    return;
  }
  if (decision == GoalResponse::ACCEPT_AND_EXECUTE) {
    state->apply(detail::GoalEvent::kExecute);
  }
  publish_status();
  start(uuid, std::move(state), std::move(request));
}

template <typename ActionT>
std::shared_ptr<detail::GoalState> Server<ActionT>::accept(
    const GoalUUID & uuid, typename SendGoalService::Response & response) {
  GoalInfo info;
  info.goal_id.uuid = uuid;
  info.stamp = detail::stamp_now();
  auto state = goal_table_.add(info);
  response.accepted = state != nullptr;
  if (state) {
    response.stamp = info.stamp;
  }
  return state;
}

template <typename ActionT>
void Server<ActionT>::start(
    const GoalUUID & uuid, std::shared_ptr<detail::GoalState> state,
    std::shared_ptr<typename SendGoalService::Request> request) {
  WeakPtr weak_this = this->weak_from_this();
  auto on_terminal_state = [weak_this](const GoalUUID & goal_id, std::shared_ptr<void> result) {
    if (auto self = weak_this.lock()) {
      self->publish_result(goal_id, std::move(result));
      self->publish_status();
      std::lock_guard<std::mutex> guard(self->goal_handles_mutex_);
      self->goal_handles_.erase(goal_id);
    }
  };
  auto on_executing = [weak_this](const GoalUUID &) {
    if (auto self = weak_this.lock()) {
      self->publish_status();
    }
  };
  auto publish_feedback = [weak_this](std::shared_ptr<FeedbackMessage> message) {
    if (auto self = weak_this.lock()) {
      self->feedback_publisher_->publish(*message);
    }
  };
  std::shared_ptr<const typename ActionT::Goal> goal(request, &request->goal);
  // Not make_shared: the constructor is private to this friend.
  std::shared_ptr<GoalHandle> goal_handle(new GoalHandle(
      std::move(state), uuid, std::move(goal), on_terminal_state, on_executing, publish_feedback));
  {
    std::lock_guard<std::mutex> guard(goal_handles_mutex_);
    goal_handles_[uuid] = goal_handle;
  }
  handle_accepted_(goal_handle);
}

template <typename ActionT>
void Server<ActionT>::handle_cancel_request(
    rmw_request_id_t header, const typename CancelGoalService::Request & request) {
  using Response = typename CancelGoalService::Response;
  goal_table_.expire_results();
  Response selection = goal_table_.select_for_cancel(request.goal_info);
  Response response;
  response.return_code = selection.return_code;
  for (const GoalInfo & candidate : selection.goals_canceling) {
    if (try_cancel(candidate.goal_id.uuid)) {
      response.goals_canceling.push_back(candidate);
    }
  }
  if (!selection.goals_canceling.empty() && response.goals_canceling.empty()) {
    response.return_code = Response::ERROR_REJECTED;
  }
  if (!response.goals_canceling.empty()) {
    publish_status();
  }
  cancel_service_->send_response(header, response);
}

template <typename ActionT>
bool Server<ActionT>::try_cancel(const GoalUUID & uuid) {
  std::shared_ptr<GoalHandle> goal_handle;
  {
    std::lock_guard<std::mutex> guard(goal_handles_mutex_);
    auto entry = goal_handles_.find(uuid);
    if (entry != goal_handles_.end()) {
      goal_handle = entry->second.lock();
    }
  }
  if (!goal_handle || handle_cancel_(goal_handle) != CancelResponse::ACCEPT) {
    return false;
  }
  try {
    goal_handle->_cancel_goal();
  } catch (const rclcpp::exceptions::RCLError &) {
    return false;  // the goal ended while the user's callback decided
  }
  return true;
}

template <typename ActionT>
void Server<ActionT>::handle_result_request(
    rmw_request_id_t header, const typename GetResultService::Request & request) {
  goal_table_.expire_results();
  detail::ResultLookup lookup = goal_table_.find_result(request.goal_id.uuid, header);
  using Outcome = detail::ResultLookup::Outcome;
  if (lookup.outcome == Outcome::kReady) {
    auto & result = *std::static_pointer_cast<typename GetResultService::Response>(lookup.result);
    result_service_->send_response(header, result);
  } else if (lookup.outcome == Outcome::kUnknownGoal) {
    typename GetResultService::Response unknown;
    unknown.status = GoalStatus::STATUS_UNKNOWN;
    result_service_->send_response(header, unknown);
  }
  // kWaiting: publish_result answers when the goal ends.
}

template <typename ActionT>
void Server<ActionT>::publish_result(const GoalUUID & uuid, std::shared_ptr<void> result) {
  auto & response = *std::static_pointer_cast<typename GetResultService::Response>(result);
  for (rmw_request_id_t & header : goal_table_.store_result(uuid, result)) {
    result_service_->send_response(header, response);
  }
  goal_table_.expire_results();
}

template <typename ActionT>
void Server<ActionT>::publish_status() {
  std::lock_guard<std::mutex> guard(status_mutex_);
  status_publisher_->publish(goal_table_.status_array());
}

}  // namespace rclcpp_action
