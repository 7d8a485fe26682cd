// Joystick samples on "/joy" and the commands the arm receives for them.
#include <gtest/gtest.h>

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

TEST_F(Dispatch, SpaceButtonsAnnounceTheSpaceOncePerPress) {
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
}

TEST_F(Dispatch, ControlIoButtonsSendOneCommandPerPressAndTheNewerOfTwoOnce) {
  start();
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
  EXPECT_TRUE(waitUntil([&] { return !peer_->estopRequestValues().empty(); }));
  EXPECT_EQ(peer_->estopRequestValues(), std::vector<bool>{true});
  const auto twists = peer_->twists();
  EXPECT_EQ(twists.size(), released + 5);
  for (size_t i = released; i < twists.size(); ++i) {
    expectTwist(twists[i], {0, 0, 0, 0, 0, 0}, "buttons without enable");
  }
}

}  // namespace
}  // namespace tavrin_test
