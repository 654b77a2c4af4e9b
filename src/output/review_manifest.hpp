#pragma once
// The review manifest: a plain-text culling list of every photo of the project, grouped by decision,
// one tab-separated row per photo. Pure text building; any thread.
#include "base/json.hpp"

#include <ctime>
#include <string>

namespace tw::output {

// The project name as a file name stem: split at / : \ ? % * | " < > with empty pieces dropped, the
// rest joined by "-"; "拍摄项目" when nothing is left.
std::string ManifestFileStem(const std::string& projectName);

// The whole file: UTF-8 without byte-order mark, every line ending in one line feed. `written` is
// the time shown in the header (local calendar and time zone).
std::string ReviewManifestText(const Json& photos, const std::string& projectName, std::time_t written);

}  // namespace tw::output
