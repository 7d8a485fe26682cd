// One DDS participant per context and domain, configured from the ROS environment, and the
// "ros_discovery_info" announcements through which ROS 2 tools see the nodes on it.
#pragma once

#include <dds/dds.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "endpoints.hpp"
#include "security.hpp"

namespace ros2_layer {

/// The DDS domain settings that the environment selects.
struct DomainSettings {
  uint32_t domain_id = 0;
  bool localhost_only = false;
  ParticipantSecurity security;  ///< read at init, with the enclave of the command line
};

/// Reads ROS_DOMAIN_ID (default 0) and ROS_LOCALHOST_ONLY; throws RCLError for a domain id that
/// is not a number.
DomainSettings domainSettingsFromEnvironment();

/// The Cyclone configuration for the settings, followed by CYCLONEDDS_URI when set.
std::string cycloneConfiguration(const DomainSettings & settings);

/// A DDS participant with its publisher and subscriber, announcing its ROS nodes.
class Participant {
public:
  /// Creates the domain (once per process and domain id) and the participant.
  explicit Participant(const DomainSettings & settings);
  ~Participant();
  Participant(const Participant &) = delete;
  Participant & operator=(const Participant &) = delete;

  /// The participant entity.
  dds_entity_t handle() const { return participant_.get(); }
  /// The DDS publisher that all writers belong to.
  dds_entity_t publisher() const { return publisher_.get(); }
  /// The DDS subscriber that all readers belong to.
  dds_entity_t subscriber() const { return subscriber_.get(); }
  /// A number unique within this participant, for client and service ids.
  uint32_t nextEndpointNumber();
  /// The GID of the participant.
  const Gid & gid() const { return gid_; }

  /// Announces a node; returns the key to pass to the other announcement calls.
  uint64_t addNode(const std::string & name, const std::string & namespace_);
  /// Withdraws a node and its endpoints.
  void removeNode(uint64_t node);
  /// Announces a reader or writer of a node.
  void addEndpoint(uint64_t node, const Gid & gid, bool is_writer);
  /// Withdraws a reader or writer of a node.
  void removeEndpoint(uint64_t node, const Gid & gid, bool is_writer);

private:
  struct NodeEntities {
    std::string name;
    std::string namespace_;
    std::set<Gid> readers;
    std::set<Gid> writers;
  };

  void announceLocked();

  // Declaration order is destruction order in reverse: the entities go before their domain.
  std::shared_ptr<void> domain_;
  Entity participant_;
  Entity publisher_;
  Entity subscriber_;
  Gid gid_{};
  std::unique_ptr<Writer> discovery_writer_;

  std::mutex mutex_;
  uint64_t next_node_ = 1;
  uint32_t next_endpoint_ = 0;
  std::map<uint64_t, NodeEntities> nodes_;
};

}  // namespace ros2_layer
