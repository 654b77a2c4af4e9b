#include "support/shoot_files.hpp"

#include "base/files.hpp"
#include "base/text.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace tw::testing {

namespace fs = std::filesystem;

std::string CopySample(const std::string& sample, const std::string& folder, const std::string& name) {
  std::string path = folder + "/" + name;
  fs::copy_file(kSamplePhotos + sample, path, fs::copy_options::overwrite_existing);
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
  fs::last_write_time(path, fs::last_write_time(kSamplePhotos + sample));
  return path;
}

std::string ReadBytes(const std::string& path) { return ReadWholeFile(path).value_or("<unreadable>"); }

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Hash of every regular file below a folder (relative path → hash of its bytes).
static std::map<std::string, unsigned long long> HashFolder(const std::string& folder) {
  std::map<std::string, unsigned long long> hashes;
  for (auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    hashes[fs::relative(entry.path(), folder).string()] = StableHash64(ReadBytes(entry.path()));
  }
  return hashes;
}

FolderSnapshot::FolderSnapshot(std::string folder) : folder_(std::move(folder)), hashes_(HashFolder(folder_)) {}

std::vector<std::string> FolderSnapshot::Changes(const std::set<std::string>& leaving, const std::string& outputs) const {
  std::vector<std::string> changes;
  auto now = HashFolder(folder_);
  for (const auto& [path, hash] : hashes_) {
    if (!leaving.count(path) && (!now.count(path) || now[path] != hash)) changes.push_back(path);
  }
  for (const auto& [path, hash] : now) {
    if (!hashes_.count(path) && (outputs.empty() || !StartsWith(path, outputs + "/"))) changes.push_back(path);
  }
  return changes;
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (auto& entry : fs::directory_iterator(folder, error)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

void SetModified(const std::string& path, time_t seconds, long nanoseconds) {
  timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

ino_t Inode(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

std::string HomeTrashFiles() { return std::string(std::getenv("XDG_DATA_HOME")) + "/Trash/files"; }

bool NoTrashVolumeAvailable() {
  struct stat shm {}, home {};
  if (stat("/dev/shm", &shm) != 0 || stat(std::getenv("HOME"), &home) != 0) return false;
  return S_ISDIR(shm.st_mode) && shm.st_dev != home.st_dev;
}

std::optional<std::string> Exiv2Value(const std::string& sidecar, const std::string& key) {
  std::string command = "exiv2 -q -K '" + key + "' -Pv '" + sidecar + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string output;
  char buffer[256];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  if (pclose(pipe) != 0) return std::nullopt;
  while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) output.pop_back();
  return output;
}

FileSizeLimit::FileSizeLimit(unsigned long bytes) : savedHandler_(std::signal(SIGXFSZ, SIG_IGN)) {
  getrlimit(RLIMIT_FSIZE, &saved_);
  rlimit small{bytes, saved_.rlim_max};
  if (setrlimit(RLIMIT_FSIZE, &small) != 0) throw std::runtime_error("setrlimit");
}

FileSizeLimit::~FileSizeLimit() {
  setrlimit(RLIMIT_FSIZE, &saved_);
  std::signal(SIGXFSZ, savedHandler_);
}

}  // namespace tw::testing
