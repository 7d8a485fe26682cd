// `make soak`: an hour (or the seconds given) of 1 kHz controller events, with presses of the
// space and I/O buttons ten times a second and a grab and an emergency stop every five seconds,
// through the node's own device reader to the demo robot. It fails when the node's resident
// memory leaves a 1 MiB band around its size at the end of the first minute, or when a press
// does not reach the robot exactly once. Not part of the suite: it takes an hour.
//
// Run: make soak [SOAK_SECONDS=N]   (loopback only, DDS domain 232; N at least 70)
// Every minute it prints the node's resident memory against the 1-minute mark, the robot's,
// and the presses sent; at the end, whether each press reached the robot exactly once.
//
// `make soak-lifetime` (tavrin_soak --lifetime): what a robot's long shift does to the node's
// memory. Grabs and emergency stops are pressed ten times as often (each twice a second), the
// robot is killed (SIGKILL, its DDS lease left to lapse) every 20 s in the middle of a grab and
// started again at once or 2 s later, and its e-stop service takes turns at never answering,
// being absent and answering. The node's resident memory is sampled at each full minute; the
// run fails when the samples from minute 1 on spread over more than 256 KiB, or when a robot
// that lived long enough was never sent a grab (a grab button locked by a server gone).
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
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

/// A KiB figure of /proc/PID/status: resident memory by default, or a part of it such as
/// "RssAnon:" (the heap and other private memory) or "RssFile:" (code and other mapped files).
long residentKiB(pid_t pid, const std::string & field = "VmRSS:") {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) {
      return std::strtol(line.c_str() + field.size(), nullptr, 10);
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

// The lifetime mode's schedule: the soak's 100 ms slots, with a grab and an e-stop press in
// every fifth slot each, ten times the soak's rate.
constexpr int kSlotsPerRequest = 5;
constexpr int kLifetimeGrabSlot = 1;
constexpr int kLifetimeEstopSlot = 3;
constexpr auto kRobotLife = 20s;
// A robot that shows no grab running this long after its life is up is killed all the same.
constexpr auto kMidTaskWait = 10s;
constexpr std::array<std::chrono::seconds, 2> kRestartPauses{0s, 2s};
constexpr std::array<const char *, 3> kEstopModes{"silent", "none", "answer"};
constexpr long kLifetimeBandKiB = 256;

/// The demo robot, killed and started again through the run.
class MortalRobot {
public:
  void start() {
    mode_ = kEstopModes[lives_ % kEstopModes.size()];
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{TAVRIN_DEMO_ROBOT, "--plain", "--estop", mode_});
    born_ = Clock::now();
    ++lives_;
  }

  bool alive() const { return process_ != nullptr; }

  /// Kills the robot once its life is up, in the middle of a grab if one comes soon enough;
  /// returns the pause before the next one starts.
  std::optional<std::chrono::seconds> killWhenDue() {
    const auto age = Clock::now() - born_;
    if (age < kRobotLife || (!grabRunning() && age < kRobotLife + kMidTaskWait)) {
      return std::nullopt;
    }
    kills_mid_grab_ += grabRunning() ? 1 : 0;
    const size_t goals = process_->countOutput("goal accepted");
    goals_ += goals;
    estops_ += process_->countOutput("e-stop    request");
    if (goals == 0) {
      ++lives_without_goal_;
      std::printf(
          "  a robot (e-stop %s) lived %lld s without a grab goal\n", mode_,
          static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(age).count()));
    }
    process_->sendSignal(SIGKILL);
    process_->waitForExit(5s);
    process_.reset();
    return kRestartPauses[lives_ % kRestartPauses.size()];
  }

  void stop() {
    if (process_) {
      process_->sendSignal(SIGINT);
      process_->waitForExit(10s);
      process_.reset();
    }
  }

  size_t lives() const { return lives_; }
  size_t goals() const { return goals_ + (process_ ? process_->countOutput("goal accepted") : 0); }
  size_t estops() const {
    return estops_ + (process_ ? process_->countOutput("e-stop    request") : 0);
  }
  size_t livesWithoutGoal() const { return lives_without_goal_; }
  size_t killsMidGrab() const { return kills_mid_grab_; }

private:
  bool grabRunning() const {
    const auto lines = process_->lines();
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
      if (line->find("task      ") != std::string::npos) {
        return line->find("task      stage 2") != std::string::npos ||
               line->find("task      stage 3") != std::string::npos;
      }
    }
    return false;
  }

  std::unique_ptr<ChildProcess> process_;
  const char * mode_ = "";
  Clock::time_point born_;
  size_t lives_ = 0;
  size_t goals_ = 0;
  size_t estops_ = 0;
  size_t lives_without_goal_ = 0;
  size_t kills_mid_grab_ = 0;
};

int lifetime(std::chrono::seconds duration) {
  tavrin_test::JoystickStandIn device;
  device.plugFifo();
  MortalRobot robot;
  robot.start();
  tavrin_test::DeviceNode node(device);
  device.openFifoWriter();
  if (!node.waitForOutput("joyOpen", 30s)) {
    std::printf("the node did not come up:\n%s\n", node.output().c_str());
    return 1;
  }
  std::printf(
      "lifetime soak: %lld s, a grab and an e-stop pressed every %lld ms, the robot killed "
      "every %lld s mid-grab; node pid %d\n",
      static_cast<long long>(duration.count()),
      static_cast<long long>((kSlot * kSlotsPerRequest).count()),
      static_cast<long long>(kRobotLife.count()), node.pid());
  std::fflush(stdout);
  const auto start = Clock::now();
  auto next_event = start;
  auto slot_start = start;
  auto next_minute = start + 60s;
  auto restart_at = start;  // for a robot that is down
  std::vector<long> minute_kib;
  std::vector<uint8_t> held;
  int slot = 0;
  int16_t jitter = kJitter;
  size_t events = 0;
  size_t grabs = 0;
  size_t estops = 0;
  while (Clock::now() - start < duration) {
    std::this_thread::sleep_until(next_event);
    next_event += 1ms;
    const auto now = Clock::now();
    std::vector<js_event> batch{joyEvent(
        JS_EVENT_AXIS, static_cast<uint8_t>(events % 2), jitter = static_cast<int16_t>(-jitter))};
    const auto release_held = [&] {
      for (const uint8_t button : held) {
        batch.push_back(joyEvent(JS_EVENT_BUTTON, button, 0));
      }
      held.clear();
    };
    if (now >= slot_start) {
      release_held();
      held = {kSpaceAndIo[static_cast<size_t>(slot) % kSpaceAndIo.size()].button};
      if (slot % kSlotsPerRequest == kLifetimeGrabSlot) {
        held.push_back(kGrab.button);
        ++grabs;
      } else if (slot % kSlotsPerRequest == kLifetimeEstopSlot) {
        held.push_back(kEstop.button);
        ++estops;
      }
      for (const uint8_t button : held) {
        batch.push_back(joyEvent(JS_EVENT_BUTTON, button, 1));
      }
      ++slot;
      slot_start += kSlot;
      // Once a slot: the robot's life and death.
      if (robot.alive()) {
        if (const auto pause = robot.killWhenDue()) {
          restart_at = Clock::now() + *pause;
        }
      } else if (now >= restart_at) {
        robot.start();
      }
    } else if (now >= slot_start - kSlot + kTapHold) {
      release_held();
    }
    device.send(batch);
    events += batch.size();
    if (now >= next_minute) {
      next_minute += 60s;
      minute_kib.push_back(residentKiB(node.pid()));
      const auto [lowest, highest] = std::minmax_element(minute_kib.begin(), minute_kib.end());
      // Anonymous memory is what requests could leak; file-backed is code paged in.
      std::printf(
          "minute %2zu  node RSS %ld KiB (minute 1: %ld, band %ld KiB; anonymous %ld, file-backed "
          "%ld)  robot lives %zu, grab goals %zu, e-stop requests %zu; presses: grabs %zu, "
          "e-stops %zu; events %zu\n",
          minute_kib.size(), minute_kib.back(), minute_kib.front(), *highest - *lowest,
          residentKiB(node.pid(), "RssAnon:"), residentKiB(node.pid(), "RssFile:"), robot.lives(),
          robot.goals(), robot.estops(), grabs, estops, events);
      std::fflush(stdout);
    }
  }
  robot.stop();
  node.sendSignal(SIGINT);
  const bool node_clean = tavrin_tools::exitedCleanly(node.waitForExit(10s));
  if (minute_kib.empty()) {
    std::printf("lifetime soak FAILED: no minute completed\n");
    return 1;
  }
  const auto [lowest, highest] = std::minmax_element(minute_kib.begin(), minute_kib.end());
  const long band = *highest - *lowest;
  const bool passed = band <= kLifetimeBandKiB && robot.livesWithoutGoal() == 0 && node_clean;
  std::printf(
      "lifetime soak %s: node RSS at minute 1 %ld KiB, at minute %zu %ld KiB (%+ld); band over "
      "the %zu minute samples %ld KiB (lowest %ld, highest %ld; limit %ld); %zu robot lives, "
      "%zu killed mid-grab, %zu without a grab goal; node exit %s\n",
      passed ? "passed" : "FAILED", minute_kib.front(), minute_kib.size(), minute_kib.back(),
      minute_kib.back() - minute_kib.front(), minute_kib.size(), band, *lowest, *highest,
      kLifetimeBandKiB, robot.lives(), robot.killsMidGrab(), robot.livesWithoutGoal(),
      node_clean ? "clean" : "NOT clean");
  return passed ? 0 : 1;
}

}  // namespace

int main(int argc, char ** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  const bool lifetime_mode = !arguments.empty() && arguments.front() == "--lifetime";
  if (lifetime_mode) {
    arguments.erase(arguments.begin());
  }
  const long seconds = !arguments.empty() ? std::strtol(arguments.front().c_str(), nullptr, 10)
                                          : (lifetime_mode ? 1860 : 3600);
  if (seconds < 70) {
    std::cerr << "usage: tavrin_soak [--lifetime] [SECONDS]  (at least 70: memory is judged "
                 "from the first minute on; default 3600, with --lifetime 1860)\n";
    return 2;
  }
  return lifetime_mode ? lifetime(std::chrono::seconds(seconds))
                       : run(std::chrono::seconds(seconds));
}
