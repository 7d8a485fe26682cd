#include "rclcpp/service.hpp"

#include "log_line.hpp"
#include "node_state.hpp"
#include "rclcpp/exceptions.hpp"
#include "service_endpoints.hpp"

namespace rclcpp {

ServiceBase::ServiceBase(
    std::shared_ptr<ros2_layer::NodeState> node, const rosidl_service_type_support_t & type_support,
    const std::string & service_name, const rmw_qos_profile_t & qos_profile)
    : node_(std::move(node)), service_name_(node_->resolveName(service_name, true)) {
  try {
    endpoints_ = std::make_unique<ros2_layer::ServiceEndpoints>(
        *node_, type_support, service_name_, qos_profile);
  } catch (const exceptions::RCLErrorBase & error) {
    throw exceptions::RCLError(error, "could not create service: ");
  }
}

ServiceBase::~ServiceBase() {
  endpoints_.reset();
  node_->waitableRemoved();
}

const char * ServiceBase::get_service_name() { return service_name_.c_str(); }

bool ServiceBase::take_type_erased_request(void * request_out, rmw_request_id_t & request_id_out) {
  return endpoints_->takeRequest(request_out, request_id_out);
}

int32_t ServiceBase::condition() const { return endpoints_->condition(); }

bool ServiceBase::execute() {
  std::shared_ptr<void> request = create_request();
  std::shared_ptr<rmw_request_id_t> header = create_request_header();
  if (!take_type_erased_request(request.get(), *header)) {
    return false;
  }
  handle_request(std::move(header), std::move(request));
  return true;
}

void ServiceBase::send_response_type_erased(
    const rmw_request_id_t & request_id, const void * response) {
  if (!endpoints_->sendReply(request_id, response)) {
    ros2_layer::logLine(
        "WARN", "failed to send response to " + service_name_ +
                    " (timeout): client will not receive response");
  }
}

}  // namespace rclcpp
