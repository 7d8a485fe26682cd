// Subscriptions: typed front ends of one DDS reader each, run by the executor.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "rclcpp/macros.hpp"
#include "rclcpp/qos.hpp"
#include "rclcpp/subscription_options.hpp"
#include "ros2_layer/waitable.hpp"
#include "rosidl_runtime_c/message_type_support_struct.h"
#include "rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp"

namespace ros2_layer {
class NodeState;
class Reader;
}  // namespace ros2_layer

namespace rclcpp {

/// The part of a subscription that does not depend on the message type.
class SubscriptionBase : public ros2_layer::Waitable {
public:
  RCLCPP_SMART_PTR_DEFINITIONS_NOT_COPYABLE(SubscriptionBase)

  /// Creates the DDS reader for the resolved topic. Throws InvalidTopicNameError for an invalid
  /// name and RCLError ("could not create subscription") when DDS refuses.
  SubscriptionBase(
      std::shared_ptr<ros2_layer::NodeState> node,
      const rosidl_message_type_support_t & type_support, const std::string & topic,
      const rclcpp::QoS & qos, bool ignore_local_publications);
  ~SubscriptionBase() override;

  /// The fully qualified topic name after remapping.
  const char * get_topic_name() const;
  /// The number of publishers matched with this subscription.
  size_t get_publisher_count() const;

  /// The DDS read condition of the reader.
  int32_t condition() const override;
  /// Takes one message and runs the callback with it.
  bool execute() override;

protected:
  /// A new, default-initialised message to take into.
  virtual std::shared_ptr<void> create_message() = 0;
  /// Runs the user's callback with a taken message.
  virtual void handle_message(std::shared_ptr<void> message) = 0;

private:
  RCLCPP_DISABLE_COPY(SubscriptionBase)

  std::shared_ptr<ros2_layer::NodeState> node_;
  std::unique_ptr<ros2_layer::Reader> reader_;
  std::string topic_name_;
};

/// A subscription to one message type. The callback may take std::shared_ptr<MessageT>,
/// std::shared_ptr<const MessageT>, const MessageT & or std::unique_ptr<MessageT>.
template <typename MessageT, typename AllocatorT = std::allocator<void>>
class Subscription : public SubscriptionBase {
public:
  RCLCPP_SMART_PTR_DEFINITIONS(Subscription<MessageT, AllocatorT>)

  /// Creates the subscription on the node's participant.
  template <typename CallbackT>
  Subscription(
      std::shared_ptr<ros2_layer::NodeState> node, const std::string & topic,
      const rclcpp::QoS & qos, CallbackT && callback,
      const SubscriptionOptionsWithAllocator<AllocatorT> & options)
      : SubscriptionBase(
            std::move(node),
            *rosidl_typesupport_introspection_cpp::get_message_type_support_handle<MessageT>(),
            topic, qos, options.ignore_local_publications)
      , callback_(adapt(std::forward<CallbackT>(callback))) {}

protected:
  std::shared_ptr<void> create_message() override { return std::make_shared<MessageT>(); }

  void handle_message(std::shared_ptr<void> message) override {
    callback_(std::static_pointer_cast<MessageT>(std::move(message)));
  }

private:
  using Callback = std::function<void(std::shared_ptr<MessageT>)>;

  template <typename CallbackT>
  static Callback adapt(CallbackT && callback) {
    using F = std::decay_t<CallbackT>;
    if constexpr (std::is_invocable_v<F &, std::shared_ptr<MessageT>>) {
      return Callback(std::forward<CallbackT>(callback));
    } else if constexpr (std::is_invocable_v<F &, std::unique_ptr<MessageT>>) {
      return [callback =
                  F(std::forward<CallbackT>(callback))](std::shared_ptr<MessageT> message) mutable {
        callback(std::make_unique<MessageT>(std::move(*message)));
      };
    } else if constexpr (std::is_invocable_v<F &, const MessageT &>) {
      return [callback = F(std::forward<CallbackT>(callback))](
                 std::shared_ptr<MessageT> message) mutable { callback(*message); };
    } else {
      static_assert(
          std::is_invocable_v<F &, std::shared_ptr<MessageT>>,
          "subscription callbacks take std::shared_ptr<MessageT>, "
          "std::shared_ptr<const MessageT>, const MessageT & or std::unique_ptr<MessageT>");
    }
  }

  Callback callback_;
};

}  // namespace rclcpp
