#include "rclcpp_action/client.hpp"

#include <random>
#include <thread>

#include "rclcpp/utilities.hpp"

namespace rclcpp_action {

namespace {

// How often a waiting client looks at the graph again. Discovery on one machine takes a few
// milliseconds, so this adds little to the wait and costs nothing measurable.
constexpr std::chrono::milliseconds kServerPollPeriod{5};

}  // namespace

ClientBase::~ClientBase() = default;

bool ClientBase::action_server_is_ready() const {
  bool ready = !services_.empty();
  for (const auto & service : services_) {
    ready = ready && service->service_is_ready();
  }
  for (const auto & topic : topics_) {
    ready = ready && topic->get_publisher_count() > 0;
  }
  return ready;
}

bool ClientBase::wait_for_action_server_nanoseconds(std::chrono::nanoseconds timeout) {
  const bool unlimited = timeout < std::chrono::nanoseconds::zero();
  const auto start = std::chrono::steady_clock::now();
  while (rclcpp::ok()) {
    if (action_server_is_ready()) {
      return true;
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    if (!unlimited && waited >= timeout) {
      return false;
    }
    auto pause = std::chrono::duration_cast<std::chrono::nanoseconds>(kServerPollPeriod);
    if (!unlimited) {
      pause =
          std::min(pause, std::chrono::duration_cast<std::chrono::nanoseconds>(timeout - waited));
    }
    std::this_thread::sleep_for(pause);
  }
  return false;
}

GoalUUID ClientBase::generate_goal_id() {
  // One generator per thread: goals are sent from worker threads and the executor at once.
  thread_local std::mt19937_64 generator = [] {
    std::random_device device;
    std::seed_seq seeds{device(), device(), device(), device()};
    return std::mt19937_64(seeds);
  }();
  std::uniform_int_distribution<int> byte(0, 255);
  GoalUUID goal_id;
  for (uint8_t & part : goal_id) {
    part = static_cast<uint8_t>(byte(generator));
  }
  return goal_id;
}

void ClientBase::watch_server_through(
    std::vector<std::shared_ptr<rclcpp::ClientBase>> services,
    std::vector<std::shared_ptr<rclcpp::SubscriptionBase>> topics) {
  services_ = std::move(services);
  topics_ = std::move(topics);
}

}  // namespace rclcpp_action
