// Options of subscriptions.
#pragma once

#include <memory>

#include "rclcpp/callback_group.hpp"

namespace rclcpp {

/// Options of a subscription.
template <typename Allocator>
struct SubscriptionOptionsWithAllocator {
  /// Accepted for source compatibility; every callback runs on the executor's thread.
  rclcpp::CallbackGroup::SharedPtr callback_group = nullptr;
  /// Drop messages published by the same process.
  bool ignore_local_publications = false;
  /// The allocator of the messages.
  std::shared_ptr<Allocator> allocator = nullptr;
};

using SubscriptionOptions = SubscriptionOptionsWithAllocator<std::allocator<void>>;

}  // namespace rclcpp
