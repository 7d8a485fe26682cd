// The QoS profiles of action entities as rclcpp QoS objects.
#pragma once

#include "rclcpp/qos.hpp"
#include "rmw/types.h"

namespace rclcpp_action {

/// The QoS of an action's status topic: keep last 1, reliable, transient local.
class DefaultActionStatusQoS : public rclcpp::QoS {
public:
  DefaultActionStatusQoS();
};

namespace detail {

/// The rclcpp QoS that carries exactly this rmw profile.
rclcpp::QoS qos_from_profile(const rmw_qos_profile_t & profile);

}  // namespace detail

}  // namespace rclcpp_action
