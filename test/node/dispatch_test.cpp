// Joystick samples on "/joy" and the commands the arm receives for them; the grab task and the
// emergency stop against real servers, one of them in a process of its own.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "robot_peer.hpp"
#include "teleop_process.hpp"

namespace tavrin_test {
namespace {

using namespace std::chrono_literals;
using Axes = std::vector<float>;
using Buttons = std::vector<int32_t>;
using Commands = std::vector<std::vector<int32_t>>;

// The button edges' own lines.
const std::vector<std::string> kGrabEdges{
    "Arm grab button press, send trash grab goal...", "Arm grab button release..."};
const std::vector<std::string> kEstopEdges{
    "Arm emergency stop button press...", "Arm emergency stop button release..."};

Buttons pressed(const std::vector<int> & buttons) {
  Buttons state(8, 0);
  for (const int button : buttons) {
    state[button] = 1;
  }
  return state;
}

class Dispatch : public JoyTopicTest {
protected:
  geometry_msgs::msg::Twist send(const Axes & axes, const Buttons & buttons) {
    EXPECT_TRUE(peer_->sendJoy(axes, buttons));
    return peer_->twists().back();
  }

  // Sends each sample, waits for all of its commands, and returns the I/O commands it caused.
  std::vector<std::vector<int32_t>> ctrlIoAfter(const std::vector<Buttons> & samples) {
    const size_t before = peer_->ctrlIo().size();
    for (const auto & buttons : samples) {
      send(kAtRest, buttons);
    }
    // I/O commands travel on their own topic: give a late one time to arrive.
    std::this_thread::sleep_for(300ms);
    const auto all = peer_->ctrlIo();
    return {all.begin() + static_cast<std::ptrdiff_t>(before), all.end()};
  }

  void press(const Buttons & button) {
    send(kAtRest, button);
    send(kAtRest, kReleased);
  }

  bool saw(const std::string & text, size_t count = 1, std::chrono::seconds timeout = 20s) {
    return node_->waitForOutput(text, timeout, count);
  }
};

void expectTwist(
    const geometry_msgs::msg::Twist & twist, std::array<double, 6> expected,
    const std::string & what) {
  const std::array<double, 6> actual{twist.linear.x,  twist.linear.y,  twist.linear.z,
                                     twist.angular.x, twist.angular.y, twist.angular.z};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_NEAR(actual[i], expected[i], 1e-6) << what << ", component " << i;
    // An echo of the topic shows -0.0 to the operator as if it were a command.
    EXPECT_FALSE(actual[i] == 0.0 && std::signbit(actual[i])) << what << ", component " << i;
  }
}

TEST_F(Dispatch, EverySampleSendsOneTwistFromTheRemappedAxes) {
  start({}, {"-p", "joy_axis:=[1, 0, 5, 3, 4, 2]"});
  expectTwist(send({0.1f, 0.2f, 1, 0.3f, 0.4f, 1}, {}), {0.2, 0.1, 0, 0.3, 0.4, 0}, "remapped");
  const size_t before = peer_->twists().size();
  for (int i = 0; i < 5; ++i) {
    peer_->publishJoy(kAtRest, pressed({6}));
  }
  ASSERT_TRUE(peer_->waitForTwists(before + 5));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(peer_->twists().size(), before + 5);
  EXPECT_EQ(peer_->stopAndRecoverCount(), 0u);
}

TEST_F(Dispatch, TriggersDriveForwardAndReverseFromRest) {
  start();
  const std::vector<std::pair<float, double>> pulls{{1.0f, 0.0}, {0.0f, 0.5}, {-1.0f, 1.0}};
  for (const auto & [trigger, speed] : pulls) {
    expectTwist(send({0, 0, trigger, 0, 0, 1}, pressed({})), {0, 0, speed, 0, 0, 0}, "left");
    expectTwist(send({0, 0, 1, 0, 0, trigger}, pressed({})), {0, 0, 0, 0, 0, speed}, "right");
    expectTwist(
        send({0, 0, trigger, 0, 0, trigger}, pressed({0})), {0, 0, -speed, 0, 0, -speed},
        "reversed");
  }
}

TEST_F(Dispatch, MissingAndBrokenAxesCommandNoMotionAndNoneBeyondFullTravel) {
  start({}, {"-p", "joy_axis:=[0, 1, 2, 3, -1, 5]"});
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  expectTwist(send({0.5f, 0.5f, -1, 0.5f, 0.5f, -1}, {}), {0.5, 0.5, 1, 0.5, 0, 1}, "full");
  // Components that the next samples do not carry stop, rather than keep the last value.
  expectTwist(send({0.5f, 0.5f}, {}), {0.5, 0.5, 0, 0, 0, 0}, "two axes");
  expectTwist(send({}, {}), {0, 0, 0, 0, 0, 0}, "no axes");
  expectTwist(send({}, {}), {0, 0, 0, 0, 0, 0}, "no axes again");
  expectTwist(send({nan, inf, nan, -inf, 0.5f, inf}, {}), {0, 0, 0, 0, 0, 0}, "not finite");
  // A faulty peer's readings never ask more of the arm than full travel.
  expectTwist(send({1e30f, -1e30f, -3, 2, 0, 1}, {}), {1, -1, 1, 1, 0, 0}, "beyond full travel");
}

TEST_F(Dispatch, SpaceAndControlIoButtonsActOncePerPress) {
  start();
  // Both pressed together: joint space wins; releasing joint with cartesian held hands over.
  // Cartesian held, then joint pressed too: joint; releasing joint then announces nothing.
  for (const auto & held : std::vector<std::vector<int>>{
           {6}, {6}, {}, {7}, {7}, {}, {6, 7}, {7}, {}, {7}, {6, 7}, {7}, {}}) {
    send(kAtRest, pressed(held));
  }
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(peer_->spaces(), (std::vector<bool>{true, false, true, false, false, true}));
  EXPECT_EQ(node_->countOutput("joint_space button press..."), 3u);
  EXPECT_EQ(node_->countOutput("cartesian_space button release..."), 3u);

  // The I/O buttons: one command per press, and of two held the newer one, once.
  const std::vector<int32_t> on{100, 1};
  const std::vector<int32_t> off{100, 0};
  const std::vector<std::pair<std::vector<Buttons>, Commands>> cases{
      {{pressed({3}), pressed({3}), pressed({3})}, {on}},
      {{pressed({}), pressed({3})}, {on}},
      {{pressed({}), pressed({2}), pressed({2}), pressed({})}, {off}},
      // Off held, then on pressed as well: one on command, however long both are held.
      {{pressed({2}), pressed({2, 3}), pressed({2, 3}), pressed({2, 3}), pressed({2})}, {off, on}},
      // On held, then off pressed as well: the newer press wins, once.
      {{pressed({}), pressed({3}), pressed({2, 3}), pressed({2, 3}), pressed({3})}, {on, off}},
      // Both pressed in the same sample: the safe off command, once.
      {{pressed({}), pressed({2, 3}), pressed({2, 3}), pressed({2, 3})}, {off}},
  };
  for (const auto & [samples, commands] : cases) {
    EXPECT_EQ(ctrlIoAfter(samples), commands) << commands.size() << " commands expected";
  }
  const auto message = peer_->ctrlIoMessages().back();
  ASSERT_EQ(message.layout.dim.size(), 1u);
  EXPECT_EQ(message.layout.dim[0].label, "ctrl_io_data");
  EXPECT_EQ(message.layout.dim[0].size, 2u);
  EXPECT_EQ(message.layout.dim[0].stride, 2u);
  EXPECT_EQ(message.layout.data_offset, 1u);
}

TEST_F(Dispatch, ButtonsOutsideTheSampleCountAsReleased) {
  start({}, {"-p", "joy_btns:=[-1, 40, 41, 42, 43, 44, -6, -7]"});
  for (int i = 0; i < 3; ++i) {
    expectTwist(send({0, 0, -1, 0, 0, 1}, Buttons(12, 1)), {0, 0, 1, 0, 0, 0}, "forward");
  }
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(peer_->spaces().empty());
  EXPECT_TRUE(peer_->ctrlIo().empty());
  EXPECT_EQ(node_->countOutput("button press"), 0u);
}

TEST_F(Dispatch, EnableButtonGatesMotionAndNoOtherButton) {
  start(estopServer(EstopBehaviour::kAnswer), {"-p", "enable_button:=5"});
  const Axes moved{0.5f, 0, -1, 0, 0, 1};
  expectTwist(send(moved, pressed({})), {0, 0, 0, 0, 0, 0}, "not held");
  expectTwist(send(moved, pressed({5})), {0.5, 0, 1, 0, 0, 0}, "held");
  expectTwist(send(moved, pressed({})), {0, 0, 0, 0, 0, 0}, "released");
  const size_t released = peer_->twists().size();
  // Every other role works without it: an emergency stop must never wait for another button.
  EXPECT_EQ(
      ctrlIoAfter({pressed({3}), pressed({}), pressed({6}), pressed({}), pressed({1, 4})}),
      (Commands{{100, 1}}));
  EXPECT_EQ(peer_->spaces(), std::vector<bool>{true});
  EXPECT_TRUE(node_->waitForOutput("ArmTaskDecision goal start..."));
  EXPECT_TRUE(waitUntil([&] { return peer_->estopRequestValues() == std::vector<bool>{true}; }));
  const auto twists = peer_->twists();
  EXPECT_EQ(twists.size(), released + 5);
  for (size_t i = released; i < twists.size(); ++i) {
    expectTwist(twists[i], {0, 0, 0, 0, 0, 0}, "buttons without enable");
  }
}

TEST_F(Dispatch, EveryEndOfARequestIsLoggedAndFreesTheButtonForTheNextPress) {
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

TEST_F(Dispatch, GoalResponseTooLateIsGivenUpAndItsAnswersLeaveTheNextGrabAlone) {
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

TEST_F(Dispatch, GrabCanceledByAnotherClientFreesTheButton) {
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

TEST_F(Dispatch, SilentEstopServiceGetsTheRequestTwiceThreeSecondsApart) {
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

TEST_F(Dispatch, GrabServerGoneOrRestartedMidTaskFreesTheButtonForTheServerThatAnswersNow) {
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
    // The client asks for the result just after that line: on a busy machine the request could
    // otherwise leave only once the successor is up, which answers it as an unknown goal.
    std::this_thread::sleep_for(1s);
    server->sendSignal(test.signal_number);
    ASSERT_TRUE(server->waitForExit());
    server.reset();
    if (test.restart) {
      server = std::make_unique<ChildProcess>(std::vector<std::string>{TAVRIN_ARM_TASK_SERVER});
      ASSERT_TRUE(server->waitForOutput("arm task server ready"));
    }
    // The operator tries again two seconds later, or once a killed server is known to be gone.
    std::this_thread::sleep_for(2s);
    // The worker logs why it gave up, then that the goal is finished.
    EXPECT_TRUE(saw("ArmTaskDecision goal finished!", 1, 60s)) << test.name;
    EXPECT_EQ(node_->countOutput("ArmTaskDecision goal finished!"), 1u) << test.name;
    EXPECT_EQ(node_->countOutput(test.given_up), 1u) << test.name;
    press(kGrab);
    EXPECT_TRUE(saw("ArmTaskDecision goal start...", 2, 10s)) << test.name;
    EXPECT_TRUE(!server || server->waitForOutput("goal received", 10s)) << test.name;
    TearDown();
  }
}

}  // namespace
}  // namespace tavrin_test
