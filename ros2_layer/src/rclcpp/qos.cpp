#include "rclcpp/qos.hpp"

namespace rclcpp {

QoSInitialization QoSInitialization::from_rmw(const rmw_qos_profile_t & rmw_qos) {
  return QoSInitialization(rmw_qos.history, rmw_qos.depth);
}

KeepLast::KeepLast(size_t depth) : QoSInitialization(RMW_QOS_POLICY_HISTORY_KEEP_LAST, depth) {}

QoS::QoS(const QoSInitialization & qos_initialization, const rmw_qos_profile_t & initial_profile)
    : rmw_qos_profile_(initial_profile) {
  rmw_qos_profile_.history = qos_initialization.history_policy;
  rmw_qos_profile_.depth = qos_initialization.depth;
}

QoS::QoS(size_t history_depth) : QoS(KeepLast(history_depth)) {}

rmw_qos_profile_t & QoS::get_rmw_qos_profile() { return rmw_qos_profile_; }

const rmw_qos_profile_t & QoS::get_rmw_qos_profile() const { return rmw_qos_profile_; }

QoS & QoS::reliable() {
  rmw_qos_profile_.reliability = RMW_QOS_POLICY_RELIABILITY_RELIABLE;
  return *this;
}

QoS & QoS::best_effort() {
  rmw_qos_profile_.reliability = RMW_QOS_POLICY_RELIABILITY_BEST_EFFORT;
  return *this;
}

QoS & QoS::durability_volatile() {
  rmw_qos_profile_.durability = RMW_QOS_POLICY_DURABILITY_VOLATILE;
  return *this;
}

QoS & QoS::transient_local() {
  rmw_qos_profile_.durability = RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL;
  return *this;
}

}  // namespace rclcpp
