// rcl reads parameter values with its own typing rules rather than YAML 1.2's: an unquoted
// scalar is a bool if it is one of a fixed set of words, else an integer if strtoll reads all
// of it, else a double if strtod does, else a string; a quoted scalar is always a string; a
// sequence takes the type of its first element and every other element must have that type.
#include "yaml_parameters.hpp"

#include <yaml-cpp/yaml.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace ros2_layer {
namespace {

using Scalar = std::variant<bool, int64_t, double, std::string>;

constexpr std::array<std::string_view, 11> kTrueWords = {
    "Y", "y", "yes", "Yes", "YES", "true", "True", "TRUE", "on", "On", "ON"};
constexpr std::array<std::string_view, 11> kFalseWords = {
    "N", "n", "no", "No", "NO", "false", "False", "FALSE", "off", "Off", "OFF"};

bool isOneOf(std::string_view text, const std::array<std::string_view, 11> & words) {
  for (std::string_view word : words) {
    if (text == word) {
      return true;
    }
  }
  return false;
}

bool readsAsInteger(const std::string & text, int64_t & value) {
  if (text.empty()) {
    return false;
  }
  char * end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0') {
    return false;
  }
  value = parsed;
  return true;
}

/// YAML's spellings of infinity and not-a-number, which strtod does not read.
bool readsAsYamlSpecialFloat(const std::string & text, double & value) {
  std::string_view rest = text;
  const bool negative = !rest.empty() && rest.front() == '-';
  if (!rest.empty() && (rest.front() == '-' || rest.front() == '+')) {
    rest.remove_prefix(1);
  }
  if (rest == ".inf" || rest == ".Inf" || rest == ".INF") {
    value = negative ? -std::numeric_limits<double>::infinity()
                     : std::numeric_limits<double>::infinity();
    return true;
  }
  if (rest.size() == text.size() && (rest == ".nan" || rest == ".NaN" || rest == ".NAN")) {
    value = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  return false;
}

bool readsAsDouble(const std::string & text, double & value) {
  if (text.empty()) {
    return false;
  }
  if (readsAsYamlSpecialFloat(text, value)) {
    return true;
  }
  char * end = nullptr;
  errno = 0;
  const double parsed = std::strtod(text.c_str(), &end);
  if (errno != 0 || end == text.c_str() || *end != '\0') {
    return false;
  }
  value = parsed;
  return true;
}

Scalar typedScalar(const std::string & text, bool quoted) {
  if (quoted) {
    return text;
  }
  if (isOneOf(text, kTrueWords)) {
    return true;
  }
  if (isOneOf(text, kFalseWords)) {
    return false;
  }
  int64_t integer = 0;
  if (readsAsInteger(text, integer)) {
    return integer;
  }
  double real = 0.0;
  if (readsAsDouble(text, real)) {
    return real;
  }
  return text;
}

std::string lineOf(const YAML::Node & node) { return std::to_string(node.Mark().line + 1); }

/// yaml-cpp marks quoted and block scalars with the non-specific tag "!" and plain ones "?".
bool isQuoted(const YAML::Node & node) { return node.Tag() == "!"; }

Scalar scalarOf(const YAML::Node & node) {
  if (node.IsNull()) {
    throw RuleError("No value at line " + lineOf(node));
  }
  if (!node.IsScalar()) {
    throw RuleError("Expected a scalar value at line " + lineOf(node));
  }
  return typedScalar(node.Scalar(), isQuoted(node));
}

const char * typeName(const Scalar & scalar) {
  constexpr std::array<const char *, 4> kNames = {"bool", "integer", "double", "string"};
  return kNames[scalar.index()];
}

template <typename Element>
std::vector<Element> elementsOf(const std::vector<Scalar> & scalars) {
  std::vector<Element> elements;
  elements.reserve(scalars.size());
  for (const Scalar & scalar : scalars) {
    elements.push_back(std::get<Element>(scalar));
  }
  return elements;
}

rclcpp::ParameterValue sequenceValue(const YAML::Node & sequence) {
  std::vector<Scalar> scalars;
  for (const YAML::Node & element : sequence) {
    Scalar scalar = scalarOf(element);
    if (!scalars.empty() && scalar.index() != scalars.front().index()) {
      throw RuleError(
          std::string("the elements of a sequence must have one type; the ") + typeName(scalar) +
          " at line " + lineOf(element) + " follows a " + typeName(scalars.front()));
    }
    scalars.push_back(std::move(scalar));
  }
  if (scalars.empty()) {
    // rcl leaves an empty sequence untyped, and rclcpp then has no value to give the parameter.
    throw RuleError("Empty sequence at line " + lineOf(sequence) + " has no parameter type");
  }
  switch (scalars.front().index()) {
    case 0:
      return rclcpp::ParameterValue(elementsOf<bool>(scalars));
    case 1:
      return rclcpp::ParameterValue(elementsOf<int64_t>(scalars));
    case 2:
      return rclcpp::ParameterValue(elementsOf<double>(scalars));
    default:
      return rclcpp::ParameterValue(elementsOf<std::string>(scalars));
  }
}

rclcpp::ParameterValue scalarValue(const YAML::Node & node) {
  return std::visit(
      [](const auto & value) { return rclcpp::ParameterValue(value); }, scalarOf(node));
}

rclcpp::ParameterValue valueOf(const YAML::Node & node) {
  if (node.IsSequence()) {
    return sequenceValue(node);
  }
  if (node.IsMap()) {
    throw RuleError("A map is not a parameter value (line " + lineOf(node) + ")");
  }
  return scalarValue(node);
}

bool isPlainNullWord(std::string_view text) {
  return text == "~" || text == "null" || text == "Null" || text == "NULL";
}

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

YAML::Node loadYaml(const std::string & text) {
  try {
    return YAML::Load(text);
  } catch (const YAML::Exception & error) {
    throw RuleError(error.what());
  }
}

constexpr std::string_view kParametersKey = "ros__parameters";

/// Collects the parameters under one node's ros__parameters, nested keys joined with ".".
class ParamsFileReader {
public:
  std::vector<ParameterOverride> read(const std::string & path) {
    for (const YAML::Node & document : loadDocuments(path)) {
      if (document.IsNull()) {
        continue;
      }
      if (!document.IsMap()) {
        throw RuleError("The top level at line " + lineOf(document) + " is not a map of nodes");
      }
      readNodeLevel(document, "");
    }
    return std::move(overrides_);
  }

private:
  static std::vector<YAML::Node> loadDocuments(const std::string & path) {
    try {
      return YAML::LoadAllFromFile(path);
    } catch (const YAML::BadFile &) {
      throw RuleError("Error opening YAML file");
    } catch (const YAML::Exception & error) {
      throw RuleError(error.what());
    }
  }

  static std::string keyOf(const YAML::Node & key) {
    if (!key.IsScalar() || key.Scalar().empty()) {
      throw RuleError("No key at line " + lineOf(key));
    }
    return key.Scalar();
  }

  /// Keys above ros__parameters name the node, possibly over several levels ("ns:" "node:").
  void readNodeLevel(const YAML::Node & map, const std::string & node_path) {
    for (const auto & entry : map) {
      const std::string key = keyOf(entry.first);
      if (std::string_view(key).substr(0, kParametersKey.size()) == kParametersKey) {
        readParametersOf(node_path, entry.second, entry.first);
      } else if (entry.second.IsMap()) {
        readNodeLevel(entry.second, joinNodePath(node_path, key));
      } else {
        throw RuleError(
            "Cannot have a value before " + std::string(kParametersKey) + " at line " +
            lineOf(entry.second));
      }
    }
  }

  void readParametersOf(
      const std::string & node_path, const YAML::Node & parameters, const YAML::Node & key) {
    if (node_path.empty()) {
      throw RuleError(
          "There are no node names before " + std::string(kParametersKey) + " at line " +
          lineOf(key));
    }
    validateNodeKey(node_path);
    if (!parameters.IsMap()) {
      throw RuleError("The parameters at line " + lineOf(parameters) + " are not a map");
    }
    readParameterLevel(node_path, parameters, "");
  }

  void readParameterLevel(
      const std::string & node_path, const YAML::Node & map, const std::string & prefix) {
    for (const auto & entry : map) {
      const std::string name =
          prefix.empty() ? keyOf(entry.first) : prefix + "." + keyOf(entry.first);
      if (entry.second.IsMap()) {
        readParameterLevel(node_path, entry.second, name);
      } else {
        overrides_.push_back({node_path, name, valueOf(entry.second)});
      }
    }
  }

  static std::string joinNodePath(const std::string & path, const std::string & key) {
    if (path.empty() || path.back() == '/') {
      return path + key;
    }
    return path + "/" + key;
  }

  /// Each part of a node key is a name, or a "*" / "**" wildcard.
  static void validateNodeKey(const std::string & node_path) {
    std::string_view rest = node_path;
    if (!rest.empty() && rest.front() == '/') {
      rest.remove_prefix(1);
    }
    while (true) {
      const auto slash = rest.find('/');
      const std::string_view part = rest.substr(0, slash);
      if (!isNamePart(part) && part != "*" && part != "**") {
        throw RuleError("Invalid node name or namespace '" + node_path + "'");
      }
      if (slash == std::string_view::npos) {
        return;
      }
      rest.remove_prefix(slash + 1);
    }
  }

  static bool isNamePart(std::string_view part) {
    if (part.empty() || std::isdigit(static_cast<unsigned char>(part.front()))) {
      return false;
    }
    for (char character : part) {
      if (!std::isalnum(static_cast<unsigned char>(character)) && character != '_') {
        return false;
      }
    }
    return true;
  }

  std::vector<ParameterOverride> overrides_;
};

}  // namespace

rclcpp::ParameterValue parseYamlParameterValue(const std::string & yaml_text) {
  const YAML::Node node = loadYaml(yaml_text);
  // yaml-cpp reads "~" and "null" as null, which rcl keeps as strings.
  if (node.IsNull() && isPlainNullWord(trimmed(yaml_text))) {
    return rclcpp::ParameterValue(std::string(trimmed(yaml_text)));
  }
  return valueOf(node);
}

std::vector<ParameterOverride> readParamsFile(const std::string & path) {
  return ParamsFileReader().read(path);
}

}  // namespace ros2_layer
