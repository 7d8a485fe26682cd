// Keystores made at test time by tools/make_keystore.sh, each with a CA of its own, and the
// programs that secured tests run beside the node.
#pragma once

#include <string>
#include <vector>

namespace tavrin_test {

/// A keystore in a temporary folder that lives as long as the object.
class Keystore {
public:
  Keystore();
  ~Keystore();
  Keystore(const Keystore &) = delete;
  Keystore & operator=(const Keystore &) = delete;

  const std::string & path() const { return path_; }
  /// The folder of one of its enclaves ("/tavrin/teleop_node").
  std::string enclaveFolder(const std::string & enclave) const;
  /// The environment that secures a program with this keystore under `strategy`.
  std::vector<std::string> environment(const std::string & strategy = "Enforce") const;

private:
  std::string path_;
};

/// Command line of a peer that publishes a stick sample with `axis` at 0.5 on "/joy" every
/// 50 ms and prints "motion received" when the node's first motion command reaches it.
std::vector<std::string> joyPeer(int axis, const std::string & enclave);

/// Command line of the demo robot in an enclave, printing one line per event.
std::vector<std::string> demoRobot(const std::string & enclave);

}  // namespace tavrin_test
