// `make demo` as CI runs it: the scripted session reaches the demo robot and everything ends
// with exit status 0, through a joystick device where the machine allows it and through /joy.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "child_process.hpp"

namespace tavrin_test {
namespace {

using namespace std::chrono_literals;
using tavrin_tools::ChildProcess;

// What the arm must have received, in this order, whatever way the controller took.
const std::vector<std::string> kCommandsInOrder{
    "motion    linear x +0.50 y +0.00 z +0.00  angular x +0.00 y +0.00 z +0.00",
    "motion    linear x +1.00 y +0.00 z +0.00  angular x +0.00 y +0.00 z +0.00",
    "motion    linear x +0.00 y +0.00 z +0.00  angular x +0.00 y +1.00 z +0.00",
    "motion    linear x +0.00 y +0.00 z +0.50  angular x +0.00 y +0.00 z +0.00",
    "motion    linear x +0.00 y +0.00 z +1.00  angular x +0.00 y +0.00 z +0.00",
    "motion    linear x +0.00 y +0.00 z -1.00  angular x +0.00 y +0.00 z +0.00",
    "motion    linear x +0.00 y +0.00 z +0.00  angular x +0.00 y +0.00 z -1.00",
    "space     joint",
    "space     cartesian",
    "I/O       100 on",
    "I/O       100 off",
    "task      goal accepted: trash grab (task_type 1)",
    "task      stage 1 of 4",
    "task      stage 4 of 4",
    "task      succeeded",
};

// The emergency stop follows the grab's press; when the grab ends does not matter.
const std::vector<std::string> kEmergencyStop{
    "task      goal accepted: trash grab (task_type 1)",
    "e-stop    request data=true: arm stopped",
};

// The node's own account of the grab and the emergency stop, from its log.
const std::vector<std::string> kNodeGrabLog{
    "Arm grab button press, send trash grab goal...",
    "Goal accepted by server, waiting for result",
    "ArmTaskDecision run_stage: 4",
    "status: true, status_code: 0, errmsg: ",
    "ArmTaskDecision goal finished!",
};
const std::vector<std::string> kNodeEmergencyStopLog{
    "Arm emergency stop button press...",
    "result: true, message: arm stopped",
};

void expectInOrder(const std::string & output, const std::vector<std::string> & texts) {
  size_t from = 0;
  for (const auto & text : texts) {
    const size_t at = output.find(text, from);
    ASSERT_NE(at, std::string::npos) << "missing, or out of order: \"" << text << "\"\n" << output;
    from = at + text.size();
  }
}

const std::string kThroughJoy =
    "controller input: sensor_msgs/Joy samples on /joy; the node subscribes to them "
    "(joy_dev:=/joy) because no joystick device can be made here";

TEST(Demo, SessionsReachTheRobotThroughTheBestInputAndEndCleanly) {
  using Strings = std::vector<std::string>;
  // Root keeps everything but the right to unshare and mount; others have no such right anyway.
  Strings fewer_rights;
  if (::geteuid() == 0) {
    fewer_rights = {"setpriv", "--bounding-set=-sys_admin", "--inh-caps=-sys_admin", "--"};
  }
  // Each run: a command that runs the demo with fewer rights, what it adds to the demo's
  // environment ("NAME=" removes NAME), and what it must say.
  const std::vector<std::tuple<Strings, Strings, std::string>> runs{
      // With the right to make a private mount namespace (root, here) the node reads a joystick
      // device; elsewhere the controller says why it uses /joy.
      {{}, {}, "controller input: "},
      {fewer_rights, {}, kThroughJoy + " (unshare(CLONE_NEWNS): Operation not permitted)"},
      // `DEMO_SECURE=1 make demo` as the README runs it, on the demo's own domain: in a network
      // of its own, so that no other test's session meets it there. The shell's CYCLONEDDS_URI,
      // unless cleared, would make DDS refuse to pick loopback again.
      {{"unshare", "-rn", "sh", "-c", "ip link set lo up && exec \"$@\"", "sh"},
       {"DEMO_DOMAIN_ID=", "DEMO_SECURE=1",
        "CYCLONEDDS_URI=<General><Interfaces><NetworkInterface "
        "name=\"lo\"/></Interfaces></General>"},
       "(ROS_DOMAIN_ID=220), secured with "},
  };
  for (auto [prefix, environment, expected] : runs) {
    SCOPED_TRACE(expected);
    prefix.insert(prefix.end(), {"bash", TAVRIN_DEMO_SCRIPT, TAVRIN_BUILD_DIR});
    environment.insert(
        environment.begin(),
        {"DEMO_DOMAIN_ID=" + std::string(std::getenv("ROS_DOMAIN_ID")), "TERM=dumb"});
    ChildProcess demo(prefix, environment);
    EXPECT_TRUE(tavrin_tools::exitedCleanly(demo.waitForExit(150s))) << demo.output();
    const std::string output = demo.output();
    EXPECT_NE(output.find(expected), std::string::npos) << output;
    if (output.find(kThroughJoy) == std::string::npos) {
      EXPECT_NE(output.find("controller input: a pseudo-terminal (/dev/pts/"), std::string::npos);
      EXPECT_NE(output.find("joyOpen: Unknown, ret = "), std::string::npos) << output;
    }
    expectInOrder(output, kCommandsInOrder);
    expectInOrder(output, kEmergencyStop);
    expectInOrder(output, kNodeGrabLog);
    expectInOrder(output, kNodeEmergencyStopLog);
    EXPECT_NE(output.find("controller node ended: exit status 0"), std::string::npos) << output;
    EXPECT_NE(output.find("demo: done, everything shut down cleanly"), std::string::npos) << output;
  }
}

}  // namespace
}  // namespace tavrin_test
