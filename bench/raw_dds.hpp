// Raw Cyclone DDS, without the client layer: the baseline the node's figures are set against.
#pragma once

#include <dds/dds.h>

#include <cstdint>

namespace tavrin_bench {

/// The raw sample: a send time and a sequence number, no keys, fixed size.
struct Ping {
  int64_t sent_ns;
  uint32_t sequence;
};

/// CLOCK_MONOTONIC in nanoseconds: one clock for every process on the machine.
int64_t monotonicNs();

/// A participant of its own domain, on loopback as a localhost-only ROS 2 domain is, with the
/// ping topic and a reliable keep-last-10 QoS (what a ROS 2 QoS of depth 10 means).
class RawDomain {
public:
  explicit RawDomain(int domain_id);
  /// The same with a topic of another type.
  RawDomain(int domain_id, const dds_topic_descriptor_t & type, const char * topic_name);
  ~RawDomain();

  RawDomain(const RawDomain &) = delete;
  RawDomain & operator=(const RawDomain &) = delete;

  dds_entity_t createWriter() const;
  /// Waits up to ten seconds until `writer` has a matched reader.
  static bool waitForReader(dds_entity_t writer);
  dds_entity_t createReader() const;
  dds_entity_t participant() const { return participant_; }

private:
  dds_entity_t domain_;
  dds_entity_t participant_;
  dds_entity_t topic_;
  dds_qos_t * qos_;
};

}  // namespace tavrin_bench
