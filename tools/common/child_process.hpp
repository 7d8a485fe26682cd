// Another program run as a child process: the node under a tool, a test or a benchmark, a test's
// peer. Tools, tests and benchmarks all start their children through this one class.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tavrin_tools {

/// Where a child's standard output and error go when they are not captured: the file at `path`
/// (created or truncated), or this process's own when `path` is empty.
struct OutputFile {
  std::string path;
};

/// A started program. It ends with this object: SIGTERM first, so that a DDS participant can say
/// goodbye, SIGKILL if it is still there 10 s later. It is also killed when the thread that
/// started it ends, so a crashed test or tool leaves nothing talking on its DDS domain.
class ChildProcess {
public:
  /// Starts argv[0] (searched in PATH) with its standard output and error captured, and with
  /// this process's environment plus `extra_environment` entries ("NAME=value"; an entry "NAME="
  /// without value removes NAME). Throws std::system_error when it cannot be started.
  explicit ChildProcess(
      std::vector<std::string> argv, std::vector<std::string> extra_environment = {});
  /// The same, with standard output and error going to `output` instead of being captured.
  ChildProcess(
      std::vector<std::string> argv, const OutputFile & output,
      std::vector<std::string> extra_environment = {});
  ~ChildProcess();

  ChildProcess(const ChildProcess &) = delete;
  ChildProcess & operator=(const ChildProcess &) = delete;

  /// Waits until the captured output contains `text` `count` times; false on timeout or when
  /// the output ends first.
  bool waitForOutput(
      const std::string & text, std::chrono::milliseconds timeout = std::chrono::seconds(20),
      size_t count = 1);
  /// How often `text` appears in the captured output so far.
  size_t countOutput(const std::string & text) const;
  /// Everything captured so far, standard output and error interleaved as they arrived.
  std::string output() const;
  /// The captured output lines so far.
  std::vector<std::string> lines() const;

  void sendSignal(int signal_number);
  /// True until the program has ended (checked without waiting).
  bool running();
  /// The wait status once the child has ended, or nothing on timeout.
  std::optional<int> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  /// Sends SIGINT, as Ctrl-C would, and returns whether the program then exited with status 0.
  bool interruptAndExitCleanly(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  pid_t pid() const { return pid_; }

private:
  void start(
      std::vector<std::string> argv, const std::vector<std::string> & extra_environment,
      int output_fd);
  void readOutput(int fd);

  pid_t pid_ = -1;
  std::optional<int> status_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string output_;
  bool output_closed_ = false;
  std::thread reader_;
};

/// True when a wait status says the program exited with status 0.
bool exitedCleanly(const std::optional<int> & wait_status);

/// "exit status 0", "killed by signal Killed", ... for a wait status.
std::string describeExit(int wait_status);

/// Polls `condition` until it holds or `timeout` passes.
template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace tavrin_tools
