#pragma once
// The program's settings (what the desktop calls user defaults): one JSON object in
// $XDG_CONFIG_HOME/tidewick/settings.json, mode 0600 because it may hold an API key, rewritten
// atomically on every change. Thread-safe: features read it from background queues.
#include "base/json.hpp"

#include <mutex>
#include <optional>
#include <string>

namespace tw::platform {

class Settings {
 public:
  // Reads the file once; a missing or broken file counts as empty.
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
  std::optional<std::string> WriteLocked();

  std::string path_;
  mutable std::mutex mutex_;
  Json values_ = Json::object();
};

}  // namespace tw::platform
