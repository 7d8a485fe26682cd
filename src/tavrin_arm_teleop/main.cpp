// The node as a program of its own.
#include <malloc.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "rclcpp/rclcpp.hpp"
#include "tavrin_arm_teleop/teleop_node.hpp"

namespace {

using namespace std::chrono_literals;

// A bad parameter or argument is the operator's to fix: one line that names it and ends the
// program, rather than an abort and a core dump.
int reportStartupFailure(const std::exception & error) {
  std::string line = error.what();
  // Some messages point at a name with a caret on lines of their own.
  for (char & character : line) {
    character = character == '\n' ? ' ' : character;
  }
  std::fprintf(stderr, "tavrin_arm_teleop_node: cannot start: %s\n", line.c_str());
  return 1;
}

// Deleting the DDS participant can take far longer than a stop may (Cyclone's receive threads
// wait for wake-up packets, its writers for acknowledgements). A stop that was asked for must end
// the process all the same, and with the status a stop gets.
constexpr auto kTeardownDeadline = 1500ms;
// What the process ends with when the deadline passes: a startup failure keeps its own status.
std::atomic<int> status_at_deadline{0};

void endAnywayAfterTeardownDeadline() {
  std::thread([] {
    std::this_thread::sleep_for(kTeardownDeadline);
    static constexpr char kLine[] =
        "[ERROR] tavrin_arm_teleop_node: teardown did not finish within 1.5 s of the stop "
        "request; ending without it\n";
    // Nothing is left to do if stderr is gone; the exit happens either way.
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, kLine, sizeof(kLine) - 1);
    ::_exit(status_at_deadline.load());
  }).detach();
}

// The client library's SIGINT and SIGTERM handler runs on whichever thread the signal lands on,
// and Humble's logs from inside it: on a thread interrupted while it held the stdio, logging or
// allocator lock, the handler waits for ever and the stop is never acted on. So every thread
// blocks both signals (a thread inherits the mask of the one that starts it) but one, which holds
// nothing and only waits for them: the handler always runs there. Blocked before the library
// starts any thread; a signal that comes before the waiting thread is up stays pending till then.
void blockStopSignals() {
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
}

void receiveStopSignalsOnAThreadOfTheirOwn() {
  std::thread([] {
    sigset_t only_stop_signals;
    pthread_sigmask(SIG_BLOCK, nullptr, &only_stop_signals);
    sigdelset(&only_stop_signals, SIGINT);
    sigdelset(&only_stop_signals, SIGTERM);
    while (true) {
      sigsuspend(&only_stop_signals);
    }
  }).detach();
}

// DDS receive threads take packets into buffers of 80 KiB and more and free each once its
// samples are gone. glibc raises its mmap threshold to the size of the first such buffer freed,
// so the later ones come from the thread's heap, where holes left by smaller allocations push
// the heap's top up now and then: over hours the node's memory creeps up with nothing leaked.
// A fixed threshold keeps every large buffer a mapping of its own, returned when it is freed.
constexpr int kMmapThreshold = 64 * 1024;
// Each request runs on a thread of its own; glibc gives a new thread that meets a busy heap a
// heap of its own, up to eight per core, and keeps each for the process's life, with free memory
// that the other heaps cannot use. The node's threads allocate little: one heap serves them all.
constexpr int kMallocHeaps = 1;

}  // namespace

int main(int argc, char ** argv) {
  mallopt(M_MMAP_THRESHOLD, kMmapThreshold);
  mallopt(M_ARENA_MAX, kMallocHeaps);
  blockStopSignals();
  try {
    rclcpp::init(argc, argv);
  } catch (const std::exception & error) {
    return reportStartupFailure(error);
  }
  receiveStopSignalsOnAThreadOfTheirOwn();
  // Called when SIGINT or SIGTERM shuts the context down, so the deadline counts from the
  // signal, which may come while the node is still being built.
  rclcpp::on_shutdown(endAnywayAfterTeardownDeadline);
  {
    rclcpp::NodeOptions options;
    std::unique_ptr<tavrin_arm_teleop::TeleopNode> node;
    try {
      node = std::make_unique<tavrin_arm_teleop::TeleopNode>(options);
    } catch (const std::exception & error) {
      // A SIGINT or SIGTERM while the node was starting shut the library down under it: that
      // is a request to stop, not a failure.
      const int status = rclcpp::ok() ? reportStartupFailure(error) : 0;
      status_at_deadline = status;
      rclcpp::shutdown();
      return status;
    }
    std::shared_ptr<tavrin_arm_teleop::TeleopNode> shared_node = std::move(node);
    try {
      rclcpp::spin(shared_node);
    } catch (const std::exception &) {
      // A signal just before spinning leaves Humble's executor no context to start with.
      if (rclcpp::ok()) {
        throw;
      }
    }
  }
  rclcpp::shutdown();
  return 0;
}
