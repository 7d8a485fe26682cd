// The operator's game controller drives the Tavrin arm through this node: a joystick sample
// becomes a motion command, a control-space selection, a control I/O command, an emergency
// stop or a grab task. This file wires the node up and takes it down.
#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "logging/global_logger.hpp"
#include "rcl_interfaces/msg/parameter_descriptor.hpp"
#include "tavrin_arm_teleop/teleop_node_impl.hpp"

namespace tavrin_arm_teleop {

namespace {

constexpr char kNodeName[] = "tavrin_arm_teleop_node";
constexpr char kJoyTopic[] = "/joy";
constexpr std::string_view kJoyDevicePrefix = "/dev/input/js";
// udev's links to a joystick device keep their names across replugs and USB ports.
constexpr std::array<std::string_view, 2> kStableDeviceFolders{
    "/dev/input/by-id/", "/dev/input/by-path/"};
constexpr std::string_view kJoystickLinkSuffix = "-joystick";
// The event device of the same controller: its records are not joystick events, and read as
// such they would press buttons and move the arm at random.
constexpr std::string_view kEventLinkSuffix = "-event-joystick";

// The dispatcher's state is process-wide: a second node would share one controller's button
// edges and I/O state with the first.
std::atomic<bool> node_exists{false};

// Every parameter is read once at start: declared read-only, `ros2 param set` is refused with a
// reason instead of reporting a success that changes nothing.
rcl_interfaces::msg::ParameterDescriptor readOnly(const std::string & description) {
  rcl_interfaces::msg::ParameterDescriptor descriptor;
  descriptor.description = description;
  descriptor.read_only = true;
  return descriptor;
}

bool isStableJoystickLink(std::string_view path) {
  const bool in_stable_folder = std::any_of(
      kStableDeviceFolders.begin(), kStableDeviceFolders.end(),
      [path](std::string_view folder) { return path.starts_with(folder); });
  return in_stable_folder && path.ends_with(kJoystickLinkSuffix) &&
         !path.ends_with(kEventLinkSuffix);
}

}  // namespace

TeleopNode::Impl::Impl(rclcpp::Node & node) : node_(node) {
  if (node_exists.exchange(true)) {
    throw std::runtime_error(
        "a second tavrin_arm_teleop::TeleopNode in one process is refused: the joystick "
        "dispatcher's state is process-wide; run one node per process");
  }
}

TeleopNode::Impl::~Impl() { node_exists = false; }

void TeleopNode::Impl::joyStart() {
  exit_flag_ = false;
  declareParameters();
  LOG_INFO("joy_dev: {}, arm_task_center_action: {}", joy_dev_, arm_task_center_action_);
  logConfiguration();
  createEndpoints();
  startInput();
  // A signal shuts the context down before the node goes: the stop command must go out first,
  // while it still can.
  close_motion_at_shutdown_ =
      node_.get_node_base_interface()->get_context()->add_pre_shutdown_callback(
          [this] { publishZeroMotion(true); });
}

void TeleopNode::Impl::declareParameters() {
  deadzone_ = node_.declare_parameter(
      "deadzone", 0.3, readOnly("stick dead band, a fraction of full travel in [0, 1)"));
  // A dead band of the whole travel or more would make the stick scale infinite or inverted.
  if (!(deadzone_ >= 0.0 && deadzone_ < 1.0)) {
    throw rclcpp::exceptions::InvalidParameterValueException(
        "parameter 'deadzone' must be in the range [0, 1), got " + std::to_string(deadzone_));
  }
  const int64_t coalesce_interval_ms = node_.declare_parameter(
      "coalesce_interval_ms", kDefaultCoalesceIntervalMs,
      readOnly("axis window in ms: axis movements within it go out as one command, 0 for none"));
  if (coalesce_interval_ms < 0 || coalesce_interval_ms > kMaxCoalesceIntervalMs) {
    throw rclcpp::exceptions::InvalidParameterValueException(
        "parameter 'coalesce_interval_ms' must be in the range [0, " +
        std::to_string(kMaxCoalesceIntervalMs) + "], got " + std::to_string(coalesce_interval_ms));
  }
  coalesce_interval_ = std::chrono::milliseconds(coalesce_interval_ms);
  joy_dev_ = node_.declare_parameter(
      "joy_dev", std::string("/dev/input/js0"),
      readOnly("joystick device the node reads, or /joy to subscribe to sensor_msgs/Joy"));
  joy_axis_ = node_.declare_parameter(
      "joy_axis", joy_axis_,
      readOnly("axis for linear x, y, z and angular x, y, z; entries 2 and 5 are triggers"));
  joy_btns_ = node_.declare_parameter(
      "joy_btns", joy_btns_,
      readOnly("button for trigger reverse, grab, I/O off, I/O on, emergency stop, (none), "
               "joint space, cartesian space"));
  enable_button_ = node_.declare_parameter(
      "enable_button", kNoEnableButton, readOnly("button held for the arm to move, -1 for none"));
  if (enable_button_ < kNoEnableButton) {
    throw rclcpp::exceptions::InvalidParameterValueException(
        "parameter 'enable_button' must be a button number, or -1 for none, got " +
        std::to_string(enable_button_));
  }
}

void TeleopNode::Impl::logConfiguration() {
  if (joy_axis_.size() < 6) {
    joy_axis_.resize(6, 0);
  }
  if (joy_btns_.size() < 8) {
    joy_btns_.resize(8, 0);
  }
  for (size_t i = 0; i < joy_axis_.size(); ++i) {
    LOG_INFO("Joy axes remap{}: {}", i, joy_axis_[i]);
  }
  for (size_t i = 0; i < joy_btns_.size(); ++i) {
    LOG_INFO("Joy buttons remap{}: {}", i, joy_btns_[i]);
  }
  // Entry 5 of the button table has no role.
  static constexpr std::array<std::pair<size_t, int64_t Impl::*>, 7> kButtonRoles{{
      {0, &Impl::btn_trigger_reverse_},
      {1, &Impl::btn_arm_grab_},
      {2, &Impl::btn_ctrl_io_off_},
      {3, &Impl::btn_ctrl_io_on_},
      {4, &Impl::btn_arm_estop_},
      {6, &Impl::btn_joint_space_},
      {7, &Impl::btn_cartesian_space_},
  }};
  for (const auto & [entry, member] : kButtonRoles) {
    this->*member = joy_btns_[entry];
  }
  if (coalesce_interval_.count() != kDefaultCoalesceIntervalMs) {
    LOG_INFO("Axis window: {} ms", coalesce_interval_.count());
  }
  if (enable_button_ != kNoEnableButton) {
    LOG_INFO("Enable button: {}, the arm moves only while it is held", enable_button_);
  }
}

void TeleopNode::Impl::createEndpoints() {
  ctrl_io_pub_ = node_.create_publisher<std_msgs::msg::Int32MultiArray>(
      "/robot/ctrl_io_topic", rclcpp::QoS(10));
  teleop_mov_pub_ =
      node_.create_publisher<geometry_msgs::msg::Twist>("/robot/teleop_mov_topic", rclcpp::QoS(10));
  space_exchange_pub_ = node_.create_publisher<std_msgs::msg::Bool>(
      "/robot/teleop_space_exchange_topic", rclcpp::QoS(10));
  stop_pub_ = node_.create_publisher<std_msgs::msg::String>("/robot/stop_topic", rclcpp::QoS(10));
  recover_pub_ =
      node_.create_publisher<std_msgs::msg::Bool>("/robot/recover_topic", rclcpp::QoS(10));
  estop_client_ = node_.create_client<std_srvs::srv::SetBool>("/robot/estop_service");
  arm_task_client_ = rclcpp_action::create_client<ArmTaskDecision>(&node_, arm_task_center_action_);
  arm_task_check_client_ =
      node_.create_client<ArmTaskResultService>(arm_task_center_action_ + "/_action/get_result");
}

void TeleopNode::Impl::startInput() {
  if (joy_dev_ == kJoyTopic) {
    joy_sub_ = node_.create_subscription<sensor_msgs::msg::Joy>(
        kJoyTopic, rclcpp::QoS(10), std::bind(&Impl::joyTeleopProc, this, std::placeholders::_1));
  } else if (readsJoystickDevice()) {
    joy_thread_ = std::thread(&Impl::joyDataThread, this);
  } else {
    LOG_INFO(
        "joy_dev {} selects no input: use /joy, or a joystick device path (/dev/input/jsN, "
        "/dev/input/by-id/...-joystick, /dev/input/by-path/...-joystick)",
        joy_dev_);
  }
}

bool TeleopNode::Impl::readsJoystickDevice() const {
  const std::string_view path = joy_dev_;
  return path.starts_with(kJoyDevicePrefix) || isStableJoystickLink(path);
}

void TeleopNode::Impl::joyStop() {
  node_.get_node_base_interface()->get_context()->remove_pre_shutdown_callback(
      close_motion_at_shutdown_);
  {
    std::lock_guard<std::mutex> lock(task_mutex_);
    exit_flag_ = true;
  }
  task_cv_.notify_all();
  if (joy_thread_.joinable()) {
    joy_thread_.join();
  }
  closeDevice();
  // The endpoints go with the Impl; the arm must be told to stop before.
  publishZeroMotion(true);
  // The workers hold no ownership of the Impl: it may only go once the last of them is done.
  std::unique_lock<std::mutex> lock(task_mutex_);
  task_cv_.wait(lock, [this] { return running_workers_ == 0; });
}

TeleopNode::TeleopNode(const rclcpp::NodeOptions & options)
    : rclcpp::Node(kNodeName, options), impl_(std::make_unique<Impl>(*this)) {
  impl_->joyStart();
}

TeleopNode::~TeleopNode() { impl_->joyStop(); }

}  // namespace tavrin_arm_teleop
