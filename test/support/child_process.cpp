#include "child_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <stdexcept>
#include <system_error>

extern char ** environ;

namespace tavrin_test {

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
  auto environment = mergedEnvironment(extra_environment);
  auto argv_pointers = pointers(argv);
  auto environment_pointers = pointers(environment);
  const pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ < 0) {
    const int error = errno;
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    throw std::system_error(error, std::generic_category(), "fork");
  }
  if (pid_ == 0) {
    // Only async-signal-safe calls until exec. A test that dies must take its child along:
    // an orphaned node would go on talking on the test's DDS domain.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) {
      ::_exit(127);
    }
    ::dup2(pipe_fds[1], STDOUT_FILENO);
    ::dup2(pipe_fds[1], STDERR_FILENO);
    const int null_fd = ::open("/dev/null", O_RDONLY);
    ::dup2(null_fd, STDIN_FILENO);
    ::execvpe(argv_pointers[0], argv_pointers.data(), environment_pointers.data());
    ::_exit(127);
  }
  ::close(pipe_fds[1]);
  reader_ = std::thread([this, fd = pipe_fds[0]] { readOutput(fd); });
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

void ChildProcess::sendSignal(int signal_number) { ::kill(pid_, signal_number); }

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

}  // namespace tavrin_test
