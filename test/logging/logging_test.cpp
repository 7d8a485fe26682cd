// The facade is built once per process, so each case runs the log writer as a child process with
// an environment of its own and reads what really reaches stdout and the journal.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "child_process.hpp"

namespace {

/// Where the log writer's journal messages can go.
enum class Journal {
  host,       ///< the machine's own /run, untouched
  listening,  ///< a private /run whose journal socket belongs to the test
  absent,     ///< a private /run with no journal socket at all
};

/// How to run the log writer: what it logs, its SPDLOG_* variables, its stdout and journal.
struct WriterRun {
  int count = 2;
  int threads = 1;
  std::string body = "body";
  std::vector<std::string> environment = {};  // "NAME=value"
  bool terminal = false;
  Journal journal = Journal::host;
};

/// What the log writer left behind: whether it exited with status 0, its output, the facade's final counter and
/// the raw journal datagrams.
struct WriterResult {
  bool exited_cleanly = false;
  std::string out;
  int seq = -1;
  std::vector<std::string> journal_entries;
};

// A private /run, so the writer finds our socket (or none) where journald's would be; the host's
// /run and any real journal stay untouched. $1 is the folder of our socket, or empty.
constexpr const char * kPrivateRun =
    "mount -t tmpfs tmpfs /run && mkdir -p /run/systemd/journal && "
    "{ [ -z \"$1\" ] || mount --bind \"$1\" /run/systemd/journal; } && shift && exec \"$@\"";

// A normal user mounts in a user namespace of its own, where the kernel allows one.
std::vector<std::string> privateMount() {
  std::vector<std::string> argv{"unshare", "--mount", "--propagation", "private"};
  if (::geteuid() != 0) {
    argv.insert(argv.begin() + 1, {"--user", "--map-root-user"});
  }
  return argv;
}

WriterResult runLogWriter(const WriterRun & run) {
  const std::vector<std::string> writer{
      LOG_WRITER_PATH, std::to_string(run.count), std::to_string(run.threads), run.body};
  // The variables under test come only from the run.
  std::vector<std::string> environment{
      "SPDLOG_STDOUT=", "SPDLOG_SYSTEMD=", "SPDLOG_LEVEL=", "TERM=", "COLORTERM="};
  environment.insert(environment.end(), run.environment.begin(), run.environment.end());
  std::vector<std::string> argv = writer;
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("tavrin_journal_" + std::to_string(::getpid()));
  int journal = -1;
  if (run.terminal) {
    // script(1) gives the writer a terminal as its stdout; the writer's words have no quotes.
    environment.push_back("TERM=xterm-256color");
    argv = {
        "script", "-qec",
        fmt::format("'{}' {} {} '{}'", LOG_WRITER_PATH, run.count, run.threads, run.body),
        "/dev/null"};
  } else if (run.journal != Journal::host) {
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
    argv = privateMount();
    argv.insert(argv.end(), {"sh", "-c", kPrivateRun, "sh", socket_folder});
    argv.insert(argv.end(), writer.begin(), writer.end());
  }

  WriterResult result;
  tavrin_tools::ChildProcess process(argv, environment);
  result.exited_cleanly =
      tavrin_tools::exitedCleanly(process.waitForExit(std::chrono::seconds(60)));
  result.out = process.output();
  std::erase(result.out, '\r');  // a terminal turns each "\n" into "\r\n"
  // The writer's report of the counter, on stderr, is no log output.
  if (const size_t at = result.out.rfind("seq="); at != std::string::npos) {
    result.seq = std::stoi(result.out.substr(at + 4));
    result.out.erase(at, result.out.find('\n', at) + 1 - at);
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

/// Skips every test where the writer cannot have a private /run, saying why.
class PrivateRunOrSkip : public testing::Environment {
public:
  void SetUp() override {
    std::vector<std::string> argv = privateMount();
    argv.insert(argv.end(), {"sh", "-c", "mount -t tmpfs tmpfs /run"});
    tavrin_tools::ChildProcess probe(argv);
    if (!tavrin_tools::exitedCleanly(probe.waitForExit(std::chrono::seconds(60)))) {
      GTEST_SKIP() << "no private /run here: " << probe.output();
    }
  }
};

[[maybe_unused]] const auto * const kPrivateRunOrSkip =
    testing::AddGlobalTestEnvironment(new PrivateRunOrSkip);

/// The fields of one native journal protocol datagram, all in the text form "NAME=value\n".
std::map<std::string, std::string> parseJournalEntry(const std::string & datagram) {
  std::map<std::string, std::string> fields;
  std::istringstream stream(datagram);
  for (std::string field; std::getline(stream, field);) {
    fields[field.substr(0, field.find('='))] = field.substr(field.find('=') + 1);
  }
  return fields;
}

const std::string kSwitchesNotSet =
    "environment variable SPDLOG_STDOUT is not set, and set true\n"
    "environment variable SPDLOG_SYSTEMD is not set, and set false\n";
const std::string kAllNotSet =
    kSwitchesNotSet + "environment variable SPDLOG_LEVEL is not set, and set default level\n";

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
  int number = 1;
  for (std::string line; std::getline(source, line) && line.find("LOG_INFO(") == line.npos;) {
    ++number;
  }
  return number;
}

}  // namespace

TEST(LoggerSetup, EachSettingIsReportedWhenNotSetOrUnusableAndDecidesWhereLinesGo) {
  struct Case {
    WriterRun run;
    std::string out;
    int seq;  // the facade's counter at exit
    size_t journal_entries = 0;
  };
  const std::string all_invalid =
      "environment variable SPDLOG_STDOUT is invalid, and set true\n"
      "environment variable SPDLOG_SYSTEMD is invalid, and set false\n"
      "environment variable SPDLOG_LEVEL is invalid, and set default level\n";
  const std::vector<std::string> at_info{
      "SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=false", "SPDLOG_LEVEL=info"};
  std::vector<Case> cases{
      {{}, kAllNotSet + consoleLines(2), 2},
      // The console is a terminal: still no escape codes.
      {{.terminal = true}, kAllNotSet + consoleLines(2), 2},
      {{.environment = {"SPDLOG_STDOUT=false"}}, kAllNotSet.substr(kAllNotSet.find('\n') + 1), 2},
      // No journal to be had: log calls return and the console still writes.
      {{.environment = {"SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=true", "SPDLOG_LEVEL=info"},
        .journal = Journal::absent},
       consoleLines(2),
       2},
      {{.body = "{}",
        .environment = {"SPDLOG_STDOUT=false", "SPDLOG_SYSTEMD=true", "SPDLOG_LEVEL=info"},
        .journal = Journal::listening},
       "",
       2,
       2},
      {{.count = 1, .body = "{} {0} {:>5} %v", .environment = at_info},
       consoleLines(1, "{} {0} {:>5} %v"),
       1},
      // Numbers start at one and wrap to zero at the 128th message.
      {{.count = 130, .environment = at_info}, consoleLines(130), 130},
  };
  for (const std::string level : {"warn", "off", "INFO", "3"}) {
    cases.push_back(
        {{.environment = {"SPDLOG_STDOUT=TRUE", "SPDLOG_SYSTEMD=TRUE", "SPDLOG_LEVEL=" + level},
          .journal = Journal::listening},
         all_invalid + consoleLines(2),
         2});
  }
  // Above info nothing is written, and messages below the level do not take a number.
  for (const std::string level : {"trace", "debug", "info", "warning", "error", "critical"}) {
    const bool written = level == "trace" || level == "debug" || level == "info";
    cases.push_back(
        {{.environment = {"SPDLOG_LEVEL=" + level}},
         kSwitchesNotSet + (written ? consoleLines(2) : ""),
         written ? 2 : 0});
  }
  for (const Case & test : cases) {
    SCOPED_TRACE(test.out);
    const WriterResult result = runLogWriter(test.run);
    EXPECT_TRUE(result.exited_cleanly) << result.out;
    EXPECT_EQ(result.out, test.out);
    EXPECT_EQ(result.seq, test.seq);
    // The journal is written only when asked, with the call site of each line.
    ASSERT_EQ(result.journal_entries.size(), test.journal_entries);
    for (size_t index = 0; index < test.journal_entries; ++index) {
      auto fields = parseJournalEntry(result.journal_entries[index]);
      EXPECT_EQ(
          fields["MESSAGE"],
          fmt::format("{:3d} [INFO] thread 0 message {} {}", index + 1, index, test.run.body));
      EXPECT_EQ(fields["PRIORITY"], "6");
      EXPECT_EQ(fields["SYSLOG_IDENTIFIER"], "spdlog");
      // As the compiler named the file: relative to the build tree under Ninja.
      EXPECT_TRUE(fields["CODE_FILE"].ends_with("test/logging/log_writer.cpp"))
          << fields["CODE_FILE"];
      EXPECT_EQ(fields["CODE_LINE"], std::to_string(writerCallLine()));
      EXPECT_EQ(fields["CODE_FUNC"], "writeMessages");
    }
  }
}

TEST(LogThreads, FirstCallsFromManyThreadsSetUpOnceAndKeepEveryLineWhole) {
  constexpr int kThreads = 8;
  constexpr int kCount = 100;
  const WriterResult result = runLogWriter({.count = kCount, .threads = kThreads});
  ASSERT_TRUE(result.exited_cleanly) << result.out;
  ASSERT_TRUE(result.out.starts_with(kAllNotSet)) << result.out;

  // Each call numbers its line by its own increment, so the numbers are 1..800 modulo 128 in
  // some order: a lost or shared increment shows up as a missing or doubled number, a torn or
  // lost line as a text that was not logged.
  std::multiset<std::string> texts, expected_texts;
  std::multiset<int> numbers, expected_numbers;
  std::istringstream stream(result.out.substr(kAllNotSet.size()));
  for (std::string line; std::getline(stream, line);) {
    numbers.insert(std::atoi(line.substr(0, 3).c_str()));
    texts.insert(line.substr(3));
  }
  for (int thread = 0; thread < kThreads; ++thread) {
    for (int message = 0; message < kCount; ++message) {
      expected_texts.insert(fmt::format(" [INFO] thread {} message {} body", thread, message));
      expected_numbers.insert((thread * kCount + message + 1) % 128);
    }
  }
  EXPECT_EQ(texts, expected_texts);
  EXPECT_EQ(numbers, expected_numbers);
}
