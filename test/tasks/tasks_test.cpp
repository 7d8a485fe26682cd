// The grab task and the emergency stop, against real servers in the test process.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <string>
#include <vector>

#include "robot_peer.hpp"
#include "teleop_process.hpp"

namespace tavrin_test {
namespace {

using namespace std::chrono_literals;
using Buttons = std::vector<int32_t>;

// The button edges' own lines.
const std::vector<std::string> kGrabEdges{
    "Arm grab button press, send trash grab goal...", "Arm grab button release..."};
const std::vector<std::string> kEstopEdges{
    "Arm emergency stop button press...", "Arm emergency stop button release..."};

class Tasks : public JoyTopicTest {
protected:
  void press(const Buttons & button) {
    ASSERT_TRUE(peer_->sendJoy(kAtRest, button));
    ASSERT_TRUE(peer_->sendJoy(kAtRest, kReleased));
  }

  bool saw(const std::string & text, size_t count = 1, std::chrono::seconds timeout = 20s) {
    return node_->waitForOutput(text, timeout, count);
  }
};

TEST_F(Tasks, EveryEndOfARequestIsLoggedAndFreesTheButtonForTheNextPress) {
  struct Case {
    Buttons button;
    PeerOptions server;
    std::vector<std::string> lines;  // the request's log lines, the buttons' own left out
    std::chrono::milliseconds gives_up_after{0};
  };
  const std::string admitted = "ArmTaskDecision goal start...";
  const std::string wait = "Wait for ArmTaskDecision server...";
  const std::string sent = "Send goal to ArmTaskDecision!";
  const std::string accepted = "Goal accepted by server, waiting for result";
  const std::string finished = "ArmTaskDecision goal finished!";
  const std::vector<Case> cases{
      // Without a server nothing is sent: the grab gives up after 3 s, the e-stop after 2 s.
      {kGrab, {}, {admitted, wait, "Action server not available after waiting"}, 2900ms},
      {kGrab,
       armTaskServer(ArmTaskBehaviour::kSucceed),
       {admitted, wait, sent, accepted, "ArmTaskDecision run_stage: 1",
        "ArmTaskDecision run_stage: 2", "ArmTaskDecision run_stage: 3",
        "status: false, status_code: 3, errmsg: x", finished}},
      {kGrab,
       armTaskServer(ArmTaskBehaviour::kReject),
       {admitted, wait, sent, "Goal was rejected by server", finished}},
      {kGrab,
       armTaskServer(ArmTaskBehaviour::kAbort),
       {admitted, wait, sent, accepted, "ArmTaskDecision Goal was aborted", finished}},
      {kEstop, {}, {"service /robot/estop_service not available, return..."}, 1900ms},
      // The release sends nothing.
      {kEstop, estopServer(EstopBehaviour::kAnswer), {"result: true, message: ok"}},
  };
  for (const Case & test : cases) {
    start(test.server);
    const auto pressed_at = std::chrono::steady_clock::now();
    press(test.button);
    ASSERT_TRUE(saw(test.lines.back()));
    EXPECT_GE(std::chrono::steady_clock::now() - pressed_at, test.gives_up_after);
    std::this_thread::sleep_for(500ms);
    auto bodies = logBodies(node_->lines());
    bodies.erase(
        bodies.begin(), std::find(bodies.begin(), bodies.end(), "Joy buttons remap7: 7") + 1);
    std::erase_if(bodies, [](const std::string & line) { return line.rfind("Arm ", 0) == 0; });
    EXPECT_EQ(bodies, test.lines);
    EXPECT_EQ(peer_->estopRequestValues(), std::vector<bool>(test.server.estop.has_value(), true));
    if (test.server.arm_task) {
      // A grab goal is the message's defaults (an identity orientation) with task type 1.
      RobotPeer::ArmTaskDecision::Goal grab;
      grab.task_type = 1;
      EXPECT_EQ(peer_->receivedGoals(), std::vector{grab});
    }
    press(test.button);
    EXPECT_TRUE(saw(test.lines.front(), 2));
    EXPECT_EQ(node_->countOutput("inprogress"), 0u);
    for (const auto & edge : test.button == kGrab ? kGrabEdges : kEstopEdges) {
      EXPECT_TRUE(saw(edge, 2));
      EXPECT_EQ(node_->countOutput(edge), 2u) << edge;
    }
    TearDown();
  }
}

TEST_F(Tasks, GoalResponseTooLateIsGivenUpAndItsAnswersLeaveTheNextGrabAlone) {
  start(armTaskServer(ArmTaskBehaviour::kAcceptLate));
  press(kGrab);
  ASSERT_TRUE(saw("ArmTaskDecision goal response lost, stop waiting for it"));
  ASSERT_TRUE(saw("ArmTaskDecision goal finished!"));
  // The first goal is accepted and succeeds while the second runs: only the second is reported.
  press(kGrab);
  ASSERT_TRUE(saw("ArmTaskDecision goal finished!", 2));
  std::this_thread::sleep_for(2s);
  EXPECT_EQ(peer_->receivedGoals().size(), 2u);
  EXPECT_EQ(node_->countOutput("Goal accepted by server, waiting for result"), 1u);
  EXPECT_EQ(node_->countOutput("status: false, status_code: 3, errmsg: x"), 1u);
  EXPECT_EQ(node_->countOutput("ArmTaskDecision goal finished!"), 2u);
}

TEST_F(Tasks, GrabCanceledByAnotherClientFreesTheButton) {
  start(armTaskServer(ArmTaskBehaviour::kCancelWhenAsked));
  press(kGrab);
  ASSERT_TRUE(saw("Goal accepted by server, waiting for result"));
  press(kGrab);
  EXPECT_TRUE(saw("ArmTaskDecision goal inprogress, skip!"));
  peer_->cancelAllArmTasks();
  ASSERT_TRUE(saw("ArmTaskDecision Goal was canceled"));
  ASSERT_TRUE(saw("ArmTaskDecision goal finished!"));
  EXPECT_EQ(peer_->receivedGoals().size(), 1u);
}

TEST_F(Tasks, SilentEstopServiceGetsTheRequestTwiceThreeSecondsApart) {
  start(estopServer(EstopBehaviour::kSilent));
  press(kEstop);
  press(kEstop);
  EXPECT_TRUE(saw("service request for /robot/estop_service inprogress, please wait..."));
  ASSERT_TRUE(saw("Failed to call service /robot/estop_service"));
  ASSERT_TRUE(waitUntil([&] { return peer_->estopRequestTimes().size() == 2; }));
  const auto times = peer_->estopRequestTimes();
  // Measured where the requests arrive, so delivery jitter blurs the three seconds a little.
  EXPECT_GE(times[1] - times[0], 2500ms);
  EXPECT_LE(times[1] - times[0], 6s);
  EXPECT_EQ(peer_->estopRequestValues(), (std::vector<bool>{true, true}));
  press(kEstop);
  EXPECT_TRUE(waitUntil([&] { return peer_->estopRequestTimes().size() == 3; }));
}

TEST_F(Tasks, GrabServerGoneOrRestartedMidTaskFreesTheButtonForTheServerThatAnswersNow) {
  struct Case {
    const char * name;
    int signal_number;
    bool restart;
    const char * given_up;
  };
  // A stopped server cancels its goals as it goes, unless it is gone before the result is out.
  // A killed server says no goodbye: the node learns of it when its lease runs out. Meanwhile a
  // successor answers for the action and must be the one the next press reaches.
  const std::vector<Case> cases{
      {"stopped", SIGTERM, false, "ArmTaskDecision goal finished!"},
      {"killed", SIGKILL, false, "ArmTaskDecision server lost"},
      {"killed and restarted at once", SIGKILL, true, "server no longer knows the goal"},
  };
  for (const Case & test : cases) {
    start();
    auto server = std::make_unique<ChildProcess>(std::vector<std::string>{TAVRIN_ARM_TASK_SERVER});
    ASSERT_TRUE(server->waitForOutput("arm task server ready"));
    press(kGrab);
    ASSERT_TRUE(saw("Goal accepted by server, waiting for result")) << test.name;
    server->sendSignal(test.signal_number);
    ASSERT_TRUE(server->waitForExit());
    server.reset();
    if (test.restart) {
      server = std::make_unique<ChildProcess>(std::vector<std::string>{TAVRIN_ARM_TASK_SERVER});
      ASSERT_TRUE(server->waitForOutput("arm task server ready"));
    }
    // The operator tries again two seconds later, or once a killed server is known to be gone.
    std::this_thread::sleep_for(2s);
    // The worker logs that it gave up, then that the goal is finished.
    for (const std::string line : {test.given_up, "ArmTaskDecision goal finished!"}) {
      EXPECT_TRUE(saw(line, 1, 60s)) << test.name;
      EXPECT_EQ(node_->countOutput(line), 1u) << test.name;
    }
    press(kGrab);
    EXPECT_TRUE(saw("ArmTaskDecision goal start...", 2, 10s)) << test.name;
    EXPECT_TRUE(!server || server->waitForOutput("goal received", 10s)) << test.name;
    TearDown();
  }
}

}  // namespace
}  // namespace tavrin_test
