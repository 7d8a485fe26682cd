#include "security.hpp"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <system_error>

#include "dds_error.hpp"
#include "names.hpp"
#include "rclcpp/exceptions.hpp"

namespace ros2_layer {
namespace {

namespace fs = std::filesystem;

constexpr const char * kErrorPrefix = "failed to initialize rcl";
constexpr const char * kEnableVariable = "ROS_SECURITY_ENABLE";
constexpr const char * kStrategyVariable = "ROS_SECURITY_STRATEGY";
constexpr const char * kKeystoreVariable = "ROS_SECURITY_KEYSTORE";
constexpr const char * kOverrideVariable = "ROS_SECURITY_ENCLAVE_OVERRIDE";

struct SecurityFile {
  const char * property;
  const char * name;
};
constexpr std::array<SecurityFile, 6> kRequiredFiles{{
    {"dds.sec.auth.identity_ca", "identity_ca.cert.pem"},
    {"dds.sec.auth.identity_certificate", "cert.pem"},
    {"dds.sec.auth.private_key", "key.pem"},
    {"dds.sec.access.permissions_ca", "permissions_ca.cert.pem"},
    {"dds.sec.access.governance", "governance.p7s"},
    {"dds.sec.access.permissions", "permissions.p7s"},
}};
constexpr SecurityFile kRevocationList{"org.eclipse.cyclonedds.sec.auth.crl", "crl.pem"};

struct SecurityPlugin {
  const char * kind;
  const char * library;
  const char * init;
  const char * finalize;
};
constexpr std::array<SecurityPlugin, 3> kPlugins{{
    {"auth", "dds_security_auth", "init_authentication", "finalize_authentication"},
    {"crypto", "dds_security_crypto", "init_crypto", "finalize_crypto"},
    {"access", "dds_security_ac", "init_access_control", "finalize_access_control"},
}};

/// What keeps the participant from being secured, worded for the operator.
class SecurityProblem : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string environment(const char * name) {
  const char * value = std::getenv(name);
  return value == nullptr ? "" : value;
}

/// `source` says where the name came from: "--enclave" or the override variable. A ".." would
/// take the files that secure the process from outside the keystore's enclaves folder.
void validateEnclaveName(const std::string & enclave, const std::string & source) {
  std::string problem;
  const fs::path path(enclave);
  if (std::find(path.begin(), path.end(), "..") != path.end()) {
    problem = "a '..' component would leave the keystore's enclaves folder";
  } else {
    try {
      if (enclave.empty() || enclave[0] != '/' || normalizeNamespace(enclave) != enclave) {
        problem = "it must be an absolute name";
      }
    } catch (const std::exception & error) {
      problem = error.what();
    }
  }
  if (!problem.empty()) {
    throwLayerError(
        kErrorPrefix, "SECURITY ERROR: Enclave name is not valid: '" + enclave + "' (" + source +
                          "): " + problem);
  }
}

/// <keystore>/enclaves/<enclave>; "/" is the enclaves folder itself.
fs::path enclaveFolder(const std::string & keystore, const std::string & enclave) {
  const std::string relative = enclave.starts_with('/') ? enclave.substr(1) : enclave;
  return fs::absolute(fs::path(keystore) / "enclaves" / relative).lexically_normal();
}

fs::path findEnclaveFolder(const std::string & enclave) {
  const std::string keystore = environment(kKeystoreVariable);
  if (keystore.empty()) {
    throw SecurityProblem(
        std::string(kKeystoreVariable) + " is not set; set it to the keystore folder");
  }
  std::error_code error;
  if (!fs::is_directory(keystore, error)) {
    throw SecurityProblem(
        "keystore directory '" + keystore + "' (" + kKeystoreVariable + ") does not exist");
  }
  const std::string override_name = environment(kOverrideVariable);
  const std::string & name = override_name.empty() ? enclave : override_name;
  const std::string source = override_name.empty() ? "--enclave" : kOverrideVariable;
  if (!override_name.empty()) {
    validateEnclaveName(override_name, source);
  }
  const fs::path folder = enclaveFolder(keystore, name);
  if (!fs::is_directory(folder, error)) {
    throw SecurityProblem(
        "directory '" + folder.string() + "' does not exist: the keystore has no enclave '" + name +
        "' (" + source + ")");
  }
  // A folder linked to elsewhere holds files the keystore does not vouch for.
  const fs::path enclaves = fs::canonical(fs::path(keystore) / "enclaves", error);
  const fs::path resolved = fs::canonical(folder, error);
  if (error ||
      std::mismatch(enclaves.begin(), enclaves.end(), resolved.begin(), resolved.end()).first !=
          enclaves.end()) {
    throwLayerError(
        kErrorPrefix, "SECURITY ERROR: the folder of enclave '" + name + "' (" + source +
                          ") resolves to '" + resolved.string() +
                          "', outside the keystore's enclaves folder '" + enclaves.string() + "'");
  }
  return folder;
}

bool holdsPem(std::ifstream & stream) {
  for (std::string line; std::getline(stream, line);) {
    if (line.starts_with("-----BEGIN ")) {
      return true;
    }
  }
  return false;
}

/// The URI of a file the participant needs. Only a missing file is the permissive case: one
/// that is there but unusable makes Cyclone refuse the participant whatever the strategy, and
/// a certificate or key that is no PEM is refused here, where the file can still be named.
std::string fileUri(const fs::path & file) {
  std::error_code error;
  if (!fs::is_regular_file(file, error)) {
    throw SecurityProblem("security file '" + file.string() + "' is missing");
  }
  std::ifstream stream(file);
  if (!stream) {
    throwLayerError(
        kErrorPrefix, "SECURITY ERROR: security file '" + file.string() + "' cannot be read");
  }
  if (file.extension() == ".pem" && !holdsPem(stream)) {
    throwLayerError(
        kErrorPrefix, "SECURITY ERROR: security file '" + file.string() +
                          "' holds no PEM certificate, key or revocation list");
  }
  return "file:" + file.string();
}

/// Debian keeps the plugins in its package's private folder beside libddsc, where the loader
/// does not look; upstream installs them beside libddsc. Elsewhere Cyclone searches the
/// loader's path for the bare name.
std::string pluginLibrary(const std::string & library) {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void *>(&dds_create_participant), &info) == 0 ||
      info.dli_fname == nullptr) {
    return library;
  }
  const fs::path libddsc_folder = fs::path(info.dli_fname).parent_path();
  for (const fs::path & folder : {libddsc_folder / "libddsc0debian", libddsc_folder}) {
    const fs::path candidate = folder / ("lib" + library + ".so");
    std::error_code error;
    if (fs::is_regular_file(candidate, error)) {
      return candidate.string();
    }
  }
  return library;
}

std::vector<std::pair<std::string, std::string>> securityProperties(const fs::path & folder) {
  std::vector<std::pair<std::string, std::string>> properties;
  for (const SecurityFile & file : kRequiredFiles) {
    properties.emplace_back(file.property, fileUri(folder / file.name));
  }
  // The revocation list is optional, but one that is there must be used whatever the strategy:
  // going without it would let revoked certificates in.
  const fs::path revocation_list = folder / kRevocationList.name;
  std::error_code error;
  if (fs::exists(fs::symlink_status(revocation_list, error))) {
    if (!fs::is_regular_file(revocation_list, error)) {
      throwLayerError(
          kErrorPrefix, "SECURITY ERROR: revocation list '" + revocation_list.string() +
                            "' is there but is not a readable regular file");
    }
    properties.emplace_back(kRevocationList.property, fileUri(revocation_list));
  }
  for (const SecurityPlugin & plugin : kPlugins) {
    const std::string prefix = std::string("dds.sec.") + plugin.kind + ".library.";
    properties.emplace_back(prefix + "path", pluginLibrary(plugin.library));
    properties.emplace_back(prefix + "init", plugin.init);
    properties.emplace_back(prefix + "finalize", plugin.finalize);
  }
  return properties;
}

}  // namespace

ParticipantSecurity participantSecurityFromEnvironment(const std::string & enclave) {
  validateEnclaveName(enclave, "--enclave");
  ParticipantSecurity security;
  security.enclave = enclave;
  if (environment(kEnableVariable) != "true") {
    return security;
  }
  try {
    const fs::path folder = findEnclaveFolder(enclave);
    security.properties = securityProperties(folder);
    security.enclave_folder = folder.string();
    std::cerr << "[INFO] [rcl]: Found security directory: " << security.enclave_folder << "\n";
  } catch (const SecurityProblem & problem) {
    if (environment(kStrategyVariable) == "Enforce") {
      throwLayerError(kErrorPrefix, std::string("SECURITY ERROR: ") + problem.what());
    }
    // Permissive: the participant joins unsecured, so the operator must hear of it once.
    std::cerr << "[WARN] [rcl]: SECURITY WARNING: " << problem.what() << "; " << kStrategyVariable
              << " is not Enforce, so this process runs without security\n";
    security.properties.clear();
  }
  return security;
}

void applySecurity(const ParticipantSecurity & security, dds_qos_t * qos) {
  for (const auto & [name, value] : security.properties) {
    dds_qset_prop(qos, name.c_str(), value.c_str());
  }
}

}  // namespace ros2_layer
