// The command line as rcl reads it: program arguments, and between --ros-args and -- (or the
// end) the flags of the client library, each followed by its value.
#include "arguments.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "rclcpp/exceptions.hpp"
#include "yaml_parameters.hpp"

namespace ros2_layer {
namespace {

/// rcl's return code for malformed ROS arguments, which rclcpp keeps in the exception.
constexpr int kInvalidRosArgs = 1003;

constexpr std::string_view kRosArgsFlag = "--ros-args";
constexpr std::string_view kRosArgsEnd = "--";

// ---------------------------------------------------------------------------------------------
// Lexing of remap and parameter rules. A token is a name part: a letter or '_' first, then
// letters, digits and single underscores.

enum class Lexeme {
  none,
  end,
  tilde_slash,
  url_service,
  url_topic,
  colon,
  node_keyword,
  namespace_keyword,
  separator,
  backreference,
  token,
  forward_slash,
  wild_one,
  wild_multi,
  dot,
};

struct Lexed {
  Lexeme kind;
  size_t length;
};

bool isNameCharacter(char character) {
  return std::isalnum(static_cast<unsigned char>(character)) || character == '_';
}

size_t tokenLength(std::string_view text) {
  size_t length = 0;
  const auto letterOrDigitAt = [&](size_t index) {
    return index < text.size() && std::isalnum(static_cast<unsigned char>(text[index]));
  };
  const auto skipOneUnderscore = [&] {
    if (length < text.size() && text[length] == '_') {
      ++length;
    }
  };
  if (text.empty() || std::isdigit(static_cast<unsigned char>(text[0]))) {
    return 0;
  }
  if (text[0] == '_') {
    length = 1;
  } else if (letterOrDigitAt(0)) {
    length = 1;
    skipOneUnderscore();
  } else {
    return 0;
  }
  while (letterOrDigitAt(length)) {
    ++length;
    skipOneUnderscore();
  }
  return length;
}

/// "__node", "__name" or "__ns" as a whole word.
std::optional<Lexed> lexKeyword(std::string_view text) {
  constexpr std::array<std::pair<std::string_view, Lexeme>, 3> kKeywords = {{
      {"__node", Lexeme::node_keyword},
      {"__name", Lexeme::node_keyword},
      {"__ns", Lexeme::namespace_keyword},
  }};
  for (const auto & [word, kind] : kKeywords) {
    if (text.substr(0, word.size()) == word) {
      if (text.size() > word.size() && isNameCharacter(text[word.size()])) {
        return Lexed{Lexeme::none, word.size() + 1};
      }
      return Lexed{kind, word.size()};
    }
  }
  return std::nullopt;
}

Lexed lexAt(std::string_view text) {
  constexpr std::array<std::pair<std::string_view, Lexeme>, 10> kSymbols = {{
      {"~/", Lexeme::tilde_slash},
      {"rosservice://", Lexeme::url_service},
      {"rostopic://", Lexeme::url_topic},
      {":=", Lexeme::separator},
      {":", Lexeme::colon},
      {"/", Lexeme::forward_slash},
      {"**", Lexeme::wild_multi},
      {"*", Lexeme::wild_one},
      {".", Lexeme::dot},
      {"\\", Lexeme::backreference},
  }};
  if (text.empty()) {
    return {Lexeme::end, 0};
  }
  for (const auto & [symbol, kind] : kSymbols) {
    if (text.substr(0, symbol.size()) == symbol) {
      if (kind == Lexeme::backreference) {
        const bool digit = text.size() > 1 && text[1] >= '1' && text[1] <= '9';
        return {digit ? Lexeme::backreference : Lexeme::none, 2};
      }
      return {kind, symbol.size()};
    }
  }
  if (auto keyword = lexKeyword(text)) {
    return *keyword;
  }
  if (const size_t length = tokenLength(text); length > 0) {
    return {Lexeme::token, length};
  }
  return {Lexeme::none, 1};
}

/// Recursive-descent reading of one rule with two lexemes of lookahead.
class RuleReader {
public:
  explicit RuleReader(std::string_view text) : text_(text) {}

  Lexeme peek() const { return lexAt(rest()).kind; }

  Lexeme peekSecond() const {
    const Lexed first = lexAt(rest());
    return lexAt(rest().substr(std::min(first.length, rest().size()))).kind;
  }

  std::string_view take() {
    const Lexed lexed = lexAt(rest());
    const std::string_view taken = rest().substr(0, lexed.length);
    position_ += lexed.length;
    return taken;
  }

  std::string_view expect(Lexeme kind, const char * expected) {
    if (peek() != kind) {
      fail(std::string("expected ") + expected);
    }
    return take();
  }

  [[noreturn]] void fail(const std::string & reason) const {
    throw RuleError(reason + " at index " + std::to_string(position_));
  }

  std::string_view rest() const { return text_.substr(position_); }
  size_t position() const { return position_; }
  std::string_view textBetween(size_t from) const { return text_.substr(from, position_ - from); }

private:
  std::string_view text_;
  size_t position_ = 0;
};

/// Reads an optional "node:" prefix that scopes a rule to one node.
std::optional<std::string> readNodePrefix(RuleReader & reader) {
  if (reader.peek() != Lexeme::token || reader.peekSecond() != Lexeme::colon) {
    return std::nullopt;
  }
  std::string node(reader.take());
  reader.take();
  return node;
}

void rejectWildcard(const RuleReader & reader) {
  if (reader.peek() == Lexeme::wild_one) {
    reader.fail("wildcard '*' is not implemented");
  }
  if (reader.peek() == Lexeme::wild_multi) {
    reader.fail("wildcard '**' is not implemented");
  }
}

/// A name of parts separated by '/', optionally starting with '/' or '~/', up to `stop`.
std::string readName(RuleReader & reader, Lexeme stop) {
  const size_t start = reader.position();
  if (reader.peek() == Lexeme::tilde_slash || reader.peek() == Lexeme::forward_slash) {
    reader.take();
  }
  while (true) {
    rejectWildcard(reader);
    if (reader.peek() == Lexeme::backreference) {
      reader.fail("backreferences are not implemented");
    }
    reader.expect(Lexeme::token, "a name");
    if (reader.peek() == stop) {
      return std::string(reader.textBetween(start));
    }
    reader.expect(Lexeme::forward_slash, stop == Lexeme::separator ? "'/' or ':='" : "'/'");
  }
}

/// "/", "/a", "/a/b/" and the like: an absolute namespace.
std::string readAbsoluteNamespace(RuleReader & reader) {
  const size_t start = reader.position();
  reader.expect(Lexeme::forward_slash, "an absolute namespace");
  while (reader.peek() == Lexeme::token) {
    reader.take();
    if (reader.peek() != Lexeme::forward_slash) {
      break;
    }
    reader.take();
  }
  return std::string(reader.textBetween(start));
}

void readNameRemap(RuleReader & reader, RemapRule & rule) {
  if (reader.peek() == Lexeme::url_topic) {
    rule.target = RemapTarget::topic;
    reader.take();
  } else if (reader.peek() == Lexeme::url_service) {
    rule.target = RemapTarget::service;
    reader.take();
  }
  rule.from = readName(reader, Lexeme::separator);
  reader.expect(Lexeme::separator, "':='");
  rule.to = readName(reader, Lexeme::end);
}

RemapRule parseRemapRule(std::string_view text) {
  RuleReader reader(text);
  RemapRule rule;
  rule.node = readNodePrefix(reader).value_or("");
  if (reader.peek() == Lexeme::node_keyword) {
    reader.take();
    reader.expect(Lexeme::separator, "':='");
    rule.from = "__node";
    rule.to = reader.expect(Lexeme::token, "a node name");
  } else if (reader.peek() == Lexeme::namespace_keyword) {
    reader.take();
    reader.expect(Lexeme::separator, "':='");
    rule.from = "__ns";
    rule.to = readAbsoluteNamespace(reader);
  } else {
    readNameRemap(reader, rule);
  }
  reader.expect(Lexeme::end, "the end of the rule");
  return rule;
}

/// A parameter name: parts of names and slashes, separated by dots.
std::string readParameterName(RuleReader & reader) {
  const size_t start = reader.position();
  while (true) {
    rejectWildcard(reader);
    if (reader.peek() != Lexeme::token && reader.peek() != Lexeme::forward_slash) {
      reader.fail("expected a parameter name");
    }
    while (reader.peek() == Lexeme::token || reader.peek() == Lexeme::forward_slash) {
      reader.take();
    }
    if (reader.peek() == Lexeme::separator) {
      return std::string(reader.textBetween(start));
    }
    reader.expect(Lexeme::dot, "'.' or ':='");
  }
}

ParameterOverride parseParameterRule(std::string_view text) {
  RuleReader reader(text);
  ParameterOverride rule;
  rule.node = readNodePrefix(reader).value_or("/**");
  rule.name = readParameterName(reader);
  reader.expect(Lexeme::separator, "':='");
  if (reader.rest().empty()) {
    reader.fail("expected a value");
  }
  rule.value = parseYamlParameterValue(std::string(reader.rest()));
  return rule;
}

// ---------------------------------------------------------------------------------------------
// Log flags are accepted so that command lines written for ROS 2 work; this layer logs through
// its own facade and does not act on them.

bool isSeverity(std::string_view text) {
  constexpr std::array<std::string_view, 6> kSeverities = {"unset", "debug", "info",
                                                           "warn",  "error", "fatal"};
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char character) {
    return static_cast<char>(std::tolower(character));
  });
  return std::find(kSeverities.begin(), kSeverities.end(), lower) != kSeverities.end();
}

void checkLogLevel(std::string_view text) {
  const auto separator = text.find(":=");
  if (separator == 0) {
    throw RuleError("the logger name is empty");
  }
  const std::string_view level =
      separator == std::string_view::npos ? text : text.substr(separator + 2);
  if (!isSeverity(level)) {
    throw RuleError("argument does not use a valid severity level");
  }
}

bool isLogToggle(std::string_view argument) {
  for (std::string_view prefix : {"--enable-", "--disable-"}) {
    if (argument.substr(0, prefix.size()) == prefix) {
      const std::string_view suffix = argument.substr(prefix.size());
      return suffix == "stdout-logs" || suffix == "rosout-logs" || suffix == "external-lib-logs";
    }
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// The flags that take a value.

struct ValueFlag {
  std::string_view spelling;
  std::string_view short_spelling;  ///< empty when the flag has none
  const char * rule_kind;           ///< what "Couldn't parse <rule_kind>" names
  const char * missing_value;       ///< what the flag lacks when it ends the command line
  std::function<void(ParsedArguments &, std::string_view)> apply;
};

const std::vector<ValueFlag> & valueFlags() {
  static const std::vector<ValueFlag> kFlags = {
      {"--param", "-p", "parameter override rule", "parameter override rule",
       [](ParsedArguments & parsed, std::string_view value) {
         parsed.parameter_overrides.push_back(parseParameterRule(value));
       }},
      {"--remap", "-r", "remap rule", "remap rule",
       [](ParsedArguments & parsed, std::string_view value) {
         parsed.remaps.push_back(parseRemapRule(value));
       }},
      {"--params-file", "", "params file", "file path",
       [](ParsedArguments & parsed, std::string_view value) {
         for (ParameterOverride & entry : readParamsFile(std::string(value))) {
           parsed.parameter_overrides.push_back(std::move(entry));
         }
       }},
      {"--log-level", "", "log level", "log level",
       [](ParsedArguments &, std::string_view value) { checkLogLevel(value); }},
      {"--log-config-file", "", "log configuration file", "file path",
       [](ParsedArguments &, std::string_view) {}},
      {"--enclave", "-e", "enclave name", "enclave path",
       [](ParsedArguments & parsed, std::string_view value) { parsed.enclave = value; }},
  };
  return kFlags;
}

const ValueFlag * findValueFlag(std::string_view argument) {
  for (const ValueFlag & flag : valueFlags()) {
    if (argument == flag.spelling ||
        (!flag.short_spelling.empty() && argument == flag.short_spelling)) {
      return &flag;
    }
  }
  return nullptr;
}

/// rcl still takes a bare `from:=to` outside --ros-args as a remap rule, with a warning.
std::optional<RemapRule> deprecatedRemap(std::string_view argument) {
  try {
    RemapRule rule = parseRemapRule(argument);
    std::cerr << "[WARN] [rcl]: Found remap rule '" << argument
              << "'. This syntax is deprecated. Use '--ros-args --remap " << argument
              << "' instead.\n";
    return rule;
  } catch (const RuleError &) {
    return std::nullopt;
  }
}

/// Walks argv once, keeping the state that --ros-args and -- switch.
class CommandLineParser {
public:
  CommandLineParser(int argc, const char * const * argv, std::string error_prefix)
      : argc_(argc), argv_(argv), error_prefix_(std::move(error_prefix)) {}

  ParsedArguments parse() {
    for (index_ = 0; index_ < argc_; ++index_) {
      const std::string_view argument = argv_[index_];
      if (in_ros_arguments_) {
        takeRosArgument(argument);
      } else {
        takeProgramArgument(argument);
      }
    }
    if (!unknown_.empty()) {
      throw rclcpp::exceptions::UnknownROSArgsError(std::move(unknown_));
    }
    return std::move(parsed_);
  }

private:
  void takeProgramArgument(std::string_view argument) {
    if (argument == kRosArgsFlag) {
      in_ros_arguments_ = true;
    } else if (auto rule = deprecatedRemap(argument)) {
      parsed_.remaps.push_back(std::move(*rule));
    } else {
      parsed_.unparsed_arguments.emplace_back(argument);
    }
  }

  void takeRosArgument(std::string_view argument) {
    if (argument == kRosArgsFlag || isLogToggle(argument)) {
      return;
    }
    if (argument == kRosArgsEnd) {
      in_ros_arguments_ = false;
      return;
    }
    const ValueFlag * flag = findValueFlag(argument);
    if (flag == nullptr) {
      unknown_.emplace_back(argument);
      return;
    }
    if (index_ + 1 >= argc_) {
      fail(
          "Couldn't parse trailing " + std::string(argument) + " flag. No " + flag->missing_value +
          " provided.");
    }
    const std::string_view value = argv_[++index_];
    try {
      flag->apply(parsed_, value);
    } catch (const RuleError & error) {
      fail(
          std::string("Couldn't parse ") + flag->rule_kind + ": '" + std::string(argument) + " " +
          std::string(value) + "'. Error: " + error.what());
    }
  }

  [[noreturn]] void fail(const std::string & message) const {
    throw rclcpp::exceptions::RCLInvalidROSArgsError(
        kInvalidRosArgs, message, error_prefix_.empty() ? "" : error_prefix_ + ": ");
  }

  int argc_;
  const char * const * argv_;
  std::string error_prefix_;
  int index_ = 0;
  bool in_ros_arguments_ = false;
  ParsedArguments parsed_;
  std::vector<std::string> unknown_;
};

}  // namespace

ParsedArguments parseArguments(
    int argc, const char * const * argv, const std::string & error_prefix) {
  return CommandLineParser(argc, argv, error_prefix).parse();
}

}  // namespace ros2_layer
