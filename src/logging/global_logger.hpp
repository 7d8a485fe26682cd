#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <fmt/format.h>
#include <spdlog/common.h>
#include <spdlog/logger.h>

namespace tavrin_arm_teleop {

/// @brief The process-wide logger, its message counter and the level read from the environment.
struct GlobalLogger {
  /// @brief Builds the logger @p name from SPDLOG_STDOUT, SPDLOG_SYSTEMD and SPDLOG_LEVEL.
  explicit GlobalLogger(const std::string & name);

  std::shared_ptr<spdlog::logger> logger;
  std::atomic<std::uint8_t> seq{0};
  int level{spdlog::level::info};
};

/// @brief Returns the single GlobalLogger, building it on the first call from any thread.
GlobalLogger & globalLogger();

/// @brief Writes @p body as the next numbered "[INFO]" line from @p call_site; use LOG_INFO.
void logInfo(const spdlog::source_loc & call_site, std::string_view body);

}  // namespace tavrin_arm_teleop

/// @brief Logs an fmt-formatted message at info with the file, line and function of the call.
#define LOG_INFO(format_string, ...)                      \
  ::tavrin_arm_teleop::logInfo(                           \
      ::spdlog::source_loc{__FILE__, __LINE__, __func__}, \
      ::fmt::format(format_string __VA_OPT__(, ) __VA_ARGS__))
