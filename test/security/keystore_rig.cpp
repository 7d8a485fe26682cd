#include "keystore_rig.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "child_process.hpp"

namespace tavrin_test {

Keystore::Keystore() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tavrin-keystore-XXXXXX");
  if (::mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot make a temporary folder";
    return;
  }
  path_ = pattern;
  tavrin_tools::ChildProcess maker({"bash", TAVRIN_MAKE_KEYSTORE, path_});
  EXPECT_TRUE(tavrin_tools::exitedCleanly(maker.waitForExit(std::chrono::seconds(60))))
      << maker.output();
}

Keystore::~Keystore() {
  if (!path_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
}

std::string Keystore::enclaveFolder(const std::string & enclave) const {
  return path_ + "/enclaves" + enclave;
}

std::vector<std::string> Keystore::environment(const std::string & strategy) const {
  return {
      "ROS_SECURITY_ENABLE=true", "ROS_SECURITY_STRATEGY=" + strategy,
      "ROS_SECURITY_KEYSTORE=" + path_};
}

std::vector<std::string> joyPeer(int axis, const std::string & enclave) {
  return {TAVRIN_JOY_PEER, std::to_string(axis), "--ros-args", "--enclave", enclave};
}

std::vector<std::string> demoRobot(const std::string & enclave) {
  return {TAVRIN_DEMO_ROBOT, "--plain", "--ros-args", "--enclave", enclave};
}

}  // namespace tavrin_test
