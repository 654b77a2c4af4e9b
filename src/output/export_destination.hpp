#pragma once
// The rule that picks the name an export writes in a folder, shared by the rated and the advanced
// export. It only looks: nothing is created or deleted here. Writing under the name happens later
// and exclusively (staged_file.hpp), so a name taken in the meantime is never overwritten. Any thread.
#include <ctime>
#include <optional>
#include <string>

namespace tw::output {

enum class ConflictMode { Skip, Replace, Rename };

// Whether something holds the path's name; a dangling symbolic link does too.
bool NameTaken(const std::string& path);

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

// The names the rule tries for `name`, in order: n = 0 the name itself, 1…kLastNumberedName
// "stem（n）.ext" (full-width parentheses; "stem（n）" without an extension), and past that
// "stem-UUID.ext" with a new UUID each time.
inline constexpr long kLastNumberedName = 9999;
std::string NumberedName(const std::string& name, long n);

// The path to write `name` to in `folder`:
// - nothing there yet: folder/name, whatever the mode;
// - "skip": nullopt, and *skipped (when given) becomes true;
// - "replace": folder/name (the existing item stays until a finished file takes its place);
// - "rename": the first free NumberedName.
std::optional<std::string> ExportDestination(const std::string& folder, const std::string& name, ConflictMode mode,
                                             bool* skipped = nullptr);

// The dated folder's name for a moment: "yyyy-MM-dd" in the local calendar and time zone.
std::string DatedFolderName(std::time_t moment);

}  // namespace tw::output
