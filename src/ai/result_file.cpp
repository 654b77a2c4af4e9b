#include "ai/result_file.hpp"

#include "ai/texts.hpp"
#include "base/files.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fmt/format.h>

namespace tw::ai {
namespace {

constexpr char kFileErrorDomain[] = "posix";
constexpr int kMaxCounter = 10000;

SavedResultFile Failure(int code, const std::string& systemText) {
  SavedResultFile result;
  result.error = Error{kFileErrorDomain, code, fmt::format(texts::kSaveFailed, systemText)};
  return result;
}

}  // namespace

std::string ResultFileStem(std::time_t moment) {
  std::tm local{};
  localtime_r(&moment, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  return std::string(texts::kResultFilePrefix) + stamp;
}

SavedResultFile SaveResultFile(const std::string& folder, const std::string& stem, const std::string& extension,
                               const std::string& bytes) {
  for (int counter = 1; counter <= kMaxCounter; ++counter) {
    std::string name = counter == 1 ? fmt::format("{}.{}", stem, extension)
                                    : fmt::format("{}-{}.{}", stem, counter, extension);
    std::string path = JoinPath(folder, name);
    int claim = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (claim < 0) {
      if (errno == EEXIST) continue;
      return Failure(errno, std::strerror(errno));
    }
    close(claim);
    if (auto error = WriteFileAtomically(path, bytes)) {
      unlink(path.c_str());
      return Failure(EIO, *error);
    }
    return SavedResultFile{name, path, std::nullopt};
  }
  return Failure(EEXIST, std::strerror(EEXIST));
}

}  // namespace tw::ai
