// What every reader benchmark needs: a raw pseudo-terminal standing in for the controller,
// and the node started in a mount namespace of its own where /dev/input/js0 leads to it.
#pragma once

#include <linux/joystick.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace tavrin_bench {

/// One 8-byte joystick event record as the kernel delivers it.
js_event joyEvent(uint8_t type, uint8_t number, int16_t value);

/// The initial state a controller reports when opened: every button released, sticks centred.
std::vector<js_event> initialBurst(uint8_t buttons, uint8_t axes);

/// Keeps DDS on loopback in a domain of the benchmark's own, unless one is already chosen.
void useLoopbackDomain(int domain_id);

/// What stands in for the controller device.
enum class StandIn {
  /// A raw pseudo-terminal: its events can wait for the node before it opens the device.
  kTerminal,
  /// A FIFO: a write wakes the reader directly, as a joystick device does, while a terminal
  /// passes its input through a kernel worker first.
  kFifo,
};

/// A stand-in device plugged in as the controller.
class StandInController {
public:
  /// Plugs in the device with `waiting` events, written before the node opens a terminal and
  /// as soon as the node has a FIFO open.
  StandInController(StandIn kind, const std::vector<js_event> & waiting);
  ~StandInController();

  StandInController(const StandInController &) = delete;
  StandInController & operator=(const StandInController &) = delete;

  void send(const std::vector<js_event> & events);
  /// The host path that the node's /dev/input/js0 links to.
  std::string linkPath() const { return directory_ + "/js0"; }

private:
  void openFifoWriter();

  std::string directory_;
  std::vector<js_event> waiting_;
  int controller_ = -1;
  int terminal_ = -1;
};

/// The node in device mode on a stand-in controller; its output goes to a log file.
class NodeProcess {
public:
  NodeProcess(
      const StandInController & controller, const std::string & log_path,
      const std::vector<std::string> & environment = {});
  /// Interrupts the node if it still runs.
  ~NodeProcess();

  NodeProcess(const NodeProcess &) = delete;
  NodeProcess & operator=(const NodeProcess &) = delete;

  pid_t pid() const { return pid_; }
  /// Sends SIGINT and returns the exit status, or -1 if the node had to be killed.
  int stop(std::chrono::seconds timeout = std::chrono::seconds(10));

private:
  pid_t pid_ = -1;
  bool running_ = false;
};

}  // namespace tavrin_bench
