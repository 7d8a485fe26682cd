// The action client: sends goals to an action server and follows them to their results.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "rclcpp/client.hpp"
#include "rclcpp/exceptions.hpp"
#include "rclcpp/node.hpp"
#include "rclcpp/subscription.hpp"
#include "rclcpp_action/client_goal_handle.hpp"
#include "rclcpp_action/exceptions.hpp"
#include "rclcpp_action/options.hpp"
#include "rclcpp_action/qos.hpp"
#include "rclcpp_action/types.hpp"

namespace rclcpp_action {

/// The part of an action client that does not depend on the action type: finding the server.
class ClientBase {
public:
  virtual ~ClientBase();

  /// True when a server answers all three services and publishes both feedback and status.
  bool action_server_is_ready() const;

  /// Waits until action_server_is_ready(); false on timeout or when the context shuts down.
  /// A negative timeout waits without limit.
  template <typename RepT = int64_t, typename RatioT = std::milli>
  bool wait_for_action_server(
      std::chrono::duration<RepT, RatioT> timeout = std::chrono::duration<RepT, RatioT>(-1)) {
    return wait_for_action_server_nanoseconds(
        std::chrono::duration_cast<std::chrono::nanoseconds>(timeout));
  }

protected:
  ClientBase() = default;

  /// Waits until action_server_is_ready(); false on timeout or shutdown.
  bool wait_for_action_server_nanoseconds(std::chrono::nanoseconds timeout);

  /// A new random goal id.
  virtual GoalUUID generate_goal_id();

  /// Sets the entities that must all have found a server before it counts as ready.
  void watch_server_through(
      std::vector<std::shared_ptr<rclcpp::ClientBase>> services,
      std::vector<std::shared_ptr<rclcpp::SubscriptionBase>> topics);

private:
  std::vector<std::shared_ptr<rclcpp::ClientBase>> services_;
  std::vector<std::shared_ptr<rclcpp::SubscriptionBase>> topics_;
};

template <typename ActionT>
class Client;

namespace detail {

/// Builds a client and then its entities, whose callbacks need the client's shared ownership.
template <typename ActionT>
std::shared_ptr<Client<ActionT>> make_client(
    rclcpp::Node & node, const std::string & action_name, rclcpp::CallbackGroup::SharedPtr group,
    const rcl_action_client_options_t & options);

}  // namespace detail

/// Sends goals of one action type to its server and delivers goal responses, feedback and
/// results to callbacks on the executor that spins the node. Create it with create_client();
/// its members may be called from any thread.
template <typename ActionT>
class Client : public ClientBase, public std::enable_shared_from_this<Client<ActionT>> {
public:
  using SharedPtr = std::shared_ptr<Client>;
  using ConstSharedPtr = std::shared_ptr<const Client>;
  using WeakPtr = std::weak_ptr<Client>;
  using UniquePtr = std::unique_ptr<Client>;

  using Goal = typename ActionT::Goal;
  using Feedback = typename ActionT::Feedback;
  using GoalHandle = ClientGoalHandle<ActionT>;
  using WrappedResult = typename GoalHandle::WrappedResult;
  using GoalResponseCallback = std::function<void(typename GoalHandle::SharedPtr)>;
  using FeedbackCallback = typename GoalHandle::FeedbackCallback;
  using ResultCallback = typename GoalHandle::ResultCallback;
  using CancelRequest = typename ActionT::Impl::CancelGoalService::Request;
  using CancelResponse = typename ActionT::Impl::CancelGoalService::Response;
  using CancelCallback = std::function<void(typename CancelResponse::SharedPtr)>;

  /// The callbacks for one goal.
  struct SendGoalOptions {
    SendGoalOptions()
        : goal_response_callback(nullptr), feedback_callback(nullptr), result_callback(nullptr) {}

    /// Called with the goal handle when the server accepts the goal, with nullptr when it
    /// rejects it.
    GoalResponseCallback goal_response_callback;

    /// Called for every feedback message about the goal.
    FeedbackCallback feedback_callback;

    /// Called once with the goal's result; setting it makes the client ask for the result as
    /// soon as the goal is accepted.
    ResultCallback result_callback;
  };

  Client(const Client &) = delete;
  Client & operator=(const Client &) = delete;

  /// Fails the result futures of the goals it still follows with UnawareGoalHandleError.
  ~Client() override;

  /// Sends a goal; the future holds the goal handle once accepted, nullptr when rejected.
  std::shared_future<typename GoalHandle::SharedPtr> async_send_goal(
      const Goal & goal, const SendGoalOptions & options = SendGoalOptions());

  /// Asks for the result of an accepted goal. Throws UnknownGoalHandleError for a goal this
  /// client no longer follows.
  std::shared_future<WrappedResult> async_get_result(
      typename GoalHandle::SharedPtr goal_handle, ResultCallback result_callback = nullptr);

  /// Asks the server to cancel one goal. Throws UnknownGoalHandleError for a goal this client
  /// no longer follows.
  std::shared_future<typename CancelResponse::SharedPtr> async_cancel_goal(
      typename GoalHandle::SharedPtr goal_handle, CancelCallback cancel_callback = nullptr);

  /// Asks the server to cancel every goal it has.
  std::shared_future<typename CancelResponse::SharedPtr> async_cancel_all_goals(
      CancelCallback cancel_callback = nullptr);

private:
  using SendGoalService = typename ActionT::Impl::SendGoalService;
  using GetResultService = typename ActionT::Impl::GetResultService;
  using CancelGoalService = typename ActionT::Impl::CancelGoalService;
  using FeedbackMessage = typename ActionT::Impl::FeedbackMessage;
  using GoalStatusMessage = typename ActionT::Impl::GoalStatusMessage;
  using GoalPromise = std::promise<typename GoalHandle::SharedPtr>;
  using CancelPromise = std::promise<typename CancelResponse::SharedPtr>;

  friend SharedPtr detail::make_client<ActionT>(
      rclcpp::Node &, const std::string &, rclcpp::CallbackGroup::SharedPtr,
      const rcl_action_client_options_t &);

  Client() = default;

  void create_entities(
      rclcpp::Node & node, const std::string & action_name, rclcpp::CallbackGroup::SharedPtr group,
      const rcl_action_client_options_t & options);

  void handle_goal_response(
      const typename SendGoalService::Request & request,
      const typename SendGoalService::Response & response, const SendGoalOptions & options,
      GoalPromise & promise);
  void handle_result_response(
      const typename GoalHandle::SharedPtr & goal_handle,
      const typename GetResultService::Response & response);
  void handle_feedback_message(const FeedbackMessage & message);
  void handle_status_message(const GoalStatusMessage & message);

  /// Asks the server for the goal's result, once per goal.
  void make_result_aware(typename GoalHandle::SharedPtr goal_handle);

  std::shared_future<typename CancelResponse::SharedPtr> async_cancel(
      std::shared_ptr<CancelRequest> request, CancelCallback cancel_callback);

  /// The handle of a goal still followed; forgets goals whose handles nobody holds any more.
  typename GoalHandle::SharedPtr find_goal_handle(const GoalUUID & goal_id);

  typename rclcpp::Client<SendGoalService>::SharedPtr goal_client_;
  typename rclcpp::Client<GetResultService>::SharedPtr result_client_;
  typename rclcpp::Client<CancelGoalService>::SharedPtr cancel_client_;
  typename rclcpp::Subscription<FeedbackMessage>::SharedPtr feedback_subscription_;
  typename rclcpp::Subscription<GoalStatusMessage>::SharedPtr status_subscription_;

  // Weak: a goal is followed only while someone (the user or a pending result request) holds
  // its handle.
  std::map<GoalUUID, typename GoalHandle::WeakPtr> goal_handles_;
  std::mutex goal_handles_mutex_;
};

namespace detail {

template <typename ActionT>
std::shared_ptr<Client<ActionT>> make_client(
    rclcpp::Node & node, const std::string & action_name, rclcpp::CallbackGroup::SharedPtr group,
    const rcl_action_client_options_t & options) {
  std::shared_ptr<Client<ActionT>> client(new Client<ActionT>());
  client->create_entities(node, action_name, std::move(group), options);
  return client;
}

}  // namespace detail

template <typename ActionT>
void Client<ActionT>::create_entities(
    rclcpp::Node & node, const std::string & action_name, rclcpp::CallbackGroup::SharedPtr group,
    const rcl_action_client_options_t & options) {
  detail::check_action_name(action_name, "could not create action client");
  // Callbacks hold the client weakly: one that runs after the client is gone does nothing.
  WeakPtr weak_this = this->weak_from_this();
  const std::string prefix = action_name + "/_action/";
  goal_client_ =
      node.create_client<SendGoalService>(prefix + "send_goal", options.goal_service_qos, group);
  result_client_ = node.create_client<GetResultService>(
      prefix + "get_result", options.result_service_qos, group);
  cancel_client_ = node.create_client<CancelGoalService>(
      prefix + "cancel_goal", options.cancel_service_qos, group);
  rclcpp::SubscriptionOptions subscription_options;
  subscription_options.callback_group = group;
  feedback_subscription_ = node.create_subscription<FeedbackMessage>(
      prefix + "feedback", detail::qos_from_profile(options.feedback_topic_qos),
      [weak_this](std::shared_ptr<FeedbackMessage> message) {
        if (auto self = weak_this.lock()) {
          self->handle_feedback_message(*message);
        }
      },
      subscription_options);
  status_subscription_ = node.create_subscription<GoalStatusMessage>(
      prefix + "status", detail::qos_from_profile(options.status_topic_qos),
      [weak_this](std::shared_ptr<GoalStatusMessage> message) {
        if (auto self = weak_this.lock()) {
          self->handle_status_message(*message);
        }
      },
      subscription_options);
  watch_server_through(
      {goal_client_, result_client_, cancel_client_},
      {feedback_subscription_, status_subscription_});
}

template <typename ActionT>
Client<ActionT>::~Client() {
  std::lock_guard<std::mutex> guard(goal_handles_mutex_);
  for (auto & [goal_id, weak_handle] : goal_handles_) {
    if (auto goal_handle = weak_handle.lock()) {
      goal_handle->invalidate(exceptions::UnawareGoalHandleError());
    }
  }
  goal_handles_.clear();
}

template <typename ActionT>
std::shared_future<typename ClientGoalHandle<ActionT>::SharedPtr> Client<ActionT>::async_send_goal(
    const Goal & goal, const SendGoalOptions & options) {
  auto promise = std::make_shared<GoalPromise>();
  std::shared_future<typename GoalHandle::SharedPtr> future(promise->get_future());
  auto request = std::make_shared<typename SendGoalService::Request>();
  request->goal_id.uuid = generate_goal_id();
  request->goal = goal;
  WeakPtr weak_this = this->weak_from_this();
  goal_client_->async_send_request(
      request, [weak_this, request, options,
                promise](typename rclcpp::Client<SendGoalService>::SharedFuture response) {
        if (auto self = weak_this.lock()) {
          self->handle_goal_response(*request, *response.get(), options, *promise);
        }
      });
  return future;
}

template <typename ActionT>
void Client<ActionT>::handle_goal_response(
    const typename SendGoalService::Request & request,
    const typename SendGoalService::Response & response, const SendGoalOptions & options,
    GoalPromise & promise) {
  if (!response.accepted) {
    promise.set_value(nullptr);
    if (options.goal_response_callback) {
      options.goal_response_callback(nullptr);
    }
    return;
  }
  GoalInfo goal_info;
  goal_info.goal_id = request.goal_id;
  goal_info.stamp = response.stamp;
  // Not make_shared: the constructor is private to this friend.
  typename GoalHandle::SharedPtr goal_handle(
      new GoalHandle(goal_info, options.feedback_callback, options.result_callback));
  {
    std::lock_guard<std::mutex> guard(goal_handles_mutex_);
    std::erase_if(goal_handles_, [](const auto & entry) { return entry.second.expired(); });
    goal_handles_[goal_handle->get_goal_id()] = goal_handle;
  }
  promise.set_value(goal_handle);
  if (options.goal_response_callback) {
    options.goal_response_callback(goal_handle);
  }
  if (options.result_callback) {
    make_result_aware(goal_handle);
  }
}

template <typename ActionT>
std::shared_future<typename ClientGoalHandle<ActionT>::WrappedResult>
Client<ActionT>::async_get_result(
    typename GoalHandle::SharedPtr goal_handle, ResultCallback result_callback) {
  if (!find_goal_handle(goal_handle->get_goal_id())) {
    throw exceptions::UnknownGoalHandleError();
  }
  if (auto error = goal_handle->invalidation()) {
    std::rethrow_exception(error);
  }
  if (result_callback) {
    goal_handle->set_result_callback(std::move(result_callback));
  }
  make_result_aware(goal_handle);
  return goal_handle->async_get_result();
}

template <typename ActionT>
void Client<ActionT>::make_result_aware(typename GoalHandle::SharedPtr goal_handle) {
  if (goal_handle->set_result_awareness(true)) {
    return;
  }
  auto request = std::make_shared<typename GetResultService::Request>();
  request->goal_id.uuid = goal_handle->get_goal_id();
  WeakPtr weak_this = this->weak_from_this();
  try {
    // The pending request holds the goal handle, so the goal stays followed until its result
    // arrives even when the user keeps no handle.
    result_client_->async_send_request(
        request,
        [weak_this, goal_handle](typename rclcpp::Client<GetResultService>::SharedFuture response) {
          if (auto self = weak_this.lock()) {
            self->handle_result_response(goal_handle, *response.get());
          }
        });
  } catch (const rclcpp::exceptions::RCLError & error) {
    goal_handle->invalidate(exceptions::UnawareGoalHandleError(error.message));
  }
}

template <typename ActionT>
void Client<ActionT>::handle_result_response(
    const typename GoalHandle::SharedPtr & goal_handle,
    const typename GetResultService::Response & response) {
  WrappedResult wrapped_result;
  wrapped_result.goal_id = goal_handle->get_goal_id();
  wrapped_result.code = static_cast<ResultCode>(response.status);
  wrapped_result.result = std::make_shared<typename ActionT::Result>(response.result);
  {
    std::lock_guard<std::mutex> guard(goal_handles_mutex_);
    goal_handles_.erase(wrapped_result.goal_id);
  }
  goal_handle->set_result(wrapped_result);
}

template <typename ActionT>
void Client<ActionT>::handle_feedback_message(const FeedbackMessage & message) {
  auto goal_handle = find_goal_handle(message.goal_id.uuid);
  if (!goal_handle) {
    return;  // another client's goal, or one nobody follows any more
  }
  goal_handle->call_feedback_callback(
      goal_handle, std::make_shared<const Feedback>(message.feedback));
}

template <typename ActionT>
void Client<ActionT>::handle_status_message(const GoalStatusMessage & message) {
  for (const GoalStatus & status : message.status_list) {
    if (auto goal_handle = find_goal_handle(status.goal_info.goal_id.uuid)) {
      goal_handle->set_status(status.status);
    }
  }
}

template <typename ActionT>
typename ClientGoalHandle<ActionT>::SharedPtr Client<ActionT>::find_goal_handle(
    const GoalUUID & goal_id) {
  std::lock_guard<std::mutex> guard(goal_handles_mutex_);
  auto entry = goal_handles_.find(goal_id);
  if (entry == goal_handles_.end()) {
    return nullptr;
  }
  auto goal_handle = entry->second.lock();
  if (!goal_handle) {
    goal_handles_.erase(entry);
  }
  return goal_handle;
}

template <typename ActionT>
std::shared_future<typename Client<ActionT>::CancelResponse::SharedPtr>
Client<ActionT>::async_cancel_goal(
    typename GoalHandle::SharedPtr goal_handle, CancelCallback cancel_callback) {
  if (!find_goal_handle(goal_handle->get_goal_id())) {
    throw exceptions::UnknownGoalHandleError();
  }
  auto request = std::make_shared<CancelRequest>();
  request->goal_info.goal_id.uuid = goal_handle->get_goal_id();
  return async_cancel(request, std::move(cancel_callback));
}

template <typename ActionT>
std::shared_future<typename Client<ActionT>::CancelResponse::SharedPtr>
Client<ActionT>::async_cancel_all_goals(CancelCallback cancel_callback) {
  // A zero goal id with a zero stamp selects every goal.
  return async_cancel(std::make_shared<CancelRequest>(), std::move(cancel_callback));
}

template <typename ActionT>
std::shared_future<typename Client<ActionT>::CancelResponse::SharedPtr>
Client<ActionT>::async_cancel(
    std::shared_ptr<CancelRequest> request, CancelCallback cancel_callback) {
  auto promise = std::make_shared<CancelPromise>();
  std::shared_future<typename CancelResponse::SharedPtr> future(promise->get_future());
  WeakPtr weak_this = this->weak_from_this();
  cancel_client_->async_send_request(
      request, [weak_this, cancel_callback,
                promise](typename rclcpp::Client<CancelGoalService>::SharedFuture response) {
        auto self = weak_this.lock();
        if (!self) {
          return;  // like every callback of a client that is gone
        }
        auto cancel_response = response.get();
        promise->set_value(cancel_response);
        if (cancel_callback) {
          cancel_callback(cancel_response);
        }
      });
  return future;
}

}  // namespace rclcpp_action
