// Every test program talks ROS: the client library is started once for the whole program.
#include <gtest/gtest.h>

#include "rclcpp/rclcpp.hpp"

int main(int argc, char ** argv) {
  testing::InitGoogleTest(&argc, argv);
  rclcpp::init(argc, argv);
  const int result = RUN_ALL_TESTS();
  rclcpp::shutdown();
  return result;
}
