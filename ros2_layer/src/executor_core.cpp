#include "executor_core.hpp"

#include <algorithm>

#include "context_state.hpp"
#include "dds_error.hpp"
#include "node_state.hpp"

namespace ros2_layer {
namespace {

// Attach arguments below zero mark the guard conditions; the others index attached_.
constexpr dds_attach_t kInterruptArgument = -1;
constexpr dds_attach_t kGuardArgument = -2;

dds_duration_t toDdsTimeout(std::chrono::nanoseconds timeout) {
  return timeout < std::chrono::nanoseconds::zero() ? DDS_INFINITY : timeout.count();
}

}  // namespace

ExecutorCore::ExecutorCore(std::shared_ptr<ContextState> context)
    : context_(std::move(context))
    , waitset_(checkDds(dds_create_waitset(DDS_CYCLONEDDS_HANDLE), "failed to create a waitset"))
    , interrupt_(checkDds(
          dds_create_guardcondition(DDS_CYCLONEDDS_HANDLE), "failed to create a guard condition")) {
  checkDds(
      dds_waitset_attach(waitset_.get(), interrupt_.get(), kInterruptArgument),
      "failed to attach to a waitset");
  if (context_) {
    checkDds(
        dds_waitset_attach(waitset_.get(), context_->shutdownCondition(), kGuardArgument),
        "failed to attach to a waitset");
  }
}

ExecutorCore::~ExecutorCore() = default;

bool ExecutorCore::addNode(const std::shared_ptr<NodeState> & node) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto & existing : nodes_) {
      if (existing.lock() == node) {
        return false;
      }
    }
    nodes_.push_back(node);
    nodes_changed_ = true;
  }
  interrupt();
  return true;
}

bool ExecutorCore::removeNode(const NodeState * node) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = std::find_if(nodes_.begin(), nodes_.end(), [node](const auto & entry) {
      return entry.lock().get() == node;
    });
    if (found == nodes_.end()) {
      return false;
    }
    nodes_.erase(found);
    nodes_changed_ = true;
  }
  interrupt();
  return true;
}

std::vector<std::shared_ptr<NodeState>> ExecutorCore::nodes() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::shared_ptr<NodeState>> live;
  for (const auto & entry : nodes_) {
    if (auto node = entry.lock()) {
      live.push_back(std::move(node));
    }
  }
  return live;
}

void ExecutorCore::interrupt() { dds_set_guardcondition(interrupt_.get(), true); }

void ExecutorCore::synchronize() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (nodes_changed_) {
      synchronized_nodes_ = nodes_;
      synchronized_generations_.clear();
      nodes_changed_ = false;
    }
  }
  std::vector<std::shared_ptr<NodeState>> & nodes = live_nodes_;
  std::vector<uint64_t> & generations = live_generations_;
  nodes.clear();
  generations.clear();
  for (const auto & entry : synchronized_nodes_) {
    if (auto node = entry.lock()) {
      // Reset before reading the generation: a change after the read triggers it again.
      dds_set_guardcondition(node->notifyCondition(), false);
      generations.push_back(node->generation());
      nodes.push_back(std::move(node));
    }
  }
  if (generations == synchronized_generations_ && !synchronized_generations_.empty()) {
    nodes.clear();  // holding them would keep a removed node alive until the next turn
    return;
  }
  // Detaching a deleted entity fails harmlessly: Cyclone detached it when it was deleted.
  for (dds_entity_t guard : attached_guards_) {
    dds_waitset_detach(waitset_.get(), guard);
  }
  for (const Attached & entry : attached_) {
    dds_waitset_detach(waitset_.get(), entry.condition);
  }
  attached_guards_.clear();
  attached_.clear();
  ready_.clear();
  next_ready_ = 0;
  synchronized_generations_.clear();
  for (const auto & node : nodes) {
    uint64_t generation = 0;
    for (const auto & waitable : node->waitables(generation)) {
      const auto index = static_cast<dds_attach_t>(attached_.size());
      attached_.push_back(Attached{waitable, waitable->condition()});
      dds_waitset_attach(waitset_.get(), waitable->condition(), index);
    }
    synchronized_generations_.push_back(generation);
    dds_waitset_attach(waitset_.get(), node->notifyCondition(), kGuardArgument);
    attached_guards_.push_back(node->notifyCondition());
  }
  nodes.clear();
}

void ExecutorCore::wait(std::chrono::nanoseconds timeout) {
  synchronize();
  std::vector<dds_attach_t> & triggered = triggered_;
  triggered.resize(attached_.size() + attached_guards_.size() + 2);
  const dds_return_t count =
      dds_waitset_wait(waitset_.get(), triggered.data(), triggered.size(), toDdsTimeout(timeout));
  checkDds(count, "failed to wait for work");
  for (dds_return_t i = 0; i < count && static_cast<size_t>(i) < triggered.size(); ++i) {
    if (triggered[i] == kInterruptArgument) {
      dds_set_guardcondition(interrupt_.get(), false);
    } else if (triggered[i] >= 0) {
      ready_.push_back(static_cast<size_t>(triggered[i]));
    }
  }
}

bool ExecutorCore::runQueued() {
  while (next_ready_ < ready_.size()) {
    const size_t index = ready_[next_ready_++];
    if (next_ready_ == ready_.size()) {
      ready_.clear();
      next_ready_ = 0;
    }
    if (index >= attached_.size()) {
      continue;
    }
    if (auto waitable = attached_[index].waitable.lock()) {
      if (waitable->execute()) {
        return true;
      }
    }
  }
  return false;
}

bool ExecutorCore::runOne(std::chrono::nanoseconds timeout) {
  if (runQueued()) {
    return true;
  }
  if (context_ && !context_->isValid()) {
    return false;
  }
  // A wake-up by a guard condition runs nothing; the caller decides whether to wait again.
  wait(timeout);
  return runQueued();
}

size_t ExecutorCore::runReady() {
  wait(std::chrono::nanoseconds::zero());
  const std::vector<size_t> ready(
      ready_.begin() + static_cast<std::ptrdiff_t>(next_ready_), ready_.end());
  ready_.clear();
  next_ready_ = 0;
  size_t ran = 0;
  for (size_t index : ready) {
    if (index < attached_.size()) {
      if (auto waitable = attached_[index].waitable.lock()) {
        ran += waitable->execute() ? 1 : 0;
      }
    }
  }
  return ran;
}

}  // namespace ros2_layer
