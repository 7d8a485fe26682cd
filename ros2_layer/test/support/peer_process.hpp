// A peer program run as a child process: started with arguments, read line by line, signalled
// and reaped. The child is killed if the test ends first.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace test_support {

/// A running child process whose standard output the test reads.
class PeerProcess {
public:
  /// Starts `program` with `arguments`; it inherits the environment (domain and loopback).
  PeerProcess(const std::string & program, const std::vector<std::string> & arguments);
  ~PeerProcess();
  PeerProcess(const PeerProcess &) = delete;
  PeerProcess & operator=(const PeerProcess &) = delete;

  /// Reads output lines until one equals `line`; false when the output ends or time runs out.
  bool waitForLine(const std::string & line, std::chrono::seconds timeout);
  /// Sends a signal to the child.
  void signal(int signal_number);
  /// Waits for the child to end; its exit status, or -1 when it did not end in time or was
  /// killed by a signal.
  int waitForExit(std::chrono::seconds timeout);

private:
  pid_t pid_ = -1;
  int output_ = -1;
  std::string buffered_;
};

/// The path of the peer program, from the PEER_PROGRAM compile definition.
std::string peerProgram();

}  // namespace test_support
