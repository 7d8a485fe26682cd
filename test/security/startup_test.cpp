// Enforced security that cannot be had stops the node before anything of it reaches the
// network, in one line that names what is wrong; permissive, the node warns once about what is
// missing and runs, but an enclave that leaves the keystore or an unusable revocation list stops
// it either way.
#include <dds/dds.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "endpoints.hpp"
#include "keystore_rig.hpp"
#include "participant.hpp"
#include "robot_peer.hpp"
#include "teleop_process.hpp"

namespace tavrin_test {
namespace {

namespace fs = std::filesystem;

/// Counts the participants other than its own that join this test's domain while it exists,
/// one that left included, as DDS discovery (on loopback, like every test) sees them.
struct ParticipantWatch {
  size_t othersSeen() const {
    void * samples[64] = {};
    dds_sample_info_t infos[64];
    const dds_return_t count = dds_read(reader.get(), samples, infos, 64, 64);
    EXPECT_GE(count, 1) << "its own participant is one of those it reads";
    if (count > 0) {
      dds_return_loan(reader.get(), samples, count);
    }
    return count > 0 ? static_cast<size_t>(count - 1) : 0;
  }

  ros2_layer::Participant participant{ros2_layer::domainSettingsFromEnvironment()};
  ros2_layer::Entity reader{
      dds_create_reader(participant.handle(), DDS_BUILTIN_TOPIC_DCPSPARTICIPANT, nullptr, nullptr)};
};

std::string contentOf(const fs::path & file) {
  std::ostringstream content;
  content << std::ifstream(file).rdbuf();
  return content.str();
}

/// A copy of the node's enclave as /tavrin/`name` with `file` holding `content`, or removed
/// when `content` is empty.
std::string damagedEnclave(
    const Keystore & keystore, const std::string & name, const std::string & file,
    const std::string & content) {
  const std::string enclave = "/tavrin/" + name;
  const fs::path folder = keystore.enclaveFolder(enclave);
  fs::copy(
      keystore.enclaveFolder("/tavrin/teleop_node"), folder,
      fs::copy_options::copy_symlinks | fs::copy_options::recursive);
  fs::remove(folder / file);
  if (!content.empty()) {
    std::ofstream(folder / file) << content;
  }
  return enclave;
}

struct Refusal {
  const char * situation;
  std::vector<std::string> ros_arguments;
  std::vector<std::string> environment;
  std::string named;  // what the error line must name
};

TEST(SecuredStartup, RefusalsComeBeforeJoiningTheNetworkAndNameWhatIsWrong) {
  Keystore keystore;
  ParticipantWatch watch;
  const std::string nowhere = keystore.path() + "/nowhere";
  const std::string permissive = "ROS_SECURITY_STRATEGY=Permissive";
  const std::string climb = "ROS_SECURITY_ENCLAVE_OVERRIDE=/..";
  const std::string crl_folder = damagedEnclave(keystore, "crl_folder", "crl.pem", "");
  fs::create_directory(keystore.enclaveFolder(crl_folder) + "/crl.pem");
  const std::string crl_dangling = damagedEnclave(keystore, "crl_dangling", "crl.pem", "");
  fs::create_symlink("revoked.pem", keystore.enclaveFolder(crl_dangling) + "/crl.pem");
  fs::create_directory_symlink(keystore.path() + "/public", keystore.enclaveFolder("/tavrin/out"));
  const std::vector<Refusal> refusals{
      {"no keystore",
       {},
       {"ROS_SECURITY_KEYSTORE=" + nowhere},
       "keystore directory '" + nowhere + "' (ROS_SECURITY_KEYSTORE) does not exist"},
      {"keystore not set", {}, {"ROS_SECURITY_KEYSTORE="}, "ROS_SECURITY_KEYSTORE is not set"},
      {"no enclave",
       {"--enclave", "/tavrin/nobody"},
       {},
       "directory '" + keystore.enclaveFolder("/tavrin/nobody") + "' does not exist"},
      {"no enclave by override",
       {},
       {"ROS_SECURITY_ENCLAVE_OVERRIDE=/tavrin/nobody"},
       "no enclave '/tavrin/nobody' (ROS_SECURITY_ENCLAVE_OVERRIDE)"},
      {"a missing file",
       {"--enclave", damagedEnclave(keystore, "no_key", "key.pem", "")},
       {},
       "'" + keystore.enclaveFolder("/tavrin/no_key") + "/key.pem' is missing"},
      {"a file that is no certificate",
       {"--enclave", damagedEnclave(keystore, "no_cert", "cert.pem", "not a certificate\n")},
       {},
       "'" + keystore.enclaveFolder("/tavrin/no_cert") + "/cert.pem' holds no PEM"},
      // A valid certificate that does not belong to the key beside it: only Cyclone can tell.
      {"the certificate of another enclave",
       {"--enclave", damagedEnclave(
                         keystore, "wrong_cert", "cert.pem",
                         contentOf(keystore.enclaveFolder("/tavrin/demo_robot") + "/cert.pem"))},
       {},
       "the security files in '" + keystore.enclaveFolder("/tavrin/wrong_cert") + "'"},
      // Names and folders that leave the keystore, and revocation lists that cannot be used,
      // are refused whatever the strategy.
      {"'..'", {"--enclave", "/a/../b"}, {permissive}, "'/a/../b' (--enclave): a '..'"},
      {"'..' by override", {}, {climb, permissive}, "(ROS_SECURITY_ENCLAVE_OVERRIDE): a '..'"},
      {"linked out", {"--enclave", "/tavrin/out"}, {permissive}, "outside the keystore's"},
      {"crl a folder", {"--enclave", crl_folder}, {}, "crl.pem' is there but is not a readable"},
      {"crl a dangling link", {"--enclave", crl_dangling}, {permissive}, "crl.pem' is there but"},
      {"231", {"--enclave", "/tavrin/teleop_node"}, {"ROS_DOMAIN_ID=231"}, "231 is above 230, the"},
  };

  for (const Refusal & refusal : refusals) {
    SCOPED_TRACE(refusal.situation);
    auto environment = keystore.environment("Enforce");
    environment.insert(environment.end(), refusal.environment.begin(), refusal.environment.end());
    TeleopProcess node(refusal.ros_arguments, environment);
    const auto status = node.waitForExit();
    ASSERT_TRUE(status) << node.output();
    // Exited by itself with a failure status: no abort, no core dump.
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) != 0) << node.output();
    // The error is the last line and the only one; where Cyclone refuses the files, its own
    // reason comes before it.
    EXPECT_EQ(node.countOutput("SECURITY ERROR: "), 1U) << node.output();
    const std::string last_line = node.lines().empty() ? "" : node.lines().back();
    EXPECT_TRUE(last_line.starts_with("tavrin_arm_teleop_node: cannot start: failed to "))
        << node.output();
    EXPECT_NE(last_line.find(refusal.named), std::string::npos) << node.output();
  }
  EXPECT_EQ(watch.othersSeen(), 0U);
}

TEST(SecuredStartup, PermissiveWithoutAKeystoreWarnsOnceAndRunsUnsecured) {
  ParticipantWatch watch;
  TeleopProcess node(
      {"-p", "joy_dev:=/joy"}, {"ROS_SECURITY_ENABLE=true", "ROS_SECURITY_STRATEGY=Permissive",
                                "ROS_SECURITY_KEYSTORE=/nonexistent/keystore"});
  ASSERT_TRUE(node.waitForStartup()) << node.output();
  RobotPeer peer;
  EXPECT_TRUE(peer.waitForTeleopNode());
  EXPECT_EQ(node.countOutput("[WARN]"), 1U) << node.output();
  EXPECT_EQ(
      node.countOutput("SECURITY WARNING: keystore directory '/nonexistent/keystore' "
                       "(ROS_SECURITY_KEYSTORE) does not exist"),
      1U)
      << node.output();
  // Unsecured, it loads none of the DDS Security plugins.
  EXPECT_EQ(
      contentOf("/proc/" + std::to_string(node.pid()) + "/maps").find("dds_security"),
      std::string::npos);
  // The watch itself sees a node that joins.
  EXPECT_GT(watch.othersSeen(), 0U);
  EXPECT_TRUE(node.interruptAndExitCleanly());
}

}  // namespace
}  // namespace tavrin_test
