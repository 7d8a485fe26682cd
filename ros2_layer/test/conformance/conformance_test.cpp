// What a node of the layer puts on DDS, observed with plain Cyclone DDS and checked against the
// conventions of ROS 2 Humble with rmw_cyclonedds: topic and type names, QoS, the user data that
// pairs service endpoints, the bytes of a request and a reply, and the node
// announcement on ros_discovery_info.
#include <dds/dds.h>
#include <dds/ddsi/ddsi_serdata.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cdr_bytes.hpp"
#include "endpoints.hpp"
#include "layer_fixture.hpp"
#include "participant.hpp"
#include "rmw_dds_common/msg/participant_entities_info.hpp"
#include "serdata.hpp"
#include "std_msgs/msg/string.hpp"
#include "std_srvs/srv/set_bool.hpp"

namespace {

using namespace std::chrono_literals;
using test_support::Bytes;
using test_support::membersOf;
using SetBool = std_srvs::srv::SetBool;
using Info = rmw_dds_common::msg::ParticipantEntitiesInfo;

/// A publication or subscription as the DCPSPublication/DCPSSubscription built-in topics show it.
struct Endpoint {
  std::string type;
  dds_guid_t key{};
  dds_guid_t participant{};
  std::shared_ptr<dds_qos_t> qos;
};

/// What an endpoint's QoS must say.
struct Expected {
  const char * topic;
  const char * type;
  dds_reliability_kind_t reliability;
  int32_t depth;
  dds_durability_kind_t durability;
};

std::string userData(const dds_qos_t * qos) {
  void * data = nullptr;
  size_t size = 0;
  if (!dds_qget_userdata(qos, &data, &size) || data == nullptr) {
    return {};
  }
  std::string text(static_cast<const char *>(data), size);
  dds_free(data);
  return text;
}

/// Takes what `reader` has of the built-in topic type T and calls `visit` with each valid sample.
template <typename T, typename Visit>
void visitSamples(dds_entity_t reader, Visit visit) {
  void * samples[64] = {};
  dds_sample_info_t infos[64];
  const dds_return_t count = dds_take(reader, samples, infos, 64, 64);
  for (dds_return_t i = 0; i < count; ++i) {
    if (infos[i].valid_data) {
      visit(*static_cast<const T *>(samples[i]));
    }
  }
  if (count > 0) {
    dds_return_loan(reader, samples, count);
  }
}

class Conformance : public test_support::LayerTest {
protected:
  void SetUp() override {
    LayerTest::SetUp();
    peer_.emplace();
    ASSERT_TRUE(peer_->waitForReady());
    raw_ = std::make_unique<ros2_layer::Participant>(ros2_layer::domainSettingsFromEnvironment());
  }

  void TearDown() override {
    raw_.reset();
    LayerTest::TearDown();
  }

  /// Reads a built-in endpoint topic until every named topic is seen; the endpoints by name,
  /// of other participants than the layer's own in this process.
  std::map<std::string, Endpoint> discover(
      dds_entity_t builtin_topic, const std::vector<Expected> & expected) {
    ros2_layer::Entity reader(dds_create_reader(raw_->handle(), builtin_topic, nullptr, nullptr));
    std::map<std::string, Endpoint> found;
    tavrin_tools::waitUntil(
        [&] {
          visitSamples<dds_builtintopic_endpoint_t>(reader.get(), [&](const auto & endpoint) {
            if (std::string(endpoint.topic_name) != "ros_discovery_info") {
              std::shared_ptr<dds_qos_t> qos(dds_create_qos(), dds_delete_qos);
              dds_copy_qos(qos.get(), endpoint.qos);
              found[endpoint.topic_name] =
                  Endpoint{endpoint.type_name, endpoint.key, endpoint.participant_key, qos};
            }
          });
          return std::all_of(expected.begin(), expected.end(), [&](const Expected & entry) {
            return found.count(entry.topic) == 1;
          });
        },
        60s);
    return found;
  }

  /// A raw reader of a topic with the layer's sertype, to capture the bytes that arrive.
  ros2_layer::Entity rawReader(
      const std::string & topic, const ros2_layer::MessageMembers & type, bool request_header,
      const rmw_qos_profile_t & profile = rmw_qos_profile_default) {
    ddsi_sertype * sertype = ros2_layer::createSertype(type, request_header);
    topics_.emplace_back(dds_create_topic_sertype(
        raw_->handle(), topic.c_str(), &sertype, nullptr, nullptr, nullptr));
    ros2_layer::QosPtr qos = ros2_layer::makeReadWriteQos(profile, false);
    return ros2_layer::Entity(
        dds_create_reader(raw_->handle(), topics_.back().get(), qos.get(), nullptr));
  }

  /// The serialised bytes of the next sample, exactly as they came off the wire.
  static Bytes takeBytes(dds_entity_t reader) {
    Bytes bytes;
    tavrin_tools::waitUntil(
        [&] {
          ddsi_serdata * data = nullptr;
          dds_sample_info_t info;
          if (dds_takecdr(reader, &data, 1, &info, DDS_ANY_STATE) != 1) {
            return false;
          }
          bytes.resize(info.valid_data ? ddsi_serdata_size(data) : 0);
          ddsi_serdata_to_ser(data, 0, bytes.size(), bytes.data());
          ddsi_serdata_unref(data);
          return info.valid_data;
        },
        60s);
    return bytes;
  }

  std::optional<test_support::Peer> peer_;
  std::unique_ptr<ros2_layer::Participant> raw_;
  std::vector<ros2_layer::Entity> topics_;
};

void expectQos(const std::map<std::string, Endpoint> & endpoints, const Expected & expected) {
  SCOPED_TRACE(expected.topic);
  const auto found = endpoints.find(expected.topic);
  ASSERT_NE(found, endpoints.end());
  EXPECT_EQ(found->second.type, expected.type);
  const dds_qos_t * qos = found->second.qos.get();
  dds_reliability_kind_t reliability;
  dds_durability_kind_t durability;
  dds_liveliness_kind_t liveliness;
  dds_duration_t max_blocking = 0;
  dds_duration_t lease = 0;
  ASSERT_TRUE(
      dds_qget_reliability(qos, &reliability, &max_blocking) &&
      dds_qget_durability(qos, &durability) && dds_qget_liveliness(qos, &liveliness, &lease));
  EXPECT_EQ(reliability, expected.reliability);
  EXPECT_EQ(durability, expected.durability);
  EXPECT_EQ(liveliness, DDS_LIVELINESS_AUTOMATIC);
  EXPECT_EQ(lease, DDS_INFINITY);
  if (reliability == DDS_RELIABILITY_RELIABLE) {
    EXPECT_EQ(max_blocking, DDS_INFINITY);
  }
  dds_history_kind_t history;
  int32_t depth = 0;
  if (dds_qget_history(qos, &history, &depth)) {
    EXPECT_EQ(history, DDS_HISTORY_KEEP_LAST);
    EXPECT_EQ(depth, expected.depth);
  }
  if (durability == DDS_DURABILITY_TRANSIENT_LOCAL) {
    dds_duration_t cleanup = 0;
    int32_t limit = 0;  // the resource limits, which nothing here sets
    ASSERT_TRUE(
        dds_qget_durability_service(qos, &cleanup, &history, &depth, &limit, &limit, &limit));
    EXPECT_EQ(history, DDS_HISTORY_KEEP_LAST);
    EXPECT_EQ(depth, expected.depth);
  }
}

TEST_F(Conformance, EndpointsNamesQosDiscoveryAndRequestAndReplyBytesAreAsWithRmwCyclonedds) {
  constexpr auto kReliable = DDS_RELIABILITY_RELIABLE;
  constexpr auto kBestEffort = DDS_RELIABILITY_BEST_EFFORT;
  constexpr auto kVolatile = DDS_DURABILITY_VOLATILE;
  const std::vector<Expected> writers = {
      {"rt/chatter", "std_msgs::msg::dds_::String_", kReliable, 7, kVolatile},
      {"rt/cmd_vel", "geometry_msgs::msg::dds_::Twist_", kBestEffort, 3, kVolatile},
      {"rt/latched", "std_msgs::msg::dds_::Bool_", kReliable, 2, DDS_DURABILITY_TRANSIENT_LOCAL},
      {"rr/toggleReply", "std_srvs::srv::dds_::SetBool_Response_", kReliable, 10, kVolatile},
      {"rq/probeRequest", "std_srvs::srv::dds_::SetBool_Request_", kReliable, 10, kVolatile},
  };
  const std::vector<Expected> readers = {
      {"rt/joy", "sensor_msgs::msg::dds_::Joy_", kBestEffort, 4, kVolatile},
      {"rq/toggleRequest", "std_srvs::srv::dds_::SetBool_Request_", kReliable, 10, kVolatile},
      {"rr/probeReply", "std_srvs::srv::dds_::SetBool_Response_", kReliable, 10, kVolatile},
  };
  std::map<std::string, Endpoint> found;
  for (const auto & [builtin, expected] :
       {std::pair{DDS_BUILTIN_TOPIC_DCPSPUBLICATION, writers},
        std::pair{DDS_BUILTIN_TOPIC_DCPSSUBSCRIPTION, readers}}) {
    const auto endpoints = discover(builtin, expected);
    for (const Expected & entry : expected) {
      expectQos(endpoints, entry);
    }
    found.insert(endpoints.begin(), endpoints.end());
  }
  bool autodispose = true;
  ASSERT_TRUE(dds_qget_writer_data_lifecycle(found.at("rt/chatter").qos.get(), &autodispose));
  EXPECT_FALSE(autodispose);

  const std::string service = userData(found.at("rr/toggleReply").qos.get());
  const std::string client = userData(found.at("rq/probeRequest").qos.get());
  EXPECT_EQ(service.rfind("serviceid=", 0), 0u) << service;
  EXPECT_EQ(service.back(), ';');
  EXPECT_EQ(userData(found.at("rq/toggleRequest").qos.get()), service);
  EXPECT_EQ(client.rfind("clientid=", 0), 0u) << client;
  EXPECT_EQ(userData(found.at("rr/probeReply").qos.get()), client);
  EXPECT_NE(service.substr(10), client.substr(9));

  // The participant announces the default enclave, and ros_discovery_info the node with its
  // reader and writer.
  const Endpoint & chatter = found.at("rt/chatter");
  const Endpoint & joy = found.at("rt/joy");
  ros2_layer::Entity participants(
      dds_create_reader(raw_->handle(), DDS_BUILTIN_TOPIC_DCPSPARTICIPANT, nullptr, nullptr));
  std::string enclave;
  tavrin_tools::waitUntil(
      [&] {
        visitSamples<dds_builtintopic_participant_t>(participants.get(), [&](const auto & peer) {
          if (std::memcmp(peer.key.v, chatter.participant.v, sizeof(peer.key.v)) == 0) {
            enclave = userData(peer.qos);
          }
        });
        return !enclave.empty();
      },
      60s);
  EXPECT_EQ(enclave, "enclave=/;");
  auto gid = [](const dds_guid_t & guid) {
    rmw_dds_common::msg::Gid padded;
    std::memcpy(padded.data.data(), guid.v, sizeof(guid.v));
    return padded;
  };
  rmw_qos_profile_t profile = rmw_qos_profile_default;
  profile.depth = 1;
  profile.durability = RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL;
  ros2_layer::Entity reader = rawReader("ros_discovery_info", membersOf<Info>(), false, profile);

  auto announces_peer = [&](const Info & info) {
    if (info.gid != gid(chatter.participant) || info.node_entities_info_seq.size() != 1) {
      return false;
    }
    const auto & node = info.node_entities_info_seq[0];
    auto contains = [](const auto & gids, const rmw_dds_common::msg::Gid & wanted) {
      return std::find(gids.begin(), gids.end(), wanted) != gids.end();
    };
    return node.node_name == "peer" && node.node_namespace == "/" &&
           contains(node.writer_gid_seq, gid(chatter.key)) &&
           contains(node.reader_gid_seq, gid(joy.key));
  };
  EXPECT_TRUE(tavrin_tools::waitUntil(
      [&] { return announces_peer(test_support::decode<Info>(takeBytes(reader.get()))); }, 60s));

  // Requests start with the client's id and a sequence number, and replies repeat them.
  ros2_layer::Entity replies = rawReader("rr/toggleReply", membersOf<SetBool::Response>(), true);
  auto node = std::make_shared<rclcpp::Node>("asker");
  auto asker = node->create_client<SetBool>("toggle");
  ASSERT_TRUE(asker->wait_for_service(60s));
  // Created once the service is ready: a request reader without a service id matched before the
  // service's own would make the client's readiness check accept it, as rmw_cyclonedds's would.
  ros2_layer::Entity requests = rawReader("rq/toggleRequest", membersOf<SetBool::Request>(), true);
  // What goes on the wire is padded to a multiple of four bytes, as with rmw_cyclonedds.
  auto padded = [](Bytes bytes) {
    bytes.resize((bytes.size() + 3) / 4 * 4, 0x00);
    return bytes;
  };
  ros2_layer::RequestHeader first{};
  for (const bool data : {false, true}) {
    auto request = std::make_shared<SetBool::Request>();
    request->data = data;
    auto result = asker->async_send_request(request);
    ASSERT_EQ(
        rclcpp::spin_until_future_complete(node, result, 60s), rclcpp::FutureReturnCode::SUCCESS);
    // The encoder's bytes are checked by hand in the CDR test: here, that they are what is sent.
    const Bytes sent = takeBytes(requests.get());
    ros2_layer::RequestHeader header;
    EXPECT_EQ(test_support::decode<SetBool::Request>(sent, &header), *request);
    EXPECT_EQ(sent, padded(test_support::encode(*request, &header)));
    EXPECT_NE(header.client_id, 0u);
    EXPECT_EQ(header.sequence_number, result.request_id);
    // The reply repeats the request's header; one client keeps its id and counts its requests.
    SetBool::Response response;
    response.success = !data;
    response.message = data ? "was true" : "was false";
    EXPECT_EQ(takeBytes(replies.get()), padded(test_support::encode(response, &header)));
    if (first.client_id != 0) {
      EXPECT_EQ(header.client_id, first.client_id);
      EXPECT_EQ(header.sequence_number, first.sequence_number + 1);
    }
    first = header;
  }
}

}  // namespace
