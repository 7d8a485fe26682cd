#include "device_namespace.hpp"

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace tavrin_tools {

namespace {

std::string failure(const std::string & step) { return step + ": " + std::strerror(errno); }

}  // namespace

std::string linkDeviceInPrivateNamespace(
    const std::string & device_path, const std::string & target) {
  const std::string folder = std::filesystem::path(device_path).parent_path();
  // The mount point must exist on the host; an empty folder there is harmless.
  if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
    return failure("mkdir " + folder);
  }
  if (::unshare(CLONE_NEWNS) != 0) {
    return failure("unshare(CLONE_NEWNS)");
  }
  // Without this the tmpfs could propagate back to the host's mount table.
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return failure("making / private");
  }
  if (::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NOEXEC, "mode=0755,size=64k") != 0) {
    return failure("mount tmpfs on " + folder);
  }
  if (::symlink(target.c_str(), device_path.c_str()) != 0) {
    return failure("symlink " + device_path);
  }
  return {};
}

}  // namespace tavrin_tools
