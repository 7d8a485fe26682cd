// A game controller stand-in for the node's own device reader. The node runs in a mount
// namespace of its own whose /dev/input/js0 is a link to a path the test controls, and that
// path leads to a raw pseudo-terminal or a FIFO the test writes joystick events into.
#pragma once

#include <linux/joystick.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "geometry_msgs/msg/twist.hpp"
#include "robot_peer.hpp"

namespace tavrin_test {

/// One 8-byte joystick event record as the kernel delivers it.
js_event joyEvent(uint8_t type, uint8_t number, int16_t value, uint32_t time = 0);

/// The controller end of the device that /dev/input/js0 leads to inside the node's namespace.
class JoystickStandIn {
public:
  /// Prepares the test's side of the link; no device is plugged in yet.
  JoystickStandIn();
  ~JoystickStandIn();

  JoystickStandIn(const JoystickStandIn &) = delete;
  JoystickStandIn & operator=(const JoystickStandIn &) = delete;

  /// Plugs in a new raw pseudo-terminal holding `waiting` events, as a device that has its
  /// initial state ready when opened.
  void plugTerminal(const std::vector<js_event> & waiting = {});
  /// Plugs in an existing file; /dev/null, for one, reads as end of file at once.
  void plugFile(const std::string & path);
  /// Plugs in a FIFO with no writer: opening it never blocks, reading waits for a writer.
  void plugFifo();
  /// Becomes the FIFO's writer; waits until the node has the FIFO open for reading.
  void openFifoWriter();
  /// Closes the terminal's controller end or the FIFO's writer: the node reads a hang-up or EOF.
  void closeWriter();
  /// Removes the link, then closes the writing end: the controller is gone.
  void unplug();

  void send(const std::vector<js_event> & events);
  void sendBytes(const void * bytes, size_t count);

  /// The host path that the node's /dev/input/js0 links to.
  std::string linkPath() const { return directory_ + "/js0"; }

private:
  void link(const std::string & target);

  std::string directory_;
  int writer_ = -1;
  int terminal_ = -1;
};

/// The node in device mode, reading /dev/input/js0 of a private mount namespace.
class DeviceNode : public ChildProcess {
public:
  /// `launcher` goes before the command line (such as `ip netns exec NAME`); `environment` as
  /// for ChildProcess.
  DeviceNode(
      const JoystickStandIn & device, const std::vector<std::string> & ros_arguments = {},
      const std::vector<std::string> & launcher = {},
      const std::vector<std::string> & environment = {});

  /// Sends SIGINT and returns whether the process then exited with status 0.
  bool interruptAndExitCleanly(std::chrono::milliseconds timeout = std::chrono::seconds(20));
};

/// Waits until the node's motion publisher is matched with `peer`, and a moment more for the
/// node's writers to match the peer's readers in turn.
bool waitForNode(RobotPeer & peer);

/// The index of the first motion command at or after index `from` that satisfies `match`.
std::optional<size_t> waitForTwist(
    const RobotPeer & peer, size_t from,
    const std::function<bool(const geometry_msgs::msg::Twist &)> & match,
    std::chrono::milliseconds timeout = std::chrono::seconds(10));

/// All six components of the motion command are 0.0.
bool isStill(const geometry_msgs::msg::Twist & twist);

}  // namespace tavrin_test
