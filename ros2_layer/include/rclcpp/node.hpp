// Nodes: a named, namespaced owner of publishers, subscriptions, clients, services and
// parameters on the DDS participant of its context.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "rcl_interfaces/msg/parameter_descriptor.hpp"
#include "rclcpp/callback_group.hpp"
#include "rclcpp/client.hpp"
#include "rclcpp/clock.hpp"
#include "rclcpp/context.hpp"
#include "rclcpp/exceptions.hpp"
#include "rclcpp/macros.hpp"
#include "rclcpp/node_interfaces/node_base_interface.hpp"
#include "rclcpp/node_options.hpp"
#include "rclcpp/parameter.hpp"
#include "rclcpp/parameter_value.hpp"
#include "rclcpp/publisher.hpp"
#include "rclcpp/publisher_options.hpp"
#include "rclcpp/qos.hpp"
#include "rclcpp/service.hpp"
#include "rclcpp/subscription.hpp"
#include "rclcpp/subscription_options.hpp"
#include "rclcpp/time.hpp"
#include "rmw/qos_profiles.h"

namespace ros2_layer {
class NodeState;
class ParameterStore;
class Waitable;
}  // namespace ros2_layer

namespace rclcpp {

/// A ROS node.
class Node : public std::enable_shared_from_this<Node> {
public:
  RCLCPP_SMART_PTR_DEFINITIONS(Node)

  /// A node in the root namespace (or the one `__ns:=` gives). Throws InvalidNodeNameError,
  /// InvalidNamespaceError, the argument errors of options.arguments(), and RCLError when
  /// the context is not initialised.
  explicit Node(const std::string & node_name, const NodeOptions & options = NodeOptions());
  /// A node in the given namespace; a relative namespace is made absolute.
  Node(
      const std::string & node_name, const std::string & namespace_,
      const NodeOptions & options = NodeOptions());
  virtual ~Node();

  /// The node's name.
  const char * get_name() const;
  /// The node's namespace.
  const char * get_namespace() const;
  /// The namespace and the name: "/ns/name".
  const char * get_fully_qualified_name() const;

  /// Creates a publisher on a topic, resolved against the node's namespace and remapped.
  template <
      typename MessageT, typename AllocatorT = std::allocator<void>,
      typename PublisherT = rclcpp::Publisher<MessageT, AllocatorT>>
  std::shared_ptr<PublisherT> create_publisher(
      const std::string & topic_name, const rclcpp::QoS & qos,
      const PublisherOptionsWithAllocator<AllocatorT> & options =
          PublisherOptionsWithAllocator<AllocatorT>()) {
    (void)options;
    return std::make_shared<PublisherT>(layer_state(), topic_name, qos);
  }

  /// Creates a subscription whose callback runs in the executor that spins this node.
  template <
      typename MessageT, typename CallbackT, typename AllocatorT = std::allocator<void>,
      typename SubscriptionT = rclcpp::Subscription<MessageT, AllocatorT>>
  std::shared_ptr<SubscriptionT> create_subscription(
      const std::string & topic_name, const rclcpp::QoS & qos, CallbackT && callback,
      const SubscriptionOptionsWithAllocator<AllocatorT> & options =
          SubscriptionOptionsWithAllocator<AllocatorT>()) {
    auto subscription = std::make_shared<SubscriptionT>(
        layer_state(), topic_name, qos, std::forward<CallbackT>(callback), options);
    add_waitable(subscription);
    return subscription;
  }

  /// Creates a client of a service, resolved against the node's namespace and remapped.
  template <typename ServiceT>
  typename rclcpp::Client<ServiceT>::SharedPtr create_client(
      const std::string & service_name,
      const rmw_qos_profile_t & qos_profile = rmw_qos_profile_services_default,
      rclcpp::CallbackGroup::SharedPtr group = nullptr) {
    (void)group;
    auto client =
        std::make_shared<rclcpp::Client<ServiceT>>(layer_state(), service_name, qos_profile);
    add_waitable(client);
    return client;
  }

  /// Creates a service whose callback runs in the executor that spins this node.
  template <typename ServiceT, typename CallbackT>
  typename rclcpp::Service<ServiceT>::SharedPtr create_service(
      const std::string & service_name, CallbackT && callback,
      const rmw_qos_profile_t & qos_profile = rmw_qos_profile_services_default,
      rclcpp::CallbackGroup::SharedPtr group = nullptr) {
    (void)group;
    auto service = std::make_shared<rclcpp::Service<ServiceT>>(
        layer_state(), service_name, std::forward<CallbackT>(callback), qos_profile);
    add_waitable(service);
    return service;
  }

  /// Declares a parameter; an override from the command line, a params file or the node
  /// options replaces the default. Returns the resulting value.
  const rclcpp::ParameterValue & declare_parameter(
      const std::string & name, const rclcpp::ParameterValue & default_value,
      const rcl_interfaces::msg::ParameterDescriptor & parameter_descriptor =
          rcl_interfaces::msg::ParameterDescriptor(),
      bool ignore_override = false);

  /// Declares a statically typed parameter whose value must come from an override.
  const rclcpp::ParameterValue & declare_parameter(
      const std::string & name, rclcpp::ParameterType type,
      const rcl_interfaces::msg::ParameterDescriptor & parameter_descriptor =
          rcl_interfaces::msg::ParameterDescriptor(),
      bool ignore_override = false);

  /// Declares a parameter with a default of type ParameterT and returns its value as that type;
  /// an override of another type raises InvalidParameterTypeException naming the parameter.
  template <typename ParameterT>
  auto declare_parameter(
      const std::string & name, const ParameterT & default_value,
      const rcl_interfaces::msg::ParameterDescriptor & parameter_descriptor =
          rcl_interfaces::msg::ParameterDescriptor(),
      bool ignore_override = false) {
    try {
      return this
          ->declare_parameter(
              name, rclcpp::ParameterValue(default_value), parameter_descriptor, ignore_override)
          .template get<ParameterT>();
    } catch (const ParameterTypeException & ex) {
      throw exceptions::InvalidParameterTypeException(name, ex.what());
    }
  }

  /// Declares a parameter of type ParameterT without a default; an override must supply it,
  /// else UninitializedStaticallyTypedParameterException is raised.
  template <typename ParameterT>
  auto declare_parameter(
      const std::string & name,
      const rcl_interfaces::msg::ParameterDescriptor & parameter_descriptor =
          rcl_interfaces::msg::ParameterDescriptor(),
      bool ignore_override = false) {
    rclcpp::ParameterValue value{ParameterT{}};
    try {
      return this->declare_parameter(name, value.get_type(), parameter_descriptor, ignore_override)
          .template get<ParameterT>();
    } catch (const ParameterTypeException &) {
      throw exceptions::UninitializedStaticallyTypedParameterException(name);
    }
  }

  /// The node's clock (ROS time, which follows the system clock here).
  rclcpp::Clock::SharedPtr get_clock();
  /// The node's clock.
  rclcpp::Clock::ConstSharedPtr get_clock() const;
  /// The node's identity as executors take it.
  rclcpp::node_interfaces::NodeBaseInterface::SharedPtr get_node_base_interface();

private:
  RCLCPP_DISABLE_COPY(Node)

  const std::shared_ptr<ros2_layer::NodeState> & layer_state() const;
  void add_waitable(const std::shared_ptr<ros2_layer::Waitable> & waitable);

  rclcpp::NodeOptions options_;
  rclcpp::node_interfaces::NodeBaseInterface::SharedPtr base_;
  // Shared with the parameter services, whose callbacks may outlive the node on another thread.
  std::shared_ptr<ros2_layer::ParameterStore> parameters_;
  rclcpp::Clock::SharedPtr clock_;
  std::vector<std::shared_ptr<rclcpp::ServiceBase>> parameter_services_;
};

}  // namespace rclcpp
