#include "participant.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

#include "dds_error.hpp"
#include "rmw/qos_profiles.h"
#include "rmw_dds_common/msg/participant_entities_info.hpp"
#include "rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp"

namespace ros2_layer {
namespace {

// The highest domain id that DDS Security's governance and permissions schema allows.
constexpr uint32_t kMaxSecuredDomainId = 230;

// Unicast discovery on loopback probes one port pair per participant index, so the highest
// index bounds how many processes can share a domain on one machine.
constexpr int kMaxAutoParticipantIndex = 32;

// The receive thread carves incoming packets out of a buffer and frees a buffer once no sample
// in it is referenced any more; the pages of the buffer being filled are what a node's memory
// swings by. A buffer is given up once less than a chunk is left in it, so its pages swing by
// the buffer size less a chunk: 16 KiB here, against up to 1 MiB per thread with Cyclone's
// defaults (1 MiB buffers, 128 KiB chunks), with nothing leaked. Cyclone sizes a chunk by its
// payload, so 64 KiB still holds the largest UDP packet and no packet is refused; larger samples
// arrive as fragments, each in a packet of its own, so no message size is limited either.
constexpr const char * kReceiveBufferSize = "80 KiB";
constexpr const char * kReceiveChunkSize = "64 KiB";

const char * environment(const char * name) {
  const char * value = std::getenv(name);
  return value == nullptr ? "" : value;
}

/// A DDS domain that lives as long as any participant of this process uses it.
class Domain {
public:
  explicit Domain(const DomainSettings & settings)
      : handle_(checkDds(
            dds_create_domain(settings.domain_id, cycloneConfiguration(settings).c_str()),
            domainFailure(settings))) {}

private:
  static std::string domainFailure(const DomainSettings & settings) {
    std::string failure = "failed to create DDS domain " + std::to_string(settings.domain_id);
    // A shell's CYCLONEDDS_URI that picks an interface again beside our loopback one is the
    // usual way to get here; Cyclone's reason goes only to its own log.
    if (settings.localhost_only && *environment("CYCLONEDDS_URI") != '\0') {
      failure +=
          " with both ROS_LOCALHOST_ONLY=1 and CYCLONEDDS_URI set (unset CYCLONEDDS_URI to stay "
          "on loopback, or unset ROS_LOCALHOST_ONLY and pick the interface in CYCLONEDDS_URI)";
    }
    return failure;
  }

  Entity handle_;
};

std::shared_ptr<Domain> acquireDomain(const DomainSettings & settings) {
  static std::mutex mutex;
  static std::map<uint32_t, std::weak_ptr<Domain>> domains;
  std::lock_guard<std::mutex> lock(mutex);
  std::weak_ptr<Domain> & slot = domains[settings.domain_id];
  std::shared_ptr<Domain> domain = slot.lock();
  if (!domain) {
    domain = std::make_shared<Domain>(settings);
    slot = domain;
  }
  return domain;
}

const MessageMembers & participantInfoType() {
  return *static_cast<const MessageMembers *>(
      rosidl_typesupport_introspection_cpp::get_message_type_support_handle<
          rmw_dds_common::msg::ParticipantEntitiesInfo>()
          ->data);
}

rmw_dds_common::msg::Gid toMessage(const Gid & gid) {
  rmw_dds_common::msg::Gid message;
  std::copy(gid.begin(), gid.end(), message.data.begin());
  return message;
}

std::string participantFailure(const DomainSettings & settings) {
  const ParticipantSecurity & security = settings.security;
  if (security.enclave_folder.empty()) {
    return "failed to create DDS participant";
  }
  // Cyclone names the file it rejected only in its own log; point the operator at the folder.
  std::string failure =
      "failed to create DDS participant: SECURITY ERROR: the security files in '" +
      security.enclave_folder + "' were refused (";
  if (settings.domain_id > kMaxSecuredDomainId) {
    return failure + "ROS_DOMAIN_ID " + std::to_string(settings.domain_id) + " is above " +
           std::to_string(kMaxSecuredDomainId) +
           ", the highest domain DDS Security can secure: use a domain of 0-230 and a keystore "
           "made for it)";
  }
  return failure +
         "a certificate, key or signed document there is invalid, or does not match the others)";
}

}  // namespace

DomainSettings domainSettingsFromEnvironment() {
  DomainSettings settings;
  const std::string domain_id = environment("ROS_DOMAIN_ID");
  if (!domain_id.empty()) {
    char * end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(domain_id.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value > UINT32_MAX) {
      throwLayerError(
          "failed to initialize rcl",
          "ROS_DOMAIN_ID is not an integral number: '" + domain_id + "'");
    }
    settings.domain_id = static_cast<uint32_t>(value);
  }
  settings.localhost_only = std::strcmp(environment("ROS_LOCALHOST_ONLY"), "1") == 0;
  return settings;
}

std::string cycloneConfiguration(const DomainSettings & settings) {
  std::string configuration = "<CycloneDDS><Domain>";
  if (settings.localhost_only) {
    configuration +=
        "<General><Interfaces><NetworkInterface address=\"127.0.0.1\"/>"
        "</Interfaces><AllowMulticast>false</AllowMulticast></General>"
        "<Discovery><ParticipantIndex>auto</ParticipantIndex><MaxAutoParticipantIndex>" +
        std::to_string(kMaxAutoParticipantIndex) +
        // The peer by address: a machine without /etc/hosts (a fresh chroot, a container)
        // cannot resolve "localhost", and discovery would then find nobody.
        "</MaxAutoParticipantIndex><Peers><Peer address=\"127.0.0.1\"/></Peers></Discovery>";
  }
  // One receive thread serves every socket. Cyclone stops a thread that owns a socket of its own
  // by sending it a packet, which never arrives once the network has gone; the shared thread
  // waits on a set that is woken from inside the process. It is also one buffer and one stack
  // less, and a node sees too few packets for a second thread to gain anything.
  configuration += "<Internal><MultipleReceiveThreads>false</MultipleReceiveThreads></Internal>";
  configuration += std::string("<Sizing><ReceiveBufferSize>") + kReceiveBufferSize +
                   "</ReceiveBufferSize><ReceiveBufferChunkSize>" + kReceiveChunkSize +
                   "</ReceiveBufferChunkSize></Sizing></Domain></CycloneDDS>,";
  // Cyclone reads CYCLONEDDS_URI only when no configuration is given: pass it on after ours,
  // so that its settings win.
  return configuration + environment("CYCLONEDDS_URI");
}

Participant::Participant(const DomainSettings & settings) : domain_(acquireDomain(settings)) {
  QosPtr qos(dds_create_qos());
  const std::string user_data = "enclave=" + settings.security.enclave + ";";
  dds_qset_userdata(qos.get(), user_data.data(), user_data.size());
  applySecurity(settings.security, qos.get());
  participant_ = Entity(checkDds(
      dds_create_participant(settings.domain_id, qos.get(), nullptr),
      participantFailure(settings)));
  gid_ = gidOf(participant_.get());
  publisher_ = Entity(checkDds(
      dds_create_publisher(participant_.get(), nullptr, nullptr), "failed to create publisher"));
  subscriber_ = Entity(checkDds(
      dds_create_subscriber(participant_.get(), nullptr, nullptr), "failed to create subscriber"));

  EndpointSpec discovery;
  discovery.topic = "ros_discovery_info";  // not a ROS topic: no "rt" prefix
  discovery.type = &participantInfoType();
  discovery.qos = rmw_qos_profile_default;
  discovery.qos.history = RMW_QOS_POLICY_HISTORY_KEEP_LAST;
  discovery.qos.depth = 1;
  discovery.qos.durability = RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL;
  discovery.qos.reliability = RMW_QOS_POLICY_RELIABILITY_RELIABLE;
  discovery_writer_ = std::make_unique<Writer>(*this, discovery, nullptr);
  std::lock_guard<std::mutex> lock(mutex_);
  announceLocked();
}

Participant::~Participant() = default;

uint32_t Participant::nextEndpointNumber() {
  std::lock_guard<std::mutex> lock(mutex_);
  return ++next_endpoint_;
}

uint64_t Participant::addNode(const std::string & name, const std::string & namespace_) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint64_t key = next_node_++;
  nodes_[key] = NodeEntities{name, namespace_, {}, {}};
  announceLocked();
  return key;
}

void Participant::removeNode(uint64_t node) {
  std::lock_guard<std::mutex> lock(mutex_);
  nodes_.erase(node);
  announceLocked();
}

void Participant::addEndpoint(uint64_t node, const Gid & gid, bool is_writer) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = nodes_.find(node);
  if (found != nodes_.end()) {
    (is_writer ? found->second.writers : found->second.readers).insert(gid);
    announceLocked();
  }
}

void Participant::removeEndpoint(uint64_t node, const Gid & gid, bool is_writer) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = nodes_.find(node);
  if (found != nodes_.end()) {
    (is_writer ? found->second.writers : found->second.readers).erase(gid);
    announceLocked();
  }
}

void Participant::announceLocked() {
  rmw_dds_common::msg::ParticipantEntitiesInfo info;
  info.gid = toMessage(gid_);
  for (const auto & [key, node] : nodes_) {
    rmw_dds_common::msg::NodeEntitiesInfo entry;
    entry.node_name = node.name;
    entry.node_namespace = node.namespace_;
    for (const Gid & gid : node.readers) {
      entry.reader_gid_seq.push_back(toMessage(gid));
    }
    for (const Gid & gid : node.writers) {
      entry.writer_gid_seq.push_back(toMessage(gid));
    }
    info.node_entities_info_seq.push_back(std::move(entry));
  }
  discovery_writer_->write(&info);
}

}  // namespace ros2_layer
