// rcl's and rmw's naming rules, with their error messages.
#include "names.hpp"

#include <cctype>

#include "dds_error.hpp"
#include "rclcpp/exceptions.hpp"

namespace ros2_layer {
namespace {

// rmw keeps room for the "rt" and "rq"/"rr" prefixes within DDS's limit of 255.
constexpr size_t kMaxNameLength = 255 - 8;
constexpr size_t kMaxNodeNameLength = 255;

bool isAlnum(char character) {
  return (character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z') ||
         (character >= '0' && character <= '9');
}

bool isDigit(char character) { return character >= '0' && character <= '9'; }

struct Problem {
  const char * message = nullptr;
  size_t index = 0;
};

/// rcl_validate_topic_name: the rules for names as a user writes them.
Problem topicNameProblem(const std::string & name) {
  if (name.empty()) {
    return {"topic name must not be empty string", 0};
  }
  if (isDigit(name[0])) {
    return {"topic name token must not start with a number", 0};
  }
  if (name.back() == '/') {
    return {"topic name must not end with a forward slash", name.size() - 1};
  }
  bool in_braces = false;
  size_t opening_brace = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    const char character = name[i];
    if (isAlnum(character)) {
      if (isDigit(character) && in_braces && i > 0 && i - 1 == opening_brace) {
        return {"substitution name must not start with a number", i};
      }
    } else if (character == '_') {
    } else if (character == '/') {
      if (in_braces) {
        return {"substitution name must not contain characters other than alphanumerics or '_'", i};
      }
    } else if (character == '~') {
      if (i != 0) {
        return {"topic name must not have tilde '~' unless it is the first character", i};
      }
    } else if (character == '{') {
      opening_brace = i;
      if (in_braces) {
        return {"substitution name must not contain characters other than alphanumerics or '_'", i};
      }
      in_braces = true;
    } else if (character == '}') {
      if (!in_braces) {
        return {"topic name must not have unmatched (unbalanced) curly braces '{}'", i};
      }
      in_braces = false;
    } else if (in_braces) {
      return {"substitution name must not contain characters other than alphanumerics or '_'", i};
    } else {
      return {
          "topic name must not contain characters other than alphanumerics, '_', '~', '{', or '}'",
          i};
    }
  }
  if (in_braces) {
    return {"topic name must not have unmatched (unbalanced) curly braces '{}'", opening_brace};
  }
  for (size_t i = 0; i + 1 < name.size(); ++i) {
    if (name[i] == '/') {
      if (isDigit(name[i + 1])) {
        return {"topic name token must not start with a number", i + 1};
      }
    } else if (i == 1 && name[0] == '~') {
      return {
          "topic name must not have a tilde '~' that is not followed by a forward slash '/'", 1};
    }
  }
  return {};
}

/// rmw_validate_full_topic_name and rmw_validate_namespace: the rules for absolute names.
Problem absoluteNameProblem(const std::string & name, const char * kind, bool allow_root) {
  static thread_local std::string message;
  auto problem = [&](const std::string & text, size_t index) {
    message = std::string(kind) + " " + text;
    return Problem{message.c_str(), index};
  };
  if (name.empty()) {
    return problem("must not be empty", 0);
  }
  if (name[0] != '/') {
    return problem("must be absolute, it must lead with a '/'", 0);
  }
  if (name.size() > 1 && name.back() == '/') {
    return problem("must not end with a forward slash", name.size() - 1);
  }
  for (size_t i = 0; i < name.size(); ++i) {
    if (!isAlnum(name[i]) && name[i] != '_' && name[i] != '/') {
      return problem("must not contain characters other than alphanumerics, '_', or '/'", i);
    }
  }
  for (size_t i = 0; i + 1 < name.size(); ++i) {
    if (name[i] == '/' && name[i + 1] == '/') {
      return problem("must not contain repeated '/'", i + 1);
    }
    if (name[i] == '/' && isDigit(name[i + 1])) {
      return problem("must not have a token that starts with a number", i + 1);
    }
  }
  if (!allow_root && name == "/") {
    return problem("must not end with a forward slash", 0);
  }
  if (name.size() > kMaxNameLength) {
    return problem(
        "should not exceed '" + std::to_string(kMaxNameLength) + "'", kMaxNameLength - 1);
  }
  return {};
}

[[noreturn]] void throwNameError(
    const std::string & name, const Problem & problem, bool is_service) {
  if (is_service) {
    throw rclcpp::exceptions::InvalidServiceNameError(name.c_str(), problem.message, problem.index);
  }
  throw rclcpp::exceptions::InvalidTopicNameError(name.c_str(), problem.message, problem.index);
}

void replaceAll(std::string & text, const std::string & from, const std::string & to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

void validateNodeName(const std::string & node_name) {
  const char * message = nullptr;
  size_t index = 0;
  if (node_name.empty()) {
    message = "node name must not be empty";
  } else if (isDigit(node_name[0])) {
    message = "node name must not start with a number";
  } else if (node_name.size() > kMaxNodeNameLength) {
    message = "node name length should not exceed '255'";
    index = kMaxNodeNameLength - 1;
  } else {
    for (size_t i = 0; i < node_name.size(); ++i) {
      if (!isAlnum(node_name[i]) && node_name[i] != '_') {
        message = "node name must not contain characters other than alphanumerics or '_'";
        index = i;
        break;
      }
    }
  }
  if (message != nullptr) {
    throw rclcpp::exceptions::InvalidNodeNameError(node_name.c_str(), message, index);
  }
}

std::string normalizeNamespace(const std::string & namespace_) {
  std::string absolute = namespace_;
  if (absolute.empty() || absolute[0] != '/') {
    absolute = "/" + absolute;
  }
  const Problem problem = absoluteNameProblem(absolute, "namespace", true);
  if (problem.message != nullptr) {
    throw rclcpp::exceptions::InvalidNamespaceError(
        absolute.c_str(), problem.message, problem.index);
  }
  return absolute;
}

std::string expandTopicName(
    const std::string & name, const std::string & node_name, const std::string & node_namespace,
    bool is_service) {
  const Problem problem = topicNameProblem(name);
  if (problem.message != nullptr) {
    throwNameError(name, problem, is_service);
  }
  std::string expanded = name;
  if (expanded[0] == '~') {
    expanded =
        (node_namespace == "/" ? "/" : node_namespace + "/") + node_name + expanded.substr(1);
  }
  replaceAll(expanded, "{node}", node_name);
  replaceAll(expanded, "{ns}", node_namespace);
  replaceAll(expanded, "{namespace}", node_namespace);
  const size_t unknown = expanded.find('{');
  if (unknown != std::string::npos) {
    throwLayerError(
        "failed to expand '" + name + "'",
        "unknown substitution: " +
            expanded.substr(unknown, expanded.find('}', unknown) - unknown + 1));
  }
  if (expanded[0] != '/') {
    expanded = (node_namespace == "/" ? "/" : node_namespace + "/") + expanded;
  }
  return expanded;
}

void validateFullTopicName(const std::string & name, bool is_service) {
  const Problem problem =
      absoluteNameProblem(name, is_service ? "service name" : "topic name", false);
  if (problem.message != nullptr) {
    throwNameError(name, problem, is_service);
  }
}

}  // namespace ros2_layer
