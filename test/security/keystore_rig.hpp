// Keystores made at test time by tools/make_keystore.sh, each with a CA of its own.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "child_process.hpp"

namespace tavrin_test {

/// A keystore in a temporary folder that lives as long as the object.
class Keystore {
public:
  Keystore() {
    std::string pattern = std::filesystem::temp_directory_path() / "tavrin-keystore-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "cannot make a temporary folder";
      return;
    }
    path_ = pattern;
    tavrin_tools::ChildProcess maker({"bash", TAVRIN_MAKE_KEYSTORE, path_});
    EXPECT_TRUE(tavrin_tools::exitedCleanly(maker.waitForExit(std::chrono::seconds(60))))
        << maker.output();
  }
  ~Keystore() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  Keystore(const Keystore &) = delete;
  Keystore & operator=(const Keystore &) = delete;

  const std::string & path() const { return path_; }
  /// The folder of one of its enclaves ("/tavrin/teleop_node").
  std::string enclaveFolder(const std::string & enclave) const {
    return path_ + "/enclaves" + enclave;
  }
  /// The environment that secures a program with this keystore under `strategy`.
  std::vector<std::string> environment(const std::string & strategy = "Enforce") const {
    return {
        "ROS_SECURITY_ENABLE=true", "ROS_SECURITY_STRATEGY=" + strategy,
        "ROS_SECURITY_KEYSTORE=" + path_};
  }

private:
  std::string path_;
};

}  // namespace tavrin_test
