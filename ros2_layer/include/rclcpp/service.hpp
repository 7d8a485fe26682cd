// Service servers: a request reader and a reply writer; the executor runs the callback.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "rclcpp/macros.hpp"
#include "rmw/types.h"
#include "ros2_layer/waitable.hpp"
#include "rosidl_runtime_c/service_type_support_struct.h"
#include "rosidl_typesupport_introspection_cpp/service_type_support_decl.hpp"

namespace ros2_layer {
class NodeState;
class ServiceEndpoints;
}  // namespace ros2_layer

namespace rclcpp {

/// The part of a service that does not depend on the service type.
class ServiceBase : public ros2_layer::Waitable {
public:
  RCLCPP_SMART_PTR_DEFINITIONS_NOT_COPYABLE(ServiceBase)

  /// Creates the request reader and reply writer. Throws InvalidServiceNameError for an invalid
  /// name and RCLError ("could not create service") when DDS refuses.
  ServiceBase(
      std::shared_ptr<ros2_layer::NodeState> node,
      const rosidl_service_type_support_t & type_support, const std::string & service_name,
      const rmw_qos_profile_t & qos_profile);
  ~ServiceBase() override;

  /// The fully qualified service name after remapping.
  const char * get_service_name();

  /// Takes the next request; false when there is none.
  bool take_type_erased_request(void * request_out, rmw_request_id_t & request_id_out);

  /// A new request message to take into.
  virtual std::shared_ptr<void> create_request() = 0;
  /// A new request header to take into.
  virtual std::shared_ptr<rmw_request_id_t> create_request_header() = 0;
  /// Runs the callback for a taken request.
  virtual void handle_request(
      std::shared_ptr<rmw_request_id_t> request_header, std::shared_ptr<void> request) = 0;

  /// The DDS read condition of the request reader.
  int32_t condition() const override;
  /// Takes one request and runs the callback.
  bool execute() override;

protected:
  /// Writes a reply to the client of `request_id`. Waits briefly for that client's reply reader
  /// to be matched, as rmw_cyclonedds does, and drops the reply with a warning when it is not.
  void send_response_type_erased(const rmw_request_id_t & request_id, const void * response);

private:
  RCLCPP_DISABLE_COPY(ServiceBase)

  std::shared_ptr<ros2_layer::NodeState> node_;
  std::unique_ptr<ros2_layer::ServiceEndpoints> endpoints_;
  std::string service_name_;
};

/// A service server of one service type. The callback takes (request, response),
/// (request_header, request, response), or, for replies sent later with send_response,
/// (request_header, request) or (service, request_header, request).
template <typename ServiceT>
class Service : public ServiceBase, public std::enable_shared_from_this<Service<ServiceT>> {
public:
  RCLCPP_SMART_PTR_DEFINITIONS(Service)

  using SharedRequest = std::shared_ptr<typename ServiceT::Request>;
  using SharedResponse = std::shared_ptr<typename ServiceT::Response>;
  using SharedHeader = std::shared_ptr<rmw_request_id_t>;

  /// Creates the service on the node's participant.
  template <typename CallbackT>
  Service(
      std::shared_ptr<ros2_layer::NodeState> node, const std::string & service_name,
      CallbackT && callback, const rmw_qos_profile_t & qos_profile)
      : ServiceBase(
            std::move(node),
            *rosidl_typesupport_introspection_cpp::get_service_type_support_handle<ServiceT>(),
            service_name, qos_profile)
      , dispatch_(adapt(std::forward<CallbackT>(callback))) {}

  std::shared_ptr<void> create_request() override {
    return std::make_shared<typename ServiceT::Request>();
  }

  std::shared_ptr<rmw_request_id_t> create_request_header() override {
    return std::make_shared<rmw_request_id_t>();
  }

  void handle_request(SharedHeader request_header, std::shared_ptr<void> request) override {
    dispatch_(
        *this, std::move(request_header),
        std::static_pointer_cast<typename ServiceT::Request>(request));
  }

  /// Sends the reply to a request; may be called from any thread.
  void send_response(rmw_request_id_t & req_id, typename ServiceT::Response & response) {
    this->send_response_type_erased(req_id, &response);
  }

private:
  using Dispatch = std::function<void(Service &, SharedHeader, SharedRequest)>;

  template <typename CallbackT>
  static Dispatch adapt(CallbackT && callback) {
    using F = std::decay_t<CallbackT>;
    auto stored = std::make_shared<F>(std::forward<CallbackT>(callback));
    if constexpr (std::is_invocable_v<F &, SharedRequest, SharedResponse>) {
      return [stored](Service & service, SharedHeader header, SharedRequest request) {
        auto response = std::make_shared<typename ServiceT::Response>();
        (*stored)(std::move(request), response);
        service.send_response(*header, *response);
      };
    } else if constexpr (std::is_invocable_v<F &, SharedHeader, SharedRequest, SharedResponse>) {
      return [stored](Service & service, SharedHeader header, SharedRequest request) {
        auto response = std::make_shared<typename ServiceT::Response>();
        (*stored)(header, std::move(request), response);
        service.send_response(*header, *response);
      };
    } else if constexpr (std::is_invocable_v<F &, SharedHeader, SharedRequest>) {
      return [stored](Service &, SharedHeader header, SharedRequest request) {
        (*stored)(std::move(header), std::move(request));
      };
    } else if constexpr (std::is_invocable_v<
                             F &, std::shared_ptr<Service>, SharedHeader, SharedRequest>) {
      return [stored](Service & service, SharedHeader header, SharedRequest request) {
        (*stored)(service.shared_from_this(), std::move(header), std::move(request));
      };
    } else {
      static_assert(
          std::is_invocable_v<F &, SharedRequest, SharedResponse>,
          "service callbacks take (request, response), (header, request, response), "
          "(header, request) or (service, header, request)");
    }
  }

  Dispatch dispatch_;
};

}  // namespace rclcpp
