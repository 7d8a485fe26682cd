// Answers as rclcpp's parameter services give them: a request naming a parameter that was never
// declared gets an empty answer (set_parameters: a refusal for that parameter), and
// set_parameters sets each parameter on its own.
#include "parameter_services.hpp"

#include <string>
#include <utility>

#include "parameter_store.hpp"
#include "rcl_interfaces/srv/describe_parameters.hpp"
#include "rcl_interfaces/srv/get_parameter_types.hpp"
#include "rcl_interfaces/srv/get_parameters.hpp"
#include "rcl_interfaces/srv/list_parameters.hpp"
#include "rcl_interfaces/srv/set_parameters.hpp"
#include "rcl_interfaces/srv/set_parameters_atomically.hpp"
#include "rclcpp/exceptions.hpp"
#include "rclcpp/node.hpp"
#include "rmw/qos_profiles.h"

namespace ros2_layer {
namespace {

using namespace rcl_interfaces::srv;
using rcl_interfaces::msg::SetParametersResult;

template <typename ServiceT, typename CallbackT>
std::shared_ptr<rclcpp::ServiceBase> parameterService(
    rclcpp::Node & node, const char * suffix, CallbackT && callback) {
  return node.create_service<ServiceT>(
      std::string(node.get_name()) + "/" + suffix, std::forward<CallbackT>(callback),
      rmw_qos_profile_parameters);
}

/// Sets the parameters of a request together; a value of a type no parameter has refuses the
/// request instead of ending the node, as it would in rclcpp.
SetParametersResult setFromMessages(
    ParameterStore & store, const std::vector<rcl_interfaces::msg::Parameter> & messages) {
  std::vector<rclcpp::Parameter> parameters;
  try {
    for (const rcl_interfaces::msg::Parameter & message : messages) {
      parameters.emplace_back(message.name, rclcpp::ParameterValue(message.value));
    }
  } catch (const std::runtime_error & error) {
    SetParametersResult refused;
    refused.reason = error.what();
    return refused;
  }
  return store.set(parameters);
}

}  // namespace

std::vector<std::shared_ptr<rclcpp::ServiceBase>> createParameterServices(
    rclcpp::Node & node, std::shared_ptr<ParameterStore> store) {
  std::vector<std::shared_ptr<rclcpp::ServiceBase>> services;
  services.push_back(parameterService<GetParameters>(
      node, "get_parameters",
      [store](
          GetParameters::Request::SharedPtr request, GetParameters::Response::SharedPtr response) {
        response->values = store->values(request->names).value_or(decltype(response->values){});
      }));
  services.push_back(parameterService<GetParameterTypes>(
      node, "get_parameter_types",
      [store](
          GetParameterTypes::Request::SharedPtr request,
          GetParameterTypes::Response::SharedPtr response) {
        response->types = store->types(request->names).value_or(decltype(response->types){});
      }));
  services.push_back(parameterService<SetParameters>(
      node, "set_parameters",
      [store](
          SetParameters::Request::SharedPtr request, SetParameters::Response::SharedPtr response) {
        for (const rcl_interfaces::msg::Parameter & parameter : request->parameters) {
          try {
            response->results.push_back(setFromMessages(*store, {parameter}));
          } catch (const rclcpp::exceptions::ParameterNotDeclaredException & error) {
            SetParametersResult refused;
            refused.reason = error.what();
            response->results.push_back(std::move(refused));
          }
        }
      }));
  services.push_back(parameterService<SetParametersAtomically>(
      node, "set_parameters_atomically",
      [store](
          SetParametersAtomically::Request::SharedPtr request,
          SetParametersAtomically::Response::SharedPtr response) {
        try {
          response->result = setFromMessages(*store, request->parameters);
        } catch (const rclcpp::exceptions::ParameterNotDeclaredException &) {
          response->result.successful = false;
          response->result.reason = "One or more parameters were not declared before setting";
        }
      }));
  services.push_back(parameterService<DescribeParameters>(
      node, "describe_parameters",
      [store](
          DescribeParameters::Request::SharedPtr request,
          DescribeParameters::Response::SharedPtr response) {
        response->descriptors =
            store->describe(request->names).value_or(decltype(response->descriptors){});
      }));
  services.push_back(parameterService<ListParameters>(
      node, "list_parameters",
      [store](
          ListParameters::Request::SharedPtr request,
          ListParameters::Response::SharedPtr response) {
        response->result = store->list(request->prefixes, request->depth);
      }));
  return services;
}

}  // namespace ros2_layer
