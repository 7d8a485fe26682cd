#include "peer_process.hpp"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

extern char ** environ;

namespace test_support {

PeerProcess::PeerProcess(const std::string & program, const std::vector<std::string> & arguments) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) {
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
  std::vector<char *> argv{const_cast<char *>(program.c_str())};
  for (const std::string & argument : arguments) {
    argv.push_back(const_cast<char *>(argument.c_str()));
  }
  argv.push_back(nullptr);
  const int result = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_ends[1]);
  output_ = pipe_ends[0];
  if (result != 0) {
    close(output_);
    throw std::runtime_error("could not start " + program);
  }
}

PeerProcess::~PeerProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  close(output_);
}

bool PeerProcess::waitForLine(const std::string & line, std::chrono::seconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    const size_t newline = buffered_.find('\n');
    if (newline != std::string::npos) {
      const std::string next = buffered_.substr(0, newline);
      buffered_.erase(0, newline + 1);
      if (next == line) {
        return true;
      }
      continue;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      return false;
    }
    pollfd descriptor{output_, POLLIN, 0};
    if (poll(&descriptor, 1, static_cast<int>(left.count())) <= 0) {
      continue;
    }
    char chunk[256];
    const ssize_t count = read(output_, chunk, sizeof(chunk));
    if (count <= 0) {
      return false;
    }
    buffered_.append(chunk, static_cast<size_t>(count));
  }
}

void PeerProcess::signal(int signal_number) { kill(pid_, signal_number); }

int PeerProcess::waitForExit(std::chrono::seconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

std::string peerProgram() { return PEER_PROGRAM; }

}  // namespace test_support
