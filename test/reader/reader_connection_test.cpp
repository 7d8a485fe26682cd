// How the node's joystick reader finds, loses and finds again its controller, and how it stops.
#include <gtest/gtest.h>

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

const std::string kOpened = "joyOpen: Unknown, ret = ";
const std::string kUnknownType = "Unknown event type";

bool movesForward(const Twist & twist) { return twist.linear.x == -1.0; }

TEST(ReaderConnection, MissingDevicesAreRetriedOnceASecondUntilPluggedStableNamesAsJsDevices) {
  for (const std::string path :
       {"/dev/input/js0", "/dev/input/by-id/usb-Tavrin_Pad-joystick",
        "/dev/input/by-path/pci-0000:00:14.0-usb-0:2:1.0-joystick"}) {
    JoystickStandIn device;
    RobotPeer peer;
    DeviceNode node(device, {}, path);
    const std::string open_failed = "Joy " + path + " open failed";
    ASSERT_TRUE(node.waitForOutput(open_failed)) << node.output();
    const auto first_failure = Clock::now();
    ASSERT_TRUE(node.waitForOutput(open_failed, 10s, 3)) << path;
    EXPECT_GE(Clock::now() - first_failure, 1500ms) << "two pauses of a second, " << path;
    device.plugTerminal();
    ASSERT_TRUE(node.waitForOutput(kOpened)) << path;
    ASSERT_TRUE(waitForNode(peer));
    const size_t failures = node.countOutput(open_failed);
    device.send({joyEvent(JS_EVENT_AXIS, 0, 32767)});
    EXPECT_TRUE(waitForTwist(peer, 0, movesForward)) << path;
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(node.countOutput(open_failed), failures) << "no open attempts while connected";
    EXPECT_TRUE(std::regex_search(node.output(), std::regex("joyOpen: Unknown, ret = [0-9]+")));
    // A controller lost while the stick is pushed leaves a stop as the arm's last command.
    device.unplug();
    EXPECT_TRUE(waitUntil([&] { return isStill(peer.twists().back()); })) << path;
    EXPECT_TRUE(node.interruptAndExitCleanly()) << path;
  }
}

TEST(ReaderConnection, TornRecordsAreSkippedAndEndOfFileEndsTheConnection) {
  JoystickStandIn device;
  RobotPeer peer;
  device.plugFifo();
  DeviceNode node(device);
  ASSERT_TRUE(node.waitForOutput(kOpened));
  ASSERT_TRUE(waitForNode(peer));
  device.openFifoWriter();
  device.send({joyEvent(0x03, 0, 0, 7)});
  ASSERT_TRUE(node.waitForOutput(kUnknownType));

  // Half a record must not replay the rest of the previous one.
  const js_event torn = joyEvent(JS_EVENT_AXIS, 0, 32767, 8);
  device.sendBytes(&torn, 4);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(node.countOutput(kUnknownType), 1u);
  const size_t from = peer.twists().size();
  device.send({torn});
  EXPECT_TRUE(waitForTwist(peer, from, movesForward)) << "whole records after a torn one";

  device.closeWriter();
  ASSERT_TRUE(node.waitForOutput(kOpened, 10s, 2)) << "end of file reopens the device at once";
  const size_t reconnected = peer.twists().size();
  ASSERT_TRUE(peer.waitForTwists(reconnected + 20));
  const auto twists = peer.twists();
  for (size_t i = reconnected; i < twists.size(); ++i) {
    EXPECT_TRUE(isStill(twists[i]));
  }
  EXPECT_EQ(node.countOutput(kUnknownType), 1u) << "a record replayed after end of file";
  EXPECT_EQ(node.countOutput(kOpened), 2u);
  EXPECT_TRUE(node.interruptAndExitCleanly());
}

TEST(ReaderConnection, DeviceThatEndsAtOnceIsReopenedOnlyOnceASecond) {
  JoystickStandIn device;
  device.plugFile("/dev/null");
  DeviceNode node(device);
  ASSERT_TRUE(node.waitForOutput(kOpened));
  std::this_thread::sleep_for(2500ms);
  EXPECT_LE(node.countOutput(kOpened), 4u) << "reopening in a busy loop";
  EXPECT_TRUE(node.interruptAndExitCleanly());
}

}  // namespace
}  // namespace tavrin_test
