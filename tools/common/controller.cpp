#include "controller.hpp"

#include <csignal>
#include <stdexcept>
#include <thread>

#include "command_line.hpp"

namespace tavrin_tools {

using namespace std::chrono_literals;

const char * const kControllerUsage =
    "  --output auto|device|topic  how the node gets the gamepad: a pseudo-terminal behind a\n"
    "                              joystick device path (needs the right to make a private mount\n"
    "                              namespace, as root), sensor_msgs/Joy on /joy, or the device\n"
    "                              where possible (default auto)\n"
    "  --device PATH               the device path for the node (default /dev/input/js0)\n"
    "  --deadzone D                the node's \"deadzone\", added back to device values (default "
    "0.3)\n"
    "  --node-log FILE             write the started node's output to FILE\n"
    "  -- NODE [ARGS...]           start the node (needed for a device: only this program's\n"
    "                              children see it); joy_dev is set for it\n";

bool parseControllerOption(
    const std::vector<std::string> & options, size_t & index, ControllerOptions & parsed) {
  const std::string & option = options[index];
  if (option == "--output") {
    parsed.output = optionValue(options, index);
    if (parsed.output != "auto" && parsed.output != "device" && parsed.output != "topic") {
      throw std::invalid_argument("--output must be auto, device or topic, not " + parsed.output);
    }
  } else if (option == "--device") {
    parsed.device = optionValue(options, index);
    if (parsed.device.rfind("/dev/input/js", 0) != 0) {
      throw std::invalid_argument("--device must begin with /dev/input/js for the node to read it");
    }
  } else if (option == "--deadzone") {
    parsed.deadzone = std::stod(optionValue(options, index));
  } else if (option == "--node-log") {
    parsed.node_log = optionValue(options, index);
  } else {
    return false;
  }
  return true;
}

std::unique_ptr<DeviceOutput> openDeviceOutput(
    const ControllerOptions & options, std::string & why_not) {
  if (options.output == "topic") {
    return nullptr;
  }
  if (options.node_command.empty()) {
    why_not = "no node to start after \"--\", and only this program's children see the device";
  } else if (auto device = DeviceOutput::create(options.device, options.deadzone, why_not)) {
    return device;
  }
  if (options.output == "device") {
    throw std::runtime_error("cannot make " + options.device + ": " + why_not);
  }
  return nullptr;
}

DrivenNode::DrivenNode(
    const rclcpp::Node::SharedPtr & node, const ControllerOptions & options,
    const JoystickOutput & output) {
  motion_ = node->create_subscription<geometry_msgs::msg::Twist>(
      "/robot/teleop_mov_topic", rclcpp::QoS(10),
      [this](std::shared_ptr<const geometry_msgs::msg::Twist>) { ++motion_count_; });
  if (!options.node_command.empty()) {
    auto argv = options.node_command;
    argv.insert(argv.end(), {"--ros-args", "-p", "joy_dev:=" + output.joyDev()});
    program_ = std::make_unique<ChildProcess>(argv, OutputFile{options.node_log});
  }
}

bool DrivenNode::waitUntilDriving(
    JoystickOutput & output, const GamepadState & state, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (motion_count_ == 0) {
    if (!rclcpp::ok() || !running() || std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    output.idle(state);
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

bool DrivenNode::running() { return !program_ || program_->running(); }

std::optional<int> DrivenNode::stop(std::chrono::milliseconds timeout) {
  if (!program_) {
    return std::nullopt;
  }
  program_->sendSignal(SIGINT);
  const auto status = program_->waitForExit(timeout);
  if (!status) {
    program_->sendSignal(SIGKILL);
  }
  return status;
}

BackgroundSpinner::BackgroundSpinner(const rclcpp::Node::SharedPtr & node) {
  executor_.add_node(node);
  thread_ = std::thread([this] { executor_.spin(); });
}

BackgroundSpinner::~BackgroundSpinner() {
  executor_.cancel();
  thread_.join();
}

}  // namespace tavrin_tools
