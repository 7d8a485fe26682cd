// Decoding of the Linux joystick API's js_event records into the sample that the dispatcher
// reads. Every byte of a record comes from the device, so nothing in it is trusted.
#ifndef TAVRIN_ARM_TELEOP__JOYSTICK_DECODING_HPP_
#define TAVRIN_ARM_TELEOP__JOYSTICK_DECODING_HPP_

#include <linux/joystick.h>

#include <cstdint>
#include <vector>

#include "sensor_msgs/msg/joy.hpp"

namespace tavrin_arm_teleop {

/// When the sample that an event changed should reach the dispatcher.
enum class HandOver {
  kNow,       ///< a button edge: a command, handed over at once
  kInWindow,  ///< an axis move or an initial state: handed over at the end of its window
  kUnknown,   ///< no joystick event: the sample is unchanged
};

/// Turns raw axis readings into commands in [-1, 1], with a dead band around the centre.
class AxisScaling {
public:
  /// `deadzone` is the dead band's fraction of full travel, in [0, 1).
  explicit AxisScaling(double deadzone);

  /// The command for one raw reading; positive readings give negative commands.
  float operator()(int16_t raw) const;

private:
  double dead_band_;
  double scale_;
};

/// Applies one js_event record to `sample`; `joy_axis` (the axis remap table) tells which axes
/// are triggers, which rest fully released.
HandOver applyJoystickEvent(
    const js_event & event, const AxisScaling & scaling, const std::vector<int64_t> & joy_axis,
    sensor_msgs::msg::Joy & sample);

}  // namespace tavrin_arm_teleop

#endif  // TAVRIN_ARM_TELEOP__JOYSTICK_DECODING_HPP_
