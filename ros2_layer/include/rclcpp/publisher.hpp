// Publishers: typed front ends of one DDS writer each.
#pragma once

#include <memory>
#include <string>

#include "rclcpp/macros.hpp"
#include "rclcpp/qos.hpp"
#include "rosidl_runtime_c/message_type_support_struct.h"
#include "rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp"

namespace ros2_layer {
class NodeState;
class Writer;
}  // namespace ros2_layer

namespace rclcpp {

/// The part of a publisher that does not depend on the message type.
class PublisherBase {
public:
  RCLCPP_SMART_PTR_DEFINITIONS_NOT_COPYABLE(PublisherBase)

  /// Creates the DDS writer for the resolved topic. Throws InvalidTopicNameError for an invalid
  /// name and RCLError ("could not create publisher") when DDS refuses.
  PublisherBase(
      std::shared_ptr<ros2_layer::NodeState> node,
      const rosidl_message_type_support_t & type_support, const std::string & topic,
      const rclcpp::QoS & qos);
  virtual ~PublisherBase();

  /// The fully qualified topic name after remapping.
  const char * get_topic_name() const;
  /// The number of subscriptions matched with this publisher.
  size_t get_subscription_count() const;

protected:
  /// Serialises and writes one message; dropped silently once the context has shut down.
  void publish_type_erased(const void * message);

private:
  RCLCPP_DISABLE_COPY(PublisherBase)

  std::shared_ptr<ros2_layer::NodeState> node_;
  std::unique_ptr<ros2_layer::Writer> writer_;
  std::string topic_name_;
};

/// A publisher of one message type.
template <typename MessageT, typename AllocatorT = std::allocator<void>>
class Publisher : public PublisherBase {
public:
  RCLCPP_SMART_PTR_DEFINITIONS(Publisher<MessageT, AllocatorT>)

  /// Creates the publisher on the node's participant.
  Publisher(
      std::shared_ptr<ros2_layer::NodeState> node, const std::string & topic,
      const rclcpp::QoS & qos)
      : PublisherBase(
            std::move(node),
            *rosidl_typesupport_introspection_cpp::get_message_type_support_handle<MessageT>(),
            topic, qos) {}

  /// Publishes a message; safe to call from any thread.
  void publish(const MessageT & msg) { this->publish_type_erased(&msg); }

  /// Publishes a message and releases it.
  template <typename DeleterT>
  void publish(std::unique_ptr<MessageT, DeleterT> msg) {
    this->publish_type_erased(msg.get());
  }
};

}  // namespace rclcpp
