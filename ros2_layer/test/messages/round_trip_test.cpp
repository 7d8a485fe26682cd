// Messages of every type travel to another process and back through the layer unchanged.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "layer_fixture.hpp"
#include "samples.hpp"

namespace {

using namespace std::chrono_literals;

struct RoundTrip {
  std::string name;
  std::function<void()> send;
  std::function<bool()> returned;
  std::function<bool()> unchanged;
};

class MessageRoundTrip : public test_support::LayerTest {};

TEST_F(MessageRoundTrip, EveryTypeComesBackFromAnotherProcessWithItsValues) {
  test_support::Peer peer("echo");
  ASSERT_TRUE(peer.waitForReady());
  auto node = std::make_shared<rclcpp::Node>("round_trip");
  std::vector<RoundTrip> trips;
  std::vector<std::shared_ptr<void>> keep;
  samples::forEach([&](const char * name, auto sample) {
    using Message = decltype(sample);
    auto echoed = std::make_shared<std::optional<Message>>();
    auto publisher = node->create_publisher<Message>(std::string("in/") + name, 10);
    keep.push_back(node->create_subscription<Message>(
        std::string("out/") + name, 10,
        [echoed](std::shared_ptr<Message> message) { *echoed = std::move(*message); }));
    keep.push_back(publisher);
    trips.push_back(RoundTrip{
        name, [publisher, sample] { publisher->publish(sample); },
        [echoed] { return echoed->has_value(); }, [echoed, sample] { return **echoed == sample; }});
  });
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);

  const auto all_returned = [&] {
    return std::all_of(
        trips.begin(), trips.end(), [](const RoundTrip & trip) { return trip.returned(); });
  };
  const auto send_missing = [&] {
    for (const RoundTrip & trip : trips) {
      if (!trip.returned()) {
        trip.send();
      }
    }
  };
  test_support::spinUntil(executor, all_returned, 60s, send_missing);

  for (const RoundTrip & trip : trips) {
    ASSERT_TRUE(trip.returned()) << trip.name << " did not come back";
    EXPECT_TRUE(trip.unchanged()) << trip.name << " came back changed";
  }
}

}  // namespace
