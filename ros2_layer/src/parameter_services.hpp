// The parameter services of a node as rclcpp offers them: what `ros2 param` lists, gets,
// describes and sets.
#pragma once

#include <memory>
#include <vector>

#include "rclcpp/service.hpp"

namespace rclcpp {
class Node;
}  // namespace rclcpp

namespace ros2_layer {

class ParameterStore;

/// Creates "<node name>/describe_parameters", "/get_parameters", "/get_parameter_types",
/// "/list_parameters", "/set_parameters" and "/set_parameters_atomically" on `node`, answering
/// from `store`. They live as long as the returned services.
std::vector<std::shared_ptr<rclcpp::ServiceBase>> createParameterServices(
    rclcpp::Node & node, std::shared_ptr<ParameterStore> store);

}  // namespace ros2_layer
