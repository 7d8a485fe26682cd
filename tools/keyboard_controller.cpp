// A gamepad played on the keyboard, for machines without a controller. Sticks and triggers
// move in steps and stay where they are put; digits tap buttons, shifted digits hold them.
//
//   tavrin_keyboard_controller                      publish sensor_msgs/Joy on /joy
//   tavrin_keyboard_controller -- NODE [ARGS...]    start the node and drive it through a joystick
//                                                   device where possible, else /joy
#include <algorithm>
#include <chrono>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/command_line.hpp"
#include "common/controller.hpp"
#include "common/terminal.hpp"
#include "rclcpp/rclcpp.hpp"

namespace {

using namespace std::chrono_literals;
using namespace tavrin_tools;
using Clock = std::chrono::steady_clock;

constexpr float kStickStep = 0.5f;
constexpr float kTriggerStep = 1.0f;
constexpr auto kTapHold = 250ms;
constexpr int kPollMs = 20;
constexpr char kEscape = '\x1b';
constexpr char kCtrlC = '\x03';
constexpr char kCtrlD = '\x04';

/// A key that moves an axis by a step, within the axis's range.
struct AxisKey {
  PadAxis axis;
  float step;
};

// Up and left are positive, as sensor_msgs/Joy has them; a trigger pulled goes towards -1.
const std::map<char, AxisKey> kAxisKeys{
    {'w', {kLeftStickY, kStickStep}},      {'s', {kLeftStickY, -kStickStep}},
    {'a', {kLeftStickX, kStickStep}},      {'d', {kLeftStickX, -kStickStep}},
    {'i', {kRightStickY, kStickStep}},     {'k', {kRightStickY, -kStickStep}},
    {'j', {kRightStickX, kStickStep}},     {'l', {kRightStickX, -kStickStep}},
    {'e', {kLeftTrigger, -kTriggerStep}},  {'q', {kLeftTrigger, kTriggerStep}},
    {'o', {kRightTrigger, -kTriggerStep}}, {'u', {kRightTrigger, kTriggerStep}},
};

// Shifted digits on a US keyboard: the key that holds button N.
constexpr char kHoldKeys[] = ")!@#$%^&*(";

const std::vector<std::string> kHelp{
    "  left stick   w a s d         right stick  i j k l        (steps of 0.5, they stay put)",
    "  left trigger e pull, q let go  right trigger o pull, u let go",
    "  buttons      0-9 tap          shift+0-9 (!@#...) hold / let go",
    "  space        everything back to rest     Esc or Ctrl-C  quit",
};

/// The keyboard's gamepad: what the keys have done to it so far.
class KeyboardPad {
public:
  /// Applies one key; false when the key means quit.
  bool press(char key, Clock::time_point now) {
    if (key == kEscape || key == kCtrlC || key == kCtrlD) {
      return false;
    }
    if (const auto found = kAxisKeys.find(key); found != kAxisKeys.end()) {
      float & value = state_.axes[found->second.axis];
      value = std::clamp(value + found->second.step, -1.0f, 1.0f);
    } else if (key >= '0' && key <= '9') {
      const int button = key - '0';
      state_.buttons[static_cast<size_t>(button)] = 1;
      tap_ends_[button] = now + kTapHold;
    } else if (const char * hold = std::strchr(kHoldKeys, key); hold != nullptr && key != '\0') {
      auto & button = state_.buttons[static_cast<size_t>(hold - kHoldKeys)];
      button = button != 0 ? 0 : 1;
      held_[static_cast<int>(hold - kHoldKeys)] = button != 0;
    } else if (key == ' ') {
      state_ = GamepadState::atRest();
      tap_ends_.clear();
      held_.clear();
    }
    return true;
  }

  /// Releases the tapped buttons whose time is up.
  void releaseTaps(Clock::time_point now) {
    for (auto tap = tap_ends_.begin(); tap != tap_ends_.end();) {
      if (tap->second <= now) {
        if (!held_[tap->first]) {
          state_.buttons[static_cast<size_t>(tap->first)] = 0;
        }
        tap = tap_ends_.erase(tap);
      } else {
        ++tap;
      }
    }
  }

  const GamepadState & state() const { return state_; }

private:
  GamepadState state_ = GamepadState::atRest();
  std::map<int, Clock::time_point> tap_ends_;
  std::map<int, bool> held_;
};

std::vector<std::string> view(
    const JoystickOutput & output, const GamepadState & state, const std::string & status) {
  std::string pressed;
  for (size_t button = 0; button < state.buttons.size(); ++button) {
    if (state.buttons[button] != 0) {
      pressed += " " + std::to_string(button);
    }
  }
  const auto & axes = state.axes;
  std::vector<std::string> lines{
      "  Tavrin keyboard controller -> " + output.joyDev() + "   " + status,
      "  left stick   x " + signedValue(axes[kLeftStickX]) + " y " +
          signedValue(axes[kLeftStickY]) + "     right stick  x " +
          signedValue(axes[kRightStickX]) + " y " + signedValue(axes[kRightStickY]),
      "  triggers     left " + signedValue(axes[kLeftTrigger]) + "  right " +
          signedValue(axes[kRightTrigger]) + "   (+1.00 released, -1.00 fully pulled)",
      "  buttons      pressed:" + (pressed.empty() ? std::string(" none") : pressed),
  };
  lines.insert(lines.end(), kHelp.begin(), kHelp.end());
  return lines;
}

int play(JoystickOutput & output, DrivenNode & driven) {
  RawKeyboard keyboard;
  LiveBlock block;
  KeyboardPad pad;
  GamepadState shown;
  std::string status = "ready";
  output.send(pad.state());
  block.draw(view(output, pad.state(), status));
  while (rclcpp::ok()) {
    const std::string keys = keyboard.read(kPollMs);
    const auto now = Clock::now();
    for (size_t i = 0; i < keys.size(); ++i) {
      // An escape sequence (arrow keys and the like) is not a lone Esc: skip it whole.
      if (keys[i] == kEscape && i + 1 < keys.size()) {
        break;
      }
      if (!pad.press(keys[i], now)) {
        output.send(GamepadState::atRest());
        return 0;
      }
    }
    pad.releaseTaps(now);
    if (!driven.running()) {
      status = "the node has ended";
    }
    if (pad.state() != shown) {
      output.send(pad.state());
      shown = pad.state();
      block.draw(view(output, shown, status));
    } else {
      output.idle(pad.state());
    }
  }
  return 0;
}

int run(
    const ControllerOptions & options, std::unique_ptr<DeviceOutput> device,
    const std::string & why_not) {
  auto node = std::make_shared<rclcpp::Node>("keyboard_controller");
  std::unique_ptr<JoystickOutput> output;
  if (device) {
    output = std::move(device);
  } else {
    output =
        std::make_unique<TopicOutput>(node, options.node_command.empty() ? std::string() : why_not);
  }
  std::cout << "input: " << output->description() << std::endl;
  if (!options.node_command.empty()) {
    std::cout << "node output: " << options.node_log << std::endl;
  }
  BackgroundSpinner spinner(node);
  DrivenNode driven(node, options, *output);
  const int status = play(*output, driven);
  std::this_thread::sleep_for(100ms);  // the rest state reaches the node before it stops
  if (const auto ended = driven.stop()) {
    std::cout << "node ended: " << describeExit(*ended) << std::endl;
  }
  return status;
}

}  // namespace

int main(int argc, char ** argv) {
  const auto command_line = splitCommandLine(argc, argv);
  ControllerOptions options;
  options.node_command = command_line.program;
  std::unique_ptr<DeviceOutput> device;
  std::string why_not;
  try {
    const auto & arguments = command_line.options;
    // Without a node to start, only /joy can reach one.
    options.output = options.node_command.empty() ? "topic" : "auto";
    for (size_t i = 1; i < arguments.size(); ++i) {
      if (arguments[i] == "--help") {
        throw std::invalid_argument("a gamepad on the keyboard; without a node, /joy only");
      }
      if (!parseControllerOption(arguments, i, options)) {
        throw std::invalid_argument("unknown argument " + arguments[i]);
      }
    }
    // The node's own lines would tear the live view apart.
    if (!options.node_command.empty() && options.node_log.empty()) {
      options.node_log = "tavrin_arm_teleop_node.log";
    }
    device = openDeviceOutput(options, why_not);
  } catch (const std::exception & error) {
    std::cerr << "tavrin_keyboard_controller: " << error.what()
              << "\n\nusage: tavrin_keyboard_controller [options] [-- NODE [ARGS...]]\n"
              << kControllerUsage;
    return 2;
  }
  int status = 1;
  try {
    rclcpp::init(static_cast<int>(command_line.ros_argv.size()), command_line.ros_argv.data());
    status = run(options, std::move(device), why_not);
  } catch (const std::exception & error) {
    std::cerr << "tavrin_keyboard_controller: " << error.what() << std::endl;
  }
  rclcpp::shutdown();
  return status;
}
