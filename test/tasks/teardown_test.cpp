// SIGINT, SIGTERM and unloading end the node cleanly and at once whatever its joystick reader
// and its request workers are waiting for, and the last command the arm gets is a stop.
#include <gtest/gtest.h>
#include <signal.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "joystick_rig.hpp"
#include "robot_peer.hpp"
#include "tavrin_arm_teleop/teleop_node.hpp"
#include "teleop_process.hpp"

namespace tavrin_test {
namespace {

using namespace std::chrono_literals;

// The stick held forward: a stop that sent nothing would leave the arm moving.
const std::vector<float> kStickForward{1, 0, 1, 0, 0, 1};

struct WaitingState {
  std::string name;
  PeerOptions servers;
  std::vector<int32_t> button;
  std::string reached_when;
  // Empty: the node reads "/joy"; else it reads the stand-in, which this plugs in.
  std::function<void(JoystickStandIn &)> plug = {};
};

// The worker must be stopped, not awaited: the node has to be gone long before any of the
// 2 s and 3 s request timeouts could have expired. The bound leaves room for slow sanitizers.
constexpr auto kPromptExit = 2500ms;

TEST(Teardown, EitherSignalInEveryWaitingStateEndsTheNodeCleanly) {
  const std::vector<WaitingState> states{
      {"grab waiting for server", {}, kGrab, "Wait for ArmTaskDecision server..."},
      {"grab waiting for result", armTaskServer(ArmTaskBehaviour::kRunForever), kGrab,
       "Goal accepted by server, waiting for result"},
      {"estop waiting for service", {}, kEstop, "Arm emergency stop button press..."},
      {"estop waiting for answer", estopServer(EstopBehaviour::kSilent), kEstop,
       "Arm emergency stop button press..."},
      // The reader's pauses last a second: they must wake on the stop request.
      {"device missing", {}, {}, "Joy /dev/input/js0 open failed", [](auto &) {}},
      {"device connected", {}, {}, kOpened, [](auto & device) { device.plugTerminal(); }},
      {"fifo without writer", {}, {}, kOpened, [](auto & device) { device.plugFifo(); }},
      {"empty device", {}, {}, kOpened, [](auto & device) { device.plugFile("/dev/null"); }},
  };
  for (const auto & state : states) {
    if (state.plug && !whyNoPrivateDevices().empty()) {
      continue;  // the reader tests say why
    }
    for (const int signal_number : {SIGINT, SIGTERM}) {
      const std::string name = state.name + (signal_number == SIGINT ? " (SIGINT)" : " (SIGTERM)");
      RobotPeer peer(state.servers);
      JoystickStandIn device;
      std::unique_ptr<ChildProcess> node;
      if (state.plug) {
        state.plug(device);
        node = std::make_unique<DeviceNode>(device);
      } else {
        node = std::make_unique<TeleopProcess>(std::vector<std::string>{"-p", "joy_dev:=/joy"});
        ASSERT_TRUE(peer.waitForTeleopNode()) << name;
        ASSERT_TRUE(peer.sendJoy(kStickForward, state.button)) << name;
      }
      ASSERT_TRUE(node->waitForOutput(state.reached_when)) << name;
      if (state.servers.estop) {
        ASSERT_TRUE(waitUntil([&] { return !peer.estopRequestValues().empty(); })) << name;
      }
      const auto bound = state.plug ? 800ms + kSanitizerExitPause : kPromptExit;
      const auto signalled_at = std::chrono::steady_clock::now();
      node->sendSignal(signal_number);
      EXPECT_TRUE(tavrin_tools::exitedCleanly(node->waitForExit(20s))) << name << node->output();
      EXPECT_LT(std::chrono::steady_clock::now() - signalled_at, bound) << name;
      if (!state.plug) {
        EXPECT_TRUE(waitUntil([&] { return isStill(peer.twists().back()); })) << name;
      }
    }
  }
}

// A component container unloads the node without shutting the process down.
TEST(Teardown, UnloadingMidRequestIsPromptStopsTheArmAndTheNodeIsAloneInItsProcess) {
  RobotPeer peer({.estop = EstopBehaviour::kSilent, .arm_task = ArmTaskBehaviour::kRunForever});
  rclcpp::NodeOptions options;
  options.append_parameter_override("joy_dev", std::string("/joy"));
  auto node = std::make_shared<tavrin_arm_teleop::TeleopNode>(options);
  try {
    tavrin_arm_teleop::TeleopNode second(options);
    ADD_FAILURE() << "a second node in the process was accepted";
  } catch (const std::runtime_error & error) {
    EXPECT_NE(std::string(error.what()).find("process-wide"), std::string::npos) << error.what();
  }
  rclcpp::executors::SingleThreadedExecutor container;
  container.add_node(node);
  std::thread spinner([&] { container.spin(); });
  ASSERT_TRUE(peer.waitForTeleopNode());
  ASSERT_TRUE(peer.sendJoy(kStickForward, {0, 1, 0, 0, 1, 0, 0, 0}));  // grab and e-stop
  ASSERT_TRUE(waitUntil(
      [&] { return peer.receivedGoals().size() == 1 && peer.estopRequestValues().size() == 1; }));
  container.remove_node(node);
  const auto unloaded_at = std::chrono::steady_clock::now();
  node.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - unloaded_at, kPromptExit);
  container.cancel();
  spinner.join();
  EXPECT_TRUE(waitUntil([&] { return isStill(peer.twists().back()); }));
}

}  // namespace
}  // namespace tavrin_test
