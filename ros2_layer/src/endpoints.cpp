#include "endpoints.hpp"

#include <dds/ddsi/ddsi_sertype.h>

#include <climits>
#include <cstring>

#include "dds_error.hpp"
#include "participant.hpp"
#include "rclcpp/exceptions.hpp"
#include "serdata.hpp"
#include "teardown.hpp"

namespace ros2_layer {
namespace {

bool isUnspecified(const rmw_time_t & duration) { return duration.sec == 0 && duration.nsec == 0; }

dds_duration_t toDdsDuration(const rmw_time_t & duration) {
  const rmw_time_t infinite = RMW_DURATION_INFINITE;
  if (duration.sec >= infinite.sec) {
    return DDS_INFINITY;
  }
  return static_cast<dds_duration_t>(duration.sec) * 1000000000LL +
         static_cast<dds_duration_t>(duration.nsec);
}

[[noreturn]] void throwUnsupportedQos(const char * what) {
  throw rclcpp::exceptions::RCLInvalidArgument(1, what, "invalid QoS: ");
}

void setHistory(dds_qos_t * qos, const rmw_qos_profile_t & profile) {
  switch (profile.history) {
    case RMW_QOS_POLICY_HISTORY_SYSTEM_DEFAULT:
    case RMW_QOS_POLICY_HISTORY_KEEP_LAST:
      if (profile.depth == RMW_QOS_POLICY_DEPTH_SYSTEM_DEFAULT) {
        dds_qset_history(qos, DDS_HISTORY_KEEP_LAST, 1);
      } else if (profile.depth > INT32_MAX) {
        throwUnsupportedQos("unsupported history depth");
      } else {
        dds_qset_history(qos, DDS_HISTORY_KEEP_LAST, static_cast<int32_t>(profile.depth));
      }
      return;
    case RMW_QOS_POLICY_HISTORY_KEEP_ALL:
      dds_qset_history(qos, DDS_HISTORY_KEEP_ALL, DDS_LENGTH_UNLIMITED);
      return;
    default:
      throwUnsupportedQos("unknown history policy");
  }
}

void setReliability(dds_qos_t * qos, const rmw_qos_profile_t & profile) {
  switch (profile.reliability) {
    case RMW_QOS_POLICY_RELIABILITY_SYSTEM_DEFAULT:
    case RMW_QOS_POLICY_RELIABILITY_RELIABLE:
      dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_INFINITY);
      return;
    case RMW_QOS_POLICY_RELIABILITY_BEST_EFFORT:
      dds_qset_reliability(qos, DDS_RELIABILITY_BEST_EFFORT, 0);
      return;
    default:
      throwUnsupportedQos("unknown reliability policy");
  }
}

void setDurability(dds_qos_t * qos, const rmw_qos_profile_t & profile) {
  switch (profile.durability) {
    case RMW_QOS_POLICY_DURABILITY_SYSTEM_DEFAULT:
    case RMW_QOS_POLICY_DURABILITY_VOLATILE:
      dds_qset_durability(qos, DDS_DURABILITY_VOLATILE);
      return;
    case RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL: {
      // Cyclone keeps historical data by the durability service settings, separately from
      // the reliability window: make them follow the history.
      dds_history_kind_t kind;
      int32_t depth;
      dds_qget_history(qos, &kind, &depth);
      dds_qset_durability(qos, DDS_DURABILITY_TRANSIENT_LOCAL);
      dds_qset_durability_service(
          qos, DDS_SECS(0), kind, depth, DDS_LENGTH_UNLIMITED, DDS_LENGTH_UNLIMITED,
          DDS_LENGTH_UNLIMITED);
      return;
    }
    default:
      throwUnsupportedQos("unknown durability policy");
  }
}

void setLiveliness(dds_qos_t * qos, const rmw_qos_profile_t & profile) {
  const dds_duration_t lease = isUnspecified(profile.liveliness_lease_duration)
                                   ? DDS_INFINITY
                                   : toDdsDuration(profile.liveliness_lease_duration);
  switch (profile.liveliness) {
    case RMW_QOS_POLICY_LIVELINESS_SYSTEM_DEFAULT:
    case RMW_QOS_POLICY_LIVELINESS_AUTOMATIC:
      dds_qset_liveliness(qos, DDS_LIVELINESS_AUTOMATIC, lease);
      return;
    case RMW_QOS_POLICY_LIVELINESS_MANUAL_BY_TOPIC:
      dds_qset_liveliness(qos, DDS_LIVELINESS_MANUAL_BY_TOPIC, lease);
      return;
    default:
      throwUnsupportedQos("unsupported liveliness policy");
  }
}

Entity createTopic(Participant & participant, const EndpointSpec & description) {
  ddsi_sertype * sertype = createSertype(*description.type, description.request_header);
  const dds_entity_t topic = dds_create_topic_sertype(
      participant.handle(), description.topic.c_str(), &sertype, nullptr, nullptr, nullptr);
  if (topic < 0) {
    ddsi_sertype_unref(sertype);
  }
  return Entity(checkDds(topic, "failed to create topic '" + description.topic + "'"));
}

QosPtr endpointQos(const EndpointSpec & description) {
  QosPtr qos = makeReadWriteQos(description.qos, description.ignore_local_publications);
  if (!description.user_data.empty()) {
    dds_qset_userdata(qos.get(), description.user_data.data(), description.user_data.size());
  }
  return qos;
}

size_t matchedCount(
    dds_entity_t entity, dds_return_t (*matched)(dds_entity_t, dds_instance_handle_t *, size_t)) {
  const dds_return_t count = matched(entity, nullptr, 0);
  return count < 0 ? 0 : static_cast<size_t>(count);
}

}  // namespace

Entity::~Entity() {
  if (handle_ > 0) {
    deleteEntity(handle_);
  }
}

Entity & Entity::operator=(Entity && other) noexcept {
  if (this != &other) {
    if (handle_ > 0) {
      deleteEntity(handle_);
    }
    handle_ = other.handle_;
    other.handle_ = 0;
  }
  return *this;
}

std::string ddsTopicName(
    const char * prefix, const std::string & ros_name, const char * suffix,
    const rmw_qos_profile_t & qos) {
  if (qos.avoid_ros_namespace_conventions) {
    return ros_name + suffix;
  }
  return prefix + ros_name + suffix;
}

QosPtr makeReadWriteQos(const rmw_qos_profile_t & profile, bool ignore_local_publications) {
  QosPtr qos(dds_create_qos());
  dds_qset_writer_data_lifecycle(qos.get(), false);  // no autodispose
  setHistory(qos.get(), profile);
  setReliability(qos.get(), profile);
  setDurability(qos.get(), profile);
  if (!isUnspecified(profile.lifespan)) {
    dds_qset_lifespan(qos.get(), toDdsDuration(profile.lifespan));
  }
  if (!isUnspecified(profile.deadline)) {
    dds_qset_deadline(qos.get(), toDdsDuration(profile.deadline));
  }
  setLiveliness(qos.get(), profile);
  if (ignore_local_publications) {
    dds_qset_ignorelocal(qos.get(), DDS_IGNORELOCAL_PARTICIPANT);
  }
  return qos;
}

Gid gidOf(dds_entity_t entity) {
  dds_guid_t guid;
  checkDds(dds_get_guid(entity, &guid), "failed to get the GUID of an entity");
  Gid gid{};
  std::memcpy(gid.data(), guid.v, sizeof(guid.v));
  return gid;
}

Writer::Writer(
    Participant & participant, const EndpointSpec & description, const dds_listener_t * listener)
    : topic_(createTopic(participant, description)) {
  QosPtr qos = endpointQos(description);
  writer_ = Entity(checkDds(
      dds_create_writer(participant.publisher(), topic_.get(), qos.get(), listener),
      "failed to create writer on '" + description.topic + "'"));
  checkDds(
      dds_get_instance_handle(writer_.get(), &instance_handle_),
      "failed to get the instance handle of a writer");
}

void Writer::write(const void * sample) {
  checkDds(dds_write(writer_.get(), sample), "failed to publish");
}

size_t Writer::matchedCount() const {
  return ros2_layer::matchedCount(writer_.get(), dds_get_matched_subscriptions);
}

Reader::Reader(
    Participant & participant, const EndpointSpec & description, const dds_listener_t * listener)
    : topic_(createTopic(participant, description)) {
  QosPtr qos = endpointQos(description);
  reader_ = Entity(checkDds(
      dds_create_reader(participant.subscriber(), topic_.get(), qos.get(), listener),
      "failed to create reader on '" + description.topic + "'"));
  condition_ = Entity(checkDds(
      dds_create_readcondition(reader_.get(), DDS_ANY_STATE), "failed to create a read condition"));
}

bool Reader::take(void * sample, dds_sample_info_t & info) {
  void * samples[1] = {sample};
  return checkDds(dds_take(reader_.get(), samples, &info, 1, 1), "failed to take") > 0;
}

size_t Reader::matchedCount() const {
  return ros2_layer::matchedCount(reader_.get(), dds_get_matched_publications);
}

}  // namespace ros2_layer
