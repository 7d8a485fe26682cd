#include "rclcpp_action/qos.hpp"

#include "rclcpp_action/options.hpp"

namespace rclcpp_action {

DefaultActionStatusQoS::DefaultActionStatusQoS()
    : rclcpp::QoS(detail::qos_from_profile(rcl_action_qos_profile_status_default)) {}

namespace detail {

rclcpp::QoS qos_from_profile(const rmw_qos_profile_t & profile) {
  return rclcpp::QoS(rclcpp::QoSInitialization::from_rmw(profile), profile);
}

}  // namespace detail

}  // namespace rclcpp_action
