#include "device_node.hpp"

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>

namespace tavrin_bench {

void useLoopbackDomain(int domain_id) {
  ::setenv("ROS_LOCALHOST_ONLY", "1", 1);
  ::setenv("ROS_DOMAIN_ID", std::to_string(domain_id).c_str(), 0);
}

DeviceNode::DeviceNode(
    const tavrin_tools::JoystickStandIn & controller, const std::string & log_path,
    const std::vector<std::string> & environment, const std::vector<std::string> & ros_arguments)
    : ChildProcess(
          tavrin_tools::deviceNodeCommand(controller, TAVRIN_NODE_EXECUTABLE, ros_arguments),
          tavrin_tools::OutputFile{log_path}, tavrin_tools::nodeLogEnvironment(environment)) {}

int DeviceNode::stop() {
  sendSignal(SIGINT);
  const auto status = waitForExit(std::chrono::seconds(10));
  if (!status) {
    sendSignal(SIGKILL);
  }
  return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

}  // namespace tavrin_bench
