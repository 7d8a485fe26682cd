// An arm task server in a process of its own, so that a test can make it vanish mid-task or
// restart it: arm_task_server [succeed|reject|abort|cancel|forever [ACTION_NAME]].
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>

#include "rclcpp/rclcpp.hpp"
#include "robot_peer.hpp"

int main(int argc, char ** argv) {
  using tavrin_test::ArmTaskBehaviour;
  rclcpp::init(argc, argv);
  const std::map<std::string, ArmTaskBehaviour> behaviours{
      {"succeed", ArmTaskBehaviour::kSucceed},
      {"reject", ArmTaskBehaviour::kReject},
      {"abort", ArmTaskBehaviour::kAbort},
      {"cancel", ArmTaskBehaviour::kCancelWhenAsked},
      {"forever", ArmTaskBehaviour::kRunForever}};
  auto options = tavrin_test::armTaskServer(behaviours.at(argc > 1 ? argv[1] : "forever"));
  if (argc > 2) {
    options.arm_task_action = argv[2];
  }
  {
    tavrin_test::RobotPeer peer(options);
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
