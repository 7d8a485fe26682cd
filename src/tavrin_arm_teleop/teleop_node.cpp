// The operator's game controller drives the Tavrin arm through this node: a joystick sample
// becomes a motion command, a control-space selection, a control I/O command, an emergency
// stop or a grab task.
#include "tavrin_arm_teleop/teleop_node.hpp"

#include <fcntl.h>
#include <linux/joystick.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "geometry_msgs/msg/twist.hpp"
#include "logging/global_logger.hpp"
#include "rclcpp/rclcpp.hpp"
#include "rclcpp_action/rclcpp_action.hpp"
#include "sensor_msgs/msg/joy.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/int32_multi_array.hpp"
#include "std_msgs/msg/string.hpp"
#include "std_srvs/srv/set_bool.hpp"
#include "tavrin_protocol/action/arm_task_decision.hpp"

namespace tavrin_arm_teleop {

namespace {

using ArmTaskDecision = tavrin_protocol::action::ArmTaskDecision;
using ArmTaskGoalHandle = rclcpp_action::ClientGoalHandle<ArmTaskDecision>;
using namespace std::chrono_literals;

constexpr char kNodeName[] = "tavrin_arm_teleop_node";
constexpr char kJoyTopic[] = "/joy";
constexpr char kJoyDevicePrefix[] = "/dev/input/js";
constexpr double kAxisMax = 32767.0;
constexpr double kTriggerRest = 1.0;
constexpr long kHandOverPeriodUs = 10000;
constexpr auto kOpenRetryPeriod = 1s;
constexpr int32_t kCtrlIoChannel = 100;
constexpr int kCtrlIoNone = -1;
constexpr int kCtrlIoOff = 0;
constexpr int kCtrlIoOn = 1;
// A running grab task is checked against its server this often, so that a vanished server
// does not lock the grab button for ever.
constexpr auto kGrabServerCheckPeriod = 1s;
constexpr auto kEstopAnswerPollPeriod = 20ms;

// Process-wide dispatcher state: one joystick drives one arm per process.
std::vector<int64_t> joy_buttons;
std::vector<double> joy_axes(6, 0.0);
std::atomic<bool> estop_inprogress{false};
int ctrl_io_state = kCtrlIoNone;
bool ctrl_io_on_held = false;
bool ctrl_io_off_held = false;

enum class Edge { kNone, kPress, kRelease };

bool isPressed(int64_t button) {
  return button >= 0 && static_cast<size_t>(button) < joy_buttons.size() &&
         joy_buttons[button] != 0;
}

// Updates the last seen state of a button and tells which edge, if any, this sample shows.
Edge buttonEdge(int64_t button, bool & was_pressed) {
  const bool pressed = isPressed(button);
  if (pressed == was_pressed) {
    return Edge::kNone;
  }
  was_pressed = pressed;
  return pressed ? Edge::kPress : Edge::kRelease;
}

// A missing or non-finite axis must never turn into motion.
std::optional<double> readAxis(const sensor_msgs::msg::Joy & sample, int64_t axis) {
  if (axis < 0 || static_cast<size_t>(axis) >= sample.axes.size()) {
    return std::nullopt;
  }
  const double value = sample.axes[axis];
  return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

bool isTriggerComponent(size_t component) { return component == 2 || component == 5; }

float scaleAxis(int16_t raw, double dead_band, double scale) {
  double value = raw;
  if (value > dead_band) {
    value -= dead_band;
  } else if (value < -dead_band) {
    value += dead_band;
  } else {
    value = 0.0;
  }
  return static_cast<float>(value * scale);
}

}  // namespace

class TeleopNode::Impl {
public:
  explicit Impl(rclcpp::Node & node) : node_(node) {}

  Impl(const Impl &) = delete;
  Impl & operator=(const Impl &) = delete;

  void joyStart();
  void joyStop();

private:
  // What one open joystick device needs between two turns of its read loop.
  struct Connection {
    std::shared_ptr<sensor_msgs::msg::Joy> msg = std::make_shared<sensor_msgs::msg::Joy>();
    timeval timeout{0, 0};
    bool timer_armed = false;
    bool hand_over_pending = false;
    js_event event{};
  };

  void declareParameters();
  void logConfiguration();
  void createEndpoints();
  void startInput();

  void joyDataThread();
  void closeDevice();
  void readConnection(Connection & connection, double dead_band, double scale);
  bool readEvent(Connection & connection, double dead_band, double scale);
  void growAxes(Connection & connection, size_t size);
  void handOver(Connection & connection);
  void handOverSoon(Connection & connection);
  static void armTimer(Connection & connection);

  void joyTeleopProc(std::shared_ptr<sensor_msgs::msg::Joy> msg);
  void snapshotSample(const sensor_msgs::msg::Joy & sample);
  void applyTriggerTransform();
  void publishSpace(bool joint_space);
  void publishMotion();
  void publishZeroMotion();
  void evaluateControlIo(bool on_pressed, bool off_pressed);
  void publishControlIo(int state);

  void joySendArmGrabAction();
  void joyRequestArmEstop(bool data);
  template <typename Work>
  bool startWorker(Work work);
  void finishWorker();
  void runArmGrabTask();
  void waitForGrabEnd();
  void clearArmGrab();
  void armGrabGoalRespCb(const std::shared_ptr<ArmTaskGoalHandle> & goal_handle);
  void armGrabFeedbackCb(
      std::shared_ptr<ArmTaskGoalHandle> goal_handle,
      std::shared_ptr<const ArmTaskDecision::Feedback> feedback);
  void armGrabResultCb(const ArmTaskGoalHandle::WrappedResult & result);
  void runArmEstop(bool data);
  bool awaitEstopAnswer(rclcpp::Client<std_srvs::srv::SetBool>::FutureAndRequestId & answer);

  int32_t joy_fd_ = -1;
  std::atomic<bool> exit_flag_{false};
  bool joint_space_btn_pressed_ = false;
  bool cartesian_space_btn_pressed_ = false;
  bool estop_btn_pressed_ = false;
  bool grab_btn_pressed_ = false;
  std::atomic<bool> arm_grab_inprogress_{false};
  int64_t btn_arm_grab_ = 0;
  int64_t btn_arm_estop_ = 0;
  int64_t btn_trigger_reverse_ = 0;
  int64_t btn_ctrl_io_off_ = 0;
  int64_t btn_ctrl_io_on_ = 0;
  int64_t btn_joint_space_ = 0;
  int64_t btn_cartesian_space_ = 0;
  double deadzone_ = 0.0;
  std::string joy_dev_;
  std::string arm_task_center_action_ = "/tavrinpro_action/arm_task";
  rclcpp::Node & node_;
  std::thread joy_thread_;
  std::vector<int64_t> joy_axis_{0, 1, 2, 3, 4, 5};
  std::vector<int64_t> joy_btns_{0, 1, 2, 3, 4, 5, 6, 7};
  // Request workers are detached; teardown waits on this until none of them uses the Impl.
  std::mutex task_mutex_;
  std::condition_variable task_cv_;
  int running_workers_ = 0;
  rclcpp::Subscription<sensor_msgs::msg::Joy>::SharedPtr joy_sub_;
  rclcpp::Publisher<geometry_msgs::msg::Twist>::SharedPtr teleop_mov_pub_;
  rclcpp::Publisher<std_msgs::msg::Int32MultiArray>::SharedPtr ctrl_io_pub_;
  rclcpp::Publisher<std_msgs::msg::Bool>::SharedPtr space_exchange_pub_;
  rclcpp::Publisher<std_msgs::msg::String>::SharedPtr stop_pub_;
  rclcpp::Publisher<std_msgs::msg::Bool>::SharedPtr recover_pub_;
  rclcpp::Client<std_srvs::srv::SetBool>::SharedPtr estop_client_;
  rclcpp_action::Client<ArmTaskDecision>::SharedPtr arm_task_client_;
};

// ---------------------------------------------------------------------------------------------
// Startup and teardown

void TeleopNode::Impl::joyStart() {
  exit_flag_ = false;
  declareParameters();
  LOG_INFO("joy_dev: {}, arm_task_center_action: {}", joy_dev_, arm_task_center_action_);
  logConfiguration();
  createEndpoints();
  startInput();
}

void TeleopNode::Impl::declareParameters() {
  deadzone_ = node_.declare_parameter("deadzone", 0.3);
  // A dead band of the whole travel or more would make the stick scale infinite or inverted.
  if (!(deadzone_ >= 0.0 && deadzone_ < 1.0)) {
    throw rclcpp::exceptions::InvalidParameterValueException(
        "parameter 'deadzone' must be in the range [0, 1), got " + std::to_string(deadzone_));
  }
  joy_dev_ = node_.declare_parameter("joy_dev", std::string("/dev/input/js0"));
  joy_axis_ = node_.declare_parameter("joy_axis", joy_axis_);
  joy_btns_ = node_.declare_parameter("joy_btns", joy_btns_);
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
}

void TeleopNode::Impl::startInput() {
  if (joy_dev_ == kJoyTopic) {
    joy_sub_ = node_.create_subscription<sensor_msgs::msg::Joy>(
        kJoyTopic, rclcpp::QoS(10), std::bind(&Impl::joyTeleopProc, this, std::placeholders::_1));
  } else if (joy_dev_.rfind(kJoyDevicePrefix, 0) == 0) {
    joy_thread_ = std::thread(&Impl::joyDataThread, this);
  }
}

void TeleopNode::Impl::joyStop() {
  {
    std::lock_guard<std::mutex> lock(task_mutex_);
    exit_flag_ = true;
  }
  task_cv_.notify_all();
  if (joy_thread_.joinable()) {
    joy_thread_.join();
  }
  closeDevice();
  // The workers hold no ownership of the Impl: it may only go once the last of them is done.
  std::unique_lock<std::mutex> lock(task_mutex_);
  task_cv_.wait(lock, [this] { return running_workers_ == 0; });
}

// ---------------------------------------------------------------------------------------------
// Joystick device reader

void TeleopNode::Impl::joyDataThread() {
  const double dead_band = deadzone_ * kAxisMax;
  const double scale = (-1.0 / (1.0 - deadzone_)) / kAxisMax;
  LOG_INFO("joyDataThread started: {}", joy_dev_);
  if (exit_flag_) {
    return;
  }
  while (true) {
    closeDevice();
    // Opened without blocking: a device node that never answers (a FIFO without a writer)
    // must not keep teardown waiting. Reads block again once the device is open.
    joy_fd_ = ::open(joy_dev_.c_str(), O_RDONLY | O_NONBLOCK);
    if (joy_fd_ < 0) {
      LOG_INFO("Joy {} open failed", joy_dev_);
      std::this_thread::sleep_for(kOpenRetryPeriod);
      if (exit_flag_) {
        return;
      }
      continue;
    }
    const auto opened = std::chrono::steady_clock::now();
    ::fcntl(joy_fd_, F_SETFL, ::fcntl(joy_fd_, F_GETFL) & ~O_NONBLOCK);
    std::array<char, 128> name{};
    if (::ioctl(joy_fd_, JSIOCGNAME(name.size()), name.data()) < 0) {
      name = {};
      std::strncpy(name.data(), "Unknown", name.size());
    }
    LOG_INFO(
        "joyOpen: {}, ret = {}", std::string_view(name.data(), ::strnlen(name.data(), name.size())),
        joy_fd_);
    Connection connection;
    if (exit_flag_) {
      return;
    }
    readConnection(connection, dead_band, scale);
    if (exit_flag_) {
      return;
    }
    // The controller is gone: a robot that keeps its last command must be told to stop.
    publishZeroMotion();
    // A device that ends as soon as it is opened (a regular file, /dev/null) would otherwise
    // be reopened in a busy loop, flooding the log and the motion topic.
    std::this_thread::sleep_until(opened + kOpenRetryPeriod);
    if (exit_flag_) {
      return;
    }
  }
}

void TeleopNode::Impl::closeDevice() {
  if (joy_fd_ >= 0) {
    ::close(joy_fd_);
    joy_fd_ = -1;
  }
}

void TeleopNode::Impl::readConnection(Connection & connection, double dead_band, double scale) {
  while (joy_fd_ >= 0) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(joy_fd_, &readable);
    // Linux select leaves the time not yet waited in the timeout: that remainder is what
    // combines the axis events of one 10 ms window into one hand-over.
    const int ready = ::select(joy_fd_ + 1, &readable, nullptr, nullptr, &connection.timeout);
    if (ready < 0) {
      if (errno != EINTR) {
        return;
      }
      connection.timeout = {0, 0};
    } else if (ready == 0) {
      if (connection.timer_armed) {
        handOver(connection);
        connection.hand_over_pending = false;
      }
      armTimer(connection);
    } else if (!readEvent(connection, dead_band, scale)) {
      return;
    }
    if (exit_flag_) {
      return;
    }
  }
}

bool TeleopNode::Impl::readEvent(Connection & connection, double dead_band, double scale) {
  const ssize_t count = ::read(joy_fd_, &connection.event, sizeof(connection.event));
  if (count < 0) {
    return errno == EAGAIN || errno == EINTR;
  }
  if (count == 0) {
    return false;  // end of file: the device is gone
  }
  if (count != sizeof(connection.event)) {
    return true;  // a torn record carries nothing trustworthy
  }
  const js_event & event = connection.event;
  auto & msg = *connection.msg;
  switch (event.type) {
    case JS_EVENT_BUTTON:
    case JS_EVENT_BUTTON | JS_EVENT_INIT:
      if (event.number >= msg.buttons.size()) {
        msg.buttons.resize(event.number + 1, 0);
      }
      msg.buttons[event.number] = event.value != 0 ? 1 : 0;
      if (event.type == JS_EVENT_BUTTON) {
        // Buttons are commands: they go out at once, not at the end of a window.
        handOver(connection);
        connection.hand_over_pending = false;
        connection.timeout = {0, kHandOverPeriodUs};
        connection.timer_armed = true;
      } else {
        handOverSoon(connection);
      }
      break;
    case JS_EVENT_AXIS:
      growAxes(connection, event.number + 1);
      msg.axes[event.number] = scaleAxis(event.value, dead_band, scale);
      handOverSoon(connection);
      break;
    case JS_EVENT_AXIS | JS_EVENT_INIT:
      // Initial axis positions are not taken over: sticks are assumed centred until they move.
      growAxes(connection, event.number + 1);
      handOverSoon(connection);
      break;
    default:
      LOG_INFO(
          "joy_node: Unknown event type. Please file a ticket. time={}, value={}, type={:02X}h, "
          "number={}",
          event.time, event.value, event.type, event.number);
      if (!connection.timer_armed) {
        armTimer(connection);
      }
      break;
  }
  return true;
}

void TeleopNode::Impl::growAxes(Connection & connection, size_t size) {
  auto & axes = connection.msg->axes;
  const size_t old_size = axes.size();
  if (size <= old_size) {
    return;
  }
  axes.resize(size, 0.0f);
  // Triggers rest fully released; a new trigger entry at 0.0 would read as half pulled.
  for (const size_t component : {2u, 5u}) {
    const int64_t axis = joy_axis_[component];
    if (axis >= static_cast<int64_t>(old_size) && axis < static_cast<int64_t>(size)) {
      axes[axis] = static_cast<float>(kTriggerRest);
    }
  }
}

void TeleopNode::Impl::handOver(Connection & connection) {
  auto & msg = *connection.msg;
  msg.header.stamp = node_.get_clock()->now();
  msg.header.frame_id = joy_dev_;
  joyTeleopProc(connection.msg);
}

void TeleopNode::Impl::handOverSoon(Connection & connection) {
  if (!connection.hand_over_pending) {
    connection.hand_over_pending = true;
    armTimer(connection);
  } else if (!connection.timer_armed) {
    armTimer(connection);
  }
}

void TeleopNode::Impl::armTimer(Connection & connection) {
  connection.timeout = {0, kHandOverPeriodUs};
  connection.timer_armed = true;
}

// ---------------------------------------------------------------------------------------------
// Command dispatcher

void TeleopNode::Impl::joyTeleopProc(std::shared_ptr<sensor_msgs::msg::Joy> msg) {
  try {
    snapshotSample(*msg);
    switch (buttonEdge(btn_arm_grab_, grab_btn_pressed_)) {
      case Edge::kPress:
        LOG_INFO("Arm grab button press, send trash grab goal...");
        joySendArmGrabAction();
        break;
      case Edge::kRelease:
        LOG_INFO("Arm grab button release...");
        break;
      case Edge::kNone:
        break;
    }
    applyTriggerTransform();
    switch (buttonEdge(btn_arm_estop_, estop_btn_pressed_)) {
      case Edge::kPress:
        LOG_INFO("Arm emergency stop button press...");
        joyRequestArmEstop(true);
        break;
      case Edge::kRelease:
        LOG_INFO("Arm emergency stop button release...");
        break;
      case Edge::kNone:
        break;
    }
    const Edge joint = buttonEdge(btn_joint_space_, joint_space_btn_pressed_);
    if (joint == Edge::kPress) {
      publishSpace(true);
      LOG_INFO("joint_space button press...");
    } else if (joint == Edge::kRelease) {
      LOG_INFO("joint_space button release...");
    }
    // While the joint-space button is held, the cartesian-space button is not looked at.
    if (!joint_space_btn_pressed_) {
      const Edge cartesian = buttonEdge(btn_cartesian_space_, cartesian_space_btn_pressed_);
      if (cartesian == Edge::kPress) {
        publishSpace(false);
        LOG_INFO("cartesian_space button press...");
      } else if (cartesian == Edge::kRelease) {
        LOG_INFO("cartesian_space button release...");
      }
    }
    publishMotion();
    evaluateControlIo(isPressed(btn_ctrl_io_on_), isPressed(btn_ctrl_io_off_));
  } catch (const std::exception & error) {
    // One failed publish costs one sample, never the node.
    LOG_INFO("joyTeleopProc: sample dropped: {}", error.what());
  }
}

void TeleopNode::Impl::snapshotSample(const sensor_msgs::msg::Joy & sample) {
  joy_buttons.assign(sample.buttons.begin(), sample.buttons.end());
  // Every component is refreshed from this sample alone: a stale value would move the arm
  // by itself. A missing trigger reads as released, so the transform makes it 0.0.
  for (size_t component = 0; component < joy_axes.size(); ++component) {
    const double absent = isTriggerComponent(component) ? kTriggerRest : 0.0;
    joy_axes[component] = readAxis(sample, joy_axis_[component]).value_or(absent);
  }
}

void TeleopNode::Impl::applyTriggerTransform() {
  // Triggers rest at +1.0 and reach -1.0 fully pulled; the result runs from 0 to +-1.
  const double factor = isPressed(btn_trigger_reverse_) ? 0.5 : -0.5;
  joy_axes[2] = (joy_axes[2] - kTriggerRest) * factor;
  joy_axes[5] = (joy_axes[5] - kTriggerRest) * factor;
}

void TeleopNode::Impl::publishSpace(bool joint_space) {
  std_msgs::msg::Bool msg;
  msg.data = joint_space;
  space_exchange_pub_->publish(msg);
}

void TeleopNode::Impl::publishMotion() {
  geometry_msgs::msg::Twist msg;
  msg.linear.x = joy_axes[0];
  msg.linear.y = joy_axes[1];
  msg.linear.z = joy_axes[2];
  msg.angular.x = joy_axes[3];
  msg.angular.y = joy_axes[4];
  msg.angular.z = joy_axes[5];
  teleop_mov_pub_->publish(msg);
}

void TeleopNode::Impl::publishZeroMotion() {
  try {
    teleop_mov_pub_->publish(geometry_msgs::msg::Twist());
  } catch (const std::exception & error) {
    LOG_INFO("joyDataThread: stop command not sent: {}", error.what());
  }
}

void TeleopNode::Impl::evaluateControlIo(bool on_pressed, bool off_pressed) {
  const bool on_press_edge = on_pressed && !ctrl_io_on_held;
  const bool off_press_edge = off_pressed && !ctrl_io_off_held;
  ctrl_io_on_held = on_pressed;
  ctrl_io_off_held = off_pressed;
  if (!on_pressed && !off_pressed) {
    ctrl_io_state = kCtrlIoNone;
    return;
  }
  // Only a new press sends, so holding both buttons cannot toggle the I/O with every sample.
  // When both are pressed in the same sample the safer off command wins.
  const int wanted = off_press_edge ? kCtrlIoOff : on_press_edge ? kCtrlIoOn : ctrl_io_state;
  if (wanted == kCtrlIoNone || wanted == ctrl_io_state) {
    return;
  }
  ctrl_io_state = wanted;
  publishControlIo(wanted);
}

void TeleopNode::Impl::publishControlIo(int state) {
  std_msgs::msg::Int32MultiArray msg;
  msg.data = {kCtrlIoChannel, state};
  msg.layout.dim.emplace_back();
  msg.layout.dim[0].size = static_cast<uint32_t>(msg.data.size());
  msg.layout.dim[0].stride = static_cast<uint32_t>(msg.data.size());
  msg.layout.dim[0].label = "ctrl_io_data";
  msg.layout.data_offset = 1;
  ctrl_io_pub_->publish(msg);
}

// ---------------------------------------------------------------------------------------------
// Grab task and emergency stop

void TeleopNode::Impl::joySendArmGrabAction() {
  if (arm_grab_inprogress_) {
    LOG_INFO("ArmTaskDecision goal inprogress, skip!");
    return;
  }
  arm_grab_inprogress_ = true;
  LOG_INFO("ArmTaskDecision goal start...");
  if (!startWorker([this] { runArmGrabTask(); })) {
    clearArmGrab();
  }
}

void TeleopNode::Impl::joyRequestArmEstop(bool data) {
  if (estop_inprogress) {
    LOG_INFO("service request for /robot/estop_service inprogress, please wait...");
    return;
  }
  estop_inprogress = true;
  if (!startWorker([this, data] { runArmEstop(data); })) {
    estop_inprogress = false;
  }
}

template <typename Work>
bool TeleopNode::Impl::startWorker(Work work) {
  {
    std::lock_guard<std::mutex> lock(task_mutex_);
    ++running_workers_;
  }
  try {
    std::thread([this, work] {
      work();
      finishWorker();
    }).detach();
    return true;
  } catch (const std::system_error & error) {
    finishWorker();
    LOG_INFO("Failed to start a request thread: {}", error.what());
    return false;
  }
}

void TeleopNode::Impl::finishWorker() {
  // Notified under the lock: once teardown sees zero, this thread touches the Impl no more.
  std::lock_guard<std::mutex> lock(task_mutex_);
  --running_workers_;
  task_cv_.notify_all();
}

void TeleopNode::Impl::runArmGrabTask() {
  LOG_INFO("Wait for ArmTaskDecision server...");
  try {
    if (!arm_task_client_->wait_for_action_server(3s)) {
      clearArmGrab();
      LOG_INFO("Action server not available after waiting");
      return;
    }
    LOG_INFO("Send goal to ArmTaskDecision!");
    ArmTaskDecision::Goal goal;
    goal.task_type = 1;
    rclcpp_action::Client<ArmTaskDecision>::SendGoalOptions options;
    options.goal_response_callback =
        std::bind(&Impl::armGrabGoalRespCb, this, std::placeholders::_1);
    options.feedback_callback =
        std::bind(&Impl::armGrabFeedbackCb, this, std::placeholders::_1, std::placeholders::_2);
    options.result_callback = std::bind(&Impl::armGrabResultCb, this, std::placeholders::_1);
    arm_task_client_->async_send_goal(goal, options);
  } catch (const std::exception & error) {
    clearArmGrab();
    LOG_INFO("ArmTaskDecision goal not sent: {}", error.what());
    return;
  }
  waitForGrabEnd();
  LOG_INFO("ArmTaskDecision goal finished!");
}

void TeleopNode::Impl::waitForGrabEnd() {
  std::unique_lock<std::mutex> lock(task_mutex_);
  while (arm_grab_inprogress_ && !exit_flag_) {
    if (task_cv_.wait_for(
            lock, kGrabServerCheckPeriod, [this] { return !arm_grab_inprogress_ || exit_flag_; })) {
      return;
    }
    lock.unlock();
    const bool server_present = arm_task_client_->action_server_is_ready();
    lock.lock();
    if (!server_present && arm_grab_inprogress_) {
      // Its result will never come: free the grab button for when the server is back.
      arm_grab_inprogress_ = false;
      lock.unlock();
      LOG_INFO("ArmTaskDecision server lost, stop waiting for the result");
      return;
    }
  }
}

void TeleopNode::Impl::clearArmGrab() {
  {
    std::lock_guard<std::mutex> lock(task_mutex_);
    arm_grab_inprogress_ = false;
  }
  task_cv_.notify_all();
}

void TeleopNode::Impl::armGrabGoalRespCb(const std::shared_ptr<ArmTaskGoalHandle> & goal_handle) {
  if (goal_handle) {
    // The flag is already set; setting it here again could resurrect a task given up on.
    LOG_INFO("Goal accepted by server, waiting for result");
  } else {
    LOG_INFO("Goal was rejected by server");
    clearArmGrab();
  }
}

void TeleopNode::Impl::armGrabFeedbackCb(
    std::shared_ptr<ArmTaskGoalHandle> /*goal_handle*/,
    std::shared_ptr<const ArmTaskDecision::Feedback> feedback) {
  LOG_INFO("ArmTaskDecision run_stage: {}", feedback->run_stage);
}

void TeleopNode::Impl::armGrabResultCb(const ArmTaskGoalHandle::WrappedResult & result) {
  switch (result.code) {
    case rclcpp_action::ResultCode::SUCCEEDED:
      LOG_INFO(
          "status: {}, status_code: {}, errmsg: {}", result.result->status,
          result.result->status_code, result.result->errmsg);
      break;
    case rclcpp_action::ResultCode::CANCELED:
      LOG_INFO("ArmTaskDecision Goal was canceled");
      break;
    case rclcpp_action::ResultCode::ABORTED:
      LOG_INFO("ArmTaskDecision Goal was aborted");
      break;
    default:
      LOG_INFO("ArmTaskDecision Unknown result code");
      break;
  }
  clearArmGrab();
}

void TeleopNode::Impl::runArmEstop(bool data) {
  // The button is freed before the outcome is logged: a press that follows the line must start
  // a new request, not be told that this one is still in progress.
  auto request = std::make_shared<std_srvs::srv::SetBool::Request>();
  request->data = data;
  try {
    if (!estop_client_->wait_for_service(2s)) {
      estop_inprogress = false;
      if (!rclcpp::ok()) {
        LOG_INFO("Interrupted while waiting for the /robot/estop_service service. Exiting.");
      } else {
        LOG_INFO("service /robot/estop_service not available, return...");
      }
      return;
    }
    auto answer = estop_client_->async_send_request(request);
    if (awaitEstopAnswer(answer)) {
      const auto response = answer.get();
      estop_inprogress = false;
      LOG_INFO("result: {}, message: {}", response->success, response->message);
    } else {
      static_cast<void>(estop_client_->async_send_request(request));
      estop_inprogress = false;
      LOG_INFO("Failed to call service /robot/estop_service");
    }
  } catch (const std::exception & error) {
    estop_inprogress = false;
    LOG_INFO("service /robot/estop_service request failed: {}", error.what());
  }
}

bool TeleopNode::Impl::awaitEstopAnswer(
    rclcpp::Client<std_srvs::srv::SetBool>::FutureAndRequestId & answer) {
  const auto deadline = std::chrono::steady_clock::now() + 3s;
  while (rclcpp::ok() && !exit_flag_ && std::chrono::steady_clock::now() < deadline) {
    if (answer.wait_for(kEstopAnswerPollPeriod) == std::future_status::ready) {
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// TeleopNode

TeleopNode::TeleopNode(const rclcpp::NodeOptions & options)
    : rclcpp::Node(kNodeName, options), impl_(std::make_unique<Impl>(*this)) {
  impl_->joyStart();
}

TeleopNode::~TeleopNode() { impl_->joyStop(); }

}  // namespace tavrin_arm_teleop

int main(int argc, char ** argv) {
  rclcpp::init(argc, argv);
  {
    rclcpp::NodeOptions options;
    auto node = std::make_unique<tavrin_arm_teleop::TeleopNode>(options);
    std::shared_ptr<tavrin_arm_teleop::TeleopNode> shared_node = std::move(node);
    rclcpp::spin(shared_node);
  }
  rclcpp::shutdown();
  return 0;
}
