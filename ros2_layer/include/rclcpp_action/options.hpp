// The options of action clients and servers, under the names rcl_action gives them, so that
// code written for Humble passes them unchanged.
#pragma once

#include <cstdint>

#include "rmw/qos_profiles.h"
#include "rmw/types.h"

/// The status topic's QoS: keep last 1, reliable, transient local, so that a client that joins
/// late still learns the status of every goal the server keeps.
inline constexpr rmw_qos_profile_t rcl_action_qos_profile_status_default = {
    RMW_QOS_POLICY_HISTORY_KEEP_LAST,
    1,
    RMW_QOS_POLICY_RELIABILITY_RELIABLE,
    RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL,
    RMW_QOS_DEADLINE_DEFAULT,
    RMW_QOS_LIFESPAN_DEFAULT,
    RMW_QOS_POLICY_LIVELINESS_SYSTEM_DEFAULT,
    RMW_QOS_LIVELINESS_LEASE_DURATION_DEFAULT,
    false};

/// The QoS of the three services and two topics of an action client.
struct rcl_action_client_options_t {
  rmw_qos_profile_t goal_service_qos;
  rmw_qos_profile_t cancel_service_qos;
  rmw_qos_profile_t result_service_qos;
  rmw_qos_profile_t feedback_topic_qos;
  rmw_qos_profile_t status_topic_qos;
};

/// The QoS of the entities of an action server and how long it keeps results.
struct rcl_action_server_options_t {
  rmw_qos_profile_t goal_service_qos;
  rmw_qos_profile_t cancel_service_qos;
  rmw_qos_profile_t result_service_qos;
  rmw_qos_profile_t feedback_topic_qos;
  rmw_qos_profile_t status_topic_qos;
  /// How long the result of an ended goal stays available to clients.
  struct {
    int64_t nanoseconds;
  } result_timeout;
};

/// Services default QoS for the services, default QoS for feedback, the status QoS above.
inline rcl_action_client_options_t rcl_action_client_get_default_options() {
  return {
      rmw_qos_profile_services_default, rmw_qos_profile_services_default,
      rmw_qos_profile_services_default, rmw_qos_profile_default,
      rcl_action_qos_profile_status_default};
}

/// The client's defaults, and results kept for 15 minutes.
inline rcl_action_server_options_t rcl_action_server_get_default_options() {
  constexpr int64_t kFifteenMinutes = int64_t{15} * 60 * 1'000'000'000;
  return {rmw_qos_profile_services_default,      rmw_qos_profile_services_default,
          rmw_qos_profile_services_default,      rmw_qos_profile_default,
          rcl_action_qos_profile_status_default, {kFifteenMinutes}};
}
