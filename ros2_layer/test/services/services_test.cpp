// Service calls between processes and threads: a late server, silence, several clients and
// every form of service callback.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

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

TEST_F(Services, ClientsOfWorkerThreadsGetTheirOwnReplyFromEachServiceCallbackForm) {
  test_support::Peer peer;
  ASSERT_TRUE(peer.waitForReady());
  std::vector<std::jthread> repliers;  // a deferred reply comes later, from another thread
  auto node = std::make_shared<rclcpp::Node>("caller");
  auto answer = [](bool data) { return data ? "was true" : "was false"; };
  // Besides the peer's "toggle", the callback forms with the request header and the service.
  auto with_header = node->create_service<SetBool>(
      "with_header",
      [&](std::shared_ptr<rmw_request_id_t> header, std::shared_ptr<SetBool::Request> request,
          std::shared_ptr<SetBool::Response> response) {
        response->message = header->sequence_number > 0 ? answer(request->data) : "";
      });
  auto with_handle = node->create_service<SetBool>(
      "with_handle",
      [&](std::shared_ptr<rclcpp::Service<SetBool>> service,
          std::shared_ptr<rmw_request_id_t> header, std::shared_ptr<SetBool::Request> request) {
        repliers.emplace_back([service, header, request, answer] {
          std::this_thread::sleep_for(50ms);
          SetBool::Response response;
          response.message = answer(request->data);
          service->send_response(*header, response);
        });
      });
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  std::thread spinner([&] { executor.spin(); });
  std::vector<std::thread> workers;
  for (const auto & [name, data] : std::vector<std::pair<const char *, bool>>{
           {"toggle", true}, {"toggle", false}, {"with_header", true}, {"with_handle", false}}) {
    workers.emplace_back([&, name = name, data = data] {
      auto client = node->create_client<SetBool>(name);
      ASSERT_TRUE(client->wait_for_service(60s));
      // The callback form: the executor's thread hands the reply over.
      std::promise<std::string> reply;
      client->async_send_request(setBool(data), [&](rclcpp::Client<SetBool>::SharedFuture done) {
        reply.set_value(done.get()->message);
      });
      auto message = reply.get_future();
      ASSERT_EQ(message.wait_for(60s), std::future_status::ready);
      EXPECT_EQ(message.get(), answer(data)) << name;
    });
  }
  for (std::thread & worker : workers) {
    worker.join();
  }
  executor.cancel();
  spinner.join();
}

}  // namespace
