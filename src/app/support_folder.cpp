#include "app/support_folder.hpp"

#include "base/files.hpp"
#include "base/text.hpp"

#include <cstdlib>
#include <filesystem>

namespace tw::app {

std::optional<std::string> TWQASupportURL(const Json& candidate) {
  if (!candidate.is_string()) return std::nullopt;
  const std::string path = candidate.get<std::string>();
  if (path.empty() || path[0] != '/') return std::nullopt;
  for (const auto& component : std::filesystem::path(path)) {
    if (component == "..") return std::nullopt;
  }
  std::error_code error;
  std::string resolved = std::filesystem::canonical(path, error).string();
  if (error) return std::nullopt;
  if (!StartsWith(resolved, "/private/tmp/tidewick-qa-") && !StartsWith(resolved, "/tmp/tidewick-qa-")) {
    return std::nullopt;
  }
  if (!IsDirectory(resolved)) return std::nullopt;
  return resolved;
}

std::string DefaultSupportFolder() {
  std::string base;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/') {
    base = data;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = JoinPath(home, ".local/share");
  } else {
    base = "/tmp";
  }
  return JoinPath(base, "岚舟");
}

SupportFolderChoice ChooseSupportFolder(const std::vector<std::string>& arguments,
                                        const std::string& builtInTestFolder) {
  SupportFolderChoice choice;
  choice.folder = DefaultSupportFolder();

  bool flagGiven = false;
  Json candidate = nullptr;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--test-support-dir") {
      flagGiven = true;
      if (i + 1 < arguments.size()) candidate = arguments[i + 1];
      break;
    }
  }
  if (candidate.is_null() && !builtInTestFolder.empty()) candidate = builtInTestFolder;
  if (!flagGiven && candidate.is_null()) return choice;

  auto folder = TWQASupportURL(candidate);
  if (!folder) {
    choice.refused = true;
    return choice;
  }
  choice.testMode = true;
  choice.folder = *folder;
  return choice;
}

}  // namespace tw::app
