#pragma once
// The project state file "current-project.json": the page's whole working state, stored as
// pretty-printed JSON with sorted keys, replaced atomically, and written only when something changed.
// A file that cannot be read back as a project (broken by another program, a disk fault, a hand
// edit) is never written over: it is moved into ProjectRecords first, and the user is told.
#include "base/json.hpp"

#include <ctime>
#include <optional>
#include <string>

namespace tw::library {

inline constexpr const char* kProjectFileName = "current-project.json";
inline constexpr const char* kInvalidStateStatus = "项目保存失败：数据格式无效。原有项目未覆盖。";
inline constexpr const char* kSaveFailedFormat = "项目保存失败：{}。请检查磁盘空间和目录权限。";
inline constexpr const char* kSaveFailedNoText = "无法写入文件";
inline constexpr const char* kUnreadableProjectMoved = "项目文件无法读取，已原样移到 ProjectRecords/{}；当前为空项目";
inline constexpr const char* kUnreadableProjectStuck = "项目文件无法读取，也无法移到 ProjectRecords（{}）；原文件保留，项目暂不保存";
inline constexpr const char* kUnreadableProjectNotReplaced = "原项目文件无法读取，也无法移到 ProjectRecords";
// "<seconds since 1970>-unreadable-<UUID>.json" in ProjectRecords.
inline constexpr const char* kUnreadableProjectName = "{:.0f}-unreadable-{}.json";

// Main queue only: the write memory is controller state.
class ProjectStore {
 public:
  explicit ProjectStore(std::string supportFolder);

  // Stores the state the page sent (nullptr when the message had no "state").
  // Returns the status line to show on failure, nullopt on success or when the write was skipped.
  std::optional<std::string> saveState(const Json* state);

  struct LoadedState {
    Json state;                         // the stored project, or {} when there is none
    std::optional<std::string> status;  // what to tell the user about an unreadable file
  };
  // The stored state: the parsed file when it holds an object or array (nested within
  // kMaxJsonNesting), otherwise {}. A non-empty file that is not such a project is moved aside.
  LoadedState LoadSavedState();

  std::string projectPath() const;

 private:
  // The file is a readable project (or empty, or absent): parsed when asked for.
  bool FileHoldsAProject(std::optional<Json>* parsed) const;
  // Moves the unreadable file into ProjectRecords; the new name, or the error text.
  struct MoveOutcome {
    std::string name;
    std::string error;
  };
  MoveOutcome MoveUnreadableAside() const;
  void RememberVerified();

  std::string supportFolder_;
  // The write memory: what was last written, where, and the file's date right after.
  std::optional<std::string> lastSavedData_;
  std::optional<std::string> lastSavedURL_;
  std::optional<timespec> lastSavedModificationDate_;
  // The version of the file last seen to hold a project (written or read): size and date.
  std::optional<std::pair<unsigned long long, timespec>> verifiedVersion_;
};

}  // namespace tw::library
