#include "logging/global_logger.hpp"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include <spdlog/sinks/ansicolor_sink.h>
#include <spdlog/sinks/systemd_sink.h>

namespace tavrin_arm_teleop {
namespace {

using ConsoleSink = spdlog::sinks::ansicolor_stdout_sink<spdlog::details::console_mutex>;
using JournalSink = spdlog::sinks::systemd_sink<std::mutex>;

constexpr int kDefaultLevel = spdlog::level::info;

struct LevelName {
  std::string_view name;
  int level;
};

// Only these exact lower-case names count; spdlog's own short forms ("warn", "err", "off") do not.
constexpr std::array<LevelName, 6> kLevelNames{{
    {"trace", spdlog::level::trace},
    {"debug", spdlog::level::debug},
    {"info", spdlog::level::info},
    {"warning", spdlog::level::warn},
    {"error", spdlog::level::err},
    {"critical", spdlog::level::critical},
}};

// The logger does not exist yet (or has no console sink), so the set-up reports on stdout itself.
void report(const char * text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

bool readSwitch(
    const char * variable, bool fallback, const char * not_set_text, const char * invalid_text) {
  const char * value = std::getenv(variable);
  if (value == nullptr) {
    report(not_set_text);
    return fallback;
  }
  if (std::strcmp(value, "true") == 0) {
    return true;
  }
  if (std::strcmp(value, "false") == 0) {
    return false;
  }
  report(invalid_text);
  return fallback;
}

int readLevel() {
  const char * value = std::getenv("SPDLOG_LEVEL");
  if (value == nullptr) {
    report("environment variable SPDLOG_LEVEL is not set, and set default level\n");
    return kDefaultLevel;
  }
  for (const LevelName & entry : kLevelNames) {
    if (entry.name == value) {
      return entry.level;
    }
  }
  report("environment variable SPDLOG_LEVEL is invalid, and set default level\n");
  return kDefaultLevel;
}

void setUp(GlobalLogger & facade, const std::string & name) {
  std::vector<spdlog::sink_ptr> sinks;
  if (readSwitch(
          "SPDLOG_STDOUT", true, "environment variable SPDLOG_STDOUT is not set, and set true\n",
          "environment variable SPDLOG_STDOUT is invalid, and set true\n")) {
    sinks.push_back(std::make_shared<ConsoleSink>());
  }
  if (readSwitch(
          "SPDLOG_SYSTEMD", false,
          "environment variable SPDLOG_SYSTEMD is not set, and set false\n",
          "environment variable SPDLOG_SYSTEMD is invalid, and set false\n")) {
    sinks.push_back(std::make_shared<JournalSink>());
  }
  // Deliberately not registered with spdlog: the library's default logger stays untouched.
  facade.logger = std::make_shared<spdlog::logger>(name, sinks.begin(), sinks.end());
  facade.level = readLevel();
  facade.logger->set_level(static_cast<spdlog::level::level_enum>(facade.level));
  facade.logger->set_pattern("%v");
}

}  // namespace

GlobalLogger::GlobalLogger(const std::string & name) {
  try {
    setUp(*this, name);
  } catch (const spdlog::spdlog_ex &) {
    // Logging must never stop the node: keep what was built, and without a logger log calls
    // write nothing. Any other exception leaves the facade unbuilt so the next call retries.
  }
}

GlobalLogger & globalLogger() {
  static GlobalLogger instance("spdlog");
  return instance;
}

void logInfo(const spdlog::source_loc & call_site, std::string_view body) {
  GlobalLogger & facade = globalLogger();
  std::uint8_t sequence = facade.seq.load(std::memory_order_relaxed);
  if (facade.level <= spdlog::level::info) {
    // Each line carries the number its own increment produced, whatever other threads do.
    sequence = static_cast<std::uint8_t>(facade.seq.fetch_add(1, std::memory_order_relaxed) + 1);
  }
  std::string text = fmt::format("{0:3d} [INFO] ", sequence % 128);
  text += body;
  if (facade.logger) {
    facade.logger->log(call_site, spdlog::level::info, text);
  }
}

}  // namespace tavrin_arm_teleop
