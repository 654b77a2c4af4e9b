#pragma once
// Files of a test shoot: sample photos copied under new names, file hashes, folder listings, file
// times, the trash folders this test process uses, and a full disk.
#include "base/json.hpp"
#include "support/headless_process.hpp"

#include <sys/resource.h>
#include <sys/types.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tw::testing {

inline const std::string kSamplePhotos = std::string(TIDEWICK_TEST_DATA_DIR) + "/photos/";

// Copies a sample photo to folder/name (keeping its modification time) and returns the new path.
std::string CopySample(const std::string& sample, const std::string& folder, const std::string& name);
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
// The files below a folder as they were when the snapshot was taken. Changes() lists every file that
// changed, vanished or appeared since, except the files in `leaving` (relative paths, meant to go)
// and new files below the relative folder `outputs` (none when "").
class FolderSnapshot {
 public:
  explicit FolderSnapshot(std::string folder);
  std::vector<std::string> Changes(const std::set<std::string>& leaving = {}, const std::string& outputs = "") const;

 private:
  std::string folder_;
  std::map<std::string, unsigned long long> hashes_;
};
// Names directly in a folder, sorted; hidden names included.
std::vector<std::string> Names(const std::string& folder);
bool Exists(const std::string& path);
// Sets a file's access and modification time; fails the test when it cannot.
void SetModified(const std::string& path, time_t seconds, long nanoseconds = 0);
ino_t Inode(const std::string& path);  // 0 when there is no such file

// The folder the freedesktop trash of this test process moves files into ($XDG_DATA_HOME/Trash/files).
std::string HomeTrashFiles();
// Folders made with this prefix lie on a file system whose volume has no usable trash (the system
// tmpfs /dev/shm), provided NoTrashVolumeAvailable() says it is apart from the home's file system.
inline constexpr const char* kNoTrashPrefix = "/dev/shm/tidewick-notrash-";
bool NoTrashVolumeAvailable();

// One value of an XMP sidecar as exiv2 reads it ("Xmp.xmp.Rating"); nullopt when exiv2 fails.
std::optional<std::string> Exiv2Value(const std::string& sidecar, const std::string& key);

// Makes every file write beyond `bytes` fail with EFBIG in the whole process while it lives, as a full disk would.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(unsigned long bytes);
  ~FileSizeLimit();

 private:
  void (*savedHandler_)(int);
  rlimit saved_{};
};

}  // namespace tw::testing
