// A pseudo-terminal that reads, from its slave side, like a Linux joystick device.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "gamepad.hpp"

namespace tavrin_tools {

/// A pseudo-terminal whose slave side delivers Linux joystick events: whoever opens the slave
/// and reads it in 8-byte records sees js_event records, as from /dev/input/jsN.
class PtyJoystick {
public:
  /// Opens the pair in raw mode; throws std::system_error when the system has no pseudo-terminal.
  PtyJoystick();
  ~PtyJoystick();

  PtyJoystick(const PtyJoystick &) = delete;
  PtyJoystick & operator=(const PtyJoystick &) = delete;

  /// Path of the slave side, such as /dev/pts/3.
  const std::string & slavePath() const { return slave_path_; }

  /// The burst of initial-state events (flag JS_EVENT_INIT) a driver sends to a new reader.
  bool sendInitialState(const GamepadState & state, double deadzone);
  /// Events for every axis and button that differs between `from` and `to`: axes first, so a
  /// button change goes out with the new stick and trigger positions already read.
  bool sendChanges(const GamepadState & from, const GamepadState & to, double deadzone);
  /// One axis event with a raw value, -32767..32767.
  bool sendAxis(uint8_t number, int16_t raw);
  /// One button event.
  bool sendButton(uint8_t number, bool pressed);
  /// One event of any type, for readers that must cope with unknown ones.
  bool sendEvent(uint8_t type, uint8_t number, int16_t value);

private:
  int master_fd_ = -1;
  int slave_fd_ = -1;
  std::string slave_path_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace tavrin_tools
