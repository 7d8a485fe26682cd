// The exception types of the client library: the same names, bases and messages as rclcpp's.
#pragma once

#include <cstddef>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace rclcpp {
namespace exceptions {

/// Raised when a name fails validation; the message points at the offending character.
class NameValidationError : public std::invalid_argument {
public:
  /// Records what kind of name failed, the name, why, and where.
  NameValidationError(
      const char * name_type_, const char * name_, const char * error_msg_, size_t invalid_index_)
      : std::invalid_argument(format_error(name_type_, name_, error_msg_, invalid_index_))
      , name_type(name_type_)
      , name(name_)
      , error_msg(error_msg_)
      , invalid_index(invalid_index_) {}

  /// Formats "Invalid <type>: <why>:", the name, and a caret under the offending character.
  static std::string format_error(
      const char * name_type, const char * name, const char * error_msg, size_t invalid_index);

  const std::string name_type;
  const std::string name;
  const std::string error_msg;
  const size_t invalid_index;
};

/// Raised for an invalid node name.
class InvalidNodeNameError : public NameValidationError {
public:
  /// Records the node name, why it is invalid, and where.
  InvalidNodeNameError(const char * node_name, const char * error_msg, size_t invalid_index)
      : NameValidationError("node name", node_name, error_msg, invalid_index) {}
};

/// Raised for an invalid namespace.
class InvalidNamespaceError : public NameValidationError {
public:
  /// Records the namespace, why it is invalid, and where.
  InvalidNamespaceError(const char * namespace_, const char * error_msg, size_t invalid_index)
      : NameValidationError("namespace", namespace_, error_msg, invalid_index) {}
};

/// Raised for an invalid topic name.
class InvalidTopicNameError : public NameValidationError {
public:
  /// Records the topic name, why it is invalid, and where.
  InvalidTopicNameError(const char * namespace_, const char * error_msg, size_t invalid_index)
      : NameValidationError("topic name", namespace_, error_msg, invalid_index) {}
};

/// Raised for an invalid service name.
class InvalidServiceNameError : public NameValidationError {
public:
  /// Records the service name, why it is invalid, and where.
  InvalidServiceNameError(const char * namespace_, const char * error_msg, size_t invalid_index)
      : NameValidationError("service name", namespace_, error_msg, invalid_index) {}
};

/// The return code and message of a failed lower-layer call. There is no rcl underneath this
/// layer, so the error state that rclcpp reads from rcl is passed in as a code and a message.
class RCLErrorBase {
public:
  /// Records the return code and the message; file and line are left empty.
  RCLErrorBase(int ret, const std::string & message);
  virtual ~RCLErrorBase() = default;

  int ret;
  std::string message;
  std::string file;
  size_t line;
  std::string formatted_message;
};

/// A generic failure of the layer below the client library.
class RCLError : public RCLErrorBase, public std::runtime_error {
public:
  /// what() is prefix followed by the message.
  RCLError(int ret, const std::string & message, const std::string & prefix);
  /// what() is prefix followed by the base's formatted message.
  RCLError(const RCLErrorBase & base_exc, const std::string & prefix);
};

/// An allocation failure in the layer below the client library.
class RCLBadAlloc : public RCLErrorBase, public std::bad_alloc {
public:
  /// Records the return code and the message.
  RCLBadAlloc(int ret, const std::string & message);
  /// Copies the base's code and message.
  explicit RCLBadAlloc(const RCLErrorBase & base_exc);
};

/// An invalid argument passed to the layer below the client library.
class RCLInvalidArgument : public RCLErrorBase, public std::invalid_argument {
public:
  /// what() is prefix followed by the message.
  RCLInvalidArgument(int ret, const std::string & message, const std::string & prefix);
  /// what() is prefix followed by the base's formatted message.
  RCLInvalidArgument(const RCLErrorBase & base_exc, const std::string & prefix);
};

/// A malformed ROS argument on the command line; the message names it.
class RCLInvalidROSArgsError : public RCLErrorBase, public std::runtime_error {
public:
  /// what() is prefix followed by the message.
  RCLInvalidROSArgsError(int ret, const std::string & message, const std::string & prefix);
  /// what() is prefix followed by the base's formatted message.
  RCLInvalidROSArgsError(const RCLErrorBase & base_exc, const std::string & prefix);
};

/// Flags inside --ros-args that no rule of the command-line syntax knows.
class UnknownROSArgsError : public std::runtime_error {
public:
  /// Lists the unknown arguments in the message.
  explicit UnknownROSArgsError(std::vector<std::string> && unknown_ros_args_in);

  const std::vector<std::string> unknown_ros_args;
};

/// Raised for invalid parameters, such as an empty name.
class InvalidParametersException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

/// Raised when a parameter value does not satisfy its descriptor.
class InvalidParameterValueException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

/// Raised when a parameter has or is given the wrong type; the message names the parameter.
class InvalidParameterTypeException : public std::runtime_error {
public:
  /// what() is "parameter '<name>' has invalid type: <message>".
  InvalidParameterTypeException(const std::string & name, const std::string message)
      : std::runtime_error("parameter '" + name + "' has invalid type: " + message) {}
};

/// Raised when a statically typed parameter is declared without a value and no override.
class UninitializedStaticallyTypedParameterException : public std::runtime_error {
public:
  /// Names the parameter that must be initialized.
  explicit UninitializedStaticallyTypedParameterException(const std::string & name)
      : std::runtime_error("Statically typed parameter '" + name + "' must be initialized.") {}
};

/// Raised when a parameter is declared a second time.
class ParameterAlreadyDeclaredException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

/// Raised when a parameter that was never declared is set.
class ParameterNotDeclaredException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

}  // namespace exceptions
}  // namespace rclcpp
