// Loggers print like rcutils' default console handler: "[INFO] [1700000000.123456789] [name]: text".
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>

#include "rclcpp/logger.hpp"
#include "rclcpp/logging.hpp"

namespace rclcpp {
namespace {

// Levels are per logger name, as in rcutils, and survive the Logger objects.
std::mutex & levelsMutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<std::string, Logger::Level> & levels() {
  static std::map<std::string, Logger::Level> map;
  return map;
}

}  // namespace

Logger::Logger(const std::string & name) : name_(std::make_shared<const std::string>(name)) {}

const char * Logger::get_name() const { return name_ ? name_->c_str() : ""; }

Logger Logger::get_child(const std::string & suffix) {
  return Logger(name_ ? *name_ + "." + suffix : suffix);
}

void Logger::set_level(Level level) {
  std::lock_guard<std::mutex> lock(levelsMutex());
  levels()[get_name()] = level;
}

bool Logger::is_enabled_for(Level level) const {
  std::lock_guard<std::mutex> lock(levelsMutex());
  // A child without a level of its own inherits its ancestors' ("a.b" from "a").
  std::string name = get_name();
  while (true) {
    auto found = levels().find(name);
    if (found != levels().end() && found->second != Level::Unset) {
      return level >= found->second;
    }
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) {
      break;
    }
    name.resize(dot);
  }
  return level >= Level::Info;
}

Logger get_logger(const std::string & name) { return Logger(name); }

}  // namespace rclcpp

namespace ros2_layer {
namespace {

const char * severityName(rclcpp::Logger::Level level) {
  switch (level) {
    case rclcpp::Logger::Level::Debug:
      return "DEBUG";
    case rclcpp::Logger::Level::Info:
      return "INFO";
    case rclcpp::Logger::Level::Warn:
      return "WARN";
    case rclcpp::Logger::Level::Error:
      return "ERROR";
    case rclcpp::Logger::Level::Fatal:
      return "FATAL";
    default:
      return "UNSET";
  }
}

}  // namespace

void logMessage(
    const rclcpp::Logger & logger, rclcpp::Logger::Level level, const std::string & text) {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
  std::fprintf(
      stderr, "[%s] [%lld.%09lld] [%s]: %s\n", severityName(level),
      static_cast<long long>(nanoseconds / 1000000000LL),
      static_cast<long long>(nanoseconds % 1000000000LL), logger.get_name(), text.c_str());
}

std::string formatLogMessage(const char * format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list copy;
  va_copy(copy, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) {
    std::vsnprintf(text.data(), text.size() + 1, format, arguments);
  }
  va_end(arguments);
  return text;
}

bool throttlePasses(std::atomic<int64_t> & last, rclcpp::Clock & clock, double period_ms) {
  const int64_t now = clock.now().nanoseconds();
  int64_t previous = last.load();
  const auto period = static_cast<int64_t>(period_ms * 1e6);
  if (previous != 0 && now - previous < period) {
    return false;
  }
  return last.compare_exchange_strong(previous, now);
}

}  // namespace ros2_layer
