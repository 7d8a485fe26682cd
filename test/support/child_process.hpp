// A program under test, run as a real child process whose output the test reads.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tavrin_test {

/// Runs a program with its standard output and error captured, and kills it if the test ends
/// first.
class ChildProcess {
public:
  /// Starts argv[0] (searched in PATH) with the test's environment plus `extra_environment`
  /// entries ("NAME=value"; an entry "NAME=" without value removes NAME).
  explicit ChildProcess(
      std::vector<std::string> argv, std::vector<std::string> extra_environment = {});
  ~ChildProcess();

  ChildProcess(const ChildProcess &) = delete;
  ChildProcess & operator=(const ChildProcess &) = delete;

  /// Waits until the output contains `text` `count` times; false on timeout or exit first.
  bool waitForOutput(
      const std::string & text, std::chrono::milliseconds timeout = std::chrono::seconds(20),
      size_t count = 1);
  /// How often `text` appears in the output so far.
  size_t countOutput(const std::string & text) const;
  /// Everything written so far, standard output and error interleaved as they arrived.
  std::string output() const;
  /// The output lines so far.
  std::vector<std::string> lines() const;

  void sendSignal(int signal_number);
  /// The wait status once the child has ended, or nothing on timeout.
  std::optional<int> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  pid_t pid() const { return pid_; }

private:
  void readOutput(int fd);

  pid_t pid_ = -1;
  std::optional<int> status_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string output_;
  bool output_closed_ = false;
  std::thread reader_;
};

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

}  // namespace tavrin_test
