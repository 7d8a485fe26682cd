// The smart-pointer alias and copy-control macros that rclcpp classes use.
#pragma once

#include <memory>
#include <utility>

/// Deletes the copy constructor and copy assignment of a class.
#define RCLCPP_DISABLE_COPY(...)             \
  __VA_ARGS__(const __VA_ARGS__ &) = delete; \
  __VA_ARGS__ & operator=(const __VA_ARGS__ &) = delete;

/// SharedPtr/ConstSharedPtr aliases and a make_shared factory.
#define RCLCPP_SHARED_PTR_DEFINITIONS(...)                             \
  using SharedPtr = std::shared_ptr<__VA_ARGS__>;                      \
  using ConstSharedPtr = std::shared_ptr<const __VA_ARGS__>;           \
  template <typename... Args>                                          \
  static std::shared_ptr<__VA_ARGS__> make_shared(Args &&... args) {   \
    return std::make_shared<__VA_ARGS__>(std::forward<Args>(args)...); \
  }

/// WeakPtr/ConstWeakPtr aliases.
#define RCLCPP_WEAK_PTR_DEFINITIONS(...)      \
  using WeakPtr = std::weak_ptr<__VA_ARGS__>; \
  using ConstWeakPtr = std::weak_ptr<const __VA_ARGS__>;

/// UniquePtr alias and a make_unique factory.
#define RCLCPP_UNIQUE_PTR_DEFINITIONS(...)                                             \
  using UniquePtr = std::unique_ptr<__VA_ARGS__>;                                      \
  template <typename... Args>                                                          \
  static std::unique_ptr<__VA_ARGS__> make_unique(Args &&... args) {                   \
    return std::unique_ptr<__VA_ARGS__>(new __VA_ARGS__(std::forward<Args>(args)...)); \
  }

/// All smart-pointer aliases and factories of a copyable class.
#define RCLCPP_SMART_PTR_DEFINITIONS(...)    \
  RCLCPP_SHARED_PTR_DEFINITIONS(__VA_ARGS__) \
  RCLCPP_WEAK_PTR_DEFINITIONS(__VA_ARGS__)   \
  RCLCPP_UNIQUE_PTR_DEFINITIONS(__VA_ARGS__)

/// All smart-pointer aliases and factories of a class that cannot be copied.
#define RCLCPP_SMART_PTR_DEFINITIONS_NOT_COPYABLE(...) \
  RCLCPP_SHARED_PTR_DEFINITIONS(__VA_ARGS__)           \
  RCLCPP_WEAK_PTR_DEFINITIONS(__VA_ARGS__)             \
  __RCLCPP_UNIQUE_PTR_ALIAS(__VA_ARGS__)

/// The smart-pointer aliases only, without factories.
#define RCLCPP_SMART_PTR_ALIASES_ONLY(...) \
  __RCLCPP_SHARED_PTR_ALIAS(__VA_ARGS__)   \
  __RCLCPP_WEAK_PTR_ALIAS(__VA_ARGS__)     \
  __RCLCPP_UNIQUE_PTR_ALIAS(__VA_ARGS__)

#define __RCLCPP_SHARED_PTR_ALIAS(...)            \
  using SharedPtr = std::shared_ptr<__VA_ARGS__>; \
  using ConstSharedPtr = std::shared_ptr<const __VA_ARGS__>;
#define __RCLCPP_WEAK_PTR_ALIAS(...)          \
  using WeakPtr = std::weak_ptr<__VA_ARGS__>; \
  using ConstWeakPtr = std::weak_ptr<const __VA_ARGS__>;
#define __RCLCPP_UNIQUE_PTR_ALIAS(...) using UniquePtr = std::unique_ptr<__VA_ARGS__>;
