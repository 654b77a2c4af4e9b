#include "platform/settings.hpp"

#include "base/files.hpp"

#include <cstdlib>

namespace tw::platform {

Settings::Settings(std::string path) : path_(std::move(path)) {
  if (auto bytes = ReadWholeFile(path_)) {
    if (auto parsed = ParseJSON(*bytes); parsed && parsed->is_object()) values_ = std::move(*parsed);
  }
}

std::string Settings::DefaultPath() {
  std::string base;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/') {
    base = config;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = JoinPath(home, ".config");
  } else {
    base = "/tmp";
  }
  return JoinPath(JoinPath(base, "tidewick"), "settings.json");
}

std::optional<Json> Settings::Get(const std::string& key) const {
  std::lock_guard lock(mutex_);
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

std::optional<std::string> Settings::Set(const std::string& key, Json value) {
  std::lock_guard lock(mutex_);
  values_[key] = std::move(value);
  return WriteLocked();
}

std::optional<std::string> Settings::Remove(const std::string& key) {
  std::lock_guard lock(mutex_);
  values_.erase(key);
  return WriteLocked();
}

std::optional<std::string> Settings::WriteLocked() {
  if (auto error = CreateDirectories(ParentDirectory(path_))) return error;
  return WriteFileAtomically(path_, values_.dump(2) + "\n", 0600);
}

}  // namespace tw::platform
