// The node as a program of its own.
#include <unistd.h>

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

// Deleting the DDS participant can wait for ever on a network interface that has vanished
// (Cyclone's receive threads wait for wake-up packets that can no longer arrive). A stop that
// was asked for must end the process all the same, and with the status a stop gets.
constexpr auto kTeardownDeadline = 1500ms;

void endAnywayAfterTeardownDeadline() {
  std::thread([] {
    std::this_thread::sleep_for(kTeardownDeadline);
    static constexpr char kLine[] =
        "[ERROR] tavrin_arm_teleop_node: teardown did not finish within 1.5 s of the stop "
        "request; ending without it\n";
    // Nothing is left to do if stderr is gone; the exit happens either way.
    if (::write(STDERR_FILENO, kLine, sizeof(kLine) - 1) < 0) {
      ::_exit(0);
    }
    ::_exit(0);
  }).detach();
}

}  // namespace

int main(int argc, char ** argv) {
  try {
    rclcpp::init(argc, argv);
  } catch (const std::exception & error) {
    return reportStartupFailure(error);
  }
  {
    rclcpp::NodeOptions options;
    std::unique_ptr<tavrin_arm_teleop::TeleopNode> node;
    try {
      node = std::make_unique<tavrin_arm_teleop::TeleopNode>(options);
    } catch (const std::exception & error) {
      // A SIGINT or SIGTERM while the node was starting shut the library down under it: that
      // is a request to stop, not a failure.
      const int status = rclcpp::ok() ? reportStartupFailure(error) : 0;
      rclcpp::shutdown();
      return status;
    }
    // Called when SIGINT or SIGTERM shuts the context down, so the deadline counts from the
    // signal; a startup failure above keeps its own status.
    rclcpp::on_shutdown(endAnywayAfterTeardownDeadline);
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
