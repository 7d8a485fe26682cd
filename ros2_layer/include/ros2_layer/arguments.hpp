// Command-line ROS arguments and parameter overrides, as rcl understands them.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "rclcpp/parameter_value.hpp"

namespace ros2_layer {

/// One `-r from:=to` rule; `node` limits it to one node name ("node:from:=to"), empty for all.
struct RemapRule {
  std::string node;
  std::string from;
  std::string to;
};

/// One parameter override from `-p` or a params file; `node` is the node pattern ("/**" for all).
struct ParameterOverride {
  std::string node;
  std::string name;
  rclcpp::ParameterValue value;
};

/// Everything that a command line says to the client library.
struct ParsedArguments {
  std::vector<RemapRule> remaps;  ///< in command-line order; the first match wins
  std::vector<ParameterOverride> parameter_overrides;  ///< in order; a later one wins
  std::vector<std::string> unparsed_arguments;  ///< the program's own arguments, argv[0] first
};

/// Parses argv as rcl does, then checks it as rclcpp does. Throws
/// rclcpp::exceptions::RCLInvalidROSArgsError naming the malformed argument (a bad remap, a bad
/// -p value, a flag without its value, an unreadable or malformed params file), its what()
/// starting with `error_prefix` + ": " as rclcpp's does ("failed to initialize rcl" from
/// rclcpp::init; rclcpp uses "failed to parse arguments" for NodeOptions::arguments); and
/// rclcpp::exceptions::UnknownROSArgsError listing any unknown flags inside --ros-args.
ParsedArguments parseArguments(
    int argc, const char * const * argv,
    const std::string & error_prefix = "failed to initialize rcl");

/// The overrides that apply to the node with this fully qualified name ("/ns/name"), the later
/// of two for the same parameter winning. Node-name keys match exactly; "/**" and "/*" wildcards
/// as rcl matches them.
std::map<std::string, rclcpp::ParameterValue> parameterOverridesFor(
    const std::vector<ParameterOverride> & overrides,
    const std::string & fully_qualified_node_name);

/// Applies the first matching topic/service rule to an expanded absolute name; returns the name
/// unchanged when no rule matches. `node_name` filters node-scoped rules.
std::string remapName(
    const std::vector<RemapRule> & rules, const std::string & expanded_name,
    const std::string & node_name, const std::string & node_namespace);

/// The node name and namespace after `__node:=` / `__ns:=` rules.
std::string remapNodeName(const std::vector<RemapRule> & rules, const std::string & node_name);
std::string remapNamespace(
    const std::vector<RemapRule> & rules, const std::string & node_name,
    const std::string & node_namespace);

}  // namespace ros2_layer
