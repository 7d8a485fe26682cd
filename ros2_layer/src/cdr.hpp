// The byte encoding of ROS messages on the wire: plain CDR (XCDR1), little endian, as
// rmw_cyclonedds_cpp writes it, driven by the C++ introspection type support.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "rosidl_typesupport_introspection_cpp/message_introspection.hpp"

namespace ros2_layer {

using MessageMembers = rosidl_typesupport_introspection_cpp::MessageMembers;

/// What rmw_cyclonedds puts in front of every service request and reply: the id of the requesting
/// client (derived from its request writer) and the request's sequence number.
struct RequestHeader {
  uint64_t client_id = 0;
  int64_t sequence_number = 0;
};

/// Raised when bytes are not a valid encoding of the expected type.
class CdrError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

/// The size of the encapsulation header (representation identifier and options) before the data.
inline constexpr size_t kEncapsulationHeaderSize = 4;

/// Appends the encapsulation header and the encoding of `message` (an instance of `type`),
/// preceded by `header` when one is given, to `out`.
void serializeCdr(
    const MessageMembers & type, const void * message, const RequestHeader * header,
    std::vector<uint8_t> & out);

/// Decodes `size` bytes, encapsulation header included, into `message` (an initialised instance
/// of `type`), reading a request header first into `header` when one is given. Accepts both byte
/// orders. Throws CdrError for truncated or malformed data.
void deserializeCdr(
    const MessageMembers & type, const uint8_t * data, size_t size, void * message,
    RequestHeader * header);

}  // namespace ros2_layer
