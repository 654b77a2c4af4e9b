#include "library/preview.hpp"

#include "base/files.hpp"
#include "base/text.hpp"
#include "base/uuid.hpp"
#include "library/imaging/decoding.hpp"

#include <fmt/format.h>
#include <unistd.h>

#include <cstdio>

namespace tw::library {

std::string PreviewCacheFileName(const std::string& photoPath, bool lens) {
  return fmt::format("{}-{}.jpg", StableHash64(photoPath), lens ? "lens" : "plain");
}

Json PreparePreview(const std::string& id, const std::string& photoPath, const std::string& supportFolder, bool lens) {
  const std::string folder = JoinPath(supportFolder, kPreviewCacheFolder);
  CreateDirectories(folder);
  const std::string cache = JoinPath(folder, PreviewCacheFileName(photoPath, lens));

  if (imaging::PreviewCacheNeedsRefresh(photoPath, cache)) {
    std::optional<imaging::PreviewSource> source = imaging::ReadPreviewSource(photoPath);
    imaging::MaybeImage image = source ? imaging::CreateViewingImage(photoPath, kPreviewSize, lens) : std::nullopt;
    if (image) {
      if (auto bytes = imaging::EncodeJPEG(*image, kPreviewQuality)) {
        const std::string temporary = JoinPath(folder, ".preview-" + NewUUIDString() + ".jpg");
        if (!WriteFileAtomically(temporary, *bytes)) imaging::PlacePreview(temporary, cache, *source);
        unlink(temporary.c_str());
      }
    }
  }
  if (StatPath(cache).isRegular) return {{"id", id}, {"url", FileURLFromPath(cache)}};
  if (imaging::IsReadPermissionDenied(photoPath)) return {{"id", id}, {"error", kPreviewNoReadPermission}};
  return {{"id", id}, {"error", PathExists(photoPath) ? kPreviewUndecodable : kPreviewSourceMissing}};
}

}  // namespace tw::library
