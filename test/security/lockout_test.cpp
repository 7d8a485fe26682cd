// A secured node talks only to peers of its keystore whose permissions grant what they do:
// no other peer moves the arm through "/joy" or hears the node's motion commands.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "keystore_rig.hpp"
#include "robot_peer.hpp"
#include "teleop_process.hpp"

namespace tavrin_test {
namespace {

using namespace std::chrono_literals;

// Each peer pushes the stick along an axis of its own, so the arm's view tells who moved it.
constexpr int kOperatorAxis = 0;
constexpr int kForeignAxis = 1;
constexpr int kUngrantedAxis = 3;
const std::vector<float> kUnsecuredSample{0, 0, 1, 0, 0.5F, 1};
const std::string kOperatorMotion =
    "motion    linear x +0.50 y +0.00 z +0.00  angular x +0.00 y +0.00 z +0.00";
const std::string kForeignMotion = "linear x +0.00 y +0.50";
const std::string kUngrantedMotion = "angular x +0.50";
const std::string kUnsecuredMotion = "angular x +0.00 y +0.50";

/// A peer in `enclave` that publishes a stick sample with `axis` at 0.5 on "/joy" every 50 ms
/// and prints "motion received" for each of the node's motion commands that reaches it.
std::vector<std::string> joyPeer(int axis, const std::string & enclave) {
  return {TAVRIN_JOY_PEER, std::to_string(axis), "--ros-args", "--enclave", enclave};
}

TEST(SecuredPeers, OnlyAPeerOfTheKeystoreWithAGrantForJoyMovesTheArm) {
  Keystore keystore;
  Keystore other_keystore;  // a CA of its own
  TeleopProcess node(
      {"-p", "joy_dev:=/joy", "--enclave", "/tavrin/teleop_node"}, keystore.environment());
  ChildProcess robot(
      {TAVRIN_DEMO_ROBOT, "--plain", "--ros-args", "--enclave", "/tavrin/demo_robot"},
      keystore.environment());
  ASSERT_TRUE(node.waitForStartup(60s)) << node.output();
  ASSERT_TRUE(robot.waitForOutput("robot serves", 60s)) << robot.output();

  RobotPeer unsecured;  // this test process runs without security
  ChildProcess foreign(
      joyPeer(kForeignAxis, "/tavrin/virtual_controller"), other_keystore.environment());
  ChildProcess ungranted(joyPeer(kUngrantedAxis, "/tavrin/demo_robot"), keystore.environment());
  ChildProcess operator_peer(
      joyPeer(kOperatorAxis, "/tavrin/virtual_controller"), keystore.environment());
  // Secured discovery signs and encrypts every handshake: slow on a loaded machine.
  ASSERT_TRUE(robot.waitForOutput(kOperatorMotion, 120s)) << robot.output() << node.output();
  ASSERT_TRUE(operator_peer.waitForOutput("motion received", 60s)) << operator_peer.output();
  ASSERT_TRUE(foreign.waitForOutput("publishing", 60s)) << foreign.output();

  // The operator's peer found the node; the others have had as long, and now get more.
  const auto until = std::chrono::steady_clock::now() + 3s;
  while (std::chrono::steady_clock::now() < until) {
    unsecured.publishJoy(kUnsecuredSample, std::vector<int32_t>(8, 0));
    std::this_thread::sleep_for(50ms);
  }

  EXPECT_EQ(robot.output().find(kForeignMotion), std::string::npos) << robot.output();
  EXPECT_EQ(robot.output().find(kUngrantedMotion), std::string::npos) << robot.output();
  EXPECT_EQ(robot.output().find(kUnsecuredMotion), std::string::npos) << robot.output();
  EXPECT_TRUE(unsecured.twists().empty());
  EXPECT_EQ(foreign.countOutput("motion received"), 0U) << foreign.output();
  // Permissions are checked where the publisher is made: without a grant there is no "/joy"
  // writer to match.
  const auto ungranted_status = ungranted.waitForExit(5s);
  EXPECT_TRUE(
      ungranted_status && WIFEXITED(*ungranted_status) && WEXITSTATUS(*ungranted_status) != 0)
      << ungranted.output();
  EXPECT_NE(ungranted.output().find("'rt/joy': Not Allowed By Security"), std::string::npos)
      << ungranted.output();
  EXPECT_TRUE(node.interruptAndExitCleanly());
}

}  // namespace
}  // namespace tavrin_test
