#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "writer_process.hpp"

namespace {

std::vector<std::string> splitLines(const std::string & text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

TEST(LogThreads, FirstCallsFromManyThreadsSetUpOnceAndKeepEveryLineWhole) {
  constexpr int kThreads = 8;
  constexpr int kCount = 100;
  const logging_test::WriterResult result =
      logging_test::runLogWriter({.count = kCount, .threads = kThreads});
  ASSERT_EQ(result.exit_status, 0) << result.out;

  const std::vector<std::string> lines = splitLines(result.out);
  ASSERT_EQ(lines.size(), 3u + kThreads * kCount);
  EXPECT_EQ(lines[0], "environment variable SPDLOG_STDOUT is not set, and set true");
  EXPECT_EQ(lines[1], "environment variable SPDLOG_SYSTEMD is not set, and set false");
  EXPECT_EQ(lines[2], "environment variable SPDLOG_LEVEL is not set, and set default level");

  std::set<std::pair<int, int>> messages;
  std::multiset<int> numbers;
  for (size_t index = 3; index < lines.size(); ++index) {
    int number = -1;
    int thread = -1;
    int message = -1;
    std::sscanf(lines[index].c_str(), "%d [INFO] thread %d message %d", &number, &thread, &message);
    EXPECT_EQ(
        lines[index],
        fmt::format("{:3d} [INFO] thread {} message {} body", number, thread, message));
    messages.emplace(thread, message);
    numbers.insert(number);
  }
  EXPECT_EQ(messages.size(), static_cast<size_t>(kThreads * kCount))
      << "a message was lost or doubled";

  // Each call numbers its line by its own increment, so the numbers are 1..800 modulo 128 in
  // some order: a lost or shared increment shows up as a missing or doubled number.
  std::multiset<int> expected_numbers;
  for (int number = 1; number <= kThreads * kCount; ++number) {
    expected_numbers.insert(number % 128);
  }
  EXPECT_EQ(numbers, expected_numbers);
}
