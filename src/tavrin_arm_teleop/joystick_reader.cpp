// The joystick device reader: its own thread opens the device (retrying while it is missing),
// decodes js_event records and hands the samples of each 10 ms window to the dispatcher.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <string_view>

#include "logging/global_logger.hpp"
#include "tavrin_arm_teleop/teleop_node_impl.hpp"

namespace tavrin_arm_teleop {

namespace {

using namespace std::chrono_literals;

constexpr double kAxisMax = 32767.0;
constexpr long kHandOverPeriodUs = 10000;
constexpr auto kOpenRetryPeriod = 1s;

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
      if (waitForStopUntil(std::chrono::steady_clock::now() + kOpenRetryPeriod)) {
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
    if (waitForStopUntil(opened + kOpenRetryPeriod)) {
      return;
    }
  }
}

bool TeleopNode::Impl::waitForStopUntil(std::chrono::steady_clock::time_point deadline) {
  // Teardown sets the flag under this lock and notifies: a pause between open attempts must
  // not hold up the join for the rest of its second.
  std::unique_lock<std::mutex> lock(task_mutex_);
  return task_cv_.wait_until(lock, deadline, [this] { return exit_flag_.load(); });
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

}  // namespace tavrin_arm_teleop
