#pragma once
// The automatic backups in ProjectRecords (made before every import and every archive opened), so a
// photographer can go back to the shoot a new import replaced. Any thread; nothing here keeps state.
#include "base/json.hpp"

#include <cstddef>
#include <optional>
#include <string>

namespace tw::workbench {

inline constexpr size_t kMaxListedBackups = 50;

// The newest backups first, at most kMaxListedBackups: {name, savedAt (seconds since 1970), bytes,
// photos (the number of photos, null when the file is no readable project), readable}. Reads each
// file within the archive bounds: call it off the main queue.
Json ListProjectBackups(const std::string& supportFolder);

// The path of the backup the page names: a plain ".json" file name (no folder, not hidden) of a
// regular file directly in ProjectRecords. nullopt for anything else.
std::optional<std::string> ProjectBackupPath(const std::string& supportFolder, const Json& name);

}  // namespace tw::workbench
