// Options of rclcpp::init.
#pragma once

#include <cstddef>
#include <optional>

namespace rclcpp {

/// Options of rclcpp::init and Context::init.
class InitOptions {
public:
  /// Shut the context down on SIGINT and SIGTERM (when the handlers are installed).
  bool shutdown_on_signal = true;

  InitOptions() = default;
  virtual ~InitOptions() = default;

  /// Whether logging is set up at init; logging here needs no set-up.
  bool auto_initialize_logging() const;
  /// Sets whether logging is set up at init.
  InitOptions & auto_initialize_logging(bool initialize_logging);
  /// Uses this DDS domain instead of ROS_DOMAIN_ID.
  void set_domain_id(size_t domain_id);
  /// The domain set with set_domain_id, or the one from ROS_DOMAIN_ID (0 when unset).
  size_t get_domain_id() const;
  /// Goes back to the domain of ROS_DOMAIN_ID.
  void use_default_domain_id();

private:
  bool initialize_logging_ = true;
  std::optional<size_t> domain_id_;
};

}  // namespace rclcpp
