// Process-wide entry points: init, shutdown, ok and the signal handlers.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "rclcpp/context.hpp"
#include "rclcpp/init_options.hpp"

namespace rclcpp {

/// Which signals rclcpp::init handles by shutting the contexts down.
enum class SignalHandlerOptions {
  All,      ///< SIGINT and SIGTERM
  SigInt,   ///< SIGINT only
  SigTerm,  ///< SIGTERM only
  None,     ///< neither
};

/// Initialises the default context with the command line and installs the signal handlers.
void init(
    int argc, char const * const * argv, const InitOptions & init_options = InitOptions(),
    SignalHandlerOptions signal_handler_options = SignalHandlerOptions::All);

/// Installs the signal handlers; false when they were installed already.
bool install_signal_handlers(
    SignalHandlerOptions signal_handler_options = SignalHandlerOptions::All);
/// True while the signal handlers are installed.
bool signal_handlers_installed();
/// The signals handled now.
SignalHandlerOptions get_current_signal_handler_options();
/// Restores the previous signal handlers; false when none were installed.
bool uninstall_signal_handlers();

/// The arguments that are not ROS arguments, argv[0] first; parses the command line.
std::vector<std::string> init_and_remove_ros_arguments(
    int argc, char const * const * argv, const InitOptions & init_options = InitOptions());
/// The arguments that are not ROS arguments, argv[0] first.
std::vector<std::string> remove_ros_arguments(int argc, char const * const * argv);

/// True while the context is valid (the default context unless given).
bool ok(rclcpp::Context::SharedPtr context = nullptr);
/// Shuts the context down (the default context, which also uninstalls the signal handlers).
bool shutdown(
    rclcpp::Context::SharedPtr context = nullptr,
    const std::string & reason = "user called rclcpp::shutdown()");
/// Registers a callback to run when the context shuts down.
void on_shutdown(std::function<void()> callback, rclcpp::Context::SharedPtr context = nullptr);
/// Sleeps; false when the context shut down during the sleep.
bool sleep_for(
    const std::chrono::nanoseconds & nanoseconds, rclcpp::Context::SharedPtr context = nullptr);

}  // namespace rclcpp
