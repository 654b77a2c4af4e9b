#include "base/files.hpp"
#include "library/imaging/decoding.hpp"
#include "library/imaging/file_signature.hpp"

#include <sys/stat.h>

#include <cstdio>

namespace tw::imaging {

namespace {

// What a preview was made from is recorded in a small stamp beside it ("<cache name>.stamp"):
// the source's size and modification time, and the identity (inode, size, time) of the preview
// file it describes. A time alone cannot tell a photo replaced by an older one (`cp -p`, a card
// copied again), and the cache file's own time cannot carry the size. Naming the preview file it
// belongs to keeps a stamp from vouching for another preview: two developments that finish at
// once may leave one's stamp beside the other's file, which then merely counts as unrecorded.
std::string StampPath(const std::string& cachePath) { return cachePath + ".stamp"; }

std::string StampText(const PreviewSource& source, const struct stat& preview) {
  std::string text = "1";
  for (long long number : {static_cast<long long>(source.size), static_cast<long long>(source.modified.tv_sec),
                           static_cast<long long>(source.modified.tv_nsec), static_cast<long long>(preview.st_ino),
                           static_cast<long long>(preview.st_size), static_cast<long long>(preview.st_mtim.tv_sec),
                           static_cast<long long>(preview.st_mtim.tv_nsec)}) {
    text += " " + std::to_string(number);
  }
  return text + "\n";
}

}  // namespace

std::optional<PreviewSource> ReadPreviewSource(const std::string& sourcePath) {
  FileStat source = StatPath(detail::LocalPath(sourcePath));
  if (!source.exists) return std::nullopt;
  return PreviewSource{source.size, source.modified};
}

bool PreviewCacheNeedsRefresh(const std::string& sourcePath, const std::string& cachePath) {
  const std::string cache = detail::LocalPath(cachePath);
  struct stat preview {};
  if (stat(cache.c_str(), &preview) != 0 || preview.st_size == 0) return true;
  // A photo on an ejected card keeps its old preview in use.
  std::optional<PreviewSource> source = ReadPreviewSource(sourcePath);
  if (!source) return false;
  return ReadWholeFile(StampPath(cache)) != StampText(*source, preview);
}

bool PlacePreview(const std::string& newPreviewPath, const std::string& cachePath, const PreviewSource& source) {
  // The stamp names the new file, which keeps its identity through the rename; written first, a
  // stamp never vouches for a file it was not made for.
  struct stat preview {};
  if (stat(newPreviewPath.c_str(), &preview) != 0) return false;
  if (WriteFileAtomically(StampPath(cachePath), StampText(source, preview), 0666, Durability::Cached)) return false;
  return std::rename(newPreviewPath.c_str(), cachePath.c_str()) == 0;
}

}  // namespace tw::imaging
