// Callback groups. The single-threaded executor of this layer runs every callback on its own
// thread, so a group only records the type it was created with.
#pragma once

#include "rclcpp/macros.hpp"

namespace rclcpp {

/// How callbacks of one group may run with respect to each other.
enum class CallbackGroupType {
  MutuallyExclusive,
  Reentrant,
};

/// A group of callbacks of one node.
class CallbackGroup {
public:
  RCLCPP_SMART_PTR_DEFINITIONS(CallbackGroup)

  /// A group of this type.
  explicit CallbackGroup(
      CallbackGroupType group_type, bool automatically_add_to_executor_with_node = true);

  /// The type the group was created with.
  const CallbackGroupType & type() const;
  /// Whether the group joins the executor that its node is added to.
  bool automatically_add_to_executor_with_node() const;

private:
  CallbackGroupType type_;
  bool automatically_add_to_executor_with_node_;
};

}  // namespace rclcpp
