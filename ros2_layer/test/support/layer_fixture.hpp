// A test fixture that runs each test between rclcpp::init and rclcpp::shutdown.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "child_process.hpp"
#include "rclcpp/rclcpp.hpp"

namespace test_support {

/// Initialises the client library before each test and shuts it down after.
class LayerTest : public ::testing::Test {
protected:
  void SetUp() override {
    const char * argv[] = {"test"};
    rclcpp::init(1, argv);
  }
  void TearDown() override { rclcpp::shutdown(); }
};

/// Spins `executor` until `done` holds or `timeout` passes, calling `retry` every `period`
/// (to re-send what a peer that is still being discovered may have missed). Returns `done()`.
inline bool spinUntil(
    rclcpp::Executor & executor, const std::function<bool()> & done, std::chrono::seconds timeout,
    const std::function<void()> & retry = [] {},
    std::chrono::milliseconds period = std::chrono::milliseconds(200)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  auto next_retry = std::chrono::steady_clock::now();
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    if (std::chrono::steady_clock::now() >= next_retry) {
      retry();
      next_retry = std::chrono::steady_clock::now() + period;
    }
    executor.spin_once(std::chrono::milliseconds(20));
  }
  return done();
}

/// The peer program of the two-process tests; it prints "ready" once its endpoints exist.
class Peer : public tavrin_tools::ChildProcess {
public:
  Peer() : ChildProcess({PEER_PROGRAM}) {}

  bool waitForReady() { return waitForOutput("ready\n", std::chrono::seconds(60)); }
};

}  // namespace test_support
