#include "joystick_stand_in.hpp"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>
#include <utility>

extern char ** environ;

namespace tavrin_bench {

namespace {

void check(bool ok, const char * what) {
  if (!ok) {
    throw std::system_error(errno, std::generic_category(), what);
  }
}

}  // namespace

js_event joyEvent(uint8_t type, uint8_t number, int16_t value) {
  return js_event{0, value, type, number};
}

std::vector<js_event> initialBurst(uint8_t buttons, uint8_t axes) {
  std::vector<js_event> burst;
  for (uint8_t button = 0; button < buttons; ++button) {
    burst.push_back(joyEvent(JS_EVENT_BUTTON | JS_EVENT_INIT, button, 0));
  }
  for (uint8_t axis = 0; axis < axes; ++axis) {
    burst.push_back(joyEvent(JS_EVENT_AXIS | JS_EVENT_INIT, axis, 0));
  }
  return burst;
}

void useLoopbackDomain(int domain_id) {
  ::setenv("ROS_LOCALHOST_ONLY", "1", 1);
  ::setenv("ROS_DOMAIN_ID", std::to_string(domain_id).c_str(), 0);
}

StandInController::StandInController(StandIn kind, const std::vector<js_event> & waiting) {
  std::string pattern = "/tmp/tavrin_bench_joystick_XXXXXX";
  check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
  directory_ = pattern;
  if (kind == StandIn::kFifo) {
    const std::string fifo = directory_ + "/fifo";
    check(::mkfifo(fifo.c_str(), 0600) == 0, "mkfifo");
    check(::symlink(fifo.c_str(), linkPath().c_str()) == 0, "symlink");
    waiting_ = waiting;
    return;
  }
  check(::openpty(&controller_, &terminal_, nullptr, nullptr, nullptr) == 0, "openpty");
  // Only this process may hold the controller end: an inherited copy would hide the hang-up.
  ::fcntl(controller_, F_SETFD, FD_CLOEXEC);
  ::fcntl(terminal_, F_SETFD, FD_CLOEXEC);
  termios mode{};
  check(::tcgetattr(terminal_, &mode) == 0, "tcgetattr");
  ::cfmakeraw(&mode);
  check(::tcsetattr(terminal_, TCSANOW, &mode) == 0, "tcsetattr");
  send(waiting);
  std::array<char, 128> name{};
  check(::ttyname_r(terminal_, name.data(), name.size()) == 0, "ttyname_r");
  check(::symlink(name.data(), linkPath().c_str()) == 0, "symlink");
}

void StandInController::openFifoWriter() {
  // Opening for writing fails until the node has the FIFO open for reading.
  const std::string fifo = directory_ + "/fifo";
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while ((controller_ = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
    check(errno == ENXIO && std::chrono::steady_clock::now() < give_up, "open fifo for writing");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::fcntl(controller_, F_SETFL, ::fcntl(controller_, F_GETFL) & ~O_NONBLOCK);
  send(std::exchange(waiting_, {}));
}

StandInController::~StandInController() {
  if (controller_ >= 0) {
    ::close(controller_);
  }
  if (terminal_ >= 0) {
    ::close(terminal_);
  }
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

void StandInController::send(const std::vector<js_event> & events) {
  if (controller_ < 0) {
    openFifoWriter();
  }
  const auto * next = reinterpret_cast<const char *>(events.data());
  size_t count = events.size() * sizeof(js_event);
  while (count > 0) {
    const ssize_t written = ::write(controller_, next, count);
    check(written > 0 || errno == EINTR, "write joystick events");
    if (written > 0) {
      next += written;
      count -= static_cast<size_t>(written);
    }
  }
}

NodeProcess::NodeProcess(
    const StandInController & controller, const std::string & log_path,
    const std::vector<std::string> & environment) {
  if (::mkdir("/dev/input", 0755) != 0 && errno != EEXIST) {
    throw std::system_error(errno, std::generic_category(), "mkdir /dev/input");
  }
  const std::string script =
      "mount --make-rprivate / && mount -t tmpfs tmpfs /dev/input && ln -s '" +
      controller.linkPath() + "' /dev/input/js0 && exec \"$0\" \"$@\"";
  std::vector<std::string> argv{"unshare",    "-m",   "sh",
                                "-c",         script, TAVRIN_NODE_EXECUTABLE,
                                "--ros-args", "-p",   "joy_dev:=/dev/input/js0"};
  std::vector<std::string> env{"SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=false", "SPDLOG_LEVEL=info"};
  env.insert(env.end(), environment.begin(), environment.end());
  for (char ** entry = environ; *entry != nullptr; ++entry) {
    env.emplace_back(*entry);
  }
  std::vector<char *> argv_pointers;
  for (auto & text : argv) {
    argv_pointers.push_back(text.data());
  }
  argv_pointers.push_back(nullptr);
  std::vector<char *> env_pointers;
  for (auto & text : env) {
    env_pointers.push_back(text.data());
  }
  env_pointers.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(
      &actions, STDOUT_FILENO, log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  const int error = ::posix_spawnp(
      &pid_, argv_pointers[0], &actions, nullptr, argv_pointers.data(), env_pointers.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    throw std::system_error(error, std::generic_category(), "posix_spawnp unshare");
  }
  running_ = true;
}

NodeProcess::~NodeProcess() {
  if (running_) {
    stop();
  }
}

int NodeProcess::stop(std::chrono::seconds timeout) {
  ::kill(pid_, SIGINT);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (::waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      running_ = false;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  running_ = false;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace tavrin_bench
