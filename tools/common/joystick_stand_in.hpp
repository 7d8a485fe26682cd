// A game controller stand-in, shared by the tools, the tests and the benchmarks: a raw
// pseudo-terminal or a FIFO that reads like a Linux joystick device, behind a link whose path
// the owner controls. A reader started in a private mount namespace sees the link as
// /dev/input/js0.
#pragma once

#include <linux/joystick.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tavrin_tools {

/// One 8-byte joystick event record as the kernel delivers it.
js_event joyEvent(uint8_t type, uint8_t number, int16_t value, uint32_t time = 0);

/// The initial state a controller reports when opened: every button released, sticks centred.
std::vector<js_event> initialBurst(uint8_t buttons, uint8_t axes);

/// How a plugged-in terminal hands bytes on.
enum class TerminalMode {
  /// Bytes reach the reader as written, torn records included; send() waits for room.
  raw,
  /// Only whole 8-byte records reach the reader, as from a joystick device; send() reports a
  /// full buffer (nobody reads) instead of waiting.
  wholeRecords,
};

/// The controller end of the device that linkPath() leads to.
class JoystickStandIn {
public:
  /// Prepares the owner's side of the link; no device is plugged in yet.
  JoystickStandIn();
  ~JoystickStandIn();

  JoystickStandIn(const JoystickStandIn &) = delete;
  JoystickStandIn & operator=(const JoystickStandIn &) = delete;

  /// Plugs in a new pseudo-terminal holding `waiting` events, as a device that has its initial
  /// state ready when opened.
  void plugTerminal(
      const std::vector<js_event> & waiting = {}, TerminalMode mode = TerminalMode::raw);
  /// Plugs in an existing file; /dev/null, for one, reads as end of file at once.
  void plugFile(const std::string & path);
  /// Plugs in a FIFO with no writer: opening it never blocks, reading waits for a writer. A
  /// write wakes the reader directly, as a joystick device does, while a terminal passes its
  /// input through a kernel worker first.
  void plugFifo();
  /// Becomes the FIFO's writer; waits until the reader has the FIFO open.
  void openFifoWriter();
  /// Closes the terminal's controller end or the FIFO's writer: the reader sees a hang-up or EOF.
  void closeWriter();
  /// Removes the link, then closes the writing end: the controller is gone.
  void unplug();

  /// Writes `events`; false only when a TerminalMode::wholeRecords buffer is full. Throws
  /// std::system_error when the device cannot be written.
  bool send(const std::vector<js_event> & events);
  /// Writes raw bytes, such as a torn record.
  bool sendBytes(const void * bytes, size_t count);

  /// The host path of the link to the plugged-in device.
  std::string linkPath() const { return directory_ + "/js0"; }
  /// The plugged-in terminal's own path, such as /dev/pts/3.
  const std::string & terminalPath() const { return terminal_path_; }

private:
  void link(const std::string & target);

  std::string directory_;
  std::string terminal_path_;
  int writer_ = -1;
  int terminal_ = -1;
};

/// The command line that runs `node_executable` in device mode, reading /dev/input/js0 of a
/// private mount namespace where that path leads to `device`. Not as root, the namespace needs
/// the kernel's leave to make a user namespace, and /dev/input must exist.
std::vector<std::string> deviceNodeCommand(
    const JoystickStandIn & device, const std::string & node_executable,
    const std::vector<std::string> & ros_arguments = {},
    const std::string & device_path = "/dev/input/js0");

/// The logging environment of a node whose output its starter reads, then `extra`.
std::vector<std::string> nodeLogEnvironment(const std::vector<std::string> & extra = {});

}  // namespace tavrin_tools
