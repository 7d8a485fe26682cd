// A Cyclone DDS sample type (sertype) for ROS messages: samples are the C++ message objects,
// serialised data is the CDR of rmw_cyclonedds. ROS topics have no keys.
#pragma once

#include <string>

#include "cdr.hpp"

struct ddsi_sertype;

namespace ros2_layer {

/// The sample that requests and replies are written and taken as: the header that
/// rmw_cyclonedds puts in front of the payload, and the message.
struct RequestSample {
  RequestHeader header;
  void * message = nullptr;
};

/// The DDS type name that rmw_cyclonedds gives a message: "pkg::msg::dds_::Type_".
std::string ddsTypeName(const MessageMembers & type);

/// A new sertype for `type`, named as rmw_cyclonedds names it; with `request_header` its samples
/// are RequestSample. Ownership passes to dds_create_topic_sertype.
ddsi_sertype * createSertype(const MessageMembers & type, bool request_header);

}  // namespace ros2_layer
