// SIGINT and SIGTERM end the node cleanly whatever its request workers are waiting for.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "robot_peer.hpp"
#include "teleop_process.hpp"

namespace tavrin_test {
namespace {

using namespace std::chrono_literals;

const std::vector<float> kAtRest{0, 0, 1, 0, 0, 1};
const std::vector<int32_t> kGrab{0, 1, 0, 0, 0, 0, 0, 0};
const std::vector<int32_t> kEstop{0, 0, 0, 0, 1, 0, 0, 0};

struct WaitingState {
  std::string name;
  PeerOptions servers;
  std::vector<int32_t> button;
  std::string reached_when;
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
  };
  for (const auto & waiting : states) {
    for (const int signal_number : {SIGINT, SIGTERM}) {
      WaitingState state = waiting;
      state.name += signal_number == SIGINT ? " (SIGINT)" : " (SIGTERM)";
      RobotPeer peer(state.servers);
      TeleopProcess node({"-p", "joy_dev:=/joy"});
      ASSERT_TRUE(node.waitForStartup()) << state.name;
      ASSERT_TRUE(peer.waitForTeleopNode()) << state.name;
      ASSERT_TRUE(peer.sendJoy(kAtRest, state.button)) << state.name;
      ASSERT_TRUE(node.waitForOutput(state.reached_when)) << state.name;
      if (state.servers.estop) {
        ASSERT_TRUE(waitUntil([&] { return !peer.estopRequestValues().empty(); })) << state.name;
      }
      const auto signalled_at = std::chrono::steady_clock::now();
      node.sendSignal(signal_number);
      const auto status = node.waitForExit(20s);
      const auto took = std::chrono::steady_clock::now() - signalled_at;
      ASSERT_TRUE(status.has_value()) << state.name;
      EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << state.name << "\n"
                                                                   << node.output();
      EXPECT_LT(took, kPromptExit) << state.name;
    }
  }
}

}  // namespace
}  // namespace tavrin_test
