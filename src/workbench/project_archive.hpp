#pragma once
// Project archives: a shoot's project state in one file (".tideproject", JSON with the format tag
// "tidewick-project"), carried to another machine or moment without the photos. Before an archive
// leaves the program, and again before an opened one reaches the page, TWProjectClean removes
// credentials, tokens, service addresses and every embedded image, and bounds the structure.
// Everything here keeps no state; any thread (the controller calls it on the main queue).
#include "base/json.hpp"

#include <cstddef>
#include <optional>
#include <string>

namespace tw::workbench {

inline constexpr size_t kMaxArchiveBytes = 20u * 1024 * 1024;
// Levels kept below the archive object; anything deeper becomes null.
inline constexpr int kMaxArchiveDepth = 18;
inline constexpr size_t kMaxArchiveArrayElements = 20000;

// The value without the members named "apikey", "api_key", "authorization", "password", "secret",
// "token", "baseurl", "thumbnail", "preview" or "previewdataurl" (in any case) at any depth, with
// every string beginning with "data:" emptied, arrays cut after kMaxArchiveArrayElements and
// values deeper than kMaxArchiveDepth below the top (depth 0) turned into null.
Json TWProjectClean(const Json& value, int depth = 0);

// What saving an archive the page sent comes to: the bytes to write, or the error to answer.
struct ArchiveToSave {
  std::string bytes;
  std::optional<std::string> error;
};
// The cleaned archive, pretty-printed; refused unless it is an object tagged "tidewick-project"
// whose state is an object, and when its text would exceed kMaxArchiveBytes.
ArchiveToSave ArchiveForSaving(const Json& archive);

// An archive read from a file: the cleaned archive, or the status text that says why not.
struct OpenedArchive {
  std::optional<Json> archive;
  std::string status;
};
// Reads only an absolute path naming a regular file of at most kMaxArchiveBytes, whose JSON nests
// within kMaxJsonNesting. A bare project state (an object without "format" whose "photos" is an
// array, as current-project.json holds it) is wrapped as version 1. Anything that is not an object
// tagged "tidewick-project" with an object as its state is refused.
OpenedArchive ReadProjectArchive(const std::string& path);

}  // namespace tw::workbench
