#pragma once
// The rule that picks the name an export writes in a folder, shared by the rated and the advanced
// export. It only looks: nothing is created or deleted here. Writing under the name happens later
// and exclusively (staged_file.hpp), so a name taken in the meantime is never overwritten. Any thread.
#include <ctime>
#include <optional>
#include <string>

namespace tw::output {

enum class ConflictMode { Skip, Replace, Rename };

// "skip" and "replace" by name; every other text renames.
ConflictMode ConflictModeFromText(const std::string& text);

// A file name split at its last dot: ("IMG_0001", "CR3"), ("README", ""). A leading dot does not
// start an extension (".hidden" has none), nor does a dot before a slash.
struct NameParts {
  std::string stem;
  std::string extension;
};
NameParts SplitName(const std::string& name);
// stem + "." + extension, or the stem alone when the extension is empty.
std::string JoinName(const std::string& stem, const std::string& extension);

// The path to write `name` to in `folder`:
// - nothing there yet: folder/name, whatever the mode;
// - "skip": nullopt, and *skipped (when given) becomes true;
// - "replace": folder/name (the existing item stays until a finished file takes its place);
// - "rename": the first free "stem（n）.ext" for n = 1…9999 (full-width parentheses), then
//   "stem-UUID.ext".
std::optional<std::string> ExportDestination(const std::string& folder, const std::string& name, ConflictMode mode,
                                             bool* skipped = nullptr);

// The dated folder's name for a moment: "yyyy-MM-dd" in the local calendar and time zone.
std::string DatedFolderName(std::time_t moment);

}  // namespace tw::output
