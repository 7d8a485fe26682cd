#include "dds_error.hpp"

#include <dds/dds.h>

#include "rclcpp/exceptions.hpp"

namespace ros2_layer {

int32_t checkDds(int32_t ret, std::string_view context) {
  if (ret >= 0) {
    return ret;
  }
  const std::string message = std::string(context) + ": " + dds_strretcode(ret);
  switch (ret) {
    case DDS_RETCODE_BAD_PARAMETER:
      throw rclcpp::exceptions::RCLInvalidArgument(ret, message, "");
    case DDS_RETCODE_OUT_OF_RESOURCES:
      throw rclcpp::exceptions::RCLBadAlloc(ret, message);
    default:
      throw rclcpp::exceptions::RCLError(ret, message, "");
  }
}

void throwLayerError(const std::string & prefix, const std::string & message) {
  throw rclcpp::exceptions::RCLError(1, message, prefix + ": ");
}

}  // namespace ros2_layer
