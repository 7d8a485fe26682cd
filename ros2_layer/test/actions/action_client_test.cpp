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
#include <type_traits>
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

/// Records what the three goal callbacks receive; they run on the spinning thread. Declared
/// before the client, so that it outlives the client that calls it.
class GoalRecorder {
public:
  Client::SendGoalOptions options() {
    Client::SendGoalOptions options;
    options.goal_response_callback = [this](GoalHandle::SharedPtr goal_handle) {
      std::lock_guard<std::mutex> lock(mutex_);
      responded_ = true;
      accepted_handle_ = goal_handle;
    };
    options.feedback_callback =
        [this](GoalHandle::SharedPtr, std::shared_ptr<const ArmTaskDecision::Feedback> feedback) {
          std::lock_guard<std::mutex> lock(mutex_);
          stages_.push_back(feedback->run_stage);
        };
    options.result_callback = [this](const GoalHandle::WrappedResult & result) {
      std::lock_guard<std::mutex> lock(mutex_);
      result_ = result;
    };
    return options;
  }

  bool wait_for_response() {
    return tavrin_tools::waitUntil(
        [this] { return locked([this] { return responded_; }); }, kPatience);
  }
  bool wait_for_result() {
    return tavrin_tools::waitUntil([this] { return result().has_value(); }, kPatience);
  }
  GoalHandle::SharedPtr accepted_handle() {
    return locked([this] { return accepted_handle_; });
  }
  std::vector<int> stages() {
    return locked([this] { return stages_; });
  }
  std::optional<GoalHandle::WrappedResult> result() {
    return locked([this] { return result_; });
  }

private:
  template <typename Read>
  std::invoke_result_t<Read> locked(Read read) {
    std::lock_guard<std::mutex> lock(mutex_);
    return read();
  }

  std::mutex mutex_;
  bool responded_ = false;
  GoalHandle::SharedPtr accepted_handle_;
  std::vector<int> stages_;
  std::optional<GoalHandle::WrappedResult> result_;
};

std::string action_name() {
  return std::string("/action_test/") +
         ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

/// The goal that the teleop node sends: default-constructed, a trash grab.
ArmTaskDecision::Goal trash_grab_goal() {
  ArmTaskDecision::Goal goal;
  goal.task_type = 1;
  return goal;
}

/// A client whose server, started in its own process, is ready.
Client::SharedPtr ready_client(const std::string & name) {
  auto client = rclcpp_action::create_client<ArmTaskDecision>(client_node.get(), name);
  EXPECT_TRUE(client->wait_for_action_server(kPatience));
  return client;
}

TEST(ActionClient, EachAnswerOfTheServerReachesTheCallbacksAndTheLatchedStatus) {
  struct Case {
    const char * behaviour;
    std::optional<ResultCode> code;  // none: rejected
    std::vector<int> stages;
    int8_t status;
  };
  const std::vector<Case> cases{
      {"succeed", ResultCode::SUCCEEDED, {1, 2, 3}, action_msgs::msg::GoalStatus::STATUS_SUCCEEDED},
      {"abort", ResultCode::ABORTED, {}, action_msgs::msg::GoalStatus::STATUS_ABORTED},
      {"reject", std::nullopt, {}, 0},
  };
  for (const Case & test : cases) {
    SCOPED_TRACE(test.behaviour);
    const std::string name = action_name() + "_" + test.behaviour;
    ServerProcess server(name, test.behaviour);
    GoalRecorder recorder;
    auto client = ready_client(name);
    auto future = client->async_send_goal(trash_grab_goal(), recorder.options());
    if (!test.code) {
      ASSERT_TRUE(recorder.wait_for_response());
      EXPECT_EQ(recorder.accepted_handle(), nullptr);
      EXPECT_EQ(future.get(), nullptr);
      EXPECT_FALSE(recorder.result().has_value());
      continue;
    }
    ASSERT_TRUE(recorder.wait_for_result());
    ASSERT_NE(recorder.accepted_handle(), nullptr);
    EXPECT_EQ(future.get(), recorder.accepted_handle());
    EXPECT_EQ(recorder.stages(), test.stages);
    const auto result = *recorder.result();
    EXPECT_EQ(result.code, *test.code);
    EXPECT_EQ(result.goal_id, recorder.accepted_handle()->get_goal_id());
    EXPECT_EQ(recorder.accepted_handle()->get_status(), test.status);
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

TEST(ActionClient, CancelRequestEndsGoalAsCanceled) {
  ServerProcess server(action_name(), "cancel");
  GoalRecorder recorder;
  auto client = ready_client(action_name());
  client->async_send_goal(trash_grab_goal(), recorder.options());
  ASSERT_TRUE(recorder.wait_for_response());
  auto goal_handle = recorder.accepted_handle();
  ASSERT_NE(goal_handle, nullptr);

  auto cancel = client->async_cancel_goal(goal_handle);

  ASSERT_EQ(cancel.wait_for(kPatience), std::future_status::ready);
  auto cancel_response = cancel.get();
  EXPECT_EQ(cancel_response->return_code, action_msgs::srv::CancelGoal::Response::ERROR_NONE);
  ASSERT_EQ(cancel_response->goals_canceling.size(), 1u);
  EXPECT_EQ(cancel_response->goals_canceling[0].goal_id.uuid, goal_handle->get_goal_id());
  ASSERT_TRUE(recorder.wait_for_result());
  EXPECT_EQ(recorder.result()->code, ResultCode::CANCELED);
}

TEST(ActionClient, LateServerIsWaitedForAndAResultAskedWhileTheGoalRunsArrivesWhenItEnds) {
  auto client = rclcpp_action::create_client<ArmTaskDecision>(client_node, action_name());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(client->wait_for_action_server(300ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
  EXPECT_FALSE(client->action_server_is_ready());

  ServerProcess server(action_name(), "succeed");
  ASSERT_TRUE(client->wait_for_action_server(kPatience));
  EXPECT_TRUE(client->action_server_is_ready());
  auto accepted = client->async_send_goal(trash_grab_goal());
  ASSERT_EQ(accepted.wait_for(kPatience), std::future_status::ready);
  ASSERT_NE(accepted.get(), nullptr);
  auto result = client->async_get_result(accepted.get());
  ASSERT_EQ(result.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(result.get().code, ResultCode::SUCCEEDED);
}

TEST(ActionClient, DestroyedClientFailsResultFutureAndNeverCallsBack) {
  ServerProcess server(action_name(), "succeed");
  GoalRecorder recorder;
  auto client = ready_client(action_name());
  client->async_send_goal(trash_grab_goal(), recorder.options());
  ASSERT_TRUE(recorder.wait_for_response());
  auto goal_handle = recorder.accepted_handle();
  ASSERT_NE(goal_handle, nullptr);
  auto result = client->async_get_result(goal_handle);

  client.reset();

  EXPECT_THROW(result.get(), rclcpp_action::exceptions::UnawareGoalHandleError);
  std::this_thread::sleep_for(1500ms);  // past the moment the server sends the result
  EXPECT_FALSE(recorder.result().has_value());
}

}  // namespace
