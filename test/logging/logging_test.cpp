#include <fstream>
#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "writer_process.hpp"

namespace {

using logging_test::Journal;
using logging_test::runLogWriter;
using logging_test::whyNoPrivateRun;
using logging_test::WriterResult;
using logging_test::WriterRun;

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

TEST(LoggerSetup, NothingSetReportsAllThreeInOrderThenLogsToTheConsoleAtInfo) {
  const WriterResult result = runLogWriter({});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, kStdoutNotSet + kSystemdNotSet + kLevelNotSet + consoleLines(2));
}

TEST(LoggerSetup, UnusableValuesAreReportedAndDefaultsApply) {
  if (!whyNoPrivateRun().empty()) {
    GTEST_SKIP() << whyNoPrivateRun();
  }
  for (const char * level : {"warn", "off", "INFO", "3"}) {
    SCOPED_TRACE(level);
    const WriterResult result = runLogWriter(
        {.environment =
             {{"SPDLOG_STDOUT", "TRUE"}, {"SPDLOG_SYSTEMD", "TRUE"}, {"SPDLOG_LEVEL", level}},
         .journal = Journal::listening});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out, kStdoutInvalid + kSystemdInvalid + kLevelInvalid + consoleLines(2));
    EXPECT_TRUE(result.journal_entries.empty()) << "an invalid SPDLOG_SYSTEMD enabled the journal";
  }
}

TEST(LoggerSetup, AcceptedValuesPrintNothing) {
  for (const char * level : {"trace", "debug", "info"}) {
    SCOPED_TRACE(level);
    const WriterResult result = runLogWriter(
        {.environment = {
             {"SPDLOG_STDOUT", "true"}, {"SPDLOG_SYSTEMD", "false"}, {"SPDLOG_LEVEL", level}}});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out, consoleLines(2));
  }
}

TEST(LoggerSetup, ConsoleOffWritesNoLogOutputButStillReportsTheOthers) {
  const WriterResult result = runLogWriter({.environment = {{"SPDLOG_STDOUT", "false"}}});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, kSystemdNotSet + kLevelNotSet);
  EXPECT_EQ(logging_test::reportedSeq(result), 2) << "messages below the level still count";
}

TEST(LoggerSetup, LevelAboveInfoWritesNothingAndKeepsTheNumbers) {
  for (const char * level : {"warning", "error", "critical"}) {
    SCOPED_TRACE(level);
    const WriterResult result = runLogWriter({.environment = {{"SPDLOG_LEVEL", level}}});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out, kStdoutNotSet + kSystemdNotSet);
    EXPECT_EQ(logging_test::reportedSeq(result), 0);
  }
}

TEST(LogLine, NumbersStartAtOneAndWrapToZeroAtThe128thMessage) {
  const WriterResult result = runLogWriter({.count = 130, .environment = kConsoleAtInfo});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, consoleLines(130));
  EXPECT_TRUE(result.out.starts_with("  1 [INFO] "));
  EXPECT_NE(result.out.find("\n  0 [INFO] thread 0 message 127 "), std::string::npos);
  EXPECT_NE(result.out.find("\n  1 [INFO] thread 0 message 128 "), std::string::npos);
}

TEST(LogLine, BodyPassedAsArgumentIsWrittenUnchanged) {
  const std::string body = "{} {0} {:>5} %v";
  const WriterResult result =
      runLogWriter({.count = 1, .body = body, .environment = kConsoleAtInfo});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, consoleLines(1, body));
}

TEST(LogLine, TerminalGetsNoEscapeCodes) {
  const WriterResult result = runLogWriter({.terminal = true});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, kStdoutNotSet + kSystemdNotSet + kLevelNotSet + consoleLines(2));
  EXPECT_EQ(result.out.find('\x1b'), std::string::npos);
}

TEST(Journal, ReceivesMessagePriorityIdentifierAndCallSite) {
  if (!whyNoPrivateRun().empty()) {
    GTEST_SKIP() << whyNoPrivateRun();
  }
  const WriterResult result = runLogWriter(
      {.body = "{}",
       .environment =
           {{"SPDLOG_STDOUT", "false"}, {"SPDLOG_SYSTEMD", "true"}, {"SPDLOG_LEVEL", "info"}},
       .journal = Journal::listening});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, "");
  ASSERT_EQ(result.journal_entries.size(), 2u);
  for (int index = 0; index < 2; ++index) {
    SCOPED_TRACE(index);
    auto fields = logging_test::parseJournalEntry(result.journal_entries[index]);
    EXPECT_EQ(
        fields["MESSAGE"], fmt::format("{:3d} [INFO] thread 0 message {} {{}}", index + 1, index));
    EXPECT_EQ(fields["PRIORITY"], "6");
    EXPECT_EQ(fields["SYSLOG_IDENTIFIER"], "spdlog");
    EXPECT_EQ(fields["CODE_FILE"], LOG_WRITER_SOURCE);
    EXPECT_EQ(fields["CODE_LINE"], std::to_string(writerCallLine()));
    EXPECT_EQ(fields["CODE_FUNC"], "writeMessages");
  }
}

TEST(Journal, WithoutAJournalLogCallsReturnAndTheConsoleStillWrites) {
  if (!whyNoPrivateRun().empty()) {
    GTEST_SKIP() << whyNoPrivateRun();
  }
  const WriterResult result = runLogWriter(
      {.environment =
           {{"SPDLOG_STDOUT", "true"}, {"SPDLOG_SYSTEMD", "true"}, {"SPDLOG_LEVEL", "info"}},
       .journal = Journal::absent});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, consoleLines(2));
}
