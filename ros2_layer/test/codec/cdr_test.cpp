// The encoder against bytes worked out by hand from the CDR rules that rmw_cyclonedds follows.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "cdr.hpp"
#include "geometry_msgs/msg/twist.hpp"
#include "rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp"
#include "sensor_msgs/msg/joy.hpp"
#include "std_msgs/msg/int32_multi_array.hpp"
#include "std_msgs/msg/string.hpp"
#include "std_srvs/srv/set_bool.hpp"
#include "tavrin_protocol/action/arm_task_decision.hpp"

namespace {

using Bytes = std::vector<uint8_t>;
using SendGoalRequest = tavrin_protocol::action::ArmTaskDecision_SendGoal_Request;

template <typename T>
const ros2_layer::MessageMembers & typeOf() {
  return *static_cast<const ros2_layer::MessageMembers *>(
      rosidl_typesupport_introspection_cpp::get_message_type_support_handle<T>()->data);
}

template <typename T>
Bytes encode(const T & message, const ros2_layer::RequestHeader * header = nullptr) {
  Bytes bytes;
  ros2_layer::serializeCdr(typeOf<T>(), &message, header, bytes);
  return bytes;
}

template <typename T>
T decode(const Bytes & bytes, ros2_layer::RequestHeader * header = nullptr) {
  T message;
  ros2_layer::deserializeCdr(typeOf<T>(), bytes.data(), bytes.size(), &message, header);
  return message;
}

void appendDouble(Bytes & bytes, double value) {
  const auto * raw = reinterpret_cast<const uint8_t *>(&value);
  bytes.insert(bytes.end(), raw, raw + sizeof(value));
}

TEST(CdrEncoding, StringIsLengthWithTerminatorAfterLittleEndianHeader) {
  std_msgs::msg::String message;
  message.data = "hi";
  const Bytes expected{0x00, 0x01, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 'h', 'i', 0x00};
  EXPECT_EQ(encode(message), expected);
  EXPECT_EQ(decode<std_msgs::msg::String>(expected).data, "hi");
}

TEST(CdrEncoding, TwistIsSixConsecutiveDoubles) {
  geometry_msgs::msg::Twist twist;
  twist.linear.x = 1.5;
  twist.linear.y = -2.0;
  twist.linear.z = 0.25;
  twist.angular.x = 3.0;
  twist.angular.y = -0.5;
  twist.angular.z = 8.0;
  Bytes expected{0x00, 0x01, 0x00, 0x00};
  for (double value : {1.5, -2.0, 0.25, 3.0, -0.5, 8.0}) {
    appendDouble(expected, value);
  }
  EXPECT_EQ(encode(twist), expected);
  EXPECT_EQ(decode<geometry_msgs::msg::Twist>(expected), twist);
}

TEST(CdrEncoding, JoyAlignsSequencesAfterTheFrameId) {
  sensor_msgs::msg::Joy joy;
  joy.header.stamp.sec = 1;
  joy.header.stamp.nanosec = 2;
  joy.header.frame_id = "js";
  joy.axes = {0.5F, -1.0F};
  joy.buttons = {1, 0, 1};
  const Bytes expected{0x00, 0x01, 0x00, 0x00,                          // header
                       0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,  // stamp
                       0x03, 0x00, 0x00, 0x00, 'j',  's',  0x00,        // frame_id
                       0x00,                                            // padding to 4
                       0x02, 0x00, 0x00, 0x00,                          // axes count
                       0x00, 0x00, 0x00, 0x3f, 0x00, 0x00, 0x80, 0xbf,  // 0.5, -1.0
                       0x03, 0x00, 0x00, 0x00,                          // buttons count
                       0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
  EXPECT_EQ(encode(joy), expected);
  EXPECT_EQ(decode<sensor_msgs::msg::Joy>(expected), joy);
}

TEST(CdrEncoding, MultiArrayLayoutNestsDimensionsBeforeData) {
  std_msgs::msg::Int32MultiArray array;
  std_msgs::msg::MultiArrayDimension dimension;
  dimension.label = "row";
  dimension.size = 2;
  dimension.stride = 2;
  array.layout.dim.push_back(dimension);
  array.layout.data_offset = 7;
  array.data = {-1, 65536};
  const Bytes expected{0x00, 0x01, 0x00, 0x00,                          // header
                       0x01, 0x00, 0x00, 0x00,                          // one dimension
                       0x04, 0x00, 0x00, 0x00, 'r',  'o',  'w',  0x00,  // label
                       0x02, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,  // size, stride
                       0x07, 0x00, 0x00, 0x00,                          // data_offset
                       0x02, 0x00, 0x00, 0x00,                          // data count
                       0xff, 0xff, 0xff, 0xff, 0x00, 0x00, 0x01, 0x00};
  EXPECT_EQ(encode(array), expected);
  EXPECT_EQ(decode<std_msgs::msg::Int32MultiArray>(expected), array);
}

TEST(CdrEncoding, BoolFollowedByStringPadsToTheLength) {
  std_srvs::srv::SetBool::Response response;
  response.success = true;
  response.message = "ok";
  const Bytes expected{0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
                       0x03, 0x00, 0x00, 0x00, 'o',  'k',  0x00};
  EXPECT_EQ(encode(response), expected);
  EXPECT_EQ(decode<std_srvs::srv::SetBool::Response>(expected), response);
}

TEST(CdrEncoding, RequestHeaderPrecedesTheGoalAndDoublesAlignToEight) {
  SendGoalRequest request;
  for (uint8_t i = 0; i < 16; ++i) {
    request.goal_id.uuid[i] = i;
  }
  request.goal.arm_id = 2;
  request.goal.task_type = 3;
  request.goal.speed_scale = 0.5F;
  const ros2_layer::RequestHeader header{0x0102030405060708ULL, 9};
  const Bytes bytes = encode(request, &header);

  Bytes expected{0x00, 0x01, 0x00, 0x00, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03,
                 0x02, 0x01, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  for (uint8_t i = 0; i < 16; ++i) {
    expected.push_back(i);
  }
  const Bytes integers{0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x3f};
  expected.insert(expected.end(), integers.begin(), integers.end());
  expected.insert(expected.end(), 4, 0x00);  // 16 + 16 + 12 bytes so far: pad to 48
  // Three poses of position (0,0,0) and orientation (0,0,0,1), then object_size (0,0,0).
  for (int pose = 0; pose < 3; ++pose) {
    for (double value : {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0}) {
      appendDouble(expected, value);
    }
  }
  for (int axis = 0; axis < 3; ++axis) {
    appendDouble(expected, 0.0);
  }
  EXPECT_EQ(bytes, expected);

  ros2_layer::RequestHeader decoded_header;
  const auto decoded = decode<SendGoalRequest>(expected, &decoded_header);
  EXPECT_EQ(decoded, request);
  EXPECT_EQ(decoded.goal.place_pose.orientation.w, 1.0);
  EXPECT_EQ(decoded_header.client_id, header.client_id);
  EXPECT_EQ(decoded_header.sequence_number, header.sequence_number);
}

TEST(CdrDecoding, ReadsBigEndianData) {
  const Bytes big_endian{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 'h', 0x00};
  EXPECT_EQ(decode<std_msgs::msg::String>(big_endian).data, "h");
}

TEST(CdrDecoding, RejectsTruncatedAndUnterminatedData) {
  const Bytes truncated{0x00, 0x01, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 'h', 'i'};
  EXPECT_THROW(decode<std_msgs::msg::String>(truncated), ros2_layer::CdrError);
  const Bytes unterminated{0x00, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 'h', 'i'};
  EXPECT_THROW(decode<std_msgs::msg::String>(unterminated), ros2_layer::CdrError);
  const Bytes huge_sequence{0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0x7f};
  EXPECT_THROW(decode<sensor_msgs::msg::Joy>(huge_sequence), ros2_layer::CdrError);
  EXPECT_THROW(decode<std_msgs::msg::String>(Bytes{0x00, 0x01}), ros2_layer::CdrError);
}

}  // namespace
