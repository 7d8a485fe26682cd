// A program running in a terminal of its own: a detached tmux session on a private server.
#pragma once

#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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
  void sendKeys(const std::vector<std::string> & keys) {
    std::vector<std::string> arguments{"send-keys", "-t", "test"};
    arguments.insert(arguments.end(), keys.begin(), keys.end());
    tmux(arguments);
  }

  /// What the terminal shows now.
  std::string screen() { return tmux({"capture-pane", "-p", "-t", "test"}); }

  /// Waits until the screen shows `text`.
  bool waitForScreen(
      const std::string & text, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    return waitUntil([&] { return screen().find(text) != std::string::npos; }, timeout);
  }

  /// True while the command runs (the session ends with it).
  bool running() { return tmux({"has-session", "-t", "test"}, true) == "yes"; }

private:
  static std::string quoted(const std::string & text) {
    std::string result = "'";
    for (const char c : text) {
      result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
  }

  std::string commandLine(const std::vector<std::string> & arguments) const {
    std::string line = "tmux -L " + quoted(socket_) + " -f /dev/null";
    for (const auto & argument : arguments) {
      line += " " + quoted(argument);
    }
    return line;
  }

  /// Runs a tmux command; its output, or "yes"/"no" for its success with `status_only`. The
  /// server that new-session starts keeps running: its output goes to /dev/null, not to a pipe
  /// that would then never close.
  std::string tmux(const std::vector<std::string> & arguments, bool status_only = false) {
    if (status_only || arguments.front() != "capture-pane") {
      const int status = std::system((commandLine(arguments) + " >/dev/null 2>&1").c_str());
      return status == 0 ? "yes" : "no";
    }
    std::string output;
    FILE * pipe = ::popen(commandLine(arguments).c_str(), "r");
    if (pipe != nullptr) {
      std::array<char, 4096> buffer;
      size_t count;
      while ((count = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        output.append(buffer.data(), count);
      }
      ::pclose(pipe);
    }
    return output;
  }

  inline static int next_id_ = 0;
  std::string socket_;
};

}  // namespace tavrin_test
