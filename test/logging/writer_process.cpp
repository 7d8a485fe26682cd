#include "writer_process.hpp"

#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <regex>
#include <stdexcept>

#include "child_process.hpp"

namespace logging_test {
namespace {

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

std::string quoted(const std::string & text) {
  std::string quoted = "'";
  for (const char c : text) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

}  // namespace

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
    argv = privateMount();
    argv.insert(argv.end(), {"sh", "-c", kPrivateRun, "sh", socket_folder});
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

void PrivateRunOrSkip::SetUp() {
  static const std::string why = [] {
    std::vector<std::string> argv = privateMount();
    argv.insert(argv.end(), {"sh", "-c", "mount -t tmpfs tmpfs /run"});
    tavrin_tools::ChildProcess probe(argv);
    const auto status = probe.waitForExit(std::chrono::seconds(60));
    return status && *status == 0 ? std::string() : "no private /run here: " + probe.output();
  }();
  if (!why.empty()) {
    GTEST_SKIP() << why;
  }
}

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

}  // namespace logging_test
