// Messages to and from the bytes the layer's encoder gives, for the tests that compare them.
#pragma once

#include <cstdint>
#include <vector>

#include "cdr.hpp"
#include "rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp"

namespace test_support {

using Bytes = std::vector<uint8_t>;

template <typename T>
const ros2_layer::MessageMembers & membersOf() {
  return *static_cast<const ros2_layer::MessageMembers *>(
      rosidl_typesupport_introspection_cpp::get_message_type_support_handle<T>()->data);
}

template <typename T>
Bytes encode(const T & message, const ros2_layer::RequestHeader * header = nullptr) {
  Bytes bytes;
  ros2_layer::serializeCdr(membersOf<T>(), &message, header, bytes);
  return bytes;
}

template <typename T>
T decode(const Bytes & bytes, ros2_layer::RequestHeader * header = nullptr) {
  T message;
  ros2_layer::deserializeCdr(membersOf<T>(), bytes.data(), bytes.size(), &message, header);
  return message;
}

}  // namespace test_support
