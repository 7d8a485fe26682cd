// The virtual controllers' gamepad: an Xbox-style layout, in sensor_msgs/Joy conventions.
#pragma once

#include <linux/joystick.h>

#include <cstdint>
#include <vector>

namespace tavrin_tools {

/// Axis numbers of the virtual gamepad, as the Linux joystick driver numbers an Xbox-style pad.
enum PadAxis : uint8_t {
  kLeftStickX = 0,
  kLeftStickY = 1,
  kLeftTrigger = 2,
  kRightStickX = 3,
  kRightStickY = 4,
  kRightTrigger = 5,
  kDirectionPadX = 6,
  kDirectionPadY = 7,
};

inline constexpr int kPadAxisCount = 8;
inline constexpr int kPadButtonCount = 11;
/// A trigger's value when released; fully pulled it reads -1.0.
inline constexpr float kTriggerReleased = 1.0f;
/// The dead band the node applies by default; the device output adds it back.
inline constexpr double kDefaultDeadzone = 0.3;

/// One moment of the gamepad as a sensor_msgs/Joy sample carries it: sticks -1..+1 with left
/// and up positive, triggers +1 released to -1 fully pulled, buttons 0 or 1.
struct GamepadState {
  std::vector<float> axes;
  std::vector<int32_t> buttons;

  /// Sticks centred, triggers released, no button pressed.
  static GamepadState atRest();

  bool operator==(const GamepadState & other) const = default;
};

/// The raw value the Linux joystick driver would report so that the node, after inverting the
/// sign and applying its dead band `deadzone`, reads `value` again.
int16_t rawAxisValue(float value, double deadzone);

/// The value the node's reader makes of a raw axis value with no dead band (the mapping view's
/// reading of a controller).
float joyAxisValue(int16_t raw);

/// The joystick events that take a device from `from` to `to`: every axis and button that
/// differs, axes first, so that a button change goes out with the new stick and trigger
/// positions already read.
std::vector<js_event> changeEvents(
    const GamepadState & from, const GamepadState & to, double deadzone, uint32_t time = 0);

/// The burst of initial-state events (flag JS_EVENT_INIT) a driver sends to a new reader.
std::vector<js_event> initialStateEvents(
    const GamepadState & state, double deadzone, uint32_t time = 0);

}  // namespace tavrin_tools
