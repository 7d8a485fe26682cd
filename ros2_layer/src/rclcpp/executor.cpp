#include "rclcpp/executor.hpp"

#include <sstream>

#include "context_state.hpp"
#include "executor_core.hpp"
#include "node_state.hpp"
#include "rclcpp/executors.hpp"
#include "rclcpp/node.hpp"

namespace rclcpp {

std::ostream & operator<<(std::ostream & os, const FutureReturnCode & future_return_code) {
  return os << to_string(future_return_code);
}

std::string to_string(const FutureReturnCode & future_return_code) {
  const auto number = static_cast<int>(future_return_code);
  switch (future_return_code) {
    case FutureReturnCode::SUCCESS:
      return "SUCCESS (" + std::to_string(number) + ")";
    case FutureReturnCode::INTERRUPTED:
      return "INTERRUPTED (" + std::to_string(number) + ")";
    case FutureReturnCode::TIMEOUT:
      return "TIMEOUT (" + std::to_string(number) + ")";
  }
  return "Unknown enum value (" + std::to_string(number) + ")";
}

Executor::Executor(const rclcpp::ExecutorOptions & options)
    : context_(options.context ? options.context : contexts::get_global_default_context())
    , core_(
          std::make_unique<ros2_layer::ExecutorCore>(ros2_layer::ContextAccess::state(*context_))) {
}

Executor::~Executor() {
  // Nodes that were not removed may join another executor afterwards.
  for (const auto & node : core_->nodes()) {
    node->associatedWithExecutor().store(false);
  }
}

void Executor::add_node(node_interfaces::NodeBaseInterface::SharedPtr node_ptr, bool notify) {
  (void)notify;
  if (node_ptr->get_associated_with_executor_atomic().exchange(true)) {
    throw std::runtime_error(
        "Node '" + std::string(node_ptr->get_fully_qualified_name()) +
        "' has already been added to an executor.");
  }
  core_->addNode(node_ptr->layer_state());
}

void Executor::add_node(std::shared_ptr<rclcpp::Node> node_ptr, bool notify) {
  add_node(node_ptr->get_node_base_interface(), notify);
}

void Executor::remove_node(node_interfaces::NodeBaseInterface::SharedPtr node_ptr, bool notify) {
  (void)notify;
  if (!core_->removeNode(node_ptr->layer_state().get())) {
    throw std::runtime_error("Node needs to be associated with this executor.");
  }
  node_ptr->get_associated_with_executor_atomic().store(false);
}

void Executor::remove_node(std::shared_ptr<rclcpp::Node> node_ptr, bool notify) {
  remove_node(node_ptr->get_node_base_interface(), notify);
}

void Executor::spin_some(std::chrono::nanoseconds max_duration) {
  spin_some_impl(max_duration, false);
}

void Executor::spin_all(std::chrono::nanoseconds max_duration) {
  if (max_duration <= std::chrono::nanoseconds::zero()) {
    throw std::invalid_argument("max_duration must be positive");
  }
  spin_some_impl(max_duration, true);
}

void Executor::spin_some_impl(std::chrono::nanoseconds max_duration, bool exhaustive) {
  const auto start = std::chrono::steady_clock::now();
  auto time_left = [&] {
    return max_duration == std::chrono::nanoseconds::zero() ||
           std::chrono::steady_clock::now() - start < max_duration;
  };
  SpinningGuard guard(*this, "spin_some() called while already spinning");
  while (context_is_valid() && spinning.load() && time_left()) {
    if (core_->runReady() == 0 || !exhaustive) {
      break;
    }
  }
}

void Executor::spin_once(std::chrono::nanoseconds timeout) {
  SpinningGuard guard(*this, "spin_once() called while already spinning");
  spin_once_impl(timeout);
}

void Executor::cancel() {
  spinning.store(false);
  core_->interrupt();
}

Executor::SpinningGuard::SpinningGuard(Executor & executor, const char * error_message)
    : executor_(executor) {
  if (executor_.spinning.exchange(true)) {
    throw std::runtime_error(error_message);
  }
}

Executor::SpinningGuard::~SpinningGuard() { executor_.spinning.store(false); }

void Executor::spin_once_impl(std::chrono::nanoseconds timeout) { core_->runOne(timeout); }

bool Executor::context_is_valid() const { return context_->is_valid(); }

namespace executors {

SingleThreadedExecutor::SingleThreadedExecutor(const rclcpp::ExecutorOptions & options)
    : rclcpp::Executor(options) {}

SingleThreadedExecutor::~SingleThreadedExecutor() = default;

void SingleThreadedExecutor::spin() {
  SpinningGuard guard(*this, "spin() called while already spinning");
  while (context_is_valid() && spinning.load()) {
    spin_once_impl(std::chrono::nanoseconds(-1));
  }
}

}  // namespace executors

void spin(node_interfaces::NodeBaseInterface::SharedPtr node_ptr) {
  executors::SingleThreadedExecutor executor;
  executor.add_node(node_ptr);
  executor.spin();
  executor.remove_node(node_ptr);
}

void spin(rclcpp::Node::SharedPtr node_ptr) { spin(node_ptr->get_node_base_interface()); }

}  // namespace rclcpp
