// Quality-of-service settings of publishers and subscriptions, as rclcpp spells them.
#pragma once

#include <cstddef>

#include "rmw/qos_profiles.h"
#include "rmw/types.h"

namespace rclcpp {

/// The history part of a profile, the one setting a QoS cannot be built without.
struct QoSInitialization {
  rmw_qos_history_policy_t history_policy;
  size_t depth;

  /// A history policy with its depth.
  QoSInitialization(rmw_qos_history_policy_t history_policy_arg, size_t depth_arg)
      : history_policy(history_policy_arg), depth(depth_arg) {}

  /// The history part of an existing profile.
  static QoSInitialization from_rmw(const rmw_qos_profile_t & rmw_qos);
};

/// Keep the last `depth` samples.
struct KeepLast : public rclcpp::QoSInitialization {
  explicit KeepLast(size_t depth);
};

/// A complete quality-of-service profile with chainable setters.
class QoS {
public:
  /// A profile with the given history on top of `initial_profile`.
  explicit QoS(
      const QoSInitialization & qos_initialization,
      const rmw_qos_profile_t & initial_profile = rmw_qos_profile_default);

  /// Keep last `history_depth` with the default reliable, volatile settings.
  QoS(size_t history_depth);  // NOLINT(runtime/explicit): rclcpp allows QoS qos = 10;

  /// The profile as the middleware sees it.
  rmw_qos_profile_t & get_rmw_qos_profile();
  /// The profile as the middleware sees it.
  const rmw_qos_profile_t & get_rmw_qos_profile() const;

  /// Guaranteed delivery.
  QoS & reliable();
  /// Delivery without retransmission.
  QoS & best_effort();
  /// Samples are not kept for late joiners.
  QoS & durability_volatile();
  /// The writer keeps its history for late joiners.
  QoS & transient_local();

private:
  rmw_qos_profile_t rmw_qos_profile_;
};

}  // namespace rclcpp
