#include "output/staged_file.hpp"

#include "base/uuid.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace tw::output {
namespace {

std::string ErrorText(int error) { return std::strerror(error); }

// The process's umask, read without changing it (setting it to read it back would race with other
// threads creating files).
mode_t ProcessUmask() {
  static const mode_t mask = [] {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    }
    return static_cast<mode_t>(022);
  }();
  return mask;
}

// errno values with which a file system says it has no hard links (FAT: EPERM).
bool NoHardLinks(int error) {
  return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EMLINK || error == EXDEV;
}

int CopyByReadWrite(int from, int to) {
  std::vector<char> buffer(1 << 20);
  for (;;) {
    ssize_t n = read(from, buffer.data(), buffer.size());
    if (n == 0) return 0;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    const char* data = buffer.data();
    while (n > 0) {
      ssize_t written = write(to, data, static_cast<size_t>(n));
      if (written < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      data += written;
      n -= written;
    }
  }
}

// The finished file's bytes, permissions and times into a new file at destination (O_EXCL).
int CopyIntoNewFile(int in, const std::string& destination) {
  struct stat st {};
  if (fstat(in, &st) != 0 || lseek(in, 0, SEEK_SET) != 0) return errno;
  int out = open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0777);
  if (out < 0) return errno;
  int error = CopyFileContents(in, out);
  if (error == 0 && fchmod(out, st.st_mode & 0777) != 0) error = errno;
  const timespec times[2] = {st.st_atim, st.st_mtim};
  if (error == 0 && futimens(out, times) != 0) error = errno;
  if (close(out) != 0 && error == 0) error = errno;
  if (error != 0) {
    // The name was created by this call, so what is there is our own unfinished copy.
    unlink(destination.c_str());
  }
  return error;
}

// Gives an unnamed file (O_TMPFILE) a name; fails with EEXIST when the name is taken.
int LinkUnnamed(int fd, const std::string& destination) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, destination.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  int error = errno;
  // Without /proc, AT_EMPTY_PATH does the same where the process may use it.
  if (error == ENOENT && !PathExists("/proc/self/fd")) {
    if (linkat(fd, "", AT_FDCWD, destination.c_str(), AT_EMPTY_PATH) == 0) return 0;
    error = errno;
  }
  return error;
}

}  // namespace

int CopyFileContents(int from, int to) {
  for (;;) {
    ssize_t n = copy_file_range(from, nullptr, to, nullptr, size_t{1} << 30, 0);
    if (n > 0) continue;
    if (n == 0) return 0;
    if (errno == EINTR) continue;
    // Kernels or file systems without in-kernel copies; the file offsets have moved with what was
    // copied, so plain reads and writes carry on from there.
    if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) return CopyByReadWrite(from, to);
    return errno;
  }
}

int PlaceExclusively(const std::string& temporary, const std::string& destination, ExclusiveMethod first) {
  if (first == ExclusiveMethod::RenameNoReplace) {
    if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) == 0) return 0;
    int error = errno;
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP) return error;
    first = ExclusiveMethod::HardLink;
  }
  if (first == ExclusiveMethod::HardLink) {
    if (link(temporary.c_str(), destination.c_str()) == 0) {
      unlink(temporary.c_str());
      return 0;
    }
    int error = errno;
    if (!NoHardLinks(error)) return error;
  }
  int in = open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno;
  int error = CopyIntoNewFile(in, destination);
  close(in);
  if (error == 0) unlink(temporary.c_str());
  return error;
}

StagedFile::StagedFile(std::string folder, Naming naming) : folder_(std::move(folder)) {
  if (naming == Naming::UnnamedWhereAvailable) {
    fd_ = open(folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ >= 0) return;
  }
  std::string pattern = JoinPath(folder_, ".tidewick-export-XXXXXX");
  fd_ = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) {
    failure_ = ErrorText(errno);
    return;
  }
  temporary_ = pattern;
}

StagedFile::~StagedFile() {
  if (fd_ >= 0) close(fd_);
  if (!placed_ && !temporary_.empty()) unlink(temporary_.c_str());
}

std::optional<std::string> StagedFile::Write(std::string_view bytes, mode_t mode) {
  if (failure_) return failure_;
  const char* data = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = write(fd_, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return failure_ = ErrorText(errno);
    }
    data += n;
    left -= static_cast<size_t>(n);
  }
  if (fchmod(fd_, mode & ~ProcessUmask()) != 0) return failure_ = ErrorText(errno);
  return std::nullopt;
}

std::optional<std::string> StagedFile::CopyFrom(const ReadableFile& source) {
  if (failure_) return failure_;
  if (!source) return failure_ = ErrorText(source.error());
  struct stat st {};
  int error = fstat(source.fd(), &st) != 0 ? errno : 0;
  if (error == 0) error = CopyFileContents(source.fd(), fd_);
  if (error == 0 && fchmod(fd_, st.st_mode & 0777) != 0) error = errno;
  const timespec times[2] = {st.st_atim, st.st_mtim};
  if (error == 0 && futimens(fd_, times) != 0) error = errno;
  if (error != 0) return failure_ = ErrorText(error);
  return std::nullopt;
}

int StagedFile::PlaceExclusivelyAt(const std::string& destination) {
  if (!temporary_.empty()) return PlaceExclusively(temporary_, destination);
  int error = LinkUnnamed(fd_, destination);
  if (error == 0 || error == EEXIST || !NoHardLinks(error)) return error;
  return CopyIntoNewFile(fd_, destination);
}

int StagedFile::ReplaceAt(const std::string& destination) {
  // The earlier file is at stake now: the new one must be on disk before it takes its place.
  if (fdatasync(fd_) != 0) return errno;
  if (temporary_.empty()) {
    // An unnamed file cannot be renamed: it gets a hidden name first.
    for (;;) {
      std::string hidden = JoinPath(folder_, ".tidewick-export-" + NewUUIDString());
      int error = LinkUnnamed(fd_, hidden);
      if (error == EEXIST) continue;
      if (error != 0) return error;
      temporary_ = hidden;
      break;
    }
  }
  return rename(temporary_.c_str(), destination.c_str()) == 0 ? 0 : errno;
}

PlaceResult StagedFile::PlaceExactly(const std::string& path) {
  PlaceResult result;
  if (failure_) {
    result.error = *failure_;
    return result;
  }
  int error = PlaceExclusivelyAt(path);
  if (error == 0) {
    placed_ = true;
    result.outcome = PlaceResult::Outcome::Placed;
    result.path = path;
  } else if (error == EEXIST) {
    result.outcome = PlaceResult::Outcome::Skipped;
  } else {
    result.error = ErrorText(error);
  }
  return result;
}

PlaceResult StagedFile::PlaceReplacing(const std::string& path) {
  PlaceResult result;
  if (failure_) {
    result.error = *failure_;
    return result;
  }
  if (int error = ReplaceAt(path); error != 0) {
    result.error = ErrorText(error);
    return result;
  }
  placed_ = true;
  result.outcome = PlaceResult::Outcome::Placed;
  result.path = path;
  return result;
}

}  // namespace tw::output
