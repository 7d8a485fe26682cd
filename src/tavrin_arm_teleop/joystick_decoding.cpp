// Decoding of js_event records: button and axis events update the sample, in place.
#include "tavrin_arm_teleop/joystick_decoding.hpp"

#include <cstddef>

#include "tavrin_arm_teleop/teleop_node_impl.hpp"

namespace tavrin_arm_teleop {

namespace {

constexpr double kAxisMax = 32767.0;

void growAxes(sensor_msgs::msg::Joy & sample, size_t size, const std::vector<int64_t> & joy_axis) {
  auto & axes = sample.axes;
  const size_t old_size = axes.size();
  if (size <= old_size) {
    return;
  }
  axes.resize(size, 0.0f);
  // Triggers rest fully released; a new trigger entry at 0.0 would read as half pulled.
  for (const size_t component : {2u, 5u}) {
    const int64_t axis = joy_axis[component];
    if (axis >= static_cast<int64_t>(old_size) && axis < static_cast<int64_t>(size)) {
      axes[axis] = static_cast<float>(kTriggerRest);
    }
  }
}

}  // namespace

AxisScaling::AxisScaling(double deadzone)
    : dead_band_(deadzone * kAxisMax), scale_((-1.0 / (1.0 - deadzone)) / kAxisMax) {}

float AxisScaling::operator()(int16_t raw) const {
  double value = raw;
  if (value > dead_band_) {
    value -= dead_band_;
  } else if (value < -dead_band_) {
    value += dead_band_;
  } else {
    value = 0.0;
  }
  return static_cast<float>(value * scale_);
}

HandOver applyJoystickEvent(
    const js_event & event, const AxisScaling & scaling, const std::vector<int64_t> & joy_axis,
    sensor_msgs::msg::Joy & sample) {
  switch (event.type) {
    case JS_EVENT_BUTTON:
    case JS_EVENT_BUTTON | JS_EVENT_INIT:
      if (event.number >= sample.buttons.size()) {
        sample.buttons.resize(event.number + 1, 0);
      }
      sample.buttons[event.number] = event.value != 0 ? 1 : 0;
      // Buttons are commands: they go out at once, not at the end of a window.
      return event.type == JS_EVENT_BUTTON ? HandOver::kNow : HandOver::kInWindow;
    case JS_EVENT_AXIS:
      growAxes(sample, event.number + 1, joy_axis);
      sample.axes[event.number] = scaling(event.value);
      return HandOver::kInWindow;
    case JS_EVENT_AXIS | JS_EVENT_INIT:
      // Initial axis positions are not taken over: sticks are assumed centred until they move.
      growAxes(sample, event.number + 1, joy_axis);
      return HandOver::kInWindow;
    default:
      return HandOver::kUnknown;
  }
}

}  // namespace tavrin_arm_teleop
