// Another program run by a tool, such as the teleop node started by a virtual controller.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tavrin_tools {

/// A started program; it is killed if still running when this object goes.
class ChildProgram {
public:
  /// Starts argv[0] (searched in PATH) with this process's environment. Its standard output and
  /// error go to `output_path` (created or truncated), or stay this process's when empty.
  /// Throws std::system_error when it cannot be started.
  explicit ChildProgram(
      const std::vector<std::string> & argv, const std::string & output_path = {});
  ~ChildProgram();

  ChildProgram(const ChildProgram &) = delete;
  ChildProgram & operator=(const ChildProgram &) = delete;

  /// True until the program has ended (checked without waiting).
  bool running();
  /// Sends SIGINT, as Ctrl-C would.
  void interrupt();
  /// The wait status once the program has ended, or nothing after `timeout`.
  std::optional<int> waitForExit(std::chrono::milliseconds timeout);
  /// "exit status 0", "killed by signal 9", ... for a wait status.
  static std::string describe(int wait_status);

private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

}  // namespace tavrin_tools
