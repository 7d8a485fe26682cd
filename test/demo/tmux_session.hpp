// A program running in a terminal of its own: a detached tmux session on a private server.
#pragma once

#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "child_process.hpp"

namespace tavrin_test {

using tavrin_tools::ChildProcess;
using tavrin_tools::waitUntil;

/// Runs a command in a detached tmux session (its own server, no user configuration), types
/// keys into it and reads its screen, as an operator at a terminal would.
class TmuxSession {
public:
  explicit TmuxSession(const std::string & command)
      : socket_("tavrin_test_" + std::to_string(::getpid()) + "_" + std::to_string(next_id_++)) {
    tmux({"new-session", "-d", "-x", "120", "-y", "40", "-s", "test", command});
  }

  ~TmuxSession() { tmux({"kill-server"}); }

  TmuxSession(const TmuxSession &) = delete;
  TmuxSession & operator=(const TmuxSession &) = delete;

  /// Types `keys` (tmux key names such as "w", "Space", "Escape").
  void sendKeys(std::vector<std::string> keys) {
    keys.insert(keys.begin(), {"send-keys", "-t", "test"});
    tmux(keys);
  }

  /// What the terminal shows now.
  std::string screen() {
    ChildProcess capture(commandLine({"capture-pane", "-p", "-t", "test"}));
    capture.waitForExit();
    return capture.output();
  }

  /// Waits until the screen shows `text`.
  bool waitForScreen(
      const std::string & text, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    return waitUntil([&] { return screen().find(text) != std::string::npos; }, timeout);
  }

  /// True while the command runs (the session ends with it).
  bool running() { return tmux({"has-session", "-t", "test"}); }

private:
  std::vector<std::string> commandLine(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), {"tmux", "-L", socket_, "-f", "/dev/null"});
    return arguments;
  }

  /// Runs a tmux command; whether it succeeded. The server that new-session starts keeps
  /// running: its output goes to /dev/null, not to a pipe that would then never close.
  bool tmux(const std::vector<std::string> & arguments) {
    ChildProcess command(commandLine(arguments), tavrin_tools::OutputFile{"/dev/null"});
    return tavrin_tools::exitedCleanly(command.waitForExit());
  }

  inline static int next_id_ = 0;
  std::string socket_;
};

}  // namespace tavrin_test
