// Applying remap rules and choosing a node's parameter overrides, as rcl and rclcpp do.
#include <algorithm>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "arguments.hpp"

namespace ros2_layer {
namespace {

constexpr std::string_view kNodeNameRule = "__node";
constexpr std::string_view kNamespaceRule = "__ns";

bool isNameRule(const RemapRule & rule) {
  return rule.from != kNodeNameRule && rule.from != kNamespaceRule;
}

bool appliesToNode(const RemapRule & rule, const std::string & node_name) {
  return rule.node.empty() || rule.node == node_name;
}

bool appliesToKind(const RemapRule & rule, RemapTarget kind) {
  return rule.target == RemapTarget::topic_or_service || kind == RemapTarget::topic_or_service ||
         rule.target == kind;
}

/// Makes a rule's relative ("joy") or private ("~/state") name absolute for this node.
std::string expandName(
    const std::string & name, const std::string & node_name, const std::string & node_namespace) {
  const std::string namespace_prefix = node_namespace == "/" ? "/" : node_namespace + "/";
  if (!name.empty() && name.front() == '/') {
    return name;
  }
  if (!name.empty() && name.front() == '~') {
    return namespace_prefix + node_name + name.substr(1);
  }
  return namespace_prefix + name;
}

const RemapRule * firstRuleFor(
    const std::vector<RemapRule> & rules, std::string_view from, const std::string & node_name) {
  for (const RemapRule & rule : rules) {
    if (rule.from == from && appliesToNode(rule, node_name)) {
      return &rule;
    }
  }
  return nullptr;
}

std::vector<std::string_view> partsOf(std::string_view name) {
  std::vector<std::string_view> parts;
  while (!name.empty()) {
    if (name.front() == '/') {
      name.remove_prefix(1);
      continue;
    }
    const auto slash = name.find('/');
    parts.push_back(name.substr(0, slash));
    name.remove_prefix(slash == std::string_view::npos ? name.size() : slash);
  }
  return parts;
}

/// "*" stands for exactly one name part and "**" for any number of them.
bool partsMatch(
    const std::vector<std::string_view> & pattern, size_t pattern_index,
    const std::vector<std::string_view> & name, size_t name_index) {
  if (pattern_index == pattern.size()) {
    return name_index == name.size();
  }
  const std::string_view part = pattern[pattern_index];
  if (part == "**") {
    for (size_t skipped = name_index; skipped <= name.size(); ++skipped) {
      if (partsMatch(pattern, pattern_index + 1, name, skipped)) {
        return true;
      }
    }
    return false;
  }
  if (name_index == name.size() || (part != "*" && part != name[name_index])) {
    return false;
  }
  return partsMatch(pattern, pattern_index + 1, name, name_index + 1);
}

bool nodeKeyMatches(const std::string & node_key, const std::string & fully_qualified_node_name) {
  return partsMatch(partsOf(node_key), 0, partsOf(fully_qualified_node_name), 0);
}

/// The distinct node keys in the order in which each first appears.
std::vector<std::string> nodeKeysInOrder(const std::vector<ParameterOverride> & overrides) {
  std::vector<std::string> keys;
  for (const ParameterOverride & entry : overrides) {
    if (std::find(keys.begin(), keys.end(), entry.node) == keys.end()) {
      keys.push_back(entry.node);
    }
  }
  return keys;
}

}  // namespace

std::map<std::string, rclcpp::ParameterValue> parameterOverridesFor(
    const std::vector<ParameterOverride> & overrides,
    const std::string & fully_qualified_node_name) {
  std::map<std::string, rclcpp::ParameterValue> chosen;
  for (const std::string & key : nodeKeysInOrder(overrides)) {
    if (!nodeKeyMatches(key, fully_qualified_node_name)) {
      continue;
    }
    for (const ParameterOverride & entry : overrides) {
      if (entry.node == key) {
        chosen.insert_or_assign(entry.name, entry.value);
      }
    }
  }
  return chosen;
}

std::string remapName(
    const std::vector<RemapRule> & rules, const std::string & expanded_name,
    const std::string & node_name, const std::string & node_namespace, RemapTarget kind) {
  for (const RemapRule & rule : rules) {
    if (isNameRule(rule) && appliesToNode(rule, node_name) && appliesToKind(rule, kind) &&
        expandName(rule.from, node_name, node_namespace) == expanded_name) {
      return expandName(rule.to, node_name, node_namespace);
    }
  }
  return expanded_name;
}

std::string remapNodeName(const std::vector<RemapRule> & rules, const std::string & node_name) {
  const RemapRule * rule = firstRuleFor(rules, kNodeNameRule, node_name);
  return rule != nullptr ? rule->to : node_name;
}

std::string remapNamespace(
    const std::vector<RemapRule> & rules, const std::string & node_name,
    const std::string & node_namespace) {
  const RemapRule * rule = firstRuleFor(rules, kNamespaceRule, node_name);
  return rule != nullptr ? rule->to : node_namespace;
}

}  // namespace ros2_layer
