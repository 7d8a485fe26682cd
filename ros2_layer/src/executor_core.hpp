// The machinery of executors: a DDS waitset over the read conditions of the nodes' entities,
// the nodes' change notifications, the context's shutdown and an interrupt.
#pragma once

#include <dds/dds.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "endpoints.hpp"
#include "ros2_layer/waitable.hpp"

namespace ros2_layer {

class NodeState;
class ContextState;

/// Waits for and runs the work of a set of nodes.
class ExecutorCore {
public:
  /// An executor core whose waits also end when `context` shuts down.
  explicit ExecutorCore(std::shared_ptr<ContextState> context);
  ~ExecutorCore();
  ExecutorCore(const ExecutorCore &) = delete;
  ExecutorCore & operator=(const ExecutorCore &) = delete;

  /// Adds a node; false when it is there already.
  bool addNode(const std::shared_ptr<NodeState> & node);
  /// Removes a node; false when it was not there.
  bool removeNode(const NodeState * node);
  /// The nodes that still exist.
  std::vector<std::shared_ptr<NodeState>> nodes();
  /// Wakes a waiting runOne.
  void interrupt();
  /// Runs one callback, waiting up to `timeout` (forever when negative) for work; false when
  /// none ran.
  bool runOne(std::chrono::nanoseconds timeout);
  /// Runs each entity that has work now once, without waiting; returns how many ran.
  size_t runReady();

private:
  struct Attached {
    std::weak_ptr<Waitable> waitable;
    dds_entity_t condition;
  };

  void synchronize();
  void wait(std::chrono::nanoseconds timeout);
  bool runQueued();

  std::shared_ptr<ContextState> context_;
  Entity waitset_;
  Entity interrupt_;

  std::mutex mutex_;  // guards nodes_ and nodes_changed_ against add/remove from other threads
  std::vector<std::weak_ptr<NodeState>> nodes_;
  bool nodes_changed_ = true;

  // Used by the spinning thread only.
  std::vector<std::weak_ptr<NodeState>> synchronized_nodes_;
  std::vector<uint64_t> synchronized_generations_;
  std::vector<dds_entity_t> attached_guards_;
  std::vector<Attached> attached_;
  // Indices into attached_ not run yet: ready_[next_ready_] onwards.
  std::vector<size_t> ready_;
  size_t next_ready_ = 0;
  // Kept between turns with their capacity, so that a steady spin allocates nothing here.
  std::vector<std::shared_ptr<NodeState>> live_nodes_;
  std::vector<uint64_t> live_generations_;
  std::vector<dds_attach_t> triggered_;
};

}  // namespace ros2_layer
