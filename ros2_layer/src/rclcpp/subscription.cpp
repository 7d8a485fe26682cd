#include "rclcpp/subscription.hpp"

#include "endpoints.hpp"
#include "node_state.hpp"
#include "rclcpp/exceptions.hpp"

namespace rclcpp {

SubscriptionBase::SubscriptionBase(
    std::shared_ptr<ros2_layer::NodeState> node, const rosidl_message_type_support_t & type_support,
    const std::string & topic, const rclcpp::QoS & qos, bool ignore_local_publications)
    : node_(std::move(node)), topic_name_(node_->resolveName(topic, false)) {
  ros2_layer::EndpointSpec description;
  const rmw_qos_profile_t & profile = qos.get_rmw_qos_profile();
  description.topic = ros2_layer::ddsTopicName("rt", topic_name_, "", profile);
  description.type = static_cast<const ros2_layer::MessageMembers *>(type_support.data);
  description.qos = profile;
  description.ignore_local_publications = ignore_local_publications;
  try {
    reader_ = std::make_unique<ros2_layer::Reader>(node_->participant(), description, nullptr);
  } catch (const rclcpp::exceptions::RCLErrorBase & error) {
    throw rclcpp::exceptions::RCLError(error, "could not create subscription: ");
  }
  node_->announceEndpoint(ros2_layer::gidOf(reader_->handle()), false);
}

SubscriptionBase::~SubscriptionBase() {
  node_->withdrawEndpoint(ros2_layer::gidOf(reader_->handle()), false);
  reader_.reset();
  node_->waitableRemoved();
}

const char * SubscriptionBase::get_topic_name() const { return topic_name_.c_str(); }

size_t SubscriptionBase::get_publisher_count() const { return reader_->matchedCount(); }

int32_t SubscriptionBase::condition() const { return reader_->condition(); }

bool SubscriptionBase::execute() {
  dds_sample_info_t info;
  while (true) {
    std::shared_ptr<void> message = create_message();
    if (!reader_->take(message.get(), info)) {
      return false;
    }
    if (info.valid_data) {
      handle_message(std::move(message));
      return true;
    }
  }
}

}  // namespace rclcpp
