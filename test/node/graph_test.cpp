// The endpoints the node puts on the ROS graph, as a DDS participant on the same domain sees
// them: names, types and QoS, in each input mode.
#include <dds/dds.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "rclcpp/rclcpp.hpp"
#include "teleop_process.hpp"

namespace tavrin_test {
namespace {

using namespace std::chrono_literals;

/// Type, history depth, reliable, transient local.
using Endpoint = std::tuple<std::string, int32_t, bool, bool>;
using Graph = std::map<std::string, Endpoint>;

// Reads the built-in discovery topics of DDS. The rclcpp node created first makes the domain
// with the loopback-only configuration; this participant joins that same domain.
class DdsGraph {
public:
  DdsGraph() : participant_(dds_create_participant(domainId(), nullptr, nullptr)) {
    writers_ = dds_create_reader(participant_, DDS_BUILTIN_TOPIC_DCPSPUBLICATION, nullptr, nullptr);
    readers_ =
        dds_create_reader(participant_, DDS_BUILTIN_TOPIC_DCPSSUBSCRIPTION, nullptr, nullptr);
  }
  ~DdsGraph() { dds_delete(participant_); }

  Graph writers() { return read(writers_); }
  Graph readers() { return read(readers_); }

private:
  static dds_domainid_t domainId() {
    const char * text = std::getenv("ROS_DOMAIN_ID");
    return text ? static_cast<dds_domainid_t>(std::atoi(text)) : 0;
  }

  // Only the node under test has endpoints on these names in this process's domain.
  static bool isTeleopEndpoint(const std::string & topic) {
    for (const char * prefix :
         {"rt/robot/", "rq/robot/", "rr/robot/", "rt/joy", "rq/tavrinpro", "rr/tavrinpro",
          "rt/tavrinpro"}) {
      if (topic.rfind(prefix, 0) == 0) {
        return true;
      }
    }
    return false;
  }

  static Graph read(dds_entity_t reader) {
    Graph graph;
    void * samples[64] = {};
    dds_sample_info_t infos[64];
    const int32_t count = dds_read(reader, samples, infos, 64, 64);
    for (int32_t i = 0; i < count; ++i) {
      const auto * endpoint = static_cast<const dds_builtintopic_endpoint_t *>(samples[i]);
      if (!infos[i].valid_data || infos[i].instance_state != DDS_IST_ALIVE ||
          !isTeleopEndpoint(endpoint->topic_name)) {
        continue;
      }
      dds_history_kind_t history;
      int32_t depth = 0;
      dds_qget_history(endpoint->qos, &history, &depth);
      dds_reliability_kind_t reliability;
      dds_duration_t blocking;
      dds_qget_reliability(endpoint->qos, &reliability, &blocking);
      dds_durability_kind_t durability;
      dds_qget_durability(endpoint->qos, &durability);
      graph[endpoint->topic_name] = {
          endpoint->type_name, depth, reliability == DDS_RELIABILITY_RELIABLE,
          durability == DDS_DURABILITY_TRANSIENT_LOCAL};
    }
    if (count > 0) {
      dds_return_loan(reader, samples, count);
    }
    return graph;
  }

  dds_entity_t participant_;
  dds_entity_t writers_ = 0;
  dds_entity_t readers_ = 0;
};

Endpoint depth10(const std::string & type) { return {type, 10, true, false}; }

const std::string kAction = "tavrinpro_action/arm_task/_action/";
const std::string kActionType = "tavrin_protocol::action::dds_::ArmTaskDecision_";

const Graph kWriters{
    {"rt/robot/ctrl_io_topic", depth10("std_msgs::msg::dds_::Int32MultiArray_")},
    {"rt/robot/teleop_mov_topic", depth10("geometry_msgs::msg::dds_::Twist_")},
    {"rt/robot/teleop_space_exchange_topic", depth10("std_msgs::msg::dds_::Bool_")},
    {"rt/robot/stop_topic", depth10("std_msgs::msg::dds_::String_")},
    {"rt/robot/recover_topic", depth10("std_msgs::msg::dds_::Bool_")},
    {"rq/robot/estop_serviceRequest", depth10("std_srvs::srv::dds_::SetBool_Request_")},
    {"rq/" + kAction + "send_goalRequest", depth10(kActionType + "SendGoal_Request_")},
    {"rq/" + kAction + "cancel_goalRequest",
     depth10("action_msgs::srv::dds_::CancelGoal_Request_")},
    {"rq/" + kAction + "get_resultRequest", depth10(kActionType + "GetResult_Request_")},
};

// In every input mode; the topic mode reads "/joy" as well.
const Graph kReaders{
    {"rr/robot/estop_serviceReply", depth10("std_srvs::srv::dds_::SetBool_Response_")},
    {"rr/" + kAction + "send_goalReply", depth10(kActionType + "SendGoal_Response_")},
    {"rr/" + kAction + "cancel_goalReply", depth10("action_msgs::srv::dds_::CancelGoal_Response_")},
    {"rr/" + kAction + "get_resultReply", depth10(kActionType + "GetResult_Response_")},
    {"rt/" + kAction + "feedback", depth10(kActionType + "FeedbackMessage_")},
    {"rt/" + kAction + "status", {"action_msgs::msg::dds_::GoalStatusArray_", 1, true, true}},
};

TEST(Graph, EveryInputModeShowsTheSameCommandEndpointsAndOnlyTopicModeReadsJoy) {
  auto domain_owner = std::make_shared<rclcpp::Node>("graph_observer");
  // An event device's link is no joystick device: its records would read as random commands.
  for (const std::string joy_dev :
       {"/joy", "/dev/input/js7", "none", "joy", "/dev/ttyUSB0", "/JOY",
        "/dev/input/by-id/usb-Pad-event-joystick",
        "/dev/input/by-path/pci-0000:00:14.0-usb-0:1:1.0-mouse"}) {
    TeleopProcess node({"-p", "joy_dev:=" + joy_dev});
    ASSERT_TRUE(node.waitForStartup());
    const bool device = joy_dev == "/dev/input/js7";
    if (!device && joy_dev != "/joy") {
      EXPECT_TRUE(node.waitForOutput("joy_dev " + joy_dev + " selects no input")) << joy_dev;
    }
    DdsGraph graph;
    Graph readers = kReaders;
    if (joy_dev == "/joy") {
      readers["rt/joy"] = depth10("sensor_msgs::msg::dds_::Joy_");
    }
    waitUntil([&] { return graph.writers() == kWriters && graph.readers() == readers; }, 20s);
    EXPECT_EQ(graph.writers(), kWriters) << joy_dev;
    EXPECT_EQ(graph.readers(), readers) << joy_dev;
    if (device) {
      EXPECT_TRUE(node.waitForOutput("joyDataThread started: " + joy_dev));
    }
    EXPECT_EQ(node.countOutput("joyDataThread started"), device ? 1u : 0u) << joy_dev;
    EXPECT_TRUE(node.interruptAndExitCleanly());
    // The next mode starts from a graph without this node.
    EXPECT_TRUE(waitUntil([&] { return graph.writers().empty(); }, 20s)) << joy_dev;
  }
}

}  // namespace
}  // namespace tavrin_test
