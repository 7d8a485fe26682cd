// SIGINT and SIGTERM shut a spinning program down cleanly.
#include <gtest/gtest.h>

#include <csignal>

#include "layer_fixture.hpp"

namespace {

using namespace std::chrono_literals;

class SignalEndsSpin : public ::testing::TestWithParam<int> {};

TEST_P(SignalEndsSpin, SpinReturnsAndTheProgramExitsWithStatusZero) {
  test_support::Peer peer("spin");
  ASSERT_TRUE(peer.waitForReady());

  peer.sendSignal(GetParam());

  EXPECT_TRUE(peer.waitForOutput("spin returned\n", 60s));
  EXPECT_TRUE(tavrin_tools::exitedCleanly(peer.waitForExit(60s)));
}

INSTANTIATE_TEST_SUITE_P(
    InterruptAndTerminate, SignalEndsSpin, ::testing::Values(SIGINT, SIGTERM),
    [](const ::testing::TestParamInfo<int> & info) {
      return info.param == SIGINT ? std::string("SIGINT") : std::string("SIGTERM");
    });

}  // namespace
