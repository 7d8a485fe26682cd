// The encoder against bytes worked out by hand from the CDR rules that rmw_cyclonedds follows,
// and every interface type the layer carries through encoding and back.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "cdr.hpp"
#include "rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp"
#include "samples.hpp"

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

template <typename T>
void expectBytes(const T & message, const Bytes & expected) {
  EXPECT_EQ(encode(message), expected);
  EXPECT_EQ(decode<T>(expected), message);
}

TEST(CdrEncoding, HandWorkedBytesOfStringsSequencesAndNestedLayouts) {
  std_msgs::msg::String text;
  text.data = "hi";
  expectBytes(text, {0x00, 0x01, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 'h', 'i', 0x00});

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

TEST(CdrEncoding, EveryCarriedTypeComesBackWithItsValues) {
  samples::forEach([](const char * name, auto sample) {
    EXPECT_EQ(decode<decltype(sample)>(encode(sample)), sample) << name;
  });
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
