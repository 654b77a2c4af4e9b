#pragma once
// The program's settings (what the desktop calls user defaults): one JSON object in
// $XDG_CONFIG_HOME/tidewick/settings.json, mode 0600 because it may hold an API key. Another
// instance of the program (a second window, a headless script) may change the same file, so every
// change re-reads the file under an advisory lock and alters only its own key, and a read picks up
// a file that changed since it was last read. Thread-safe: features read it from background queues.
#include "base/json.hpp"

#include <sys/types.h>

#include <ctime>
#include <mutex>
#include <optional>
#include <string>

namespace tw::platform {

// $XDG_CONFIG_HOME when it is absolute, else ~/.config (/tmp without a home).
std::string UserConfigFolder();

class Settings {
 public:
  // A missing file counts as empty.
  explicit Settings(std::string path);

  // The default location: $XDG_CONFIG_HOME/tidewick/settings.json (~/.config when unset).
  static std::string DefaultPath();

  std::optional<Json> Get(const std::string& key) const;
  std::optional<std::string> GetString(const std::string& key) const;  // nullopt unless a string is stored
  std::optional<bool> GetBool(const std::string& key) const;           // nullopt unless a boolean is stored
  // Stores and writes the file; returns the error text when the file could not be written
  // (the value still holds for this run).
  std::optional<std::string> Set(const std::string& key, Json value);
  std::optional<std::string> Remove(const std::string& key);

  const std::string& path() const { return path_; }

 private:
  // Which version of the file the values were read from.
  struct FileVersion {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    bool operator==(const FileVersion& other) const;
  };
  FileVersion CurrentVersion() const;
  // Reads the file into values_ (caller holds mutex_). A file that is not a JSON object counts as
  // empty; before such a file is ever written over it is kept beside as "settings.json.unreadable".
  void ReadLocked(bool keepUnreadable) const;
  std::optional<std::string> ChangeAndWrite(const std::string& key, const Json* value);

  std::string path_;
  mutable std::mutex mutex_;
  mutable Json values_ = Json::object();
  mutable FileVersion readVersion_;
};

}  // namespace tw::platform
