#include "teardown.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "log_line.hpp"

namespace ros2_layer {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A deletion can take much longer than a stop may: Cyclone stops a domain's receive threads by
// sending each of them a packet, which may never arrive, and writers with unacknowledged samples
// linger for up to a second each; which of them held a deletion up cannot be told from here. The
// whole teardown must fit into the two seconds a stopping program has, with room left for the
// program's own steps.
constexpr auto kStopBudget = 1000ms;
// A deletion that starts after the budget is spent still gets this long.
constexpr auto kDeletionGrace = 100ms;

// Trivially destructible, so that entities deleted while the program exits can still use them.
std::mutex deadline_mutex;
std::optional<Clock::time_point> stop_deadline;
std::atomic<bool> teardown_abandoned{false};

std::optional<Clock::time_point> deletionDeadline() {
  std::lock_guard<std::mutex> lock(deadline_mutex);
  if (!stop_deadline) {
    return std::nullopt;
  }
  return std::max(*stop_deadline, Clock::now() + kDeletionGrace);
}

void abandonTeardown() {
  if (!teardown_abandoned.exchange(true)) {
    logLine(
        "ERROR", "DDS teardown did not finish in time after the stop request; ending without it");
  }
}

}  // namespace

void startStopDeadline() {
  std::lock_guard<std::mutex> lock(deadline_mutex);
  if (!stop_deadline) {
    stop_deadline = Clock::now() + kStopBudget;
  }
}

void clearStopDeadline() {
  std::lock_guard<std::mutex> lock(deadline_mutex);
  stop_deadline.reset();
}

void deleteEntity(dds_entity_t handle) {
  // Once one deletion is stuck, the next may wait for the same lock or thread: leave them all.
  if (teardown_abandoned) {
    return;
  }
  const auto deadline = deletionDeadline();
  if (!deadline) {
    dds_delete(handle);
    return;
  }
  auto deleted = std::make_shared<std::promise<void>>();
  std::future<void> done = deleted->get_future();
  std::thread deleter([handle, deleted] {
    dds_delete(handle);
    deleted->set_value();
  });
  if (done.wait_until(*deadline) == std::future_status::ready) {
    deleter.join();
    return;
  }
  deleter.detach();
  abandonTeardown();
}

}  // namespace ros2_layer
