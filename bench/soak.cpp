// `make soak`: an hour (or the seconds given) of 1 kHz controller events, with presses of the
// space and I/O buttons ten times a second and a grab and an emergency stop every five seconds,
// through the node's own device reader to the demo robot. It fails when the node's resident
// memory leaves a 1 MiB band around its size at the end of the first minute, or when a press
// does not reach the robot exactly once. Not part of the suite: it takes an hour.
//
// Run: make soak [SOAK_SECONDS=N]   (loopback only, DDS domain 232; N at least 70)
// Every minute it prints the node's resident memory against the 1-minute mark, the robot's,
// and the presses sent; at the end, whether each press reached the robot exactly once.
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.hpp"
#include "joystick_rig.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using tavrin_test::ChildProcess;
using tavrin_test::joyEvent;

constexpr auto kSlot = 100ms;
constexpr auto kTapHold = 50ms;
constexpr int kSlotsPerGrab = 50;
constexpr int kGrabSlot = 10;
constexpr int kEstopSlot = 35;
constexpr auto kBaselineAt = 60s;
constexpr long kRssBandKiB = 1024;
// A press older than this must have reached the robot.
constexpr auto kDeliveryAllowance = 3s;
// Inside the default dead band: a steady stream of events that commands no motion.
constexpr int16_t kJitter = 2000;

struct Press {
  uint8_t button;
  const char * robot_line;
};

// Each press changes what the robot shows, so each one is a line of its own.
constexpr std::array<Press, 4> kSpaceAndIo{{
    {6, "space     joint"},
    {7, "space     cartesian"},
    {3, "I/O       100 on"},
    {2, "I/O       100 off"},
}};
constexpr Press kGrab{1, "task      succeeded"};
constexpr Press kEstop{4, "e-stop    request data=true"};

long residentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) {
      return std::strtol(line.c_str() + 6, nullptr, 10);
    }
  }
  return -1;
}

/// Presses sent per kind, with when, so that what is due can be told from what is in flight.
class PressLedger {
public:
  void sent(size_t kind) { sent_[kind].push_back(Clock::now()); }

  /// Kinds whose robot line count differs from the presses that are due; prints each.
  size_t lost(const ChildProcess & robot, Clock::time_point due_before, bool final) const {
    size_t lost = 0;
    for (size_t kind = 0; kind < kKinds; ++kind) {
      const auto & times = sent_[kind];
      const size_t due = static_cast<size_t>(
          std::upper_bound(times.begin(), times.end(), due_before) - times.begin());
      const size_t seen = robot.countOutput(line(kind));
      const bool wrong = final ? seen != times.size() : seen < due || seen > times.size();
      if (wrong) {
        std::printf(
            "  press edge lost or doubled: \"%s\" sent %zu (due %zu), robot shows %zu\n",
            line(kind), times.size(), due, seen);
        ++lost;
      }
    }
    return lost;
  }

  size_t count(size_t kind) const { return sent_[kind].size(); }

  static constexpr size_t kKinds = kSpaceAndIo.size() + 2;
  static const char * line(size_t kind) {
    if (kind < kSpaceAndIo.size()) {
      return kSpaceAndIo[kind].robot_line;
    }
    return kind == kSpaceAndIo.size() ? kGrab.robot_line : kEstop.robot_line;
  }

private:
  std::array<std::vector<Clock::time_point>, kKinds> sent_;
};

struct Figures {
  long current_kib = -1;
  long baseline_kib = -1;
  long lowest_kib = -1;
  long highest_kib = -1;
  long robot_baseline_kib = -1;
  long robot_highest_kib = -1;
  size_t events = 0;
  size_t lost_checks = 0;
};

void sampleMemory(Figures & figures, pid_t node, pid_t robot, bool baseline_due) {
  const long rss = residentKiB(node);
  const long robot_rss = residentKiB(robot);
  figures.current_kib = rss;
  if (baseline_due && figures.baseline_kib < 0) {
    figures.baseline_kib = figures.lowest_kib = figures.highest_kib = rss;
    figures.robot_baseline_kib = figures.robot_highest_kib = robot_rss;
  } else if (figures.baseline_kib >= 0) {
    figures.lowest_kib = std::min(figures.lowest_kib, rss);
    figures.highest_kib = std::max(figures.highest_kib, rss);
    figures.robot_highest_kib = std::max(figures.robot_highest_kib, robot_rss);
  }
}

void report(const Figures & figures, const PressLedger & ledger, Clock::duration elapsed) {
  std::printf(
      "%6lld s  node RSS %ld KiB (1-min mark %ld, range %+ld..%+ld)  robot RSS highest %ld KiB "
      "(1-min mark %ld)  events %zu  presses: space/io %zu, grabs %zu, e-stops %zu\n",
      static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count()),
      figures.current_kib, figures.baseline_kib, figures.lowest_kib - figures.baseline_kib,
      figures.highest_kib - figures.baseline_kib, figures.robot_highest_kib,
      figures.robot_baseline_kib, figures.events,
      ledger.count(0) + ledger.count(1) + ledger.count(2) + ledger.count(3), ledger.count(4),
      ledger.count(5));
  std::fflush(stdout);
}

/// Plays the schedule for `duration`; returns the figures.
Figures play(
    tavrin_test::JoystickStandIn & device, const ChildProcess & node, const ChildProcess & robot,
    std::chrono::seconds duration, PressLedger & ledger) {
  Figures figures;
  const auto start = Clock::now();
  auto next_event = start;
  auto next_report = start + 10s;
  int slot = 0;
  auto slot_start = start;
  std::vector<uint8_t> held;
  int16_t jitter = kJitter;
  while (Clock::now() - start < duration) {
    std::this_thread::sleep_until(next_event);
    next_event += 1ms;
    const auto now = Clock::now();
    std::vector<js_event> events{joyEvent(
        JS_EVENT_AXIS, static_cast<uint8_t>(figures.events % 2),
        jitter = static_cast<int16_t>(-jitter))};
    const auto release_held = [&] {
      for (const uint8_t button : held) {
        events.push_back(joyEvent(JS_EVENT_BUTTON, button, 0));
      }
      held.clear();
    };
    if (now >= slot_start) {
      // After a stall of this loop the release may still be due: it goes first, or the press
      // would be no edge at all.
      release_held();
      const Press & tap = kSpaceAndIo[static_cast<size_t>(slot) % kSpaceAndIo.size()];
      held = {tap.button};
      ledger.sent(static_cast<size_t>(slot) % kSpaceAndIo.size());
      if (slot % kSlotsPerGrab == kGrabSlot) {
        held.push_back(kGrab.button);
        ledger.sent(kSpaceAndIo.size());
      } else if (slot % kSlotsPerGrab == kEstopSlot) {
        held.push_back(kEstop.button);
        ledger.sent(kSpaceAndIo.size() + 1);
      }
      for (const uint8_t button : held) {
        events.push_back(joyEvent(JS_EVENT_BUTTON, button, 1));
      }
      ++slot;
      slot_start += kSlot;
    } else if (now >= slot_start - kSlot + kTapHold) {
      release_held();
    }
    device.send(events);
    figures.events += events.size();
    if (now >= next_report) {
      next_report += 10s;
      sampleMemory(figures, node.pid(), robot.pid(), now - start >= kBaselineAt);
      figures.lost_checks += ledger.lost(robot, now - kDeliveryAllowance, false) > 0 ? 1 : 0;
      if ((now - start) % 60s < 10s || figures.baseline_kib < 0) {
        report(figures, ledger, now - start);
      }
    }
  }
  return figures;
}

int run(std::chrono::seconds duration) {
  // A FIFO, not a terminal: like the joystick driver it hands out whole records only, where a
  // terminal whose input queue has filled up splits one and shifts every record after it.
  tavrin_test::JoystickStandIn device;
  device.plugFifo();
  ChildProcess robot({TAVRIN_DEMO_ROBOT});
  tavrin_test::DeviceNode node(device);
  device.openFifoWriter();
  if (!robot.waitForOutput("robot serves", 30s) || !node.waitForOutput("joyOpen", 30s) ||
      !robot.waitForOutput("motion    linear", 30s)) {
    std::printf(
        "the node and the demo robot did not come up:\n%s\n%s\n", node.output().c_str(),
        robot.output().c_str());
    return 1;
  }
  // The robot must have found the arm task client and the e-stop client as well.
  std::this_thread::sleep_for(2s);
  std::printf(
      "soak: %lld s of 1 kHz events, node pid %d, robot pid %d\n",
      static_cast<long long>(duration.count()), node.pid(), robot.pid());
  PressLedger ledger;
  const Figures figures = play(device, node, robot, duration, ledger);
  std::this_thread::sleep_for(kDeliveryAllowance + 2s);
  const size_t lost = ledger.lost(robot, Clock::now(), true);
  report(figures, ledger, duration);
  const bool memory_ok = figures.baseline_kib >= 0 &&
                         figures.highest_kib - figures.baseline_kib <= kRssBandKiB &&
                         figures.baseline_kib - figures.lowest_kib <= kRssBandKiB;
  node.sendSignal(SIGINT);
  robot.sendSignal(SIGINT);
  const auto node_status = node.waitForExit(10s);
  const auto robot_status = robot.waitForExit(10s);
  const bool exits_ok = node_status && WIFEXITED(*node_status) && WEXITSTATUS(*node_status) == 0 &&
                        robot_status && WIFEXITED(*robot_status) && WEXITSTATUS(*robot_status) == 0;
  std::printf(
      "soak %s: node RSS %s the 1 MiB band (1-min mark %ld KiB, lowest %ld, highest %ld); "
      "%zu press kinds off at the end, %zu interim checks with a press missing; exits %s\n",
      memory_ok && lost == 0 && figures.lost_checks == 0 && exits_ok ? "passed" : "FAILED",
      memory_ok ? "stayed within" : "LEFT", figures.baseline_kib, figures.lowest_kib,
      figures.highest_kib, lost, figures.lost_checks, exits_ok ? "clean" : "NOT clean");
  return memory_ok && lost == 0 && figures.lost_checks == 0 && exits_ok ? 0 : 1;
}

}  // namespace

int main(int argc, char ** argv) {
  const long seconds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 3600;
  if (seconds < 70) {
    std::cerr << "usage: tavrin_soak [SECONDS]  (at least 70: memory is judged from the first "
                 "minute on; default 3600)\n";
    return 2;
  }
  return run(std::chrono::seconds(seconds));
}
