#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace logging_test {

/// @brief Where the log writer's journal messages can go.
enum class Journal {
  host,       ///< the machine's own /run, untouched
  listening,  ///< a private /run whose journal socket belongs to the test
  absent,     ///< a private /run with no journal socket at all
};

/// @brief How to run the log writer: what it logs, its SPDLOG_* variables, its stdout and journal.
struct WriterRun {
  int count = 2;
  int threads = 1;
  std::string body = "body";
  std::map<std::string, std::string> environment = {};
  bool terminal = false;
  Journal journal = Journal::host;
};

/// @brief What the log writer left behind: exit status, its output, the facade's final counter
/// and the raw journal datagrams.
struct WriterResult {
  int exit_status = -1;
  std::string out;
  int seq = -1;
  std::vector<std::string> journal_entries;
};

/// @brief Runs the log writer as a child process and collects everything it wrote.
WriterResult runLogWriter(const WriterRun & run);

/// @brief Splits one native journal protocol datagram (text fields only) into its fields.
/// Skips every test of its program where the writer cannot have a private /run, saying why.
class PrivateRunOrSkip : public testing::Environment {
public:
  void SetUp() override;
};

std::map<std::string, std::string> parseJournalEntry(const std::string & datagram);

}  // namespace logging_test
