#include "base/files.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

namespace tw {
namespace {

std::string ErrorText(int error) { return std::strerror(error); }

mode_t CurrentUmask() {
  // umask can only be read by setting it; done once, before threads write files.
  static const mode_t mask = [] {
    mode_t m = umask(022);
    umask(m);
    return m;
  }();
  return mask;
}

}  // namespace

namespace {
constexpr std::string_view kTemporaryInfix = ".tmp-";
constexpr size_t kTemporarySuffixLength = 6;  // mkostemp's XXXXXX
}  // namespace

bool IsAtomicWriteTemporaryName(const std::string& name) {
  const size_t tail = kTemporaryInfix.size() + kTemporarySuffixLength;
  return name.size() > tail + 1 && name[0] == '.' &&
         std::string_view(name).substr(name.size() - tail, kTemporaryInfix.size()) == kTemporaryInfix;
}

int RemoveAbandonedTemporaryFiles(const std::string& folder, std::chrono::seconds age) {
  DIR* directory = opendir(folder.c_str());
  if (!directory) return 0;
  const time_t before = time(nullptr) - static_cast<time_t>(age.count());
  int removed = 0;
  while (dirent* entry = readdir(directory)) {
    std::string name = entry->d_name;
    if (!IsAtomicWriteTemporaryName(name)) continue;
    struct stat st {};
    if (fstatat(dirfd(directory), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    if (st.st_mtim.tv_sec >= before) continue;
    if (unlinkat(dirfd(directory), name.c_str(), 0) == 0) ++removed;
  }
  closedir(directory);
  return removed;
}

std::optional<std::string> WriteFileAtomically(const std::string& path, const std::string& bytes,
                                               mode_t mode, Durability durability) {
  std::string temp = JoinPath(ParentDirectory(path), "." + LastPathComponent(path) + std::string(kTemporaryInfix) +
                                                         std::string(kTemporarySuffixLength, 'X'));
  int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return ErrorText(errno);
  auto fail = [&](int error) {
    close(fd);
    unlink(temp.c_str());
    return std::optional<std::string>(ErrorText(error));
  };
  if (fchmod(fd, mode & ~CurrentUmask()) != 0) return fail(errno);
  const char* data = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = write(fd, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    data += n;
    left -= static_cast<size_t>(n);
  }
  if (durability == Durability::Flushed && fsync(fd) != 0) return fail(errno);
  if (close(fd) != 0) {
    int error = errno;
    unlink(temp.c_str());
    return ErrorText(error);
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    int error = errno;
    unlink(temp.c_str());
    return ErrorText(error);
  }
  return std::nullopt;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream out;
  out << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return out.str();
}

std::optional<std::string> CreateDirectories(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (error && !IsDirectory(path)) return error.message();
  if (!IsDirectory(path)) return ErrorText(ENOTDIR);
  return std::nullopt;
}

FileStat StatPath(const std::string& path) {
  FileStat result;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return result;
  result.exists = true;
  result.isDirectory = S_ISDIR(st.st_mode);
  result.isRegular = S_ISREG(st.st_mode);
  result.size = static_cast<unsigned long long>(st.st_size);
  result.modified = st.st_mtim;
  return result;
}

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

bool IsDirectory(const std::string& path) { return StatPath(path).isDirectory; }

ReadableFile ReadableFile::Open(const std::string& path) {
  if (path.empty() || path[0] != '/') return ReadableFile(-1, EINVAL);
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return ReadableFile(-1, errno);
  struct stat st {};
  int error = fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : !S_ISREG(st.st_mode) ? EINVAL : 0;
  // Regular files never block, but readers that expect a plain descriptor get one.
  if (error == 0) {
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) error = errno;
  }
  if (error != 0) {
    close(fd);
    return ReadableFile(-1, error);
  }
  return ReadableFile(fd, 0);
}

ReadableFile::ReadableFile(ReadableFile&& other) noexcept : fd_(other.fd_), error_(other.error_) { other.fd_ = -1; }

ReadableFile& ReadableFile::operator=(ReadableFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.fd_;
    error_ = other.error_;
    other.fd_ = -1;
  }
  return *this;
}

ReadableFile::~ReadableFile() {
  if (fd_ >= 0) close(fd_);
}
std::optional<std::string> ReadAtMost(const ReadableFile& file, size_t limit) {
  std::string bytes;
  char chunk[1 << 16];
  while (bytes.size() <= limit) {
    ssize_t n = read(file.fd(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    bytes.append(chunk, static_cast<size_t>(n));
  }
  return bytes;
}

bool PathExists(const std::string& path) { return StatPath(path).exists; }

std::string FileURLFromPath(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 std::strchr("/-._~!$&'()*+,;=:@", c) != nullptr;
    if (plain && c != 0) {
      url.push_back(static_cast<char>(c));
    } else {
      url.push_back('%');
      url.push_back(hex[c >> 4]);
      url.push_back(hex[c & 15]);
    }
  }
  return url;
}

std::optional<std::string> PathFromFileURL(const std::string& url) {
  static const std::string prefix = "file://";
  if (url.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  std::string rest = url.substr(prefix.size());
  if (!rest.empty() && rest[0] != '/') {
    // file://localhost/path
    auto slash = rest.find('/');
    if (rest.substr(0, slash) != "localhost") return std::nullopt;
    rest = slash == std::string::npos ? "/" : rest.substr(slash);
  }
  std::string path;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '%' && i + 2 < rest.size()) {
      int value = 0;
      if (sscanf(rest.substr(i + 1, 2).c_str(), "%2x", &value) == 1) {
        path.push_back(static_cast<char>(value));
        i += 2;
        continue;
      }
    }
    path.push_back(rest[i]);
  }
  return path;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string LastPathComponent(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  auto slash = trimmed.rfind('/');
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

std::string ParentDirectory(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  auto slash = trimmed.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return trimmed.substr(0, slash);
}

std::string PathExtension(const std::string& path) {
  std::string name = LastPathComponent(path);
  auto dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return "";
  return name.substr(dot + 1);
}

}  // namespace tw
