// The command dispatcher: every joystick sample, from the device reader's thread or from "/joy"
// on the executor, becomes a motion command and, on button edges, the commands of the buttons.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "logging/global_logger.hpp"
#include "tavrin_arm_teleop/teleop_node_impl.hpp"

namespace tavrin_arm_teleop {

namespace {

constexpr int32_t kCtrlIoChannel = 100;
constexpr int kCtrlIoNone = -1;
constexpr int kCtrlIoOff = 0;
constexpr int kCtrlIoOn = 1;

// Process-wide dispatcher state: one joystick drives one arm per process.
std::vector<int64_t> joy_buttons;
std::vector<double> joy_axes(6, 0.0);
int ctrl_io_state = kCtrlIoNone;
bool ctrl_io_on_held = false;
bool ctrl_io_off_held = false;

enum class Edge { kNone, kPress, kRelease };

bool isPressed(int64_t button) {
  return button >= 0 && static_cast<size_t>(button) < joy_buttons.size() &&
         joy_buttons[button] != 0;
}

// Updates the last seen state of a button and tells which edge, if any, this sample shows.
Edge buttonEdge(int64_t button, bool & was_pressed) {
  const bool pressed = isPressed(button);
  if (pressed == was_pressed) {
    return Edge::kNone;
  }
  was_pressed = pressed;
  return pressed ? Edge::kPress : Edge::kRelease;
}

// A missing or non-finite axis must never turn into motion.
std::optional<double> readAxis(const sensor_msgs::msg::Joy & sample, int64_t axis) {
  if (axis < 0 || static_cast<size_t>(axis) >= sample.axes.size()) {
    return std::nullopt;
  }
  const double value = sample.axes[axis];
  return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

bool isTriggerComponent(size_t component) { return component == 2 || component == 5; }

// Full travel is the most any command may ask of the arm, whatever a faulty peer sends or a dead
// band near the whole travel makes of the lowest reading. The trigger transform and the stick
// scaling both turn a resting 0.0 into -0.0, which an operator echoing the topic reads as a
// command.
double motionComponent(double value) {
  const double clamped = std::clamp(value, -1.0, 1.0);
  return clamped == 0.0 ? 0.0 : clamped;
}

}  // namespace

void TeleopNode::Impl::joyTeleopProc(std::shared_ptr<sensor_msgs::msg::Joy> msg) {
  // Held for the whole sample, so that the stop command is the last one the arm gets.
  std::lock_guard<std::mutex> lock(motion_mutex_);
  if (!motion_closed_) {
    dispatchSample(*msg);
  }
}

void TeleopNode::Impl::dispatchSample(const sensor_msgs::msg::Joy & sample) {
  try {
    snapshotSample(sample);
    switch (buttonEdge(btn_arm_grab_, grab_btn_pressed_)) {
      case Edge::kPress:
        LOG_INFO("Arm grab button press, send trash grab goal...");
        joySendArmGrabAction();
        break;
      case Edge::kRelease:
        LOG_INFO("Arm grab button release...");
        break;
      case Edge::kNone:
        break;
    }
    applyTriggerTransform();
    switch (buttonEdge(btn_arm_estop_, estop_btn_pressed_)) {
      case Edge::kPress:
        LOG_INFO("Arm emergency stop button press...");
        joyRequestArmEstop(true);
        break;
      case Edge::kRelease:
        LOG_INFO("Arm emergency stop button release...");
        break;
      case Edge::kNone:
        break;
    }
    const Edge joint = buttonEdge(btn_joint_space_, joint_space_btn_pressed_);
    if (joint == Edge::kPress) {
      publishSpace(true);
      LOG_INFO("joint_space button press...");
    } else if (joint == Edge::kRelease) {
      LOG_INFO("joint_space button release...");
    }
    // While the joint-space button is held, the cartesian-space button is not looked at.
    if (!joint_space_btn_pressed_) {
      const Edge cartesian = buttonEdge(btn_cartesian_space_, cartesian_space_btn_pressed_);
      if (cartesian == Edge::kPress) {
        publishSpace(false);
        LOG_INFO("cartesian_space button press...");
      } else if (cartesian == Edge::kRelease) {
        LOG_INFO("cartesian_space button release...");
      }
    }
    publishMotion();
    evaluateControlIo(isPressed(btn_ctrl_io_on_), isPressed(btn_ctrl_io_off_));
  } catch (const std::exception & error) {
    // One failed publish costs one sample, never the node.
    LOG_INFO("joyTeleopProc: sample dropped: {}", error.what());
  }
}

void TeleopNode::Impl::snapshotSample(const sensor_msgs::msg::Joy & sample) {
  joy_buttons.assign(sample.buttons.begin(), sample.buttons.end());
  // Every component is refreshed from this sample alone: a stale value would move the arm
  // by itself. A missing trigger reads as released, so the transform makes it 0.0.
  for (size_t component = 0; component < joy_axes.size(); ++component) {
    const double absent = isTriggerComponent(component) ? kTriggerRest : 0.0;
    joy_axes[component] = readAxis(sample, joy_axis_[component]).value_or(absent);
  }
}

void TeleopNode::Impl::applyTriggerTransform() {
  // Triggers rest at +1.0 and reach -1.0 fully pulled; the result runs from 0 to +-1.
  const double factor = isPressed(btn_trigger_reverse_) ? 0.5 : -0.5;
  joy_axes[2] = (joy_axes[2] - kTriggerRest) * factor;
  joy_axes[5] = (joy_axes[5] - kTriggerRest) * factor;
}

void TeleopNode::Impl::publishSpace(bool joint_space) {
  std_msgs::msg::Bool msg;
  msg.data = joint_space;
  space_exchange_pub_->publish(msg);
}

void TeleopNode::Impl::publishMotion() {
  geometry_msgs::msg::Twist msg;
  // Robot arms are driven with a button held: the very sample that releases it stops the arm.
  if (motionEnabled()) {
    msg.linear.x = motionComponent(joy_axes[0]);
    msg.linear.y = motionComponent(joy_axes[1]);
    msg.linear.z = motionComponent(joy_axes[2]);
    msg.angular.x = motionComponent(joy_axes[3]);
    msg.angular.y = motionComponent(joy_axes[4]);
    msg.angular.z = motionComponent(joy_axes[5]);
  }
  teleop_mov_pub_->publish(msg);
}

bool TeleopNode::Impl::motionEnabled() const {
  return enable_button_ == kNoEnableButton || isPressed(enable_button_);
}

void TeleopNode::Impl::publishZeroMotion(bool last) {
  std::lock_guard<std::mutex> lock(motion_mutex_);
  if (motion_closed_) {
    return;
  }
  motion_closed_ = last;
  try {
    teleop_mov_pub_->publish(geometry_msgs::msg::Twist());
  } catch (const std::exception & error) {
    LOG_INFO("stop command not sent: {}", error.what());
  }
}

void TeleopNode::Impl::evaluateControlIo(bool on_pressed, bool off_pressed) {
  const bool on_press_edge = on_pressed && !ctrl_io_on_held;
  const bool off_press_edge = off_pressed && !ctrl_io_off_held;
  ctrl_io_on_held = on_pressed;
  ctrl_io_off_held = off_pressed;
  if (!on_pressed && !off_pressed) {
    ctrl_io_state = kCtrlIoNone;
    return;
  }
  // Only a new press sends, so holding both buttons cannot toggle the I/O with every sample.
  // When both are pressed in the same sample the safer off command wins.
  const int wanted = off_press_edge ? kCtrlIoOff : on_press_edge ? kCtrlIoOn : ctrl_io_state;
  if (wanted == kCtrlIoNone || wanted == ctrl_io_state) {
    return;
  }
  ctrl_io_state = wanted;
  publishControlIo(wanted);
}

void TeleopNode::Impl::publishControlIo(int state) {
  std_msgs::msg::Int32MultiArray msg;
  msg.data = {kCtrlIoChannel, state};
  msg.layout.dim.emplace_back();
  msg.layout.dim[0].size = static_cast<uint32_t>(msg.data.size());
  msg.layout.dim[0].stride = static_cast<uint32_t>(msg.data.size());
  msg.layout.dim[0].label = "ctrl_io_data";
  msg.layout.data_offset = 1;
  ctrl_io_pub_->publish(msg);
}

}  // namespace tavrin_arm_teleop
