// The action client and server across two processes over loopback DDS. This process is the
// client: its node spins on a thread of its own while the test body, like the teleop node's
// grab worker, waits for the server and sends goals from another thread.
#include <signal.h>

#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.hpp"
#include "rclcpp/rclcpp.hpp"
#include "rclcpp_action/rclcpp_action.hpp"
#include "tavrin_protocol/action/arm_task_decision.hpp"

namespace {

using namespace std::chrono_literals;
using ArmTaskDecision = tavrin_protocol::action::ArmTaskDecision;
using Client = rclcpp_action::Client<ArmTaskDecision>;
using GoalHandle = rclcpp_action::ClientGoalHandle<ArmTaskDecision>;
using rclcpp_action::ResultCode;

constexpr auto kPatience = 20s;  // generous: sanitizers and parallel tests slow discovery down

rclcpp::Node::SharedPtr client_node;

/// One client node for the whole process, spun on its own thread as the product spins its node.
class SpinningNode : public ::testing::Environment {
public:
  void SetUp() override {
    rclcpp::init(0, nullptr);
    client_node = std::make_shared<rclcpp::Node>("arm_task_test_client");
    spinner_ = std::thread([] { rclcpp::spin(client_node); });
  }
  void TearDown() override {
    rclcpp::shutdown();
    spinner_.join();
    client_node.reset();
  }

private:
  std::thread spinner_;
};

const auto * const kEnvironment = ::testing::AddGlobalTestEnvironment(new SpinningNode);

/// The test server in a process of its own, ended with SIGTERM when the test ends.
class ServerProcess : public tavrin_tools::ChildProcess {
public:
  ServerProcess(const std::string & action_name, const std::string & behaviour)
      : ChildProcess({ARM_TASK_TEST_SERVER, behaviour, action_name}) {}
  ~ServerProcess() {
    sendSignal(SIGTERM);
    // A clean exit also means that the sanitizers found nothing in the server.
    EXPECT_TRUE(tavrin_tools::exitedCleanly(waitForExit(kPatience))) << output();
  }
};

/// What the three goal callbacks received; they run on the spinning thread.
struct Received {
  bool responded = false;
  GoalHandle::SharedPtr accepted_handle;
  std::vector<int> stages;
  std::optional<GoalHandle::WrappedResult> result;
};

/// Declared before the client, so that it outlives the client that calls it.
class GoalRecorder {
public:
  Client::SendGoalOptions options() {
    Client::SendGoalOptions options;
    options.goal_response_callback = [this](GoalHandle::SharedPtr goal_handle) {
      std::lock_guard<std::mutex> lock(mutex_);
      received_.responded = true;
      received_.accepted_handle = goal_handle;
    };
    options.feedback_callback =
        [this](GoalHandle::SharedPtr, std::shared_ptr<const ArmTaskDecision::Feedback> feedback) {
          std::lock_guard<std::mutex> lock(mutex_);
          received_.stages.push_back(feedback->run_stage);
        };
    options.result_callback = [this](const GoalHandle::WrappedResult & result) {
      std::lock_guard<std::mutex> lock(mutex_);
      received_.result = result;
    };
    return options;
  }

  Received received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }
  /// What was received once `done` holds for it, or the patience has run out.
  Received waitFor(bool (*done)(const Received &)) {
    tavrin_tools::waitUntil([&] { return done(received()); }, kPatience);
    return received();
  }

private:
  std::mutex mutex_;
  Received received_;
};

bool responded(const Received & received) { return received.responded; }
bool ended(const Received & received) { return received.result.has_value(); }

TEST(ActionClient, EachAnswerOfTheServerReachesTheCallbacksTheResultFutureAndTheLatchedStatus) {
  struct Case {
    const char * behaviour;
    std::optional<ResultCode> code;  // none: rejected
    std::vector<int> stages;
    int8_t status;
    bool destroy_client = false;  // before the result comes
  };
  using action_msgs::msg::GoalStatus;
  const std::vector<Case> cases{
      {"succeed", ResultCode::SUCCEEDED, {1, 2, 3}, GoalStatus::STATUS_SUCCEEDED},
      {"abort", ResultCode::ABORTED, {}, GoalStatus::STATUS_ABORTED},
      {"cancel", ResultCode::CANCELED, {}, GoalStatus::STATUS_CANCELED},
      {"reject", std::nullopt, {}, 0},
      {"succeed", std::nullopt, {}, 0, true},
  };
  ArmTaskDecision::Goal trash_grab;  // the goal that the teleop node sends
  trash_grab.task_type = 1;
  for (const Case & test : cases) {
    SCOPED_TRACE(test.behaviour + std::string(test.destroy_client ? ", client destroyed" : ""));
    const std::string name =
        std::string("/action_test/") + test.behaviour + (test.destroy_client ? "_destroyed" : "");
    GoalRecorder recorder;
    // The client comes first: a server that starts late is waited for.
    auto client = rclcpp_action::create_client<ArmTaskDecision>(client_node, name);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client->wait_for_action_server(300ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    EXPECT_FALSE(client->action_server_is_ready());
    ServerProcess server(name, test.behaviour);
    ASSERT_TRUE(client->wait_for_action_server(kPatience));
    EXPECT_TRUE(client->action_server_is_ready());

    auto future = client->async_send_goal(trash_grab, recorder.options());
    const Received response = recorder.waitFor(responded);
    ASSERT_TRUE(response.responded);
    const auto goal_handle = response.accepted_handle;
    ASSERT_EQ(future.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(future.get(), goal_handle);
    if (test.behaviour == std::string("reject")) {
      EXPECT_EQ(goal_handle, nullptr);
      EXPECT_FALSE(recorder.received().result.has_value());
      continue;
    }
    ASSERT_NE(goal_handle, nullptr);
    // Asked while the goal runs: Humble forgets a goal once its result is in (the aborted one).
    std::shared_future<GoalHandle::WrappedResult> result_future;
    if (test.code != ResultCode::ABORTED) {
      result_future = client->async_get_result(goal_handle);
    }
    if (test.destroy_client) {
      client.reset();
      EXPECT_THROW(result_future.get(), rclcpp_action::exceptions::UnawareGoalHandleError);
      std::this_thread::sleep_for(1500ms);  // past the moment the server sends the result
      EXPECT_FALSE(recorder.received().result.has_value());
      continue;
    }
    if (test.code == ResultCode::CANCELED) {
      auto cancel = client->async_cancel_goal(goal_handle);
      ASSERT_EQ(cancel.wait_for(kPatience), std::future_status::ready);
      const auto response = cancel.get();
      EXPECT_EQ(response->return_code, action_msgs::srv::CancelGoal::Response::ERROR_NONE);
      ASSERT_EQ(response->goals_canceling.size(), 1u);
      EXPECT_EQ(response->goals_canceling[0].goal_id.uuid, goal_handle->get_goal_id());
    }
    const Received received = recorder.waitFor(ended);
    ASSERT_TRUE(received.result.has_value());
    EXPECT_EQ(received.stages, test.stages);
    const auto result = *received.result;
    EXPECT_EQ(result.code, *test.code);
    EXPECT_EQ(result.goal_id, goal_handle->get_goal_id());
    EXPECT_EQ(goal_handle->get_status(), test.status);
    if (result_future.valid()) {
      EXPECT_EQ(result_future.get().code, *test.code);
    }
    if (result.code == ResultCode::SUCCEEDED) {
      EXPECT_EQ(result.result->status_code, 3);
      EXPECT_EQ(result.result->errmsg, "x");
    }

    // The status topic is transient local: a subscriber that comes later gets the last array.
    std::promise<action_msgs::msg::GoalStatusArray> status;
    auto subscription = client_node->create_subscription<action_msgs::msg::GoalStatusArray>(
        name + "/_action/status", rclcpp::QoS(1).reliable().transient_local(),
        [&status,
         received = false](std::shared_ptr<action_msgs::msg::GoalStatusArray> message) mutable {
          if (!std::exchange(received, true)) {
            status.set_value(*message);
          }
        });
    auto arrived = status.get_future();
    ASSERT_EQ(arrived.wait_for(kPatience), std::future_status::ready);
    const auto status_list = arrived.get().status_list;
    ASSERT_EQ(status_list.size(), 1u);
    EXPECT_EQ(status_list[0].goal_info.goal_id.uuid, result.goal_id);
    EXPECT_EQ(status_list[0].status, test.status);
  }
}

}  // namespace
