#include "platform/resource_location.hpp"

#include "base/files.hpp"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace tw::platform {

std::string ResourceDirectoryBeside(const std::string& executableFolder, const std::string& buildTreeResources) {
  namespace fs = std::filesystem;
  const fs::path folder(executableFolder);
  const std::string installed = (folder / ".." / "share" / "tidewick").lexically_normal().string();
  if (IsDirectory(installed)) return installed;
  const std::string buildTree = (folder / buildTreeResources).lexically_normal().string();
  if (!buildTreeResources.empty() && IsDirectory(buildTree)) return buildTree;
  return installed;
}

std::string ResourceDirectory() {
  if (const char* override = std::getenv("TIDEWICK_RESOURCES"); override && *override) return override;
  // The executable does not move while it runs: one lookup serves the whole run.
  static const std::string found = [] {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return ResourceDirectoryBeside(error ? std::string(".") : executable.parent_path().string(),
                                   TIDEWICK_BUILD_TREE_RESOURCES);
  }();
  return found;
}

}  // namespace tw::platform
