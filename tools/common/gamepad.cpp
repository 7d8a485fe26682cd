#include "gamepad.hpp"

#include <algorithm>
#include <cmath>

namespace tavrin_tools {

namespace {
constexpr double kAxisMax = 32767.0;
}

GamepadState GamepadState::atRest() {
  GamepadState state{
      std::vector<float>(kPadAxisCount, 0.0f), std::vector<int32_t>(kPadButtonCount, 0)};
  state.axes[kLeftTrigger] = kTriggerReleased;
  state.axes[kRightTrigger] = kTriggerReleased;
  return state;
}

int16_t rawAxisValue(float value, double deadzone) {
  if (value == 0.0f) {
    return 0;
  }
  const double magnitude = deadzone * kAxisMax + std::fabs(value) * (1.0 - deadzone) * kAxisMax;
  // The driver reports up and left as negative; the node turns them positive.
  const double raw =
      std::clamp(std::round(value > 0.0f ? -magnitude : magnitude), -kAxisMax, kAxisMax);
  return static_cast<int16_t>(raw);
}

float joyAxisValue(int16_t raw) { return static_cast<float>(-raw / kAxisMax); }

namespace {

js_event event(uint8_t type, size_t number, int16_t value, uint32_t time) {
  return js_event{time, value, type, static_cast<uint8_t>(number)};
}

}  // namespace

std::vector<js_event> changeEvents(
    const GamepadState & from, const GamepadState & to, double deadzone, uint32_t time) {
  std::vector<js_event> events;
  for (size_t axis = 0; axis < to.axes.size(); ++axis) {
    if (axis >= from.axes.size() || from.axes[axis] != to.axes[axis]) {
      events.push_back(event(JS_EVENT_AXIS, axis, rawAxisValue(to.axes[axis], deadzone), time));
    }
  }
  for (size_t button = 0; button < to.buttons.size(); ++button) {
    if (button >= from.buttons.size() || from.buttons[button] != to.buttons[button]) {
      events.push_back(event(JS_EVENT_BUTTON, button, to.buttons[button] != 0, time));
    }
  }
  return events;
}

std::vector<js_event> initialStateEvents(
    const GamepadState & state, double deadzone, uint32_t time) {
  std::vector<js_event> events;
  for (size_t button = 0; button < state.buttons.size(); ++button) {
    events.push_back(
        event(JS_EVENT_BUTTON | JS_EVENT_INIT, button, state.buttons[button] != 0, time));
  }
  for (size_t axis = 0; axis < state.axes.size(); ++axis) {
    events.push_back(
        event(JS_EVENT_AXIS | JS_EVENT_INIT, axis, rawAxisValue(state.axes[axis], deadzone), time));
  }
  return events;
}

}  // namespace tavrin_tools
