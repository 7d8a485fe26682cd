// Logs as the logging tests ask: log_writer COUNT THREADS BODY. Each of THREADS threads logs
// COUNT messages "thread T message I BODY"; all threads make their first log call at once.
// On exit it reports the facade's counter on stderr, so tests see numbers that wrote nothing.
#include <cstdio>
#include <cstdlib>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "logging/global_logger.hpp"

namespace {

void writeMessages(std::latch & start, int thread, int count, const std::string & body) {
  start.arrive_and_wait();
  for (int index = 0; index < count; ++index) {
    LOG_INFO("thread {} message {} {}", thread, index, body);
  }
}

}  // namespace

int main(int argc, char ** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: log_writer COUNT THREADS BODY\n");
    return 2;
  }
  const int count = std::atoi(argv[1]);
  const int threads = std::atoi(argv[2]);
  const std::string body = argv[3];
  std::latch start(threads);
  std::vector<std::thread> writers;
  for (int thread = 0; thread < threads; ++thread) {
    writers.emplace_back(writeMessages, std::ref(start), thread, count, std::cref(body));
  }
  for (std::thread & writer : writers) {
    writer.join();
  }
  std::fprintf(stderr, "seq=%d\n", tavrin_arm_teleop::globalLogger().seq.load());
  return 0;
}
