#include "rclcpp/client.hpp"

#include "context_state.hpp"
#include "node_state.hpp"
#include "rclcpp/exceptions.hpp"
#include "service_endpoints.hpp"

namespace rclcpp {

ClientBase::ClientBase(
    std::shared_ptr<ros2_layer::NodeState> node, const rosidl_service_type_support_t & type_support,
    const std::string & service_name, const rmw_qos_profile_t & qos_profile)
    : node_(std::move(node)), service_name_(node_->resolveName(service_name, true)) {
  try {
    if (!node_->contextState().isValid()) {
      throw exceptions::RCLError(1, "the context has been shut down", "");
    }
    endpoints_ = std::make_unique<ros2_layer::ClientEndpoints>(
        *node_, type_support, service_name_, qos_profile);
  } catch (const exceptions::RCLErrorBase & error) {
    throw exceptions::RCLError(error, "could not create client: ");
  }
}

ClientBase::~ClientBase() {
  endpoints_.reset();
  node_->waitableRemoved();
}

bool ClientBase::take_type_erased_response(
    void * response_out, rmw_request_id_t & request_header_out) {
  return endpoints_->takeReply(response_out, request_header_out);
}

const char * ClientBase::get_service_name() const { return service_name_.c_str(); }

bool ClientBase::service_is_ready() const { return endpoints_->serviceIsReady(); }

bool ClientBase::wait_for_service_nanoseconds(std::chrono::nanoseconds timeout) {
  ros2_layer::ContextState & context = node_->contextState();
  const bool forever = timeout < std::chrono::nanoseconds::zero();
  const auto deadline = forever ? std::chrono::steady_clock::time_point::max()
                                : std::chrono::steady_clock::now() + timeout;
  while (context.isValid()) {
    // Read the generation first: a match after the check then ends the wait at once.
    const uint64_t seen = context.graphGeneration();
    if (service_is_ready()) {
      return true;
    }
    if (!forever && std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    context.waitForGraphChange(seen, deadline);
  }
  return false;
}

int64_t ClientBase::send_request_type_erased(const void * request) {
  return endpoints_->send(request);
}

std::vector<uint64_t> ClientBase::matched_servers() const { return endpoints_->matchedServers(); }

int32_t ClientBase::condition() const { return endpoints_->condition(); }

bool ClientBase::execute() {
  std::shared_ptr<void> response = create_response();
  std::shared_ptr<rmw_request_id_t> header = create_request_header();
  if (!take_type_erased_response(response.get(), *header)) {
    return false;
  }
  handle_response(std::move(header), std::move(response));
  return true;
}

}  // namespace rclcpp
