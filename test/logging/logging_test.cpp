#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "writer_process.hpp"

namespace {

using logging_test::Journal;
using logging_test::runLogWriter;
using logging_test::WriterResult;
using logging_test::WriterRun;

[[maybe_unused]] const auto * const kPrivateRun =
    testing::AddGlobalTestEnvironment(new logging_test::PrivateRunOrSkip);

const std::string kStdoutNotSet = "environment variable SPDLOG_STDOUT is not set, and set true\n";
const std::string kSystemdNotSet =
    "environment variable SPDLOG_SYSTEMD is not set, and set false\n";
const std::string kLevelNotSet =
    "environment variable SPDLOG_LEVEL is not set, and set default level\n";
const std::string kStdoutInvalid = "environment variable SPDLOG_STDOUT is invalid, and set true\n";
const std::string kSystemdInvalid =
    "environment variable SPDLOG_SYSTEMD is invalid, and set false\n";
const std::string kLevelInvalid =
    "environment variable SPDLOG_LEVEL is invalid, and set default level\n";

const std::map<std::string, std::string> kConsoleAtInfo = {
    {"SPDLOG_STDOUT", "true"}, {"SPDLOG_SYSTEMD", "false"}, {"SPDLOG_LEVEL", "info"}};

// The console lines the writer's single thread produces for messages 1..count.
std::string consoleLines(int count, const std::string & body = "body") {
  std::string lines;
  for (int number = 1; number <= count; ++number) {
    lines += fmt::format("{:3d} [INFO] thread 0 message {} {}\n", number % 128, number - 1, body);
  }
  return lines;
}

// The line of the writer's log call, as the journal should name it.
int writerCallLine() {
  std::ifstream source(LOG_WRITER_SOURCE);
  std::string line;
  for (int number = 1; std::getline(source, line); ++number) {
    if (line.find("LOG_INFO(") != std::string::npos) {
      return number;
    }
  }
  return -1;
}

}  // namespace

TEST(LoggerSetup, EachSettingIsReportedWhenNotSetOrUnusableAndDecidesWhatReachesTheConsole) {
  struct Case {
    WriterRun run;
    std::string out;
    int seq;  // the facade's counter at exit
  };
  const std::string all_not_set = kStdoutNotSet + kSystemdNotSet + kLevelNotSet;
  const std::string all_invalid = kStdoutInvalid + kSystemdInvalid + kLevelInvalid;
  std::vector<Case> cases{
      {{}, all_not_set + consoleLines(2), 2},
      // The console is a terminal: still no escape codes.
      {{.terminal = true}, all_not_set + consoleLines(2), 2},
      {{.environment = {{"SPDLOG_STDOUT", "false"}}}, kSystemdNotSet + kLevelNotSet, 2},
      // No journal to be had: log calls return and the console still writes.
      {{.environment =
            {{"SPDLOG_STDOUT", "true"}, {"SPDLOG_SYSTEMD", "true"}, {"SPDLOG_LEVEL", "info"}},
        .journal = Journal::absent},
       consoleLines(2),
       2},
      {{.count = 1, .body = "{} {0} {:>5} %v", .environment = kConsoleAtInfo},
       consoleLines(1, "{} {0} {:>5} %v"),
       1},
      // Numbers start at one and wrap to zero at the 128th message.
      {{.count = 130, .environment = kConsoleAtInfo}, consoleLines(130), 130},
  };
  for (const char * level : {"warn", "off", "INFO", "3"}) {
    cases.push_back(
        {{.environment =
              {{"SPDLOG_STDOUT", "TRUE"}, {"SPDLOG_SYSTEMD", "TRUE"}, {"SPDLOG_LEVEL", level}},
          .journal = Journal::listening},
         all_invalid + consoleLines(2),
         2});
  }
  for (const char * level : {"trace", "debug", "info"}) {
    cases.push_back(
        {{.environment =
              {{"SPDLOG_STDOUT", "true"}, {"SPDLOG_SYSTEMD", "false"}, {"SPDLOG_LEVEL", level}}},
         consoleLines(2),
         2});
  }
  // Above info nothing is written, and messages below the level do not take a number.
  for (const char * level : {"warning", "error", "critical"}) {
    cases.push_back(
        {{.environment = {{"SPDLOG_LEVEL", level}}}, kStdoutNotSet + kSystemdNotSet, 0});
  }
  for (const Case & test : cases) {
    SCOPED_TRACE(test.out);
    const WriterResult result = runLogWriter(test.run);
    EXPECT_EQ(result.exit_status, 0) << result.out;
    EXPECT_EQ(result.out, test.out);
    EXPECT_EQ(result.seq, test.seq);
    EXPECT_TRUE(result.journal_entries.empty()) << "the journal was written without being asked";
  }
}

TEST(Journal, ReceivesMessagePriorityIdentifierAndCallSite) {
  const WriterResult result = runLogWriter(
      {.body = "{}",
       .environment =
           {{"SPDLOG_STDOUT", "false"}, {"SPDLOG_SYSTEMD", "true"}, {"SPDLOG_LEVEL", "info"}},
       .journal = Journal::listening});
  EXPECT_EQ(result.exit_status, 0) << result.out;
  EXPECT_EQ(result.out, "");
  ASSERT_EQ(result.journal_entries.size(), 2u);
  for (int index = 0; index < 2; ++index) {
    SCOPED_TRACE(index);
    auto fields = logging_test::parseJournalEntry(result.journal_entries[index]);
    EXPECT_EQ(
        fields["MESSAGE"], fmt::format("{:3d} [INFO] thread 0 message {} {{}}", index + 1, index));
    EXPECT_EQ(fields["PRIORITY"], "6");
    EXPECT_EQ(fields["SYSLOG_IDENTIFIER"], "spdlog");
    // As the compiler named the file: relative to the build tree under Ninja.
    EXPECT_TRUE(fields["CODE_FILE"].ends_with("test/logging/log_writer.cpp"))
        << fields["CODE_FILE"];
    EXPECT_EQ(fields["CODE_LINE"], std::to_string(writerCallLine()));
    EXPECT_EQ(fields["CODE_FUNC"], "writeMessages");
  }
}

TEST(LogThreads, FirstCallsFromManyThreadsSetUpOnceAndKeepEveryLineWhole) {
  constexpr int kThreads = 8;
  constexpr int kCount = 100;
  const WriterResult result = runLogWriter({.count = kCount, .threads = kThreads});
  ASSERT_EQ(result.exit_status, 0) << result.out;

  std::vector<std::string> lines;
  std::istringstream stream(result.out);
  for (std::string line; std::getline(stream, line);) {
    lines.push_back(line);
  }
  ASSERT_EQ(lines.size(), 3u + kThreads * kCount);
  EXPECT_EQ(
      result.out.substr(0, kStdoutNotSet.size() + kSystemdNotSet.size() + kLevelNotSet.size()),
      kStdoutNotSet + kSystemdNotSet + kLevelNotSet);

  std::set<std::pair<int, int>> messages;
  std::multiset<int> numbers;
  for (size_t index = 3; index < lines.size(); ++index) {
    int number = -1;
    int thread = -1;
    int message = -1;
    std::sscanf(lines[index].c_str(), "%d [INFO] thread %d message %d", &number, &thread, &message);
    EXPECT_EQ(
        lines[index],
        fmt::format("{:3d} [INFO] thread {} message {} body", number, thread, message));
    messages.emplace(thread, message);
    numbers.insert(number);
  }
  EXPECT_EQ(messages.size(), static_cast<size_t>(kThreads * kCount))
      << "a message was lost or doubled";

  // Each call numbers its line by its own increment, so the numbers are 1..800 modulo 128 in
  // some order: a lost or shared increment shows up as a missing or doubled number.
  std::multiset<int> expected_numbers;
  for (int number = 1; number <= kThreads * kCount; ++number) {
    expected_numbers.insert(number % 128);
  }
  EXPECT_EQ(numbers, expected_numbers);
}
