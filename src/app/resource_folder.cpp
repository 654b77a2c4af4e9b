#include "app/resource_folder.hpp"

#include "app/build_info.hpp"
#include "base/files.hpp"

#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace tw::app {

std::string ResourceDirectory() {
  if (const char* override = std::getenv("TIDEWICK_RESOURCES"); override && *override) return override;
  char executable[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", executable, sizeof executable - 1);
  if (length > 0) {
    const std::string beside = JoinPath(ParentDirectory(std::string(executable, static_cast<size_t>(length))), "resources");
    if (IsDirectory(beside)) return beside;
  }
  return build_info::kResourceDirectory;
}

}  // namespace tw::app
