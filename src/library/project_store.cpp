#include "library/project_store.hpp"

#include "base/files.hpp"
#include "base/uuid.hpp"
#include "library/import_scan.hpp"

#include <fmt/format.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace tw::library {
namespace {

bool IsProject(const Json& value) {
  return (value.is_object() || value.is_array()) && !NestedDeeperThan(value, kMaxJsonNesting);
}

}  // namespace

ProjectStore::ProjectStore(std::string supportFolder) : supportFolder_(std::move(supportFolder)) {}

std::string ProjectStore::projectPath() const { return JoinPath(supportFolder_, kProjectFileName); }

bool ProjectStore::FileHoldsAProject(std::optional<Json>* parsed) const {
  auto bytes = ReadWholeFile(projectPath());
  // Nothing there, or nothing in it: nothing that could be lost.
  if (!bytes || bytes->empty()) return true;
  auto value = ParseJSON(*bytes);
  if (!value || !IsProject(*value)) return false;
  if (parsed) *parsed = std::move(value);
  return true;
}

ProjectStore::MoveOutcome ProjectStore::MoveUnreadableAside() const {
  const std::string records = JoinPath(supportFolder_, kProjectRecordsFolder);
  if (auto error = CreateDirectories(records)) return {"", *error};
  double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  std::string name = fmt::format(kUnreadableProjectName, std::round(now), NewUUIDString());
  if (std::rename(projectPath().c_str(), JoinPath(records, name).c_str()) != 0) return {"", std::strerror(errno)};
  return {name, ""};
}

void ProjectStore::RememberVerified() {
  FileStat file = StatPath(projectPath());
  verifiedVersion_.reset();
  if (file.exists) verifiedVersion_ = std::pair(file.size, file.modified);
}

std::optional<std::string> ProjectStore::saveState(const Json* state) {
  if (!state || !IsProject(*state)) return std::string(kInvalidStateStatus);

  std::string bytes;
  try {
    // nlohmann's objects keep their keys sorted, so equal states give equal bytes.
    bytes = state->dump(2, ' ', false, Json::error_handler_t::strict);
  } catch (const std::exception&) {
    bytes.clear();
  }
  if (bytes.empty()) return fmt::format(kSaveFailedFormat, kSaveFailedNoText);

  const std::string target = projectPath();
  FileStat current = StatPath(target);
  if (lastSavedData_ && *lastSavedData_ == bytes && lastSavedURL_ && *lastSavedURL_ == target &&
      current.exists && lastSavedModificationDate_ && SameTime(current.modified, *lastSavedModificationDate_)) {
    return std::nullopt;
  }

  // A file this program has not seen holding a project is looked at before it is replaced.
  const bool known = verifiedVersion_ && current.exists && verifiedVersion_->first == current.size &&
                     SameTime(verifiedVersion_->second, current.modified);
  if (current.exists && !known && !FileHoldsAProject(nullptr) && !MoveUnreadableAside().error.empty()) {
    return fmt::format(kSaveFailedFormat, kUnreadableProjectNotReplaced);
  }

  if (auto error = WriteFileAtomically(target, bytes)) {
    return fmt::format(kSaveFailedFormat, error->empty() ? kSaveFailedNoText : *error);
  }
  lastSavedData_ = std::move(bytes);
  lastSavedURL_ = target;
  FileStat written = StatPath(target);
  lastSavedModificationDate_ = written.exists ? std::optional(written.modified) : std::nullopt;
  RememberVerified();
  return std::nullopt;
}

ProjectStore::LoadedState ProjectStore::LoadSavedState() {
  std::optional<Json> parsed;
  if (FileHoldsAProject(&parsed)) {
    RememberVerified();
    return {parsed ? std::move(*parsed) : Json::object(), std::nullopt};
  }
  MoveOutcome moved = MoveUnreadableAside();
  if (!moved.error.empty()) return {Json::object(), fmt::format(kUnreadableProjectStuck, moved.error)};
  return {Json::object(), fmt::format(kUnreadableProjectMoved, moved.name)};
}

}  // namespace tw::library
