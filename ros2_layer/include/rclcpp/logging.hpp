// The RCLCPP_<SEVERITY> logging macros and their _STREAM, _ONCE and _THROTTLE variants.
#pragma once

#include <atomic>
#include <sstream>
#include <string>
#include <type_traits>

#include "rclcpp/clock.hpp"
#include "rclcpp/logger.hpp"

namespace ros2_layer {

/// Writes one formatted message as "[SEVERITY] [seconds.nanoseconds] [name]: message".
void logMessage(
    const rclcpp::Logger & logger, rclcpp::Logger::Level level, const std::string & text);
/// printf-style formatting of the message text.
std::string formatLogMessage(const char * format, ...) __attribute__((format(printf, 1, 2)));
/// True the first time and then whenever `period_ms` of the clock has passed since the last true.
bool throttlePasses(std::atomic<int64_t> & last, rclcpp::Clock & clock, double period_ms);

}  // namespace ros2_layer

#define ROS2_LAYER_LOG_CHECK_LOGGER(logger)                                                        \
  static_assert(                                                                                   \
      std::is_same_v<std::remove_cv_t<std::remove_reference_t<decltype(logger)>>, rclcpp::Logger>, \
      "First argument to logging macros must be an rclcpp::Logger")

#define ROS2_LAYER_LOG(level, logger, ...)                                                    \
  do {                                                                                        \
    ROS2_LAYER_LOG_CHECK_LOGGER(logger);                                                      \
    if ((logger).is_enabled_for(level)) {                                                     \
      ::ros2_layer::logMessage((logger), level, ::ros2_layer::formatLogMessage(__VA_ARGS__)); \
    }                                                                                         \
  } while (0)

#define ROS2_LAYER_LOG_STREAM(level, logger, stream_arg)                      \
  do {                                                                        \
    ROS2_LAYER_LOG_CHECK_LOGGER(logger);                                      \
    if ((logger).is_enabled_for(level)) {                                     \
      std::stringstream ros2_layer_log_stream;                                \
      ros2_layer_log_stream << stream_arg;                                    \
      ::ros2_layer::logMessage((logger), level, ros2_layer_log_stream.str()); \
    }                                                                         \
  } while (0)

#define ROS2_LAYER_LOG_ONCE(level, logger, ...)               \
  do {                                                        \
    static std::atomic<bool> ros2_layer_log_once_done{false}; \
    if (!ros2_layer_log_once_done.exchange(true)) {           \
      ROS2_LAYER_LOG(level, logger, __VA_ARGS__);             \
    }                                                         \
  } while (0)

#define ROS2_LAYER_LOG_THROTTLE(level, logger, clock, duration, ...)                       \
  do {                                                                                     \
    static std::atomic<int64_t> ros2_layer_log_throttle_last{0};                           \
    if (::ros2_layer::throttlePasses(ros2_layer_log_throttle_last, (clock), (duration))) { \
      ROS2_LAYER_LOG(level, logger, __VA_ARGS__);                                          \
    }                                                                                      \
  } while (0)

#define RCLCPP_DEBUG(logger, ...) ROS2_LAYER_LOG(rclcpp::Logger::Level::Debug, logger, __VA_ARGS__)
#define RCLCPP_INFO(logger, ...) ROS2_LAYER_LOG(rclcpp::Logger::Level::Info, logger, __VA_ARGS__)
#define RCLCPP_WARN(logger, ...) ROS2_LAYER_LOG(rclcpp::Logger::Level::Warn, logger, __VA_ARGS__)
#define RCLCPP_ERROR(logger, ...) ROS2_LAYER_LOG(rclcpp::Logger::Level::Error, logger, __VA_ARGS__)
#define RCLCPP_FATAL(logger, ...) ROS2_LAYER_LOG(rclcpp::Logger::Level::Fatal, logger, __VA_ARGS__)

#define RCLCPP_DEBUG_STREAM(logger, stream_arg) \
  ROS2_LAYER_LOG_STREAM(rclcpp::Logger::Level::Debug, logger, stream_arg)
#define RCLCPP_INFO_STREAM(logger, stream_arg) \
  ROS2_LAYER_LOG_STREAM(rclcpp::Logger::Level::Info, logger, stream_arg)
#define RCLCPP_WARN_STREAM(logger, stream_arg) \
  ROS2_LAYER_LOG_STREAM(rclcpp::Logger::Level::Warn, logger, stream_arg)
#define RCLCPP_ERROR_STREAM(logger, stream_arg) \
  ROS2_LAYER_LOG_STREAM(rclcpp::Logger::Level::Error, logger, stream_arg)
#define RCLCPP_FATAL_STREAM(logger, stream_arg) \
  ROS2_LAYER_LOG_STREAM(rclcpp::Logger::Level::Fatal, logger, stream_arg)

#define RCLCPP_DEBUG_ONCE(logger, ...) \
  ROS2_LAYER_LOG_ONCE(rclcpp::Logger::Level::Debug, logger, __VA_ARGS__)
#define RCLCPP_INFO_ONCE(logger, ...) \
  ROS2_LAYER_LOG_ONCE(rclcpp::Logger::Level::Info, logger, __VA_ARGS__)
#define RCLCPP_WARN_ONCE(logger, ...) \
  ROS2_LAYER_LOG_ONCE(rclcpp::Logger::Level::Warn, logger, __VA_ARGS__)
#define RCLCPP_ERROR_ONCE(logger, ...) \
  ROS2_LAYER_LOG_ONCE(rclcpp::Logger::Level::Error, logger, __VA_ARGS__)
#define RCLCPP_FATAL_ONCE(logger, ...) \
  ROS2_LAYER_LOG_ONCE(rclcpp::Logger::Level::Fatal, logger, __VA_ARGS__)

#define RCLCPP_DEBUG_THROTTLE(logger, clock, duration, ...) \
  ROS2_LAYER_LOG_THROTTLE(rclcpp::Logger::Level::Debug, logger, clock, duration, __VA_ARGS__)
#define RCLCPP_INFO_THROTTLE(logger, clock, duration, ...) \
  ROS2_LAYER_LOG_THROTTLE(rclcpp::Logger::Level::Info, logger, clock, duration, __VA_ARGS__)
#define RCLCPP_WARN_THROTTLE(logger, clock, duration, ...) \
  ROS2_LAYER_LOG_THROTTLE(rclcpp::Logger::Level::Warn, logger, clock, duration, __VA_ARGS__)
#define RCLCPP_ERROR_THROTTLE(logger, clock, duration, ...) \
  ROS2_LAYER_LOG_THROTTLE(rclcpp::Logger::Level::Error, logger, clock, duration, __VA_ARGS__)
#define RCLCPP_FATAL_THROTTLE(logger, clock, duration, ...) \
  ROS2_LAYER_LOG_THROTTLE(rclcpp::Logger::Level::Fatal, logger, clock, duration, __VA_ARGS__)
