// The node as a program of its own.
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>
#include <utility>

#include "rclcpp/rclcpp.hpp"
#include "tavrin_arm_teleop/teleop_node.hpp"

namespace {

using namespace std::chrono_literals;

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
    static_cast<void>(::write(STDERR_FILENO, kLine, sizeof(kLine) - 1));
    ::_exit(0);
  }).detach();
}

}  // namespace

int main(int argc, char ** argv) {
  rclcpp::init(argc, argv);
  // Called when SIGINT or SIGTERM shuts the context down, so the deadline counts from the signal.
  rclcpp::on_shutdown(endAnywayAfterTeardownDeadline);
  {
    rclcpp::NodeOptions options;
    auto node = std::make_unique<tavrin_arm_teleop::TeleopNode>(options);
    std::shared_ptr<tavrin_arm_teleop::TeleopNode> shared_node = std::move(node);
    rclcpp::spin(shared_node);
  }
  rclcpp::shutdown();
  return 0;
}
