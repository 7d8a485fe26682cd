// Deleting DDS entities, with a deadline once a signal has asked the program to stop: Cyclone
// can wait for ever for a network that is gone, and a stopping program must end regardless.
#pragma once

#include <dds/dds.h>

namespace ros2_layer {

/// Starts the stop deadline: from now on, DDS deletions wait only until it has passed.
void startStopDeadline();
/// Clears the stop deadline: the program takes DDS up again.
void clearStopDeadline();
/// Deletes a DDS entity. After a stop request, a deletion still running at the deadline is left
/// behind: one line says so, and this and every later deletion return without waiting.
void deleteEntity(dds_entity_t handle);

}  // namespace ros2_layer
