#include "base/files.hpp"
#include "library/imaging/decoding.hpp"
#include "library/imaging/file_signature.hpp"

namespace tw::imaging {

namespace {

bool Later(const timespec& a, const timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

}  // namespace

bool PreviewCacheNeedsRefresh(const std::string& sourcePath, const std::string& cachePath) {
  FileStat cache = StatPath(detail::LocalPath(cachePath));
  if (!cache.exists || cache.size == 0) return true;
  FileStat source = StatPath(detail::LocalPath(sourcePath));
  // A photo on an ejected card keeps its old preview in use.
  if (!source.exists) return false;
  return Later(source.modified, cache.modified);
}

}  // namespace tw::imaging
