// What the node says and does at startup, for each kind of configuration.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "teleop_process.hpp"

namespace tavrin_test {
namespace {

using namespace std::chrono_literals;

TEST(Startup, DefaultsLogTheConfigurationAndReadTheDefaultDevice) {
  TeleopProcess node({}, {"SPDLOG_STDOUT=", "SPDLOG_SYSTEMD=", "SPDLOG_LEVEL="});
  ASSERT_TRUE(node.waitForOutput("Joy /dev/input/js0 open failed"));
  auto lines = ownLines(node);
  lines.resize(4);
  EXPECT_EQ(
      lines, (std::vector<std::string>{
                 "environment variable SPDLOG_STDOUT is not set, and set true",
                 "environment variable SPDLOG_SYSTEMD is not set, and set false",
                 "environment variable SPDLOG_LEVEL is not set, and set default level",
                 "  1 [INFO] joy_dev: /dev/input/js0, arm_task_center_action: "
                 "/tavrinpro_action/arm_task"}));
  auto expected = startupLines("/dev/input/js0", {0, 1, 2, 3, 4, 5}, {0, 1, 2, 3, 4, 5, 6, 7});
  expected.push_back("joyDataThread started: /dev/input/js0");
  expected.push_back("Joy /dev/input/js0 open failed");
  EXPECT_EQ(firstBodies(node, expected.size()), expected);
  EXPECT_TRUE(node.interruptAndExitCleanly());
}

TEST(Startup, ShortRemapTablesArePaddedAndLongOnesLoggedWhole) {
  TeleopProcess node({"-p", "joy_dev:=none", "-p", "joy_axis:=[3, 4]", "-p", "joy_btns:=[9]"});
  ASSERT_TRUE(node.waitForOutput("selects no input"));
  auto expected = startupLines("none", {3, 4, 0, 0, 0, 0}, {9, 0, 0, 0, 0, 0, 0, 0});
  expected.push_back(
      "joy_dev none selects no input: use /joy, or a joystick device path (/dev/input/jsN, "
      "/dev/input/by-id/...-joystick, /dev/input/by-path/...-joystick)");
  EXPECT_EQ(firstBodies(node, expected.size() + 1), expected);

  TeleopProcess ten_buttons(
      {"-p", "joy_dev:=none", "-p", "joy_btns:=[0, 1, 2, 3, 4, 5, 6, 7, 8, 9]"});
  ASSERT_TRUE(ten_buttons.waitForOutput("Joy buttons remap9: 9"));
  EXPECT_EQ(ten_buttons.countOutput("Joy buttons remap"), 10u);
}

TEST(Startup, BadParametersAndArgumentsEndTheProcessWithOneLineNamingThem) {
  using Strings = std::vector<std::string>;
  const std::vector<std::tuple<Strings, std::string, Strings>> cases{
      {{"-p", "deadzone:=1"}, "'deadzone'", {}},
      {{"-p", "deadzone:=abc"}, "'deadzone'", {}},
      {{"-p", "deadzone:=1.0"}, "'deadzone'", {}},
      {{"-p", "deadzone:=1.5"}, "'deadzone'", {}},
      {{"-p", "deadzone:=-0.1"}, "'deadzone'", {}},
      {{"-p", "joy_dev:=5"}, "'joy_dev'", {}},
      {{"-p", "joy_axis:=[0.5, 1.5]"}, "'joy_axis'", {}},
      {{"-p", "joy_btns:=[a, b]"}, "'joy_btns'", {}},
      {{"-p", "joy_btns:=true"}, "'joy_btns'", {}},
      {{"-p", "enable_button:=-2"}, "'enable_button'", {}},
      {{"-p", "coalesce_interval_ms:=-1"}, "'coalesce_interval_ms'", {}},
      {{"-p", "coalesce_interval_ms:=101"}, "'coalesce_interval_ms'", {}},
      {{"--no-such-flag"}, "'--no-such-flag'", {}},
#ifdef TAVRIN_BUNDLED_LAYER  // on Humble, rmw_cyclonedds_cpp's own lines come first
      // A user's CYCLONEDDS_URI that picks loopback a second time.
      {{"-p", "joy_dev:=/joy"},
       "and CYCLONEDDS_URI set (unset",
       {"CYCLONEDDS_URI=<General><Interfaces><NetworkInterface "
        "name=\"lo\"/></Interfaces></General>"}},
#endif
  };
  for (const auto & [arguments, named, environment] : cases) {
    const std::string given = arguments.back();
    TeleopProcess node(arguments, environment);
    const auto status = node.waitForExit(30s);
    ASSERT_TRUE(status.has_value()) << given;
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << given << ": " << *status;
    const auto lines = ownLines(node);
    ASSERT_EQ(lines.size(), 1u) << given << ": " << node.output();
    EXPECT_NE(lines[0].find(named), std::string::npos) << given << ": " << lines[0];
  }
}

// A stop asked for while the node is still starting (its endpoints, its reader thread, the
// executor coming up) must be acted on every time, also on a machine too busy to start quickly.
TEST(Startup, SignalSoonAfterStartEndsTheProcessCleanlyAndPromptly) {
  std::vector<std::jthread> busy_cores;
  while (busy_cores.size() < std::max(1u, std::thread::hardware_concurrency())) {
    busy_cores.emplace_back([](std::stop_token stop) {
      while (!stop.stop_requested()) continue;
    });
  }
  std::minstd_rand random(static_cast<unsigned>(::getpid()));
  std::vector<std::string> failed;
  for (int run = 0; run < 200; ++run) {
    // Half of the runs start the device reader thread (on a device that is not there).
    TeleopProcess node({"-p", run % 4 < 2 ? "joy_dev:=/joy" : "joy_dev:=/dev/input/js97"});
    ASSERT_TRUE(node.waitForOutput("joy_dev: ")) << node.output();
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 51));
    node.sendSignal(run % 2 == 0 ? SIGINT : SIGTERM);
    if (!tavrin_tools::exitedCleanly(node.waitForExit(2s + kSanitizerExitPause))) {
      failed.push_back("run " + std::to_string(run) + ":\n" + node.output());
    }
  }
  EXPECT_TRUE(failed.empty()) << failed.size() << " of 200 runs failed; first: " << failed.front();
}

}  // namespace
}  // namespace tavrin_test
