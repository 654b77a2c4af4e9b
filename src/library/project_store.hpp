#pragma once
// The project state file "current-project.json": the page's whole working state, stored as
// pretty-printed JSON with sorted keys, replaced atomically, and written only when something changed.
#include "base/json.hpp"

#include <ctime>
#include <optional>
#include <string>

namespace tw::library {

inline constexpr const char* kProjectFileName = "current-project.json";
inline constexpr const char* kInvalidStateStatus = "项目保存失败：数据格式无效。原有项目未覆盖。";
inline constexpr const char* kSaveFailedFormat = "项目保存失败：{}。请检查磁盘空间和目录权限。";
inline constexpr const char* kSaveFailedNoText = "无法写入文件";

// Main queue only: the write memory is controller state.
class ProjectStore {
 public:
  explicit ProjectStore(std::string supportFolder);

  // Stores the state the page sent (nullptr when the message had no "state").
  // Returns the status line to show on failure, nullopt on success or when the write was skipped.
  std::optional<std::string> saveState(const Json* state);

  // The stored state: the parsed file when it holds an object or array, otherwise {}.
  Json LoadSavedState() const;

  std::string projectPath() const;

 private:
  std::string supportFolder_;
  // The write memory: what was last written, where, and the file's date right after.
  std::optional<std::string> lastSavedData_;
  std::optional<std::string> lastSavedURL_;
  std::optional<timespec> lastSavedModificationDate_;
};

}  // namespace tw::library
