// Bytes from any peer on the domain go through the layer's CDR decoder. The first input byte
// picks the message type, the rest is the serialised data as it arrives from the wire. Whatever
// decodes must encode again, and decode once more to the same encoding.
#include <dds/ddsi/ddsi_serdata.h>
#include <dds/ddsi/ddsi_sertype.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "action_msgs/msg/goal_status_array.hpp"
#include "action_msgs/srv/cancel_goal.hpp"
#include "geometry_msgs/msg/twist.hpp"
#include "rmw_dds_common/msg/participant_entities_info.hpp"
#include "rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp"
#include "sensor_msgs/msg/joy.hpp"
#include "serdata.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/int32_multi_array.hpp"
#include "std_msgs/msg/string.hpp"
#include "std_srvs/srv/set_bool.hpp"
#include "tavrin_protocol/action/arm_task_decision.hpp"

namespace {

using ArmTask = tavrin_protocol::action::ArmTaskDecision;
using Decoder = std::function<void(const uint8_t * data, size_t size)>;

struct SerdataUnref {
  void operator()(ddsi_serdata * data) const { ddsi_serdata_unref(data); }
};
using SerdataPtr = std::unique_ptr<ddsi_serdata, SerdataUnref>;

struct SertypeUnref {
  void operator()(ddsi_sertype * type) const { ddsi_sertype_unref(type); }
};

// Requests and replies travel behind the header that names the client and the request.
template <typename Message>
struct Sample {
  explicit Sample(bool request_header) : request{{}, &message}, with_header(request_header) {}
  Sample(const Sample &) = delete;
  Sample & operator=(const Sample &) = delete;
  void * data() { return with_header ? static_cast<void *>(&request) : &message; }
  Message message;
  ros2_layer::RequestSample request;
  bool with_header;
};

std::vector<uint8_t> encodingOf(const ddsi_serdata & data) {
  std::vector<uint8_t> bytes(ddsi_serdata_size(&data));
  ddsi_serdata_to_ser(&data, 0, bytes.size(), bytes.data());
  return bytes;
}

SerdataPtr fromWire(const ddsi_sertype * type, const uint8_t * data, size_t size) {
  ddsrt_iovec_t fragment{const_cast<uint8_t *>(data), static_cast<ddsrt_iov_len_t>(size)};
  return SerdataPtr(ddsi_serdata_from_ser_iov(type, SDK_DATA, 1, &fragment, size));
}

template <typename Message>
Decoder decoderFor(bool request_header) {
  const auto & members = *static_cast<const ros2_layer::MessageMembers *>(
      rosidl_typesupport_introspection_cpp::get_message_type_support_handle<Message>()->data);
  // Kept for the whole run, as a topic keeps its type.
  std::shared_ptr<ddsi_sertype> sertype(
      ros2_layer::createSertype(members, request_header), SertypeUnref());
  return [sertype, request_header](const uint8_t * data, size_t size) {
    const ddsi_sertype * type = sertype.get();
    Sample<Message> received(request_header);
    if (!ddsi_serdata_to_sample(
            fromWire(type, data, size).get(), received.data(), nullptr, nullptr)) {
      return;
    }
    SerdataPtr encoded(ddsi_serdata_from_sample(type, SDK_DATA, received.data()));
    if (!encoded) {
      std::abort();  // a decoded message that cannot be sent on
    }
    const std::vector<uint8_t> bytes = encodingOf(*encoded);
    Sample<Message> decoded_again(request_header);
    if (!ddsi_serdata_to_sample(
            fromWire(type, bytes.data(), bytes.size()).get(), decoded_again.data(), nullptr,
            nullptr)) {
      std::abort();  // the layer's own encoding is not accepted
    }
    SerdataPtr encoded_again(ddsi_serdata_from_sample(type, SDK_DATA, decoded_again.data()));
    if (encodingOf(*encoded_again) != bytes) {
      std::abort();  // the value changed on its way through the decoder
    }
  };
}

// Every type that the node, the demo robot and the tools take from the wire.
const std::vector<Decoder> & decoders() {
  static const std::vector<Decoder> all{
      decoderFor<sensor_msgs::msg::Joy>(false),
      decoderFor<geometry_msgs::msg::Twist>(false),
      decoderFor<std_msgs::msg::Bool>(false),
      decoderFor<std_msgs::msg::Int32MultiArray>(false),
      decoderFor<std_msgs::msg::String>(false),
      decoderFor<std_srvs::srv::SetBool::Request>(true),
      decoderFor<std_srvs::srv::SetBool::Response>(true),
      decoderFor<ArmTask::Impl::SendGoalService::Request>(true),
      decoderFor<ArmTask::Impl::SendGoalService::Response>(true),
      decoderFor<ArmTask::Impl::GetResultService::Request>(true),
      decoderFor<ArmTask::Impl::GetResultService::Response>(true),
      decoderFor<ArmTask::Impl::CancelGoalService::Request>(true),
      decoderFor<ArmTask::Impl::CancelGoalService::Response>(true),
      decoderFor<ArmTask::Impl::FeedbackMessage>(false),
      decoderFor<ArmTask::Impl::GoalStatusMessage>(false),
      decoderFor<rmw_dds_common::msg::ParticipantEntitiesInfo>(false),
  };
  return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t * data, size_t size) {
  if (size == 0) {
    return 0;
  }
  const auto & all = decoders();
  all[data[0] % all.size()](data + 1, size - 1);
  return 0;
}
