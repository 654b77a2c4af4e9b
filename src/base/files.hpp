#pragma once
// File helpers. Every stored file is written atomically: a temporary file beside the target,
// flushed, then renamed over it, so a crash never leaves half a file under the final name.
#include <sys/types.h>

#include <chrono>
#include <ctime>
#include <optional>
#include <string>

namespace tw {

enum class Durability {
  Flushed,   // on disk before it takes the final name: stored state, exports
  Cached,    // left to the kernel: caches that are made again when found empty
};

// Writes bytes to path atomically with the given permission bits (the umask still applies).
// Returns the system's error text on failure; the previous file is then untouched.
std::optional<std::string> WriteFileAtomically(const std::string& path, const std::string& bytes,
                                               mode_t mode = 0666, Durability durability = Durability::Flushed);
// Whether a name is one WriteFileAtomically gives its temporary file: ".<name>.tmp-XXXXXX".
bool IsAtomicWriteTemporaryName(const std::string& name);
// Removes the temporary files of atomic writes directly in folder that a crash left behind: those
// last changed longer than `age` ago, so that a write under way in another instance is left alone.
// Returns how many were removed.
int RemoveAbandonedTemporaryFiles(const std::string& folder, std::chrono::seconds age);
std::optional<std::string> ReadWholeFile(const std::string& path);
// Creates a directory and its parents; returns the error text on failure (an existing directory is fine).
std::optional<std::string> CreateDirectories(const std::string& path);

struct FileStat {
  bool exists = false;
  bool isDirectory = false;
  bool isRegular = false;
  unsigned long long size = 0;
  timespec modified{};
};
// stat() after following symbolic links; exists is false when it fails.
FileStat StatPath(const std::string& path);
bool SameTime(const timespec& a, const timespec& b);

bool IsDirectory(const std::string& path);

// A file opened for reading, closed when the object goes. Only an absolute path naming a regular
// file (after symbolic links) is opened, and the open itself never waits: a FIFO or a device put
// where a photo was would otherwise hold the reading thread forever in open(). Reads then block as
// usual. error is the errno of a failure: EINVAL for a relative path or a file that is not regular,
// otherwise what the system said (ENOENT, EACCES, EISDIR...). Any thread.
class ReadableFile {
 public:
  static ReadableFile Open(const std::string& path);
  ReadableFile(ReadableFile&& other) noexcept;
  ReadableFile& operator=(ReadableFile&& other) noexcept;
  ReadableFile(const ReadableFile&) = delete;
  ReadableFile& operator=(const ReadableFile&) = delete;
  ~ReadableFile();

  explicit operator bool() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  int error() const { return error_; }

 private:
  ReadableFile(int fd, int error) : fd_(fd), error_(error) {}
  int fd_ = -1;
  int error_ = 0;
};
// At most `limit` + 1 bytes of an open file: one byte more than allowed tells that it is too long,
// also when the file grew after its size was read. nullopt when reading fails.
std::optional<std::string> ReadAtMost(const ReadableFile& file, size_t limit);
bool PathExists(const std::string& path);

// "file://" URL text of an absolute path, percent-encoding what a URL cannot hold.
std::string FileURLFromPath(const std::string& path);
// The path of a file URL (decoding percent escapes); nullopt for anything else.
std::optional<std::string> PathFromFileURL(const std::string& url);

// Joins a folder and a name with exactly one slash.
std::string JoinPath(const std::string& folder, const std::string& name);
std::string LastPathComponent(const std::string& path);
std::string ParentDirectory(const std::string& path);
// The extension without the dot, as written ("" when none).
std::string PathExtension(const std::string& path);

}  // namespace tw
