#include "rclcpp/publisher.hpp"

#include "endpoints.hpp"
#include "node_state.hpp"
#include "rclcpp/exceptions.hpp"

namespace rclcpp {
namespace {

const ros2_layer::MessageMembers & membersOf(const rosidl_message_type_support_t & type_support) {
  return *static_cast<const ros2_layer::MessageMembers *>(type_support.data);
}

}  // namespace

PublisherBase::PublisherBase(
    std::shared_ptr<ros2_layer::NodeState> node, const rosidl_message_type_support_t & type_support,
    const std::string & topic, const rclcpp::QoS & qos)
    : node_(std::move(node)), topic_name_(node_->resolveName(topic, false)) {
  ros2_layer::EndpointSpec description;
  description.topic = ros2_layer::ddsTopicName("rt", topic_name_, "", qos.get_rmw_qos_profile());
  description.type = &membersOf(type_support);
  description.qos = qos.get_rmw_qos_profile();
  try {
    writer_ = std::make_unique<ros2_layer::Writer>(node_->participant(), description, nullptr);
  } catch (const rclcpp::exceptions::RCLErrorBase & error) {
    throw rclcpp::exceptions::RCLError(error, "could not create publisher: ");
  }
  node_->announceEndpoint(ros2_layer::gidOf(writer_->handle()), true);
}

PublisherBase::~PublisherBase() {
  node_->withdrawEndpoint(ros2_layer::gidOf(writer_->handle()), true);
}

const char * PublisherBase::get_topic_name() const { return topic_name_.c_str(); }

size_t PublisherBase::get_subscription_count() const { return writer_->matchedCount(); }

void PublisherBase::publish_type_erased(const void * message) {
  // rclcpp drops what is published after shutdown instead of failing.
  if (!node_->contextState().isValid()) {
    return;
  }
  writer_->write(message);
}

}  // namespace rclcpp
