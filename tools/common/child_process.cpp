#include "child_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <system_error>

extern char ** environ;

namespace tavrin_tools {

namespace {

std::vector<std::string> mergedEnvironment(const std::vector<std::string> & extra) {
  std::map<std::string, std::string> variables;
  for (char ** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const auto equals = text.find('=');
    variables[text.substr(0, equals)] = equals == std::string::npos ? "" : text.substr(equals + 1);
  }
  for (const auto & text : extra) {
    const auto equals = text.find('=');
    const std::string name = text.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : text.substr(equals + 1);
    if (value.empty()) {
      variables.erase(name);
    } else {
      variables[name] = value;
    }
  }
  std::vector<std::string> merged;
  for (const auto & [name, value] : variables) {
    merged.push_back(name + "=" + value);
  }
  return merged;
}

std::vector<char *> pointers(std::vector<std::string> & strings) {
  std::vector<char *> result;
  for (auto & text : strings) {
    result.push_back(text.data());
  }
  result.push_back(nullptr);
  return result;
}

}  // namespace

ChildProcess::ChildProcess(
    std::vector<std::string> argv, std::vector<std::string> extra_environment) {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
    throw std::system_error(errno, std::generic_category(), "pipe2");
  }
  try {
    start(std::move(argv), extra_environment, pipe_fds[1]);
  } catch (...) {
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    throw;
  }
  ::close(pipe_fds[1]);
  reader_ = std::thread([this, fd = pipe_fds[0]] { readOutput(fd); });
}

ChildProcess::ChildProcess(
    std::vector<std::string> argv, const OutputFile & output,
    std::vector<std::string> extra_environment)
    : output_closed_(true) {
  int output_fd = -1;
  if (!output.path.empty()) {
    output_fd = ::open(output.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (output_fd < 0) {
      throw std::system_error(errno, std::generic_category(), "open " + output.path);
    }
  }
  try {
    start(std::move(argv), extra_environment, output_fd);
  } catch (...) {
    if (output_fd >= 0) {
      ::close(output_fd);
    }
    throw;
  }
  if (output_fd >= 0) {
    ::close(output_fd);
  }
}

void ChildProcess::start(
    std::vector<std::string> argv, const std::vector<std::string> & extra_environment,
    int output_fd) {
  auto environment = mergedEnvironment(extra_environment);
  auto argv_pointers = pointers(argv);
  auto environment_pointers = pointers(environment);
  const pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ < 0) {
    throw std::system_error(errno, std::generic_category(), "fork " + argv.front());
  }
  if (pid_ == 0) {
    // Only async-signal-safe calls until exec. A test or tool that dies must take its child
    // along: an orphaned node would go on talking on its DDS domain.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) {
      ::_exit(127);
    }
    // A program started in the background by a shell inherits SIGINT ignored; the child must
    // answer Ctrl-C and interruptAndExitCleanly() all the same.
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    for (const int signal_number : {SIGINT, SIGQUIT, SIGTERM}) {
      ::sigaction(signal_number, &default_action, nullptr);
    }
    if (output_fd >= 0) {
      ::dup2(output_fd, STDOUT_FILENO);
      ::dup2(output_fd, STDERR_FILENO);
    }
    const int null_fd = ::open("/dev/null", O_RDONLY);
    ::dup2(null_fd, STDIN_FILENO);
    ::execvpe(argv_pointers[0], argv_pointers.data(), environment_pointers.data());
    ::_exit(127);
  }
}

ChildProcess::~ChildProcess() {
  // A clean exit lets a DDS participant say goodbye, so the next test does not see its ghost.
  if (!waitForExit(std::chrono::milliseconds(0))) {
    ::kill(pid_, SIGTERM);
  }
  if (!waitForExit(std::chrono::seconds(10))) {
    ::kill(pid_, SIGKILL);
    waitForExit(std::chrono::seconds(30));
  }
  if (reader_.joinable()) {
    reader_.join();
  }
}

void ChildProcess::readOutput(int fd) {
  char buffer[4096];
  while (true) {
    const ssize_t count = ::read(fd, buffer, sizeof(buffer));
    if (count < 0 && errno == EINTR) {
      continue;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (count <= 0) {
      output_closed_ = true;
      changed_.notify_all();
      break;
    }
    output_.append(buffer, static_cast<size_t>(count));
    changed_.notify_all();
  }
  ::close(fd);
}

bool ChildProcess::waitForOutput(
    const std::string & text, std::chrono::milliseconds timeout, size_t count) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto found = [&] {
    size_t seen = 0;
    for (auto at = output_.find(text); at != std::string::npos; at = output_.find(text, at + 1)) {
      if (++seen >= count) {
        return true;
      }
    }
    return false;
  };
  return changed_.wait_for(lock, timeout, [&] { return found() || output_closed_; }) && found();
}

size_t ChildProcess::countOutput(const std::string & text) const {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t seen = 0;
  for (auto at = output_.find(text); at != std::string::npos; at = output_.find(text, at + 1)) {
    ++seen;
  }
  return seen;
}

std::string ChildProcess::output() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return output_;
}

std::vector<std::string> ChildProcess::lines() const {
  std::vector<std::string> result;
  const std::string text = output();
  size_t start = 0;
  for (auto end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    result.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return result;
}

void ChildProcess::sendSignal(int signal_number) {
  // Once reaped, the process id may already belong to another program.
  if (!status_) {
    ::kill(pid_, signal_number);
  }
}

bool ChildProcess::running() { return !waitForExit(std::chrono::milliseconds(0)); }

bool ChildProcess::interruptAndExitCleanly(std::chrono::milliseconds timeout) {
  sendSignal(SIGINT);
  return exitedCleanly(waitForExit(timeout));
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
  if (status_) {
    return status_;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    int status = 0;
    const pid_t result = ::waitpid(pid_, &status, WNOHANG);
    if (result == pid_) {
      status_ = status;
      // What the child wrote last may still be in the pipe: callers read the whole output.
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait_for(lock, std::chrono::seconds(5), [this] { return output_closed_; });
      return status_;
    }
    if (result < 0 || std::chrono::steady_clock::now() >= deadline) {
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool exitedCleanly(const std::optional<int> & wait_status) {
  return wait_status && WIFEXITED(*wait_status) && WEXITSTATUS(*wait_status) == 0;
}

std::string describeExit(int wait_status) {
  if (WIFEXITED(wait_status)) {
    return "exit status " + std::to_string(WEXITSTATUS(wait_status));
  }
  if (WIFSIGNALED(wait_status)) {
    return std::string("killed by signal ") + ::strsignal(WTERMSIG(wait_status));
  }
  return "wait status " + std::to_string(wait_status);
}

}  // namespace tavrin_tools
