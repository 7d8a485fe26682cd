// Named loggers that write to stderr in the console format of rcutils.
#pragma once

#include <memory>
#include <string>

namespace rclcpp {

/// A named logger.
class Logger {
public:
  /// Severity levels with rcutils' numbers.
  enum class Level {
    Unset = 0,
    Debug = 10,
    Info = 20,
    Warn = 30,
    Error = 40,
    Fatal = 50,
  };

  /// The logger's name; empty for the default logger.
  const char * get_name() const;
  /// A logger named "<this name>.<suffix>".
  Logger get_child(const std::string & suffix);
  /// Sets the lowest severity that this logger prints.
  void set_level(Level level);
  /// Whether a message of this severity is printed.
  bool is_enabled_for(Level level) const;

private:
  friend Logger get_logger(const std::string & name);
  Logger() = default;
  explicit Logger(const std::string & name);

  std::shared_ptr<const std::string> name_;
};

/// The logger of this name.
Logger get_logger(const std::string & name);

}  // namespace rclcpp
