// The mapping view names the buttons an operator presses and the axes he moves, from a
// joystick device and from /joy, as event lines and as a live view at a terminal.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "child_process.hpp"
#include "common/gamepad.hpp"
#include "joystick_stand_in.hpp"
#include "rclcpp/rclcpp.hpp"
#include "sensor_msgs/msg/joy.hpp"
#include "tmux_session.hpp"

namespace tavrin_test {
namespace {

using namespace std::chrono_literals;
using tavrin_tools::GamepadState;
using tavrin_tools::joyEvent;

constexpr int16_t kFullTravel = 32767;

// A controller as the mapping view finds it: a device that hands out whole records only.
struct PluggedController : tavrin_tools::JoystickStandIn {
  PluggedController() { plugTerminal({}, tavrin_tools::TerminalMode::wholeRecords); }
};

TEST(MappingView, NamesTheButtonsAndAxesOfADevice) {
  PluggedController controller;
  ChildProcess view({TAVRIN_JOY_MAPPING, "--plain", controller.terminalPath()});
  ASSERT_TRUE(view.waitForOutput("reading unknown on " + controller.terminalPath()))
      << view.output();
  // The driver's initial state is where things rest, not something the operator did.
  auto held_at_start = GamepadState::atRest();
  held_at_start.buttons[9] = 1;
  controller.send(tavrin_tools::initialStateEvents(held_at_start, 0.0));

  const std::vector<std::pair<js_event, std::string>> events{
      {joyEvent(JS_EVENT_BUTTON, 3, 1), "button 3 pressed\n"},
      {joyEvent(JS_EVENT_BUTTON, 3, 0), "button 3 released\n"},
      {joyEvent(JS_EVENT_AXIS, tavrin_tools::kRightTrigger, kFullTravel),
       "axis 5 -> -1.00   (rests at +1.00: a trigger)\n"},
      {joyEvent(JS_EVENT_AXIS, tavrin_tools::kLeftStickY, -kFullTravel), "axis 1 -> +1.00\n"},
  };
  for (const auto & [event, line] : events) {
    controller.send({event});
    EXPECT_TRUE(view.waitForOutput(line)) << view.output();
  }
  EXPECT_EQ(view.countOutput("button 9"), 0u) << view.output();
}

TEST(MappingView, NamesTheButtonsAndAxesOfJoySamples) {
  auto node = std::make_shared<rclcpp::Node>("joy_source");
  auto joy = node->create_publisher<sensor_msgs::msg::Joy>("/joy", rclcpp::QoS(10));
  ChildProcess view({TAVRIN_JOY_MAPPING, "--plain", "/joy"});
  ASSERT_TRUE(view.waitForOutput("reading sensor_msgs/Joy on /joy")) << view.output();
  ASSERT_TRUE(waitUntil([&] { return joy->get_subscription_count() > 0; }));

  sensor_msgs::msg::Joy sample;
  sample.axes = GamepadState::atRest().axes;
  sample.buttons = GamepadState::atRest().buttons;
  joy->publish(sample);
  sample.buttons[6] = 1;
  joy->publish(sample);
  EXPECT_TRUE(view.waitForOutput("button 6 pressed\n")) << view.output();
  sample.axes[4] = -1.0f;
  joy->publish(sample);
  EXPECT_TRUE(view.waitForOutput("axis 4 -> -1.00\n")) << view.output();
}

TEST(MappingView, LiveViewAtATerminalListsWhatIsHeld) {
  PluggedController controller;
  TmuxSession terminal(std::string(TAVRIN_JOY_MAPPING) + " " + controller.terminalPath());
  ASSERT_TRUE(terminal.waitForScreen("Controller mapping: unknown on " + controller.terminalPath()))
      << terminal.screen();
  controller.send(tavrin_tools::initialStateEvents(GamepadState::atRest(), 0.0));
  controller.send({joyEvent(JS_EVENT_BUTTON, 7, 1), joyEvent(JS_EVENT_BUTTON, 2, 1)});
  EXPECT_TRUE(terminal.waitForScreen("pressed buttons  2 7")) << terminal.screen();
  controller.send({joyEvent(JS_EVENT_AXIS, tavrin_tools::kLeftStickX, -kFullTravel)});
  EXPECT_TRUE(terminal.waitForScreen("moved axes        0 +1.00")) << terminal.screen();
}

}  // namespace
}  // namespace tavrin_test
