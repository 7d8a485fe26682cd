// Clients and services as rmw_cyclonedds lays them out on DDS.
#include "service_endpoints.hpp"

#include <atomic>
#include <chrono>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <thread>
#include <vector>

#include "context_state.hpp"
#include "dds_error.hpp"
#include "node_state.hpp"
#include "rosidl_typesupport_introspection_cpp/service_introspection.hpp"
#include "serdata.hpp"

namespace ros2_layer {
namespace {

using ServiceMembers = rosidl_typesupport_introspection_cpp::ServiceMembers;

// How long a service waits for a client's reply reader before dropping the reply, as
// rmw_cyclonedds does.
constexpr auto kReplyReaderWait = std::chrono::milliseconds(100);
constexpr auto kReplyReaderPoll = std::chrono::milliseconds(5);

const ServiceMembers & membersOf(const rosidl_service_type_support_t & type_support) {
  return *static_cast<const ServiceMembers *>(type_support.data);
}

struct EndpointDeleter {
  void operator()(dds_builtintopic_endpoint_t * endpoint) const {
    dds_builtintopic_free_endpoint(endpoint);
  }
};
using EndpointData = std::unique_ptr<dds_builtintopic_endpoint_t, EndpointDeleter>;

std::vector<dds_instance_handle_t> matched(
    dds_entity_t entity, dds_return_t (*list)(dds_entity_t, dds_instance_handle_t *, size_t)) {
  std::vector<dds_instance_handle_t> handles(16);
  while (true) {
    const dds_return_t count = list(entity, handles.data(), handles.size());
    if (count < 0) {
      return {};
    }
    if (static_cast<size_t>(count) <= handles.size()) {
      handles.resize(static_cast<size_t>(count));
      return handles;
    }
    handles.resize(static_cast<size_t>(count) + 16);
  }
}

std::string idOf(const EndpointData & endpoint, const char * key) {
  return endpoint ? userDataValue(endpoint->qos, key) : std::string();
}

// A sequence number shared by all clients of the process, as in rmw_cyclonedds, so that a
// request id never repeats within a process.
std::atomic<int64_t> next_sequence_number{0};

void notifyGraph(dds_entity_t, void * context) {
  static_cast<ContextState *>(context)->notifyGraphChange();
}

void onPublicationMatched(
    dds_entity_t writer, const dds_publication_matched_status_t, void * context) {
  notifyGraph(writer, context);
}

void onSubscriptionMatched(
    dds_entity_t reader, const dds_subscription_matched_status_t, void * context) {
  notifyGraph(reader, context);
}

struct ListenerDeleter {
  void operator()(dds_listener_t * listener) const { dds_delete_listener(listener); }
};

EndpointSpec description(
    const char * prefix, const std::string & service_name, const char * suffix,
    const MessageMembers * type, const rmw_qos_profile_t & qos, const std::string & user_data) {
  EndpointSpec result;
  result.topic = ddsTopicName(prefix, service_name, suffix, qos);
  result.type = type;
  result.request_header = true;
  result.qos = qos;
  result.user_data = user_data;
  return result;
}

}  // namespace

std::string endpointIdentifier(const Gid & participant_gid, uint32_t number) {
  std::array<uint8_t, 16> id{};
  std::memcpy(id.data(), participant_gid.data(), 12);
  for (size_t i = 0; i < 4; ++i) {
    id[12 + i] = static_cast<uint8_t>(number >> (24 - 8 * i));
  }
  std::ostringstream text;
  text << std::hex << std::setw(2) << static_cast<int>(id[0]);
  for (size_t i = 1; i < id.size(); ++i) {
    text << "." << static_cast<int>(id[i]);
  }
  return text.str();
}

std::string userDataValue(const dds_qos_t * qos, const std::string & key) {
  void * data = nullptr;
  size_t size = 0;
  if (qos == nullptr || !dds_qget_userdata(qos, &data, &size) || data == nullptr) {
    return {};
  }
  const std::string text(static_cast<const char *>(data), size);
  dds_free(data);
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find(';', start);
    const std::string entry = text.substr(start, end == std::string::npos ? end : end - start);
    const size_t equals = entry.find('=');
    if (equals != std::string::npos && entry.compare(0, equals, key) == 0) {
      return entry.substr(equals + 1);
    }
    if (end == std::string::npos) {
      break;
    }
    start = end + 1;
  }
  return {};
}

ClientEndpoints::ClientEndpoints(
    NodeState & node, const rosidl_service_type_support_t & type_support,
    const std::string & service_name, const rmw_qos_profile_t & qos)
    : node_(node) {
  const ServiceMembers & members = membersOf(type_support);
  const std::string user_data =
      "clientid=" +
      endpointIdentifier(node.participant().gid(), node.participant().nextEndpointNumber()) + ";";
  std::unique_ptr<dds_listener_t, ListenerDeleter> listener(
      dds_create_listener(&node.contextState()));
  dds_lset_publication_matched(listener.get(), onPublicationMatched);
  dds_lset_subscription_matched(listener.get(), onSubscriptionMatched);
  request_writer_ = std::make_unique<Writer>(
      node.participant(),
      description("rq", service_name, "Request", members.request_members_, qos, user_data),
      listener.get());
  reply_reader_ = std::make_unique<Reader>(
      node.participant(),
      description("rr", service_name, "Reply", members.response_members_, qos, user_data),
      listener.get());
  node.announceEndpoint(gidOf(request_writer_->handle()), true);
  node.announceEndpoint(gidOf(reply_reader_->handle()), false);
}

ClientEndpoints::~ClientEndpoints() {
  node_.withdrawEndpoint(gidOf(request_writer_->handle()), true);
  node_.withdrawEndpoint(gidOf(reply_reader_->handle()), false);
}

int64_t ClientEndpoints::send(const void * request) {
  RequestSample sample;
  sample.header.client_id = request_writer_->instanceHandle();
  sample.header.sequence_number = ++next_sequence_number;
  sample.message = const_cast<void *>(request);
  request_writer_->write(&sample);
  return sample.header.sequence_number;
}

// The client id, then the instance handle of the sample's writer: on the service side that
// handle finds the client's reply reader when the reply goes out.
namespace {

rmw_request_id_t requestIdOf(const RequestSample & sample, const dds_sample_info_t & info) {
  rmw_request_id_t request_id{};
  std::memcpy(request_id.writer_guid, &sample.header.client_id, sizeof(sample.header.client_id));
  std::memcpy(
      request_id.writer_guid + sizeof(sample.header.client_id), &info.publication_handle,
      sizeof(info.publication_handle));
  request_id.sequence_number = sample.header.sequence_number;
  return request_id;
}

}  // namespace

bool ClientEndpoints::takeReply(void * response, rmw_request_id_t & request_id) {
  RequestSample sample;
  sample.message = response;
  dds_sample_info_t info;
  while (reply_reader_->take(&sample, info)) {
    // Every client of a service reads all its replies; each keeps those with its own id.
    if (info.valid_data && sample.header.client_id == request_writer_->instanceHandle()) {
      request_id = requestIdOf(sample, info);
      return true;
    }
  }
  return false;
}

std::vector<dds_instance_handle_t> ClientEndpoints::matchedServers() const {
  return matched(request_writer_->handle(), dds_get_matched_subscriptions);
}

bool ClientEndpoints::serviceIsReady() const {
  const std::vector<dds_instance_handle_t> readers =
      matched(request_writer_->handle(), dds_get_matched_subscriptions);
  const std::vector<dds_instance_handle_t> writers =
      matched(reply_reader_->handle(), dds_get_matched_publications);
  std::vector<std::string> service_ids;
  for (dds_instance_handle_t reader : readers) {
    const std::string id = idOf(
        EndpointData(dds_get_matched_subscription_data(request_writer_->handle(), reader)),
        "serviceid");
    if (!id.empty()) {
      service_ids.push_back(id);
    }
  }
  if (service_ids.empty()) {
    // Services that do not say which reader and writer belong together: any pair will do.
    return !readers.empty() && !writers.empty();
  }
  for (dds_instance_handle_t writer : writers) {
    const std::string id = idOf(
        EndpointData(dds_get_matched_publication_data(reply_reader_->handle(), writer)),
        "serviceid");
    if (std::find(service_ids.begin(), service_ids.end(), id) != service_ids.end()) {
      return true;
    }
  }
  return false;
}

ServiceEndpoints::ServiceEndpoints(
    NodeState & node, const rosidl_service_type_support_t & type_support,
    const std::string & service_name, const rmw_qos_profile_t & qos)
    : node_(node) {
  const ServiceMembers & members = membersOf(type_support);
  const std::string user_data =
      "serviceid=" +
      endpointIdentifier(node.participant().gid(), node.participant().nextEndpointNumber()) + ";";
  request_reader_ = std::make_unique<Reader>(
      node.participant(),
      description("rq", service_name, "Request", members.request_members_, qos, user_data),
      nullptr);
  reply_writer_ = std::make_unique<Writer>(
      node.participant(),
      description("rr", service_name, "Reply", members.response_members_, qos, user_data), nullptr);
  node.announceEndpoint(gidOf(reply_writer_->handle()), true);
  node.announceEndpoint(gidOf(request_reader_->handle()), false);
}

ServiceEndpoints::~ServiceEndpoints() {
  node_.withdrawEndpoint(gidOf(reply_writer_->handle()), true);
  node_.withdrawEndpoint(gidOf(request_reader_->handle()), false);
}

bool ServiceEndpoints::takeRequest(void * request, rmw_request_id_t & request_id) {
  RequestSample sample;
  sample.message = request;
  dds_sample_info_t info;
  while (request_reader_->take(&sample, info)) {
    if (info.valid_data) {
      request_id = requestIdOf(sample, info);
      return true;
    }
  }
  return false;
}

ServiceEndpoints::ClientPresence ServiceEndpoints::replyReaderPresence(
    dds_instance_handle_t request_writer) const {
  const EndpointData writer(
      dds_get_matched_publication_data(request_reader_->handle(), request_writer));
  if (!writer) {
    return ClientPresence::Gone;
  }
  const std::string client_id = idOf(writer, "clientid");
  if (client_id.empty()) {
    return ClientPresence::Yes;
  }
  for (dds_instance_handle_t reader :
       matched(reply_writer_->handle(), dds_get_matched_subscriptions)) {
    if (idOf(
            EndpointData(dds_get_matched_subscription_data(reply_writer_->handle(), reader)),
            "clientid") == client_id) {
      return ClientPresence::Yes;
    }
  }
  return ClientPresence::Maybe;
}

bool ServiceEndpoints::sendReply(const rmw_request_id_t & request_id, const void * response) {
  RequestSample sample;
  std::memcpy(&sample.header.client_id, request_id.writer_guid, sizeof(sample.header.client_id));
  sample.header.sequence_number = request_id.sequence_number;
  sample.message = const_cast<void *>(response);
  dds_instance_handle_t request_writer = 0;
  std::memcpy(
      &request_writer, request_id.writer_guid + sizeof(sample.header.client_id),
      sizeof(request_writer));
  // A reply written before the client's reply reader is matched would be lost.
  const auto deadline = std::chrono::steady_clock::now() + kReplyReaderWait;
  ClientPresence presence = replyReaderPresence(request_writer);
  while (presence == ClientPresence::Maybe && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kReplyReaderPoll);
    presence = replyReaderPresence(request_writer);
  }
  switch (presence) {
    case ClientPresence::Gone:
      return true;
    case ClientPresence::Maybe:
      return false;
    case ClientPresence::Yes:
      break;
  }
  reply_writer_->write(&sample);
  return true;
}

}  // namespace ros2_layer
