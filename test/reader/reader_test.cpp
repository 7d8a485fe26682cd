// What the node's own joystick reader makes of the events a controller sends, and how it finds,
// loses and finds again its controller.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "joystick_rig.hpp"

namespace tavrin_test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Twist = geometry_msgs::msg::Twist;

// Without a private /dev/input the node has no device to read.
[[maybe_unused]] const auto * const kPrivateDevices =
    testing::AddGlobalTestEnvironment(new PrivateDevicesOrSkip);

const std::string kUnknownType = "Unknown event type";

constexpr uint8_t kButton = JS_EVENT_BUTTON;
constexpr uint8_t kAxis = JS_EVENT_AXIS;
constexpr uint8_t kInitial = JS_EVENT_INIT;
// Default roles: button 6 selects joint space, button 7 cartesian space; axis 0 drives
// linear.x, 1 linear.y, 2 linear.z (a trigger), 4 angular.y, 5 angular.z (a trigger).
constexpr uint8_t kJointSpaceButton = 6;
constexpr uint8_t kCartesianSpaceButton = 7;

// A controller and the node reading it, and the commands the node sends for it.
struct Controller {
  // Plugged in once the node is matched, so that nothing its first events cause is lost.
  void connect(
      const std::vector<std::string> & ros_arguments = {},
      const std::vector<js_event> & initial_events = {}) {
    node = std::make_unique<DeviceNode>(device, ros_arguments);
    ASSERT_TRUE(node->waitForOutput("Joy /dev/input/js0 open failed"));
    ASSERT_TRUE(waitForNode(peer));
    device.plugTerminal(initial_events);
    ASSERT_TRUE(node->waitForOutput(kOpened));
    ASSERT_TRUE(peer.waitForTwists(1));
  }

  // Sends the events and returns the first later motion command that satisfies `match`.
  std::optional<Twist> sendAndAwait(
      const std::vector<js_event> & events, const std::function<bool(const Twist &)> & match) {
    const size_t from = peer.twists().size();
    device.send(events);
    const auto index = waitForTwist(peer, from, match);
    return index ? std::optional(peer.twists()[*index]) : std::nullopt;
  }

  ~Controller() {
    if (node) {
      EXPECT_TRUE(node->interruptAndExitCleanly());
    }
  }

  JoystickStandIn device;
  RobotPeer peer;
  std::unique_ptr<DeviceNode> node;
};

TEST(ReaderInitialState, ArrivesWithButtonsSetSticksCentredAndTriggersAtRest) {
  for (const uint8_t axis_count : {6, 8}) {
    std::vector<js_event> burst;
    for (uint8_t button = 0; button < 8; ++button) {
      burst.push_back(joyEvent(kButton | kInitial, button, button == kJointSpaceButton));
    }
    // Initial positions are never taken over: a trigger reported half pulled still rests.
    for (uint8_t axis = 0; axis < axis_count; ++axis) {
      burst.push_back(joyEvent(kAxis | kInitial, axis, 20000));
    }
    Controller controller;
    ASSERT_NO_FATAL_FAILURE(controller.connect({}, burst));
    ASSERT_TRUE(controller.peer.waitForTwists(20));
    for (const auto & twist : controller.peer.twists()) {
      EXPECT_TRUE(isStill(twist)) << int{axis_count} << " axes";
    }
    EXPECT_EQ(controller.peer.spaces(), std::vector<bool>{true}) << int{axis_count} << " axes";
    EXPECT_EQ(controller.node->countOutput("joint_space button press..."), 1u);
  }
}

TEST(ReaderAxes, ValuesLeaveTheDeadBandWithoutAStepWithTheirSignInvertedAndNeverBeyondFullTravel) {
  struct Case {
    int16_t raw;
    double linear_x;
  };
  const std::vector<std::pair<std::string, std::vector<Case>>> tables{
      {"0.3",
       {{32767, -1.0},
        {9830, 0.0},
        {-32767, 1.0},
        {-9830, 0.0},
        {-32768, 1.0},
        {16384, -0.2857361},
        {9831, -0.0000392}}},
      {"0.0", {{32767, -1.0}, {-32768, 1.0}, {16384, -0.5000153}, {0, 0.0}, {1, -0.0000305}}},
      // Near the whole travel the lowest reading would scale to four times full travel.
      {"0.99999", {{-32768, 1.0}, {32767, -1.0}}},
  };
  for (const auto & [deadzone, cases] : tables) {
    Controller controller;
    ASSERT_NO_FATAL_FAILURE(controller.connect({"-p", "deadzone:=" + deadzone}));
    for (const auto & [raw, linear_x] : cases) {
      const auto twist = controller.sendAndAwait(
          {joyEvent(kAxis, 0, raw)},
          [&](const Twist & twist) { return std::abs(twist.linear.x - linear_x) < 1e-6; });
      EXPECT_TRUE(twist.has_value()) << "deadzone " << deadzone << ", raw " << raw;
    }
  }
}

TEST(ReaderEvents, OneControllerThroughUnknownEventsButtonsInAWindowAndGrowingAxes) {
  Controller controller;
  ASSERT_NO_FATAL_FAILURE(controller.connect());
  // Type 0x03 has both the button and the axis bit: taken for either, it would move the arm
  // or select joint space.
  const auto marker = controller.sendAndAwait(
      {joyEvent(0x03, kJointSpaceButton, 1, 1234), joyEvent(0x03, 0, 32767, 1235),
       joyEvent(kAxis, 1, 32767)},
      [](const Twist & twist) { return twist.linear.y == -1.0; });
  ASSERT_TRUE(marker);
  EXPECT_EQ(marker->linear.x, 0.0);
  const std::string warning = "joy_node: Unknown event type. Please file a ticket. ";
  // The log lines come through a pipe, and may trail the marker that came over DDS.
  for (const std::string details :
       {"time=1234, value=1, type=03h, number=6", "time=1235, value=32767, type=03h, number=0"}) {
    EXPECT_TRUE(controller.node->waitForOutput(warning + details)) << details;
  }
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(controller.peer.spaces().empty());

  // Coalesced like axes, each press would vanish with its release before the window ends.
  controller.device.send({
      joyEvent(kAxis, 0, 32767),
      joyEvent(kButton, kJointSpaceButton, 1),
      joyEvent(kButton, kJointSpaceButton, 0),
      joyEvent(kButton, kCartesianSpaceButton, 1),
      joyEvent(kButton, kCartesianSpaceButton, 0),
  });
  ASSERT_TRUE(controller.node->waitForOutput("cartesian_space button release..."));
  ASSERT_TRUE(waitUntil([&] { return controller.peer.spaces().size() >= 2; }));
  EXPECT_EQ(controller.peer.spaces(), (std::vector<bool>{true, false}));
  for (const char * line :
       {"joint_space button press...", "joint_space button release...",
        "cartesian_space button press..."}) {
    EXPECT_EQ(controller.node->countOutput(line), 1u) << line;
  }

  // A pulled trigger (axis 2) stays pulled when higher axes appear after it.
  EXPECT_TRUE(controller.sendAndAwait(
      {joyEvent(kAxis, 2, 32767)}, [](const Twist & twist) { return twist.linear.z == 1.0; }));
  const auto after_growth = controller.sendAndAwait(
      {joyEvent(kAxis, 4, 32767)}, [](const Twist & twist) { return twist.angular.y == -1.0; });
  ASSERT_TRUE(after_growth);
  EXPECT_EQ(after_growth->linear.z, 1.0);
  // Axis 7 grows the array over trigger axis 5, which must rest, not read half pulled.
  const auto over_trigger = controller.sendAndAwait(
      {joyEvent(kAxis, 7, 32767), joyEvent(kAxis, 0, -32767)},
      [](const Twist & twist) { return twist.linear.x == 1.0; });
  ASSERT_TRUE(over_trigger);
  EXPECT_EQ(over_trigger->angular.z, 0.0);
  EXPECT_EQ(over_trigger->linear.z, 1.0);
}

TEST(ReaderEvents, AxisEventsWithinTheWindowGoOutTogetherAndAnIdleControllerEveryTenMilliseconds) {
  struct Case {
    int window_ms;
    std::optional<bool> burst_together;  // unset: a reader preempted for 1 ms may split it
    // Hand-overs in a second of events 2 ms apart: at least this share of the events (a loaded
    // machine may read two at once), and between these counts.
    double share_of_events;
    size_t fewest;
    size_t most;
  };
  constexpr size_t kAny = SIZE_MAX;
  for (const auto & [window_ms, burst_together, share_of_events, fewest, most] :
       {Case{0, false, 1.0, 0, kAny}, Case{1, std::nullopt, 0.25, 0, kAny},
        Case{10, true, 0.0, 30, 200}, Case{100, true, 0.0, 3, 30}}) {
    const std::string window = "window " + std::to_string(window_ms) + " ms";
    Controller controller;
    ASSERT_NO_FATAL_FAILURE(
        controller.connect({"-p", "coalesce_interval_ms:=" + std::to_string(window_ms)}));
    std::vector<js_event> burst;
    for (int raw = 12000; raw < 32767; raw += 2500) {
      burst.push_back(joyEvent(kAxis, 0, static_cast<int16_t>(raw)));
    }
    burst.push_back(joyEvent(kAxis, 0, 32767));
    const size_t before = controller.peer.twists().size();
    const auto sent_at = std::chrono::steady_clock::now();
    ASSERT_TRUE(controller.sendAndAwait(burst, [](const Twist & twist) {
      return twist.linear.x == -1.0;
    })) << window;
    // No earlier: the window opens with the first event, after it was sent.
    EXPECT_GE(std::chrono::steady_clock::now() - sent_at, std::chrono::milliseconds(window_ms))
        << window;
    const auto twists = controller.peer.twists();
    size_t intermediate = 0;
    for (size_t i = before; i < twists.size(); ++i) {
      const double linear_x = twists[i].linear.x;
      intermediate += linear_x != 0.0 && linear_x != -1.0 ? 1 : 0;
    }
    if (burst_together) {
      EXPECT_EQ(intermediate, *burst_together ? 0 : burst.size() - 1) << window;
    }

    // A steady stream: a window keeps its end, so that hand-overs neither stop nor follow every
    // event. The marker after it tells when all of them are in.
    const size_t stream_start = controller.peer.twists().size();
    size_t sent = 0;
    for (const auto end = std::chrono::steady_clock::now() + 1s;
         std::chrono::steady_clock::now() < end; ++sent) {
      controller.device.send({joyEvent(kAxis, 1, static_cast<int16_t>(12000 + sent % 2 * 8000))});
      std::this_thread::sleep_for(2ms);
    }
    controller.device.send({joyEvent(kAxis, 1, 32767)});
    const auto marker = waitForTwist(
        controller.peer, stream_start, [](const Twist & twist) { return twist.linear.y == -1.0; });
    ASSERT_TRUE(marker) << window;
    const size_t handed_over = *marker - stream_start;
    EXPECT_GE(static_cast<double>(handed_over), share_of_events * static_cast<double>(sent))
        << window;
    EXPECT_GE(handed_over, fewest) << window;
    if (sent >= 300) {
      EXPECT_LE(handed_over, most) << window << ", " << sent << " events sent";
    }

    // Left alone, the controller is handed over every 10 ms whatever the window.
    const size_t idle_start = controller.peer.twists().size();
    std::this_thread::sleep_for(2s);
    const size_t idle = controller.peer.twists().size() - idle_start;
    EXPECT_GE(idle, 60u) << window;
    EXPECT_LE(idle, 300u) << window;
  }
}

TEST(ReaderConnection, MissingDevicesAreRetriedOnceASecondUntilPluggedStableNamesAsJsDevices) {
  for (const std::string path :
       {"/dev/input/js0", "/dev/input/by-id/usb-Tavrin_Pad-joystick",
        "/dev/input/by-path/pci-0000:00:14.0-usb-0:2:1.0-joystick"}) {
    Controller pad;
    pad.node = std::make_unique<DeviceNode>(pad.device, std::vector<std::string>{}, path);
    const std::string open_failed = "Joy " + path + " open failed";
    ASSERT_TRUE(pad.node->waitForOutput(open_failed)) << pad.node->output();
    const auto first_failure = Clock::now();
    ASSERT_TRUE(pad.node->waitForOutput(open_failed, 10s, 3)) << path;
    EXPECT_GE(Clock::now() - first_failure, 1500ms) << "two pauses of a second, " << path;
    pad.device.plugTerminal();
    ASSERT_TRUE(pad.node->waitForOutput(kOpened)) << path;
    ASSERT_TRUE(waitForNode(pad.peer));
    const size_t failures = pad.node->countOutput(open_failed);
    pad.device.send({joyEvent(kAxis, 0, 32767)});
    EXPECT_TRUE(waitForTwist(pad.peer, 0, movesForward)) << path;
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(pad.node->countOutput(open_failed), failures) << "no open attempts while connected";
    EXPECT_TRUE(
        std::regex_search(pad.node->output(), std::regex("joyOpen: Unknown, ret = [0-9]+")));
    // A controller lost while the stick is pushed leaves a stop as the arm's last command.
    pad.device.unplug();
    EXPECT_TRUE(waitUntil([&] { return isStill(pad.peer.twists().back()); })) << path;
  }
}

TEST(ReaderConnection, TornRecordsAreSkippedAndEndOfFileEndsTheConnection) {
  Controller pad;
  pad.device.plugFifo();
  pad.node = std::make_unique<DeviceNode>(pad.device);
  ASSERT_TRUE(pad.node->waitForOutput(kOpened));
  ASSERT_TRUE(waitForNode(pad.peer));
  pad.device.openFifoWriter();
  pad.device.send({joyEvent(0x03, 0, 0, 7)});
  ASSERT_TRUE(pad.node->waitForOutput(kUnknownType));

  // Half a record must not replay the rest of the previous one.
  const js_event torn = joyEvent(kAxis, 0, 32767, 8);
  pad.device.sendBytes(&torn, 4);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(pad.node->countOutput(kUnknownType), 1u);
  const size_t from = pad.peer.twists().size();
  pad.device.send({torn});
  EXPECT_TRUE(waitForTwist(pad.peer, from, movesForward)) << "whole records after a torn one";

  pad.device.closeWriter();
  ASSERT_TRUE(pad.node->waitForOutput(kOpened, 10s, 2)) << "end of file reopens the device at once";
  const size_t reconnected = pad.peer.twists().size();
  ASSERT_TRUE(pad.peer.waitForTwists(reconnected + 20));
  const auto twists = pad.peer.twists();
  for (size_t i = reconnected; i < twists.size(); ++i) {
    EXPECT_TRUE(isStill(twists[i]));
  }
  EXPECT_EQ(pad.node->countOutput(kUnknownType), 1u) << "a record replayed after end of file";
  EXPECT_EQ(pad.node->countOutput(kOpened), 2u);
}

TEST(ReaderConnection, DeviceThatEndsAtOnceIsReopenedOnlyOnceASecond) {
  Controller pad;
  pad.device.plugFile("/dev/null");
  pad.node = std::make_unique<DeviceNode>(pad.device);
  ASSERT_TRUE(pad.node->waitForOutput(kOpened));
  std::this_thread::sleep_for(2500ms);
  EXPECT_LE(pad.node->countOutput(kOpened), 4u) << "reopening in a busy loop";
}

}  // namespace
}  // namespace tavrin_test
