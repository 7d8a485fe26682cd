// The state of a node that its entities and executors share.
#pragma once

#include <dds/dds.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "arguments.hpp"
#include "context_state.hpp"
#include "endpoints.hpp"
#include "participant.hpp"
#include "rclcpp/context.hpp"
#include "rclcpp/node_options.hpp"
#include "rclcpp/parameter_value.hpp"
#include "ros2_layer/waitable.hpp"

namespace ros2_layer {

/// A node's names, its participant, its entities and their announcement.
class NodeState {
public:
  /// Applies the `__node`/`__ns` rules, validates the names and announces the node. Throws
  /// the name errors, the argument errors of the options, and RCLError when the context is
  /// not valid.
  NodeState(
      const std::string & node_name, const std::string & namespace_,
      const rclcpp::NodeOptions & options);
  ~NodeState();
  NodeState(const NodeState &) = delete;
  NodeState & operator=(const NodeState &) = delete;

  /// The node's name after remapping.
  const std::string & name() const { return name_; }
  /// The node's namespace after remapping.
  const std::string & nodeNamespace() const { return node_namespace_; }
  /// "/ns/name".
  const std::string & fullyQualifiedName() const { return fully_qualified_name_; }
  /// The node's context.
  const rclcpp::Context::SharedPtr & context() const { return context_; }
  /// The state of the node's context.
  ContextState & contextState() const { return *context_state_; }
  /// The participant the node's entities live on.
  Participant & participant() const { return *participant_; }
  /// The parameter overrides that apply to this node, later sources winning.
  const std::map<std::string, rclcpp::ParameterValue> & parameterOverrides() const {
    return parameter_overrides_;
  }

  /// The fully qualified, remapped name of a topic or service; throws the name errors.
  std::string resolveName(const std::string & name, bool is_service) const;

  /// Registers an entity for the node's executor and wakes it.
  void addWaitable(const std::shared_ptr<Waitable> & waitable);
  /// Forgets entities that no longer exist and wakes the executor.
  void waitableRemoved();
  /// The live entities; `generation` tells whether they changed since the last call.
  std::vector<std::shared_ptr<Waitable>> waitables(uint64_t & generation) const;
  /// Changes whenever an entity is added or removed.
  uint64_t generation() const { return generation_.load(); }
  /// The guard condition that triggers when the entities change.
  dds_entity_t notifyCondition() const { return notify_condition_.get(); }
  /// Whether an executor has the node.
  std::atomic_bool & associatedWithExecutor() { return associated_with_executor_; }

  /// Announces a reader or writer of the node in ros_discovery_info.
  void announceEndpoint(const Gid & gid, bool is_writer);
  /// Withdraws a reader or writer of the node.
  void withdrawEndpoint(const Gid & gid, bool is_writer);

private:
  rclcpp::Context::SharedPtr context_;
  std::shared_ptr<ContextState> context_state_;
  std::vector<RemapRule> remap_rules_;
  std::string name_;
  std::string node_namespace_;
  std::string fully_qualified_name_;
  std::map<std::string, rclcpp::ParameterValue> parameter_overrides_;
  std::shared_ptr<Participant> participant_;
  uint64_t graph_key_ = 0;

  Entity notify_condition_;
  std::atomic<uint64_t> generation_{0};
  std::atomic_bool associated_with_executor_{false};
  mutable std::mutex mutex_;
  std::vector<std::weak_ptr<Waitable>> waitables_;
};

}  // namespace ros2_layer
