// Service clients: a request writer and a reply reader; the executor that spins the node
// completes the futures and runs the callbacks of the replies.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "rclcpp/macros.hpp"
#include "rmw/types.h"
#include "ros2_layer/waitable.hpp"
#include "rosidl_runtime_c/service_type_support_struct.h"
#include "rosidl_typesupport_introspection_cpp/service_type_support_decl.hpp"

namespace ros2_layer {
class NodeState;
class ClientEndpoints;
}  // namespace ros2_layer

namespace rclcpp {

namespace detail {

/// A future together with the sequence number of its request.
template <typename FutureT>
struct FutureAndRequestId {
  FutureT future;
  int64_t request_id;

  FutureAndRequestId(FutureT impl, int64_t req_id) : future(std::move(impl)), request_id(req_id) {}

  /// Allows implicit conversion to the future by reference.
  operator FutureT &() { return this->future; }

  /// Deprecated, use the `future` member variable instead.
  [[deprecated("FutureAndRequestId: use .future instead of an implicit conversion")]]
  operator FutureT() {
    return this->future;
  }

  /// See std::future::get().
  auto get() { return this->future.get(); }
  /// See std::future::valid().
  bool valid() const noexcept { return this->future.valid(); }
  /// See std::future::wait().
  void wait() const { return this->future.wait(); }
  /// See std::future::wait_for().
  template <class Rep, class Period>
  std::future_status wait_for(const std::chrono::duration<Rep, Period> & timeout_duration) const {
    return this->future.wait_for(timeout_duration);
  }
  /// See std::future::wait_until().
  template <class Clock, class Duration>
  std::future_status wait_until(
      const std::chrono::time_point<Clock, Duration> & timeout_time) const {
    return this->future.wait_until(timeout_time);
  }

  FutureAndRequestId(FutureAndRequestId && other) noexcept = default;
  FutureAndRequestId(const FutureAndRequestId & other) = delete;
  FutureAndRequestId & operator=(FutureAndRequestId && other) noexcept = default;
  FutureAndRequestId & operator=(const FutureAndRequestId & other) = delete;
  ~FutureAndRequestId() = default;
};

}  // namespace detail

/// The part of a client that does not depend on the service type.
class ClientBase : public ros2_layer::Waitable {
public:
  RCLCPP_SMART_PTR_DEFINITIONS_NOT_COPYABLE(ClientBase)

  /// Creates the request writer and reply reader. Throws InvalidServiceNameError for an invalid
  /// name and RCLError ("could not create client") when the client cannot be created.
  ClientBase(
      std::shared_ptr<ros2_layer::NodeState> node,
      const rosidl_service_type_support_t & type_support, const std::string & service_name,
      const rmw_qos_profile_t & qos_profile);
  ~ClientBase() override;

  /// Takes the next reply addressed to this client; false when there is none.
  bool take_type_erased_response(void * response_out, rmw_request_id_t & request_header_out);
  /// The fully qualified service name after remapping.
  const char * get_service_name() const;
  /// True when a server's request reader and reply writer are both matched.
  bool service_is_ready() const;

  /// Waits until the service is ready; false on timeout or when the context shuts down.
  /// A negative timeout waits without limit.
  template <typename RepT = int64_t, typename RatioT = std::milli>
  bool wait_for_service(
      std::chrono::duration<RepT, RatioT> timeout = std::chrono::duration<RepT, RatioT>(-1)) {
    return wait_for_service_nanoseconds(
        std::chrono::duration_cast<std::chrono::nanoseconds>(timeout));
  }

  /// A new reply message to take into.
  virtual std::shared_ptr<void> create_response() = 0;
  /// A new request header to take into.
  virtual std::shared_ptr<rmw_request_id_t> create_request_header() = 0;
  /// Completes the pending request that a reply answers.
  virtual void handle_response(
      std::shared_ptr<rmw_request_id_t> request_header, std::shared_ptr<void> response) = 0;

  /// The DDS read condition of the reply reader.
  int32_t condition() const override;
  /// Takes one reply addressed to this client and completes its request.
  bool execute() override;

protected:
  /// Waits until the service is ready; false on timeout or when the context shuts down.
  bool wait_for_service_nanoseconds(std::chrono::nanoseconds timeout);
  /// Writes a request and returns its sequence number; throws RCLError when it cannot be sent.
  int64_t send_request_type_erased(const void * request);
  /// The request readers of the services that a request sent now reaches.
  std::vector<uint64_t> matched_servers() const;

private:
  RCLCPP_DISABLE_COPY(ClientBase)

  std::shared_ptr<ros2_layer::NodeState> node_;
  std::unique_ptr<ros2_layer::ClientEndpoints> endpoints_;
  std::string service_name_;
};

/// A client of one service type.
template <typename ServiceT>
class Client : public ClientBase {
public:
  using Request = typename ServiceT::Request;
  using Response = typename ServiceT::Response;

  using SharedRequest = typename ServiceT::Request::SharedPtr;
  using SharedResponse = typename ServiceT::Response::SharedPtr;

  using Promise = std::promise<SharedResponse>;
  using PromiseWithRequest = std::promise<std::pair<SharedRequest, SharedResponse>>;

  using SharedPromise = std::shared_ptr<Promise>;
  using SharedPromiseWithRequest = std::shared_ptr<PromiseWithRequest>;

  using Future = std::future<SharedResponse>;
  using SharedFuture = std::shared_future<SharedResponse>;
  using SharedFutureWithRequest = std::shared_future<std::pair<SharedRequest, SharedResponse>>;

  using CallbackType = std::function<void(SharedFuture)>;
  using CallbackWithRequestType = std::function<void(SharedFutureWithRequest)>;

  RCLCPP_SMART_PTR_DEFINITIONS(Client)

  /// A Client::Future and the request's sequence number.
  struct FutureAndRequestId : detail::FutureAndRequestId<std::future<SharedResponse>> {
    using detail::FutureAndRequestId<std::future<SharedResponse>>::FutureAndRequestId;

    /// Deprecated, use `.future.share()` instead.
    [[deprecated("FutureAndRequestId: use .future.share() instead of an implicit conversion")]]
    operator SharedFuture() {
      return this->future.share();
    }

    /// See std::future::share().
    SharedFuture share() noexcept { return this->future.share(); }
  };

  /// A Client::SharedFuture and the request's sequence number.
  struct SharedFutureAndRequestId : detail::FutureAndRequestId<std::shared_future<SharedResponse>> {
    using detail::FutureAndRequestId<std::shared_future<SharedResponse>>::FutureAndRequestId;
  };

  /// A Client::SharedFutureWithRequest and the request's sequence number.
  struct SharedFutureWithRequestAndRequestId
      : detail::FutureAndRequestId<std::shared_future<std::pair<SharedRequest, SharedResponse>>> {
    using detail::FutureAndRequestId<
        std::shared_future<std::pair<SharedRequest, SharedResponse>>>::FutureAndRequestId;
  };

  /// Creates the client on the node's participant.
  Client(
      std::shared_ptr<ros2_layer::NodeState> node, const std::string & service_name,
      const rmw_qos_profile_t & qos_profile)
      : ClientBase(
            std::move(node),
            *rosidl_typesupport_introspection_cpp::get_service_type_support_handle<ServiceT>(),
            service_name, qos_profile) {}

  /// Takes the next reply addressed to this client.
  bool take_response(
      typename ServiceT::Response & response_out, rmw_request_id_t & request_header_out) {
    return this->take_type_erased_response(&response_out, request_header_out);
  }

  std::shared_ptr<void> create_response() override {
    return std::shared_ptr<void>(new typename ServiceT::Response());
  }

  std::shared_ptr<rmw_request_id_t> create_request_header() override {
    return std::make_shared<rmw_request_id_t>();
  }

  void handle_response(
      std::shared_ptr<rmw_request_id_t> request_header, std::shared_ptr<void> response) override {
    std::optional<CallbackInfoVariant> pending =
        this->get_and_erase_pending_request(request_header->sequence_number);
    if (!pending) {
      return;
    }
    auto typed_response =
        std::static_pointer_cast<typename ServiceT::Response>(std::move(response));
    auto & value = *pending;
    if (std::holds_alternative<Promise>(value)) {
      std::get<Promise>(value).set_value(std::move(typed_response));
    } else if (std::holds_alternative<CallbackTypeValueVariant>(value)) {
      auto & inner = std::get<CallbackTypeValueVariant>(value);
      std::get<Promise>(inner).set_value(std::move(typed_response));
      std::get<CallbackType>(inner)(std::move(std::get<SharedFuture>(inner)));
    } else {
      auto & inner = std::get<CallbackWithRequestTypeValueVariant>(value);
      std::get<PromiseWithRequest>(inner).set_value(
          std::make_pair(std::move(std::get<SharedRequest>(inner)), std::move(typed_response)));
      std::get<CallbackWithRequestType>(inner)(std::move(std::get<SharedFutureWithRequest>(inner)));
    }
  }

  /// Sends a request; the future completes when the executor spinning the node takes the reply,
  /// and never when no reply comes.
  FutureAndRequestId async_send_request(SharedRequest request) {
    Promise promise;
    auto future = promise.get_future();
    auto req_id = async_send_request_impl(*request, std::move(promise));
    return FutureAndRequestId(std::move(future), req_id);
  }

  /// Sends a request and runs `cb` with the completed future on the executor's thread.
  template <
      typename CallbackT,
      typename std::enable_if<std::is_invocable_v<CallbackT, SharedFuture>>::type * = nullptr>
  SharedFutureAndRequestId async_send_request(SharedRequest request, CallbackT && cb) {
    Promise promise;
    auto shared_future = promise.get_future().share();
    auto req_id = async_send_request_impl(
        *request,
        std::make_tuple(
            CallbackType{std::forward<CallbackT>(cb)}, shared_future, std::move(promise)));
    return SharedFutureAndRequestId{std::move(shared_future), req_id};
  }

  /// Sends a request and runs `cb` with the completed request/response future.
  template <
      typename CallbackT,
      typename std::enable_if<
          !std::is_invocable_v<CallbackT, SharedFuture> &&
          std::is_invocable_v<CallbackT, SharedFutureWithRequest>>::type * = nullptr>
  SharedFutureWithRequestAndRequestId async_send_request(SharedRequest request, CallbackT && cb) {
    PromiseWithRequest promise;
    auto shared_future = promise.get_future().share();
    auto req_id = async_send_request_impl(
        *request, std::make_tuple(
                      CallbackWithRequestType{std::forward<CallbackT>(cb)}, request, shared_future,
                      std::move(promise)));
    return SharedFutureWithRequestAndRequestId{std::move(shared_future), req_id};
  }

  /// Forgets a pending request; its future then never completes.
  bool remove_pending_request(int64_t request_id) {
    std::lock_guard guard(pending_requests_mutex_);
    return pending_requests_.erase(request_id) != 0u;
  }
  /// Forgets a pending request.
  bool remove_pending_request(const FutureAndRequestId & future) {
    return this->remove_pending_request(future.request_id);
  }
  /// Forgets a pending request.
  bool remove_pending_request(const SharedFutureAndRequestId & future) {
    return this->remove_pending_request(future.request_id);
  }
  /// Forgets a pending request.
  bool remove_pending_request(const SharedFutureWithRequestAndRequestId & future) {
    return this->remove_pending_request(future.request_id);
  }

protected:
  using CallbackTypeValueVariant = std::tuple<CallbackType, SharedFuture, Promise>;
  using CallbackWithRequestTypeValueVariant = std::tuple<
      CallbackWithRequestType, SharedRequest, SharedFutureWithRequest, PromiseWithRequest>;
  using CallbackInfoVariant = std::variant<
      std::promise<SharedResponse>, CallbackTypeValueVariant, CallbackWithRequestTypeValueVariant>;

  int64_t async_send_request_impl(const Request & request, CallbackInfoVariant value) {
    // Held across the write so that a reply cannot be taken before its request is pending.
    std::lock_guard<std::mutex> lock(pending_requests_mutex_);
    std::vector<uint64_t> servers = this->matched_servers();
    forget_requests_without_server(servers);
    const int64_t sequence_number = this->send_request_type_erased(&request);
    pending_requests_.try_emplace(
        sequence_number,
        PendingRequest{std::chrono::system_clock::now(), std::move(servers), std::move(value)});
    return sequence_number;
  }

  // A request whose services have all gone can never be answered; a client that runs for days
  // beside services that come and go must not keep it. Its future fails with broken_promise.
  void forget_requests_without_server(const std::vector<uint64_t> & servers) {
    std::erase_if(pending_requests_, [&servers](const auto & entry) {
      return std::none_of(
          entry.second.servers.begin(), entry.second.servers.end(), [&servers](uint64_t server) {
            return std::find(servers.begin(), servers.end(), server) != servers.end();
          });
    });
  }

  std::optional<CallbackInfoVariant> get_and_erase_pending_request(int64_t request_number) {
    std::unique_lock<std::mutex> lock(pending_requests_mutex_);
    auto it = this->pending_requests_.find(request_number);
    if (it == this->pending_requests_.end()) {
      return std::nullopt;
    }
    std::optional<CallbackInfoVariant> value = std::move(it->second.callback);
    this->pending_requests_.erase(it);
    return value;
  }

  RCLCPP_DISABLE_COPY(Client)

  struct PendingRequest {
    std::chrono::time_point<std::chrono::system_clock> sent_at;
    // The request readers that received it.
    std::vector<uint64_t> servers;
    CallbackInfoVariant callback;
  };
  std::unordered_map<int64_t, PendingRequest> pending_requests_;
  std::mutex pending_requests_mutex_;
};

}  // namespace rclcpp
