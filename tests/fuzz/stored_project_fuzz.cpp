// libFuzzer target: whatever bytes lie in the stored project file or in a project archive, loading
// them neither crashes nor loses the file: an unreadable project is moved aside, never dropped.
#include "base/files.hpp"
#include "library/project_store.hpp"
#include "workbench/project_archive.hpp"

#include <cstdlib>
#include <filesystem>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = [] {
    char pattern[] = "/tmp/tidewick-qa-fuzz-project-XXXXXX";
    return std::string(mkdtemp(pattern));
  }();
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string archive = folder + "/archive.tideproject";
  if (tw::WriteFileAtomically(archive, bytes)) return 0;
  (void)tw::workbench::ReadProjectArchive(archive);

  tw::library::ProjectStore store(folder);
  if (tw::WriteFileAtomically(store.projectPath(), bytes)) return 0;
  (void)store.LoadSavedState();
  // Whatever the bytes were, they are still somewhere: in place, or set aside when unreadable.
  if (!std::filesystem::exists(store.projectPath()) && !std::filesystem::exists(folder + "/ProjectRecords")) {
    std::abort();
  }
  std::filesystem::remove_all(folder + "/ProjectRecords");
  return 0;
}
