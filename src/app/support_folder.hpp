#pragma once
// Where the program keeps its data, and the guard that keeps a test run away from the real data.
#include "base/json.hpp"

#include <optional>
#include <string>
#include <vector>

namespace tw::app {

// The refusal logged on standard error when a test folder is invalid; the program then ends
// before any window exists.
inline constexpr const char* kInvalidTestFolderLog = "Tidewick：测试目录无效，终止启动以保护真实项目。";

// The directory of a valid test folder, or nullopt. The candidate may be any JSON value; only an
// absolute path without ".." components whose resolved form lies under "/tmp/tidewick-qa-" or
// "/private/tmp/tidewick-qa-" and names an existing directory qualifies. Any thread.
std::optional<std::string> TWQASupportURL(const Json& candidate);

// $XDG_DATA_HOME/岚舟 (~/.local/share/岚舟 when unset).
std::string DefaultSupportFolder();

struct SupportFolderChoice {
  bool refused = false;     // an invalid test folder was named: log and end
  bool testMode = false;
  std::string folder;       // the data folder to use when not refused
};

// Start-up steps 1-3: the default data folder, unless "--test-support-dir DIR" or the built-in
// test folder names a valid one. builtInTestFolder is "" when the build has none.
SupportFolderChoice ChooseSupportFolder(const std::vector<std::string>& arguments,
                                        const std::string& builtInTestFolder);

}  // namespace tw::app
