// Faults an operator's station meets in the field, played against the real programs: a
// controller plugged in and out a hundred times, a flood of samples, and the node and the robot
// on two hosts whose link goes away. Servers that die or never answer are the request tests'.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "joystick_rig.hpp"
#include "robot_peer.hpp"
#include "teleop_process.hpp"

namespace tavrin_test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Twist = geometry_msgs::msg::Twist;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// A sanitizer holds freed memory back and checks for leaks itself at exit.
constexpr bool kResidentMemoryIsMeaningful = false;
#else
constexpr bool kResidentMemoryIsMeaningful = true;
#endif

const std::vector<int32_t> kJointSpace{0, 0, 0, 0, 0, 0, 1, 0};

/// What a process holds, read from /proc.
struct Holdings {
  size_t open_files = 0;
  long threads = 0;
  long resident_kib = 0;
};

long statusField(pid_t pid, const std::string & field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) {
      return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
    }
  }
  return -1;
}

Holdings holdings(pid_t pid) {
  const std::filesystem::directory_iterator fds("/proc/" + std::to_string(pid) + "/fd");
  return {
      static_cast<size_t>(std::distance(begin(fds), end(fds))), statusField(pid, "Threads"),
      statusField(pid, "VmRSS")};
}

size_t stillCount(const std::vector<Twist> & twists, size_t from) {
  return static_cast<size_t>(std::count_if(
      twists.begin() + static_cast<long>(from), twists.end(),
      [](const Twist & twist) { return isStill(twist); }));
}

TEST(Faults, HundredUnplugCyclesStopTheArmOnceEachAndLeakNothing) {
  if (!whyNoPrivateDevices().empty()) {
    GTEST_SKIP() << whyNoPrivateDevices();
  }
  JoystickStandIn device;
  RobotPeer peer;
  DeviceNode node(device);
  Holdings settled;
  for (size_t cycle = 1; cycle <= 100; ++cycle) {
    device.plugTerminal();
    ASSERT_TRUE(node.waitForOutput(kOpened, 20s, cycle)) << "cycle " << cycle;
    if (cycle == 1) {
      ASSERT_TRUE(waitForNode(peer));
    }
    const size_t connected = peer.twists().size();
    ASSERT_TRUE(peer.waitForTwists(connected + 3)) << "cycle " << cycle;
    EXPECT_EQ(stillCount(peer.twists(), connected), peer.twists().size() - connected)
        << "stale motion after replug, cycle " << cycle;
    // The joint-space button held when the last connection was lost is forgotten with it.
    ASSERT_TRUE(cycle == 1 || node.waitForOutput("joint_space button release...", 20s, cycle - 1));
    device.send({joyEvent(JS_EVENT_AXIS, 0, 32767), joyEvent(JS_EVENT_BUTTON, 6, 1)});
    const auto moving = waitForTwist(peer, connected, movesForward);
    ASSERT_TRUE(moving.has_value()) << "cycle " << cycle;

    device.unplug();
    ASSERT_TRUE(waitUntil([&] { return isStill(peer.twists().back()); })) << "cycle " << cycle;
    std::this_thread::sleep_for(200ms);
    ASSERT_EQ(stillCount(peer.twists(), *moving), 1u) << "one stop per loss, cycle " << cycle;
    if (cycle == 10) {
      settled = holdings(node.pid());
    }
  }
  const Holdings last = holdings(node.pid());
  EXPECT_EQ(last.open_files, settled.open_files);
  EXPECT_EQ(last.threads, settled.threads);
  if (kResidentMemoryIsMeaningful) {
    EXPECT_LE(last.resident_kib - settled.resident_kib, 1024) << "KiB grown over 90 cycles";
  }
  EXPECT_TRUE(node.interruptAndExitCleanly());
}

TEST(Faults, TenSecondFloodAtTenKilohertzLeavesMemoryBoundedAndTheNextPressPrompt) {
  RobotPeer operator_;
  TeleopProcess node_({"-p", "joy_dev:=/joy"});
  ASSERT_TRUE(node_.waitForStartup());
  ASSERT_TRUE(operator_.waitForTeleopNode());
  const long resident_before = holdings(node_.pid()).resident_kib;
  long resident_highest = resident_before;
  const auto start = Clock::now();
  auto next_look = start;
  size_t published = 0;
  for (auto now = start; now - start < 10s; now = Clock::now()) {
    // Catch up with the schedule in bursts: the rate holds even when a sleep oversleeps.
    const auto due = static_cast<size_t>((now - start) / 100us);
    for (; published < due; ++published) {
      operator_.publishJoy(kAtRest, kReleased);
    }
    if (now >= next_look) {
      resident_highest = std::max(resident_highest, holdings(node_.pid()).resident_kib);
      next_look += 500ms;
    }
    std::this_thread::sleep_for(100us);
  }
  const auto pressed = Clock::now();
  operator_.publishJoy(kAtRest, kJointSpace);
  ASSERT_TRUE(waitUntil([&] { return !operator_.spaces().empty(); }, 20s));
  // A node still working off a backlog would take seconds; a queue that drops takes a moment.
  EXPECT_LT(Clock::now() - pressed, 1500ms);
  if (kResidentMemoryIsMeaningful) {
    EXPECT_LE(resident_highest - resident_before, 16 * 1024) << "KiB grown by the flood";
  }
  EXPECT_TRUE(node_.interruptAndExitCleanly());
}

/// Two network namespaces joined by a veth pair, with addresses that exist only inside them;
/// removed when done. Each namespace and its end of the pair have one name.
struct TwoHosts {
  TwoHosts() {
    // A range reserved for documentation: no real host answers to it anywhere.
    made =
        run("ip netns add $OP && ip netns add $RB && "
            "ip link add $OP netns $OP type veth peer name $RB netns $RB && "
            "for host in \"$OP 192.0.2.1\" \"$RB 192.0.2.2\"; do set -- $host && "
            "ip -n $1 link set lo up && ip -n $1 address add $2/24 dev $1 && "
            "ip -n $1 link set $1 up multicast on || exit 1; done");
  }
  ~TwoHosts() { run("ip netns del $OP; ip netns del $RB"); }

  static std::vector<std::string> inside(const std::string & host) {
    return {"ip", "netns", "exec", host};
  }
  /// Deletes the veth pair: each host keeps only its loopback.
  bool cutLink() { return run("ip -n $OP link del $OP"); }

  bool run(const std::string & script) {
    ChildProcess command({"sh", "-c", script}, {"OP=" + operator_station, "RB=" + robot});
    const bool done = tavrin_tools::exitedCleanly(command.waitForExit(10s));
    if (!done && why_not.empty()) {
      why_not = command.output();
    }
    return done;
  }

  const std::string operator_station = "tvop" + std::to_string(::getpid());
  const std::string robot = "tvrb" + std::to_string(::getpid());
  std::string why_not;
  bool made = false;
};

TEST(Faults, TwoHostsWorkAcrossTheirLinkAndEachEndsPromptlyOnceItIsGone) {
  TwoHosts hosts;
  if (!hosts.made) {
    GTEST_SKIP() << "no network namespaces here: " << hosts.why_not;
  }
  // The default DDS configuration, as between an operator's station and a robot.
  const std::vector<std::string> network_default{"ROS_LOCALHOST_ONLY="};
  ChildProcess robot(joined(hosts.inside(hosts.robot), {TAVRIN_DEMO_ROBOT}), network_default);
  JoystickStandIn device;
  device.plugTerminal();
  DeviceNode node(
      device, {}, "/dev/input/js0", hosts.inside(hosts.operator_station), network_default);
  ASSERT_TRUE(robot.waitForOutput("robot serves"));
  ASSERT_TRUE(node.waitForOutput(kOpened));
  ASSERT_TRUE(robot.waitForOutput("motion    linear", 30s)) << robot.output();
  std::this_thread::sleep_for(1s);  // the request and action clients match as well

  device.send({joyEvent(JS_EVENT_AXIS, 0, -32767)});  // the stick pushed fully forward
  EXPECT_TRUE(robot.waitForOutput("motion    linear x +1.00")) << robot.output();
  device.send({joyEvent(JS_EVENT_BUTTON, 1, 1), joyEvent(JS_EVENT_BUTTON, 1, 0)});
  EXPECT_TRUE(robot.waitForOutput("task      succeeded")) << robot.output();
  device.send({joyEvent(JS_EVENT_BUTTON, 4, 1), joyEvent(JS_EVENT_BUTTON, 4, 0)});
  EXPECT_TRUE(robot.waitForOutput("e-stop    request data=true")) << robot.output();

  ASSERT_TRUE(hosts.cutLink());
  for (auto * program : {static_cast<ChildProcess *>(&node), &robot}) {
    const auto signalled = Clock::now();
    program->sendSignal(program == &robot ? SIGINT : SIGTERM);
    EXPECT_TRUE(tavrin_tools::exitedCleanly(program->waitForExit(20s))) << program->output();
    // Two seconds is the promise; the rest is room for a sanitized build.
    EXPECT_LT(Clock::now() - signalled, 3s) << program->output();
  }
}

}  // namespace
}  // namespace tavrin_test
