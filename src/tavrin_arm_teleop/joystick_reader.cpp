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
#include "tavrin_arm_teleop/joystick_decoding.hpp"
#include "tavrin_arm_teleop/teleop_node_impl.hpp"

namespace tavrin_arm_teleop {

namespace {

using namespace std::chrono_literals;

constexpr long kHandOverPeriodUs = 10000;
constexpr auto kOpenRetryPeriod = 1s;

}  // namespace

void TeleopNode::Impl::joyDataThread() {
  const AxisScaling scaling(deadzone_);
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
    readConnection(connection, scaling);
    if (exit_flag_) {
      return;
    }
    // The controller is gone: a robot that keeps its last command must be told to stop.
    publishZeroMotion(false);
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

void TeleopNode::Impl::readConnection(Connection & connection, const AxisScaling & scaling) {
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
    } else if (!readEvent(connection, scaling)) {
      return;
    }
    if (exit_flag_) {
      return;
    }
  }
}

bool TeleopNode::Impl::readEvent(Connection & connection, const AxisScaling & scaling) {
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
  switch (applyJoystickEvent(event, scaling, joy_axis_, *connection.msg)) {
    case HandOver::kNow:
      handOver(connection);
      connection.hand_over_pending = false;
      armTimer(connection);
      break;
    case HandOver::kInWindow:
      handOverSoon(connection);
      break;
    case HandOver::kUnknown:
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
