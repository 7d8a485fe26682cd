// A scripted operator with a virtual gamepad: starts the teleop node, plays a short session
// through every control (sticks, triggers with and without reverse, space switch, control I/O,
// grab, emergency stop) and stops the node again. The demo robot must be running.
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "common/command_line.hpp"
#include "common/controller.hpp"
#include "rclcpp/rclcpp.hpp"
#include "rclcpp_action/rclcpp_action.hpp"
#include "std_srvs/srv/set_bool.hpp"
#include "tavrin_protocol/action/arm_task_decision.hpp"

namespace {

using namespace std::chrono_literals;
using namespace tavrin_tools;
using std::chrono::milliseconds;

constexpr auto kStartupTimeout = 30s;
constexpr auto kTick = 10ms;
constexpr auto kTapHold = 300ms;

/// One change of the gamepad: an axis to a value, or a button pressed or released.
struct Change {
  bool is_axis;
  uint8_t number;
  float value;
};

Change axis(PadAxis number, float value) { return {true, number, value}; }
Change press(uint8_t button) { return {false, button, 1.0f}; }
Change release(uint8_t button) { return {false, button, 0.0f}; }

/// What the operator does at a moment of the session, and what the arm should get from it.
struct Step {
  milliseconds at;
  const char * does;  ///< empty for the release that ends a tap
  const char * arm_gets;
  std::vector<Change> changes;
};

/// A tap: the press now, the release a moment later.
std::vector<Step> tap(milliseconds at, uint8_t button, const char * does, const char * arm_gets) {
  return {{at, does, arm_gets, {press(button)}}, {at + kTapHold, "", "", {release(button)}}};
}

// Default roles of the node's joy_btns: 0 trigger reverse, 1 grab, 2 I/O off, 3 I/O on,
// 4 emergency stop, 6 joint space, 7 cartesian space; axes 0-5 drive linear x, y, z and
// angular x, y, z, with the triggers on 2 and 5.
std::vector<Step> session() {
  std::vector<Step> steps{
      {0ms, "left stick halfway left", "linear x +0.50", {axis(kLeftStickX, 0.5f)}},
      {1000ms, "left stick fully left", "linear x +1.00", {axis(kLeftStickX, 1.0f)}},
      {2000ms,
       "left stick back, right stick fully up",
       "angular y +1.00",
       {axis(kLeftStickX, 0.0f), axis(kRightStickY, 1.0f)}},
      {3000ms, "right stick back to the centre", "no motion", {axis(kRightStickY, 0.0f)}},
      {3500ms, "left trigger pulled halfway", "linear z +0.50", {axis(kLeftTrigger, 0.0f)}},
      {4500ms, "left trigger pulled fully", "linear z +1.00", {axis(kLeftTrigger, -1.0f)}},
      {5500ms, "reverse button (0) held as well", "linear z -1.00", {press(0)}},
      {6500ms,
       "left trigger and reverse button released",
       "no motion",
       {axis(kLeftTrigger, kTriggerReleased), release(0)}},
      {7000ms,
       "reverse button (0) held, right trigger pulled fully",
       "angular z -1.00",
       {press(0), axis(kRightTrigger, -1.0f)}},
      {8000ms,
       "right trigger and reverse button released",
       "no motion",
       {axis(kRightTrigger, kTriggerReleased), release(0)}},
  };
  const std::vector<std::vector<Step>> taps{
      tap(8500ms, 6, "joint space button (6) pressed", "space joint"),
      tap(9300ms, 7, "cartesian space button (7) pressed", "space cartesian"),
      tap(10100ms, 3, "control I/O on button (3) pressed", "I/O 100 on"),
      tap(10900ms, 2, "control I/O off button (2) pressed", "I/O 100 off"),
      tap(11700ms, 1, "grab button (1) pressed", "trash grab goal, its stages, success"),
      tap(13500ms, 4, "emergency stop button (4) pressed", "emergency stop request"),
  };
  for (const auto & pair : taps) {
    steps.insert(steps.end(), pair.begin(), pair.end());
  }
  return steps;
}

constexpr milliseconds kSessionLength = 15000ms;

GamepadState apply(GamepadState state, const std::vector<Change> & changes) {
  for (const auto & change : changes) {
    if (change.is_axis) {
      state.axes[change.number] = change.value;
    } else {
      state.buttons[change.number] = change.value != 0.0f ? 1 : 0;
    }
  }
  return state;
}

void say(const std::string & text) { std::cout << "controller " << text << std::endl; }

std::string seconds(milliseconds at) {
  char text[16];
  std::snprintf(text, sizeof(text), "%6.2f s", static_cast<double>(at.count()) / 1000.0);
  return text;
}

ControllerOptions parseOptions(const CommandLine & command_line) {
  ControllerOptions options;
  options.node_command = command_line.program;
  const auto & arguments = command_line.options;
  for (size_t i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == "--help") {
      throw std::invalid_argument(
          "a scripted operator session of about 15 s; the demo robot must run");
    }
    if (!parseControllerOption(arguments, i, options)) {
      throw std::invalid_argument("unknown argument " + arguments[i]);
    }
  }
  return options;
}

/// Waits for the demo robot's emergency-stop service and arm task server.
bool waitForRobot(const rclcpp::Node::SharedPtr & node) {
  auto estop = node->create_client<std_srvs::srv::SetBool>("/robot/estop_service");
  auto arm_task = rclcpp_action::create_client<tavrin_protocol::action::ArmTaskDecision>(
      node, "/tavrinpro_action/arm_task");
  return estop->wait_for_service(kStartupTimeout) &&
         arm_task->wait_for_action_server(kStartupTimeout);
}

/// Plays the session; false when it was cut short (shutdown, or the node ended).
bool play(JoystickOutput & output, DrivenNode & driven) {
  GamepadState state = GamepadState::atRest();
  const auto start = std::chrono::steady_clock::now();
  const auto steps = session();
  size_t next = 0;
  while (std::chrono::steady_clock::now() - start < kSessionLength) {
    const auto now =
        std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
    for (; next < steps.size() && steps[next].at <= now; ++next) {
      const Step & step = steps[next];
      if (*step.does != '\0') {
        say(seconds(step.at) + "  " + step.does + "  -> arm gets " + step.arm_gets);
      }
      state = apply(state, step.changes);
      output.send(state);
    }
    if (!rclcpp::ok() || !driven.running()) {
      return false;
    }
    output.idle(state);
    std::this_thread::sleep_for(kTick);
  }
  output.send(GamepadState::atRest());
  return true;
}

int run(
    const ControllerOptions & options, std::unique_ptr<DeviceOutput> device,
    const std::string & why_not) {
  auto node = std::make_shared<rclcpp::Node>("virtual_controller");
  std::unique_ptr<JoystickOutput> output;
  if (device) {
    output = std::move(device);
  } else {
    output = std::make_unique<TopicOutput>(node, why_not);
  }
  say("input: " + output->description());
  BackgroundSpinner spinner(node);
  DrivenNode driven(node, options, *output);
  if (!driven.waitUntilDriving(*output, GamepadState::atRest(), kStartupTimeout)) {
    say("the node did not start sending motion commands");
    driven.stop();
    return 1;
  }
  if (!waitForRobot(node)) {
    say("no demo robot: /robot/estop_service or /tavrinpro_action/arm_task is missing");
    driven.stop();
    return 1;
  }
  say("node and robot are up; the session takes " + std::to_string(kSessionLength.count() / 1000) +
      " s");
  const bool completed = play(*output, driven);
  if (completed) {
    std::this_thread::sleep_for(500ms);  // the last commands reach the arm
  }
  const auto status = driven.stop();
  if (status) {
    say("node ended: " + describeExit(*status));
  }
  if (!completed) {
    say(rclcpp::ok() ? "session cut short: the node ended" : "session interrupted");
    return 1;
  }
  say("session complete");
  const bool node_ok = options.node_command.empty() || (status && *status == 0);
  return node_ok ? 0 : 1;
}

}  // namespace

int main(int argc, char ** argv) {
  const auto command_line = splitCommandLine(argc, argv);
  ControllerOptions options;
  std::unique_ptr<DeviceOutput> device;
  std::string why_not;
  try {
    options = parseOptions(command_line);
    // Before rclcpp starts any thread: the private mount namespace is per thread until then.
    device = openDeviceOutput(options, why_not);
  } catch (const std::exception & error) {
    std::cerr << "tavrin_virtual_controller: " << error.what()
              << "\n\nusage: tavrin_virtual_controller [options] [-- NODE [ARGS...]]\n"
              << kControllerUsage;
    return 2;
  }
  int status = 1;
  try {
    rclcpp::init(static_cast<int>(command_line.ros_argv.size()), command_line.ros_argv.data());
    status = run(options, std::move(device), why_not);
  } catch (const std::exception & error) {
    say(std::string("failed: ") + error.what());
  }
  rclcpp::shutdown();
  return status;
}
