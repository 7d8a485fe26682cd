// The state behind rclcpp::Context: the parsed command line, validity, the participant, and
// the wake-ups that shutdown and changes of the DDS graph cause.
#pragma once

#include <dds/dds.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "arguments.hpp"
#include "endpoints.hpp"
#include "participant.hpp"
#include "rclcpp/context.hpp"

namespace ros2_layer {

/// Everything a context owns between init and shutdown.
class ContextState {
public:
  ContextState();
  ~ContextState();
  ContextState(const ContextState &) = delete;
  ContextState & operator=(const ContextState &) = delete;

  /// Makes the context valid with these arguments and DDS settings; false when already valid.
  bool init(ParsedArguments arguments, const DomainSettings & settings);
  /// True between init and shutdown.
  bool isValid() const { return valid_.load(); }
  /// Invalidates the context and wakes all waiters; false when it was not valid.
  bool shutdown(const std::string & reason);
  /// The reason given to shutdown.
  std::string shutdownReason() const;
  /// The command line given to init.
  ParsedArguments arguments() const;
  /// The DDS settings given to init.
  DomainSettings domainSettings() const;
  /// The participant of this context, created on first use; throws RCLError with `prefix`
  /// when the context is not valid.
  std::shared_ptr<Participant> participant(const std::string & prefix);

  /// The guard condition that triggers at shutdown.
  dds_entity_t shutdownCondition() const { return shutdown_condition_.get(); }

  /// Counts a change of matched endpoints and wakes the waiters for one.
  void notifyGraphChange();
  /// The number of graph changes so far.
  uint64_t graphGeneration() const;
  /// Waits until the graph generation differs from `seen`, shutdown, or the deadline.
  void waitForGraphChange(uint64_t seen, std::chrono::steady_clock::time_point deadline);
  /// Sleeps; false when shutdown or interruptSleeps() cut it short.
  bool sleepFor(std::chrono::nanoseconds duration);
  /// Cuts every current sleepFor short.
  void interruptSleeps();

private:
  void wakeAll();

  std::atomic<bool> valid_{false};
  Entity shutdown_condition_;

  // Guards the state of one init/shutdown cycle. The participant is created under it, so DDS
  // listeners must never take it: they use wake_mutex_.
  mutable std::mutex mutex_;
  std::string shutdown_reason_;
  ParsedArguments arguments_;
  DomainSettings settings_;
  std::shared_ptr<Participant> participant_;

  mutable std::mutex wake_mutex_;
  std::condition_variable wake_;
  uint64_t graph_generation_ = 0;
  uint64_t sleep_interruptions_ = 0;
};

/// Reaches the state of a context.
struct ContextAccess {
  /// The state of `context`.
  static const std::shared_ptr<ContextState> & state(const rclcpp::Context & context) {
    return context.state_;
  }
};

}  // namespace ros2_layer
