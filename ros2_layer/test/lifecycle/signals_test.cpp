// SIGINT and SIGTERM shut a spinning program down cleanly.
#include <gtest/gtest.h>

#include <csignal>

#include "peer_process.hpp"

namespace {

using namespace std::chrono_literals;

class SignalEndsSpin : public ::testing::TestWithParam<int> {};

TEST_P(SignalEndsSpin, SpinReturnsAndTheProgramExitsWithStatusZero) {
  test_support::PeerProcess peer(test_support::peerProgram(), {"spin"});
  ASSERT_TRUE(peer.waitForLine("ready", 60s));

  peer.signal(GetParam());

  EXPECT_TRUE(peer.waitForLine("spin returned", 60s));
  EXPECT_EQ(peer.waitForExit(60s), 0);
}

INSTANTIATE_TEST_SUITE_P(
    InterruptAndTerminate, SignalEndsSpin, ::testing::Values(SIGINT, SIGTERM),
    [](const ::testing::TestParamInfo<int> & info) {
      return info.param == SIGINT ? std::string("SIGINT") : std::string("SIGTERM");
    });

}  // namespace
