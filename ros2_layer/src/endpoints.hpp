// RAII wrappers of the DDS entities behind publishers, subscriptions, clients and services,
// with the QoS mapping of rmw_cyclonedds.
#pragma once

#include <dds/dds.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "cdr.hpp"
#include "rmw/types.h"

namespace ros2_layer {

class Participant;

/// Owns one DDS entity and deletes it.
class Entity {
public:
  explicit Entity(dds_entity_t handle = 0) : handle_(handle) {}
  ~Entity();
  Entity(Entity && other) noexcept : handle_(other.handle_) { other.handle_ = 0; }
  Entity & operator=(Entity && other) noexcept;
  Entity(const Entity &) = delete;
  Entity & operator=(const Entity &) = delete;

  /// The DDS handle.
  dds_entity_t get() const { return handle_; }

private:
  dds_entity_t handle_;
};

/// Deletes a DDS QoS object.
struct QosDeleter {
  void operator()(dds_qos_t * qos) const { dds_delete_qos(qos); }
};
using QosPtr = std::unique_ptr<dds_qos_t, QosDeleter>;

/// The reader/writer QoS that rmw_cyclonedds derives from a ROS profile. Throws
/// RCLInvalidArgument for an unknown policy or an unsupported depth.
QosPtr makeReadWriteQos(const rmw_qos_profile_t & profile, bool ignore_local_publications);

/// The 24-byte GID of an entity as rmw_cyclonedds forms it: the DDS GUID padded with zeros.
using Gid = std::array<uint8_t, 24>;
/// The GID of an entity.
Gid gidOf(dds_entity_t entity);

/// The DDS topic name of a ROS name: `prefix` ("rt", "rq" or "rr") + name + `suffix`
/// ("Request", "Reply"), or the name alone when the profile avoids ROS conventions.
std::string ddsTopicName(
    const char * prefix, const std::string & ros_name, const char * suffix,
    const rmw_qos_profile_t & qos);

/// What a DDS endpoint needs to know: the topic name on the wire, the ROS type, whether the
/// samples carry a request header, the QoS and the user data of the endpoint.
struct EndpointSpec {
  std::string topic;
  const MessageMembers * type = nullptr;
  bool request_header = false;
  rmw_qos_profile_t qos{};
  std::string user_data;
  bool ignore_local_publications = false;
};

/// A DDS writer on its own topic entity.
class Writer {
public:
  /// Creates the topic and the writer; `listener` may be null.
  Writer(
      Participant & participant, const EndpointSpec & description, const dds_listener_t * listener);

  /// Writes a sample (a message, or a RequestSample for requests and replies).
  void write(const void * sample);
  /// The writer's handle.
  dds_entity_t handle() const { return writer_.get(); }
  /// The writer's instance handle, which rmw_cyclonedds uses as the client id of requests.
  dds_instance_handle_t instanceHandle() const { return instance_handle_; }
  /// The number of matched readers.
  size_t matchedCount() const;

private:
  Entity topic_;
  Entity writer_;
  dds_instance_handle_t instance_handle_ = 0;
};

/// A DDS reader on its own topic entity, with a read condition for waitsets.
class Reader {
public:
  /// Creates the topic, the reader and its read condition; `listener` may be null.
  Reader(
      Participant & participant, const EndpointSpec & description, const dds_listener_t * listener);

  /// Takes one sample into `sample`; false when the reader holds none. info.valid_data is false
  /// for notifications about a writer's state that carry no message.
  bool take(void * sample, dds_sample_info_t & info);
  /// The reader's handle.
  dds_entity_t handle() const { return reader_.get(); }
  /// The condition that triggers while samples are waiting.
  dds_entity_t condition() const { return condition_.get(); }
  /// The number of matched writers.
  size_t matchedCount() const;

private:
  Entity topic_;
  Entity reader_;
  Entity condition_;
};

}  // namespace ros2_layer
