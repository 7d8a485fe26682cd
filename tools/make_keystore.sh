#!/usr/bin/env bash
# Makes a ROS 2 security keystore with plain openssl, laid out as `ros2 security create_keystore`
# and `create_enclave` lay it out, with one enclave per program of this repository:
#
#   tools/make_keystore.sh KEYSTORE
#
#   KEYSTORE/public/ca.cert.pem           the CA (identity_ca.* and permissions_ca.* link to it)
#   KEYSTORE/private/ca.key.pem
#   KEYSTORE/enclaves/governance.xml|.p7s who must authenticate and what is encrypted
#   KEYSTORE/enclaves/tavrin/<program>/   cert.pem, key.pem, permissions.xml|.p7s and links to
#                                         the CA certificates and the governance
#
# The domain id written into the governance and permissions documents is ROS_DOMAIN_ID
# (default 0, at most 230: DDS Security's schema goes no higher): a keystore secures one domain. An existing CA and governance are kept, so the
# enclaves can also be added to a keystore made by `ros2 security create_keystore`; an
# enclave's certificate and key are kept too, its permissions rewritten.
#
# Run a program in its enclave with ROS_SECURITY_ENABLE=true, ROS_SECURITY_STRATEGY=Enforce,
# ROS_SECURITY_KEYSTORE=KEYSTORE and `--ros-args --enclave /tavrin/<program>` (or
# ROS_SECURITY_ENCLAVE_OVERRIDE=/tavrin/<program>).
set -euo pipefail

if [ $# -ne 1 ] || [ "${1:0:1}" = - ]; then
  sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
  [ "${1:-}" = --help ] && exit 0
  exit 2
fi
keystore=$1
domain_id=${ROS_DOMAIN_ID:-0}
case $domain_id in
  '' | *[!0-9]*) echo "make_keystore: ROS_DOMAIN_ID must be a number, not '$domain_id'" >&2; exit 2 ;;
esac
# DDS refuses, at every program's start, a governance or permissions document that names a
# domain above the schema's limit; better to say so now than to sign documents nobody accepts.
if [ "$((10#$domain_id))" -gt 230 ]; then
  echo "make_keystore: ROS_DOMAIN_ID $domain_id is above 230, the highest domain DDS Security can secure" >&2
  exit 2
fi
command -v openssl > /dev/null || { echo "make_keystore: openssl is missing (apt-get install openssl)" >&2; exit 1; }

readonly validity_days=3650
umask 077

# quietly COMMAND...: runs it, showing what it says only when it fails.
quietly() {
  local said
  if ! said=$("$@" 2>&1); then
    echo "$said" >&2
    return 1
  fi
}

# DDS Security calls for prime256v1 (P-256) keys.
new_key() { quietly openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1"; }

# sign_smime DOCUMENT: DOCUMENT.p7s, clear-signed (text/plain) by the permissions CA.
sign_smime() {
  openssl smime -sign -text -in "$1.xml" -out "$1.p7s" \
    -signer "$keystore/public/permissions_ca.cert.pem" -inkey "$keystore/private/permissions_ca.key.pem"
}

make_ca() {
  mkdir -p "$keystore/public" "$keystore/private" "$keystore/enclaves"
  if [ -f "$keystore/public/permissions_ca.cert.pem" ] && [ -f "$keystore/public/identity_ca.cert.pem" ] &&
     [ -f "$keystore/private/permissions_ca.key.pem" ] && [ -f "$keystore/private/identity_ca.key.pem" ]; then
    return
  fi
  new_key "$keystore/private/ca.key.pem"
  quietly openssl req -new -x509 -sha256 -days "$validity_days" -subj "/CN=tavrin keystore CA" \
    -key "$keystore/private/ca.key.pem" -out "$keystore/public/ca.cert.pem" \
    -addext "basicConstraints=critical,CA:TRUE,pathlen:1"
  for role in identity_ca permissions_ca; do
    ln -sfn ca.cert.pem "$keystore/public/$role.cert.pem"
    ln -sfn ca.key.pem "$keystore/private/$role.key.pem"
  done
}

# The protections sros2 applies by default: only authenticated participants with permissions
# join; discovery, liveliness and every topic's metadata and data are encrypted, RTPS signed.
make_governance() {
  [ -f "$keystore/enclaves/governance.p7s" ] && return
  cat > "$keystore/enclaves/governance.xml" << EOF
<?xml version="1.0" encoding="UTF-8"?>
<dds>
  <domain_access_rules>
    <domain_rule>
      <domains>
        <id>$domain_id</id>
      </domains>
      <allow_unauthenticated_participants>false</allow_unauthenticated_participants>
      <enable_join_access_control>true</enable_join_access_control>
      <discovery_protection_kind>ENCRYPT</discovery_protection_kind>
      <liveliness_protection_kind>ENCRYPT</liveliness_protection_kind>
      <rtps_protection_kind>SIGN</rtps_protection_kind>
      <topic_access_rules>
        <topic_rule>
          <topic_expression>*</topic_expression>
          <enable_discovery_protection>true</enable_discovery_protection>
          <enable_liveliness_protection>true</enable_liveliness_protection>
          <enable_read_access_control>true</enable_read_access_control>
          <enable_write_access_control>true</enable_write_access_control>
          <metadata_protection_kind>ENCRYPT</metadata_protection_kind>
          <data_protection_kind>ENCRYPT</data_protection_kind>
        </topic_rule>
      </topic_access_rules>
    </domain_rule>
  </domain_access_rules>
</dds>
EOF
  sign_smime "$keystore/enclaves/governance"
}

# DDS topic names of ROS names, as the client libraries form them.
topic() { echo "rt$1"; }
service_client_writes() { echo "rq$1Request"; }
service_client_reads() { echo "rr$1Reply"; }
action_client_writes() { for s in cancel_goal get_result send_goal; do echo "rq$1/_action/${s}Request"; done; }
action_client_reads() {
  for s in cancel_goal get_result send_goal; do echo "rr$1/_action/${s}Reply"; done
  echo "rt$1/_action/feedback"
  echo "rt$1/_action/status"
}

# What every node of a full ROS 2 client library may create: its parameter services, the
# parameter events and /rosout.
node_writes() {
  local s
  for s in describe_parameters get_parameter_types get_parameters list_parameters set_parameters \
           set_parameters_atomically; do
    echo "rr/$1/${s}Reply"
  done
  topic /parameter_events
  topic /rosout
}
node_reads() {
  local s
  for s in describe_parameters get_parameter_types get_parameters list_parameters set_parameters \
           set_parameters_atomically; do
    echo "rq/$1/${s}Request"
  done
  topic /parameter_events
}

# grants_of PROGRAM publish|subscribe: the DDS topics the program writes or reads.
grants_of() {
  case $1:$2 in
    teleop_node:publish)
      for t in teleop_mov_topic teleop_space_exchange_topic ctrl_io_topic stop_topic recover_topic; do
        topic /robot/$t
      done
      service_client_writes /robot/estop_service
      action_client_writes /tavrinpro_action/arm_task
      node_writes tavrin_arm_teleop_node ;;
    teleop_node:subscribe)
      topic /joy
      service_client_reads /robot/estop_service
      action_client_reads /tavrinpro_action/arm_task
      node_reads tavrin_arm_teleop_node ;;
    demo_robot:publish)
      service_client_reads /robot/estop_service
      action_client_reads /tavrinpro_action/arm_task
      node_writes demo_robot ;;
    demo_robot:subscribe)
      for t in teleop_mov_topic teleop_space_exchange_topic ctrl_io_topic stop_topic recover_topic; do
        topic /robot/$t
      done
      service_client_writes /robot/estop_service
      action_client_writes /tavrinpro_action/arm_task
      node_reads demo_robot ;;
    virtual_controller:publish | keyboard_controller:publish)
      topic /joy
      service_client_writes /robot/estop_service
      action_client_writes /tavrinpro_action/arm_task
      node_writes "$1" ;;
    virtual_controller:subscribe | keyboard_controller:subscribe)
      topic /robot/teleop_mov_topic
      service_client_reads /robot/estop_service
      action_client_reads /tavrinpro_action/arm_task
      node_reads "$1" ;;
    joy_mapping:publish) node_writes joy_mapping ;;
    joy_mapping:subscribe)
      topic /joy
      node_reads joy_mapping ;;
  esac
  # Cyclone's ROS graph announcements, which rmw_cyclonedds_cpp grants every enclave.
  echo ros_discovery_info
}

iso_date() { date -u -d "$1" +%Y-%m-%dT%H:%M:%S; }

# make_enclave PROGRAM: the enclave /tavrin/PROGRAM.
make_enclave() {
  local program=$1 enclave=/tavrin/$1
  local folder=$keystore/enclaves$enclave
  mkdir -p "$folder"
  ln -sfn ../../../public/identity_ca.cert.pem "$folder/identity_ca.cert.pem"
  ln -sfn ../../../public/permissions_ca.cert.pem "$folder/permissions_ca.cert.pem"
  ln -sfn ../../governance.p7s "$folder/governance.p7s"
  if [ ! -f "$folder/cert.pem" ] || [ ! -f "$folder/key.pem" ]; then
    new_key "$folder/key.pem"
    # The enclave name is the subject's common name; its slashes are escaped for -subj.
    quietly openssl req -new -sha256 -subj "/CN=${enclave//\//\\/}" -key "$folder/key.pem" \
      -out "$folder/request.csr"
    quietly openssl x509 -req -sha256 -days "$validity_days" -set_serial "0x$(openssl rand -hex 16)" \
      -in "$folder/request.csr" -CA "$keystore/public/identity_ca.cert.pem" \
      -CAkey "$keystore/private/identity_ca.key.pem" \
      -extfile <(echo "basicConstraints=CA:FALSE") -out "$folder/cert.pem"
    rm "$folder/request.csr"
  fi
  local not_before not_after
  not_before=$(iso_date "$(openssl x509 -in "$folder/cert.pem" -noout -startdate | cut -d= -f2)")
  not_after=$(iso_date "$(openssl x509 -in "$folder/cert.pem" -noout -enddate | cut -d= -f2)")
  {
    cat << EOF
<dds>
  <permissions>
    <grant name="$enclave">
      <subject_name>CN=$enclave</subject_name>
      <validity>
        <not_before>$not_before</not_before>
        <not_after>$not_after</not_after>
      </validity>
      <allow_rule>
        <domains>
          <id>$domain_id</id>
        </domains>
EOF
    local direction name
    for direction in publish subscribe; do
      echo "        <$direction>"
      echo "          <topics>"
      grants_of "$program" "$direction" | sort -u | while read -r name; do
        echo "            <topic>$name</topic>"
      done
      echo "          </topics>"
      echo "        </$direction>"
    done
    cat << EOF
      </allow_rule>
      <default>DENY</default>
    </grant>
  </permissions>
</dds>
EOF
  } > "$folder/permissions.xml"
  sign_smime "$folder/permissions"
}

make_ca
make_governance
for program in teleop_node demo_robot virtual_controller keyboard_controller joy_mapping; do
  make_enclave "$program"
done
echo "make_keystore: keystore $keystore for ROS_DOMAIN_ID $domain_id, enclaves:" \
  "/tavrin/{teleop_node,demo_robot,virtual_controller,keyboard_controller,joy_mapping}"
