// Exceptions whose messages are built out of line.
#include "rclcpp/exceptions.hpp"

#include <string>
#include <utility>
#include <vector>

namespace rclcpp {
namespace exceptions {

std::string NameValidationError::format_error(
    const char * name_type, const char * name, const char * error_msg, size_t invalid_index) {
  // The caret sits under the offending character: the name is printed after "  '".
  return std::string("Invalid ") + name_type + ": " + error_msg + ":\n" + "  '" + name + "'\n" +
         std::string(3 + invalid_index, ' ') + "^\n";
}

RCLErrorBase::RCLErrorBase(int ret, const std::string & message)
    : ret(ret), message(message), line(0), formatted_message(message) {}

RCLError::RCLError(int ret, const std::string & message, const std::string & prefix)
    : RCLError(RCLErrorBase(ret, message), prefix) {}

RCLError::RCLError(const RCLErrorBase & base_exc, const std::string & prefix)
    : RCLErrorBase(base_exc), std::runtime_error(prefix + base_exc.formatted_message) {}

RCLBadAlloc::RCLBadAlloc(int ret, const std::string & message)
    : RCLBadAlloc(RCLErrorBase(ret, message)) {}

RCLBadAlloc::RCLBadAlloc(const RCLErrorBase & base_exc) : RCLErrorBase(base_exc) {}

RCLInvalidArgument::RCLInvalidArgument(
    int ret, const std::string & message, const std::string & prefix)
    : RCLInvalidArgument(RCLErrorBase(ret, message), prefix) {}

RCLInvalidArgument::RCLInvalidArgument(const RCLErrorBase & base_exc, const std::string & prefix)
    : RCLErrorBase(base_exc), std::invalid_argument(prefix + base_exc.formatted_message) {}

RCLInvalidROSArgsError::RCLInvalidROSArgsError(
    int ret, const std::string & message, const std::string & prefix)
    : RCLInvalidROSArgsError(RCLErrorBase(ret, message), prefix) {}

RCLInvalidROSArgsError::RCLInvalidROSArgsError(
    const RCLErrorBase & base_exc, const std::string & prefix)
    : RCLErrorBase(base_exc), std::runtime_error(prefix + base_exc.formatted_message) {}

namespace {

std::string quotedList(const std::vector<std::string> & items) {
  std::string text;
  for (const std::string & item : items) {
    text += (text.empty() ? "'" : ", '") + item + "'";
  }
  return text;
}

}  // namespace

UnknownROSArgsError::UnknownROSArgsError(std::vector<std::string> && unknown_ros_args_in)
    : std::runtime_error("found unknown ROS arguments: " + quotedList(unknown_ros_args_in))
    , unknown_ros_args(std::move(unknown_ros_args_in)) {}

}  // namespace exceptions
}  // namespace rclcpp
