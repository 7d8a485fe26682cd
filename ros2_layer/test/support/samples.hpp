// One filled-in message of every interface type the layer carries, shared by the test
// processes and the peer so that both sides know what a round trip must preserve.
#pragma once

#include "action_msgs/msg/goal_status_array.hpp"
#include "action_msgs/srv/cancel_goal.hpp"
#include "builtin_interfaces/msg/duration.hpp"
#include "geometry_msgs/msg/pose.hpp"
#include "geometry_msgs/msg/twist.hpp"
#include "rcl_interfaces/msg/parameter_descriptor.hpp"
#include "rcl_interfaces/msg/parameter_type.hpp"
#include "rcl_interfaces/msg/parameter_value.hpp"
#include "rmw_dds_common/msg/participant_entities_info.hpp"
#include "sensor_msgs/msg/joy.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/header.hpp"
#include "std_msgs/msg/int32_multi_array.hpp"
#include "std_msgs/msg/string.hpp"
#include "std_srvs/srv/set_bool.hpp"
#include "tavrin_protocol/action/arm_task_decision.hpp"

namespace samples {

inline builtin_interfaces::msg::Time time() {
  builtin_interfaces::msg::Time stamp;
  stamp.sec = 1700000123;
  stamp.nanosec = 456789;
  return stamp;
}

inline builtin_interfaces::msg::Duration duration() {
  builtin_interfaces::msg::Duration span;
  span.sec = -3;
  span.nanosec = 999999999;
  return span;
}

inline unique_identifier_msgs::msg::UUID uuid(uint8_t first) {
  unique_identifier_msgs::msg::UUID id;
  for (uint8_t i = 0; i < 16; ++i) {
    id.uuid[i] = static_cast<uint8_t>(first + i);
  }
  return id;
}

inline geometry_msgs::msg::Pose pose(double offset) {
  geometry_msgs::msg::Pose pose;
  pose.position.x = offset + 0.1;
  pose.position.y = offset - 2.5;
  pose.position.z = offset * 3.0;
  pose.orientation.x = 0.5;
  pose.orientation.y = -0.5;
  pose.orientation.z = 0.5;
  pose.orientation.w = -0.5;
  return pose;
}

inline std_msgs::msg::Header header() {
  std_msgs::msg::Header header;
  header.stamp = time();
  header.frame_id = "base_link";
  return header;
}

inline sensor_msgs::msg::Joy joy() {
  sensor_msgs::msg::Joy joy;
  joy.header = header();
  joy.axes = {0.0F, -1.0F, 0.25F, 1.0F, -0.75F, 0.5F};
  joy.buttons = {0, 1, 0, 0, 1, 1, 0, 0, 0, 0, 1};
  return joy;
}

inline geometry_msgs::msg::Twist twist() {
  geometry_msgs::msg::Twist twist;
  twist.linear.x = 0.3;
  twist.linear.y = -0.2;
  twist.linear.z = 1e-9;
  twist.angular.x = -3.5;
  twist.angular.y = 1e300;
  twist.angular.z = -0.0;
  return twist;
}

inline std_msgs::msg::Int32MultiArray int32MultiArray() {
  std_msgs::msg::Int32MultiArray array;
  std_msgs::msg::MultiArrayDimension rows;
  rows.label = "rows";
  rows.size = 2;
  rows.stride = 6;
  std_msgs::msg::MultiArrayDimension columns;
  columns.label = "columns";
  columns.size = 3;
  columns.stride = 3;
  array.layout.dim = {rows, columns};
  array.layout.data_offset = 1;
  array.data = {0, -1, 2147483647, -2147483647 - 1, 5, 6, 7};
  return array;
}

inline std_msgs::msg::String string() {
  std_msgs::msg::String text;
  text.data = "grab the cup \xc3\xa9 \t\n";
  return text;
}

inline std_msgs::msg::Bool boolean() {
  std_msgs::msg::Bool flag;
  flag.data = true;
  return flag;
}

inline action_msgs::msg::GoalStatusArray goalStatusArray() {
  action_msgs::msg::GoalStatusArray array;
  action_msgs::msg::GoalStatus first;
  first.goal_info.goal_id = uuid(1);
  first.goal_info.stamp = time();
  first.status = action_msgs::msg::GoalStatus::STATUS_EXECUTING;
  action_msgs::msg::GoalStatus second = first;
  second.goal_info.goal_id = uuid(100);
  second.status = action_msgs::msg::GoalStatus::STATUS_ABORTED;
  array.status_list = {first, second};
  return array;
}

inline action_msgs::srv::CancelGoal::Response cancelGoalResponse() {
  action_msgs::srv::CancelGoal::Response response;
  response.return_code = action_msgs::srv::CancelGoal::Response::ERROR_UNKNOWN_GOAL_ID;
  response.goals_canceling = {goalStatusArray().status_list[0].goal_info};
  return response;
}

inline rcl_interfaces::msg::ParameterValue parameterValue() {
  rcl_interfaces::msg::ParameterValue value;
  value.type = rcl_interfaces::msg::ParameterType::PARAMETER_STRING_ARRAY;
  value.bool_value = true;
  value.integer_value = -9000000000LL;
  value.double_value = 0.3;
  value.string_value = "/joy";
  value.byte_array_value = {0x00, 0xff, 0x7f};
  value.bool_array_value = {true, false, true, true, false};
  value.integer_array_value = {1, 2, -3};
  value.double_array_value = {0.5, -0.25};
  value.string_array_value = {"a", "", "ccc"};
  return value;
}

inline rcl_interfaces::msg::ParameterDescriptor parameterDescriptor() {
  rcl_interfaces::msg::ParameterDescriptor descriptor;
  descriptor.name = "speed_scale";
  descriptor.type = rcl_interfaces::msg::ParameterType::PARAMETER_DOUBLE;
  descriptor.description = "fraction of full speed";
  descriptor.read_only = true;
  rcl_interfaces::msg::FloatingPointRange range;
  range.from_value = 0.0;
  range.to_value = 1.0;
  range.step = 0.1;
  descriptor.floating_point_range.push_back(range);
  return descriptor;
}

inline rmw_dds_common::msg::ParticipantEntitiesInfo participantEntitiesInfo() {
  rmw_dds_common::msg::ParticipantEntitiesInfo info;
  for (uint8_t i = 0; i < 24; ++i) {
    info.gid.data[i] = static_cast<uint8_t>(200 + i);
  }
  rmw_dds_common::msg::NodeEntitiesInfo node;
  node.node_namespace = "/arm";
  node.node_name = "teleop";
  node.writer_gid_seq = {info.gid, info.gid};
  info.node_entities_info_seq = {node};
  return info;
}

/// The goal of the grab task with every pose left at its default orientation (w = 1).
inline tavrin_protocol::action::ArmTaskDecision::Impl::SendGoalService::Request sendGoalRequest() {
  tavrin_protocol::action::ArmTaskDecision::Impl::SendGoalService::Request request;
  request.goal_id = uuid(42);
  request.goal.arm_id = 1;
  request.goal.task_type = 3;
  request.goal.speed_scale = 0.5F;
  request.goal.object_pose.position.x = 0.4;
  request.goal.object_size.z = 0.12;
  return request;
}

inline tavrin_protocol::action::ArmTaskDecision::Impl::GetResultService::Response
getResultResponse() {
  tavrin_protocol::action::ArmTaskDecision::Impl::GetResultService::Response response;
  response.status = action_msgs::msg::GoalStatus::STATUS_SUCCEEDED;
  response.result.status = true;
  response.result.status_code = -7;
  response.result.errmsg = "object slipped";
  return response;
}

inline tavrin_protocol::action::ArmTaskDecision::Impl::FeedbackMessage feedbackMessage() {
  tavrin_protocol::action::ArmTaskDecision::Impl::FeedbackMessage message;
  message.goal_id = uuid(7);
  message.feedback.run_stage = 4;
  return message;
}

inline std_srvs::srv::SetBool::Response setBoolResponse() {
  std_srvs::srv::SetBool::Response response;
  response.success = true;
  response.message = "done";
  return response;
}

/// Calls visit(name, message) for one message of every type; `name` is a valid topic token.
template <typename Visitor>
void forEach(Visitor && visit) {
  visit("time", time());
  visit("duration", duration());
  visit("uuid", uuid(9));
  visit("header", header());
  visit("string", string());
  visit("bool", boolean());
  visit("int32_multi_array", int32MultiArray());
  visit("twist", twist());
  visit("pose", pose(1.0));
  visit("joy", joy());
  visit("goal_status_array", goalStatusArray());
  visit("cancel_goal_response", cancelGoalResponse());
  visit("parameter_value", parameterValue());
  visit("parameter_descriptor", parameterDescriptor());
  visit("participant_entities_info", participantEntitiesInfo());
  visit("send_goal_request", sendGoalRequest());
  visit("get_result_response", getResultResponse());
  visit("feedback_message", feedbackMessage());
  visit("set_bool_response", setBoolResponse());
}

}  // namespace samples
