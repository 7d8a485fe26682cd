#include "joystick_output.hpp"

#include <system_error>
#include <utility>

#include "device_namespace.hpp"

namespace tavrin_tools {

namespace {
// The repeat rate of a joystick driver node: the node sees a live controller even when idle.
constexpr auto kTopicRepeatPeriod = std::chrono::milliseconds(50);
}  // namespace

std::unique_ptr<DeviceOutput> DeviceOutput::create(
    const std::string & device_path, double deadzone, std::string & why_not) {
  std::unique_ptr<DeviceOutput> output;
  try {
    output.reset(new DeviceOutput(device_path, deadzone));
  } catch (const std::system_error & error) {
    why_not = error.what();
    return nullptr;
  }
  why_not = linkDeviceInPrivateNamespace(device_path, output->device_.terminalPath());
  if (!why_not.empty()) {
    return nullptr;
  }
  // Waits in the terminal's buffer until the node opens the device, as a driver's burst would.
  output->device_.send(initialStateEvents(output->sent_, deadzone, output->eventTime()));
  return output;
}

DeviceOutput::DeviceOutput(std::string device_path, double deadzone)
    : device_path_(std::move(device_path)), deadzone_(deadzone), sent_(GamepadState::atRest()) {
  device_.plugTerminal({}, TerminalMode::wholeRecords);
}

uint32_t DeviceOutput::eventTime() const {
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start_)
                                   .count());
}

void DeviceOutput::send(const GamepadState & state) {
  if (!device_.send(changeEvents(sent_, state, deadzone_, eventTime()))) {
    being_read_ = false;
  }
  sent_ = state;
}

void DeviceOutput::idle(const GamepadState &) {
  // The node's reader repeats the last state by itself every 10 ms.
}

std::string DeviceOutput::description() const {
  return "a pseudo-terminal (" + device_.terminalPath() + ") behind " + device_path_ +
         " in a private mount namespace; the node reads it as its joystick device (joy_dev:=" +
         device_path_ + ")";
}

TopicOutput::TopicOutput(const rclcpp::Node::SharedPtr & node, std::string why_not_device)
    : node_(node)
    , publisher_(node->create_publisher<sensor_msgs::msg::Joy>("/joy", rclcpp::QoS(10)))
    , why_not_device_(std::move(why_not_device)) {}

void TopicOutput::send(const GamepadState & state) {
  sensor_msgs::msg::Joy sample;
  sample.header.stamp = node_->get_clock()->now();
  sample.header.frame_id = "virtual_controller";
  sample.axes = state.axes;
  sample.buttons = state.buttons;
  publisher_->publish(sample);
  last_sent_ = std::chrono::steady_clock::now();
}

void TopicOutput::idle(const GamepadState & state) {
  if (std::chrono::steady_clock::now() - last_sent_ >= kTopicRepeatPeriod) {
    send(state);
  }
}

std::string TopicOutput::description() const {
  std::string text = "sensor_msgs/Joy samples on /joy; the node subscribes to them (joy_dev:=/joy)";
  if (!why_not_device_.empty()) {
    text += " because no joystick device can be made here (" + why_not_device_ + ")";
  }
  return text;
}

}  // namespace tavrin_tools
