// Quality-of-service settings of publishers and subscriptions, as rclcpp spells them.
#pragma once

#include <cstddef>

#include "rclcpp/duration.hpp"
#include "rmw/qos_profiles.h"
#include "rmw/types.h"

namespace rclcpp {

/// Whether delivery is guaranteed.
enum class ReliabilityPolicy {
  BestEffort = RMW_QOS_POLICY_RELIABILITY_BEST_EFFORT,
  Reliable = RMW_QOS_POLICY_RELIABILITY_RELIABLE,
  SystemDefault = RMW_QOS_POLICY_RELIABILITY_SYSTEM_DEFAULT,
  Unknown = RMW_QOS_POLICY_RELIABILITY_UNKNOWN,
};

/// Whether late joiners receive samples published before they joined.
enum class DurabilityPolicy {
  Volatile = RMW_QOS_POLICY_DURABILITY_VOLATILE,
  TransientLocal = RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL,
  SystemDefault = RMW_QOS_POLICY_DURABILITY_SYSTEM_DEFAULT,
  Unknown = RMW_QOS_POLICY_DURABILITY_UNKNOWN,
};

/// How many samples are kept.
enum class HistoryPolicy {
  KeepLast = RMW_QOS_POLICY_HISTORY_KEEP_LAST,
  KeepAll = RMW_QOS_POLICY_HISTORY_KEEP_ALL,
  SystemDefault = RMW_QOS_POLICY_HISTORY_SYSTEM_DEFAULT,
  Unknown = RMW_QOS_POLICY_HISTORY_UNKNOWN,
};

/// How a writer shows that it is alive.
enum class LivelinessPolicy {
  Automatic = RMW_QOS_POLICY_LIVELINESS_AUTOMATIC,
  ManualByTopic = RMW_QOS_POLICY_LIVELINESS_MANUAL_BY_TOPIC,
  SystemDefault = RMW_QOS_POLICY_LIVELINESS_SYSTEM_DEFAULT,
  Unknown = RMW_QOS_POLICY_LIVELINESS_UNKNOWN,
};

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

/// Keep every sample.
struct KeepAll : public rclcpp::QoSInitialization {
  KeepAll();
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

  /// Sets the history policy.
  QoS & history(rmw_qos_history_policy_t history);
  /// Sets the history policy.
  QoS & history(HistoryPolicy history);
  /// Keep last `depth` samples.
  QoS & keep_last(size_t depth);
  /// Keep all samples.
  QoS & keep_all();
  /// Sets the reliability policy.
  QoS & reliability(rmw_qos_reliability_policy_t reliability);
  /// Sets the reliability policy.
  QoS & reliability(ReliabilityPolicy reliability);
  /// Guaranteed delivery.
  QoS & reliable();
  /// Delivery without retransmission.
  QoS & best_effort();
  /// Sets the durability policy.
  QoS & durability(rmw_qos_durability_policy_t durability);
  /// Sets the durability policy.
  QoS & durability(DurabilityPolicy durability);
  /// Samples are not kept for late joiners.
  QoS & durability_volatile();
  /// The writer keeps its history for late joiners.
  QoS & transient_local();
  /// Sets the deadline.
  QoS & deadline(rmw_time_t deadline);
  /// Sets the deadline.
  QoS & deadline(const rclcpp::Duration & deadline);
  /// Sets the lifespan of samples.
  QoS & lifespan(rmw_time_t lifespan);
  /// Sets the lifespan of samples.
  QoS & lifespan(const rclcpp::Duration & lifespan);
  /// Sets the liveliness policy.
  QoS & liveliness(rmw_qos_liveliness_policy_t liveliness);
  /// Sets the liveliness policy.
  QoS & liveliness(LivelinessPolicy liveliness);
  /// Sets the liveliness lease duration.
  QoS & liveliness_lease_duration(rmw_time_t liveliness_lease_duration);
  /// Sets the liveliness lease duration.
  QoS & liveliness_lease_duration(const rclcpp::Duration & liveliness_lease_duration);
  /// Uses the topic name as given, without the "rt" prefix of ROS topics.
  QoS & avoid_ros_namespace_conventions(bool avoid_ros_namespace_conventions);

  /// The history policy.
  HistoryPolicy history() const;
  /// The history depth.
  size_t depth() const;
  /// The reliability policy.
  ReliabilityPolicy reliability() const;
  /// The durability policy.
  DurabilityPolicy durability() const;
  /// The deadline.
  rclcpp::Duration deadline() const;
  /// The lifespan of samples.
  rclcpp::Duration lifespan() const;
  /// The liveliness policy.
  LivelinessPolicy liveliness() const;
  /// The liveliness lease duration.
  rclcpp::Duration liveliness_lease_duration() const;
  /// Whether the topic name is used without the "rt" prefix.
  bool avoid_ros_namespace_conventions() const;

private:
  rmw_qos_profile_t rmw_qos_profile_;
};

/// True when every policy of both profiles is equal.
bool operator==(const QoS & left, const QoS & right);
/// True when any policy differs.
bool operator!=(const QoS & left, const QoS & right);

/// The profile for sensor data: best effort, keep last 5.
class SensorDataQoS : public QoS {
public:
  /// The sensor data profile with the given history.
  explicit SensorDataQoS(
      const QoSInitialization & qos_initialization =
          QoSInitialization::from_rmw(rmw_qos_profile_sensor_data));
};

/// The profile for parameter services: reliable, keep last 1000.
class ParametersQoS : public QoS {
public:
  /// The parameters profile with the given history.
  explicit ParametersQoS(
      const QoSInitialization & qos_initialization =
          QoSInitialization::from_rmw(rmw_qos_profile_parameters));
};

/// The default profile of services: reliable, volatile, keep last 10.
class ServicesQoS : public QoS {
public:
  /// The services profile with the given history.
  explicit ServicesQoS(
      const QoSInitialization & qos_initialization =
          QoSInitialization::from_rmw(rmw_qos_profile_services_default));
};

/// Every policy left to the middleware's default.
class SystemDefaultsQoS : public QoS {
public:
  /// The system default profile with the given history.
  explicit SystemDefaultsQoS(
      const QoSInitialization & qos_initialization =
          QoSInitialization::from_rmw(rmw_qos_profile_system_default));
};

}  // namespace rclcpp
