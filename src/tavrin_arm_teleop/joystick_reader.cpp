// The joystick device reader: its own thread opens the device (retrying while it is missing),
// decodes js_event records and hands the samples of each axis window to the dispatcher.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
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

// A controller left alone is handed over this often, whatever the axis window.
constexpr auto kIdleRepeatPeriod = 10ms;
constexpr auto kOpenRetryPeriod = 1s;

timespec untilDeadline(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::max(
      std::chrono::duration_cast<std::chrono::nanoseconds>(
          deadline - std::chrono::steady_clock::now()),
      std::chrono::nanoseconds::zero());
  return {
      static_cast<time_t>(left.count() / 1000000000), static_cast<long>(left.count() % 1000000000)};
}

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
  // poll, unlike select, takes any descriptor number; and a deadline on the steady clock keeps
  // the hand-over times whatever interrupts or wakes the wait.
  connection.due = std::chrono::steady_clock::now() + kIdleRepeatPeriod;
  connection.window_open = false;
  pollfd device{joy_fd_, POLLIN, 0};
  while (joy_fd_ >= 0) {
    // Never longer than the idle period, so that teardown is seen as soon as with the default.
    const timespec timeout = untilDeadline(
        std::min(connection.due, std::chrono::steady_clock::now() + kIdleRepeatPeriod));
    const int ready = ::ppoll(&device, 1, &timeout, nullptr);
    if (ready < 0 && errno != EINTR) {
      return;
    }
    if (ready > 0 && !readEvent(connection, scaling)) {
      return;
    }
    // Also after an event: a device that never falls silent must not hold the hand-over back.
    if (std::chrono::steady_clock::now() >= connection.due) {
      handOver(connection);
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
      break;
    case HandOver::kInWindow:
      if (coalesce_interval_.count() == 0) {
        handOver(connection);
      } else if (!connection.window_open) {
        // The window replaces the idle repetition: what moves in it goes out once, at its end.
        connection.window_open = true;
        connection.due = std::chrono::steady_clock::now() + coalesce_interval_;
      }
      break;
    case HandOver::kUnknown:
      LOG_INFO(
          "joy_node: Unknown event type. Please file a ticket. time={}, value={}, type={:02X}h, "
          "number={}",
          event.time, event.value, event.type, event.number);
      break;
  }
  return true;
}

void TeleopNode::Impl::handOver(Connection & connection) {
  auto & msg = *connection.msg;
  msg.header.stamp = node_.get_clock()->now();
  msg.header.frame_id = joy_dev_;
  joyTeleopProc(connection.msg);
  connection.window_open = false;
  connection.due = std::chrono::steady_clock::now() + kIdleRepeatPeriod;
}

}  // namespace tavrin_arm_teleop
