// The encoder against bytes worked out by hand from the CDR rules that rmw_cyclonedds follows,
// and every interface type the layer carries through encoding and back.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "builtin_interfaces/msg/duration.hpp"
#include "cdr_bytes.hpp"
#include "rcl_interfaces/msg/parameter_descriptor.hpp"
#include "rcl_interfaces/msg/parameter_type.hpp"
#include "rcl_interfaces/msg/parameter_value.hpp"
#include "sensor_msgs/msg/joy.hpp"
#include "std_msgs/msg/int32_multi_array.hpp"
#include "std_msgs/msg/string.hpp"
#include "std_srvs/srv/set_bool.hpp"
#include "tavrin_protocol/action/arm_task_decision.hpp"

namespace {

using namespace test_support;
using SendGoalRequest = tavrin_protocol::action::ArmTaskDecision_SendGoal_Request;

template <typename T>
void expectBytes(const T & message, const Bytes & expected) {
  EXPECT_EQ(encode(message), expected);
  EXPECT_EQ(decode<T>(expected), message);
}

TEST(CdrEncoding, HandWorkedBytesOfStringsSequencesAndNestedLayouts) {
  sensor_msgs::msg::Joy joy;
  joy.header.stamp.sec = 1;
  joy.header.stamp.nanosec = 2;
  joy.header.frame_id = "js";
  joy.axes = {0.5F, -1.0F};
  joy.buttons = {1, 0, 1};
  expectBytes(joy, {0x00, 0x01, 0x00, 0x00,                          // header
                    0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,  // stamp
                    0x03, 0x00, 0x00, 0x00, 'j',  's',  0x00,        // frame_id
                    0x00,                                            // padding to 4
                    0x02, 0x00, 0x00, 0x00,                          // axes count
                    0x00, 0x00, 0x00, 0x3f, 0x00, 0x00, 0x80, 0xbf,  // 0.5, -1.0
                    0x03, 0x00, 0x00, 0x00,                          // buttons count
                    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00});

  std_msgs::msg::Int32MultiArray array;
  array.layout.dim.resize(1);
  array.layout.dim[0].label = "row";
  array.layout.dim[0].size = 2;
  array.layout.dim[0].stride = 2;
  array.layout.data_offset = 7;
  array.data = {-1, 65536};
  expectBytes(array, {0x00, 0x01, 0x00, 0x00,                          // header
                      0x01, 0x00, 0x00, 0x00,                          // one dimension
                      0x04, 0x00, 0x00, 0x00, 'r',  'o',  'w',  0x00,  // label
                      0x02, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,  // size, stride
                      0x07, 0x00, 0x00, 0x00,                          // data_offset
                      0x02, 0x00, 0x00, 0x00,                          // data count
                      0xff, 0xff, 0xff, 0xff, 0x00, 0x00, 0x01, 0x00});

  std_srvs::srv::SetBool::Response response;  // a bool, then a string padded to its length
  response.success = true;
  response.message = "ok";
  expectBytes(
      response,
      {0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 'o', 'k', 0x00});
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
  Bytes expected{0x00, 0x01, 0x00, 0x00, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03,
                 0x02, 0x01, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  for (uint8_t i = 0; i < 16; ++i) {
    expected.push_back(i);
  }
  const Bytes integers{0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x3f};
  expected.insert(expected.end(), integers.begin(), integers.end());
  expected.insert(expected.end(), 4, 0x00);  // 16 + 16 + 12 bytes so far: pad to 48
  // Three poses of position (0,0,0) and orientation (0,0,0,1), then object_size (0,0,0).
  for (const double value : {0., 0., 0., 0., 0., 0., 1., 0., 0., 0., 0., 0.,
                             0., 1., 0., 0., 0., 0., 0., 0., 1., 0., 0., 0.}) {
    const auto * raw = reinterpret_cast<const uint8_t *>(&value);
    expected.insert(expected.end(), raw, raw + sizeof(value));
  }
  EXPECT_EQ(encode(request, &header), expected);

  ros2_layer::RequestHeader decoded_header;
  EXPECT_EQ(decode<SendGoalRequest>(expected, &decoded_header), request);
  EXPECT_EQ(decoded_header.client_id, header.client_id);
  EXPECT_EQ(decoded_header.sequence_number, header.sequence_number);
}

TEST(CdrEncoding, EveryKindOfMemberComesBackWithItsValue) {
  // Between them and the cases above: every primitive type, fixed arrays, bounded and unbounded
  // sequences of primitives (bool among them), of strings and of nested messages. The goal status
  // array (int8) and the discovery info (sequences of fixed arrays) make the same trip on the
  // wire, in the action client and conformance tests.
  builtin_interfaces::msg::Duration duration;
  duration.sec = -3;
  duration.nanosec = 999999999;
  EXPECT_EQ(decode<decltype(duration)>(encode(duration)), duration);

  rcl_interfaces::msg::ParameterValue value;
  value.type = rcl_interfaces::msg::ParameterType::PARAMETER_STRING_ARRAY;
  value.bool_value = true;
  value.integer_value = -9000000000LL;
  value.double_value = 0.3;
  value.string_value = "grab the cup \xc3\xa9 \t\n";
  value.byte_array_value = {0x00, 0xff, 0x7f};
  value.bool_array_value = {true, false, true, true, false};
  value.integer_array_value = {1, 2, -3};
  value.double_array_value = {0.5, -0.25, 1e300, -0.0};
  value.string_array_value = {"a", "", "ccc"};
  EXPECT_EQ(decode<decltype(value)>(encode(value)), value);

  rcl_interfaces::msg::ParameterDescriptor descriptor;
  descriptor.name = "speed_scale";
  descriptor.read_only = true;
  descriptor.floating_point_range.resize(1);
  descriptor.floating_point_range[0].to_value = 1.0;
  descriptor.floating_point_range[0].step = 0.1;
  EXPECT_EQ(decode<decltype(descriptor)>(encode(descriptor)), descriptor);
}

TEST(CdrDecoding, ReadsBigEndianAndRejectsTruncatedOrUnterminatedData) {
  const Bytes big_endian{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 'h', 0x00};
  EXPECT_EQ(decode<std_msgs::msg::String>(big_endian).data, "h");
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
