// The lifetime of the client library between init and shutdown, with its command-line
// arguments and its connection to DDS.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "rclcpp/init_options.hpp"
#include "rclcpp/macros.hpp"

namespace ros2_layer {
class ContextState;
struct ContextAccess;
}  // namespace ros2_layer

namespace rclcpp {

class Context;

/// Identifies a registered shutdown callback, for its removal.
class ShutdownCallbackHandle {
  friend class Context;

public:
  using ShutdownCallbackType = std::function<void()>;

private:
  std::weak_ptr<ShutdownCallbackType> callback;
};

using PreShutdownCallbackHandle = ShutdownCallbackHandle;

/// Raised by Context::init on a context that is already initialised.
class ContextAlreadyInitialized : public std::runtime_error {
public:
  ContextAlreadyInitialized() : std::runtime_error("context is already initialized") {}
};

/// One init/shutdown cycle of the client library.
class Context : public std::enable_shared_from_this<Context> {
public:
  RCLCPP_SMART_PTR_DEFINITIONS(Context)

  /// An uninitialised context.
  Context();
  virtual ~Context();

  /// Parses the ROS arguments and makes the context valid. Throws ContextAlreadyInitialized
  /// while valid, and the argument errors of the command-line parser.
  virtual void init(
      int argc, char const * const * argv,
      const rclcpp::InitOptions & init_options = InitOptions());
  /// True between init and shutdown.
  bool is_valid() const;
  /// The options given to init.
  const rclcpp::InitOptions & get_init_options() const;
  /// The options given to init.
  rclcpp::InitOptions get_init_options();
  /// The reason given to shutdown; empty while valid.
  std::string shutdown_reason() const;
  /// Runs the pre-shutdown callbacks, invalidates the context, wakes everything waiting on it
  /// and runs the on-shutdown callbacks; false when it was not valid.
  virtual bool shutdown(const std::string & reason);

  using OnShutdownCallback = std::function<void()>;
  /// Registers a callback to run at shutdown and returns it.
  virtual OnShutdownCallback on_shutdown(OnShutdownCallback callback);
  /// The registered on-shutdown callbacks.
  std::vector<OnShutdownCallback> get_on_shutdown_callbacks() const;

  using PreShutdownCallback = PreShutdownCallbackHandle::ShutdownCallbackType;
  /// Registers a callback to run at shutdown while the context is still valid, so that it can
  /// still publish; it runs on the thread that shuts down (the signal thread for a signal).
  virtual PreShutdownCallbackHandle add_pre_shutdown_callback(PreShutdownCallback callback);
  /// Removes a pre-shutdown callback, waiting for it to finish if it is running; false when it
  /// was not registered.
  virtual bool remove_pre_shutdown_callback(const PreShutdownCallbackHandle & callback_handle);

  /// Sleeps for the given time; false when interrupted by shutdown.
  bool sleep_for(const std::chrono::nanoseconds & nanoseconds);
  /// Wakes every sleep_for of this context.
  void interrupt_all_sleep_for();

private:
  friend struct ros2_layer::ContextAccess;
  RCLCPP_DISABLE_COPY(Context)

  std::shared_ptr<ros2_layer::ContextState> state_;
  rclcpp::InitOptions init_options_;
  mutable std::mutex callbacks_mutex_;
  std::vector<OnShutdownCallback> on_shutdown_callbacks_;
  // Held while the pre-shutdown callbacks run, so that a removal waits for a running one.
  std::mutex pre_shutdown_mutex_;
  std::vector<std::shared_ptr<PreShutdownCallback>> pre_shutdown_callbacks_;
};

namespace contexts {

/// The context that rclcpp::init initialises and nodes use unless told otherwise.
class DefaultContext : public rclcpp::Context {
public:
  RCLCPP_SMART_PTR_DEFINITIONS(DefaultContext)
  DefaultContext() = default;
};

/// The process-wide default context.
DefaultContext::SharedPtr get_global_default_context();

}  // namespace contexts
}  // namespace rclcpp
