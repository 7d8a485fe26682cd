// An arm task server in a process of its own, so that a test can make it vanish mid-task or
// restart it.
#include <chrono>
#include <cstdio>
#include <thread>

#include "rclcpp/rclcpp.hpp"
#include "robot_peer.hpp"

int main(int argc, char ** argv) {
  rclcpp::init(argc, argv);
  {
    tavrin_test::RobotPeer peer(
        tavrin_test::armTaskServer(tavrin_test::ArmTaskBehaviour::kRunForever));
    std::printf("arm task server ready\n");
    std::fflush(stdout);
    size_t goals = 0;
    while (rclcpp::ok()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      for (; goals < peer.receivedGoals().size(); ++goals) {
        std::printf("goal received\n");
        std::fflush(stdout);
      }
    }
  }
  rclcpp::shutdown();
  return 0;
}
