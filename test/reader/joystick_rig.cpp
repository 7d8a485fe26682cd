#include "joystick_rig.hpp"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace tavrin_test {

namespace {

using namespace std::chrono_literals;

void check(bool ok, const char * what) {
  if (!ok) {
    throw std::system_error(errno, std::generic_category(), what);
  }
}

void closeIfOpen(int & fd) {
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
}

}  // namespace

js_event joyEvent(uint8_t type, uint8_t number, int16_t value, uint32_t time) {
  return js_event{time, value, type, number};
}

JoystickStandIn::JoystickStandIn() {
  std::string pattern = "/tmp/tavrin_joystick_XXXXXX";
  check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
  directory_ = pattern;
}

JoystickStandIn::~JoystickStandIn() {
  unplug();
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

void JoystickStandIn::plugTerminal(const std::vector<js_event> & waiting) {
  unplug();
  // The test keeps the terminal side open too, so events written before the node opens it wait.
  check(::openpty(&writer_, &terminal_, nullptr, nullptr, nullptr) == 0, "openpty");
  // Only this process may hold the controller end: an inherited copy would hide the hang-up.
  ::fcntl(writer_, F_SETFD, FD_CLOEXEC);
  ::fcntl(terminal_, F_SETFD, FD_CLOEXEC);
  termios mode{};
  check(::tcgetattr(terminal_, &mode) == 0, "tcgetattr");
  // Raw: event bytes such as 0x0d or 0x11 must reach the reader untouched.
  ::cfmakeraw(&mode);
  check(::tcsetattr(terminal_, TCSANOW, &mode) == 0, "tcsetattr");
  send(waiting);
  std::array<char, 128> name{};
  check(::ttyname_r(terminal_, name.data(), name.size()) == 0, "ttyname_r");
  link(name.data());
}

void JoystickStandIn::plugFile(const std::string & path) {
  unplug();
  link(path);
}

void JoystickStandIn::plugFifo() {
  unplug();
  const std::string fifo = directory_ + "/fifo";
  ::unlink(fifo.c_str());
  check(::mkfifo(fifo.c_str(), 0600) == 0, "mkfifo");
  link(fifo);
}

void JoystickStandIn::openFifoWriter() {
  const std::string fifo = directory_ + "/fifo";
  // Without a reader a non-blocking open for writing fails: the node is not reading yet.
  waitUntil(
      [&] { return (writer_ = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) >= 0; });
  check(writer_ >= 0, "open fifo for writing");
}

void JoystickStandIn::closeWriter() {
  closeIfOpen(writer_);
  closeIfOpen(terminal_);
}

void JoystickStandIn::unplug() {
  ::unlink(linkPath().c_str());
  closeWriter();
}

void JoystickStandIn::send(const std::vector<js_event> & events) {
  sendBytes(events.data(), events.size() * sizeof(js_event));
}

void JoystickStandIn::sendBytes(const void * bytes, size_t count) {
  const auto * next = static_cast<const char *>(bytes);
  while (count > 0) {
    const ssize_t written = ::write(writer_, next, count);
    check(written > 0 || errno == EAGAIN || errno == EINTR, "write joystick events");
    if (written > 0) {
      next += written;
      count -= static_cast<size_t>(written);
    }
  }
}

void JoystickStandIn::link(const std::string & target) {
  check(::symlink(target.c_str(), linkPath().c_str()) == 0, "symlink");
}

namespace {

std::vector<std::string> namespacedCommandLine(
    const JoystickStandIn & device, const std::vector<std::string> & ros_arguments,
    std::vector<std::string> launcher) {
  // The node needs a path that begins with /dev/input/js; the machine may have no input
  // devices at all, so a private tmpfs on /dev/input holds the one link the node opens.
  if (::mkdir("/dev/input", 0755) != 0 && errno != EEXIST) {
    throw std::system_error(errno, std::generic_category(), "mkdir /dev/input");
  }
  const std::string script =
      "mount --make-rprivate / && mount -t tmpfs tmpfs /dev/input && ln -s '" + device.linkPath() +
      "' /dev/input/js0 && exec \"$0\" \"$@\"";
  std::vector<std::string> argv{"unshare",    "-m",   "sh",
                                "-c",         script, TAVRIN_NODE_EXECUTABLE,
                                "--ros-args", "-p",   "joy_dev:=/dev/input/js0"};
  argv.insert(argv.end(), ros_arguments.begin(), ros_arguments.end());
  launcher.insert(launcher.end(), argv.begin(), argv.end());
  return launcher;
}

}  // namespace

namespace {

std::vector<std::string> withConsoleLog(std::vector<std::string> environment) {
  environment.insert(
      environment.begin(), {"SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=false", "SPDLOG_LEVEL=info"});
  return environment;
}

}  // namespace

DeviceNode::DeviceNode(
    const JoystickStandIn & device, const std::vector<std::string> & ros_arguments,
    const std::vector<std::string> & launcher, const std::vector<std::string> & environment)
    : ChildProcess(
          namespacedCommandLine(device, ros_arguments, launcher), withConsoleLog(environment)) {}

bool DeviceNode::interruptAndExitCleanly(std::chrono::milliseconds timeout) {
  sendSignal(SIGINT);
  const auto status = waitForExit(timeout);
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

bool waitForNode(RobotPeer & peer) {
  const bool matched = peer.waitForMotionPublisher();
  std::this_thread::sleep_for(500ms);
  return matched;
}

std::optional<size_t> waitForTwist(
    const RobotPeer & peer, size_t from,
    const std::function<bool(const geometry_msgs::msg::Twist &)> & match,
    std::chrono::milliseconds timeout) {
  std::optional<size_t> found;
  waitUntil(
      [&] {
        const auto twists = peer.twists();
        for (; from < twists.size() && !found; ++from) {
          if (match(twists[from])) {
            found = from;
          }
        }
        return found.has_value();
      },
      timeout);
  return found;
}

bool isStill(const geometry_msgs::msg::Twist & twist) {
  return twist.linear.x == 0.0 && twist.linear.y == 0.0 && twist.linear.z == 0.0 &&
         twist.angular.x == 0.0 && twist.angular.y == 0.0 && twist.angular.z == 0.0;
}

}  // namespace tavrin_test
