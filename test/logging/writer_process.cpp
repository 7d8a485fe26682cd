#include "writer_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <utility>

extern char ** environ;

namespace logging_test {
namespace {

constexpr const char * kJournalSocket = "/run/systemd/journal/socket";

class UniqueFd {
public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(UniqueFd && other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd & operator=(UniqueFd && other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~UniqueFd() { reset(); }
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }

private:
  int fd_;
};

void check(bool ok, const char * what) {
  if (!ok) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
  }
}

std::pair<UniqueFd, UniqueFd> makePipe() {
  int ends[2];
  check(::pipe2(ends, O_CLOEXEC) == 0, "pipe2");
  return {UniqueFd(ends[0]), UniqueFd(ends[1])};
}

// Returns {read side, write side} of a pseudo-terminal, so the writer's stdout is a terminal.
std::pair<UniqueFd, UniqueFd> makeTerminal() {
  int master = -1;
  int slave = -1;
  check(::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0, "openpty");
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave, F_SETFD, FD_CLOEXEC);
  return {UniqueFd(master), UniqueFd(slave)};
}

sockaddr_un journalAddress() {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, kJournalSocket, sizeof(address.sun_path) - 1);
  return address;
}

// The parent's environment without the variables under test, then the run's own values.
std::vector<std::string> childEnvironment(const WriterRun & run) {
  std::vector<std::string> environment;
  for (char ** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view variable(*entry);
    if (!variable.starts_with("SPDLOG_") && !variable.starts_with("TERM=") &&
        !variable.starts_with("COLORTERM=")) {
      environment.emplace_back(variable);
    }
  }
  for (const auto & [name, value] : run.environment) {
    environment.push_back(name + "=" + value);
  }
  if (run.terminal) {
    environment.emplace_back("TERM=xterm-256color");
  }
  return environment;
}

std::vector<char *> pointersTo(std::vector<std::string> & strings) {
  std::vector<char *> pointers;
  for (std::string & text : strings) {
    pointers.push_back(text.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

[[noreturn]] void failInChild(int err_fd, const char * what) {
  const char * reason = std::strerror(errno);
  char message[256] = {};
  std::strncat(message, what, 120);
  std::strcat(message, ": ");
  std::strncat(message, reason, 120);
  std::strcat(message, "\n");
  [[maybe_unused]] const ssize_t written = ::write(err_fd, message, std::strlen(message));
  ::_exit(127);
}

void writeInChild(int err_fd, const char * path, const std::string & text) {
  const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    failInChild(err_fd, path);
  }
  ::close(fd);
}

// A private /run, so the writer finds our socket (or none) where journald's would be; the
// host's /run and any real journal stay untouched. Only async-signal-safe calls after fork.
// A normal user mounts in a user namespace of its own, as its root: `maps` are its id maps.
void isolateJournal(
    int err_fd, Journal journal, int journal_socket,
    const std::pair<std::string, std::string> & maps) {
  if (::unshare(CLONE_NEWNS | (maps.first.empty() ? 0 : CLONE_NEWUSER)) != 0) {
    failInChild(err_fd, "unshare");
  }
  if (!maps.first.empty()) {
    writeInChild(err_fd, "/proc/self/setgroups", "deny");
    writeInChild(err_fd, "/proc/self/uid_map", maps.first);
    writeInChild(err_fd, "/proc/self/gid_map", maps.second);
  }
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    failInChild(err_fd, "mount --make-rprivate /");
  }
  if (::mount("tmpfs", "/run", "tmpfs", 0, nullptr) != 0) {
    failInChild(err_fd, "mount tmpfs /run");
  }
  if (::mkdir("/run/systemd", 0755) != 0 || ::mkdir("/run/systemd/journal", 0755) != 0) {
    failInChild(err_fd, "mkdir /run/systemd/journal");
  }
  if (journal == Journal::listening) {
    const sockaddr_un address = journalAddress();
    if (::bind(journal_socket, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) !=
        0) {
      failInChild(err_fd, "bind journal socket");
    }
  }
}

// Reads every pipe until its writer side is gone; journal datagrams are taken as they come,
// since the kernel queues only a few and the writer would block.
void collect(int out_fd, int err_fd, int journal_fd, WriterResult & result) {
  pollfd polled[3] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}, {journal_fd, POLLIN, 0}};
  std::string * targets[2] = {&result.out, &result.err};
  std::string buffer(1 << 16, '\0');
  while (polled[0].fd >= 0 || polled[1].fd >= 0) {
    if (::poll(polled, 3, -1) < 0) {
      check(errno == EINTR, "poll");
      continue;
    }
    for (int stream = 0; stream < 2; ++stream) {
      if (polled[stream].revents == 0) {
        continue;
      }
      const ssize_t size = ::read(polled[stream].fd, buffer.data(), buffer.size());
      if (size > 0) {
        targets[stream]->append(buffer.data(), static_cast<size_t>(size));
      } else if (size == 0 || errno != EINTR) {
        polled[stream].fd = -1;  // EOF, or EIO once a terminal's last writer has gone
      }
    }
    while (journal_fd >= 0) {
      const ssize_t size = ::recv(journal_fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
      if (size < 0) {
        break;
      }
      result.journal_entries.emplace_back(buffer.data(), static_cast<size_t>(size));
    }
  }
}

}  // namespace

WriterResult runLogWriter(const WriterRun & run) {
  std::vector<std::string> arguments = {
      LOG_WRITER_PATH, std::to_string(run.count), std::to_string(run.threads), run.body};
  std::vector<std::string> environment = childEnvironment(run);
  std::vector<char *> argv = pointersTo(arguments);
  std::vector<char *> envp = pointersTo(environment);

  auto [out_read, out_write] = run.terminal ? makeTerminal() : makePipe();
  auto [err_read, err_write] = makePipe();
  UniqueFd journal_socket;
  if (run.journal == Journal::listening) {
    journal_socket = UniqueFd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    check(journal_socket.get() >= 0, "socket");
  }

  std::pair<std::string, std::string> maps;
  if (::geteuid() != 0) {
    maps = {"0 " + std::to_string(::geteuid()) + " 1", "0 " + std::to_string(::getegid()) + " 1"};
  }
  const pid_t pid = ::fork();
  check(pid >= 0, "fork");
  if (pid == 0) {
    if (run.journal != Journal::host) {
      isolateJournal(err_write.get(), run.journal, journal_socket.get(), maps);
    }
    if (::dup2(out_write.get(), STDOUT_FILENO) < 0 || ::dup2(err_write.get(), STDERR_FILENO) < 0) {
      failInChild(err_write.get(), "dup2");
    }
    ::execve(argv[0], argv.data(), envp.data());
    failInChild(STDERR_FILENO, "execve");
  }
  out_write.reset();
  err_write.reset();

  WriterResult result;
  collect(out_read.get(), err_read.get(), journal_socket.get(), result);
  int status = 0;
  check(::waitpid(pid, &status, 0) == pid, "waitpid");
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (run.terminal) {
    std::erase(result.out, '\r');  // the terminal turns each "\n" into "\r\n"
  }
  return result;
}

const std::string & whyNoPrivateRun() {
  static const std::string why = [] {
    const WriterResult probe = runLogWriter({.count = 0, .journal = Journal::absent});
    return probe.exit_status == 127 ? "no private /run here: " + probe.err : std::string();
  }();
  return why;
}

int reportedSeq(const WriterResult & result) {
  const size_t at = result.err.rfind("seq=");
  return at == std::string::npos ? -1 : std::stoi(result.err.substr(at + 4));
}

std::map<std::string, std::string> parseJournalEntry(const std::string & datagram) {
  std::map<std::string, std::string> fields;
  size_t position = 0;
  while (position < datagram.size()) {
    const size_t line_end = datagram.find('\n', position);
    if (line_end == std::string::npos) {
      throw std::runtime_error("journal field without a newline");
    }
    const size_t equals = datagram.find('=', position);
    if (equals < line_end) {
      fields[datagram.substr(position, equals - position)] =
          datagram.substr(equals + 1, line_end - equals - 1);
      position = line_end + 1;
      continue;
    }
    // Binary form: KEY "\n", a little-endian 64-bit length, the data, "\n".
    const std::string key = datagram.substr(position, line_end - position);
    position = line_end + 1;
    if (position + 8 > datagram.size()) {
      throw std::runtime_error("journal field " + key + " without its length");
    }
    std::uint64_t length = 0;
    for (int byte = 7; byte >= 0; --byte) {
      length = (length << 8) | static_cast<unsigned char>(datagram[position + byte]);
    }
    position += 8;
    if (length + 1 > datagram.size() - position) {
      throw std::runtime_error("journal field " + key + " longer than its datagram");
    }
    fields[key] = datagram.substr(position, length);
    position += length + 1;
  }
  return fields;
}

}  // namespace logging_test
