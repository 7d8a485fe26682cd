// DDS Security for the participant: the ROS security environment read as rcl reads it, and the
// participant properties that enable Cyclone's authentication, access control and cryptography.
#pragma once

#include <dds/dds.h>

#include <string>
#include <utility>
#include <vector>

namespace ros2_layer {

/// How a participant is secured.
struct ParticipantSecurity {
  /// The enclave given to init ("/" by default), announced in the participant's user data.
  std::string enclave = "/";
  /// The enclave folder whose files secure the participant; empty when it runs unsecured.
  std::string enclave_folder;
  /// The DDS Security participant properties, name and value; empty when it runs unsecured.
  std::vector<std::pair<std::string, std::string>> properties;
};

/// Reads ROS_SECURITY_ENABLE ("true" enables), ROS_SECURITY_STRATEGY ("Enforce", else
/// permissive), ROS_SECURITY_KEYSTORE and ROS_SECURITY_ENCLAVE_OVERRIDE, and finds the files
/// of the enclave folder <keystore>/enclaves/<enclave>. Throws RCLError prefixed "failed to
/// initialize rcl" for an invalid enclave name (one with a ".." component included), an enclave
/// folder that resolves outside <keystore>/enclaves, a security file that cannot be read or
/// holds no PEM, a crl.pem that is there but is no readable regular file, and, under Enforce,
/// naming the variable, folder or file that is missing;
/// permissive, it warns once on standard error about what is missing and returns an unsecured
/// configuration instead. Security off reads no file.
ParticipantSecurity participantSecurityFromEnvironment(const std::string & enclave);

/// Adds the security properties to a participant QoS.
void applySecurity(const ParticipantSecurity & security, dds_qos_t * qos);

}  // namespace ros2_layer
