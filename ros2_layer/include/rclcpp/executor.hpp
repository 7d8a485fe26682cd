// Executors: run the callbacks of the nodes added to them on the calling thread, woken by DDS
// when data arrives, when shutdown happens or when cancel() is called.
#pragma once

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>

#include "rclcpp/context.hpp"
#include "rclcpp/executor_options.hpp"
#include "rclcpp/future_return_code.hpp"
#include "rclcpp/macros.hpp"
#include "rclcpp/node_interfaces/node_base_interface.hpp"

namespace ros2_layer {
class ExecutorCore;
}

namespace rclcpp {

class Node;

/// The base of executors: which nodes to serve and how to run their work.
class Executor {
public:
  RCLCPP_SMART_PTR_DEFINITIONS_NOT_COPYABLE(Executor)

  /// An executor of the options' context.
  explicit Executor(const rclcpp::ExecutorOptions & options = rclcpp::ExecutorOptions());
  virtual ~Executor();

  /// Runs callbacks until the context shuts down or cancel() is called.
  virtual void spin() = 0;

  /// Adds a node; throws std::runtime_error when the node already has an executor.
  virtual void add_node(
      rclcpp::node_interfaces::NodeBaseInterface::SharedPtr node_ptr, bool notify = true);
  /// Adds a node; throws std::runtime_error when the node already has an executor.
  virtual void add_node(std::shared_ptr<rclcpp::Node> node_ptr, bool notify = true);
  /// Removes a node; throws std::runtime_error when the node is not in this executor.
  virtual void remove_node(
      rclcpp::node_interfaces::NodeBaseInterface::SharedPtr node_ptr, bool notify = true);
  /// Removes a node; throws std::runtime_error when the node is not in this executor.
  virtual void remove_node(std::shared_ptr<rclcpp::Node> node_ptr, bool notify = true);

  /// Runs the work that is ready now, once each, without waiting for more.
  virtual void spin_some(std::chrono::nanoseconds max_duration = std::chrono::nanoseconds(0));
  /// Runs work until none is ready or `max_duration` has passed.
  virtual void spin_all(std::chrono::nanoseconds max_duration);
  /// Runs at most one callback, waiting up to `timeout` (forever when negative) for one.
  virtual void spin_once(std::chrono::nanoseconds timeout = std::chrono::nanoseconds(-1));

  /// Spins until the future is ready, the timeout passes or the context shuts down.
  template <typename FutureT, typename TimeRepT = int64_t, typename TimeT = std::milli>
  FutureReturnCode spin_until_future_complete(
      const FutureT & future,
      std::chrono::duration<TimeRepT, TimeT> timeout = std::chrono::duration<TimeRepT, TimeT>(-1)) {
    if (future.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
      return FutureReturnCode::SUCCESS;
    }
    const auto timeout_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(timeout);
    auto end_time = std::chrono::steady_clock::now();
    if (timeout_ns > std::chrono::nanoseconds::zero()) {
      end_time += timeout_ns;
    }
    std::chrono::nanoseconds timeout_left = timeout_ns;
    SpinningGuard guard(*this, "spin_until_future_complete() called while already spinning");
    while (context_is_valid() && spinning.load()) {
      spin_once_impl(timeout_left);
      if (future.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        return FutureReturnCode::SUCCESS;
      }
      if (timeout_ns < std::chrono::nanoseconds::zero()) {
        continue;
      }
      const auto now = std::chrono::steady_clock::now();
      if (now >= end_time) {
        return FutureReturnCode::TIMEOUT;
      }
      timeout_left = std::chrono::duration_cast<std::chrono::nanoseconds>(end_time - now);
    }
    return FutureReturnCode::INTERRUPTED;
  }

  /// Makes spin() return soon; safe to call from any thread.
  void cancel();

protected:
  /// Marks the executor as spinning for its lifetime; throws when it already was.
  class SpinningGuard {
  public:
    SpinningGuard(Executor & executor, const char * error_message);
    ~SpinningGuard();

  private:
    Executor & executor_;
  };

  /// Runs at most one callback, waiting up to `timeout` for one.
  void spin_once_impl(std::chrono::nanoseconds timeout);
  /// Whether the executor's context is still valid.
  bool context_is_valid() const;

  std::atomic_bool spinning{false};
  std::shared_ptr<rclcpp::Context> context_;

private:
  RCLCPP_DISABLE_COPY(Executor)

  void spin_some_impl(std::chrono::nanoseconds max_duration, bool exhaustive);

  std::unique_ptr<ros2_layer::ExecutorCore> core_;
};

namespace executors {

/// Runs every callback on the thread that calls spin().
class SingleThreadedExecutor : public rclcpp::Executor {
public:
  RCLCPP_SMART_PTR_DEFINITIONS(SingleThreadedExecutor)

  /// An executor of the options' context.
  explicit SingleThreadedExecutor(
      const rclcpp::ExecutorOptions & options = rclcpp::ExecutorOptions());
  ~SingleThreadedExecutor() override;

  /// Runs callbacks until the context shuts down or cancel() is called.
  void spin() override;

private:
  RCLCPP_DISABLE_COPY(SingleThreadedExecutor)
};

}  // namespace executors
}  // namespace rclcpp
