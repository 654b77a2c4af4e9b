#include "library/project_store.hpp"

#include "base/files.hpp"

#include <fmt/format.h>

namespace tw::library {

ProjectStore::ProjectStore(std::string supportFolder) : supportFolder_(std::move(supportFolder)) {}

std::string ProjectStore::projectPath() const { return JoinPath(supportFolder_, kProjectFileName); }

std::optional<std::string> ProjectStore::saveState(const Json* state) {
  // Parsed JSON holds only finite numbers and string keys, so the top-level shape is the test.
  if (!state || !(state->is_object() || state->is_array())) return std::string(kInvalidStateStatus);

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

  if (auto error = WriteFileAtomically(target, bytes)) {
    return fmt::format(kSaveFailedFormat, error->empty() ? kSaveFailedNoText : *error);
  }
  lastSavedData_ = std::move(bytes);
  lastSavedURL_ = target;
  FileStat written = StatPath(target);
  lastSavedModificationDate_ = written.exists ? std::optional(written.modified) : std::nullopt;
  return std::nullopt;
}

Json ProjectStore::LoadSavedState() const {
  auto bytes = ReadWholeFile(projectPath());
  if (!bytes) return Json::object();
  auto parsed = ParseJSON(*bytes);
  if (!parsed || !(parsed->is_object() || parsed->is_array())) return Json::object();
  return std::move(*parsed);
}

}  // namespace tw::library
