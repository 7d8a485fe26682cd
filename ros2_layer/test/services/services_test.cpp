// Service calls between processes and threads: a late server, silence and several clients.
#include <gtest/gtest.h>

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

using Services = test_support::LayerTest;

TEST_F(Services, LateServerIsWaitedForAndAnUnansweredRequestStaysPendingWhileItLives) {
  auto node = std::make_shared<rclcpp::Node>("caller");
  auto client = node->create_client<SetBool>("silent");
  EXPECT_FALSE(client->wait_for_service(300ms));
  EXPECT_FALSE(client->service_is_ready());
  std::optional<test_support::Peer> peer(std::in_place);
  ASSERT_TRUE(peer->waitForReady());
  ASSERT_TRUE(client->wait_for_service(60s));

  auto result = client->async_send_request(setBool(true));
  auto orphan = client->async_send_request(setBool(true));

  EXPECT_EQ(
      rclcpp::spin_until_future_complete(node, result, 1s), rclcpp::FutureReturnCode::TIMEOUT);
  EXPECT_EQ(result.wait_for(0s), std::future_status::timeout);
  EXPECT_TRUE(client->remove_pending_request(result));
  // Once its server is gone nothing can answer it: the next request does not keep it.
  peer.reset();
  ASSERT_TRUE(tavrin_tools::waitUntil([&] { return !client->service_is_ready(); }, 60s));
  auto next = client->async_send_request(setBool(true));
  ASSERT_EQ(orphan.wait_for(0s), std::future_status::ready);
  EXPECT_THROW(orphan.get(), std::future_error);
  EXPECT_FALSE(client->remove_pending_request(orphan));
  EXPECT_TRUE(client->remove_pending_request(next));
}

TEST_F(Services, ClientsOfWorkerThreadsEachGetTheirOwnReplyWhileTheExecutorSpins) {
  test_support::Peer peer;
  ASSERT_TRUE(peer.waitForReady());
  auto node = std::make_shared<rclcpp::Node>("caller");
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  std::thread spinner([&] { executor.spin(); });
  std::vector<std::thread> workers;
  for (const bool data : {true, false, true}) {
    workers.emplace_back([&, data] {
      auto client = node->create_client<SetBool>("toggle");
      ASSERT_TRUE(client->wait_for_service(60s));
      // The callback form: the executor's thread hands the reply over.
      std::promise<std::string> reply;
      client->async_send_request(setBool(data), [&](rclcpp::Client<SetBool>::SharedFuture done) {
        reply.set_value(done.get()->message);
      });
      auto message = reply.get_future();
      ASSERT_EQ(message.wait_for(60s), std::future_status::ready);
      EXPECT_EQ(message.get(), data ? "was true" : "was false");
    });
  }
  for (std::thread & worker : workers) {
    worker.join();
  }
  executor.cancel();
  spinner.join();
}

}  // namespace
