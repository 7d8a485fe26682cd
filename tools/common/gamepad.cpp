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

}  // namespace tavrin_tools
