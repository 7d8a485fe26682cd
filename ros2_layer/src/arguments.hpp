// Command-line ROS arguments and parameter overrides, as rcl understands them.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "rclcpp/parameter_value.hpp"

namespace ros2_layer {

/// The kinds of name that a `from:=to` rule renames: both, unless the rule's match side starts
/// with rostopic:// or rosservice://.
enum class RemapTarget { topic_or_service, topic, service };

/// One `-r from:=to` rule; `node` limits it to one node name ("node:from:=to"), empty for all.
/// A node name rule has `from` "__node" (also written "__name"), a namespace rule "__ns".
struct RemapRule {
  std::string node;
  std::string from;
  std::string to;
  RemapTarget target = RemapTarget::topic_or_service;
};

/// One parameter override from `-p` or a params file; `node` is the node key as written
/// ("/**" for a `-p` without a node prefix).
struct ParameterOverride {
  std::string node;
  std::string name;
  rclcpp::ParameterValue value;
};

/// Everything that a command line says to the client library.
struct ParsedArguments {
  std::vector<RemapRule> remaps;  ///< in command-line order; the first match wins
  std::vector<ParameterOverride> parameter_overrides;  ///< in command-line and file order
  std::vector<std::string> unparsed_arguments;  ///< the program's own arguments, argv[0] first
  std::string enclave = "/";                    ///< from --enclave/-e; the last one given wins
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

/// The overrides that apply to the node with this fully qualified name ("/ns/name"). Node keys
/// match with a leading "/" added, "/*" standing for one name and "/**" for any number. As in
/// rcl, overrides are grouped by node key in the order each key first appears; a later group
/// wins over an earlier one, and within a group the later value wins.
std::map<std::string, rclcpp::ParameterValue> parameterOverridesFor(
    const std::vector<ParameterOverride> & overrides,
    const std::string & fully_qualified_node_name);

/// Applies the first matching topic or service rule to an expanded absolute name and returns
/// the expanded replacement, or the name unchanged when no rule matches. Rule sides are expanded
/// against the node's (remapped) name and namespace; `node_name` also filters node-scoped rules;
/// `kind` is what the name is (topic_or_service lets every rule apply).
std::string remapName(
    const std::vector<RemapRule> & rules, const std::string & expanded_name,
    const std::string & node_name, const std::string & node_namespace,
    RemapTarget kind = RemapTarget::topic_or_service);

/// The node name after the first matching `__node:=` rule.
std::string remapNodeName(const std::vector<RemapRule> & rules, const std::string & node_name);

/// The namespace after the first matching `__ns:=` rule; pass the already remapped node name.
std::string remapNamespace(
    const std::vector<RemapRule> & rules, const std::string & node_name,
    const std::string & node_namespace);

}  // namespace ros2_layer
