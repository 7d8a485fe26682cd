// The logging facade as a process meets it: SPDLOG_* settings, console lines and their numbers,
// the journal, and first calls from many threads.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "child_process.hpp"

namespace {
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

// A private /run, so the writer finds our socket (or none) where journald's would be; the host's
// /run and any real journal stay untouched. $1 is the folder of our socket, or empty.
constexpr const char * kPrivateRun =
    "mount -t tmpfs tmpfs /run && mkdir -p /run/systemd/journal && "
    "{ [ -z \"$1\" ] || mount --bind \"$1\" /run/systemd/journal; } && shift && exec \"$@\"";

std::string quoted(const std::string & text) {
  std::string quoted = "'";
  for (const char c : text) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

/// @brief Runs the log writer as a child process and collects everything it wrote.
WriterResult runLogWriter(const WriterRun & run) {
  const std::vector<std::string> writer{
      LOG_WRITER_PATH, std::to_string(run.count), std::to_string(run.threads), run.body};
  // The variables under test come only from the run.
  std::vector<std::string> environment{
      "SPDLOG_STDOUT=", "SPDLOG_SYSTEMD=", "SPDLOG_LEVEL=", "TERM=", "COLORTERM="};
  for (const auto & [name, value] : run.environment) {
    environment.push_back(name + "=" + value);
  }
  std::vector<std::string> argv;
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("tavrin_journal_" + std::to_string(::getpid()));
  int journal = -1;
  if (run.terminal) {
    // script(1) gives the writer a terminal as its stdout.
    environment.push_back("TERM=xterm-256color");
    std::string command;
    for (const auto & word : writer) {
      command += quoted(word) + " ";
    }
    argv = {"script", "-qec", command, "/dev/null"};
  } else if (run.journal == Journal::host) {
    argv = writer;
  } else {
    std::string socket_folder;
    if (run.journal == Journal::listening) {
      std::filesystem::create_directories(folder);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::strncpy(address.sun_path, (folder / "socket").c_str(), sizeof(address.sun_path) - 1);
      journal = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      if (::bind(journal, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0) {
        throw std::runtime_error("cannot bind " + std::string(address.sun_path));
      }
      socket_folder = folder;
    }
    argv = {"unshare",   "--mount", "--propagation", "private", "sh", "-c",
            kPrivateRun, "sh",      socket_folder};
    argv.insert(argv.end(), writer.begin(), writer.end());
  }

  WriterResult result;
  tavrin_tools::ChildProcess process(argv, environment);
  const auto status = process.waitForExit(std::chrono::seconds(60));
  if (status) {
    result.exit_status = WIFEXITED(*status) ? WEXITSTATUS(*status) : 128 + WTERMSIG(*status);
  }
  result.out = process.output();
  std::erase(result.out, '\r');  // a terminal turns each "\n" into "\r\n"
  // The writer's report of the counter, on stderr, is no log output.
  static const std::regex kSeq("(^|\n)seq=(-?[0-9]+)\n");
  std::smatch seq;
  if (std::regex_search(result.out, seq, kSeq)) {
    result.seq = std::stoi(seq[2]);
    result.out.erase(seq.position(0) + seq.length(1), seq.length(0) - seq.length(1));
  }
  if (journal >= 0) {
    std::string buffer(1 << 16, '\0');
    for (ssize_t size; (size = ::recv(journal, buffer.data(), buffer.size(), MSG_DONTWAIT)) >= 0;) {
      result.journal_entries.emplace_back(buffer.data(), static_cast<size_t>(size));
    }
    ::close(journal);
    std::filesystem::remove_all(folder);
  }
  return result;
}

/// @brief Splits one native journal protocol datagram (text fields only) into its fields.
std::map<std::string, std::string> parseJournalEntry(const std::string & datagram) {
  std::map<std::string, std::string> fields;
  for (size_t position = 0, end; position < datagram.size(); position = end + 1) {
    end = datagram.find('\n', position);
    const size_t equals = datagram.find('=', position);
    if (end == std::string::npos || equals > end) {
      throw std::runtime_error("journal field not in the text form: " + datagram.substr(position));
    }
    fields[datagram.substr(position, equals - position)] =
        datagram.substr(equals + 1, end - equals - 1);
  }
  return fields;
}

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
    auto fields = parseJournalEntry(result.journal_entries[index]);
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
