#include "context_state.hpp"

#include <utility>

#include "dds_error.hpp"
#include "teardown.hpp"

namespace ros2_layer {

ContextState::ContextState()
    : shutdown_condition_(checkDds(
          dds_create_guardcondition(DDS_CYCLONEDDS_HANDLE), "failed to create a guard condition")) {
}

ContextState::~ContextState() = default;

bool ContextState::init(ParsedArguments arguments, const DomainSettings & settings) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (valid_.load()) {
    return false;
  }
  clearStopDeadline();
  arguments_ = std::move(arguments);
  settings_ = settings;
  shutdown_reason_.clear();
  checkDds(
      dds_set_guardcondition(shutdown_condition_.get(), false),
      "failed to reset a guard condition");
  valid_.store(true);
  return true;
}

bool ContextState::shutdown(const std::string & reason) {
  std::shared_ptr<Participant> participant;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!valid_.exchange(false)) {
      return false;
    }
    shutdown_reason_ = reason;
    // Nodes that still exist keep the participant alive; the context lets go of it.
    participant = std::move(participant_);
  }
  dds_set_guardcondition(shutdown_condition_.get(), true);
  wakeAll();
  return true;
}

std::string ContextState::shutdownReason() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shutdown_reason_;
}

ParsedArguments ContextState::arguments() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return arguments_;
}

DomainSettings ContextState::domainSettings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_;
}

std::shared_ptr<Participant> ContextState::participant(const std::string & prefix) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!valid_.load()) {
    throwLayerError(prefix, "the context is not valid (rclcpp::init not called, or shut down)");
  }
  if (!participant_) {
    participant_ = std::make_shared<Participant>(settings_);
  }
  return participant_;
}

void ContextState::wakeAll() {
  // Taking the lock orders the change before any waiter's next look at it.
  { std::lock_guard<std::mutex> lock(wake_mutex_); }
  wake_.notify_all();
}

void ContextState::notifyGraphChange() {
  {
    std::lock_guard<std::mutex> lock(wake_mutex_);
    ++graph_generation_;
  }
  wake_.notify_all();
}

uint64_t ContextState::graphGeneration() const {
  std::lock_guard<std::mutex> lock(wake_mutex_);
  return graph_generation_;
}

void ContextState::waitForGraphChange(
    uint64_t seen, std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(wake_mutex_);
  wake_.wait_until(lock, deadline, [&] { return graph_generation_ != seen || !valid_.load(); });
}

bool ContextState::sleepFor(std::chrono::nanoseconds duration) {
  std::unique_lock<std::mutex> lock(wake_mutex_);
  const uint64_t interruptions = sleep_interruptions_;
  const bool cut_short = wake_.wait_for(
      lock, duration, [&] { return !valid_.load() || sleep_interruptions_ != interruptions; });
  return !cut_short;
}

void ContextState::interruptSleeps() {
  {
    std::lock_guard<std::mutex> lock(wake_mutex_);
    ++sleep_interruptions_;
  }
  wake_.notify_all();
}

}  // namespace ros2_layer

#if defined(__SANITIZE_THREAD__)
// Cyclone DDS comes uninstrumented from the distribution and synchronises partly through its own
// atomics, which ThreadSanitizer cannot see: accesses made from inside it (its memcpy, recvmsg,
// malloc) would be reported as races. Only accesses from instrumented code are checked. It is
// defined here because every program that uses DDS links this file.
extern "C" const char * __tsan_default_options() { return "ignore_noninstrumented_modules=1"; }
#endif
