#include "workbench/project_backups.hpp"

#include "base/files.hpp"
#include "library/import_scan.hpp"
#include "workbench/project_archive.hpp"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sys/stat.h>
#include <vector>

namespace tw::workbench {
namespace {

namespace fs = std::filesystem;

std::string BackupsFolder(const std::string& supportFolder) {
  return JoinPath(supportFolder, library::kProjectRecordsFolder);
}

bool IsBackupName(const std::string& name) {
  return !name.empty() && name.front() != '.' && name.find('/') == std::string::npos && name.ends_with(".json");
}

}  // namespace

Json ListProjectBackups(const std::string& supportFolder) {
  struct Entry {
    std::string name;
    std::string path;
    double savedAt;
    long long bytes;
  };
  std::vector<Entry> entries;
  std::error_code error;
  for (fs::directory_iterator it(BackupsFolder(supportFolder), error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    struct stat info {};
    if (!IsBackupName(name) || lstat(it->path().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    entries.push_back({name, it->path().string(), info.st_mtim.tv_sec + info.st_mtim.tv_nsec / 1e9,
                       static_cast<long long>(info.st_size)});
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return a.savedAt != b.savedAt ? a.savedAt > b.savedAt : a.name < b.name;
  });
  if (entries.size() > kMaxListedBackups) entries.resize(kMaxListedBackups);

  Json backups = Json::array();
  for (const Entry& entry : entries) {
    OpenedArchive opened = ReadProjectArchive(entry.path);
    Json photos = nullptr;
    if (opened.archive) {
      const Json& list = (*opened.archive)["state"]["photos"];
      photos = list.is_array() ? Json(list.size()) : Json(0);
    }
    backups.push_back({{"name", entry.name},
                       {"savedAt", entry.savedAt},
                       {"bytes", entry.bytes},
                       {"photos", std::move(photos)},
                       {"readable", opened.archive.has_value()}});
  }
  return backups;
}

std::optional<std::string> ProjectBackupPath(const std::string& supportFolder, const Json& name) {
  if (!name.is_string() || !IsBackupName(name.get<std::string>())) return std::nullopt;
  const std::string path = JoinPath(BackupsFolder(supportFolder), name.get<std::string>());
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return path;
}

}  // namespace tw::workbench
