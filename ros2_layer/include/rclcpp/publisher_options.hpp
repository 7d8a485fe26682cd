// Options of publishers.
#pragma once

#include <memory>

#include "rclcpp/callback_group.hpp"

namespace rclcpp {

/// Options of a publisher.
template <typename Allocator>
struct PublisherOptionsWithAllocator {
  /// Accepted for source compatibility; publishers have no callbacks here.
  rclcpp::CallbackGroup::SharedPtr callback_group = nullptr;
  /// The allocator of the messages.
  std::shared_ptr<Allocator> allocator = nullptr;
};

using PublisherOptions = PublisherOptionsWithAllocator<std::allocator<void>>;

}  // namespace rclcpp
