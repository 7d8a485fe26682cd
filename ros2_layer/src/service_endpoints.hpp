// The DDS side of clients and services as rmw_cyclonedds lays it out: a request topic
// "rq<name>Request" and a reply topic "rr<name>Reply", each sample preceded by the client id
// and sequence number, and endpoint user data that pairs each client's and service's reader
// with its writer.
#pragma once

#include <dds/dds.h>

#include <memory>
#include <string>
#include <vector>

#include "endpoints.hpp"
#include "rmw/types.h"
#include "rosidl_runtime_c/service_type_support_struct.h"

namespace ros2_layer {

class NodeState;

/// The "clientid=..;" / "serviceid=..;" value of an endpoint: the participant's GUID prefix and
/// a per-participant counter, printed as rmw_cyclonedds prints it.
std::string endpointIdentifier(const Gid & participant_gid, uint32_t number);

/// The value of `key` in an endpoint's "key=value;" user data; empty when absent.
std::string userDataValue(const dds_qos_t * qos, const std::string & key);

/// The request writer and reply reader of a client.
class ClientEndpoints {
public:
  /// Creates both endpoints for the resolved service name; a change in their matches wakes
  /// waiters for the graph.
  ClientEndpoints(
      NodeState & node, const rosidl_service_type_support_t & type_support,
      const std::string & service_name, const rmw_qos_profile_t & qos);
  ~ClientEndpoints();

  /// Writes a request and returns its sequence number.
  int64_t send(const void * request);
  /// Takes the next reply addressed to this client; false when there is none.
  bool takeReply(void * response, rmw_request_id_t & request_id);
  /// True when a service's request reader and reply writer are both matched.
  bool serviceIsReady() const;
  /// The services' request readers that the request writer is matched with.
  std::vector<dds_instance_handle_t> matchedServers() const;
  /// The condition of the reply reader.
  dds_entity_t condition() const { return reply_reader_->condition(); }

private:
  NodeState & node_;
  std::unique_ptr<Writer> request_writer_;
  std::unique_ptr<Reader> reply_reader_;
};

/// The request reader and reply writer of a service.
class ServiceEndpoints {
public:
  /// Creates both endpoints for the resolved service name.
  ServiceEndpoints(
      NodeState & node, const rosidl_service_type_support_t & type_support,
      const std::string & service_name, const rmw_qos_profile_t & qos);
  ~ServiceEndpoints();

  /// Takes the next request; false when there is none.
  bool takeRequest(void * request, rmw_request_id_t & request_id);
  /// Writes a reply once the client's reply reader is matched; false when it was not matched
  /// within a short wait. A reply to a client that is gone is dropped and counts as sent.
  bool sendReply(const rmw_request_id_t & request_id, const void * response);
  /// The condition of the request reader.
  dds_entity_t condition() const { return request_reader_->condition(); }

private:
  enum class ClientPresence { Gone, Maybe, Yes };
  ClientPresence replyReaderPresence(dds_instance_handle_t request_writer) const;

  NodeState & node_;
  std::unique_ptr<Reader> request_reader_;
  std::unique_ptr<Writer> reply_writer_;
};

}  // namespace ros2_layer
