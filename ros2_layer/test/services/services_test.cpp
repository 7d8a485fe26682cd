// Service calls between processes and threads: late servers, silence and several clients.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "layer_fixture.hpp"
#include "std_srvs/srv/set_bool.hpp"

namespace {

using namespace std::chrono_literals;
using SetBool = std_srvs::srv::SetBool;

std::shared_ptr<SetBool::Request> setBool(bool data) {
  auto request = std::make_shared<SetBool::Request>();
  request->data = data;
  return request;
}

class Services : public test_support::LayerTest {
protected:
  void SetUp() override {
    LayerTest::SetUp();
    node_ = std::make_shared<rclcpp::Node>("caller");
  }

  void startPeer() {
    peer_.emplace("services");
    ASSERT_TRUE(peer_->waitForReady());
  }

  std::optional<test_support::Peer> peer_;
  rclcpp::Node::SharedPtr node_;
};

TEST_F(Services, ServerStartingLateIsFoundByWaitForServiceAndAnswers) {
  auto client = node_->create_client<SetBool>("toggle");
  EXPECT_FALSE(client->wait_for_service(300ms));
  EXPECT_FALSE(client->service_is_ready());

  startPeer();

  EXPECT_TRUE(client->wait_for_service(60s));
  auto result = client->async_send_request(setBool(false));
  ASSERT_EQ(
      rclcpp::spin_until_future_complete(node_, result, 60s), rclcpp::FutureReturnCode::SUCCESS);
  EXPECT_EQ(result.get()->message, "was false");
}

TEST_F(Services, UnansweredRequestStaysPendingWhileItsServerLives) {
  startPeer();
  auto client = node_->create_client<SetBool>("silent");
  ASSERT_TRUE(client->wait_for_service(60s));

  auto result = client->async_send_request(setBool(true));
  auto orphan = client->async_send_request(setBool(true));

  EXPECT_EQ(
      rclcpp::spin_until_future_complete(node_, result, 1s), rclcpp::FutureReturnCode::TIMEOUT);
  EXPECT_EQ(result.wait_for(0s), std::future_status::timeout);
  EXPECT_TRUE(client->remove_pending_request(result));
  // Once its server is gone nothing can answer it: the next request does not keep it.
  peer_.reset();
  ASSERT_TRUE(tavrin_tools::waitUntil([&] { return !client->service_is_ready(); }, 60s));
  auto next = client->async_send_request(setBool(true));
  ASSERT_EQ(orphan.wait_for(0s), std::future_status::ready);
  EXPECT_THROW(orphan.get(), std::future_error);
  EXPECT_FALSE(client->remove_pending_request(orphan));
  EXPECT_TRUE(client->remove_pending_request(next));
}

TEST_F(Services, ClientsOfWorkerThreadsEachGetTheirOwnReplyWhileTheExecutorSpins) {
  startPeer();
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node_);
  std::thread spinner([&] { executor.spin(); });
  std::atomic<int> answered{0};
  std::vector<std::thread> workers;
  for (const bool data : {true, false, true}) {
    workers.emplace_back([&, data] {
      auto client = node_->create_client<SetBool>("toggle");
      ASSERT_TRUE(client->wait_for_service(60s));
      // The callback form: the executor's thread hands the reply over.
      std::promise<std::string> reply;
      client->async_send_request(setBool(data), [&](rclcpp::Client<SetBool>::SharedFuture done) {
        reply.set_value(done.get()->message);
      });
      auto message = reply.get_future();
      ASSERT_EQ(message.wait_for(60s), std::future_status::ready);
      EXPECT_EQ(message.get(), data ? "was true" : "was false");
      ++answered;
    });
  }
  for (std::thread & worker : workers) {
    worker.join();
  }
  executor.cancel();
  spinner.join();
  EXPECT_EQ(answered.load(), 3);
}

}  // namespace
