#pragma once
// Saving a generated image under a new name. Two results saved within the same second would
// get the same time-stamped name; the later one then gets a counter instead of replacing the
// earlier file.
#include "base/error.hpp"

#include <ctime>
#include <optional>
#include <string>

namespace tw::ai {

struct SavedResultFile {
  std::string fileName;
  std::string filePath;
  std::optional<Error> error;  // set when nothing was saved
};

// "AI修图-yyyyMMdd-HHmmss" for the given moment in local time.
std::string ResultFileStem(std::time_t moment);

// Any thread. Writes bytes as "<stem>.<extension>" in folder, or "<stem>-2.<extension>",
// "<stem>-3.<extension>"... when that name exists. The name is claimed with an exclusive create
// and the content then written atomically over the claim, so no existing file is touched and no
// half-written file remains under the name.
SavedResultFile SaveResultFile(const std::string& folder, const std::string& stem, const std::string& extension,
                               const std::string& bytes);

}  // namespace tw::ai
