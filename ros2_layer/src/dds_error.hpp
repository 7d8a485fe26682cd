// Cyclone DDS reports failures as negative return codes; this is where they become exceptions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ros2_layer {

/// Returns `ret` when it is not an error code; otherwise throws the typed rclcpp exception for
/// it (RCLInvalidArgument for a bad parameter, RCLBadAlloc when out of resources, RCLError
/// else), its message `context` followed by Cyclone's description of the code.
/// A view, so that the success path of a hot call such as a publish allocates nothing.
int32_t checkDds(int32_t ret, std::string_view context);

/// Throws RCLError with `prefix` before `message`, as rclcpp reports a failed rcl call.
[[noreturn]] void throwLayerError(const std::string & prefix, const std::string & message);

}  // namespace ros2_layer
