#include "pty_joystick.hpp"

#include <fcntl.h>
#include <linux/joystick.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace tavrin_tools {

namespace {

[[noreturn]] void fail(const char * what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

PtyJoystick::PtyJoystick() {
  master_fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_fd_ < 0) {
    fail("posix_openpt");
  }
  std::array<char, 64> name{};
  if (::grantpt(master_fd_) != 0 || ::unlockpt(master_fd_) != 0 ||
      ::ptsname_r(master_fd_, name.data(), name.size()) != 0) {
    const int error = errno;
    ::close(master_fd_);
    throw std::system_error(error, std::generic_category(), "pseudo-terminal slave");
  }
  slave_path_ = name.data();
  // Held open so that the terminal settings stay while the reader reopens the device.
  slave_fd_ = ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios settings{};
  if (slave_fd_ < 0 || ::tcgetattr(slave_fd_, &settings) != 0) {
    const int error = errno;
    ::close(master_fd_);
    if (slave_fd_ >= 0) {
      ::close(slave_fd_);
    }
    throw std::system_error(error, std::generic_category(), slave_path_);
  }
  // Raw bytes, and readable only once a whole 8-byte record has arrived, as a joystick
  // device never hands out part of an event.
  ::cfmakeraw(&settings);
  settings.c_cc[VMIN] = sizeof(js_event);
  settings.c_cc[VTIME] = 0;
  ::tcsetattr(slave_fd_, TCSANOW, &settings);
  // A full buffer means nobody reads the device: report it rather than hang.
  ::fcntl(master_fd_, F_SETFL, ::fcntl(master_fd_, F_GETFL) | O_NONBLOCK);
}

PtyJoystick::~PtyJoystick() {
  ::close(slave_fd_);
  ::close(master_fd_);
}

bool PtyJoystick::sendInitialState(const GamepadState & state, double deadzone) {
  bool sent = true;
  for (size_t button = 0; button < state.buttons.size(); ++button) {
    sent = sendEvent(
               JS_EVENT_BUTTON | JS_EVENT_INIT, static_cast<uint8_t>(button),
               state.buttons[button] != 0) &&
           sent;
  }
  for (size_t axis = 0; axis < state.axes.size(); ++axis) {
    sent = sendEvent(
               JS_EVENT_AXIS | JS_EVENT_INIT, static_cast<uint8_t>(axis),
               rawAxisValue(state.axes[axis], deadzone)) &&
           sent;
  }
  return sent;
}

bool PtyJoystick::sendChanges(const GamepadState & from, const GamepadState & to, double deadzone) {
  bool sent = true;
  for (size_t axis = 0; axis < to.axes.size(); ++axis) {
    if (axis >= from.axes.size() || from.axes[axis] != to.axes[axis]) {
      sent = sendAxis(static_cast<uint8_t>(axis), rawAxisValue(to.axes[axis], deadzone)) && sent;
    }
  }
  for (size_t button = 0; button < to.buttons.size(); ++button) {
    if (button >= from.buttons.size() || from.buttons[button] != to.buttons[button]) {
      sent = sendButton(static_cast<uint8_t>(button), to.buttons[button] != 0) && sent;
    }
  }
  return sent;
}

bool PtyJoystick::sendAxis(uint8_t number, int16_t raw) {
  return sendEvent(JS_EVENT_AXIS, number, raw);
}

bool PtyJoystick::sendButton(uint8_t number, bool pressed) {
  return sendEvent(JS_EVENT_BUTTON, number, pressed ? 1 : 0);
}

bool PtyJoystick::sendEvent(uint8_t type, uint8_t number, int16_t value) {
  js_event event{};
  event.time = static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - start_)
                                         .count());
  event.value = value;
  event.type = type;
  event.number = number;
  // One write per record: the terminal passes it on whole.
  ssize_t written;
  do {
    written = ::write(master_fd_, &event, sizeof(event));
  } while (written < 0 && errno == EINTR);
  return written == static_cast<ssize_t>(sizeof(event));
}

}  // namespace tavrin_tools
