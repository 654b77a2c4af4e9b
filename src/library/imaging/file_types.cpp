#include "base/files.hpp"
#include "base/text.hpp"
#include "library/imaging/decoding.hpp"
#include "library/imaging/file_signature.hpp"

#include <array>
#include <string_view>

namespace tw::imaging {

namespace {

std::string LowerExtension(const std::string& pathOrName) { return ToLower(PathExtension(detail::LocalPath(pathOrName))); }

}  // namespace

std::string MIMETypeForPath(const std::string& pathOrName) {
  struct Entry {
    std::string_view extension;
    std::string_view mime;
  };
  static constexpr std::array<Entry, 9> kTable{{
      {"jpg", "image/jpeg"},
      {"jpeg", "image/jpeg"},
      {"png", "image/png"},
      {"webp", "image/webp"},
      {"heic", "image/heic"},
      {"heif", "image/heic"},
      {"tif", "image/tiff"},
      {"tiff", "image/tiff"},
      {"cr3", "image/x-canon-cr3"},
  }};
  std::string extension = LowerExtension(pathOrName);
  for (const Entry& entry : kTable) {
    if (entry.extension == extension) return std::string(entry.mime);
  }
  return "application/octet-stream";
}

bool IsRAWURL(const std::string& path) {
  static constexpr std::array<std::string_view, 10> kRawExtensions{"cr3", "cr2", "dng", "nef", "nrw",
                                                                   "arw", "raf", "rw2", "orf", "pef"};
  std::string extension = LowerExtension(path);
  for (std::string_view raw : kRawExtensions) {
    if (raw == extension) return true;
  }
  return false;
}

}  // namespace tw::imaging
