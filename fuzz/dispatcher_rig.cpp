#include "dispatcher_rig.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace tavrin_fuzz {

namespace {

using namespace std::chrono_literals;

constexpr size_t kGrabEntry = 1;
constexpr size_t kEstopEntry = 4;
// Far beyond any in-process delivery, even on a loaded machine under sanitizers.
constexpr auto kCommandTimeout = 30s;

}  // namespace

void initializeProcess() {
  // Every button edge is logged at info: at fuzzing rates that is all the run would do.
  ::setenv("SPDLOG_LEVEL", "error", 0);
  rclcpp::init(0, nullptr);
}

void require(bool holds, const char * property) {
  if (!holds) {
    std::fprintf(stderr, "property violated: %s\n", property);
    std::abort();
  }
}

DispatcherRig::DispatcherRig(const std::vector<int64_t> & joy_axis, std::vector<int64_t> joy_btns) {
  // The node fills a short table with button 0; these entries must not get it.
  if (joy_btns.size() <= kEstopEntry) {
    joy_btns.resize(kEstopEntry + 1, -1);
  }
  joy_btns[kGrabEntry] = -1;
  joy_btns[kEstopEntry] = -1;
  rclcpp::NodeOptions options;
  options.append_parameter_override("joy_dev", std::string("/joy"));
  options.append_parameter_override("joy_axis", joy_axis);
  options.append_parameter_override("joy_btns", joy_btns);
  node_ = std::make_shared<tavrin_arm_teleop::TeleopNode>(options);
  peer_ = std::make_shared<rclcpp::Node>("fuzz_peer");
  joy_pub_ = peer_->create_publisher<sensor_msgs::msg::Joy>("/joy", rclcpp::QoS(10));
  motion_sub_ = peer_->create_subscription<geometry_msgs::msg::Twist>(
      "/robot/teleop_mov_topic", rclcpp::QoS(10),
      [this](std::shared_ptr<geometry_msgs::msg::Twist> twist) {
        received_.push_back(
            {twist->linear.x, twist->linear.y, twist->linear.z, twist->angular.x, twist->angular.y,
             twist->angular.z});
      });
  executor_.add_node(node_);
  executor_.add_node(peer_);
}

DispatcherRig::~DispatcherRig() {
  executor_.remove_node(peer_);
  executor_.remove_node(node_);
}

Motion DispatcherRig::dispatch(const sensor_msgs::msg::Joy & sample) {
  received_.clear();
  joy_pub_->publish(sample);
  const auto deadline = std::chrono::steady_clock::now() + kCommandTimeout;
  while (received_.empty() && std::chrono::steady_clock::now() < deadline) {
    executor_.spin_once(1s);
  }
  executor_.spin_some();
  require(received_.size() == 1, "every sample gets exactly one motion command");
  return std::move(received_.front());
}

}  // namespace tavrin_fuzz
