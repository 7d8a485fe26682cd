// Validation and expansion of node names, namespaces, topic and service names by rcl's rules.
#pragma once

#include <string>

namespace ros2_layer {

/// Throws InvalidNodeNameError unless the name is valid.
void validateNodeName(const std::string & node_name);

/// The namespace made absolute ("" becomes "/"); throws InvalidNamespaceError when invalid.
std::string normalizeNamespace(const std::string & namespace_);

/// Expands a topic or service name ("~", "{node}", "{ns}", relative names) against the node's
/// name and namespace; throws InvalidTopicNameError or InvalidServiceNameError naming the
/// offending character of an invalid name.
std::string expandTopicName(
    const std::string & name, const std::string & node_name, const std::string & node_namespace,
    bool is_service);

/// Throws InvalidTopicNameError or InvalidServiceNameError unless `name` is a valid fully
/// qualified name.
void validateFullTopicName(const std::string & name, bool is_service);

}  // namespace ros2_layer
