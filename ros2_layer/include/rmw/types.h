// The quality-of-service profile and request identity types of the ROS middleware interface,
// with the field names and values of ROS 2 Humble.
#ifndef RMW__TYPES_H_
#define RMW__TYPES_H_

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "rmw/time.h"

#ifdef __cplusplus
extern "C" {
#endif

/// How samples are kept for late readers.
enum rmw_qos_history_policy_e {
  RMW_QOS_POLICY_HISTORY_SYSTEM_DEFAULT,
  RMW_QOS_POLICY_HISTORY_KEEP_LAST,
  RMW_QOS_POLICY_HISTORY_KEEP_ALL,
  RMW_QOS_POLICY_HISTORY_UNKNOWN
};
typedef enum rmw_qos_history_policy_e rmw_qos_history_policy_t;

/// Whether delivery is guaranteed.
enum rmw_qos_reliability_policy_e {
  RMW_QOS_POLICY_RELIABILITY_SYSTEM_DEFAULT,
  RMW_QOS_POLICY_RELIABILITY_RELIABLE,
  RMW_QOS_POLICY_RELIABILITY_BEST_EFFORT,
  RMW_QOS_POLICY_RELIABILITY_UNKNOWN
};
typedef enum rmw_qos_reliability_policy_e rmw_qos_reliability_policy_t;

/// Whether samples outlive their moment of publication for late joiners.
enum rmw_qos_durability_policy_e {
  RMW_QOS_POLICY_DURABILITY_SYSTEM_DEFAULT,
  RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL,
  RMW_QOS_POLICY_DURABILITY_VOLATILE,
  RMW_QOS_POLICY_DURABILITY_UNKNOWN
};
typedef enum rmw_qos_durability_policy_e rmw_qos_durability_policy_t;

/// How a writer shows that it is alive.
enum rmw_qos_liveliness_policy_e {
  RMW_QOS_POLICY_LIVELINESS_SYSTEM_DEFAULT = 0,
  RMW_QOS_POLICY_LIVELINESS_AUTOMATIC = 1,
  RMW_QOS_POLICY_LIVELINESS_MANUAL_BY_NODE = 2,
  RMW_QOS_POLICY_LIVELINESS_MANUAL_BY_TOPIC = 3,
  RMW_QOS_POLICY_LIVELINESS_UNKNOWN = 4
};
typedef enum rmw_qos_liveliness_policy_e rmw_qos_liveliness_policy_t;

/// History depth that lets the middleware choose.
#define RMW_QOS_POLICY_DEPTH_SYSTEM_DEFAULT 0
#define RMW_QOS_DEADLINE_DEFAULT RMW_DURATION_DEFAULT
#define RMW_QOS_LIFESPAN_DEFAULT RMW_DURATION_DEFAULT
#define RMW_QOS_LIVELINESS_LEASE_DURATION_DEFAULT RMW_DURATION_DEFAULT

/// A complete quality-of-service profile of a publisher, subscription, client or service.
typedef struct rmw_qos_profile_s {
  enum rmw_qos_history_policy_e history;
  size_t depth;
  enum rmw_qos_reliability_policy_e reliability;
  enum rmw_qos_durability_policy_e durability;
  struct rmw_time_s deadline;
  struct rmw_time_s lifespan;
  enum rmw_qos_liveliness_policy_e liveliness;
  struct rmw_time_s liveliness_lease_duration;
  bool avoid_ros_namespace_conventions;
} rmw_qos_profile_t;

/// Identifies one service request: the requesting client and its sequence number.
typedef struct rmw_request_id_s {
  int8_t writer_guid[16];
  int64_t sequence_number;
} rmw_request_id_t;

/// A request identity with the times at which it was sent and received.
typedef struct rmw_service_info_s {
  rmw_time_point_value_t source_timestamp;
  rmw_time_point_value_t received_timestamp;
  rmw_request_id_t request_id;
} rmw_service_info_t;

#ifdef __cplusplus
}
#endif

#endif  // RMW__TYPES_H_
