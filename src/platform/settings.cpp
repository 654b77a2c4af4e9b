#include "platform/settings.hpp"

#include "base/files.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tw::platform {
namespace {

// An advisory lock on a file beside the settings (the settings file itself is replaced by every
// write, so a lock on it would guard a file nobody opens again). Released when the object goes.
class SettingsLock {
 public:
  explicit SettingsLock(const std::string& settingsPath) {
    fd_ = open((settingsPath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~SettingsLock() {
    if (fd_ >= 0) close(fd_);  // closing the descriptor releases the lock
  }
  SettingsLock(const SettingsLock&) = delete;
  SettingsLock& operator=(const SettingsLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace

bool Settings::FileVersion::operator==(const FileVersion& other) const {
  return exists == other.exists && device == other.device && inode == other.inode && size == other.size &&
         SameTime(modified, other.modified);
}

Settings::Settings(std::string path) : path_(std::move(path)) {
  std::lock_guard lock(mutex_);
  ReadLocked(false);
}

std::string UserConfigFolder() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/') return config;
  if (const char* home = std::getenv("HOME"); home && *home) return JoinPath(home, ".config");
  return "/tmp";
}

std::string Settings::DefaultPath() { return JoinPath(JoinPath(UserConfigFolder(), "tidewick"), "settings.json"); }

Settings::FileVersion Settings::CurrentVersion() const {
  FileVersion version;
  struct stat st {};
  if (stat(path_.c_str(), &st) != 0) return version;
  version.exists = true;
  version.device = st.st_dev;
  version.inode = st.st_ino;
  version.size = st.st_size;
  version.modified = st.st_mtim;
  return version;
}

void Settings::ReadLocked(bool keepUnreadable) const {
  readVersion_ = CurrentVersion();
  values_ = Json::object();
  auto bytes = ReadWholeFile(path_);
  if (!bytes || bytes->empty()) return;
  if (auto parsed = ParseJSON(*bytes); parsed && parsed->is_object() && !NestedDeeperThan(*parsed, kMaxJsonNesting)) {
    values_ = std::move(*parsed);
    return;
  }
  // It may hold a key typed by hand; it is replaced only once a copy of it is kept.
  if (keepUnreadable) std::rename(path_.c_str(), (path_ + ".unreadable").c_str());
}

std::optional<Json> Settings::Get(const std::string& key) const {
  std::lock_guard lock(mutex_);
  if (!(CurrentVersion() == readVersion_)) ReadLocked(false);
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return *it;
}

std::optional<std::string> Settings::GetString(const std::string& key) const {
  auto value = Get(key);
  if (!value || !value->is_string()) return std::nullopt;
  return value->get<std::string>();
}

std::optional<bool> Settings::GetBool(const std::string& key) const {
  auto value = Get(key);
  if (!value || !value->is_boolean()) return std::nullopt;
  return value->get<bool>();
}

std::optional<std::string> Settings::Set(const std::string& key, Json value) { return ChangeAndWrite(key, &value); }

std::optional<std::string> Settings::Remove(const std::string& key) { return ChangeAndWrite(key, nullptr); }

std::optional<std::string> Settings::ChangeAndWrite(const std::string& key, const Json* value) {
  std::lock_guard lock(mutex_);
  auto apply = [&] {
    if (value) {
      values_[key] = *value;
    } else {
      values_.erase(key);
    }
  };
  if (auto error = CreateDirectories(ParentDirectory(path_))) {
    apply();
    return error;
  }
  SettingsLock fileLock(path_);
  // What another instance wrote since this one last read stays as it is.
  ReadLocked(true);
  apply();
  auto error = WriteFileAtomically(path_, values_.dump(2) + "\n", 0600);
  if (!error) readVersion_ = CurrentVersion();
  return error;
}

}  // namespace tw::platform
