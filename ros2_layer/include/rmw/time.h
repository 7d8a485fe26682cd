// Durations as the ROS middleware interface spells them (C-compatible, as in ROS 2 Humble).
#ifndef RMW__TIME_H_
#define RMW__TIME_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/// A duration or point in time split into seconds and nanoseconds.
typedef struct rmw_time_s {
  uint64_t sec;   ///< seconds
  uint64_t nsec;  ///< nanoseconds
} rmw_time_t;

/// Nanoseconds since the epoch.
typedef int64_t rmw_time_point_value_t;

/// Let the middleware choose.
#define RMW_DURATION_DEFAULT \
  { 0, 0 }
/// Never expires.
#define RMW_DURATION_INFINITE \
  { 9223372036LL, 854775807LL }
/// Not set: the middleware default applies.
#define RMW_DURATION_UNSPECIFIED \
  { 0LL, 0LL }

#ifdef __cplusplus
}
#endif

#endif  // RMW__TIME_H_
