#include "joystick_stand_in.hpp"

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "child_process.hpp"

namespace tavrin_tools {

namespace {

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

void JoystickStandIn::plugTerminal(const std::vector<js_event> & waiting, TerminalMode mode) {
  unplug();
  // The owner keeps the terminal side open too: events written before the reader opens it
  // wait, and the settings stay while the reader reopens the device.
  check(::openpty(&writer_, &terminal_, nullptr, nullptr, nullptr) == 0, "openpty");
  // Only this process may hold the controller end: an inherited copy would hide the hang-up.
  ::fcntl(writer_, F_SETFD, FD_CLOEXEC);
  ::fcntl(terminal_, F_SETFD, FD_CLOEXEC);
  termios settings{};
  check(::tcgetattr(terminal_, &settings) == 0, "tcgetattr");
  // Raw: event bytes such as 0x0d or 0x11 must reach the reader untouched.
  ::cfmakeraw(&settings);
  if (mode == TerminalMode::wholeRecords) {
    // Readable only once a whole record has arrived, as a joystick device never hands out
    // part of an event.
    settings.c_cc[VMIN] = sizeof(js_event);
    settings.c_cc[VTIME] = 0;
    ::fcntl(writer_, F_SETFL, ::fcntl(writer_, F_GETFL) | O_NONBLOCK);
  }
  check(::tcsetattr(terminal_, TCSANOW, &settings) == 0, "tcsetattr");
  send(waiting);
  std::array<char, 128> name{};
  check(::ttyname_r(terminal_, name.data(), name.size()) == 0, "ttyname_r");
  terminal_path_ = name.data();
  link(terminal_path_);
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
  // Without a reader a non-blocking open for writing fails: the reader is not there yet.
  waitUntil(
      [&] { return (writer_ = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) >= 0; },
      std::chrono::seconds(60));
  check(writer_ >= 0, "open fifo for writing");
  ::fcntl(writer_, F_SETFL, ::fcntl(writer_, F_GETFL) & ~O_NONBLOCK);
}

void JoystickStandIn::closeWriter() {
  closeIfOpen(writer_);
  closeIfOpen(terminal_);
}

void JoystickStandIn::unplug() {
  ::unlink(linkPath().c_str());
  closeWriter();
  terminal_path_.clear();
}

bool JoystickStandIn::send(const std::vector<js_event> & events) {
  return sendBytes(events.data(), events.size() * sizeof(js_event));
}

bool JoystickStandIn::sendBytes(const void * bytes, size_t count) {
  const auto * next = static_cast<const char *>(bytes);
  while (count > 0) {
    const ssize_t written = ::write(writer_, next, count);
    if (written < 0 && errno == EAGAIN) {
      return false;
    }
    check(written > 0 || errno == EINTR, "write joystick events");
    if (written > 0) {
      next += written;
      count -= static_cast<size_t>(written);
    }
  }
  return true;
}

void JoystickStandIn::link(const std::string & target) {
  check(::symlink(target.c_str(), linkPath().c_str()) == 0, "symlink");
}

std::vector<std::string> deviceNodeCommand(
    const JoystickStandIn & device, const std::string & node_executable,
    const std::vector<std::string> & ros_arguments, const std::string & device_path) {
  // The node needs a joystick device path under /dev/input; the machine may have no input
  // devices at all, so a private tmpfs on /dev/input holds the one link the node opens.
  if (::mkdir("/dev/input", 0755) != 0 && errno != EEXIST) {
    throw std::system_error(errno, std::generic_category(), "mkdir /dev/input");
  }
  const std::string script =
      "mount --make-rprivate / && mount -t tmpfs tmpfs /dev/input && mkdir -p \"$(dirname '" +
      device_path + "')\" && ln -s '" + device.linkPath() + "' '" + device_path +
      "' && exec \"$0\" \"$@\"";
  // A normal user may mount only in a user namespace of its own, where it is root.
  std::vector<std::string> argv{
      "unshare", ::geteuid() == 0 ? "-m" : "-rm", "sh", "-c", script, node_executable, "--ros-args",
      "-p",      "joy_dev:=" + device_path};
  argv.insert(argv.end(), ros_arguments.begin(), ros_arguments.end());
  return argv;
}

std::vector<std::string> nodeLogEnvironment(const std::vector<std::string> & extra) {
  std::vector<std::string> environment{
      "SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=false", "SPDLOG_LEVEL=info"};
  environment.insert(environment.end(), extra.begin(), extra.end());
  return environment;
}

}  // namespace tavrin_tools
